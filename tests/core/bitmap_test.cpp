#include "base/Errors.h"
#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

// The cases below name only the fields they bend; GCC would warn about every other one.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace kiv;
using namespace kivtest;

namespace {

using Rows = std::vector<std::vector<std::uint32_t>>;
using Picture = std::vector<std::vector<TColor>>;

// A bitmap file put together field by field, so each case can bend one rule.
struct BmpFile {
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t Bpp = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ColorsUsed = 0;
    std::vector<std::uint32_t> Masks; // after a 40-byte header, or inside a longer one
    std::vector<TColor> Table;        // written as blue, green, red (and a zero byte)
    Bytes Pixels;
    std::int64_t PixelOffset = -1; // -1: right after the table

    Bytes Build() const {
        Bytes info;
        PutLE32(info, static_cast<std::int32_t>(HeaderSize));
        if (HeaderSize == 12) {
            PutLE16(info, static_cast<std::uint16_t>(Width));
            PutLE16(info, static_cast<std::uint16_t>(Height));
            PutLE16(info, 1);
            PutLE16(info, Bpp);
        } else {
            PutLE32(info, Width);
            PutLE32(info, Height);
            PutLE16(info, 1);
            PutLE16(info, Bpp);
            PutLE32(info, static_cast<std::int32_t>(Compression));
            PutLE32(info, static_cast<std::int32_t>(Pixels.size()));
            PutLE32(info, 2835);
            PutLE32(info, 2835);
            PutLE32(info, static_cast<std::int32_t>(ColorsUsed));
            PutLE32(info, 0);
            if (HeaderSize > 40)
                for (auto m : Masks)
                    PutLE32(info, static_cast<std::int32_t>(m));
            info.resize(std::max<std::size_t>(info.size(), HeaderSize), 0);
            info.resize(HeaderSize);
            if (HeaderSize == 40)
                for (auto m : Masks)
                    PutLE32(info, static_cast<std::int32_t>(m));
        }
        for (TColor c : Table) {
            info.push_back(static_cast<std::uint8_t>(BlueOf(c)));
            info.push_back(static_cast<std::uint8_t>(GreenOf(c)));
            info.push_back(static_cast<std::uint8_t>(RedOf(c)));
            if (HeaderSize != 12)
                info.push_back(0);
        }
        const auto natural = static_cast<std::int64_t>(14 + info.size());
        const std::int64_t offset = PixelOffset < 0 ? natural : PixelOffset;
        Bytes out = {'B', 'M'};
        PutLE32(out, static_cast<std::int32_t>(natural + Pixels.size()));
        PutLE32(out, 0);
        PutLE32(out, static_cast<std::int32_t>(offset));
        out.insert(out.end(), info.begin(), info.end());
        if (offset > natural)
            out.resize(static_cast<std::size_t>(offset), 0);
        out.insert(out.end(), Pixels.begin(), Pixels.end());
        return out;
    }
};

// Rows in file order, each value packed into `bpp` bits (first pixel in the high bits below
// 8 bits per pixel, little-endian words above) and padded to 4 bytes. A 24-bit value is
// 0xRRGGBB, so it lands as blue, green, red.
Bytes PackRows(int bpp, const Rows& rows) {
    Bytes out;
    for (const auto& row : rows) {
        Bytes bytes;
        if (bpp < 8) {
            bytes.assign((row.size() * bpp + 7) / 8, 0);
            for (std::size_t x = 0; x < row.size(); ++x) {
                const std::size_t bit = x * bpp;
                bytes[bit / 8] |= static_cast<std::uint8_t>(row[x] << (8 - bpp - bit % 8));
            }
        } else {
            for (auto v : row)
                for (int k = 0; k < bpp / 8; ++k)
                    bytes.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        }
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

Picture PixelsOf(const Image& image) {
    Picture rows(image.Height());
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            rows[y].push_back(image.Pixel(x, y));
    return rows;
}

// Decodes from memory and, through a file, from disk; both roads must agree.
Image Decode(const Bytes& bytes) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kivtest-bitmap-" + std::to_string(::getpid()) + ".bmp"))
                                 .string();
    WriteFile(path, bytes);
    Image fromFile;
    std::string fileError;
    try {
        fromFile = LoadBitmapFile(path);
    } catch (const std::exception& e) {
        fileError = e.what();
    }
    std::filesystem::remove(path);
    try {
        Image image = DecodeBitmap(bytes.data(), bytes.size());
        EXPECT_EQ(fileError, "") << "only the file load failed";
        EXPECT_EQ(fromFile, image) << "the file load differs";
        return image;
    } catch (const std::exception& e) {
        EXPECT_EQ(fileError, e.what()) << "the file load differs";
        throw;
    }
}

// Some colour for every pixel, different from its neighbours.
Image Pattern(int width, int height) {
    Image image(width, height);
    std::uint32_t seed = static_cast<std::uint32_t>(width * 7919 + height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.SetPixel(x, y, seed >> 8);
        }
    return image;
}

template <typename E> std::string MessageOf(const Bytes& bytes) {
    try {
        Decode(bytes);
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong error: ") + e.what();
    }
    return "no error";
}

constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kGreen = RGB(0, 255, 0);
constexpr TColor kBlue = RGB(0, 0, 255);
constexpr TColor kWhite = RGB(255, 255, 255);

} // namespace

TEST(BitmapSave, WritesTheExactTwentyFourBitFile) {
    Image image(2, 2);
    image.SetPixel(0, 0, RGB(1, 2, 3));
    image.SetPixel(1, 0, RGB(4, 5, 6));
    image.SetPixel(0, 1, RGB(7, 8, 9));
    image.SetPixel(1, 1, RGB(10, 11, 12));
    const Bytes expected = {
        'B', 'M', 70, 0,  0,  0,  0, 0, 0, 0, 54, 0, 0, 0,                    // file header
        40,  0,   0,  0,  2,  0,  0, 0, 2, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0, // size .. compression
        16,  0,   0,  0,  0,  0,  0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, // image size, rest 0
        9,   8,   7,  12, 11, 10, 0, 0,                                       // bottom row first
        3,   2,   1,  6,  5,  4,  0, 0};
    EXPECT_EQ(EncodeBitmap(image), expected);

    ScratchDir dir;
    image.SaveToFile("two.bmp");
    EXPECT_EQ(ReadFile("two.bmp"), expected);
}

TEST(BitmapSave, RoundTripsEveryPixelAtEveryRowPadding) {
    // Widths 1..4 need 1, 2, 3 and 0 padding bytes a row.
    // 700 x 600 takes more than one block of rows on the way to and from the disk.
    const std::pair<int, int> sizes[] = {{1, 1},  {2, 3},  {3, 2},   {4, 4},    {5, 7},
                                         {13, 1}, {1, 13}, {64, 33}, {700, 600}};
    ScratchDir dir;
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Image image = Pattern(w, h);
        const std::int32_t stride = (w * 3 + 3) / 4 * 4;
        const Bytes bytes = EncodeBitmap(image);
        ASSERT_EQ(bytes.size(), 54u + stride * h);
        EXPECT_EQ(GetLE32(bytes, 2), static_cast<std::int32_t>(bytes.size()));
        EXPECT_EQ(GetLE32(bytes, 34), stride * h);
        for (int r = 0; r < h; ++r)
            for (std::size_t k = 54 + r * stride + w * 3; k < 54u + (r + 1) * stride; ++k)
                EXPECT_EQ(bytes[k], 0) << "padding byte " << k;
        EXPECT_EQ(Decode(bytes), image);

        SaveBitmapFile(image, "round.bmp");
        EXPECT_EQ(ReadFile("round.bmp"), bytes);
        Image loaded(3, 3);
        loaded.LoadFromFile("round.bmp");
        EXPECT_EQ(loaded, image);
    }
}

