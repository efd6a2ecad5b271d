#pragma once
// The data archive: a member count, the first member's start, one 17-byte entry per member
// (a 13-byte NUL-ended name and the member's end offset), then the members back to back.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class InFile;

constexpr int ArchiveEntrySize = 17;
constexpr int ArchiveNameSize = 13;

// The message for an archive that does not open.
inline constexpr const char* MainDataFileNotFound = "Main data file not found.";

struct TArchiveEntry {
    std::string Name;
    std::uint32_t Start = 0;  // member 0: the first-start word; member i: end of member i-1
    std::uint32_t Finish = 0; // the member's own end word
    bool operator==(const TArchiveEntry&) const = default;
};

struct ArchiveListing {
    bool Opened = false;
    std::int32_t StoredCount = 0;       // the count word as stored (0 when it could not be read)
    std::vector<TArchiveEntry> Entries; // every complete entry present, in directory order
    bool Truncated = false;             // the file ended before the directory the count promises
    std::int64_t FileLength = 0;        // measured when the directory was read
};

// Reads the directory in one block; allocates nothing in proportion to a count the file
// cannot hold. With `maxEntries`, only the first that many entries are listed (Truncated
// still says whether the file holds the whole directory), so a glance at a large file costs
// no more than a small one.
ArchiveListing ListArchive(const std::string& path, std::int64_t maxEntries = INT64_MAX);

// Why the listed file cannot be a sprite archive at all, or "" when its directory is
// plausible: the file holds its count word, the count is not negative, the directory fits in
// the file, and the first member starts behind the directory and inside the file. A gap
// between the directory and the first member is allowed. A member whose own bytes are not
// all there does not make the file another kind of file: see MemberFault.
std::string ArchiveFault(const ArchiveListing& listing);

// A listed archive's directory as stored: the first start, and each name field whole (the
// listing keeps only the name before the NUL).
struct StoredDirectory {
    std::uint32_t FirstStart = 0;
    std::vector<std::array<unsigned char, ArchiveNameSize>> Fields;
};
// Reads it for the listed entries; false when the file no longer holds them.
bool ReadStoredDirectory(const InFile& file, const ArchiveListing& listing,
                         StoredDirectory& directory);

// Why a member of an archive `fileLength` bytes long is damaged, or "" when its bytes lie
// whole inside the file: "ends at 0F37A7, past the end of the file (0AB4A0)", or "ends at
// 000100, before its start 000200".
std::string MemberFault(const TArchiveEntry& entry, std::int64_t fileLength);

// "member 9 (hero.s16) ends at ..." for the first damaged member of the listing, or "" when
// every member lies whole inside the file.
std::string FirstDamagedMember(const ArchiveListing& listing);

// Offsets as the listing shows them: uppercase hex, at least six digits.
std::string OffsetText(std::uint32_t offset);

// Where the directory of an archive of `rows` members ends: the count and first-start words,
// then one entry per member.
constexpr std::int64_t DirectoryEnd(std::int64_t rows) {
    return 8 + std::int64_t{ArchiveEntrySize} * rows;
}

// Offset of the end word of listing row r (1-based): 17 * r + 4.
inline std::int64_t EndWordOffset(std::int64_t row) {
    return 17 * row + 4;
}

} // namespace kiv
