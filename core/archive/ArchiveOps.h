#pragma once
// Extract, Replace and Test on the current archive. Each takes the member's name and its
// offsets as the listing shows them (offset texts, parsed as hex with "$" put in front, so a
// title row gives the conversion error exactly where the browser's handler meets it).
// Nothing here shows anything: failures come back as the message texts the windows show,
// and conversion errors as EConvertError.

#include "archive/ArchiveDirectory.h"
#include "sprite/S16Format.h" // TwinName

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

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
    // A file could not be created or written (a failure, not a refusal), and the system's
    // words for why when it gave them ("No space left on device"); the windows show only
    // Message.
    bool WriteFailed = false;
    std::string Reason;
};

// Why a member name may not be used as a file name in the current folder, or "" when it
// may: empty, ".", "..", absolute, with a path separator, a drive prefix or a control
// character.
std::string UnsafeNameReason(const std::string& name);

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

// rows[r - 1] is listing row r; rows 1..min(memberCount, rows.size()) are tested. One
// message per bad member, in listing order ("%s at %06X is bad!"); none when the archive
// cannot be opened. A member whose icon count or tested byte lies beyond the end of the
// archive counts as sound.
std::vector<std::string> TestArchive(const std::string& archivePath,
                                     const std::vector<ArchiveRow>& rows, std::int32_t memberCount);
// The same, handing each message over as soon as it is found, so messages already reported
// stand when a later row's offset fails to parse (EConvertError).
void TestArchive(const std::string& archivePath, const std::vector<ArchiveRow>& rows,
                 std::int32_t memberCount, const std::function<void(const std::string&)>& report);

} // namespace kiv
