// What differs between two archives or two sprite files, and the changed icons on a sheet.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "DiffListing.h"
#include "OutputRule.h"

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveVerify.h"
#include "archive/DiffSheet.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/PictureFiles.h"
#include "sprite/S16Format.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <memory>

namespace kivtool {

namespace {

using nlohmann::ordered_json;

ordered_json Cell(const kiv::SheetRect& cell) {
    if (cell.Width == 0 && cell.Height == 0)
        return nullptr;
    return {{"x", cell.X}, {"y", cell.Y}, {"width", cell.Width}, {"height", cell.Height}};
}

// One record a line: the pair's member (null for two sprite files), icon and cells (null
// where the icon is not on that side).
std::string RecordsText(const std::string& pathA, const std::string& pathB,
                        const kiv::DiffSheet& sheet) {
    std::string text = "{\"first\": " + ordered_json(pathA).dump() +
                       ", \"second\": " + ordered_json(pathB).dump() +
                       ", \"width\": " + std::to_string(sheet.Width) +
                       ", \"height\": " + std::to_string(sheet.Height) + ", \"pairs\": [\n";
    for (std::size_t k = 0; k < sheet.Pairs.size(); ++k) {
        const kiv::DiffSheetPair& pair = sheet.Pairs[k];
        const ordered_json record = {
            {"member", pair.Member.empty() ? ordered_json(nullptr) : ordered_json(pair.Member)},
            {"icon", pair.Icon},
            {"before", Cell(pair.Before)},
            {"after", Cell(pair.After)}};
        text += "  " + record.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
        text += k + 1 < sheet.Pairs.size() ? ",\n" : "\n";
    }
    return text + "]}\n";
}

// False after a message when the sheet or its records would be written over one of the
// files compared, or over each other.
bool SheetMayBeWritten(const Context& ctx, const std::string& pathA, const std::string& pathB,
                       const std::string& sheetPath) {
    const std::string records = SheetRecordsPath(sheetPath);
    for (const std::string& output : {sheetPath, records})
        for (const std::string& input : {pathA, pathB})
            if (kiv::SameFile(output, input)) {
                Fail(ctx, "Cannot write " + EscapedText(output) + ": that is " +
                              EscapedText(input) + ", one of the files compared.");
                return false;
            }
    if (records != sheetPath)
        return true;
    Fail(ctx, "The sheet " + EscapedText(sheetPath) +
                  " would be its own records; give it another extension, such as .png.");
    return false;
}

// Writes the sheet and its records under the output rule: an existing sheet or records that
// differ from what would be written keep both (false, after the line that says so) unless
// `force`; files that hold it already stay untouched.
bool WriteSheet(const Context& ctx, const std::string& pathA, const std::string& pathB,
                const std::string& sheetPath, const kiv::DiffSheet& sheet, bool force) {
    const std::string records = SheetRecordsPath(sheetPath);
    if (sheet.Pairs.empty()) {
        Err(ctx) << "No icons differ; no sheet written.\n";
        return true;
    }
    RuledOutput pictureOut(ctx, sheetPath, force);
    RuledOutput recordsOut(ctx, records, force);
    pictureOut.Lock();
    recordsOut.Lock();
    const std::vector<std::uint8_t> picture =
        PictureBytes(kiv::DrawDiffSheet(pathA, pathB, sheet), sheetPath);
    const std::string text = RecordsText(pathA, pathB, sheet);
    const OutputVerdict verdict = WriteTogether(pictureOut, picture, recordsOut, text);
    if (verdict == OutputVerdict::Kept)
        return false;
    if (verdict == OutputVerdict::Write)
        Err(ctx) << "Wrote " << EscapedText(sheetPath) << " and " << EscapedText(records) << ": "
                 << sheet.Pairs.size() << (sheet.Pairs.size() == 1 ? " icon.\n" : " icons.\n");
    return true;
}

} // namespace

int DiffCommand(const Context& ctx, const std::string& pathA, const std::string& pathB,
                const std::string& sheetPath, bool force) {
    return Guarded(
        ctx,
        [&] {
            std::string archiveFault[2], spriteFault[2];
            kiv::VerifiedKind kind[2];
            const std::string* paths[2] = {&pathA, &pathB};
            for (int k = 0; k < 2; ++k) {
                const std::string shown = EscapedText(*paths[k]);
                kind[k] = kiv::ClassifyFile(*paths[k], archiveFault[k], spriteFault[k]);
                if (kind[k] == kiv::VerifiedKind::Missing) {
                    FailOpen(ctx, "Could not open " + *paths[k], *paths[k]);
                    return ExitTrouble;
                }
                if (kind[k] == kiv::VerifiedKind::Neither) {
                    Fail(ctx, shown +
                                  " does not look like a sprite archive or a sprite file: as an "
                                  "archive, " +
                                  archiveFault[k] + "; as a sprite file, " + spriteFault[k]);
                    return ExitTrouble;
                }
            }
            if (kind[0] != kind[1]) {
                const auto what = [&](int k) {
                    return EscapedText(*paths[k]) + (kind[k] == kiv::VerifiedKind::Archive
                                                         ? " is an archive"
                                                         : " is a sprite file");
                };
                Fail(ctx, what(0) + " and " + what(1) +
                              ": diff compares two archives or two sprite files.");
                return ExitTrouble;
            }

            if (!sheetPath.empty() && !SheetMayBeWritten(ctx, pathA, pathB, sheetPath))
                return ExitTrouble;
            bool same = false;
            kiv::DiffSheet sheet;
            if (kind[0] == kiv::VerifiedKind::Archive) {
                const kiv::ArchiveDiff diff = kiv::DiffArchives(pathA, pathB);
                PrintArchiveDiff(ctx.out, diff);
                same = diff.Same();
                if (!sheetPath.empty())
                    sheet = kiv::LayOutDiffSheet(pathA, pathB, diff);
            } else {
                const kiv::SpriteDiff diff = kiv::DiffSprites(pathA, pathB);
                PrintSpriteDiff(ctx.out, diff, "");
                same = diff.Same();
                if (!sheetPath.empty())
                    sheet = kiv::LayOutDiffSheet(pathA, pathB, diff);
            }
            ctx.out.flush();
            // A kept sheet is exit 1, as every kept picture is (the files differ, too).
            if (!sheetPath.empty() && !WriteSheet(ctx, pathA, pathB, sheetPath, sheet, force))
                return ExitFailure;
            return same ? ExitOk : ExitFailure;
        },
        ExitTrouble);
}

} // namespace kivtool