TEST(BitmapSave, EmptyPictureIsAZeroByZeroBitmapThatLoadsEmpty) {
    const Bytes bytes = EncodeBitmap(Image());
    ASSERT_EQ(bytes.size(), 54u);
    EXPECT_EQ(GetLE32(bytes, 2), 54);
    EXPECT_EQ(GetLE32(bytes, 18), 0);
    EXPECT_EQ(GetLE32(bytes, 22), 0);
    EXPECT_TRUE(Decode(bytes).Empty());
}

TEST(BitmapSave, ReplacesAFileOnlyWhenTheNewOneIsComplete) {
    ScratchDir dir;
    WriteFile("pic.bmp", Bytes(500, 0xAB));
    SaveBitmapFile(Pattern(3, 3), "pic.bmp");
    EXPECT_EQ(ReadFile("pic.bmp"), EncodeBitmap(Pattern(3, 3)));
    EXPECT_EQ(ListFolder(dir.Path().string()), std::vector<std::string>{"pic.bmp"});
}

TEST(BitmapSave, RefusesAPathThatCannotBeCreatedAndLeavesNothingBehind) {
    ScratchDir dir;
    std::filesystem::create_directory("folder.bmp");
    const std::string paths[] = {"missing/pic.bmp", "folder.bmp", ""};
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        try {
            Pattern(2, 2).SaveToFile(path);
            ADD_FAILURE() << "saved";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
        }
    }
    EXPECT_EQ(ListFolder(dir.Path().string()), std::vector<std::string>{"folder.bmp"});
    EXPECT_TRUE(ListFolder("folder.bmp").empty());
}

