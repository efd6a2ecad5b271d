// The demo archive, drawn with integer arithmetic only so every build writes the same bytes.

#include "Demo.h"

#include "CommandSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace kivtool {

using kiv::Image;
using kiv::RGB;
using kiv::TColor;

namespace {

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

// ---------------------------------------------------------------------------------------
// Drawing

struct Point {
    int X;
    int Y;
};

// A frame picture on the BackColor background. Colours are stored as they will decode, so
// what is drawn here is what the sprite file shows.
class Canvas {
public:
    Canvas(int width, int height) : image_(width, height) { image_.Fill(kiv::BackColor); }

    int Width() const { return image_.Width(); }
    int Height() const { return image_.Height(); }
    Image Take() { return std::move(image_); }

    void Plot(int x, int y, TColor c) {
        image_.SetPixel(x, y,
                        kiv::UnpackPixel(static_cast<std::uint8_t>(kiv::PackPixel(c)),
                                         static_cast<std::uint8_t>(kiv::PackPixel(c) >> 8)));
    }
    bool Drawn(int x, int y) const {
        return x >= 0 && y >= 0 && x < Width() && y < Height() &&
               image_.Pixel(x, y) != kiv::BackColor;
    }

    void Rect(int x0, int y0, int x1, int y1, TColor c) { // [x0, x1) x [y0, y1)
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                Plot(x, y, c);
    }
    // A vertical gradient from `top` to `bottom` over the rectangle, in bands of `band` rows.
    void Gradient(int x0, int y0, int x1, int y1, TColor top, TColor bottom, int band = 1) {
        const int h = std::max(1, y1 - y0 - 1);
        for (int y = y0; y < y1; ++y) {
            const int row = (y - y0) / band * band;
            Rect(x0, y, x1, y + 1, Mix(top, bottom, row * 256 / h));
        }
    }
    void Ellipse(int cx, int cy, int rx, int ry, TColor c) { Shaded(cx, cy, rx, ry, c, c); }
    // An ellipse lit from the upper left: `light` at the highlight, `dark` at the far rim.
    void Shaded(int cx, int cy, int rx, int ry, TColor dark, TColor light) {
        rx = std::max(rx, 1);
        ry = std::max(ry, 1);
        const int hx = cx - rx / 3;
        const int hy = cy - ry / 3;
        const std::int64_t r2 = static_cast<std::int64_t>(rx) * rx * ry * ry;
        for (int y = cy - ry; y <= cy + ry; ++y) {
            for (int x = cx - rx; x <= cx + rx; ++x) {
                const std::int64_t dx = x - cx;
                const std::int64_t dy = y - cy;
                if (dx * dx * ry * ry + dy * dy * rx * rx > r2 + r2 / (2 * std::max(rx, ry)))
                    continue;
                const int d = ISqrt((x - hx) * (x - hx) * 256 * 256 / (rx * rx) +
                                    (y - hy) * (y - hy) * 256 * 256 / (ry * ry));
                Plot(x, y, Mix(light, dark, d * 256 / 360));
            }
        }
    }
    void Disc(int cx, int cy, int r, TColor c) { Ellipse(cx, cy, r, r, c); }
    void Ring(int cx, int cy, int outer, int inner, TColor c) {
        for (int y = cy - outer; y <= cy + outer; ++y)
            for (int x = cx - outer; x <= cx + outer; ++x) {
                const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d2 <= outer * outer + outer && d2 > inner * inner + inner)
                    Plot(x, y, c);
            }
    }
    // A line `width` pixels thick.
    void Line(int x0, int y0, int x1, int y1, int width, TColor c) {
        const int steps = std::max({std::abs(x1 - x0), std::abs(y1 - y0), 1});
        const int r = width / 2;
        for (int s = 0; s <= steps; ++s) {
            const int x = x0 + (x1 - x0) * s / steps;
            const int y = y0 + (y1 - y0) * s / steps;
            Rect(x - r, y - r, x - r + width, y - r + width, c);
        }
    }
    // Even-odd fill of a polygon, sampled at pixel centres.
    void Polygon(const std::vector<Point>& pts, TColor c) {
        int minY = pts[0].Y, maxY = pts[0].Y, minX = pts[0].X, maxX = pts[0].X;
        for (const Point& p : pts) {
            minY = std::min(minY, p.Y);
            maxY = std::max(maxY, p.Y);
            minX = std::min(minX, p.X);
            maxX = std::max(maxX, p.X);
        }
        for (int y = minY; y <= maxY; ++y)
            for (int x = minX; x <= maxX; ++x) {
                bool inside = false;
                const int px = 2 * x + 1, py = 2 * y + 1;
                for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
                    const int yi = 2 * pts[i].Y, yj = 2 * pts[j].Y;
                    const int xi = 2 * pts[i].X, xj = 2 * pts[j].X;
                    if ((yi > py) != (yj > py) &&
                        px < xi + static_cast<std::int64_t>(xj - xi) * (py - yi) / (yj - yi))
                        inside = !inside;
                }
                if (inside)
                    Plot(x, y, c);
            }
    }
    // A rectangle with corners rounded by `r`.
    bool InRoundRect(int x, int y, int x0, int y0, int x1, int y1, int r) const {
        if (x < x0 || y < y0 || x >= x1 || y >= y1)
            return false;
        const int cx = x < x0 + r ? x0 + r : x >= x1 - r ? x1 - r - 1 : x;
        const int cy = y < y0 + r ? y0 + r : y >= y1 - r ? y1 - r - 1 : y;
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    // Paints every background pixel that touches a drawn one: the cartoon outline.
    void Outline(TColor c) {
        std::vector<Point> edge;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                if (!Drawn(x, y) &&
                    (Drawn(x - 1, y) || Drawn(x + 1, y) || Drawn(x, y - 1) || Drawn(x, y + 1)))
                    edge.push_back({x, y});
        for (const Point& p : edge)
            Plot(p.X, p.Y, c);
    }

private:
    Image image_;
};

// ---------------------------------------------------------------------------------------
// Text: a 5 x 7 font, one bit per pixel, rows top to bottom, bit 4 the left column.

struct Glyph {
    char Char;
    std::array<std::uint8_t, 7> Rows;
};

constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'/', {0x01, 0x02, 0x02, 0x04, 0x08, 0x08, 0x10}},
    {'\'', {0x04, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
};

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

// ---------------------------------------------------------------------------------------
// The sheets

constexpr TColor Ink = RGB(40, 24, 48);

DemoFrame Frame(Canvas& c, bool runLength, int sheet, int index) {
    return {c.Take(), runLength, (sheet << 16) | index};
}

// A walking hero, four directions of eight steps.
std::vector<DemoFrame> HeroSheet(int sheet) {
    std::vector<DemoFrame> frames;
    const TColor skin = RGB(248, 200, 160), hair = RGB(120, 64, 32), tunic = RGB(40, 150, 170);
    const TColor boots = RGB(96, 56, 32), belt = RGB(64, 40, 24), trousers = RGB(72, 72, 120);
    for (int dir = 0; dir < 4; ++dir) { // down, left, right, up
        for (int step = 0; step < 8; ++step) {
            Canvas c(48, 64);
            const int swing = Sin1024(step * 45) * 4 / 1024;
            const int bob = -std::abs(Sin1024(step * 45)) * 2 / 1024;
            const bool side = dir == 1 || dir == 2;
            const int facing = dir == 1 ? -1 : 1;
            c.Ellipse(24, 60, 13, 3, RGB(120, 104, 128)); // shadow
            // Legs.
            if (side) {
                c.Rect(20 + swing * facing, 44, 26 + swing * facing, 58, trousers);
                c.Rect(20 + swing * facing, 55, 27 + swing * facing + facing, 59, boots);
                c.Rect(22 - swing * facing, 44, 28 - swing * facing, 58, Shade(trousers, 80));
                c.Rect(22 - swing * facing, 55, 29 - swing * facing, 59, Shade(boots, 80));
            } else {
                const int left = 58 - std::max(0, swing), right = 58 - std::max(0, -swing);
                c.Rect(17, 44 + bob, 23, left, trousers);
                c.Rect(25, 44 + bob, 31, right, trousers);
                c.Rect(16, left - 4, 23, left, boots);
                c.Rect(25, right - 4, 32, right, boots);
            }
            // Body.
            const int bx0 = side ? 17 : 14, bx1 = side ? 31 : 34;
            c.Gradient(bx0, 28 + bob, bx1, 46 + bob, Shade(tunic, 130), Shade(tunic, 80));
            c.Rect(bx0, 40 + bob, bx1, 43 + bob, belt);
            c.Rect(22, 40 + bob, 26, 43 + bob, RGB(232, 200, 64));
            // Arms.
            if (side) {
                const int ax = 22 - swing * facing;
                c.Rect(ax, 30 + bob, ax + 5, 42 + bob, Shade(tunic, 110));
                c.Disc(ax + 2, 43 + bob, 3, skin);
            } else {
                c.Rect(10, 30 + bob + swing, 14, 41 + bob + swing, Shade(tunic, 110));
                c.Rect(34, 30 + bob - swing, 38, 41 + bob - swing, Shade(tunic, 110));
                c.Disc(12, 42 + bob + swing, 2, skin);
                c.Disc(36, 42 + bob - swing, 2, skin);
            }
            // Head.
            const int hy = 17 + bob;
            c.Shaded(24, hy, 11, 11, Shade(skin, 80), RGB(255, 232, 208));
            if (dir == 3) {
                c.Shaded(24, hy, 11, 11, Shade(hair, 70), Shade(hair, 140));
            } else {
                c.Shaded(24, hy - 5, 11, 6, Shade(hair, 70), Shade(hair, 140));
                if (side) {
                    c.Rect(24 - facing * 11, hy - 5, 24 - facing * 3, hy + 4, hair);
                    c.Rect(24 + facing * 5, hy - 1, 24 + facing * 5 + 2, hy + 3, Ink);
                    c.Plot(24 + facing * 11, hy + 2, Shade(skin, 80));
                } else {
                    c.Rect(13, hy - 5, 16, hy + 3, hair);
                    c.Rect(32, hy - 5, 35, hy + 3, hair);
                    c.Rect(19, hy - 1, 21, hy + 3, Ink);
                    c.Rect(27, hy - 1, 29, hy + 3, Ink);
                    c.Rect(22, hy + 6, 26, hy + 7, RGB(200, 96, 96));
                }
            }
            c.Outline(Ink);
            frames.push_back(Frame(c, true, sheet, dir * 8 + step));
        }
    }
    return frames;
}

// Ground tiles, 32 x 32, every pixel drawn.
std::vector<DemoFrame> TileSheet(int sheet) {
    std::vector<DemoFrame> frames;
    for (int kind = 0; kind < 8; ++kind) {
        for (int v = 0; v < 6; ++v) {
            Canvas c(32, 32);
            const std::uint32_t seed = static_cast<std::uint32_t>(kind * 16 + v);
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    const int n = static_cast<int>(Hash(x, y, seed) & 255);
                    const int smooth = Noise(x + v * 7, y, 8, seed);
                    TColor col = 0;
                    switch (kind) {
                    case 0: // grass
                        col = Mix(RGB(56, 128, 48), RGB(112, 184, 72), smooth + (n & 31) - 16);
                        if (n < 12)
                            col = RGB(152, 208, 96);
                        break;
                    case 1: // dirt
                        col = Mix(RGB(112, 76, 44), RGB(156, 112, 68), smooth + (n & 63) - 32);
                        break;
                    case 2: { // cobbles: nearest of a jittered 4 x 4 grid, mortar between
                        int best = 1 << 30, second = 1 << 30, id = 0;
                        for (int gy = -1; gy <= 4; ++gy)
                            for (int gx = -1; gx <= 4; ++gx) {
                                const std::uint32_t h = Hash((gx + 4) % 4, (gy + 4) % 4, seed);
                                const int px = gx * 8 + 2 + static_cast<int>(h & 3);
                                const int py = gy * 8 + 2 + static_cast<int>((h >> 2) & 3);
                                const int d = (x - px) * (x - px) + (y - py) * (y - py);
                                if (d < best) {
                                    second = best;
                                    best = d;
                                    id = static_cast<int>(h >> 4);
                                } else if (d < second) {
                                    second = d;
                                }
                            }
                        col = second - best < 10 ? RGB(72, 68, 76)
                                                 : Mix(RGB(132, 128, 140), RGB(188, 184, 196),
                                                       (id & 127) + 64 - best * 3);
                        break;
                    }
                    case 3: { // water, six steps of its ripple
                        const int wave = (y * 4 + Sin1024(x * 24 + v * 60) * 3 / 1024 + 64) % 32;
                        col = Mix(RGB(32, 80, 168), RGB(64, 136, 216), smooth);
                        if (wave < 3)
                            col = RGB(168, 208, 248);
                        break;
                    }
                    case 4: // sand with ripples
                        col = Mix(RGB(216, 184, 112), RGB(240, 216, 152), smooth + (n & 31));
                        if ((x + y * 2 + Sin1024(x * 12) * 2 / 1024 + 96) % 12 == 0)
                            col = RGB(200, 164, 96);
                        break;
                    case 5: { // bricks
                        const int row = y / 8;
                        const int bx = (x + (row % 2) * 8) % 32;
                        const int brick = static_cast<int>(Hash(bx / 16, row, seed) & 63);
                        if (y % 8 == 7 || bx % 16 == 15)
                            col = RGB(200, 192, 176);
                        else
                            col = Mix(RGB(152, 56, 40), RGB(200, 88, 56), brick * 3 + (n & 15));
                        break;
                    }
                    case 6: { // planks with grain and nails
                        const int plank = x / 8;
                        const int grain = Sin1024(y * 20 + plank * 70 + (x % 8) * 40);
                        col = Mix(RGB(136, 88, 48), RGB(184, 128, 72), grain / 8 + 128);
                        if (x % 8 == 7)
                            col = RGB(88, 56, 32);
                        if ((y == 3 || y == 28) && x % 8 == 3)
                            col = RGB(64, 64, 72);
                        break;
                    }
                    default: { // lava, flowing
                        const int heat =
                            Noise(x, y + v * 5, 8, seed) + Noise(x + 3, y, 4, seed) / 2;
                        col = heat > 260   ? RGB(255, 240, 120)
                              : heat > 200 ? RGB(248, 160, 40)
                              : heat > 140 ? RGB(216, 72, 24)
                                           : RGB(112, 24, 16);
                        break;
                    }
                    }
                    c.Plot(x, y, col);
                }
            }
            frames.push_back(Frame(c, false, sheet, kind * 6 + v));
        }
    }
    return frames;
}