namespace kivtool {

namespace {

struct DiffArgs {
    std::string First;
    std::string Second;
    std::string Sheet; // empty: no sheet
    bool Force = false;
};

} // namespace

void RegisterDiffCommand(CommandSet& set) {
    auto a = std::make_shared<DiffArgs>();
    CLI::App* sub = set.Add(
        "diff",
        "List what differs between two archives (members added, removed, moved, changed; for a "
        "changed sprite member, its icons: header, pixels or both, added or removed) or two "
        "sprite files. Exit status 0 when they are the same, 1 when they differ, 2 on trouble.",
        "kivtool diff Modgen.dat Newgen.dat --sheet changes.png",
        [a](const Context& c) { return DiffCommand(c, a->First, a->Second, a->Sheet, a->Force); });
    sub->add_option("A", a->First, "The first archive or sprite file")->required();
    sub->add_option("B", a->Second, "The second, of the same kind")->required();
    sub->add_option("--sheet", a->Sheet,
                    "Also write the icons that differ as before/after pairs on one sheet "
                    "(PNG with the key colour transparent; a bitmap unless it ends in .png), "
                    "with a record per pair (member, icon, cells) beside it, under its name "
                    "with the extension .json; an existing sheet or records that differ are kept "
                    "(exit 1) unless --force")
        ->type_name("OUT");
    sub->add_flag("--force", a->Force,
                  "Overwrite an existing sheet or records that differ from what would be written");
}

} // namespace kivtool
