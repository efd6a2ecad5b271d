// Demo sheets of characters: the hero, the enemies and the portraits.

#include "Drawing.h"

namespace kivtool::demo {

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

} // namespace kivtool::demo
