#pragma once
// Extract, Replace and Test on the current archive. Each takes the member's name and its
// offsets as the listing shows them (offset texts, parsed as hex with "$" put in front, so a
// title row gives the conversion error exactly where the browser's handler meets it).
// Nothing here shows anything: failures come back as the message texts the windows show,
// and conversion errors as EConvertError.

#include "archive/ArchiveDirectory.h"
#include "base/Errors.h"
#include "sprite/S16Format.h" // TwinName

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class InFile;
class SafeFile;

// One listing row, as its cells read.
struct ArchiveRow {
    std::string Name;
    std::string StartText;
    std::string FinishText;
    static ArchiveRow FromEntry(const TArchiveEntry& entry) {
        return {entry.Name, OffsetText(entry.Start), OffsetText(entry.Finish)};
    }
};

struct OpResult {
    bool Ok = true;
    std::string Message; // the text for the message box when !Ok
    // A file could not be created or written (a failure, not a refusal): the file or folder
    // and the system's words for why; the windows show only Message.
    bool WriteFailed = false;
    WriteFault Fault;
};

// Why a member name may not be used as a file name in the current folder, or "" when it
// may: empty, ".", "..", absolute, with a path separator, a drive prefix or a control
// character.
std::string UnsafeNameReason(const std::string& name);

// Extract's refusals, shared with anything that says beforehand what Extract would do.
// "Cannot extract member "NAME": REASON." when the name may not be used as a file name in
// the current folder (see UnsafeNameReason), else "".
std::string UnsafeNameRefusal(const std::string& name);
// Why the member named `name`, bytes [start, finish) of the archive at `archivePath` that is
// `archiveLength` bytes long, may not be written to `target`: the target is the archive
// itself, or the member runs past the end of the archive. "" when it may.
std::string ExtractTargetRefusal(const std::string& archivePath, std::int64_t archiveLength,
                                 const std::string& name, std::int64_t start, std::int64_t finish,
                                 const std::string& target);

// Copies the member's bytes [Start, Finish) into `outPath` (default: the member's name).
// Start and Finish are parsed before anything is opened. Refused, with nothing written: a
// defaulted name that UnsafeNameReason rejects, an output that is the archive itself, and a
// member whose bytes run past the end of the archive. Finish <= Start gives an empty file.
// With `rowIndex` above 0 the row comes from a listing of `memberCount` rows that may be
// stale: unless the archive still holds that many rows and this row's name, start and end
// words as listed, it is refused with a message asking to load the archive again.
OpResult ExtractMember(const std::string& archivePath, const ArchiveRow& row,
                       const std::string& outPath = std::string(), std::int32_t rowIndex = 0,
                       std::int32_t memberCount = 0);

// What Replace and reimport say when a file of theirs cannot be opened: "Could not open
// modified s16 file (PATH)", "Could not open Main Data (PATH)", "Could not open New Data file
// (PATH)".
std::string CannotOpenTwin(const std::string& path);
std::string CannotOpenArchive(const std::string& path);
std::string CannotOpenNewArchive(const std::string& path);

// The longest archive Replace and reimport write, so every end word stays a positive 32-bit
// signed value: 2 GiB - 1.
constexpr std::int64_t MaxArchiveLength = 0x7FFFFFFF;
// Why a rebuild of `newLength` bytes is refused, or "" when it fits MaxArchiveLength.
std::string ArchiveLengthRefusal(std::int64_t newLength);

struct ReplaceRequest {
    std::string ArchivePath;
    ArchiveRow Row;
    std::int32_t RowIndex = 0;    // listing row of the member (1-based; 0 is the title row)
    std::int32_t MemberCount = 0; // rows RowIndex..MemberCount get their end words shifted
    std::string TwinPath;         // empty: TwinName(Row.Name) in the current folder
    std::string OutPath = "Newgen.dat";
};

// Writes OutPath: the archive with the member's bytes replaced by the whole twin and the
// end words of rows RowIndex..MemberCount (read from the archive itself) moved by the
// change in size. Opens the twin, the archive and the output in that order, then parses Start and
// Finish (a conversion error leaves no output). OutPath may be the archive itself (or the twin): it
// is replaced only once all was read. Refused: a listing the archive no longer matches (its row
// count, or the row's name, start and end words; the message asks to load the archive again), a
// twin formed from an unsafe name, a member that starts past the end of the archive. End words that
// lie beyond the archive's end, or beyond the archive's own member count, are left as copied.
// Nothing replaces OutPath unless all went well.
OpResult ReplaceMember(const ReplaceRequest& request);

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

// rows[r - 1] is listing row r; rows 1..min(memberCount, rows.size()) are tested. One
// message per bad member, in listing order ("%s at %06X is bad!"); none when the archive
// cannot be opened. A member is bad when the byte before its pixel data area is not zero, and
// also when its bytes are not there to be judged: its end lies past the end of the archive or
// before its start, or its icon count or the tested byte cannot be read.
std::vector<std::string> TestArchive(const std::string& archivePath,
                                     const std::vector<ArchiveRow>& rows, std::int32_t memberCount);
// The same, handing each message over as soon as it is found, so messages already reported
// stand when a later row's offset fails to parse (EConvertError).
void TestArchive(const std::string& archivePath, const std::vector<ArchiveRow>& rows,
                 std::int32_t memberCount, const std::function<void(const std::string&)>& report);

} // namespace kiv