// A spinning coin, then a sparkling gem.
std::vector<DemoFrame> CoinSheet(int sheet) {
    std::vector<DemoFrame> frames;
    for (int f = 0; f < 8; ++f) {
        Canvas c(24, 24);
        const int rx = std::max(1, std::abs(Cos1024(f * 45 / 2)) * 10 / 1024);
        c.Shaded(12, 12, rx + 1, 11, RGB(168, 104, 16), RGB(208, 148, 32));
        c.Shaded(12, 12, std::max(1, rx - 1), 9, RGB(216, 160, 32), RGB(255, 240, 128));
        if (rx >= 6) {
            c.Rect(11, 7, 13, 17, RGB(176, 112, 16));
            c.Rect(9, 8, 15, 10, RGB(176, 112, 16));
            c.Rect(9, 14, 15, 16, RGB(176, 112, 16));
        }
        c.Outline(RGB(96, 56, 8));
        frames.push_back(Frame(c, true, sheet, f));
    }
    for (int f = 0; f < 8; ++f) {
        Canvas c(24, 24);
        c.Polygon({{12, 2}, {21, 9}, {12, 22}, {3, 9}}, RGB(200, 24, 72));
        c.Polygon({{12, 2}, {16, 9}, {12, 22}, {8, 9}}, RGB(240, 64, 112));
        c.Polygon({{3, 9}, {8, 9}, {12, 2}}, RGB(248, 144, 176));
        c.Outline(RGB(96, 8, 40));
        const int sx = 6 + f * 2, sy = 5 + (f * 5) % 9;
        const int len = 1 + (f % 4);
        c.Line(sx - len, sy, sx + len, sy, 1, RGB(255, 255, 255));
        c.Line(sx, sy - len, sx, sy + len, 1, RGB(255, 255, 255));
        frames.push_back(Frame(c, true, sheet, 8 + f));
    }
    return frames;
}

// Menu buttons in three states.
std::vector<DemoFrame> ButtonSheet(int sheet) {
    std::vector<DemoFrame> frames;
    const std::array<std::string, 6> labels = {"PLAY", "OPTIONS", "QUIT", "OK", "CANCEL", "BACK"};
    int index = 0;
    for (const std::string& label : labels) {
        for (int state = 0; state < 3; ++state) { // normal, hover, pressed
            Canvas c(120, 32);
            const TColor base = state == 0   ? RGB(56, 104, 200)
                                : state == 1 ? RGB(88, 144, 240)
                                             : RGB(40, 72, 152);
            TColor top = Shade(base, 140), bottom = Shade(base, 70);
            if (state == 2)
                std::swap(top, bottom);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 120; ++x)
                    if (c.InRoundRect(x, y, 0, 0, 120, 32, 7)) {
                        const bool rim = !c.InRoundRect(x, y, 2, 2, 118, 30, 5);
                        c.Plot(x, y,
                               rim ? Shade(base, 50) : Mix(top, bottom, (y / 2 * 2) * 256 / 31));
                    }
            if (state != 2)
                c.Rect(8, 3, 112, 4, Shade(base, 170));
            const int off = state == 2 ? 1 : 0;
            const int tx = (120 - TextWidth(label, 2)) / 2 + off;
            ShadowText(c, label, tx, 9 + off, 2, RGB(255, 255, 255), RGB(208, 224, 255),
                       Shade(base, 40));
            frames.push_back(Frame(c, true, sheet, index++));
        }
    }
    return frames;
}

