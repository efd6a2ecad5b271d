#pragma once
// The checks of an archive or a sprite file: the deep one, of the directory and every
// member's icons, one line per problem; and the Test button's quick one, of one byte per
// member.

#include "archive/ArchiveRow.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class InFile;
struct ArchiveListing;

enum class VerifiedKind {
    Missing, // the file does not open
    Neither, // neither a plausible archive nor a plausible sprite file
    Archive,
    Sprite,
};

struct VerifyResult {
    VerifiedKind Kind = VerifiedKind::Missing;
    std::int64_t Members = 0;  // members checked (archives)
    std::int64_t Icons = 0;    // icons checked, over every member
    std::int64_t Problems = 0; // lines reported
    // For Neither: why it is not an archive and why not a sprite file.
    std::string ArchiveFault;
    std::string SpriteFault;
};

// Tells an archive from a sprite file by which structure the file holds (a file that could
// be both is a sprite file when it ends exactly with its last icon's data). Missing when the
// file does not open; for Neither, the faults say why it is neither.
VerifiedKind ClassifyFile(const std::string& path, std::string& archiveFault,
                          std::string& spriteFault);

// The same for a file already open and listed (as ListArchive lists it, perhaps only its
// first entries); the sprite file's check looks at the data of its first `maxIcons` icons.
VerifiedKind ClassifyListed(InFile& file, const ArchiveListing& listing, std::string& archiveFault,
                            std::string& spriteFault, std::int64_t maxIcons = INT64_MAX);

// Tells an archive from a sprite file by which structure the file holds (a file that could
// be both is a sprite file when it ends exactly with its last icon's data) and checks it:
// for an archive, a directory that fits the file and names ended within their fields, then
// every member as a sprite file, its lines prefixed with the member's name; a damaged member
// (one that ends past the end of the file or before its start) is reported as such. Each member is
// read once, front to back, so memory stays small whatever the archive's size.
VerifyResult VerifyFile(const std::string& path,
                        const std::function<void(const std::string&)>& report);

// Test's rule: a member is sound when the byte just before its pixel data area is zero. The
// area follows the member's icon count word and one header per icon, so that byte lies at
// start + TestedByteOffset + TestedHeaderSize * count.
constexpr std::int64_t TestedHeaderSize = IconHeaderSize;
// The count word is 4 bytes long: with no icons, the byte tested is its last one.
constexpr std::int64_t TestedByteOffset = 4 - 1;

// Rows 1..`rows` are tested, each read by `rowAt` when its turn comes; `report` hears one
// message per bad member as soon as it is found, in listing order ("%s at %06X is bad!"),
// none when the archive cannot be opened. A member is bad when the byte Test's rule looks at
// is not zero, and also when its bytes are not there to be judged: its end lies past the end
// of the archive or before its start, or its icon count or the tested byte cannot be read.
void TestArchive(const std::string& archivePath, std::int32_t rows, const RowReader& rowAt,
                 const std::function<void(const std::string&)>& report);
// The same for rows[r - 1] as listing row r, rows 1..min(memberCount, rows.size()), with
// the messages returned.
std::vector<std::string> TestArchive(const std::string& archivePath,
                                     const std::vector<ArchiveRow>& rows, std::int32_t memberCount);

} // namespace kiv
