// kivtool: every operation of the archive browser and the sprite editor from the shell.
// This file only parses the command line; the commands live in Commands.h.

#include "AnimateCommand.h"
#include "CommandSupport.h"
#include "Commands.h"

#include "base/Platform.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Arguments {
    std::string archive;
    std::string member;
    std::string sprite;
    std::string picture;
    std::string dir;
    std::string out;
    std::string twin;
    std::string match;
    std::string format = "bmp";
    std::string edited;
    std::string with;
    std::vector<std::string> mods;
    std::string title;
    std::string author;
    std::string note;
    bool skipMismatched = false;
    bool preferLast = false;
    bool skipConflicting = false;
    std::int64_t icon = 0;
    bool dryRun = false;
    bool skipBad = false;
    bool force = false;
    bool onTwin = false;
    bool labels = false;
    bool verbose = false;
    std::string records;
    std::string background;
    bool allowLinks = false;
};

CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& description,
                     const std::string& example) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->footer("Example:\n  " + example);
    return sub;
}

void AddArchive(CLI::App* sub, Arguments& a) {
    sub->add_option("ARCHIVE", a.archive, "The data archive, such as Modgen.dat")->required();
}

void AddMember(CLI::App* sub, Arguments& a) {
    sub->add_option("MEMBER", a.member, "A member's name as listed, or #N for listing row N")
        ->required();
}

void AddSprite(CLI::App* sub, Arguments& a) {
    sub->add_option("SPRITE", a.sprite, "An S16 or S17 sprite file")->required();
}

void AddIcon(CLI::App* sub, Arguments& a) {
    // A number too large for the option would otherwise be cut to the largest one and then
    // reported as out of range under a number the user never typed.
    const CLI::Validator wholeNumber(
        [](std::string& text) {
            std::int64_t value = 0;
            const char* last = text.data() + text.size();
            const auto [end, ec] = std::from_chars(text.data(), last, value);
            if (ec == std::errc() && end == last)
                return std::string();
            return "an icon number such as 3 is needed, not " + text;
        },
        "", "icon number");
    sub->add_option("ICON", a.icon, "Icon number, from 1")->required()->check(wholeNumber);
}

// Every command that writes takes --force; what it overrides depends on the kind of output.
constexpr const char* kForceFile =
    "Overwrite an existing output that differs from what would be written (kept otherwise)";
constexpr const char* kForceRebuild =
    "Replace an existing output even when it holds changes this rebuild would drop (kept "
    "otherwise)";

// A mod is made only as it is written: an existing one is kept whatever it holds.
constexpr const char* kForceMod = "Overwrite an existing mod file (kept otherwise)";

void AddForce(CLI::App* sub, Arguments& a, const char* text) {
    sub->add_flag("--force", a.force, text);
}

// Folders from others are data: links in them are refused unless asked for.
void AddAllowLinks(CLI::App* sub, Arguments& a) {
    sub->add_flag("--allow-links", a.allowLinks,
                  "Take files that are symbolic links, or hard links (files with more than one "
                  "name), which may lead outside the folder (refused otherwise)");
}

void AddOnTwin(CLI::App* sub, Arguments& a) {
    sub->add_flag("--on-twin", a.onTwin,
                  "Build on the output file when it exists already (the twin an earlier "
                  "run wrote), so earlier changes stay; SPRITE is read only when it "
                  "does not");
}

void AddBackground(CLI::App* sub, Arguments& a) {
    const CLI::Validator colour(
        [](std::string& text) {
            try {
                kivtool::ColourOption(text);
                return std::string();
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        },
        "RRGGBB", "colour");
    sub->add_option("--background", a.background,
                    "A colour, RRGGBB, that counts as the background as the background colour "
                    "does: for a picture flattened onto it (FFFFFF for white)")
        ->check(colour);
}

// --help-all, and the manual page made from it, shows the arguments of every command,
// those of a command's own commands (`sheet export`) included.
class ExpandingFormatter : public CLI::Formatter {
public:
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override {
        return CLI::Formatter::make_subcommands(
            app, mode == CLI::AppFormatMode::Sub ? CLI::AppFormatMode::All : mode);
    }
};

} // namespace

