#include "sprite/IconDecoder.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace kiv;
using namespace kivtest;

namespace {

constexpr std::uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F;
constexpr TColor cRed = 0x000000F8, cGreen = 0x0000FC00, cBlue = 0x00F80000;

TIconHeader Header(int width, int height, int startX, int startY, int fwidth, int fheight,
                   int compress) {
    return kivtest::MakeHeader(width, height, startX, startY, fwidth, fheight, compress);
}

Bytes RawData(const std::vector<std::uint16_t>& pixels) {
    Bytes out;
    for (auto p : pixels)
        PutLE16(out, p);
    return out;
}

Bytes RunData(const std::vector<std::pair<int, std::uint16_t>>& runs) {
    Bytes out;
    for (const auto& [length, value] : runs) {
        out.push_back(static_cast<std::uint8_t>(length));
        PutLE16(out, value);
    }
    return out;
}

// Decodes `data` placed after `lead` bytes of padding in a scratch file.
struct Decoded {
    Image Frame;
    DecodeStats Stats;
    std::int64_t Position = 0;
};
Decoded DecodeIn(const ScratchDir& dir, const TIconHeader& h, const Bytes& data,
                 std::size_t lead = 5) {
    Bytes file(lead + data.size(), 0xEE);
    std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(lead));
    // A fresh name each time: rewriting one file in place makes some file systems flush it.
    static int serial = 0;
    const std::string path = dir.File("icon" + std::to_string(serial++) + ".bin");
    WriteFile(path, file);
    auto in = InFile::Open(path);
    Decoded d;
    d.Frame = DecodeIcon(*in, static_cast<std::int64_t>(lead), h, &d.Stats);
    d.Position = in->Position() - static_cast<std::int64_t>(lead);
    return d;
}
Decoded DecodeBytes(const TIconHeader& h, const Bytes& data) {
    ScratchDir dir;
    return DecodeIn(dir, h, data);
}

// The decoder as the format describes it: one pixel at a time, every pixel through the
// clipped setter. The fast decoder must agree with it on every frame and byte count.
Decoded Reference(const TIconHeader& h, const Bytes& data) {
    Decoded d;
    d.Frame = Image(std::max(h.FWidth, 0), std::max(h.FHeight, 0));
    d.Frame.Fill(BackColor);
    const std::int64_t n = static_cast<std::int64_t>(h.Width) * h.Height;
    if (n <= 0)
        return d;
    std::size_t at = 0;
    auto paint = [&](std::int64_t k, TColor c) {
        d.Frame.SetPixel(static_cast<int>(h.StartX + k % h.Width),
                         static_cast<int>(h.StartY + k / h.Width), c);
    };
    for (std::int64_t k = 0; k < n;) {
        const std::size_t need = h.Compress == 1 ? 3 : 2;
        if (data.size() - at < need) {
            d.Stats.EndedEarly = true;
            at = data.size();
            break;
        }
        if (h.Compress == 1) {
            const TColor c = UnpackPixel(data[at + 1], data[at + 2]);
            for (int j = 0; j < data[at]; ++j)
                paint(k + j, c);
            k += data[at];
        } else {
            paint(k++, UnpackPixel(data[at], data[at + 1]));
        }
        at += need;
    }
    d.Stats.BytesRead = static_cast<std::int64_t>(at);
    return d;
}

int CountOf(const Image& image, TColor color) {
    int n = 0;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            n += image.Pixel(x, y) == color;
    return n;
}

} // namespace

