#pragma once
// Which file of a folder holds a member's new bytes when a folder of members is taken back
// into an archive. The folder may come from someone else, so its files are data: names are
// matched exactly, and a link or a file that lies elsewhere is never read.

#include "archive/ArchiveDirectory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// One member that a file of the folder concerns: the file it takes (Refusal empty), or the
// file it is refused, with why (it keeps its bytes from the archive).
struct MemberFile {
    std::int32_t Row = 0; // 1-based listing row
    std::string Path;
    std::string Refusal;
};

// The files of `dir` for the members of `listing`, in listing order. A member takes its
// twin (its name with the last character changed to '7', as the editor and import write
// it) when the folder holds one, else a file of its own name; a twin name that is another
// member's own name belongs to that member and is never taken. A member whose name is not
// safe as a file name has no file. Refused, each naming its file: a symbolic or hard link, a file
// that resolves outside `dir`, and every later member of a name listed before (only the
// first member of a name takes its file, as extract-all writes only the first).
// `allowLinks` takes links of both kinds (ForeignFileFault).
std::vector<MemberFile> ChooseMemberFiles(const ArchiveListing& listing, const std::string& dir,
                                          bool allowLinks = false);

} // namespace kiv
