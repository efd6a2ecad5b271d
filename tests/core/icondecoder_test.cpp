#include "sprite/IconDecoder.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace kiv;
using namespace kivtest;

namespace {

constexpr std::uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F, kWhite = 0xFFFF;
constexpr TColor cRed = 0x000000F8, cGreen = 0x0000FC00, cBlue = 0x00F80000;

TIconHeader Header(int width, int height, int startX, int startY, int fwidth, int fheight,
                   int compress) {
    TIconHeader h;
    h.Width = width;
    h.Height = height;
    h.StartX = startX;
    h.StartY = startY;
    h.FWidth = fwidth;
    h.FHeight = fheight;
    h.Compress = compress;
    return h;
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
    if (h.Width <= 0 || h.Height <= 0)
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

TEST(IconDecoder, RawIconPaintsItsBoxInsideABackColorFrame) {
    std::vector<std::uint16_t> pixels;
    for (int k = 0; k < 8; ++k)
        pixels.push_back(static_cast<std::uint16_t>(0x0841 * (k + 1)));
    const auto d = DecodeBytes(Header(4, 2, 2, 3, 10, 8, 0), RawData(pixels));
    ASSERT_EQ(d.Frame.Width(), 10);
    ASSERT_EQ(d.Frame.Height(), 8);
    EXPECT_EQ(CountOf(d.Frame, BackColor), 72);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(d.Frame.Pixel(2 + k % 4, 3 + k / 4),
                  UnpackPixel(pixels[k] & 0xFF, pixels[k] >> 8));
    EXPECT_FALSE(d.Stats.EndedEarly);

    // Every 16-bit value, raw, in a 256 x 256 box.
    std::vector<std::uint16_t> all(65536);
    for (unsigned p = 0; p < all.size(); ++p)
        all[p] = static_cast<std::uint16_t>(p);
    const auto every = DecodeBytes(Header(256, 256, 0, 0, 256, 256, 0), RawData(all));
    for (unsigned p = 0; p < all.size(); ++p)
        ASSERT_EQ(every.Frame.Pixel(p % 256, p / 256), UnpackPixel(p & 0xFF, p >> 8)) << p;

    // The brightest raw pixel is not white.
    EXPECT_EQ(DecodeBytes(Header(1, 1, 0, 0, 1, 1, 0), RawData({kWhite})).Frame.Pixel(0, 0),
              0x00F8FCF8u);
}

TEST(IconDecoder, OnlyCompressOneMeansRuns) {
    // The same six bytes read as three raw pixels, or as two runs.
    const Bytes data = RunData({{2, kRed}, {1, kGreen}});
    for (int compress : {0, 2, -1}) {
        const auto d = DecodeBytes(Header(3, 1, 0, 0, 3, 1, compress), data);
        EXPECT_EQ(d.Frame.Pixel(0, 0), UnpackPixel(0x02, 0x00)) << compress;
        EXPECT_EQ(d.Stats.BytesRead, 6);
    }
    const auto runs = DecodeBytes(Header(3, 1, 0, 0, 3, 1, 1), data);
    EXPECT_EQ(runs.Frame.Pixel(0, 0), cRed);
    EXPECT_EQ(runs.Frame.Pixel(1, 0), cRed);
    EXPECT_EQ(runs.Frame.Pixel(2, 0), cGreen);
}

TEST(IconDecoder, RunsCrossRowEndsSkipZeroLengthsAndOvershootBelowTheBox) {
    // A run of 5 in a box 3 wide fills row 0 and the first two pixels of row 1.
    auto d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1), RunData({{5, kRed}, {1, kBlue}}));
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(d.Frame.Pixel(x, 0), cRed);
    EXPECT_EQ(d.Frame.Pixel(0, 1), cRed);
    EXPECT_EQ(d.Frame.Pixel(1, 1), cRed);
    EXPECT_EQ(d.Frame.Pixel(2, 1), cBlue);

    // Zero-length runs paint nothing and the next run starts where they stood.
    d = DecodeBytes(Header(3, 1, 0, 0, 3, 1, 1),
                    RunData({{1, kRed}, {0, kGreen}, {0, kWhite}, {2, kBlue}}));
    EXPECT_EQ(d.Frame.Pixel(0, 0), cRed);
    EXPECT_EQ(d.Frame.Pixel(1, 0), cBlue);
    EXPECT_EQ(d.Frame.Pixel(2, 0), cBlue);
    EXPECT_EQ(d.Stats.BytesRead, 12);