TEST(BitmapLoad, ReadsIndexedPixelsThroughTheColourTable) {
    {
        SCOPED_TRACE("1 bit, nine pixels cross a byte");
        BmpFile f{.Width = 9, .Height = 2, .Bpp = 1, .Table = {kRed, kBlue}};
        f.Pixels = PackRows(1, {{1, 0, 0, 0, 0, 0, 0, 0, 1}, {0, 1, 1, 1, 1, 1, 1, 1, 0}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{kRed, kBlue, kBlue, kBlue, kBlue, kBlue, kBlue, kBlue, kRed},
                           {kBlue, kRed, kRed, kRed, kRed, kRed, kRed, kRed, kBlue}}));
    }
    {
        SCOPED_TRACE("4 bits, odd width, table shorter than 16 entries");
        BmpFile f{
            .Width = 3, .Height = 1, .Bpp = 4, .ColorsUsed = 3, .Table = {kRed, kGreen, kBlue}};
        f.Pixels = PackRows(4, {{2, 0, 1}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kBlue, kRed, kGreen}}));
    }
    {
        SCOPED_TRACE("8 bits, top-down");
        BmpFile f{.Width = 2,
                  .Height = -2,
                  .Bpp = 8,
                  .ColorsUsed = 4,
                  .Table = {kRed, kGreen, kBlue, kWhite}};
        f.Pixels = PackRows(8, {{3, 2}, {1, 0}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kWhite, kBlue}, {kGreen, kRed}}));
    }
    {
        SCOPED_TRACE("12-byte header: 16-bit sizes, three-byte table entries");
        BmpFile f{.HeaderSize = 12,
                  .Width = 2,
                  .Height = 2,
                  .Bpp = 1,
                  .Table = {RGB(1, 2, 3), RGB(4, 5, 6)}};
        f.Pixels = PackRows(1, {{0, 1}, {1, 1}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{RGB(4, 5, 6), RGB(4, 5, 6)}, {RGB(1, 2, 3), RGB(4, 5, 6)}}));
    }
}

TEST(BitmapLoad, CutsTheColourTableAtThePixelsAndAtTheBitDepth) {
    // 300 colours promised for one bit: only the two a bit can pick are read.
    BmpFile big{.Width = 2, .Height = 1, .Bpp = 1, .ColorsUsed = 300, .Table = {kRed, kBlue}};
    big.Pixels = PackRows(1, {{1, 0}});
    EXPECT_EQ(PixelsOf(Decode(big.Build())), (Picture{{kBlue, kRed}}));

    // 256 promised but the pixels start after two: index 1 is there, index 2 is not.
    BmpFile cut{.Width = 2, .Height = 1, .Bpp = 8, .Table = {kRed, kBlue}};
    cut.Pixels = PackRows(8, {{1, 0}});
    EXPECT_EQ(PixelsOf(Decode(cut.Build())), (Picture{{kBlue, kRed}}));
    cut.Pixels = PackRows(8, {{1, 2}});
    EXPECT_EQ(MessageOf<EInvalidGraphic>(cut.Build()), "Bitmap image is not valid");
}