TEST(IconDecoder, PaintsTheBoxInABackColorFrameRawOrAsRuns) {
    std::vector<std::uint16_t> pixels;
    for (int k = 0; k < 8; ++k)
        pixels.push_back(static_cast<std::uint16_t>(0x0841 * (k + 1)));
    auto d = DecodeBytes(Header(4, 2, 2, 3, 10, 8, 0), RawData(pixels));
    EXPECT_EQ(CountOf(d.Frame, BackColor), 72);
    EXPECT_EQ(d.Frame.Pixel(5, 4), UnpackPixel(0x08, 0x42));

    // Every 16-bit value, raw; the brightest is not white.
    std::vector<std::uint16_t> all(65536);
    for (unsigned p = 0; p < all.size(); ++p)
        all[p] = static_cast<std::uint16_t>(p);
    d = DecodeBytes(Header(256, 256, 0, 0, 256, 256, 0), RawData(all));
    for (unsigned p = 0; p < all.size(); ++p)
        ASSERT_EQ(d.Frame.Pixel(p % 256, p / 256), UnpackPixel(p & 0xFF, p >> 8)) << p;
    EXPECT_EQ(d.Frame.Pixel(255, 255), 0x00F8FCF8u);

    // Only Compress 1 means runs: the same bytes read raw are three pixels.
    const Bytes data = RunData({{2, kRed}, {1, kGreen}});
    for (int compress : {0, 2, -1})
        EXPECT_EQ(DecodeBytes(Header(3, 1, 0, 0, 3, 1, compress), data).Frame.Pixel(0, 0),
                  UnpackPixel(0x02, 0x00));

    // A run of 5 in a box 3 wide fills row 0 and two pixels of row 1; a run of 0 paints
    // nothing and the next run starts where it stood.
    d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1), RunData({{5, kRed}, {0, kGreen}, {1, kBlue}}));
    EXPECT_EQ(CountOf(d.Frame, cRed), 5);
    EXPECT_EQ(d.Frame.Pixel(1, 1), cRed);
    EXPECT_EQ(d.Frame.Pixel(2, 1), cBlue);
    EXPECT_EQ(d.Stats.BytesRead, 9);

    // The last run is painted whole, on the rows below the box; what follows is not read.
    d = DecodeBytes(Header(3, 2, 1, 0, 5, 5, 1), RunData({{4, kRed}, {8, kGreen}, {9, kBlue}}));
    EXPECT_EQ(d.Frame.Pixel(2, 1), cGreen);
    EXPECT_EQ(d.Frame.Pixel(3, 3), cGreen);
    EXPECT_EQ(d.Frame.Pixel(1, 4), BackColor);
    EXPECT_EQ(CountOf(d.Frame, cGreen), 8);
    EXPECT_EQ(d.Stats.BytesRead, 6);
    EXPECT_EQ(d.Position, 6);

    // A box past the frame's right edge is cut there, not wrapped onto the next row.
    d = DecodeBytes(Header(3, 2, 2, 0, 4, 3, 0), RawData({kRed, kRed, kBlue, kBlue, kRed, kRed}));
    EXPECT_EQ(d.Frame.Pixel(0, 1), BackColor);
    EXPECT_EQ(CountOf(d.Frame, cBlue), 1);
}

TEST(IconDecoder, ReadsTwoBytesAPixelRawAndThreeARunUntilThePixelsAreDone) {
    const Bytes plenty = RawData(std::vector<std::uint16_t>(20, kRed));
    EXPECT_EQ(DecodeBytes(Header(3, 2, 0, 0, 3, 2, 0), plenty).Position, 12);
    const Bytes runs = RunData({{2, kRed}, {0, kRed}, {3, kRed}, {2, kRed}, {9, kRed}});
    EXPECT_EQ(DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1), runs).Position, 3 * 4);
    for (auto h : {Header(0, 5, 0, 0, 3, 3, 0), Header(5, -1, 0, 0, 3, 3, 1),
                   Header(-2, 0, 0, 0, 3, 3, 0)}) {
        const auto d = DecodeBytes(h, plenty);
        EXPECT_EQ(d.Stats.BytesRead, 0);
        EXPECT_EQ(CountOf(d.Frame, BackColor), 9);
    }
    // Both sides negative: 4 pixels, rightwards from StartX and upwards from StartY.
    auto d = DecodeBytes(Header(-2, -2, 0, 2, 3, 3, 0), RawData({kRed, kGreen, kBlue, kRed}));
    EXPECT_EQ(d.Position, 8);
    EXPECT_EQ(d.Frame.Pixel(1, 2), cGreen);
    EXPECT_EQ(d.Frame.Pixel(0, 1), cBlue);
    EXPECT_EQ(CountOf(d.Frame, BackColor), 5);
}

TEST(IconDecoder, AgreesWithAPixelByPixelDecoderOnRandomIcons) {
    // Clipping on every side, runs across rows and past the box, zero runs, short data.
    ScratchDir dir;
    std::mt19937 rng(1234);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 3000; ++round) {
        const TIconHeader h = Header(pick(-4, 7), pick(-4, 6), pick(-5, 8), pick(-5, 8),
                                     pick(-1, 8), pick(-1, 8), pick(0, 2));
        Bytes data(static_cast<std::size_t>(pick(0, 60)));
        for (auto& b : data)
            b = static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(0, 3) : pick(0, 255));
        const auto want = Reference(h, data);
        const auto got = DecodeIn(dir, h, data);
        ASSERT_EQ(got.Frame, want.Frame) << "round " << round;
        ASSERT_EQ(got.Stats.BytesRead, want.Stats.BytesRead) << "round " << round;
        ASSERT_EQ(got.Stats.EndedEarly, want.Stats.EndedEarly) << "round " << round;
        ASSERT_EQ(got.Position, want.Stats.BytesRead) << "round " << round;
    }
}