    // The last run is painted whole: its pixels past the box land on the rows below, and
    // the bytes after it are never read, whatever Bytes says.
    d = DecodeBytes(Header(3, 2, 1, 0, 5, 5, 1), RunData({{4, kRed}, {8, kGreen}, {9, kBlue}}));
    EXPECT_EQ(d.Frame.Pixel(1, 1), cRed);
    EXPECT_EQ(d.Frame.Pixel(2, 1), cGreen);
    for (int x = 1; x <= 3; ++x) {
        EXPECT_EQ(d.Frame.Pixel(x, 2), cGreen);
        EXPECT_EQ(d.Frame.Pixel(x, 3), cGreen);
    }
    EXPECT_EQ(d.Frame.Pixel(1, 4), BackColor);
    EXPECT_EQ(d.Frame.Pixel(0, 2), BackColor);
    EXPECT_EQ(d.Frame.Pixel(4, 2), BackColor);
    EXPECT_EQ(CountOf(d.Frame, cBlue), 0);
    EXPECT_EQ(d.Stats.BytesRead, 6);
    EXPECT_EQ(d.Position, 6);
    EXPECT_FALSE(d.Stats.EndedEarly);
}

TEST(IconDecoder, ReadsTwoBytesAPixelRawAndThreeARunUntilThePixelsAreDone) {
    const Bytes plenty = RawData(std::vector<std::uint16_t>(20, kRed));
    auto d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 0), plenty);
    EXPECT_EQ(d.Stats.BytesRead, 12);
    EXPECT_EQ(d.Position, 12);

    d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1),
                    RunData({{2, kRed}, {3, kRed}, {2, kRed}, {9, 0}}));
    EXPECT_EQ(d.Stats.BytesRead, 9);
    EXPECT_EQ(d.Position, 9);

    // No pixels, no reading.
    for (auto h : {Header(0, 5, 0, 0, 3, 3, 0), Header(5, -1, 0, 0, 3, 3, 1),
                   Header(-2, -2, 0, 0, 3, 3, 0)}) {
        d = DecodeBytes(h, plenty);
        EXPECT_EQ(d.Stats.BytesRead, 0);
        EXPECT_EQ(CountOf(d.Frame, BackColor), 9);
    }
}

TEST(IconDecoder, PixelsOutsideTheFrameAreDroppedNotWrapped) {
    // Box 3 x 2 at (2, 2) in a 4 x 3 frame: column 4 and row 3 are cut off.
    const std::vector<std::uint16_t> pixels = {kRed, kGreen, kBlue, kBlue, kRed, kGreen};
    auto d = DecodeBytes(Header(3, 2, 2, 2, 4, 3, 0), RawData(pixels));
    EXPECT_EQ(d.Frame.Pixel(2, 2), cRed);
    EXPECT_EQ(d.Frame.Pixel(3, 2), cGreen);
    EXPECT_EQ(CountOf(d.Frame, BackColor), 10);
    EXPECT_EQ(d.Stats.BytesRead, 12);

    // Negative starts: only the box's lower right part shows.
    d = DecodeBytes(Header(3, 3, -1, -1, 2, 2, 1),
                    RunData({{4, kRed}, {1, kGreen}, {2, kBlue}, {2, kWhite}}));
    EXPECT_EQ(d.Frame.Pixel(0, 0), cGreen);
    EXPECT_EQ(d.Frame.Pixel(1, 0), cBlue);
    EXPECT_EQ(d.Frame.Pixel(0, 1), 0x00F8FCF8u);
    EXPECT_EQ(d.Frame.Pixel(1, 1), 0x00F8FCF8u);
}

