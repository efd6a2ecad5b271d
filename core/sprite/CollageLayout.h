#pragma once
// Where the tiles of a collage page go: left to right in rows, rows top to bottom, with a
// one-pixel margin at the left and top and a one-pixel gap between tiles and between rows.

#include <cstdint>
#include <optional>

namespace kiv {

// The size of a collage page, and of the editor's display.
constexpr int CollagePageWidth = 642;
constexpr int CollagePageHeight = 482;

struct TilePosition {
    int X = 0;
    int Y = 0;
};

class CollageLayout {
public:
    CollageLayout(int pageWidth = CollagePageWidth, int pageHeight = CollagePageHeight)
        : pageWidth_(pageWidth), pageHeight_(pageHeight) {}

    // Places the next frame, or gives nothing when the page is full (the frame then starts
    // the next page). The row's bottom moves down before the wrap test, so a frame that
    // wraps still deepens the row it leaves; a new row is started even when the current one
    // holds no tile yet.
    std::optional<TilePosition> Place(std::int32_t frameWidth, std::int32_t frameHeight);

private:
    // 64-bit: frame sizes are whatever the file stores, and their sums must not overflow.
    std::int64_t pageWidth_;
    std::int64_t pageHeight_;
    std::int64_t nextX_ = 1;
    std::int64_t rowTop_ = 1;
    std::int64_t rowBottom_ = 1;
};

// The icon number the editor holds after a collage that stopped at index `i` (0-based):
// the first icon not drawn, or the last icon when every one was drawn.
inline int IconNumberAfterCollage(int i, int count) {
    return i < count ? i + 1 : i;
}

} // namespace kiv
