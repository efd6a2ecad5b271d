#pragma once
// Replace: a new archive with one member's bytes replaced by the whole of a file (the
// member's twin, as the editor writes it).

#include "archive/ArchiveNames.h"
#include "archive/ArchiveRow.h"
#include "archive/OpResult.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

struct ReplaceRequest {
    std::string ArchivePath;
    ArchiveRow Row;
    // When set, gives Row its start and end once the twin, the archive and the output are
    // open (the browser parses its grid cells here; what this throws leaves no output).
    // Unset, Row's own are used.
    std::function<void(ArchiveRow& row)> ReadOffsets = {};
    std::int32_t RowIndex = 0;    // listing row of the member (1-based; 0 is the title row)
    std::int32_t MemberCount = 0; // rows RowIndex..MemberCount get their end words shifted
    std::string TwinPath;         // empty: TwinName(Row.Name) in the current folder
    std::string OutPath = NewArchiveName;
};

// Writes OutPath: the archive with the member's bytes replaced by the whole twin and the
// end words of rows RowIndex..MemberCount (read from the archive itself) moved by the
// change in size. Opens the twin, the archive and the output in that order, then takes the
// row's offsets (ReadOffsets). OutPath may be the archive itself (or the twin): it is
// replaced only once all was read. Refused: a listing the archive no longer matches (its row
// count, or the row's name, start and end words; the message asks to load the archive again), a
// twin formed from an unsafe name, a member that starts past the end of the archive. End words that
// lie beyond the archive's end, or beyond the archive's own member count, are left as copied.
// Nothing replaces OutPath unless all went well.
OpResult ReplaceMember(const ReplaceRequest& request);

} // namespace kiv
