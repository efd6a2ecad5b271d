// A whole sprite file as one sheet picture, with its records in a JSON file beside it.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "sprite/IconEncoder.h"
#include "sprite/IconSheet.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace kivtool {

namespace {

// False, after a failure line, when the sheet's records would be the sheet itself.
bool RecordsApart(const Context& ctx, const std::string& sheet) {
    const std::string records = SheetRecordsPath(sheet);
    if (records != sheet && !kiv::SameFile(records, sheet))
        return true;
    Fail(ctx, "Cannot use " + EscapedText(sheet) +
                  " as a sheet: its records would be the same file; nothing was written.");
    return false;
}

// The folder part of a path, "" for a bare name.
std::string FolderOf(const std::string& path) {
    return path.substr(0, path.size() - FileNameOf(path).size());
}

} // namespace

int SheetExportCommand(const Context& ctx, const std::string& sprite, const std::string& outPath,
                       bool force, bool labels) {
    return Guarded(ctx, [&] {
        const std::string recordsPath = SheetRecordsPath(outPath);
        const std::string what = "the sprite file it is read from";
        RuledOutput pictureOut(ctx, outPath, force);
        RuledOutput recordsOut(ctx, recordsPath, force);
        if (!RecordsApart(ctx, outPath) || !pictureOut.NotInput(sprite, what) ||
            !recordsOut.NotInput(sprite, what))
            return ExitFailure;
        if (const std::string folder = FolderOf(outPath);
            !folder.empty() && !MakeFolder(ctx, folder))
            return ExitFailure;
        pictureOut.Lock();
        recordsOut.Lock();
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        if (table.Count < 1)
            return Fail(ctx, sprite + " holds no icons.");
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, kiv::SpriteFileNotFound);
        pictureOut.Watch(file->Stamp());
        recordsOut.Watch(file->Stamp());
        const kiv::SheetExport sheet = kiv::MakeSheetExport(*file, table, outPath, labels);
        file.reset();
        for (const std::string& line : sheet.Warnings)
            Err(ctx) << line << '\n';

        // The sheet and its records go together: either is kept, neither is written.
        if (WriteTogether(pictureOut, sheet.Picture, recordsOut, sheet.Records) ==
            OutputVerdict::Kept)
            return ExitFailure;
        ctx.out << outPath << '\n' << recordsPath << '\n';
        return ExitOk;
    });
}