TEST(BitmapLoad, ReadsTwentyFourBitRowsUnderEveryHeaderSizeAndOrientation) {
    const Rows fileRows = {{0xFF0000, 0x00FF00, 0x0000FF}, {0x010203, 0xFFFFFF, 0x000000}};
    const Picture bottomUp = {{RGB(1, 2, 3), kWhite, clBlack}, {kRed, kGreen, kBlue}};
    const Picture topDown = {bottomUp[1], bottomUp[0]};
    for (std::uint32_t header : {12u, 40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(header);
        BmpFile f{.HeaderSize = header, .Width = 3, .Height = 2, .Pixels = PackRows(24, fileRows)};
        EXPECT_EQ(PixelsOf(Decode(f.Build())), bottomUp);
        if (header != 12) {
            f.Height = -2;
            EXPECT_EQ(PixelsOf(Decode(f.Build())), topDown);
        }
    }
}

TEST(BitmapLoad, ReadsSixteenAndThirtyTwoBitPixelsPlainAndWithMasks) {
    {
        SCOPED_TRACE("16 bits plain: 5-5-5, scaled to 0..255 with rounding");
        BmpFile f{.Width = 4, .Height = 1, .Bpp = 16};
        f.Pixels = PackRows(16, {{0x7FFF, 0x7C00, 0x0010, 0x8000}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kWhite, kRed, RGB(0, 0, 132), clBlack}}));
    }
    {
        SCOPED_TRACE("16 bits 5-6-5 masks after a 40-byte header");
        BmpFile f{.Width = 2,
                  .Height = 1,
                  .Bpp = 16,
                  .Compression = 3,
                  .Masks = {0xF800, 0x07E0, 0x001F}};
        f.Pixels = PackRows(16, {{0xFFFF, 0x0400}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kWhite, RGB(0, 130, 0)}}));
    }
    {
        SCOPED_TRACE("32 bits plain: blue, green, red, unused");
        BmpFile f{.Width = 2, .Height = -1, .Bpp = 32};
        f.Pixels = PackRows(32, {{0xAA010203, 0x00FF0000}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{RGB(1, 2, 3), kRed}}));
    }
    for (std::uint32_t header : {40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE("32 bits, 10-10-10 masks, header " + std::to_string(header));
        BmpFile f{.HeaderSize = header,
                  .Width = 3,
                  .Height = 1,
                  .Bpp = 32,
                  .Compression = 3,
                  .Masks = {0x3FF00000, 0x000FFC00, 0x000003FF}};
        f.Pixels = PackRows(32, {{0x3FFFFFFF, 0x20000000, 0x000003FF}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kWhite, RGB(128, 0, 0), kBlue}}));
    }
    {
        SCOPED_TRACE("32 bits, byte masks in red-green-blue order, alpha mask ignored");
        BmpFile f{.Width = 1,
                  .Height = 1,
                  .Bpp = 32,
                  .Compression = 6,
                  .Masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}};
        f.Pixels = PackRows(32, {{0x80030201}});
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{RGB(1, 2, 3)}}));
    }
}

TEST(BitmapLoad, ReadsRunLengthRowsWithEveryEscape) {
    {
        SCOPED_TRACE("8 bits: run, padded absolute block, end of line, delta, end of bitmap");
        const TColor a = RGB(10, 0, 0), b = RGB(20, 0, 0), c = RGB(30, 0, 0), d = RGB(40, 0, 0);
        BmpFile f{.Width = 6,
                  .Height = 3,
                  .Bpp = 8,
                  .Compression = 1,
                  .ColorsUsed = 4,
                  .Table = {a, b, c, d}};
        f.Pixels = {3, 1, 0, 3, 2, 3, 1, 0, 0, 0, // bottom row: b b b, then c d b
                    2, 2, 0, 2, 2, 1,             // c c, then two right and one up
                    2, 3, 0, 1};                  // d d, end
        const TColor k = clBlack;
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{k, k, k, k, d, d}, {c, c, k, k, k, k}, {b, b, b, c, d, b}}));
    }
    {
        SCOPED_TRACE("4 bits: runs alternate two colours, absolute blocks of odd length");
        std::vector<TColor> table;
        for (unsigned i = 0; i < 9; ++i)
            table.push_back(RGB(i, i * 2, i * 3));
        BmpFile f{
            .Width = 5, .Height = 2, .Bpp = 4, .Compression = 2, .ColorsUsed = 9, .Table = table};
        f.Pixels = {0, 5, 0x12, 0x34, 0x50, 0,    0, 0, // 1 2 3 4 5, padded to a word; end of line
                    0, 3, 0x67, 0x80, 2,    0x45,       // 6 7 8; then 4 5
                    0, 1};
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{table[6], table[7], table[8], table[4], table[5]},
                           {table[1], table[2], table[3], table[4], table[5]}}));
    }
    {
        SCOPED_TRACE("rows padded to 4 pixels: what falls past the row's end is dropped");
        BmpFile f{.Width = 3,
                  .Height = 2,
                  .Bpp = 8,
                  .Compression = 1,
                  .ColorsUsed = 2,
                  .Table = {kRed, kBlue},
                  .Pixels = {2, 0, 0, 3, 1, 0, 1, 0, 0, 0, // r r, then b r b
                             5, 1, 0, 0, 0, 1}};           // b b b, end of line, end
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{kBlue, kBlue, kBlue}, {kRed, kRed, kBlue}}));
        f.Pixels.resize(f.Pixels.size() - 4); // neither end code after the last row
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{kBlue, kBlue, kBlue}, {kRed, kRed, kBlue}}));
        // Padding is never looked up: a run or an absolute block there may name any index.
        f.Pixels = {3, 0, 1, 9, 0, 0,              // r r r, then one pixel of index 9
                    3, 1, 0, 3, 9, 9, 9, 0, 0, 1}; // b b b, then three of index 9; end
        EXPECT_EQ(PixelsOf(Decode(f.Build())),
                  (Picture{{kBlue, kBlue, kBlue}, {kRed, kRed, kRed}}));
    }
    {
        SCOPED_TRACE("a stream whose end code is missing after the last pixel");
        BmpFile f{.Width = 2,
                  .Height = 1,
                  .Bpp = 8,
                  .Compression = 1,
                  .ColorsUsed = 1,
                  .Table = {kGreen},
                  .Pixels = {2, 0}};
        EXPECT_EQ(PixelsOf(Decode(f.Build())), (Picture{{kGreen, kGreen}}));
    }
}