TEST(IconDecoder, DataEndingEarlyKeepsWhatWasPainted) {
    // A full-size raw icon cut in its 301st row, far into the second block of rows read.
    std::vector<std::uint16_t> rows(640 * 300 + 1, kGreen);
    auto d = DecodeBytes(Header(640, 480, 0, 0, 640, 480, 0), RawData(rows));
    EXPECT_TRUE(d.Stats.EndedEarly);
    EXPECT_EQ(d.Stats.BytesRead, 2 * (640 * 300 + 1));
    EXPECT_EQ(CountOf(d.Frame, cGreen), 640 * 300 + 1);
    EXPECT_EQ(d.Frame.Pixel(1, 300), BackColor);

    // Runs: the second run is cut after its length byte.
    d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1), {4, 0x00, 0xF8, 2});
    EXPECT_TRUE(d.Stats.EndedEarly);
    EXPECT_EQ(CountOf(d.Frame, cRed), 4);
    EXPECT_EQ(d.Stats.BytesRead, 4);

    // Data said to start past the end, or before the start, of the file.
    ScratchDir dir;
    WriteFile("short.bin", {1, 2, 3});
    auto in = InFile::Open("short.bin");
    DecodeStats stats;
    for (std::int64_t offset : {100, -4}) {
        const Image frame = DecodeIcon(*in, offset, Header(2, 2, 0, 0, 2, 2, 0), &stats);
        EXPECT_TRUE(stats.EndedEarly);
        EXPECT_EQ(CountOf(frame, BackColor), 4);
    }
}

TEST(IconDecoder, HostileHeadersEndQuicklyWithoutHugeFrames) {
    ScratchDir dir;
    WriteFile("icon.bin", RunData({{255, kRed}, {255, kGreen}, {0, 0}}));
    auto in = InFile::Open("icon.bin");
    DecodeStats stats;

    EXPECT_TRUE(DecodeIcon(*in, 0, Header(2, 2, 0, 0, -1, 5, 1)).Empty());
    EXPECT_TRUE(DecodeIcon(*in, 0, Header(2, 2, 0, 0, 5, -9, 0)).Empty());
    EXPECT_THROW(DecodeIcon(*in, 0, Header(2, 2, 0, 0, MaxFrameSide + 1, 1, 0)), EFrameTooLarge);
    EXPECT_THROW(DecodeIcon(*in, 0, Header(2, 2, 0, 0, 1, 0x7FFFFFFF, 1)), EFrameTooLarge);

    // Billions of pixels promised, nine bytes given: decoding ends at the end of the data.
    const int huge = 0x7FFFFFFF;
    for (int compress : {0, 1}) {
        for (int side : {huge, -huge - 1}) {
            const int startY = side > 0 ? 0 : 3;
            const Image frame =
                DecodeIcon(*in, 0, Header(side, side, 0, startY, 600, 4, compress), &stats);
            EXPECT_TRUE(stats.EndedEarly);
            EXPECT_EQ(stats.BytesRead, 9);
            EXPECT_NE(frame.Pixel(0, startY), BackColor);
        }
    }
    // Far-away boxes and positions near the 32-bit limits paint nothing and do not wrap.
    for (const auto& h :
         {Header(huge, huge, huge, huge, 8, 8, 1), Header(huge, 3, -huge - 1, 0, 8, 8, 0),
          Header(1, huge, 0, -huge, 8, 8, 1), Header(3, 3, huge - 1, huge - 1, 8, 8, 1),
          Header(-huge - 1, -huge - 1, 0, huge, 8, 8, 0)})
        EXPECT_EQ(CountOf(DecodeIcon(*in, 0, h), BackColor), 64);
    // Raw rows that would lie near 2^63 bytes past a far offset are not even located.
    const Image far =
        DecodeIcon(*in, std::int64_t{1} << 36, Header(huge, huge, 0, 1 - huge, 8, 8, 0), &stats);
    EXPECT_EQ(CountOf(far, BackColor), 64);
    EXPECT_EQ(stats.BytesRead, 0);
}