// A title font: every glyph of the 5 x 7 font, doubled, with a warm gradient and shadow.
std::vector<DemoFrame> FontSheet(int sheet) {
    std::vector<DemoFrame> frames;
    int index = 0;
    for (const Glyph& g : kFont) {
        Canvas c(16, 20);
        ShadowText(c, std::string(1, g.Char), 2, 2, 2, RGB(255, 232, 96), RGB(240, 120, 32),
                   RGB(72, 32, 24));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    return frames;
}

// A bouncing slime, a flapping bat, a floating ghost.
std::vector<DemoFrame> EnemySheet(int sheet) {
    std::vector<DemoFrame> frames;
    for (int f = 0; f < 8; ++f) {
        Canvas c(48, 48);
        const int s = Sin1024(f * 45) * 4 / 1024;
        const int rx = 16 + s, ry = 12 - s / 2;
        c.Ellipse(24, 45, rx, 2, RGB(96, 120, 96));
        c.Shaded(24, 44 - ry, rx, ry, RGB(40, 136, 48), RGB(168, 240, 144));
        c.Disc(18, 42 - ry, 3, RGB(255, 255, 255));
        c.Disc(30, 42 - ry, 3, RGB(255, 255, 255));
        c.Disc(19, 43 - ry, 1, Ink);
        c.Disc(31, 43 - ry, 1, Ink);
        c.Outline(RGB(16, 72, 24));
        frames.push_back(Frame(c, true, sheet, f));
    }
    for (int f = 0; f < 8; ++f) {
        Canvas c(48, 48);
        const int flap = Sin1024(f * 45) * 14 / 1024;
        const int bob = Cos1024(f * 45) * 2 / 1024;
        const TColor wing = RGB(104, 64, 144);
        c.Polygon({{22, 22 + bob},
                   {4, 20 + bob - flap},
                   {8, 30 + bob - flap / 2},
                   {14, 28 + bob},
                   {22, 32 + bob}},
                  wing);
        c.Polygon({{26, 22 + bob},
                   {44, 20 + bob - flap},
                   {40, 30 + bob - flap / 2},
                   {34, 28 + bob},
                   {26, 32 + bob}},
                  wing);
        c.Shaded(24, 26 + bob, 7, 7, RGB(72, 40, 104), RGB(160, 112, 200));
        c.Polygon({{18, 21 + bob}, {20, 14 + bob}, {23, 20 + bob}}, RGB(72, 40, 104));
        c.Polygon({{25, 20 + bob}, {28, 14 + bob}, {30, 21 + bob}}, RGB(72, 40, 104));
        c.Rect(21, 24 + bob, 23, 26 + bob, RGB(255, 64, 64));
        c.Rect(26, 24 + bob, 28, 26 + bob, RGB(255, 64, 64));
        c.Outline(RGB(32, 16, 48));
        frames.push_back(Frame(c, true, sheet, 8 + f));
    }
    for (int f = 0; f < 8; ++f) {
        Canvas c(48, 48);
        const int fl = Sin1024(f * 45) * 3 / 1024;
        c.Shaded(24, 20 + fl, 14, 14, RGB(176, 192, 232), RGB(255, 255, 255));
        for (int x = 10; x <= 38; ++x) {
            const int bottom = 38 + fl + Sin1024(x * 40 + f * 45) * 3 / 1024;
            for (int y = 20 + fl; y <= bottom; ++y)
                c.Plot(x, y, Mix(RGB(240, 244, 255), RGB(168, 184, 224), (y - 20 - fl) * 256 / 20));
        }
        c.Ellipse(19, 18 + fl, 2, 4, Ink);
        c.Ellipse(29, 18 + fl, 2, 4, Ink);
        c.Ellipse(24, 27 + fl, 3, 2, Ink);
        c.Outline(RGB(64, 72, 120));
        frames.push_back(Frame(c, true, sheet, 16 + f));
    }
    return frames;
}

// Inventory items, 32 x 32.
std::vector<DemoFrame> ItemSheet(int sheet) {
    std::vector<DemoFrame> frames;
    const auto potion = [](Canvas& c, TColor liquid) {
        c.Rect(13, 5, 19, 12, RGB(200, 224, 232));
        c.Rect(12, 2, 20, 6, RGB(152, 104, 56));
        c.Shaded(16, 20, 10, 9, RGB(176, 208, 224), RGB(240, 248, 255));
        c.Shaded(16, 22, 8, 6, Shade(liquid, 60), Shade(liquid, 140));
        c.Rect(11, 15, 13, 19, RGB(255, 255, 255));
    };
    const auto gem = [](Canvas& c, TColor col) {
        c.Polygon({{10, 6}, {22, 6}, {28, 13}, {16, 28}, {4, 13}}, Shade(col, 80));
        c.Polygon({{10, 6}, {22, 6}, {24, 13}, {8, 13}}, Shade(col, 140));
        c.Polygon({{8, 13}, {24, 13}, {16, 28}}, col);
        c.Rect(11, 8, 14, 10, RGB(255, 255, 255));
    };
    for (int item = 0; item < 16; ++item) {
        Canvas c(32, 32);
        switch (item) {
        case 0:
            potion(c, RGB(224, 40, 40));
            break;
        case 1:
            potion(c, RGB(48, 96, 232));
            break;
        case 2:
            potion(c, RGB(64, 200, 64));
            break;
        case 3: // sword
            c.Line(10, 22, 26, 6, 3, RGB(208, 216, 232));
            c.Line(11, 21, 25, 7, 1, RGB(255, 255, 255));
            c.Line(6, 18, 14, 26, 2, RGB(224, 176, 48));
            c.Line(5, 27, 9, 23, 3, RGB(112, 64, 32));
            c.Disc(4, 28, 2, RGB(224, 176, 48));
            break;
        case 4: // shield
            c.Polygon({{4, 4}, {28, 4}, {28, 16}, {16, 29}, {4, 16}}, RGB(176, 40, 48));
            c.Rect(14, 5, 18, 26, RGB(240, 208, 80));
            c.Rect(5, 10, 27, 14, RGB(240, 208, 80));
            break;
        case 5: // key
            c.Ring(9, 16, 6, 3, RGB(232, 184, 48));
            c.Rect(15, 15, 29, 18, RGB(232, 184, 48));
            c.Rect(23, 18, 25, 23, RGB(232, 184, 48));
            c.Rect(27, 18, 29, 21, RGB(232, 184, 48));
            break;
        case 6:
            gem(c, RGB(224, 32, 64));
            break;
        case 7:
            gem(c, RGB(32, 200, 96));
            break;
        case 8:
            gem(c, RGB(48, 112, 240));
            break;
        case 9: // ring
            c.Ring(16, 19, 10, 6, RGB(232, 184, 48));
            c.Shaded(16, 8, 4, 4, RGB(128, 16, 160), RGB(240, 160, 255));
            break;
        case 10: // scroll
            c.Rect(7, 6, 25, 26, RGB(240, 224, 176));
            c.Ellipse(16, 6, 11, 3, RGB(216, 192, 136));
            c.Ellipse(16, 26, 11, 3, RGB(216, 192, 136));
            for (int y = 10; y < 23; y += 3)
                c.Rect(10, y, 22 - (y % 2) * 3, y + 1, RGB(120, 96, 72));
            break;
        case 11: // heart
            c.Disc(10, 11, 6, RGB(224, 32, 56));
            c.Disc(21, 11, 6, RGB(224, 32, 56));
            c.Polygon({{4, 13}, {27, 13}, {16, 27}}, RGB(224, 32, 56));
            c.Disc(9, 9, 2, RGB(255, 176, 176));
            break;
        case 12: { // star
            std::vector<Point> pts;
            for (int k = 0; k < 10; ++k) {
                const int r = k % 2 == 0 ? 14 : 6;
                pts.push_back({16 + Sin1024(k * 36) * r / 1024, 17 - Cos1024(k * 36) * r / 1024});
            }
            c.Polygon(pts, RGB(255, 216, 48));
            break;
        }
        case 13: // apple
            c.Shaded(16, 18, 11, 10, RGB(160, 16, 24), RGB(255, 120, 104));
            c.Line(16, 8, 18, 3, 2, RGB(96, 64, 32));
            c.Ellipse(21, 5, 4, 2, RGB(64, 168, 56));
            break;
        case 14: // bomb
            c.Shaded(15, 19, 10, 10, RGB(24, 24, 40), RGB(120, 120, 152));
            c.Rect(13, 7, 18, 10, RGB(80, 80, 96));
            c.Line(17, 7, 22, 3, 1, RGB(176, 144, 96));
            c.Disc(24, 3, 2, RGB(255, 200, 64));
            break;
        default: // axe
            c.Line(8, 28, 22, 6, 3, RGB(128, 80, 40));
            c.Polygon({{17, 6}, {28, 3}, {30, 14}, {22, 14}}, RGB(192, 200, 216));
            break;
        }
        c.Outline(Ink);
        frames.push_back(Frame(c, true, sheet, item));
    }
    return frames;
}

// An explosion (raw) and sparkles.
std::vector<DemoFrame> EffectSheet(int sheet) {
    std::vector<DemoFrame> frames;
    for (int f = 0; f < 12; ++f) {
        Canvas c(96, 96);
        const int radius = 14 + f * 3;
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const int d = ISqrt((x - 48) * (x - 48) + (y - 48) * (y - 48));
                const int n = Noise(x, y, 8, 77 + static_cast<std::uint32_t>(f));
                const int heat = 256 - d * 200 / radius + (n - 128) / 2 - f * 9;
                if (heat <= 0 || d > radius + 6)
                    continue;
                const TColor col = heat > 210   ? RGB(255, 252, 224)
                                   : heat > 160 ? RGB(255, 224, 72)
                                   : heat > 110 ? RGB(248, 144, 32)
                                   : heat > 60  ? RGB(208, 56, 24)
                                                : RGB(96, 80, 88);
                c.Plot(x, y, col);
            }
        frames.push_back(Frame(c, false, sheet, f));
    }
    for (int f = 0; f < 8; ++f) {
        Canvas c(32, 32);
        const int len = 3 + (f < 4 ? f : 7 - f) * 3;
        c.Line(16 - len, 16, 16 + len, 16, 1, RGB(160, 232, 255));
        c.Line(16, 16 - len, 16, 16 + len, 1, RGB(160, 232, 255));
        c.Line(16 - len / 2, 16 - len / 2, 16 + len / 2, 16 + len / 2, 1, RGB(96, 176, 240));
        c.Line(16 - len / 2, 16 + len / 2, 16 + len / 2, 16 - len / 2, 1, RGB(96, 176, 240));
        c.Disc(16, 16, 1 + len / 4, RGB(255, 255, 255));
        frames.push_back(Frame(c, true, sheet, 12 + f));
    }
    return frames;
}