TEST(BitmapLoad, EmptyFileGivesAnEmptyPictureAndShortFilesAReadError) {
    EXPECT_TRUE(Decode({}).Empty());
    for (std::size_t n : {1u, 5u, 13u})
        EXPECT_EQ(MessageOf<EReadError>(Bytes(n, 'B')), "Stream read error") << n;

    const Bytes valid =
        BmpFile{.Width = 3, .Height = 3, .Pixels = PackRows(24, Rows(3, {1, 2, 3}))}.Build();
    for (std::size_t n : std::vector<std::size_t>{14, 17, 30, 53, 54, valid.size() - 1})
        EXPECT_EQ(MessageOf<EReadError>(Bytes(valid.begin(), valid.begin() + n)),
                  "Stream read error")
            << "cut to " << n;

    BmpFile masks{.Width = 1, .Height = 1, .Bpp = 16, .Compression = 3, .Masks = {0xF800}};
    EXPECT_EQ(MessageOf<EReadError>(masks.Build()), "Stream read error");
    BmpFile rle{.Width = 4,
                .Height = 1,
                .Bpp = 8,
                .Compression = 1,
                .ColorsUsed = 1,
                .Table = {kRed},
                .Pixels = {2, 0}};
    EXPECT_EQ(MessageOf<EReadError>(rle.Build()), "Stream read error");
}

