#include "base/Errors.h"
#include "base/FileStream.h"
#include "image/Gif.h"
#include "image/Png.h"
#include "sprite/Animation.h"
#include "sprite/IconSheet.h"
#include "support/PngChunks.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <unistd.h>

// The cases below name only the fields they bend; GCC would warn about every other one.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace kiv;
using namespace kivtest;

namespace {

// A 5- or 6-bit level (max 31 or 63) near `i` as 8 bits, one that comes back the same
// whether a writer rounds or truncates when it reduces it to that many bits.
int Level(int i, int max) {
    for (int v = i % (max + 1);; v = (v + 1) % (max + 1))
        if (int c = (v * 255 + max / 2) / max; c * max / 255 == v)
            return c;
}

int Shell(const std::string& command) {
    return std::system((command + " 2>&1").c_str());
}

constexpr TColor kKey = 0x00DCDCF8;

// Runs ImageMagick's convert (a peer program that reads and writes PNG on its own).
void Magick(const std::string& arguments) {
    const std::string convert =
        ::access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "convert";
    ASSERT_EQ(Shell(convert + " " + arguments), 0) << arguments;
}

Bytes MagickRaw(const std::string& arguments) {
    Magick(arguments + "raw.out");
    return ReadFile("raw.out");
}

// A picture with the key colour in a few places and, where `grey`, only grey otherwise.
Image Sprite(bool grey) {
    Image image(9, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) {
            const unsigned v = (x * 29 + y * 41) & 0xFF;
            image.SetPixel(x, y, (x + y) % 4 == 0 ? kKey : grey ? RGB(v, v, v) : RGB(v, x * 9, y));
        }
    return image;
}

// A zlib stream of `runs` * 258 + 1 zero bytes in one fixed-code block.
Bytes ZerosDeflated(int runs) {
    Bytes out = {0x78, 0x01};
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t value, int n) {
        bits |= value << count;
        for (count += n; count >= 8; count -= 8, bits >>= 8)
            out.push_back(static_cast<std::uint8_t>(bits));
    };
    auto code = [&](std::uint32_t value, int n) { // codes go most significant bit first
        for (int k = n - 1; k >= 0; --k)
            put((value >> k) & 1, 1);
    };
    put(1, 1);     // last block
    put(1, 2);     // fixed codes
    code(0x30, 8); // literal 0
    for (int k = 0; k < runs; ++k) {
        code(0xC5, 8); // length 258
        code(0, 5);    // distance 1
    }
    code(0, 7); // end of block
    put(0, 7);
    const std::uint32_t n = static_cast<std::uint32_t>(runs) * 258 + 1;
    const std::uint32_t adler = ((n % 65521) << 16) | 1;
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(adler >> shift));
    return out;
}

void PutBE32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t GetBE32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
           bytes[at + 3];
}

// Header fields of a PNG file: width, height, depth, colour type, interlace.
std::vector<int> PngHeader(const Bytes& png) {
    auto get = [&](std::size_t at) {
        return png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    };
    return {get(16), get(20), png[24], png[25], png[28]};
}

