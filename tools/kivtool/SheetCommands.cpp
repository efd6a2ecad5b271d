// A whole sprite file as one sheet picture, with its records in a JSON file beside it.

#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/IconSheet.h"

#include <nlohmann/json.hpp>

namespace kivtool {

namespace {

using nlohmann::json;

// Records of 1000 icons take well under this; a larger file is not one of ours.
constexpr std::int64_t kMaxRecordsBytes = 4 << 20;

// False, after a failure line, when the sheet's records would be the sheet itself.
bool RecordsApart(const Context& ctx, const std::string& sheet) {
    const std::string records = SheetRecordsPath(sheet);
    if (records != sheet && !kiv::SameFile(records, sheet))
        return true;
    Fail(ctx, "Cannot use " + PrintableName(sheet) +
                  " as a sheet: its records would be the same file; nothing was written.");
    return false;
}

std::vector<std::int32_t> Words(const kiv::TIconHeader& header) {
    std::vector<std::int32_t> words;
    for (int j = 1; j <= 10; ++j)
        words.push_back(header.Word(j));
    return words;
}

// Written in this order, so a record reads as "icon N at x, y, w x h, header".
nlohmann::ordered_json Record(const kiv::SheetCell& cell, const kiv::TIconHeader& header) {
    return {{"icon", cell.Icon},   {"x", cell.X},           {"y", cell.Y},
            {"width", cell.Width}, {"height", cell.Height}, {"header", Words(header)}};
}

// Whether a record read back describes this cell and header, whatever its keys' order.
bool Matches(const json& record, const kiv::SheetCell& cell, const kiv::TIconHeader& header) {
    return record.is_object() && record.value("icon", -1) == cell.Icon &&
           record.value("x", -1) == cell.X && record.value("y", -1) == cell.Y &&
           record.value("width", -1) == cell.Width && record.value("height", -1) == cell.Height &&
           record.contains("header") && record["header"] == json(Words(header));
}

// One record a line, so a modder can read and compare them.
std::string RecordsText(const std::string& sprite, const kiv::SheetLayout& layout,
                        const kiv::TIconTable& table) {
    std::string text = "{\"sprite\": " + json(sprite).dump() +
                       ", \"width\": " + std::to_string(layout.Width) +
                       ", \"height\": " + std::to_string(layout.Height) + ", \"icons\": [\n";
    for (std::size_t k = 0; k < layout.Cells.size(); ++k) {
        const kiv::SheetCell& cell = layout.Cells[k];
        text += "  " + Record(cell, table.Headers[static_cast<std::size_t>(cell.Icon - 1)]).dump();
        text += k + 1 < layout.Cells.size() ? ",\n" : "\n";
    }
    return text + "]}\n";
}

// Why the records do not describe this sprite file and its sheet, or "" when they do.
std::string RecordsFault(const std::string& path, const kiv::SheetLayout& layout,
                         const kiv::TIconTable& table) {
    const std::unique_ptr<kiv::InFile> file = kiv::InFile::Open(path);
    if (!file)
        return "Cannot open file " + path + ": the sheet's records are needed beside it.";
    if (file->Length() > kMaxRecordsBytes)
        return path + " is too large to be a sheet's records.";
    std::string text(static_cast<std::size_t>(file->Length()), '\0');
    text.resize(file->Read(text.data(), text.size()));
    const json records = json::parse(text, nullptr, false);
    if (records.is_discarded() || !records.is_object() || !records.contains("icons") ||
        !records["icons"].is_array())
        return path + " is not a sheet's records.";
    try {
        if (records.value("width", -1) != layout.Width ||
            records.value("height", -1) != layout.Height ||
            records["icons"].size() != layout.Cells.size())
            return path + " describes a sheet of another sprite file.";
        for (std::size_t k = 0; k < layout.Cells.size(); ++k) {
            const kiv::SheetCell& cell = layout.Cells[k];
            if (!Matches(records["icons"][k], cell,
                         table.Headers[static_cast<std::size_t>(cell.Icon - 1)]))
                return path + ": the record of icon " + std::to_string(cell.Icon) +
                       " does not match the sprite file.";
        }
    } catch (const json::exception&) {
        return path + " describes a sheet of another sprite file.";
    }
    return "";
}

} // namespace

int SheetExportCommand(const Context& ctx, const std::string& sprite, const std::string& outPath,
                       bool force) {
    return Guarded(ctx, [&] {
        const std::string recordsPath = SheetRecordsPath(outPath);
        const std::string what = "the sprite file it is read from";
        if (!RecordsApart(ctx, outPath) || !NotItsInput(ctx, outPath, sprite, what) ||
            !NotItsInput(ctx, recordsPath, sprite, what))
            return ExitFailure;
        kiv::OutputLock pictureLock(outPath);
        kiv::OutputLock recordsLock(recordsPath);
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        if (table.Count < 1)
            return Fail(ctx, sprite + " holds no icons.");
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, kiv::SpriteFileNotFound);
        pictureLock.Watch(file->Stamp());
        recordsLock.Watch(file->Stamp());
        const kiv::SheetLayout layout = kiv::LayOutSheet(table);
        std::vector<int> endedEarly;
        const kiv::Image sheet = kiv::BuildSheet(*file, table, layout, &endedEarly);
        file.reset();
        for (int icon : endedEarly)
            Err(ctx) << "Warning: the data of icon " << icon
                     << " ends early; the rest of its frame is background.\n";

        const std::string records = RecordsText(FileNameOf(sprite), layout, table);
        const std::vector<std::uint8_t> picture = PictureBytes(sheet, outPath);
        // The sheet and its records go together: either is kept, neither is written.
        int pictureStatus = ExitOk, recordsStatus = ExitOk;
        const bool writePicture = ShouldWrite(
            ctx, pictureLock, outPath, force,
            [&] { return CompareExisting(outPath, picture.data(), picture.size()); },
            pictureStatus);
        const bool writeRecords = ShouldWrite(
            ctx, recordsLock, recordsPath, force,
            [&] { return CompareExisting(recordsPath, records.data(), records.size()); },
            recordsStatus);
        if (pictureStatus != ExitOk || recordsStatus != ExitOk)
            return ExitFailure;
        if (writePicture)
            kiv::WriteWholeFile(outPath, picture.data(), picture.size());
        if (writeRecords)
            kiv::WriteWholeFile(recordsPath, records.data(), records.size());
        ctx.out << outPath << '\n' << recordsPath << '\n';
        return ExitOk;
    });
}

