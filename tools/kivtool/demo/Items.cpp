// Demo sheets of things to pick up and effects: coins, items, explosions.

#include "Drawing.h"

namespace kivtool::demo {

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

} // namespace kivtool::demo