template <typename E> std::string PngMessageOf(const Bytes& bytes) {
    try {
        DecodePng(bytes.data(), bytes.size(), kKey);
    } catch (const E& e) {
        WriteFile("hostile.png", bytes);
        if (IsPngData(bytes.data(), bytes.size()))
            try {
                LoadPictureFile("hostile.png", kKey);
            } catch (const E& again) {
                EXPECT_STREQ(again.what(), e.what()) << "the file road says otherwise";
            }
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(Png, WritesTheSmallestFormAPeerProgramReadsPixelForPixel) {
    ScratchDir dir;
    // Pixels from a few colours to many; `keys` of them, all matching the key, transparent.
    auto picture = [](int colours, int keys) {
        Image image(24, 20);
        for (int k = 0; k < 480; ++k) {
            const int c = k % colours;
            image.SetPixel(k % 24, k / 24,
                           k % 7 == 0 && k / 7 < keys * 9 ? kKey | ((k / 7 % keys) << 16)
                                                          : RGB(c * 13, c / 3 * 7, c));
        }
        return image;
    };
    // Transparent: the key colour with any blue of the top five bits.
    const PngKey key(kKey, 0x00F8FFFF);
    struct Form {
        const char* Name;
        Image Picture;
        std::vector<int> Header; // depth, colour type
    };
    const Form forms[] = {
        {"two colours, one transparent", picture(1, 1), {1, 3}},
        {"four colours", picture(2, 2), {2, 3}},
        {"sixteen colours", picture(10, 4), {4, 3}},
        {"a full palette", picture(250, 6), {8, 3}},
        {"many colours, one transparent", picture(400, 1), {8, 2}},
        {"many colours, none transparent", picture(400, 0), {8, 2}},
        {"many colours, several transparent", picture(400, 3), {8, 6}},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE(form.Name);
        const Image& image = form.Picture;
        SavePictureFile(image, "sheet.Png", key);
        const Bytes png = ReadFile("sheet.Png");
        const std::vector<int> header = PngHeader(png);
        EXPECT_EQ(std::vector<int>(header.begin() + 2, header.end() - 1), form.Header);
        const Bytes alpha = MagickRaw("png:sheet.Png -alpha extract gray:");
        const Bytes rgb = MagickRaw("png:sheet.Png -alpha off rgb:");
        ASSERT_EQ(alpha.size(), 480u);
        ASSERT_EQ(rgb.size(), 1440u);
        Image expected = image;
        for (int k = 0; k < 480; ++k) {
            const TColor c = image.Pixel(k % 24, k / 24);
            EXPECT_EQ(alpha[k], key.Matches(c) ? 0 : 255) << k;
            EXPECT_EQ(RGB(rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]), c) << k;
            if (key.Matches(c))
                expected.SetPixel(k % 24, k / 24, kKey);
        }
        EXPECT_EQ(LoadPictureFile("sheet.Png", kKey), expected);
    }

    // Other paths keep the bitmap; loading goes by the signature, not the name.
    const Image image = Sprite(false);
    SavePictureFile(image, "sheet.bmp", kKey);
    EXPECT_EQ(ReadFile("sheet.bmp"), EncodeBitmap(image));
    std::filesystem::rename("sheet.bmp", "bitmap.png");
    EXPECT_EQ(LoadPictureFile("bitmap.png", kKey), image);
    EXPECT_THROW(SavePictureFile(Image(), "empty.png", kKey), EInvalidGraphic);
}

TEST(Png, UneditedSheetsOfRandomSpritesComeBackByteForByte) {
    // Boxes clipped by their frames, background-valued pixels inside them, few colours and
    // many; the sheet as written and as an image editor saves it, every transparent pixel
    // made (0, 0, 0, 0).
    ScratchDir dir;
    std::mt19937 rng(27);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::uint16_t background = 0xFEFB;
    for (int round = 0; round < 8; ++round) {
        SpriteBuilder sprite;
        for (int icon = pick(1, 9); icon > 0; --icon) {
            const int w = pick(1, 12), h = pick(1, 9), fw = pick(1, 16), fh = pick(1, 12);
            std::vector<std::uint16_t> pixels(static_cast<std::size_t>(w) * h);
            for (auto& p : pixels)
                p = pick(0, 3) == 0 ? background
                                    : static_cast<std::uint16_t>(round % 2 ? rng() : pick(0, 5));
            const int x = pick(-2, fw - 1), y = pick(-2, fh - 1);
            if (pick(0, 1) == 0) {
                sprite.Raw(w, h, x, y, fw, fh, pixels);
                continue;
            }
            std::vector<std::pair<int, std::uint16_t>> runs;
            for (std::uint16_t p : pixels)
                if (!runs.empty() && runs.back().second == p && runs.back().first < 255)
                    ++runs.back().first;
                else
                    runs.push_back({1, p});
            sprite.Runs(w, h, x, y, fw, fh, runs);
        }
        WriteFile("random.s16", sprite.Build());
        TIconTable table;
        ASSERT_EQ(ReadIconTable("random.s16", table), ReadTableResult::Loaded);
        auto file = InFile::Open("random.s16");
        const SheetExport sheet = MakeSheetExport(*file, table, "random.png");
        file.reset();
        WriteFile("random.png", sheet.Picture);
        WriteFile(sheet.RecordsPath, Bytes(sheet.Records.begin(), sheet.Records.end()));
        for (const bool cleared : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << (cleared ? ", cleared" : ""));
            if (cleared)
                Magick("random.png -background 'rgba(0,0,0,0)' -alpha background PNG32:random.png");
            const SheetImport import = ImportSheet("random.png", table, "same.s16");
            ASSERT_TRUE(import.Result.Ok) << import.Result.Message;
            EXPECT_EQ(import.Changed, std::vector<int>{});
            EXPECT_EQ(ReadFile("same.s16"), ReadFile("random.s16"));
        }
    }
}