int SheetImportCommand(const Context& ctx, const std::string& sprite, const std::string& sheetPath,
                       const std::string& outPath, bool onTwin, bool force) {
    return Guarded(ctx, [&] {
        const std::string recordsPath = SheetRecordsPath(sheetPath);
        if (!RecordsApart(ctx, sheetPath))
            return ExitFailure;
        // A sheet may come from someone else's folder: it is read only where it lies.
        const std::string sheetFolder =
            sheetPath.substr(0, sheetPath.size() - FileNameOf(sheetPath).size());
        for (const std::string& path : {sheetPath, recordsPath})
            if (const std::string fault = kiv::ForeignFileFault(sheetFolder, path); !fault.empty())
                return Fail(ctx, PrintableName(path) + " is refused: " + fault +
                                     "; nothing was written.");
        const std::string target = outPath.empty() ? kiv::TwinName(sprite) : outPath;
        if (!NotItsInput(ctx, target, sheetPath, "the sheet it is read from") ||
            !NotItsInput(ctx, target, recordsPath, "the sheet's records") ||
            !NotTheSpriteUnlessInPlace(ctx, target, sprite, onTwin))
            return ExitFailure;
        kiv::OutputLock lock(target);
        const std::string source = BuildingSource(ctx, sprite, target, onTwin);
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, source, table))
            return ExitFailure;
        const kiv::SheetLayout layout = kiv::LayOutSheet(table);
        lock.Watch(kiv::StampOf(recordsPath));
        lock.Watch(kiv::StampOf(sheetPath));
        if (const std::string fault = RecordsFault(recordsPath, layout, table); !fault.empty())
            return Fail(ctx, fault + " Nothing was written.");
        const kiv::Image sheet = kiv::LoadPictureFile(sheetPath, kiv::BackColor);
        std::vector<std::string> buildsOn{"sheet", "import", "--on-twin", sprite, sheetPath};
        if (!outPath.empty())
            buildsOn.insert(buildsOn.end(), {"-o", outPath});
        const kiv::SheetImport import =
            kiv::ImportSheet(sheet, table, target, [&](const std::vector<int>& changed) {
                return force || JudgeSpriteRebuild(ctx, lock, source, target,
                                                   {changed.begin(), changed.end()},
                                                   buildsOn) != RebuildVerdict::Kept;
            });
        if (!import.Result.Ok && import.Result.Message.empty())
            return ExitFailure; // kept, and said why
        if (!import.Result.Ok)
            return FailWrite(ctx, import.Result.Message, import.Result.Fault);
        for (int icon : import.Changed)
            ctx.out << "icon " << icon << '\n';
        if (import.Result.UpToDate)
            SayUpToDate(ctx, target);
        else
            Err(ctx) << "Wrote " << target << ": " << import.Changed.size()
                     << " icons re-encoded.\n";
        return ExitOk;
    });
}

} // namespace kivtool
