#pragma once
// The small picture a file manager shows for a sprite file: its first icon, or a grid of its
// first icons where they are tiny, scaled to fit a square with the background transparent.

#include "image/Image.h"

#include <cstdint>
#include <string>

namespace kiv {

class InFile;

constexpr int DefaultThumbnailSize = 128;
// File managers ask for 128 to 1024 pixels.
constexpr int MaxThumbnailSize = 1024;
// An icon is tiny when its box is at most this part of the thumbnail's side.
constexpr int TinyIconDivisor = 4;
// The most icons a grid holds: 3 x 3.
constexpr int MaxThumbnailGrid = 9;
// The most pixels an icon may show in a thumbnail, so the decoded picture stays small.
constexpr std::int64_t MaxThumbnailSourcePixels = 4 << 20;

struct ThumbnailPicture {
    Image Picture;             // at most size x size, BackColor where it is transparent
    std::string Fault;         // why there is no picture, or ""
    bool NoIconToShow = false; // the file is sound but no icon shows a pixel in its frame
};

// The thumbnail of the sprite file in the `length` bytes of `file` from `start` on. Its icons
// are the first of the file (up to MaxIcons) whose box has pixels inside its frame, each
// taken as that part of its box. When the first is tiny (its longer side at most size /
// TinyIconDivisor) and others follow, a grid of up to MaxThumbnailGrid of them, as long as
// they are tiny too, in icon order and row by row, each centred in a square cell, with a
// one-pixel gap; otherwise the first icon alone. That picture is enlarged by the largest whole
// factor that fits `size` (every pixel a square block), or, when it is larger than `size`,
// reduced to fit, each pixel of the result the mean of the drawn pixels it covers
// (transparent where most are background). The work is bounded whatever the headers say:
// only the first MaxIcons headers are read, and only icons whose data lie inside the file,
// at most MaxIconBytes long, decode exactly within them and show at most
// MaxThumbnailSourcePixels are pictured; any other shown icon is a fault.
ThumbnailPicture SpriteThumbnail(InFile& file, std::int64_t start, std::int64_t length, int size);

} // namespace kiv