TEST(Png, ReadsEveryFormAPeerProgramWritesPixelForPixel) {
    ScratchDir dir;
    struct Form {
        const char* Name;
        bool Grey;
        const char* Options;
        std::vector<int> Header; // depth, colour type, interlace
    };
    const Form forms[] = {
        {"RGBA", false, "PNG32:", {8, 6, 0}},
        {"palette", false, "PNG8:", {8, 3, 0}},
        {"grey and alpha",
         true,
         "-background gray -alpha background -define png:color-type=4 PNG:",
         {8, 4, 0}},
        {"16-bit RGBA", false, "PNG64:", {16, 6, 0}},
        {"16-bit grey and alpha",
         true,
         "-background gray -alpha background -define png:color-type=4 -define png:bit-depth=16 "
         "PNG:",
         {16, 4, 0}},
        {"interlaced RGBA", false, "-interlace PNG PNG32:", {8, 6, 1}},
        {"interlaced palette", false, "-interlace PNG PNG8:", {8, 3, 1}},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE(form.Name);
        const Image image = Sprite(form.Grey);
        SavePngFile(image, "source.png", kKey);
        Magick(std::string("source.png ") + form.Options + "form.png");
        const Bytes png = ReadFile("form.png");
        const std::vector<int> header = PngHeader(png);
        EXPECT_EQ(std::vector<int>(header.begin() + 2, header.end()), form.Header);
        EXPECT_EQ(DecodePng(png.data(), png.size(), kKey), image);
    }

    // Opaque grey at low depths and a palette without alpha.
    Image grey(3, 2);
    for (int k = 0; k < 6; ++k)
        grey.SetPixel(k % 3, k / 3, k % 2 ? RGB(255, 255, 255) : clBlack);
    SaveBitmapFile(grey, "grey.bmp");
    Magick("grey.bmp -define png:bit-depth=1 -define png:color-type=0 PNG:grey.png");
    const Bytes png = ReadFile("grey.png");
    EXPECT_EQ(PngHeader(png), (std::vector<int>{3, 2, 1, 0, 0}));
    EXPECT_EQ(DecodePng(png.data(), png.size(), kKey), grey);
}

TEST(Png, ReadsAlphaBelowHalfAsTheKeyColour) {
    ScratchDir dir;
    WriteFile("rgba.raw", {1, 2, 3, 0, 4, 5, 6, 127, 7, 8, 9, 128, 10, 11, 12, 255});
    Magick("-size 4x1 -depth 8 rgba:rgba.raw PNG32:rgba.png");
    EXPECT_EQ(LoadPictureFile("rgba.png", kKey), [] {
        Image image(4, 1);
        image.SetPixel(0, 0, kKey);
        image.SetPixel(1, 0, kKey);
        image.SetPixel(2, 0, RGB(7, 8, 9));
        image.SetPixel(3, 0, RGB(10, 11, 12));
        return image;
    }());
}

