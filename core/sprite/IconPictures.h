#pragma once
// The editor's Show and Collage pictures, drawn from a loaded sprite file.

#include "image/Image.h"
#include "sprite/CollageLayout.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kiv {

class InFile;

// The offset of icon `index`'s data in the file at table.Path. The data area starts after as
// many headers as the file stores, even when only the first 1000 were loaded.
std::int64_t TableIconOffset(const TIconTable& table, int index);

// Show: the picture of the icon at `index` (0-based, within the table): its frame size,
// aqua below, the decoded frame drawn over it at (0, 0). A frame that could never be decoded
// is refused (EFrameTooLarge) before anything is allocated.
Image ShowPicture(InFile& file, const TIconTable& table, int index, DecodeStats* stats = nullptr);

// A collage page before any tile is drawn: 642 x 482, all aqua.
Image BlankCollagePage();

// One tile of a collage page: icon Index (0-based), its frame's top-left corner at At.
struct CollageTile {
    int Index = 0;
    TilePosition At;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// Where a collage from icon `index` (0-based) puts its tiles on a page of the given size, in
// drawing order, from the headers alone.
std::vector<CollageTile> CollageTiles(const TIconTable& table, int index,
                                      int pageWidth = CollagePageWidth,
                                      int pageHeight = CollagePageHeight);
// The icon whose tile covers pixel (x, y) of the page; nothing on the margins and gaps.
std::optional<int> CollageIconAt(const std::vector<CollageTile>& tiles, int x, int y);

// Draws the collage from icon `index` (0-based) onto `page`: tiles left to right with a
// one-pixel margin and gap, a row's bottom moved down by every tile that reaches below it
// (the tile that wraps included), rows until the next tile would pass the page's bottom.
// `tileDrawn` runs after each tile. Returns the icon number the editor holds afterwards.
int DrawCollage(InFile& file, const TIconTable& table, int index, Image& page,
                const std::function<void()>& tileDrawn = {});

struct CollageResult {
    Image Page;             // 642 x 482
    int NextIconNumber = 0; // the icon number the editor holds afterwards
};

// The collage from icon number `iconNumber` (1-based) on a blank page.
CollageResult CollagePage(InFile& file, const TIconTable& table, int iconNumber);

} // namespace kiv
