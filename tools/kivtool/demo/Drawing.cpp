// The demo's drawing arithmetic and text.

#include "Drawing.h"

namespace kivtool::demo {

// ---------------------------------------------------------------------------------------
// Arithmetic

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// sin of `degrees`, scaled by 1024 (a rational approximation, exact enough to draw with).
int Sin1024(int degrees) {
    int d = degrees % 360;
    if (d < 0)
        d += 360;
    const int sign = d < 180 ? 1 : -1;
    const int x = d % 180;
    const int p = x * (180 - x);
    return sign * (4 * p * 1024) / (40500 - p);
}
int Cos1024(int degrees) {
    return Sin1024(degrees + 90);
}

int ISqrt(std::int64_t v) {
    if (v <= 0)
        return 0;
    std::int64_t r = 0;
    std::int64_t bit = std::int64_t{1} << 40;
    while (bit > v)
        bit >>= 2;
    while (bit != 0) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit >>= 2;
    }
    return static_cast<int>(r);
}

// Smooth noise 0..255: hashed lattice values every `scale` pixels, blended bilinearly.
int Noise(int x, int y, int scale, std::uint32_t seed) {
    const int gx = x >= 0 ? x / scale : (x - scale + 1) / scale;
    const int gy = y >= 0 ? y / scale : (y - scale + 1) / scale;
    const int fx = x - gx * scale;
    const int fy = y - gy * scale;
    const auto at = [&](int i, int j) {
        return static_cast<int>(Hash(gx + i, gy + j, seed) & 255);
    };
    const int top = at(0, 0) * (scale - fx) + at(1, 0) * fx;
    const int bottom = at(0, 1) * (scale - fx) + at(1, 1) * fx;
    return (top * (scale - fy) + bottom * fy) / (scale * scale);
}

int Fractal(int x, int y, std::uint32_t seed) {
    return (Noise(x, y, 64, seed) * 8 + Noise(x, y, 32, seed + 1) * 4 +
            Noise(x, y, 16, seed + 2) * 2 + Noise(x, y, 8, seed + 3) * 2) /
           16;
}

TColor Mix(TColor a, TColor b, int t) { // t 0..256
    t = std::clamp(t, 0, 256);
    const auto ch = [&](unsigned ca, unsigned cb) {
        return (ca * static_cast<unsigned>(256 - t) + cb * static_cast<unsigned>(t)) / 256;
    };
    return RGB(ch(kiv::RedOf(a), kiv::RedOf(b)), ch(kiv::GreenOf(a), kiv::GreenOf(b)),
               ch(kiv::BlueOf(a), kiv::BlueOf(b)));
}

TColor Shade(TColor c, int percent) { // 100 keeps the colour
    const auto ch = [&](unsigned v) {
        return std::min(255u, v * static_cast<unsigned>(percent) / 100);
    };
    return RGB(ch(kiv::RedOf(c)), ch(kiv::GreenOf(c)), ch(kiv::BlueOf(c)));
}

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.Char == c)
            return &g;
    return nullptr;
}

int TextWidth(const std::string& text, int scale) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * 6 * scale - scale;
}

// Draws `text` with its top-left at (x, y); each row coloured from `top` to `bottom`.
void Text(Canvas& c, const std::string& text, int x, int y, int scale, TColor top, TColor bottom) {
    for (const char ch : text) {
        if (const Glyph* g = FindGlyph(ch)) {
            for (int row = 0; row < 7; ++row) {
                const TColor color = Mix(top, bottom, row * 256 / 6);
                for (int col = 0; col < 5; ++col)
                    if (g->Rows[static_cast<std::size_t>(row)] & (0x10 >> col))
                        c.Rect(x + col * scale, y + row * scale, x + (col + 1) * scale,
                               y + (row + 1) * scale, color);
            }
        }
        x += 6 * scale;
    }
}

void ShadowText(Canvas& c, const std::string& text, int x, int y, int scale, TColor top,
                TColor bottom, TColor shadow) {
    const int off = std::max(1, scale / 2);
    Text(c, text, x + off, y + off, scale, shadow, shadow);
    Text(c, text, x, y, scale, top, bottom);
}

DemoFrame Frame(Canvas& c, bool runLength, int sheet, int index) {
    return {c.Take(), runLength, (sheet << 16) | index};
}

} // namespace kivtool::demo
