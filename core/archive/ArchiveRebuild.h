#pragma once
// The rebuild behind Replace, reimport and mods: the archive copied with members' bytes
// replaced, inserted or removed, its directory following the new sizes; and what these
// say when a file of theirs cannot be opened, read or written.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveNames.h"
#include "archive/OpResult.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class InFile;
class SafeFile;

// "Could not open modified s16 file (PATH)", "Could not open Main Data (PATH)", "Could not
// open New Data file (PATH)", "Could not read Main Data (PATH)", "Could not write New Data
// file (PATH)".
std::string CannotOpenTwin(const std::string& path);
std::string CannotOpenArchive(const std::string& path);
std::string CannotOpenNewArchive(const std::string& path);
std::string CannotReadArchive(const std::string& path);
std::string CannotWriteNewArchive(const std::string& path);

// The longest archive Replace and reimport write, so every end word stays a positive 32-bit
// signed value: 2 GiB - 1.
constexpr std::int64_t MaxArchiveLength = 0x7FFFFFFF;
// Why a rebuild of `newLength` bytes is refused, or "" when it fits MaxArchiveLength.
std::string ArchiveLengthRefusal(std::int64_t newLength);

// One change of a rebuild. Replace: listing row Row (1-based), whose bytes are
// [Start, Finish) of the archive, takes Length new bytes. The others change the directory
// too: Insert puts a new member of Length bytes, named by NameField, before row Row's member
// (Row = memberCount + 1: after the last one), with Start = Finish = where it goes; Remove
// drops row Row's member and its entry (Length 0); Gap gives the bytes between the directory
// and the first member, [Start, Finish), Length new bytes (Row 0); Tail the bytes after the
// last member, [Start, Finish) up to the archive's end (Row memberCount + 1).
// The new bytes come from the whole file at Path, Length bytes long when it was chosen, or,
// when Write is set, from Write itself: it appends exactly Length bytes to the output as it
// makes them (so a member of any size never has to be held whole) and returns "" or why it
// failed. With SetsField, a Replace also gives its member's directory entry NameField as
// its name field (an Insert always does).
struct MemberSource {
    enum class Edit { Replace, Insert, Remove, Gap, Tail };
    std::int32_t Row = 0;
    std::int64_t Start = 0;
    std::int64_t Finish = 0;
    std::string Path;
    std::int64_t Length = 0;
    Edit Kind = Edit::Replace;
    std::function<std::string(SafeFile& out)> Write = {};
    std::array<unsigned char, ArchiveNameSize> NameField = {};
    bool SetsField = false;
};

// The rebuild behind Replace, reimport and mods, in one pass: copies `archive` into `out`
// with each source's new bytes in place of the bytes it replaces. `sources` are in the order
// of the archive they make (at one place: the gap, then insertions, then the row's own change;
// the tail last) and their bytes do not overlap. When only members are replaced, the
// archive's bytes are copied as they are, then the end words of rows source.Row..memberCount
// are moved by the change in size of that member and every earlier one (the same as
// replacing the members one after another). When members are inserted or removed, the gap
// changes or a name field is set, the directory is written anew from the archive's own, with end
// words that follow the new sizes; that needs a plain archive (members back to back from the first
// start, every row within the count word). Source files are opened one at a time, when their turn
// comes. Returns the failure message when the archive or a source could not be read as
// measured; a failed write throws EWriteError. `written` hears the output's size after each
// piece. The caller commits `out`, after closing the inputs when the output may be one of
// them.
OpResult CopyRebuilt(const std::string& archivePath, InFile& archive, SafeFile& out,
                     const std::vector<MemberSource>& sources, std::int32_t memberCount,
                     const std::function<void(std::int64_t)>& written = {});

} // namespace kiv
