#pragma once
// kivtool's commands: plain functions over core. Each writes its results to `out`, its
// messages to `err`, and returns the process exit status.

#include "archive/ArchiveNames.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kivtool {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1; // a failure the windows would report
constexpr int ExitUsage = 2;   // the command line itself is wrong
// For `diff`, as for cmp: 1 says the files differ, and trouble (a file that cannot be read
// or compared) is 2.
constexpr int ExitTrouble = 2;

struct Context {
    std::ostream& out;
    std::ostream& err;
    // Show a progress line on `err` during long work (set when stderr is a terminal).
    bool progress = false;
};

int ListCommand(const Context& ctx, const std::string& archive);
// `member` empty: `archive` is a sprite file, shown as a member of its own.
int HeadersCommand(const Context& ctx, const std::string& archive, const std::string& member);
// `outPath` empty: the member's name in the current folder.
// `force`, for every command that writes: replace an existing output that differs from what
// the command would write (kept, exit 1, otherwise).
int ExtractCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   const std::string& outPath, bool force = false);
// `twin` empty: the member's name with its last character changed to '7'.
int ReplaceCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   const std::string& twin, const std::string& outPath, bool force = false);
int TestCommand(const Context& ctx, const std::string& archive);
// Checks an archive, or a sprite file, deeply: one line per problem on `out`, exit 1 when any;
// otherwise one summary line.
int VerifyCommand(const Context& ctx, const std::string& path);
int PreviewCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   std::int64_t icon, const std::string& outPath, bool force = false);

int ShowCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& outPath, bool force = false);
int CollageCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                   const std::string& outPath, bool force = false);
// `outPath` empty: the sprite's path with its last character changed to '7'.
// `onTwin`: when the output (default: the twin) exists already, start from it rather than
// from `sprite`, so earlier re-encodes into it stay.
// `background` ("RRGGBB", or empty): a colour that counts as the background, as the
// background colour does (for a picture flattened onto it).
int ReencodeCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                    const std::string& picture, const std::string& outPath, bool onTwin = false,
                    bool force = false, const std::string& background = {});
// A picture that differs from what would be written is kept (exit 1) unless `force`.
// `format`: "bmp" or "png".
int ExportCommand(const Context& ctx, const std::string& sprite, const std::string& dir,
                  bool force = false, const std::string& format = "bmp");

// Lists what differs between two archives or two sprite files (told apart by their
// structure): exit 0 when they are the same, 1 when they differ, ExitTrouble otherwise.
// `sheetPath` not empty: the changed icons as before/after pairs on one sheet, its records
// beside it, under the rule of every picture output (an existing sheet or records that differ
// are kept, exit 1, unless `force`).
int DiffCommand(const Context& ctx, const std::string& pathA, const std::string& pathB,
                const std::string& sheetPath, bool force = false);

int DemoCommand(const Context& ctx, const std::string& dir, bool force = false);

// The picture a file manager shows for a sprite file or an archive, as a PNG of at most
// `size` x `size` pixels; a file that has none (damaged, foreign, or without an icon to show)
// writes nothing and fails. An existing empty output is replaced as a missing one.
int ThumbnailCommand(const Context& ctx, const std::string& input, const std::string& outPath,
                     int size, bool force = false);

// Batch work.
struct ExtractAllOptions {
    std::string Match; // shell-style pattern; empty: every member
    bool DryRun = false;
    bool Force = false; // overwrite files that differ from the member
};
int ExtractAllCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                      const ExtractAllOptions& options);

struct ReimportOptions {
    std::string OutPath = kiv::NewArchiveName;
    bool DryRun = false;
    bool Force = false;
    bool AllowLinks = false; // take symbolic and hard links in DIR (refused otherwise)
};
int ReimportCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                    const ReimportOptions& options);

struct ImportOptions {
    std::string OutPath; // empty: the sprite's path with its last character changed to '7'
    bool SkipBad = false;
    bool DryRun = false;
    bool OnTwin = false; // as reencode's `onTwin`
    bool Force = false;
    bool AllowLinks = false;     // as reimport's
    bool Verbose = false;        // list the unchanged pictures too
    std::string Background = {}; // RRGGBB: a colour that counts as the background; "": none
};
int ImportCommand(const Context& ctx, const std::string& sprite, const std::string& dir,
                  const ImportOptions& options);

// Mod files: what changed between two archives, shared without the game's own data.
struct ModCreateOptions {
    std::string OutPath;
    std::string Title;
    std::string Author;
    std::string Note;
    bool Force = false;
};
int ModCreateCommand(const Context& ctx, const std::string& base, const std::string& edited,
                     const ModCreateOptions& options);
struct ModApplyCommandOptions {
    std::string OutPath = kiv::NewArchiveName;
    bool SkipMismatched = false;
    bool PreferLast = false;
    bool SkipConflicting = false;
    bool Force = false;
};
int ModApplyCommand(const Context& ctx, const std::string& base,
                    const std::vector<std::string>& mods, const ModApplyCommandOptions& options);
int ModInfoCommand(const Context& ctx, const std::string& mod);

// Opens icon `icon` of `sprite` in the image editor (`program`, a command line; empty: the
// one in KIV_IMAGE_EDITOR, else the desktop's default) as a PNG in this process's work folder,
// and re-encodes each save into `outPath` (empty: the twin) as `reencode --on-twin` does, one
// line per save on `out`. Ends when the program ends or, where the desktop's default opened
// the file, at Enter or Ctrl+C; the work file is removed.
int EditCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& program, const std::string& outPath);

// The name `export` gives icon `number` of a sprite with this stem: stem_0007.bmp.
// With the extension ".png": stem_0007.png.
std::string ExportFileName(const std::string& stem, std::int64_t number,
                           const std::string& extension = ".bmp");

// The sprite file as one sheet picture (PNG or bitmap by the path's extension) with its
// records beside it: OUT with the extension ".json".
// `labels`: each icon's number in a gutter above its cell.
int SheetExportCommand(const Context& ctx, const std::string& sprite, const std::string& outPath,
                       bool force = false, bool labels = false);
// Re-encodes every icon whose cell of the sheet changed, in one rewrite (`outPath` empty:
// the sprite's path with its last character changed to '7'). The sheet's records (beside
// it, or `records`) must match the sprite file; with `force`, records of another state of
// it are taken as they stand. `background` as for ReencodeCommand.
int SheetImportCommand(const Context& ctx, const std::string& sprite, const std::string& sheet,
                       const std::string& outPath, bool onTwin = false, bool force = false,
                       bool allowLinks = false, const std::string& records = {},
                       const std::string& background = {});

} // namespace kivtool