TEST(Png, RefusesHostileFilesBeforeAllocatingWithAClearMessage) {
    ScratchDir dir;
    // Opaque, of more colours than a palette holds, so the data follow the header chunk.
    Image colourful(20, 15);
    for (int k = 0; k < 300; ++k)
        colourful.SetPixel(k % 20, k / 20, RGB(k % 20 * 12, k / 20 * 17, 5));
    const Bytes good = EncodePng(colourful, kKey);
    auto raw = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    auto with = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
        return WithPngChecksums(raw(at, std::move(bytes)));
    };
    auto sized = [&](std::uint32_t w, std::uint32_t h) {
        Bytes b = good;
        for (int k = 0; k < 4; ++k) {
            b[16 + k] = static_cast<std::uint8_t>(w >> (24 - 8 * k));
            b[20 + k] = static_cast<std::uint8_t>(h >> (24 - 8 * k));
        }
        return WithPngChecksums(b);
    };
    // A 1 x 1 picture whose data inflate to 64 MiB.
    Bytes bomb = sized(1, 1);
    bomb.resize(33);
    const Bytes zeros = ZerosDeflated(1 << 18);
    PutBE32(bomb, static_cast<std::uint32_t>(zeros.size()));
    bomb.insert(bomb.end(), {'I', 'D', 'A', 'T'});
    bomb.insert(bomb.end(), zeros.begin(), zeros.end());
    bomb.insert(bomb.end(), {0, 0, 0, 0, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
    bomb = WithPngChecksums(bomb);
    // The image data chunk: its length field, its first and its last data byte.
    const char* type = "IDAT";
    const std::size_t chunk =
        std::search(good.begin(), good.end(), type, type + 4) - good.begin() - 4;
    const std::size_t idat = chunk + 8;
    const std::size_t last = idat + static_cast<std::size_t>(GetBE32(good, chunk)) - 1;

    const std::pair<Bytes, std::string> cases[] = {
        {with(1, {'p'}), "the file does not begin with the PNG signature"},
        {Bytes(good.begin(), good.begin() + 20), "the file ends inside its header"},
        {with(12, {'I', 'D', 'A', 'T'}), "the file does not begin with a header chunk"},
        {raw(17, {0x40}), "bad checksum in chunk IHDR"},
        {sized(0, 5), "the picture has no pixels"},
        {sized(32768, 1), "a picture of 32768 x 1 pixels is too large"},
        {sized(1, 0x80000000u), "a picture of 1 x 2147483648 pixels is too large"},
        {sized(20000, 20000), "a picture of 20000 x 20000 pixels is too large"},
        {with(24, {16, 3}), "bit depth 16 is not allowed for colour type 3"},
        {with(24, {4, 2}), "bit depth 4 is not allowed for colour type 2"},
        {with(25, {5}), "unknown colour type 5"},
        {with(28, {2}), "unknown compression, filter or interlace method"},
        {Bytes(good.begin(), good.begin() + 33), "the file ends after chunk IHDR, before any "
                                                 "image data"},
        {Bytes(good.begin(), good.begin() + 37), "the file ends inside the chunk after IHDR"},
        {raw(chunk, {0x7F, 0xFF, 0xFF, 0xF0}), "the file ends inside chunk IDAT"},
        {raw(chunk, {0xFF, 0xFF, 0xFF, 0xFF}),
         "chunk IDAT declares 4294967295 bytes, more than a chunk may hold"},
        {raw(37, {0x1B, '[', '2', 'J'}), "the chunk after IHDR has no valid type (\\x1B[2J)"},
        {with(chunk + 4, {'I', 'D', 'A', 'X'}), "unknown critical chunk IDAX"},
        {Bytes(good.begin(), good.end() - 30), "the file ends inside chunk IDAT"},
        {Bytes(good.begin(), good.end() - 12), "the file ends after chunk IDAT, without its IEND "
                                               "chunk"},
        {raw(idat + 5, {static_cast<std::uint8_t>(good[idat + 5] ^ 1)}),
         "bad checksum in chunk IDAT"},
        {raw(idat, {0xFF, 0xFF}), "bad checksum in chunk IDAT"},
        {with(idat, {0xFF, 0xFF}), "its image data cannot be inflated (incorrect header check)"},
        {with(last, {static_cast<std::uint8_t>(good[last] ^ 1)}), "bad checksum in its image data"},
        {bomb, "its data is larger than its picture"},
    };
    for (const auto& [bytes, reason] : cases)
        EXPECT_EQ(PngMessageOf<EInvalidGraphic>(bytes), "PNG image is not valid: " + reason);
    // The largest allowed sides get as far as their data.
    EXPECT_NE(PngMessageOf<EInvalidGraphic>(sized(32767, 1)), "no error");

    // A size the caller cannot use is refused before the picture exists: a 1 MB file declaring
    // 16384 x 16384 pixels costs what its header costs.
    Bytes huge = sized(16384, 16384);
    huge.resize(1 << 20, 0);
    WriteFile("huge.png", huge);
    try {
        LoadPictureFile("huge.png", kKey, nullptr, {9999, 9999});
        ADD_FAILURE() << "no error";
    } catch (const EPictureTooLarge& e) {
        EXPECT_EQ(std::make_pair(e.Width(), e.Height()), std::make_pair(16384LL, 16384LL));
    }
    EXPECT_EQ(DecodePng(good.data(), good.size(), kKey, nullptr, {20, 15}), colourful);
    EXPECT_THROW(DecodePng(good.data(), good.size(), kKey, nullptr, {20, 14}), EPictureTooLarge);
}

// ---- Animations

namespace {

// Frames of a sprite at play: a block in `colours` colours that moves, leaving transparent
// pixels behind it (the key, where `keyed`; else a plain colour), then stands still for a
// frame, shrinks and is gone.
std::vector<Image> MovingBlock(int colours, bool keyed) {
    std::vector<Image> frames;
    for (int f = 0; f < 6; ++f) {
        Image frame(31, 19);
        frame.Fill(keyed ? kKey : RGB(0, 0, 248));
        const int step = f == 3 ? 2 : f; // frame 3 repeats frame 2
        const int size = f == 4 ? 4 : f == 5 ? 0 : 12;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size + 4; ++x) {
                const int i = (x + y * (size + 4) + step) % colours;
                frame.SetPixel(3 * step + x, step + y, RGB(Level(i, 31), Level(i * 7, 63), i / 8));
            }
        frames.push_back(frame);
    }
    return frames;
}

// Pixels of `frames` that differ from the RGBA frames a peer decoded (alpha 0 for the key,
// 255 otherwise); -1 when the peer gave another number of bytes.
std::int64_t Mismatches(const Bytes& rgba, const std::vector<Image>& frames) {
    std::size_t at = 0;
    std::int64_t wrong = 0;
    for (const Image& frame : frames)
        for (int y = 0; y < frame.Height(); ++y)
            for (int x = 0; x < frame.Width(); ++x, at += 4) {
                if (at + 4 > rgba.size())
                    return -1;
                const TColor c = frame.Pixel(x, y);
                const bool clear = c == kKey;
                wrong +=
                    clear ? rgba[at + 3] != 0
                          : rgba[at + 3] != 255 || RGB(rgba[at], rgba[at + 1], rgba[at + 2]) != c;
            }
    return at == rgba.size() ? wrong : -1;
}

std::string Output(const std::string& command) {
    EXPECT_EQ(Shell(command + " >out.txt"), 0) << command;
    const Bytes text = ReadFile("out.txt");
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(Animation, PeersReadOurGifAndPngFrameByFrameWithOurPixelsDelaysAndLoops) {
    ScratchDir dir;
    struct Case {
        int Colours;
        bool Keyed;
        bool Loop;
    };
    // 256 opaque colours leave the GIF no spare entry for the pixels a frame keeps; 255 and the
    // key fill it exactly.
    for (const Case c : {Case{7, true, true}, Case{255, true, false}, Case{256, false, true}}) {
        SCOPED_TRACE(std::to_string(c.Colours) + (c.Keyed ? " keyed" : " opaque"));
        const std::vector<Image> frames = MovingBlock(c.Colours, c.Keyed);
        std::vector<const Image*> order;
        for (const Image& frame : frames)
            order.push_back(&frame);
        const std::optional<PngKey> key =
            c.Keyed ? std::optional<PngKey>(PngKey(kKey)) : std::nullopt;

        const GifAnimation gif = EncodeGif(order, key, 7, c.Loop);
        EXPECT_EQ(gif.ReducedFrames, 0);
        WriteFile("anim.gif", gif.Bytes);
        EXPECT_EQ(Mismatches(MagickRaw("anim.gif -coalesce -depth 8 RGBA:"), frames), 0);
        EXPECT_EQ(Output("/usr/bin/identify -format '%T ' anim.gif"), "7 7 7 7 7 7 ");
        // Repeated forever, or (no loop count at all) played once.
        EXPECT_EQ(Output("/usr/bin/identify -verbose anim.gif | grep Iterations | sort -u"),
                  c.Loop ? "  Iterations: 0\n" : "");

        WriteFile("anim.png", EncodeAnimatedPng(order, key, 1, 12, c.Loop));
        ASSERT_EQ(Shell("ffmpeg -v error -y -i anim.png -fps_mode passthrough -f rawvideo "
                        "-pix_fmt rgba frames.rgba"),
                  0);
        EXPECT_EQ(Mismatches(ReadFile("frames.rgba"), frames), 0);
    }
}

TEST(Animation, GifFramesOfMoreThan256ColoursCountThePixelsThatChanged) {
    ScratchDir dir;
    std::vector<Image> frames = MovingBlock(7, true);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 31; ++x)
            frames[1].SetPixel(x, y, RGB(x * 8, y * 13, (x * y) & 0xFF)); // 589 colours
    const GifAnimation gif =
        EncodeGif({&frames[0], &frames[1], &frames[2]}, PngKey(kKey), 10, true);
    EXPECT_EQ(gif.ReducedFrames, 1);
    EXPECT_GT(gif.ChangedPixels, 0);
    WriteFile("anim.gif", gif.Bytes);
    const Bytes rgba = MagickRaw("anim.gif -coalesce -depth 8 RGBA:");
    EXPECT_EQ(Mismatches(rgba, {frames[0], frames[1], frames[2]}), gif.ChangedPixels);
}

TEST(Animation, GifFramesThatFillTheCodeTableComeBackExactPlainAndInterlaced) {
    ScratchDir dir;
    // The top half repeats one row of noise and the bottom half another: the code table fills
    // in the top half, and the frame codes smaller interlaced. The second frame is noise.
    std::mt19937 random(7);
    std::vector<Image> frames(2, Image(300, 160));
    std::uint32_t rows[2][300];
    for (auto& row : rows)
        for (std::uint32_t& c : row)
            c = RGB(Level(static_cast<int>(random() % 16), 31), 0, 8);
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 300; ++x) {
            frames[0].SetPixel(x, y, rows[y / 80][x]);
            frames[1].SetPixel(x, y, RGB(Level(static_cast<int>(random() % 200), 63), 0, 16));
        }
    WriteFile("anim.gif", EncodeGif({&frames[0], &frames[1]}, std::nullopt, 10, true).Bytes);
    EXPECT_EQ(Mismatches(MagickRaw("anim.gif -coalesce -depth 8 RGBA:"), frames), 0);
    EXPECT_EQ(Output("/usr/bin/identify -format '%[interlace] ' anim.gif").substr(0, 4), "GIF ");
}