namespace {

// False, after a failure line, when the sheet and its records cannot be read as they are
// named: the records would be the sheet itself, or either is refused where it lies.
bool SheetInputsUsable(const Context& ctx, const std::string& sheetPath, const std::string& records,
                       const std::string& recordsPath, bool allowLinks) {
    if (records.empty() ? !RecordsApart(ctx, sheetPath)
                        : (records == sheetPath || kiv::SameFile(records, sheetPath))) {
        if (!records.empty())
            Fail(ctx, "Cannot use " + EscapedText(records) + " as the records of " +
                          EscapedText(sheetPath) +
                          ": that is the sheet itself; nothing was written.");
        return false;
    }
    // A sheet may come from someone else's folder: it is read only where it lies, and so
    // are records named apart from it.
    for (const std::string& path : {sheetPath, recordsPath})
        if (const std::string fault = kiv::ForeignFileFault(FolderOf(path), path, allowLinks);
            !fault.empty()) {
            Fail(ctx, EscapedText(path) + " is refused: " + fault + "; nothing was written.");
            return false;
        }
    return true;
}

// True, after the failure line, when the import was refused for its records: they did not
// open, or they are of this sprite file (or the one it was built from) as it was before.
bool RecordsRefused(const Context& ctx, const kiv::SheetImport& import,
                    const std::string& recordsPath, const std::string& source,
                    const std::string& sprite) {
    const kiv::RecordsCheck& check = import.Records;
    if (import.Result.Ok || import.Result.Message.empty())
        return false;
    const std::string name = FileNameOf(source);
    if (check.Verdict == kiv::RecordsVerdict::CannotOpen) {
        Fail(ctx, "Cannot open file " + EscapedText(recordsPath) +
                      ": the sheet's records are needed; --records FILE names them when the "
                      "sheet was saved under another name. Nothing was written.");
        return true;
    }
    // A sheet of this sprite file, or of the file it was built from, whose frames or
    // headers are not this file's any more.
    if (check.Verdict != kiv::RecordsVerdict::OtherSheet || !check.Whole ||
        (check.Sprite != name && check.Sprite != FileNameOf(sprite)))
        return false;
    Fail(ctx, EscapedText(recordsPath) + ": the sheet was exported from " +
                  EscapedText(check.Sprite) + (check.Sprite == name ? " before a change" : "") +
                  "; " + EscapedText(name) +
                  (check.DiffersAt > 0 ? " differs in icon " + std::to_string(check.DiffersAt)
                                       : std::string(" has other frames")) +
                  ": export from " + EscapedText(name) + ", or --force. Nothing was written.");
    return true;
}

// A sheet with no transparent pixel that looks flattened onto one colour grew the boxes of
// these icons.
void WarnFlattened(const Context& ctx, const std::string& sheetPath,
                   const kiv::SheetImport& import) {
    if (!import.FlattenedOnto || import.Grown.empty())
        return;
    const std::string colour = ColourText(*import.FlattenedOnto);
    std::vector<std::string> icons;
    for (int icon : import.Grown)
        icons.push_back(std::to_string(icon));
    Err(ctx) << "Warning: " << EscapedText(sheetPath)
             << " has no transparent pixel, though it was written with them: it looks "
                "flattened onto "
             << colour << " (the colour of its corners), and the "
             << (icons.size() == 1 ? "box of icon " : "boxes of icons ") << kiv::JoinedList(icons)
             << (icons.size() == 1 ? " grows" : " grow") << " to take it in; --background "
             << colour << " reads that colour as the background.\n";
}

} // namespace