int Ridge(int x, std::uint32_t seed, int amplitude) {
    return (Noise(x, 0, 80, seed) * amplitude * 2 + Noise(x, 0, 24, seed + 9) * amplitude) / 768;
}

// Backdrops, up to the full 640 x 480 frame.
std::vector<DemoFrame> SkySheet(int sheet) {
    std::vector<DemoFrame> frames;
    { // Sunset over mountains and a lake: every pixel drawn, stored raw: the largest icon.
        Canvas c(640, 480);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                TColor col = y < 200 ? Mix(RGB(24, 32, 96), RGB(200, 80, 120), y * 256 / 200)
                             : y < 320
                                 ? Mix(RGB(200, 80, 120), RGB(255, 184, 96), (y - 200) * 256 / 120)
                                 : RGB(255, 184, 96);
                const int dsun = ISqrt((x - 460) * (x - 460) + (y - 236) * (y - 236));
                if (dsun < 44)
                    col = RGB(255, 240, 176);
                else if (dsun < 90)
                    col = Mix(RGB(255, 224, 144), col, (dsun - 44) * 256 / 46);
                const int far = 300 - Ridge(x, 5, 120);
                const int near = 340 - Ridge(x + 1000, 11, 90);
                if (y > far)
                    col = Mix(RGB(136, 72, 128), RGB(96, 48, 104), (y - far) * 2);
                if (y > near)
                    col = Mix(RGB(72, 40, 88), RGB(40, 24, 56), (y - near) * 2);
                if (y >= 380) { // the lake mirrors the sky in broken stripes
                    const int my = 2 * 380 - y - 40;
                    const TColor sky =
                        my < 200
                            ? Mix(RGB(24, 32, 96), RGB(200, 80, 120), my * 256 / 200)
                            : Mix(RGB(200, 80, 120), RGB(255, 184, 96), (my - 200) * 256 / 120);
                    col = Mix(sky, RGB(32, 40, 96), 96 + (y - 380));
                    if (Hash(x / 12, y / 3, 3) % 7 == 0 && std::abs(x - 460) < 60 + (y - 380))
                        col = RGB(255, 216, 144);
                }
                c.Plot(x, y, col);
            }
        frames.push_back(Frame(c, false, sheet, 0));
    }
    { // Night sky with a crescent moon.
        Canvas c(320, 240);
        c.Gradient(0, 0, 320, 240, RGB(8, 8, 40), RGB(40, 48, 112), 8);
        for (int k = 0; k < 90; ++k) {
            const std::uint32_t h = Hash(k, 0, 21);
            const int x = static_cast<int>(h % 320), y = static_cast<int>((h >> 9) % 200);
            c.Plot(x, y, k % 5 == 0 ? RGB(255, 240, 176) : RGB(216, 224, 255));
            if (k % 9 == 0) {
                c.Plot(x + 1, y, RGB(160, 176, 232));
                c.Plot(x, y + 1, RGB(160, 176, 232));
            }
        }
        for (int y = 30; y < 90; ++y)
            for (int x = 220; x < 280; ++x) {
                const int a = (x - 250) * (x - 250) + (y - 60) * (y - 60);
                const int b = (x - 262) * (x - 262) + (y - 52) * (y - 52);
                if (a <= 26 * 26 && b > 24 * 24)
                    c.Plot(x, y, Mix(RGB(255, 248, 208), RGB(216, 200, 144), (y - 34) * 4));
            }
        frames.push_back(Frame(c, true, sheet, 1));
    }
    for (int k = 0; k < 3; ++k) { // clouds
        Canvas c(128, 64);
        for (int b = 0; b < 7; ++b) {
            const std::uint32_t h = Hash(b, k, 33);
            const int cx = 20 + b * 14 + static_cast<int>(h % 9);
            const int r = 12 + static_cast<int>((h >> 8) % 10) - std::abs(b - 3) * 2;
            c.Shaded(cx, 40 - r / 3, r, r * 3 / 4, RGB(176, 184, 208), RGB(255, 255, 255));
        }
        frames.push_back(Frame(c, true, sheet, 2 + k));
    }
    const std::array<TColor, 3> hills = {RGB(104, 160, 96), RGB(64, 128, 64), RGB(40, 88, 48)};
    for (int k = 0; k < 3; ++k) { // hill layers
        Canvas c(640, 120);
        for (int x = 0; x < 640; ++x) {
            const int top =
                20 + k * 10 + Ridge(x + k * 500, 40 + static_cast<std::uint32_t>(k), 80);
            for (int y = top; y < 120; ++y)
                c.Plot(x, y,
                       y < top + 3 ? Shade(hills[static_cast<std::size_t>(k)], 130)
                                   : hills[static_cast<std::size_t>(k)]);
        }
        frames.push_back(Frame(c, true, sheet, 5 + k));
    }
    { // rainbow
        Canvas c(200, 100);
        const std::array<TColor, 6> bands = {RGB(232, 48, 48),  RGB(248, 152, 40),
                                             RGB(248, 232, 64), RGB(72, 192, 72),
                                             RGB(64, 120, 232), RGB(144, 72, 200)};
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x) {
                const int d = ISqrt((x - 100) * (x - 100) + (y - 100) * (y - 100));
                const int band = (96 - d) / 6;
                if (d <= 96 && band >= 0 && band < 6)
                    c.Plot(x, y, bands[static_cast<std::size_t>(band)]);
            }
        frames.push_back(Frame(c, true, sheet, 8));
    }
    { // title
        Canvas c(400, 64);
        const std::string title = "KIV UTILITIES";
        ShadowText(c, title, (400 - TextWidth(title, 5)) / 2, 12, 5, RGB(255, 240, 120),
                   RGB(232, 96, 40), RGB(64, 24, 48));
        c.Outline(RGB(24, 8, 32));
        frames.push_back(Frame(c, true, sheet, 9));
    }
    return frames;
}

