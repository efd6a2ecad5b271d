#pragma once
// The off-screen picture every window and operation works on: TColor pixels held exactly,
// in one contiguous buffer whose bytes are R, G, B, 0 per pixel (QImage::Format_RGBX8888
// reads it as it stands, and so can any RGBX consumer).

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// 0x00BBGGRR: red in the low byte, green in the second, blue in the third.
using TColor = std::uint32_t;
constexpr TColor clAqua = 0x00FFFF00;
constexpr TColor clBlack = 0x00000000;

inline constexpr TColor RGB(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
inline constexpr unsigned RedOf(TColor c) {
    return c & 0xFF;
}
inline constexpr unsigned GreenOf(TColor c) {
    return (c >> 8) & 0xFF;
}
inline constexpr unsigned BlueOf(TColor c) {
    return (c >> 16) & 0xFF;
}

class Image {
public:
    Image() = default; // empty, 0 x 0
    Image(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // New size; the pixels that stay inside keep their colour, new ones are black.
    // A negative side counts as 0.
    void SetSize(int width, int height);
    // Fills [left, right) x [top, bottom), clipped to the picture.
    void FillRect(int left, int top, int right, int bottom, TColor color);
    void Fill(TColor color) { FillRect(0, 0, width_, height_, color); }
    // Outside the picture: ignored.
    void SetPixel(int x, int y, TColor color) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            pixels_[static_cast<std::size_t>(y) * width_ + x] = color & 0x00FFFFFF;
    }
    // Outside the picture: black.
    TColor Pixel(int x, int y) const {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            return pixels_[static_cast<std::size_t>(y) * width_ + x];
        return clBlack;
    }
    // Plain copy of the whole of `source` with its top-left corner at (x, y), clipped.
    void Draw(int x, int y, const Image& source);

    // Row access for fast loops; y must be inside the picture.
    TColor* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    const TColor* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    // The R, G, B, 0 bytes, width * 4 bytes a row, no padding.
    const std::uint8_t* Bits() const {
        return reinterpret_cast<const std::uint8_t*>(pixels_.data());
    }
    std::uint8_t* Bits() { return reinterpret_cast<std::uint8_t*>(pixels_.data()); }
    int BytesPerLine() const { return width_ * 4; }

    // Windows bitmap files (Bitmap.cpp). Save replaces a file only once the new one is
    // complete; load takes the file's size and pixels, or throws and leaves this unchanged.
    void SaveToFile(const std::string& path) const;
    void LoadFromFile(const std::string& path);

    bool operator==(const Image& other) const = default;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<TColor> pixels_;
};

} // namespace kiv