TEST(IconDecoder, AgreesWithAPixelByPixelDecoderOnRandomIcons) {
    ScratchDir dir;
    std::mt19937 rng(1234);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 3000; ++round) {
        const TIconHeader h = Header(pick(-1, 7), pick(-1, 6), pick(-5, 8), pick(-5, 8),
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
    // Raw: two and a half pixels of six.
    Bytes raw = RawData({kRed, kGreen, kBlue});
    raw.pop_back();
    auto d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 0), raw);
    EXPECT_TRUE(d.Stats.EndedEarly);
    EXPECT_EQ(d.Frame.Pixel(0, 0), cRed);
    EXPECT_EQ(d.Frame.Pixel(1, 0), cGreen);
    EXPECT_EQ(CountOf(d.Frame, BackColor), 4);

    // Runs: the second run is cut after its length byte.
    d = DecodeBytes(Header(3, 2, 0, 0, 3, 2, 1), {4, 0x00, 0xF8, 2});
    EXPECT_TRUE(d.Stats.EndedEarly);
    EXPECT_EQ(CountOf(d.Frame, cRed), 4);
    EXPECT_EQ(CountOf(d.Frame, BackColor), 2);
    EXPECT_EQ(d.Stats.BytesRead, 4);

    // A full-size raw icon cut in its 301st row, far into the second block of rows read.
    std::vector<std::uint16_t> rows(640 * 300 + 1, kGreen);
    d = DecodeBytes(Header(640, 480, 0, 0, 640, 480, 0), RawData(rows));
    EXPECT_TRUE(d.Stats.EndedEarly);
    EXPECT_EQ(d.Stats.BytesRead, 2 * (640 * 300 + 1));
    EXPECT_EQ(CountOf(d.Frame, cGreen), 640 * 300 + 1);
    EXPECT_EQ(d.Frame.Pixel(0, 300), cGreen);
    EXPECT_EQ(d.Frame.Pixel(1, 300), BackColor);

    // Data said to start past the end, or before the start, of the file.
    ScratchDir dir;
    WriteFile("short.bin", {1, 2, 3});
    auto in = InFile::Open("short.bin");
    DecodeStats stats;
    for (std::int64_t offset : {100, -4}) {
        const Image frame = DecodeIcon(*in, offset, Header(2, 2, 0, 0, 2, 2, 0), &stats);
        EXPECT_TRUE(stats.EndedEarly);
        EXPECT_EQ(stats.BytesRead, 0);
        EXPECT_EQ(CountOf(frame, BackColor), 4);
    }
}

TEST(IconDecoder, HostileHeadersEndQuicklyWithoutHugeFrames) {
    ScratchDir dir;
    WriteFile("icon.bin", RunData({{255, kRed}, {255, kGreen}, {0, 0}}));
    auto in = InFile::Open("icon.bin");
    DecodeStats stats;

    // A negative frame side gives an empty frame; a side above the limit is refused.
    EXPECT_TRUE(DecodeIcon(*in, 0, Header(2, 2, 0, 0, -1, 5, 1), &stats).Empty());
    EXPECT_TRUE(DecodeIcon(*in, 0, Header(2, 2, 0, 0, 5, -9, 0), &stats).Empty());
    EXPECT_THROW(DecodeIcon(*in, 0, Header(2, 2, 0, 0, MaxFrameSide + 1, 1, 0)), EFrameTooLarge);
    EXPECT_THROW(DecodeIcon(*in, 0, Header(2, 2, 0, 0, 1, 0x7FFFFFFF, 1)), EFrameTooLarge);

    // Billions of pixels promised, nine bytes given: decoding ends at the end of the data.
    const int huge = 0x7FFFFFFF;
    for (int compress : {0, 1}) {
        const Image frame = DecodeIcon(*in, 0, Header(huge, huge, 0, 0, 600, 4, compress), &stats);
        EXPECT_TRUE(stats.EndedEarly);
        EXPECT_EQ(stats.BytesRead, 9);
        EXPECT_NE(frame.Pixel(0, 0), BackColor);
    }
    // Far-away boxes and positions near the 32-bit limits paint nothing and do not wrap.
    for (const auto& h :
         {Header(huge, huge, huge, huge, 8, 8, 1), Header(huge, 3, -huge - 1, 0, 8, 8, 0),
          Header(1, huge, 0, -huge, 8, 8, 1), Header(3, 3, huge - 1, huge - 1, 8, 8, 1)}) {
        const Image frame = DecodeIcon(*in, 0, h, &stats);
        EXPECT_EQ(CountOf(frame, BackColor), 64);
    }
}