// Faces on coloured backgrounds, stored raw.
std::vector<DemoFrame> PortraitSheet(int sheet) {
    std::vector<DemoFrame> frames;
    const std::array<TColor, 5> skins = {RGB(252, 216, 184), RGB(232, 184, 144), RGB(200, 144, 104),
                                         RGB(152, 104, 72), RGB(104, 72, 48)};
    const std::array<TColor, 5> hairs = {RGB(40, 32, 32), RGB(136, 80, 40), RGB(232, 200, 96),
                                         RGB(200, 72, 40), RGB(208, 208, 216)};
    const std::array<TColor, 5> eyes = {RGB(64, 120, 200), RGB(80, 56, 32), RGB(72, 152, 88),
                                        RGB(96, 96, 112), RGB(48, 40, 32)};
    for (int p = 0; p < 10; ++p) {
        Canvas c(96, 112);
        const std::uint32_t h = Hash(p, 0, 55);
        const TColor bg = Mix(RGB(64, 96, 160), RGB(160, 96, 128), static_cast<int>(h % 257));
        c.Gradient(0, 0, 96, 112, Shade(bg, 140), Shade(bg, 60), 4);
        const TColor skin = skins[static_cast<std::size_t>(p % 5)];
        const TColor hair = hairs[static_cast<std::size_t>((p * 3) % 5)];
        const TColor cloth =
            Mix(RGB(200, 48, 48), RGB(48, 80, 200), static_cast<int>((h >> 8) % 257));
        c.Shaded(48, 116, 42, 26, Shade(cloth, 60), Shade(cloth, 130));
        c.Rect(40, 74, 56, 94, Shade(skin, 85));
        if (p % 4 == 1) // long hair behind the head
            c.Rect(22, 36, 74, 90, Shade(hair, 80));
        c.Shaded(48, 52, 24, 30, Shade(skin, 80), RGB(255, 240, 224));
        if (p % 4 != 3)
            c.Shaded(48, 30, 26, 14, Shade(hair, 60), Shade(hair, 140));
        else // a hat
            c.Rect(18, 22, 78, 30, Shade(cloth, 80)), c.Rect(28, 6, 68, 24, Shade(cloth, 110));
        for (int side = -1; side <= 1; side += 2) {
            const int ex = 48 + side * 10;
            c.Ellipse(ex, 50, 5, 3, RGB(255, 255, 255));
            c.Disc(ex, 50, 2, eyes[static_cast<std::size_t>((p + 2) % 5)]);
            c.Plot(ex, 50, Ink);
            c.Rect(ex - 5, 43 - (p % 3 == 0 ? 1 : 0), ex + 5, 45 - (p % 3 == 0 ? 1 : 0),
                   Shade(hair, 70));
        }
        c.Rect(47, 54, 49, 62, Shade(skin, 80));
        for (int x = 40; x <= 56; ++x) // a smile
            c.Plot(x, 68 + (64 - (x - 48) * (x - 48)) / 24, RGB(168, 64, 72));
        if (p % 5 == 2) { // a beard
            for (int y = 64; y < 84; ++y)
                for (int x = 30; x < 66; ++x)
                    if ((x - 48) * (x - 48) * 4 + (y - 64) * (y - 64) * 9 < 20 * 20 * 4 &&
                        !(y < 72 && std::abs(x - 48) < 7))
                        c.Plot(x, y, Shade(hair, 90));
        }
        frames.push_back(Frame(c, false, sheet, p));
    }
    return frames;
}

