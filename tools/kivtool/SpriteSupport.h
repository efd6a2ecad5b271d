#pragma once
// Loading a sprite file's table as the editor's Load S16 does.

#include "Commands.h"

#include "sprite/PictureFiles.h"
#include "sprite/S16Format.h"

#include <optional>

namespace kivtool {

class RuledOutput;

// Reads the table; "Could not open <path>" when the file does not open, and the warning
// "Maximum icons exceeded! Do NOT edit" (then goes on) when the count is above 1000.
bool LoadTableOrFail(const Context& ctx, const std::string& sprite, kiv::TIconTable& table);

// False, after "SPRITE does not look like a sprite file: <reason>", when the whole file
// cannot be one; true also when it does not open (the command reports that itself).
bool SpriteFileLooksRight(const Context& ctx, const std::string& sprite);

// Warnings about a picture re-encoded into icon `icon` (1-based) whose header is `header`:
// a size other than the icon's frame, and what taking it did to its pixels.
void WarnAboutPicture(const Context& ctx, const std::string& path, const kiv::Image& picture,
                      const kiv::PixelChanges& changes, const kiv::TIconHeader& header,
                      std::int64_t icon);

// A bitmap or PNG file; an invalid one is an error naming `path`.
kiv::PictureFile LoadPicture(const std::string& path);

// True when `icon` is a 1-based icon number of the table; otherwise a failure line.
bool IconInRange(const Context& ctx, const kiv::TIconTable& table, std::int64_t icon);

// The file a rebuild of `sprite` into `target` starts from: with `onTwin`, the target when
// it exists already (said on stderr: "Building on X."), so earlier changes in it stay;
// otherwise the sprite file.
std::string BuildingSource(const Context& ctx, const std::string& sprite, const std::string& target,
                           bool onTwin);
// The same without a word on stderr.
std::string BuildingSourceOf(const std::string& sprite, const std::string& target, bool onTwin);

// One picture re-encoded into one icon, as `reencode` does it.
struct ReencodeRequest {
    std::string Sprite;
    std::int64_t Icon = 0;
    std::string PicturePath; // the picture's file, read unless Picture is given
    std::string OutPath;     // empty: the twin
    bool OnTwin = false;
    bool Force = false;
    const kiv::PictureFile* Picture = nullptr; // the picture as read already from PicturePath
    bool Quiet = false; // no "Building on" or "is up to date" line: the caller says it
    // A colour that counts as the background, as the background colour does.
    std::optional<kiv::TColor> Background = std::nullopt;
};
enum class ReencodeOutcome { Written, UpToDate, Failed };
// Re-encodes under the output rule; `status` is the exit status it comes to. Failure lines are
// written here; errors of core escape (run it inside Guarded).
ReencodeOutcome ReencodeOne(const Context& ctx, const ReencodeRequest& request, int& status);

// False, after a failure line, when `target` is the sprite file itself and that is not a
// rebuild in place (the sprite file's name ends in '7', or the command builds on the twin).
bool NotTheSpriteUnlessInPlace(const RuledOutput& target, const std::string& sprite, bool onTwin);

} // namespace kivtool
