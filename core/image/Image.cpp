#include "image/Image.h"

#include <algorithm>

namespace kiv {

static_assert(sizeof(TColor) == 4, "TColor is a 32-bit word");

Image::Image(int width, int height) {
    SetSize(width, height);
}

void Image::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == 0 || height == 0) {
        width = height = 0;
    }
    if (width == width_ && height == height_)
        return;
    std::vector<TColor> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                               clBlack);
    const int keepW = std::min(width, width_);
    const int keepH = std::min(height, height_);
    for (int y = 0; y < keepH; ++y)
        std::copy_n(Row(y), keepW, pixels.data() + static_cast<std::size_t>(y) * width);
    pixels_.swap(pixels);
    width_ = width;
    height_ = height;
}

void Image::FillRect(int left, int top, int right, int bottom, TColor color) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width_);
    bottom = std::min(bottom, height_);
    if (left >= right || top >= bottom)
        return;
    color &= 0x00FFFFFF;
    for (int y = top; y < bottom; ++y)
        std::fill(Row(y) + left, Row(y) + right, color);
}

void Image::Draw(int x, int y, const Image& source) {
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const long long rightL = std::min<long long>(static_cast<long long>(x) + source.width_, width_);
    const long long bottomL =
        std::min<long long>(static_cast<long long>(y) + source.height_, height_);
    if (left >= rightL || top >= bottomL)
        return;
    const int right = static_cast<int>(rightL);
    const int bottom = static_cast<int>(bottomL);
    for (int row = top; row < bottom; ++row) {
        const TColor* from = source.Row(row - y) + (left - x);
        std::copy_n(from, right - left, Row(row) + left);
    }
}

} // namespace kiv
