// A whole sprite file as one sheet picture, with its records in a JSON file beside it.

#include "CommandSupport.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/IconSheet.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace kivtool {

namespace {

using nlohmann::json;

// Records of 1000 icons take well under this; a larger file is not one of ours.
constexpr std::int64_t kMaxRecordsBytes = 4 << 20;

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

int SheetExportCommand(const Context& ctx, const std::string& sprite, const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        if (table.Count < 1)
            return Fail(ctx, sprite + " holds no icons.");
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, kiv::SpriteFileNotFound);
        const kiv::SheetLayout layout = kiv::LayOutSheet(table);
        std::vector<int> endedEarly;
        const kiv::Image sheet = kiv::BuildSheet(*file, table, layout, &endedEarly);
        file.reset();
        for (int icon : endedEarly)
            Err(ctx) << "Warning: the data of icon " << icon
                     << " ends early; the rest of its frame is background.\n";

        const std::string records =
            RecordsText(std::filesystem::path(sprite).filename().string(), layout, table);
        kiv::SavePictureFile(sheet, outPath, kiv::BackColor);
        kiv::WriteWholeFile(SheetRecordsPath(outPath), records.data(), records.size());
        ctx.out << outPath << '\n' << SheetRecordsPath(outPath) << '\n';
        return ExitOk;
    });
}

int SheetImportCommand(const Context& ctx, const std::string& sprite, const std::string& sheetPath,
                       const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        const kiv::SheetLayout layout = kiv::LayOutSheet(table);
        if (const std::string fault = RecordsFault(SheetRecordsPath(sheetPath), layout, table);
            !fault.empty())
            return Fail(ctx, fault + " Nothing was written.");
        const kiv::Image sheet = kiv::LoadSheet(sheetPath, layout);
        const std::string out = outPath.empty() ? kiv::TwinName(table.Path) : outPath;
        const kiv::SheetImport import = kiv::ImportSheet(sheet, table, out);
        if (!import.Result.Ok)
            return Fail(ctx, import.Result.Message);
        for (int icon : import.Changed)
            ctx.out << "icon " << icon << '\n';
        Err(ctx) << "Wrote " << out << ": " << import.Changed.size() << " icons re-encoded.\n";
        return ExitOk;
    });
}

} // namespace kivtool