// Mouse cursors.
std::vector<DemoFrame> CursorSheet(int sheet) {
    std::vector<DemoFrame> frames;
    const std::vector<Point> arrow = {{2, 2},   {2, 24},  {8, 18}, {13, 28},
                                      {17, 26}, {12, 17}, {20, 17}};
    const std::array<TColor, 3> arrowColours = {RGB(255, 255, 255), RGB(120, 200, 255),
                                                RGB(255, 216, 96)};
    int index = 0;
    for (const TColor col : arrowColours) {
        Canvas c(32, 32);
        c.Polygon(arrow, col);
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    for (int k = 0; k < 2; ++k) { // cross-hairs
        Canvas c(32, 32);
        const TColor col = k == 0 ? RGB(255, 64, 64) : RGB(64, 255, 128);
        c.Ring(16, 16, 10, 8, col);
        c.Rect(15, 2, 17, 12, col);
        c.Rect(15, 20, 17, 30, col);
        c.Rect(2, 15, 12, 17, col);
        c.Rect(20, 15, 30, 17, col);
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    for (int k = 0; k < 4; ++k) { // hourglass, the sand running down
        Canvas c(32, 32);
        c.Rect(7, 2, 25, 5, RGB(136, 88, 48));
        c.Rect(7, 27, 25, 30, RGB(136, 88, 48));
        c.Polygon({{9, 5}, {23, 5}, {17, 16}, {23, 27}, {9, 27}, {15, 16}}, RGB(216, 232, 240));
        const int top = 6 + k * 2, bottom = 26 - k * 2;
        c.Polygon({{9 + (top - 5) / 2, top}, {23 - (top - 5) / 2, top}, {16, 15}},
                  RGB(232, 192, 96));
        c.Polygon({{16, bottom}, {23, 27}, {9, 27}}, RGB(232, 192, 96));
        c.Line(16, 15, 16, 26, 1, RGB(232, 192, 96));
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    { // pointing hand
        Canvas c(32, 32);
        c.Rect(10, 2, 15, 16, RGB(252, 216, 184));
        c.Rect(8, 14, 24, 28, RGB(252, 216, 184));
        c.Rect(15, 12, 24, 16, RGB(236, 196, 160));
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    { // move: four arrows
        Canvas c(32, 32);
        const TColor col = RGB(255, 255, 255);
        c.Rect(15, 6, 17, 26, col);
        c.Rect(6, 15, 26, 17, col);
        c.Polygon({{16, 1}, {21, 7}, {11, 7}}, col);
        c.Polygon({{16, 31}, {21, 25}, {11, 25}}, col);
        c.Polygon({{1, 16}, {7, 11}, {7, 21}}, col);
        c.Polygon({{31, 16}, {25, 11}, {25, 21}}, col);
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    { // text beam
        Canvas c(32, 32);
        c.Rect(15, 5, 17, 27, RGB(255, 255, 255));
        c.Rect(11, 4, 21, 6, RGB(255, 255, 255));
        c.Rect(11, 26, 21, 28, RGB(255, 255, 255));
        c.Outline(RGB(0, 0, 0));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    return frames;
}

void Bevel(Canvas& c, int w, int h, TColor face) {
    c.Gradient(0, 0, w, h, Shade(face, 115), Shade(face, 85), 4);
    c.Rect(0, 0, w, 2, Shade(face, 160));
    c.Rect(0, 0, 2, h, Shade(face, 160));
    c.Rect(0, h - 2, w, h, Shade(face, 50));
    c.Rect(w - 2, 0, w, h, Shade(face, 50));
    c.Rect(5, 5, w - 5, 6, Shade(face, 60));
    c.Rect(5, 5, 6, h - 5, Shade(face, 60));
    c.Rect(5, h - 6, w - 5, h - 5, Shade(face, 140));
    c.Rect(w - 6, 5, w - 5, h - 5, Shade(face, 140));
}

// Windows, bars and a map for a game's interface.
std::vector<DemoFrame> PanelSheet(int sheet) {
    std::vector<DemoFrame> frames;
    int index = 0;
    const TColor stone = RGB(112, 104, 128), wood = RGB(152, 104, 64), night = RGB(48, 56, 104);
    struct PanelLook {
        int W, H;
        TColor Face;
        const char* Caption;
        std::vector<std::string> Lines;
    };
    const std::array<PanelLook, 6> looks = {
        {{200, 150, stone, "INVENTORY", {"GOLD: 120", "KEYS: 2", "POTIONS: 3"}},
         {320,
          200,
          wood,
          "QUEST LOG",
          {"- FIND THE OLD KEY", "- SLAY 3 SLIMES", "- RETURN TO TOWN"}},
         {400, 300, night, "OPTIONS", {"MUSIC: ON", "SOUND: ON", "SPEED: FAST", "LANGUAGE: EN"}},
         {160, 64, stone, "SCORE: 0", {}},
         {300, 80, wood, "HELLO, TRAVELER!", {"THE CAVE LIES TO THE NORTH."}},
         {240, 48, night, "LEVEL 1", {}}}};
    for (const PanelLook& s : looks) {
        Canvas c(s.W, s.H);
        Bevel(c, s.W, s.H, s.Face);
        const std::string caption = s.Caption;
        ShadowText(c, caption, (s.W - TextWidth(caption, 2)) / 2, s.H > 64 ? 12 : (s.H - 14) / 2, 2,
                   RGB(255, 248, 216), RGB(232, 200, 120), Shade(s.Face, 40));
        const int scale = s.H >= 150 ? 2 : 1;
        int y = 12 + 14 + 12;
        for (const std::string& line : s.Lines) {
            ShadowText(c, line, 16, y, scale, RGB(240, 240, 248), RGB(200, 208, 224),
                       Shade(s.Face, 40));
            y += 10 * scale + 4;
        }
        frames.push_back(Frame(c, true, sheet, index++));
    }
    { // inventory slots
        Canvas c(128, 128);
        Bevel(c, 128, 128, stone);
        for (int gy = 0; gy < 4; ++gy)
            for (int gx = 0; gx < 4; ++gx) {
                const int x = 10 + gx * 28, y = 10 + gy * 28;
                c.Rect(x, y, x + 24, y + 24, RGB(56, 48, 64));
                c.Rect(x + 1, y + 1, x + 23, y + 23, RGB(80, 72, 96));
            }
        frames.push_back(Frame(c, true, sheet, index++));
    }
    for (int k = 0; k < 2; ++k) { // health and mana bars
        Canvas c(180, 24);
        const TColor fill = k == 0 ? RGB(216, 40, 48) : RGB(48, 96, 232);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 180; ++x)
                if (c.InRoundRect(x, y, 0, 0, 180, 24, 6))
                    c.Plot(x, y, RGB(32, 24, 40));
        for (int y = 4; y < 20; ++y)
            for (int x = 4; x < 4 + (k == 0 ? 130 : 90); ++x)
                c.Plot(x, y, Mix(Shade(fill, 150), Shade(fill, 70), (y - 4) * 16));
        frames.push_back(Frame(c, true, sheet, index++));
    }
    { // a world map, stored raw
        Canvas c(256, 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const int edge = std::min({x, y, 255 - x, 255 - y});
                const int height = Fractal(x, y, 99) - std::max(0, 40 - edge) * 3;
                const TColor col = height < 90    ? RGB(32, 72, 160)
                                   : height < 110 ? RGB(56, 112, 200)
                                   : height < 118 ? RGB(232, 216, 152)
                                   : height < 150 ? RGB(88, 168, 72)
                                   : height < 175 ? RGB(40, 112, 56)
                                   : height < 200 ? RGB(128, 112, 104)
                                                  : RGB(248, 248, 255);
                c.Plot(x, y, edge < 3 ? RGB(72, 48, 32) : col);
            }
        frames.push_back(Frame(c, false, sheet, index++));
    }
    return frames;
}

// ---------------------------------------------------------------------------------------
// Encoding

// The icon's header (Starts left 0) and data.
std::pair<kiv::TIconHeader, std::vector<std::uint8_t>> EncodeFrame(const DemoFrame& frame) {
    if (!kiv::ReencodePictureFault(frame.Picture).empty())
        throw std::logic_error("demo frame without icon pixels");
    kiv::EncodedIcon icon = kiv::EncodeIcon(frame.Picture, frame.RunLength);
    icon.Header.Aux = frame.Aux;
    if (icon.Header.Bytes > 614400)
        throw std::logic_error("demo icon too large");
    return {icon.Header, std::move(icon.Data)};
}

void PutWord(std::vector<std::uint8_t>& out, std::size_t at, std::int32_t value) {
    kiv::PutInt32LE(out.data() + at, value);
}

} // namespace

std::vector<DemoMember> DemoMembers() {
    using Sheet = std::vector<DemoFrame> (*)(int);
    const std::array<std::pair<const char*, Sheet>, 12> sheets = {{
        {"hero.s16", HeroSheet},
        {"tiles.s16", TileSheet},
        {"coins.s16", CoinSheet},
        {"buttons.s16", ButtonSheet},
        {"font.s16", FontSheet},
        {"enemies.s16", EnemySheet},
        {"items.s16", ItemSheet},
        {"fx.s16", EffectSheet},
        {"sky.s16", SkySheet},
        {"portrait.s16", PortraitSheet},
        {"cursors.s16", CursorSheet},
        {"panels.s16", PanelSheet},
    }};
    std::vector<DemoMember> members;
    int sheet = 1;
    for (const auto& [name, draw] : sheets)
        members.push_back({name, draw(sheet++)});
    return members;
}

std::vector<std::uint8_t> BuildDemoSprite(const std::vector<DemoFrame>& frames) {
    const std::size_t n = frames.size();
    std::vector<std::uint8_t> out(4 + kiv::IconHeaderSize * n, 0);
    PutWord(out, 0, static_cast<std::int32_t>(n));
    std::int32_t starts = 0;
    for (std::size_t i = 0; i < n; ++i) {
        auto [header, data] = EncodeFrame(frames[i]);
        header.Starts = starts;
        header.ToBytes(out.data() + 4 + kiv::IconHeaderSize * i);
        out.insert(out.end(), data.begin(), data.end());
        starts += header.Bytes;
    }
    return out;
}

std::vector<std::uint8_t> BuildDemoArchive() {
    const std::vector<DemoMember> members = DemoMembers();
    const std::size_t n = members.size();
    std::vector<std::uint8_t> out(8 + kiv::ArchiveEntrySize * n, 0);
    PutWord(out, 0, static_cast<std::int32_t>(n));
    PutWord(out, 4, static_cast<std::int32_t>(out.size()));
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<std::uint8_t> sprite = BuildDemoSprite(members[i].Frames);
        out.insert(out.end(), sprite.begin(), sprite.end());
        const std::size_t entry = 8 + kiv::ArchiveEntrySize * i;
        std::copy(members[i].Name.begin(), members[i].Name.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(entry));
        PutWord(out, entry + kiv::ArchiveNameSize, static_cast<std::int32_t>(out.size()));
    }
    return out;
}

int DemoCommand(const Context& ctx, const std::string& dir) {
    return Guarded(ctx, [&] {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!std::filesystem::is_directory(dir))
            return Fail(ctx, "Cannot create folder " + dir);
        const std::string path = (std::filesystem::path(dir) / "Modgen.dat").string();
        const std::vector<std::uint8_t> archive = BuildDemoArchive();
        kiv::WriteWholeFile(path, archive.data(), archive.size());
        ctx.out << path << '\n';
        return ExitOk;
    });
}

} // namespace kivtool