TEST(BitmapLoad, RefusesWhatIsNotAValidBitmap) {
    const auto good = [] {
        return BmpFile{.Width = 1, .Height = 1, .Pixels = PackRows(24, {{0}})};
    };
    std::vector<std::pair<std::string, Bytes>> cases;
    Bytes magic = good().Build();
    magic[1] = 'A';
    cases.emplace_back("magic BA", magic);
    for (std::uint32_t size : {0u, 16u, 41u, 64u, 0xFFFFFFFFu}) {
        Bytes b = good().Build();
        b.resize(200, 0);
        b[14] = static_cast<std::uint8_t>(size);
        b[15] = static_cast<std::uint8_t>(size >> 8);
        b[16] = b[17] = static_cast<std::uint8_t>(size >> 24);
        cases.emplace_back("header size " + std::to_string(size), b);
    }
    const std::pair<std::string, BmpFile> files[] = {
        {"2 bits", {.Width = 1, .Height = 1, .Bpp = 2, .Pixels = Bytes(4)}},
        {"0 bits", {.Width = 1, .Height = 1, .Bpp = 0, .Pixels = Bytes(4)}},
        {"compressed as JPEG", {.Width = 1, .Height = 1, .Compression = 4, .Pixels = Bytes(4)}},
        {"masks at 24 bits", {.Width = 1, .Height = 1, .Compression = 3, .Masks = {1, 2, 4}}},
        {"mask with a gap",
         {.Width = 1,
          .Height = 1,
          .Bpp = 16,
          .Compression = 3,
          .Masks = {0xF00F, 0x0F00, 0x00F0},
          .Pixels = Bytes(4)}},
        {"RLE8 at 4 bits", {.Width = 1, .Height = 1, .Bpp = 4, .Compression = 1}},
        {"top-down RLE",
         {.Width = 1,
          .Height = -1,
          .Bpp = 8,
          .Compression = 1,
          .Table = {kRed},
          .Pixels = {1, 0, 0, 1}}},
        {"negative width", {.Width = -1, .Height = 1, .Pixels = Bytes(4)}},
        {"width 32768", {.Width = 32768, .Height = 1}},
        {"height 32768", {.Width = 1, .Height = 32768}},
        {"height -2^31", {.Width = 1, .Height = INT_MIN}},
        {"2^28 + pixels", {.Width = 20000, .Height = -20000}},
        {"pixels inside the headers",
         {.Width = 1, .Height = 1, .Pixels = Bytes(4), .PixelOffset = 50}},
        {"index beyond table",
         {.Width = 2,
          .Height = 1,
          .Bpp = 4,
          .ColorsUsed = 2,
          .Table = {kRed, kBlue},
          .Pixels = {0x12, 0, 0, 0}}},
    };
    for (const auto& [name, f] : files)
        cases.emplace_back(name, f.Build());

    const auto rle = [](int width, int height, Bytes stream) {
        return BmpFile{.Width = width,
                       .Height = height,
                       .Bpp = 8,
                       .Compression = 1,
                       .ColorsUsed = 2,
                       .Table = {kRed, kBlue},
                       .Pixels = std::move(stream)}
            .Build();
    };
    cases.emplace_back("run above the last row", rle(4, 1, {4, 0, 0, 0, 1, 0, 0, 1}));
    cases.emplace_back("block above the last row", rle(1, 1, {1, 0, 0, 0, 0, 3, 0, 1, 0, 0}));
    cases.emplace_back("delta past the right edge", rle(4, 2, {0, 2, 5, 0, 0, 1}));
    cases.emplace_back("delta above the top", rle(4, 2, {0, 2, 0, 3, 0, 1}));
    cases.emplace_back("run colour beyond table", rle(4, 1, {1, 2, 0, 1}));
    const auto rle4 = BmpFile{.Width = 4,
                              .Height = 1,
                              .Bpp = 4,
                              .Compression = 2,
                              .ColorsUsed = 2,
                              .Table = {kRed, kBlue},
                              .Pixels = {4, 0x02, 0, 1}};
    cases.emplace_back("RLE4 run colour beyond table", rle4.Build());

    for (const auto& [name, bytes] : cases)
        EXPECT_EQ(MessageOf<EInvalidGraphic>(bytes), "Bitmap image is not valid") << name;
}

TEST(BitmapLoad, AcceptsTheLargestSidesAndEmptySizes) {
    // Allowed sizes get as far as looking for their rows.
    EXPECT_EQ(MessageOf<EReadError>(BmpFile{.Width = 32767, .Height = 1}.Build()),
              "Stream read error");
    EXPECT_EQ(MessageOf<EReadError>(BmpFile{.Width = 1, .Height = -32767}.Build()),
              "Stream read error");
    EXPECT_TRUE(Decode(BmpFile{.Width = 0, .Height = 5}.Build()).Empty());
    EXPECT_TRUE(Decode(BmpFile{.Width = 7, .Height = 0}.Build()).Empty());

    // A caller's own limit refuses a larger declaration before the picture exists: a run-length
    // file of a few bytes declaring 16384 x 16384 pixels, read from memory and from a file.
    const Bytes small = BmpFile{
        .Width = 16384,
        .Height = 16384,
        .Bpp = 8,
        .Compression = 1,
        .ColorsUsed = 1,
        .Table = {kRed},
        .Pixels = {0, 1}}.Build();
    EXPECT_THROW(DecodeBitmap(small.data(), small.size(), {9999, 9999}), EPictureTooLarge);
    ScratchDir dir;
    WriteFile("small.bmp", small);
    try {
        LoadBitmapFile("small.bmp", {16384, 16383});
        ADD_FAILURE() << "no error";
    } catch (const EPictureTooLarge& e) {
        EXPECT_EQ(e.Height(), 16384);
    }
}

