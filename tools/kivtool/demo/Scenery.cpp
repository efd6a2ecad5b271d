// Demo sheets of scenery: ground tiles and backdrops.

#include "Drawing.h"

namespace kivtool::demo {

namespace {

int Ridge(int x, std::uint32_t seed, int amplitude) {
    return (Noise(x, 0, 80, seed) * amplitude * 2 + Noise(x, 0, 24, seed + 9) * amplitude) / 768;
}

} // namespace

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

} // namespace kivtool::demo