int main(int argc, char** argv) {
    kiv::platform::EndOnTerminationRequests();
    CLI::App app{"kivtool: list, show, extract, test and rebuild a sprite data archive, and "
                 "show, export and re-encode the icons of S16 sprite files.",
                 "kivtool"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "kivtool " KIV_VERSION);
    // Every command's help in one text; the manual page is made from it.
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.formatter(std::make_shared<ExpandingFormatter>());
    app.footer("Run 'kivtool COMMAND --help' for a command's arguments and an example.\n"
               "Outputs: no command writes over one of its own inputs (the rebuilds in place\n"
               "excepted). An existing output that differs from what a command would write is\n"
               "kept (exit 1; a rebuild keeps it only when it holds changes the rebuild would\n"
               "drop) unless --force; one that is already the same is left untouched.\n"
               "Exit status: 0 success, 1 failure (the reason on stderr), 2 usage error; 130,\n"
               "143 or 129 when interrupted, terminated or hung up before the output was put\n"
               "in place (the earlier file and nothing else is left); a request that comes\n"
               "once it is in place waits for the run to finish.\n"
               "Example:\n  kivtool demo demo && kivtool list demo/Modgen.dat");

    Arguments a;
    std::vector<std::pair<CLI::App*, std::function<int(const kivtool::Context&)>>> commands;
    const auto add = [&](CLI::App* sub, std::function<int(const kivtool::Context&)> run) {
        commands.emplace_back(sub, std::move(run));
        return sub;
    };

    CLI::App* sub =
        add(AddCommand(app, "list",
                       "List the archive's members: '<N> Files', then "
                       "NAME<TAB>START<TAB>FINISH per member, offsets "
                       "in hexadecimal.",
                       "kivtool list Modgen.dat"),
            [&](const kivtool::Context& c) { return kivtool::ListCommand(c, a.archive); });
    AddArchive(sub, a);

    sub = add(
        AddCommand(app, "headers",
                   "Show the icon headers of an archive's member, or of a sprite file, as the "
                   "browser's header grid: 'Icons: <count>', then one line per row (Width ... "
                   "Pix Count) with one cell per icon.",
                   "kivtool headers Modgen.dat hero.s16"),
        [&](const kivtool::Context& c) { return kivtool::HeadersCommand(c, a.archive, a.member); });
    sub->add_option("FILE", a.archive, "The data archive, such as Modgen.dat, or a sprite file")
        ->required();
    sub->add_option("MEMBER", a.member,
                    "A member's name as listed, or #N for listing row N; left out when FILE is "
                    "a sprite file");

    sub = add(AddCommand(app, "extract",
                         "Copy a member's bytes to a file (default: its own name in the "
                         "current folder).",
                         "kivtool extract Modgen.dat hero.s16 -o hero.s16"),
              [&](const kivtool::Context& c) {
                  return kivtool::ExtractCommand(c, a.archive, a.member, a.out, a.force);
              });
    AddArchive(sub, a);
    AddMember(sub, a);
    sub->add_option("-o,--output", a.out, "Output file");
    AddForce(sub, a, kForceFile);

    sub = add(AddCommand(app, "replace",
                         "Write a new archive with one member replaced by its modified twin; "
                         "the end offsets of that member and every later one move by the "
                         "change in size. The output may be the archive itself, so "
                         "'kivtool replace Newgen.dat ...' keeps building on earlier changes.",
                         "kivtool replace Modgen.dat hero.s16 --twin hero.s17 -o Newgen.dat"),
              [&](const kivtool::Context& c) {
                  return kivtool::ReplaceCommand(c, a.archive, a.member, a.twin, a.out, a.force);
              });
    AddArchive(sub, a);
    AddMember(sub, a);
    sub->add_option("--twin", a.twin,
                    "The member's new bytes (default: the member's name with its last "
                    "character changed to '7')");
    sub->add_option("-o,--output", a.out, "The new archive (default: Newgen.dat)");
    AddForce(sub, a, kForceRebuild);

    sub = add(AddCommand(app, "test",
                         "Check every member: prints '<name> at <start> is bad!' for each "
                         "member whose header area does not end in a zero byte; exit status 1 "
                         "when any is bad.",
                         "kivtool test Modgen.dat"),
              [&](const kivtool::Context& c) { return kivtool::TestCommand(c, a.archive); });
    AddArchive(sub, a);

    sub = add(AddCommand(app, "verify",
                         "Check an archive or a sprite file (told apart by their structure) "
                         "deeply: the directory, and every icon of every member: its header, "
                         "where its data lie, and that it decodes within its data and its box. "
                         "One line per problem and exit status 1; otherwise one summary line.",
                         "kivtool verify Modgen.dat"),
              [&](const kivtool::Context& c) { return kivtool::VerifyCommand(c, a.archive); });
    sub->add_option("FILE", a.archive, "A data archive or an S16/S17 sprite file")->required();

    sub = add(AddCommand(app, "preview",
                         "Decode one icon of a member, as the browser previews it, into a "
                         "Windows bitmap.",
                         "kivtool preview Modgen.dat hero.s16 3 -o hero3.bmp"),
              [&](const kivtool::Context& c) {
                  return kivtool::PreviewCommand(c, a.archive, a.member, a.icon, a.out, a.force);
              });
    AddArchive(sub, a);
    AddMember(sub, a);
    AddIcon(sub, a);
    sub->add_option("-o,--output", a.out,
                    "Picture to write: PNG when it ends in .png, else a bitmap")
        ->required();
    AddForce(sub, a, kForceFile);

    sub = add(AddCommand(app, "show",
                         "Show one icon of a sprite file as the editor does and save the "
                         "picture as a Windows bitmap.",
                         "kivtool show hero.s16 3 -o hero3.bmp"),
              [&](const kivtool::Context& c) {
                  return kivtool::ShowCommand(c, a.sprite, a.icon, a.out, a.force);
              });
    AddSprite(sub, a);
    AddIcon(sub, a);
    sub->add_option("-o,--output", a.out,
                    "Picture to write: PNG when it ends in .png, else a bitmap")
        ->required();
    AddForce(sub, a, kForceFile);

    sub = add(AddCommand(app, "collage",
                         "Lay out a 642 x 482 page of icons from ICON on, as the editor's "
                         "Collage, save it as a Windows bitmap, and print the icon number the "
                         "editor holds afterwards (where the next page starts).",
                         "kivtool collage hero.s16 1 -o page1.bmp"),
              [&](const kivtool::Context& c) {
                  return kivtool::CollageCommand(c, a.sprite, a.icon, a.out, a.force);
              });
    AddSprite(sub, a);
    AddIcon(sub, a);
    sub->add_option("-o,--output", a.out,
                    "Picture to write: PNG when it ends in .png, else a bitmap")
        ->required();
    AddForce(sub, a, kForceFile);

    sub = add(AddCommand(app, "reencode",
                         "Re-encode a Windows bitmap into icon ICON and write the whole sprite "
                         "file again (default: SPRITE with its last character changed to '7').",
                         "kivtool reencode hero.s16 3 hero3.bmp -o hero.s17"),
              [&](const kivtool::Context& c) {
                  return kivtool::ReencodeCommand(c, a.sprite, a.icon, a.picture, a.out, a.onTwin,
                                                  a.force, a.background);
              });
    AddSprite(sub, a);
    AddIcon(sub, a);
    sub->add_option("PICTURE", a.picture, "The Windows bitmap to encode")->required();
    sub->add_option("-o,--output", a.out, "Sprite file to write");
    AddOnTwin(sub, a);
    AddBackground(sub, a);
    AddForce(sub, a, kForceRebuild);

    sub = add(AddCommand(app, "edit",
                         "Open icon ICON in your image editor as a PNG (the background "
                         "transparent, named as export names it, in a folder of this run's own) "
                         "and, each time it is saved, re-encode it into the twin as 'reencode "
                         "--on-twin' does: one line per save, and a save that changes nothing "
                         "writes nothing. The editor is --with, else the command line in "
                         "KIV_IMAGE_EDITOR (the file's path added at its end, or put in place of "
                         "%f; no shell runs it), else the desktop's default application. Ends "
                         "when that program exits or, for the desktop's default (which returns "
                         "at once), at Enter (or the end of the input); Ctrl+C ends it too. The "
                         "work file is then removed; exit status 0, or 1 when the last save "
                         "could not be re-encoded.",
                         "kivtool edit hero.s16 3 --with 'paint --new-window'"),
              [&](const kivtool::Context& c) {
                  return kivtool::EditCommand(c, a.sprite, a.icon, a.with, a.out);
              });
    AddSprite(sub, a);
    AddIcon(sub, a);
    sub->add_option("--with", a.with,
                    "The image editor's command line, as KIV_IMAGE_EDITOR takes it")
        ->type_name("PROGRAM");
    sub->add_option("-o,--output", a.out,
                    "The sprite file each save is re-encoded into (default: SPRITE with its "
                    "last character changed to '7'); the icon is taken from it when it exists");

    sub = add(AddCommand(app, "export",
                         "Show every icon and save each as DIR/<stem>_<NNNN>.bmp (NNNN the icon "
                         "number; .png with --format png); prints each file written.",
                         "kivtool export hero.s16 hero-icons --format png"),
              [&](const kivtool::Context& c) {
                  return kivtool::ExportCommand(c, a.sprite, a.dir, a.force, a.format);
              });
    AddSprite(sub, a);
    sub->add_option("DIR", a.dir, "Folder for the pictures (made when missing)")->required();
    sub->add_flag("--force", a.force,
                  "Overwrite pictures that differ from the icons (kept and listed otherwise)");
    sub->add_option("--format", a.format, "bmp (default) or png, the background transparent")
        ->check(CLI::IsMember({"bmp", "png"}));

    kivtool::AddAnimateCommand(app, add);

    CLI::App* sheet =
        AddCommand(app, "sheet", "Every icon of a sprite file on one transparent sheet, and back.",
                   "kivtool sheet export hero.s16 hero.png");
    sheet->require_subcommand(1);
    sub = add(AddCommand(*sheet, "export",
                         "Lay every icon's frame on one sheet (a grid, one cell per icon, in "
                         "icon order; PNG with the background transparent, or a bitmap) and "
                         "write its records, one per icon, to OUT with the extension .json.",
                         "kivtool sheet export hero.s16 hero.png"),
              [&](const kivtool::Context& c) {
                  return kivtool::SheetExportCommand(c, a.sprite, a.picture, a.force, a.labels);
              });
    AddSprite(sub, a);
    sub->add_option("OUT", a.picture, "The sheet to write, such as hero.png")->required();
    sub->add_flag("--labels", a.labels,
                  "Write each icon's number above its cell, in a gutter outside the cells");
    AddForce(sub, a, kForceFile);
    sub =
        add(AddCommand(*sheet, "import",
                       "Re-encode every icon whose cell of an edited sheet changed, in one "
                       "rewrite of the sprite file (default output: SPRITE with its last "
                       "character changed to '7'); the sheet's .json records must match.",
                       "kivtool sheet import hero.s16 hero.png -o hero.s17"),
            [&](const kivtool::Context& c) {
                return kivtool::SheetImportCommand(c, a.sprite, a.picture, a.out, a.onTwin, a.force,
                                                   a.allowLinks, a.records, a.background);
            });
    AddSprite(sub, a);
    sub->add_option("SHEET", a.picture, "The edited sheet")->required();
    sub->add_option("-o,--output", a.out, "Sprite file to write");
    sub->add_option("--records", a.records,
                    "The sheet's records (default: SHEET with the extension .json), for a sheet "
                    "saved under another name");
    AddOnTwin(sub, a);
    AddAllowLinks(sub, a);
    AddBackground(sub, a);
    sub->add_flag("--force", a.force,
                  "Replace an existing output even when it holds changes this rebuild would "
                  "drop, and take records of another state of the sprite file as they stand "
                  "(kept, refused otherwise)");

    sub = add(AddCommand(app, "diff",
                         "List what differs between two archives (members added, removed, "
                         "moved, changed; for a changed sprite member, its icons: header, "
                         "pixels or both, added or removed) or two sprite files. Exit status 0 "
                         "when they are the same, 1 when they differ, 2 on trouble.",
                         "kivtool diff Modgen.dat Newgen.dat --sheet changes.png"),
              [&](const kivtool::Context& c) {
                  return kivtool::DiffCommand(c, a.archive, a.picture, a.out, a.force);
              });
    sub->add_option("A", a.archive, "The first archive or sprite file")->required();
    sub->add_option("B", a.picture, "The second, of the same kind")->required();
    sub->add_option("--sheet", a.out,
                    "Also write the icons that differ as before/after pairs on one sheet "
                    "(PNG with the key colour transparent; a bitmap unless it ends in .png), "
                    "with a record per pair (member, icon, cells) beside it, under its name "
                    "with the extension .json; an existing sheet or records that differ are kept "
                    "(exit 1) unless --force")
        ->type_name("OUT");
    sub->add_flag("--force", a.force,
                  "Overwrite an existing sheet or records that differ from what would be written");

    sub = add(AddCommand(app, "demo",
                         "Write a demo archive DIR/Modgen.dat of procedurally drawn sprites "
                         "and print its path.",
                         "kivtool demo demo"),
              [&](const kivtool::Context& c) { return kivtool::DemoCommand(c, a.dir, a.force); });
    sub->add_option("DIR", a.dir, "Folder to write into (made when missing)")->required();
    AddForce(sub, a, kForceFile);

    int thumbnailSize = 128;
    sub = add(AddCommand(app, "thumbnail",
                         "Write the picture a file manager shows for a sprite file or a data "
                         "archive (told apart by their structure; for an archive, its first "
                         "sprite member with an icon to show): a PNG of at most SIZE x SIZE "
                         "pixels, transparent where the background is. It shows the first icon "
                         "whose box has pixels inside its frame, enlarged by the largest whole "
                         "factor that fits (each pixel a square block, never blurred) or, when "
                         "larger than SIZE, reduced to fit. When that icon is tiny (its longer "
                         "side at most SIZE/4) and more follow, a grid of up to 3 x 3 of the "
                         "first icons instead, as long as they are tiny too, each centred in its "
                         "cell. A damaged or foreign file, or one with no icon to show, writes "
                         "nothing and exits 1. Reads only INPUT and writes only OUTPUT (through "
                         "a temporary file and a lock beside it; an empty OUTPUT is written "
                         "over), with no need of a home folder or a display, as a thumbnailer "
                         "runs.",
                         "kivtool thumbnail -s 256 hero.s16 hero.png"),
              [&](const kivtool::Context& c) {
                  return kivtool::ThumbnailCommand(c, a.archive, a.out, thumbnailSize, a.force);
              });
    sub->add_option("-s,--size", thumbnailSize, "The largest side in pixels (default: 128)")
        ->check(CLI::Range(1, 1024));
    sub->add_option("INPUT", a.archive, "A sprite file or a data archive")->required();
    sub->add_option("OUTPUT", a.out, "The PNG to write")->required();
    AddForce(sub, a, kForceFile);

    sub = add(
        AddCommand(app, "extract-all",
                   "Extract every member (or those matching PATTERN) into DIR under its "
                   "own name; unsafe names are refused and reported, the rest go on.",
                   "kivtool extract-all Modgen.dat members --match '*.s16'"),
        [&](const kivtool::Context& c) {
            return kivtool::ExtractAllCommand(c, a.archive, a.dir, {a.match, a.dryRun, a.force});
        });
    AddArchive(sub, a);
    sub->add_option("DIR", a.dir, "Folder for the members (made when missing)")->required();
    sub->add_option("--match", a.match, "Shell-style pattern the names must match");
    sub->add_flag("--dry-run", a.dryRun, "Print what would be written, write nothing");
    sub->add_flag("--force", a.force,
                  "Overwrite files that differ from the members (kept and listed otherwise)");

    sub = add(AddCommand(app, "reimport",
                         "Rebuild the archive once, taking every member that has a file in "
                         "DIR from that file (NAME with its last character changed to '7' "
                         "first, then NAME) and every other member unchanged. The output may "
                         "be the archive itself.",
                         "kivtool reimport Modgen.dat members -o Newgen.dat"),
              [&](const kivtool::Context& c) {
                  kivtool::ReimportOptions options;
                  if (!a.out.empty())
                      options.OutPath = a.out;
                  options.DryRun = a.dryRun;
                  options.Force = a.force;
                  options.AllowLinks = a.allowLinks;
                  return kivtool::ReimportCommand(c, a.archive, a.dir, options);
              });
    AddArchive(sub, a);
    sub->add_option("DIR", a.dir, "Folder holding the edited members")->required();
    sub->add_option("-o,--output", a.out, "The new archive (default: Newgen.dat)");
    sub->add_flag("--dry-run", a.dryRun, "Print what would be written, write nothing");
    AddAllowLinks(sub, a);
    AddForce(sub, a, kForceRebuild);

    sub =
        add(AddCommand(app, "import",
                       "Re-encode every DIR/<stem>_<NNNN>.bmp or .png (as export names them) into "
                       "icon NNNN, in one rewrite of the sprite file (default output: SPRITE "
                       "with its last character changed to '7').",
                       "kivtool import hero.s16 hero-icons -o hero.s17"),
            [&](const kivtool::Context& c) {
                return kivtool::ImportCommand(c, a.sprite, a.dir,
                                              {a.out, a.skipBad, a.dryRun, a.onTwin, a.force,
                                               a.allowLinks, a.verbose, a.background});
            });
    AddSprite(sub, a);
    sub->add_option("DIR", a.dir, "Folder holding the edited pictures")->required();
    sub->add_option("-o,--output", a.out, "Sprite file to write");
    sub->add_flag("--skip-bad", a.skipBad, "Leave refused pictures out instead of writing nothing");
    sub->add_flag("--dry-run", a.dryRun, "Print what would be written, write nothing");
    sub->add_flag("--verbose", a.verbose, "List the unchanged pictures too");
    AddAllowLinks(sub, a);
    AddOnTwin(sub, a);
    AddBackground(sub, a);
    AddForce(sub, a, kForceRebuild);

    CLI::App* mod = AddCommand(app, "mod",
                               "Mod files (.kivmod): only what changed between two archives, "
                               "to share without the game's own data, and to apply several at "
                               "once.",
                               "kivtool mod create Modgen.dat Newgen.dat -o hero.kivmod");
    mod->require_subcommand(1);
    sub = add(AddCommand(*mod, "create",
                         "Write a mod holding what changed from BASE to NEW: changed icons "
                         "(each compressed against its old bytes), other changed, added and "
                         "removed members whole, moved members, and bytes outside members. The mod "
                         "is read back as 'mod apply' reads it before it is put in place.",
                         "kivtool mod create Modgen.dat Newgen.dat -o hero.kivmod --title "
                         "'Red hero'"),
              [&](const kivtool::Context& c) {
                  return kivtool::ModCreateCommand(c, a.archive, a.edited,
                                                   {a.out, a.title, a.author, a.note, a.force});
              });
    sub->add_option("BASE", a.archive, "The archive the mod is made from, such as Modgen.dat")
        ->required();
    sub->add_option("NEW", a.edited, "The changed archive, such as Newgen.dat")->required();
    sub->add_option("-o,--output", a.out, "The mod file to write, such as hero.kivmod")->required();
    sub->add_option("--title", a.title, "The mod's title");
    sub->add_option("--author", a.author, "Who made it");
    sub->add_option("--note", a.note, "A note for its users");
    AddForce(sub, a, kForceMod);

    sub = add(AddCommand(*mod, "apply",
                         "Write a new archive: BASE with the mods applied, in the order given, in "
                         "one pass. A change applies where BASE holds what the mod was made "
                         "from; otherwise, or where two mods change the same thing "
                         "differently, nothing is written and each case is listed.",
                         "kivtool mod apply Modgen.dat hero.kivmod coins.kivmod -o Newgen.dat"),
              [&](const kivtool::Context& c) {
                  kivtool::ModApplyCommandOptions options;
                  if (!a.out.empty())
                      options.OutPath = a.out;
                  options.SkipMismatched = a.skipMismatched;
                  options.PreferLast = a.preferLast;
                  options.SkipConflicting = a.skipConflicting;
                  options.Force = a.force;
                  return kivtool::ModApplyCommand(c, a.archive, a.mods, options);
              });
    AddArchive(sub, a);
    sub->add_option("MOD", a.mods, "Mod files, applied in this order")->required();
    sub->add_option("-o,--output", a.out, "The new archive (default: Newgen.dat)");
    sub->add_flag("--skip-mismatched", a.skipMismatched,
                  "Leave out the members a mod was not made for and write the rest");
    sub->add_flag("--prefer-last", a.preferLast,
                  "Where two mods change the same thing differently, take the later one's");
    sub->add_flag("--skip-conflicting", a.skipConflicting,
                  "Where two mods change the same thing differently, keep the earlier one's "
                  "and leave the later one's out");
    AddForce(sub, a, kForceRebuild);

    sub = add(AddCommand(*mod, "info",
                         "Print a mod's title, author, note (bytes that could act on a terminal "
                         "shown as \\xNN) and format version, and what it changes, listed as "
                         "'diff' lists two archives.",
                         "kivtool mod info hero.kivmod"),
              [&](const kivtool::Context& c) { return kivtool::ModInfoCommand(c, a.archive); });
    sub->add_option("MOD", a.archive, "A mod file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kivtool: " << e.what() << "\n\n" << app.help();
        return kivtool::ExitUsage;
    }

    const kivtool::Context context{std::cout, std::cerr, kiv::platform::ErrorStreamIsTerminal()};
    for (const auto& [command, run] : commands) {
        if (command->parsed()) {
            const int status = run(context);
            std::cout.flush();
            return status;
        }
    }
    return kivtool::ExitUsage;
}
