#pragma once
// The editor's Show and Collage pictures, drawn from a loaded sprite file.

#include "image/Image.h"
#include "sprite/CollageLayout.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"

#include <cstdint>

namespace kiv {
class InFile;
}

namespace kivtool {

// Size of a collage page, and of the editor's display.
constexpr int PageWidth = kiv::CollagePageWidth;
constexpr int PageHeight = kiv::CollagePageHeight;

// The offset of icon `index`'s data. The data area starts after as many headers as the
// file stores, even when only the first 1000 were loaded.
std::int64_t TableIconOffset(const kiv::TIconTable& table, int index);

// Show: the picture of the icon at `index` (0-based, within the table): its frame size,
// aqua below, the decoded frame drawn over it at (0, 0).
kiv::Image ShowPicture(kiv::InFile& file, const kiv::TIconTable& table, int index,
                       kiv::DecodeStats* stats = nullptr);

struct CollageResult {
    kiv::Image Page;        // 642 x 482
    int NextIconNumber = 0; // the icon number the editor holds afterwards
    int Drawn = 0;          // tiles drawn
};

// Collage from icon number `iconNumber` (1-based): tiles left to right with a one-pixel
// margin and gap, a row's bottom moved down by every tile that reaches below it (the tile
// that wraps included), rows until the next tile would pass the page's bottom.
CollageResult CollagePage(kiv::InFile& file, const kiv::TIconTable& table, int iconNumber);

} // namespace kivtool
