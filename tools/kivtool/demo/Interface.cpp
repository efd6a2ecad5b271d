// Demo sheets of a game's interface: buttons, the title font, cursors, panels.

#include "Drawing.h"

namespace kivtool::demo {

namespace {

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

} // namespace

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

} // namespace kivtool::demo