TEST(BitmapLoad, ReportsAFileThatCannotBeOpenedAndKeepsThePicture) {
    ScratchDir dir;
    std::filesystem::create_directory("folder.bmp");
    WriteFile("bad.bmp", {'B', 'M', 0});
    const Image before = Pattern(4, 3);
    for (const std::string path : {"missing.bmp", "folder.bmp"}) {
        Image image = before;
        try {
            image.LoadFromFile(path);
            ADD_FAILURE() << path << " loaded";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
        }
        EXPECT_EQ(image, before);
    }
    Image image = before;
    EXPECT_THROW(image.LoadFromFile("bad.bmp"), EReadError);
    EXPECT_EQ(image, before);

    WriteFile("empty.bmp", {});
    image.LoadFromFile("empty.bmp");
    EXPECT_TRUE(image.Empty());
}

namespace {

// The same picture as the binary PPM a peer program reads and writes.
Bytes Ppm(const Image& image) {
    const std::string head =
        "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
    Bytes out(head.begin(), head.end());
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            for (auto c :
                 {RedOf(image.Pixel(x, y)), GreenOf(image.Pixel(x, y)), BlueOf(image.Pixel(x, y))})
                out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

// A 5- or 6-bit level (max 31 or 63) near `i` as 8 bits, one that comes back the same
// whether a writer rounds or truncates when it reduces it to that many bits.
int Level(int i, int max) {
    for (int v = i % (max + 1);; v = (v + 1) % (max + 1))
        if (int c = (v * 255 + max / 2) / max; c * max / 255 == v)
            return c;
}

// 37 x 23 with runs, in `colors` distinct colours that 5-6-5 bits hold exactly.
Image PeerPicture(int colors) {
    std::vector<TColor> table;
    for (int i = 0; i < colors; ++i)
        table.push_back(RGB(Level(i * 7, 31), Level(i * 13 + 5, 63), Level(i * 5 + 3, 31)));
    Image image(37, 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            image.SetPixel(x, y, table[(y % 5 == 0 ? y : x / 3 + y) % colors]);
    return image;
}

int Shell(const std::string& command) {
    return std::system((command + " 2>&1").c_str());
}

} // namespace

TEST(BitmapPeer, ImageMagickAndThisToolReadEachOthersBitmaps) {
    // Debian's ImageMagick installs convert here; another program of that name may come
    // earlier on PATH.
    const std::string convert =
        ::access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "convert";
    ASSERT_EQ(Shell(convert + " -version >/dev/null"), 0)
        << "ImageMagick's convert is needed: install imagemagick (scripts/kiv.sh deps does)";
    ScratchDir dir;
    const Image few = PeerPicture(12), many = PeerPicture(40);
    WriteFile("few.ppm", Ppm(few));
    WriteFile("many.ppm", Ppm(many));

    struct Form {
        std::string Options;
        bool Few;
        int Bpp, Compression; // as found in the written file
    };
    const Form forms[] = {{"", false, 24, 0},
                          {"BMP3:", false, 24, 0},
                          {"BMP2:", false, 24, 0},
                          {"-type Palette BMP3:", true, 4, 0},
                          {"-type Palette -compress None BMP3:", false, 8, 0},
                          {"-type Palette -compress RLE BMP3:", false, 8, 1},
                          {"-type Palette -compress RLE BMP3:", true, 8, 1},
                          {"-alpha set BMP:", false, 32, 3},
                          {"-define bmp:subtype=RGB565 BMP:", false, 16, 3}};
    for (const Form& form : forms) {
        SCOPED_TRACE(form.Options);
        std::filesystem::remove("peer.bmp");
        ASSERT_EQ(
            Shell(convert + (form.Few ? " few.ppm " : " many.ppm ") + form.Options + "peer.bmp"),
            0);
        const Bytes file = ReadFile("peer.bmp");
        ASSERT_GT(file.size(), 54u);
        const bool core = file[14] == 12;
        EXPECT_EQ(file[core ? 24 : 28], form.Bpp);
        EXPECT_EQ(core ? 0 : file[30], form.Compression);
        EXPECT_EQ(LoadBitmapFile("peer.bmp"), form.Few ? few : many);
    }

    many.SaveToFile("ours.bmp");
    ASSERT_EQ(Shell(convert + " ours.bmp ours.ppm"), 0);
    EXPECT_EQ(ReadFile("ours.ppm"), Ppm(many));
}