int SheetImportCommand(const Context& ctx, const std::string& sprite, const std::string& sheetPath,
                       const std::string& outPath, bool onTwin, bool force, bool allowLinks,
                       const std::string& records, const std::string& background) {
    return GuardedOutput(ctx, kiv::CannotOpenOutputFile, [&] {
        kiv::SheetImportOptions options;
        options.Background = ColourOption(background);
        options.RecordsPath = records.empty() ? SheetRecordsPath(sheetPath) : records;
        const std::string& recordsPath = options.RecordsPath;
        if (!SheetInputsUsable(ctx, sheetPath, records, recordsPath, allowLinks))
            return ExitFailure;
        const std::string target = outPath.empty() ? kiv::TwinName(sprite) : outPath;
        RuledOutput out(ctx, target, force);
        if (!out.NotInput(sheetPath, "the sheet it is read from") ||
            !out.NotInput(recordsPath, "the sheet's records") ||
            !NotTheSpriteUnlessInPlace(out, sprite, onTwin))
            return ExitFailure;
        out.Lock();
        const std::string source = BuildingSource(ctx, sprite, target, onTwin);
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, source, table))
            return ExitFailure;
        // With --force, records of a sheet exported from this sprite file or its twin before
        // a change are taken as they stand; those of another file never are.
        if (force)
            options.TrustedSprites = {FileNameOf(sprite), FileNameOf(source)};
        out.Watch(kiv::StampOf(recordsPath));
        out.Watch(kiv::StampOf(sheetPath));
        std::vector<std::string> buildsOn{"sheet", "import", "--on-twin", sprite, sheetPath};
        if (!outPath.empty())
            buildsOn.insert(buildsOn.end(), {"-o", outPath});
        if (!records.empty())
            buildsOn.insert(buildsOn.end(), {"--records", records});
        if (!background.empty())
            buildsOn.insert(buildsOn.end(), {"--background", background});
        const kiv::SheetImport import = kiv::ImportSheet(
            sheetPath, table, target,
            [&](const std::vector<int>& changed) {
                return out.CompareRebuild([&](kiv::OutputLock& lock) {
                    return JudgeSpriteRebuild(ctx, lock, source, target,
                                              {changed.begin(), changed.end()}, buildsOn);
                }) != OutputVerdict::Kept;
            },
            options);
        if (RecordsRefused(ctx, import, recordsPath, source, sprite))
            return ExitFailure;
        WarnFlattened(ctx, sheetPath, import);
        for (const std::string& line : import.Warnings)
            Err(ctx) << line << '\n';
        if (!import.Result.Ok && import.Result.Message.empty())
            return ExitFailure; // kept, and said why
        if (!import.Result.Ok)
            return FailWrite(ctx, import.Result.Message, import.Result.Fault);
        for (int icon : import.Changed)
            ctx.out << "icon " << icon << '\n';
        if (import.Result.UpToDate)
            SayUpToDate(ctx, target);
        else
            Err(ctx) << "Wrote " << target << ": "
                     << ReencodedCounts(import.Changed.size(),
                                        static_cast<std::size_t>(table.Count) -
                                            import.Changed.size())
                     << ".\n";
        return ExitOk;
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct SheetExportArgs {
    std::string Sprite;
    std::string Out; // the sheet; its records beside it
    bool Labels = false;
    bool Force = false;
};
struct SheetImportArgs {
    std::string Sprite;
    std::string Sheet;
    std::string Out;
    std::string Records;
    bool OnTwin = false;
    bool AllowLinks = false;
    std::string Background;
    bool Force = false;
};

void RegisterSheetExport(CommandSet& set, CLI::App* sheet) {
    auto a = std::make_shared<SheetExportArgs>();
    CLI::App* sub = set.Add(
        "export",
        "Lay every icon's frame on one sheet (a grid, one cell per icon, in icon order; PNG "
        "with the background transparent, or a bitmap) and write its records, one per icon, "
        "to OUT with the extension .json.",
        "kivtool sheet export hero.s16 hero.png",
        [a](const Context& c) {
            return SheetExportCommand(c, a->Sprite, a->Out, a->Force, a->Labels);
        },
        sheet);
    AddSprite(sub, a->Sprite);
    sub->add_option("OUT", a->Out, "The sheet to write, such as hero.png")->required();
    sub->add_flag("--labels", a->Labels,
                  "Write each icon's number above its cell, in a gutter outside the cells");
    AddForce(sub, a->Force, kForceFile);
}

void RegisterSheetImport(CommandSet& set, CLI::App* sheet) {
    auto a = std::make_shared<SheetImportArgs>();
    CLI::App* sub = set.Add(
        "import",
        "Re-encode every icon whose cell of an edited sheet changed, in one rewrite of the "
        "sprite file (default output: SPRITE with its last character changed to '7'); the "
        "sheet's .json records must match.",
        "kivtool sheet import hero.s16 hero.png -o hero.s17",
        [a](const Context& c) {
            return SheetImportCommand(c, a->Sprite, a->Sheet, a->Out, a->OnTwin, a->Force,
                                      a->AllowLinks, a->Records, a->Background);
        },
        sheet);
    AddSprite(sub, a->Sprite);
    sub->add_option("SHEET", a->Sheet, "The edited sheet")->required();
    sub->add_option("-o,--output", a->Out, "Sprite file to write");
    sub->add_option("--records", a->Records,
                    "The sheet's records (default: SHEET with the extension .json), for a sheet "
                    "saved under another name");
    AddOnTwin(sub, a->OnTwin);
    AddAllowLinks(sub, a->AllowLinks);
    AddBackground(sub, a->Background);
    sub->add_flag("--force", a->Force,
                  "Replace an existing output even when it holds changes this rebuild would "
                  "drop, and take records of another state of the sprite file as they stand "
                  "(kept, refused otherwise)");
}

} // namespace

void RegisterSheetCommands(CommandSet& set) {
    CLI::App* sheet =
        set.AddGroup("sheet", "Every icon of a sprite file on one transparent sheet, and back.",
                     "kivtool sheet export hero.s16 hero.png");
    RegisterSheetExport(set, sheet);
    RegisterSheetImport(set, sheet);
}

} // namespace kivtool
