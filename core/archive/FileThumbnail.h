#pragma once
// The thumbnail of a file a file manager shows: a data archive's (its first sprite member's)
// or a sprite file's, the two told apart by their structure.

#include "archive/ArchiveVerify.h"
#include "image/Image.h"

#include <cstdint>
#include <string>

namespace kiv {

// An archive's glance: the directory entries listed, and the members looked at for one with
// an icon to show.
constexpr std::int64_t ThumbnailListedMembers = 1 << 16;
constexpr std::int64_t ThumbnailSearchedMembers = 64;

struct FileThumbnail {
    VerifiedKind Kind = VerifiedKind::Missing;
    Image Picture;     // as SpriteThumbnail makes it; empty when there is none
    std::string Fault; // why there is no picture ("" when there is one, or the file is missing)
    std::int64_t Member = 0; // for an archive, the listing row (from 1) of the member shown
};

// The thumbnail of the file at `path` (see SpriteThumbnail), at most `size` pixels on a side.
// An archive with a damaged member among those listed, a file that is neither kind, and a
// sprite file or member whose shown icons are not sound have none. The first
// ThumbnailSearchedMembers members are looked at for a sprite file with an icon to show; other
// members are passed over. Reads a bounded part of the file whatever it declares.
FileThumbnail MakeThumbnail(const std::string& path, int size);

} // namespace kiv
