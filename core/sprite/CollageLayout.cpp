#include "sprite/CollageLayout.h"

#include <algorithm>

namespace kiv {

namespace {

// Frames are at most MaxFrameSide wide, so a tile placed further out than this shows
// nothing; clamping keeps the position within an int.
int DrawPosition(std::int64_t position) {
    constexpr std::int64_t far = std::int64_t{1} << 24;
    return static_cast<int>(std::clamp(position, -far, far));
}

} // namespace

std::optional<TilePosition> CollageLayout::Place(std::int32_t frameWidth,
                                                 std::int32_t frameHeight) {
    std::int64_t tileX = nextX_;
    nextX_ = tileX + frameWidth + 1;
    if (rowTop_ + frameHeight > rowBottom_)
        rowBottom_ = rowTop_ + frameHeight;
    if (nextX_ > pageWidth_) {
        tileX = 1;
        nextX_ = std::int64_t{frameWidth} + 2;
        rowTop_ = rowBottom_ + 1;
        rowBottom_ = rowTop_ + frameHeight;
    }
    if (rowBottom_ > pageHeight_)
        return std::nullopt;
    return TilePosition{DrawPosition(tileX), DrawPosition(rowTop_)};
}

} // namespace kiv
