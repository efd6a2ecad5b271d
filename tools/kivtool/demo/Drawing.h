#pragma once
// What the demo sheets draw with: integer arithmetic (so every build draws the same
// pixels), the canvas, and a 5 x 7 font.

#include "Demo.h"

#include "image/Image.h"
#include "image/TextFont.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kivtool::demo {

using kiv::Image;
using kiv::RGB;
using kiv::TColor;

// ---------------------------------------------------------------------------------------
// Arithmetic

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed);

// sin of `degrees`, scaled by 1024 (a rational approximation, exact enough to draw with).
int Sin1024(int degrees);
int Cos1024(int degrees);

int ISqrt(std::int64_t v);

// Smooth noise 0..255: hashed lattice values every `scale` pixels, blended bilinearly.
int Noise(int x, int y, int scale, std::uint32_t seed);

int Fractal(int x, int y, std::uint32_t seed);

TColor Mix(TColor a, TColor b, int t); // t 0..256

TColor Shade(TColor c, int percent); // 100 keeps the colour

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
// Text: the 5 x 7 font of image/TextFont.h.

using kiv::Glyph;
using kiv::kFont;

int TextWidth(const std::string& text, int scale);

// Draws `text` with its top-left at (x, y); each row coloured from `top` to `bottom`.
void Text(Canvas& c, const std::string& text, int x, int y, int scale, TColor top, TColor bottom);

void ShadowText(Canvas& c, const std::string& text, int x, int y, int scale, TColor top,
                TColor bottom, TColor shadow);

// ---------------------------------------------------------------------------------------
// The sheets

constexpr TColor Ink = RGB(40, 24, 48);

// The canvas's picture as icon `index` of sheet `sheet`.
DemoFrame Frame(Canvas& c, bool runLength, int sheet, int index);

// Each sheet is one member of the demo archive, drawn for sheet number `sheet`.
std::vector<DemoFrame> HeroSheet(int sheet);
std::vector<DemoFrame> TileSheet(int sheet);
std::vector<DemoFrame> CoinSheet(int sheet);
std::vector<DemoFrame> ButtonSheet(int sheet);
std::vector<DemoFrame> FontSheet(int sheet);
std::vector<DemoFrame> EnemySheet(int sheet);
std::vector<DemoFrame> ItemSheet(int sheet);
std::vector<DemoFrame> EffectSheet(int sheet);
std::vector<DemoFrame> SkySheet(int sheet);
std::vector<DemoFrame> PortraitSheet(int sheet);
std::vector<DemoFrame> CursorSheet(int sheet);
std::vector<DemoFrame> PanelSheet(int sheet);

} // namespace kivtool::demo
