#include "sprite/IconEncoder.h"

#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace kiv;
using namespace kivtest;

namespace {

constexpr TColor cRed = 0x000000F8, cGreen = 0x0000FC00, cBlue = 0x00F80000;

Image Picture(int width, int height) {
    Image picture(width, height);
    picture.Fill(BackColor);
    return picture;
}

// One red pixel at (1, 1).
Image Dot(int width, int height) {
    Image picture = Picture(width, height);
    picture.SetPixel(1, 1, cRed);
    return picture;
}

const std::string kChanged =
    "The sprite file changed since it was loaded. Load it again before replacing an icon.";

// Three icons of 6, 9 and 4 data bytes, written as `name` and loaded.
TIconTable LoadThree(const std::string& name) {
    WriteFile(name, SpriteBuilder()
                        .Raw(1, 3, 0, 0, 2, 3, {0x1111, 0x2222, 0x3333}, 0xA1)
                        .Runs(2, 3, 1, 1, 4, 4, {{2, 0x4444}, {3, 0x5555}, {1, 0x6666}}, 0xB2)
                        .Raw(2, 1, 0, 0, 2, 1, {0x7777, 0x8888}, 0xC3)
                        .Build());
    TIconTable table;
    EXPECT_EQ(ReadIconTable(name, table), ReadTableResult::Loaded);
    return table;
}

TIconHeader HeaderIn(const Bytes& file, int i) {
    return TIconHeader::FromBytes(file.data() + 4 + 40 * i);
}

// Re-encodes and gives the written file's bytes.
Bytes Reencoded(const Image& picture, int i, const TIconTable& table) {
    const auto result = ReencodeIcon(picture, i, table);
    EXPECT_TRUE(result.Ok) << result.Message;
    EXPECT_EQ(result.Message, "");
    return ReadFile(result.OutputPath);
}

// The runs of a re-encoded icon as (length, packed value).
std::vector<std::pair<int, int>> RunsIn(const Bytes& file, int count, int i) {
    const TIconHeader h = HeaderIn(file, i);
    std::vector<std::pair<int, int>> runs;
    for (int at = 4 + 40 * count + h.Starts; at < 4 + 40 * count + h.Starts + h.Bytes; at += 3)
        runs.emplace_back(file.at(at), file.at(at + 1) | (file.at(at + 2) << 8));
    return runs;
}

} // namespace

TEST(IconEncoder, TheBoxHoldsEveryPixelThatIsNotBackColor) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");
    const std::int32_t starts = table.Headers[1].Starts;

    Image full = Picture(5, 3);
    full.Fill(cRed);
    EXPECT_EQ(HeaderIn(Reencoded(full, 1, table), 1),
              TIconHeader({5, 3, 0, 0, 5, 3, starts, 3, 1, 0xB2}));

    Image dot = Picture(12, 9);
    dot.SetPixel(7, 4, cGreen);
    EXPECT_EQ(HeaderIn(Reencoded(dot, 1, table), 1),
              TIconHeader({1, 1, 7, 4, 12, 9, starts, 3, 1, 0xB2}));

    // An L whose bottom row is shorter than a row above it; a colour one bit off BackColor
    // still counts as icon.
    Image ell = Picture(10, 10);
    ell.FillRect(2, 3, 3, 7, cBlue);
    ell.FillRect(2, 6, 5, 7, cBlue);
    ell.SetPixel(6, 4, BackColor ^ 0x010000);
    const TIconHeader h = HeaderIn(Reencoded(ell, 1, table), 1);
    EXPECT_EQ(std::vector({h.StartX, h.StartY, h.Width, h.Height}), std::vector({2, 3, 5, 4}));

    // A collage page is accepted like any picture.
    Image page = Picture(642, 482);
    page.SetPixel(641, 481, cRed);
    EXPECT_EQ(HeaderIn(Reencoded(page, 0, table), 0).FWidth, 642);
}

TEST(IconEncoder, RunsHoldAtMost255EqualColoursAndCrossRowEnds) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");

    Image big = Picture(40, 40);
    big.FillRect(5, 5, 35, 25, cRed); // 30 x 20 = 600 pixels
    auto file = Reencoded(big, 0, table);
    EXPECT_EQ(HeaderIn(file, 0).Bytes, 9);
    EXPECT_EQ(RunsIn(file, 3, 0),
              (std::vector<std::pair<int, int>>{{255, 0xF800}, {255, 0xF800}, {90, 0xF800}}));

    Image block = Picture(6, 6);
    block.FillRect(1, 1, 4, 3, cBlue);
    file = Reencoded(block, 2, table);
    EXPECT_EQ(RunsIn(file, 3, 2), (std::vector<std::pair<int, int>>{{6, 0x001F}}));

    // Colours that pack alike still make two runs; BackColor inside the box is a colour
    // like any other and packs to 0xFEFB.
    Image mixed = Picture(4, 1);
    mixed.SetPixel(0, 0, 0x00000008);
    mixed.SetPixel(1, 0, 0x0000000F);
    mixed.SetPixel(3, 0, cGreen);
    file = Reencoded(mixed, 2, table);
    EXPECT_EQ(RunsIn(file, 3, 2), (std::vector<std::pair<int, int>>{
                                      {1, 0x0800}, {1, 0x0800}, {1, 0xFEFB}, {1, 0x07E0}}));
}

TEST(IconEncoder, LaterIconsMoveByTheChangeInSizeAndEarlierBytesStay) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");
    const Bytes before = ReadFile("sprite.s16");

    // Icon 1 held 9 bytes; thirteen one-pixel runs of alternating colour make 39.
    Image stripes = Picture(13, 1);
    for (int x = 0; x < 13; ++x)
        stripes.SetPixel(x, 0, x % 2 ? cRed : cGreen);
    const Bytes after = Reencoded(stripes, 1, table);
    ASSERT_EQ(after.size(), before.size() + 30);
    EXPECT_EQ(HeaderIn(after, 0), HeaderIn(before, 0));
    EXPECT_EQ(HeaderIn(after, 1).Starts, HeaderIn(before, 1).Starts);
    TIconHeader third = HeaderIn(before, 2);
    third.Starts += 30;
    EXPECT_EQ(HeaderIn(after, 2), third);
    const std::size_t data = 4 + 3 * 40;
    EXPECT_TRUE(std::equal(before.begin() + data, before.begin() + data + 6, after.begin() + data));
    EXPECT_TRUE(std::equal(before.end() - 4, before.end(), after.end() - 4));

    // Shrinking moves them back.
    const Bytes smaller = Reencoded(Dot(3, 3), 1, table);
    EXPECT_EQ(smaller.size(), before.size() - 6);
    EXPECT_EQ(HeaderIn(smaller, 2).Starts, HeaderIn(before, 2).Starts - 6);

    // The last icon: the file ends with its new data.
    const Bytes last = Reencoded(stripes, 2, table);
    EXPECT_EQ(last.size(), 4 + 3 * 40 + table.Headers[2].Starts + 39);
    EXPECT_EQ(RunsIn(last, 3, 2).back(), (std::pair<int, int>{1, 0x07E0}));
}

TEST(IconEncoder, WritesTheTwinAndNeverTouchesTheLoadedFileUnlessItIsTheTwin) {
    ScratchDir dir;
    EXPECT_EQ(TwinName("sprite.s16"), "sprite.s17");
    EXPECT_EQ(TwinName("dir.x/sprite"), "dir.x/sprit7");
    EXPECT_EQ(TwinName(""), "");

    const TIconTable table = LoadThree("sprite.s16");
    const TIconTable tableBefore = table;
    const Bytes source = ReadFile("sprite.s16");
    Image picture = Picture(4, 4);
    picture.SetPixel(2, 2, cRed);
    const Image pictureBefore = picture;

    auto result = ReencodeIcon(picture, 0, table);
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.OutputPath, "sprite.s17");
    EXPECT_EQ(ReadFile("sprite.s16"), source);
    EXPECT_EQ(picture, pictureBefore);
    EXPECT_EQ(table.Path, tableBefore.Path);
    EXPECT_EQ(table.Headers, tableBefore.Headers);
    EXPECT_EQ(table.FileLength, tableBefore.FileLength);

    // A second re-encode starts again from the loaded file and replaces the first output.
    picture.SetPixel(3, 3, cRed);
    ASSERT_TRUE(ReencodeIcon(picture, 2, table).Ok);
    const Bytes second = ReadFile("sprite.s17");
    EXPECT_EQ(HeaderIn(second, 0), HeaderIn(source, 0));
    EXPECT_EQ(ListFolder(dir.Path().string()),
              (std::vector<std::string>{"sprite.s16", "sprite.s17"}));

    // A loaded twin, or any name ending in 7, is rewritten in place. Its table is then out
    // of date, so another rewrite without loading again is refused instead of mixing the two.
    for (const std::string name : {"sprite.s17", "icons7"}) {
        const TIconTable loaded = LoadThree(name);
        const auto inPlace = ReencodeIcon(picture, 1, loaded);
        EXPECT_TRUE(inPlace.Ok) << inPlace.Message;
        EXPECT_EQ(inPlace.OutputPath, name);
        const Bytes rewritten = ReadFile(name);
        EXPECT_EQ(HeaderIn(rewritten, 1).Width, 2);
        EXPECT_EQ(ReencodeIcon(Dot(5, 5), 0, loaded).Message, kChanged);
        EXPECT_EQ(ReadFile(name), rewritten);
    }
    EXPECT_EQ(ListFolder(dir.Path().string()),
              (std::vector<std::string>{"icons7", "sprite.s16", "sprite.s17"}));
}

TEST(IconEncoder, DecodingTheWrittenIconGivesThePictureInSixteenBitColour) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");
    Image picture = Picture(37, 23);
    for (int y = 3; y < 20; ++y)
        for (int x = 4; x < 33; ++x)
            picture.SetPixel(x, y,
                             (x * 7 + y / 3) % 5 == 0 ? BackColor : RGB(x * 7, y * 11, x ^ y));
    ASSERT_TRUE(ReencodeIcon(picture, 1, table).Ok);

    TIconTable written;
    ASSERT_EQ(ReadIconTable("sprite.s17", written), ReadTableResult::Loaded);
    EXPECT_EQ(written.FileLength,
              4 + 3 * 40 + written.Headers[2].Starts + written.Headers[2].Bytes);
    auto in = InFile::Open("sprite.s17");
    DecodeStats stats;
    const Image frame = DecodeIcon(*in, IconDataOffset(written.Count, written.Headers[1]),
                                   written.Headers[1], &stats);
    EXPECT_EQ(stats.BytesRead, written.Headers[1].Bytes);
    EXPECT_FALSE(stats.EndedEarly);
    ASSERT_EQ(frame.Width(), 37);
    ASSERT_EQ(frame.Height(), 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const bool inBox = x >= 4 && x < 33 && y >= 3 && y < 20;
            const TColor c = picture.Pixel(x, y);
            const std::uint16_t p = PackPixel(c);
            ASSERT_EQ(frame.Pixel(x, y), inBox ? UnpackPixel(p & 0xFF, p >> 8) : BackColor)
                << x << "," << y;
        }
}

TEST(IconEncoder, RefusesWhatItCannotWriteSafelyAndWritesNothing) {
    ScratchDir dir;
    const std::string folder = dir.Path().string();
    const Image dot = Dot(3, 3);
    auto refused = [&](const Image& picture, int i, const TIconTable& table) {
        const auto before = ListFolder(folder);
        const auto result = ReencodeIcon(picture, i, table);
        EXPECT_FALSE(result.Ok);
        EXPECT_EQ(ListFolder(folder), before);
        return result.Message;
    };

    const TIconTable table = LoadThree("sprite.s16");
    EXPECT_EQ(refused(dot, -1, table), "Icon 0 is not in the loaded sprite file.");
    EXPECT_EQ(refused(dot, 3, table), "Icon 4 is not in the loaded sprite file.");
    EXPECT_EQ(refused(dot, 0, TIconTable{}), "Icon 1 is not in the loaded sprite file.");
    EXPECT_EQ(refused(Picture(8, 8), 0, table),
              "The picture has no icon pixels: every pixel is the background colour. "
              "Nothing was written.");
    EXPECT_EQ(refused(Image(), 0, table), "The picture is empty. Nothing was written.");
    Image wide = Picture(10000, 1);
    wide.SetPixel(0, 0, cRed);
    EXPECT_EQ(refused(wide, 0, table),
              "The picture is too large to encode: it must be under 10000 pixels on each side.");

    // Layout faults, each in a file of its own.
    auto withIcons = [](std::vector<std::pair<int, int>> startsBytes, std::size_t extra) {
        SpriteBuilder sprite;
        std::size_t total = 0;
        for (const auto& [starts, bytes] : startsBytes) {
            SpriteIcon icon;
            icon.Header = TIconHeader{1, 1, 0, 0, 1, 1, starts, bytes, 0, 0};
            icon.Data = Bytes(static_cast<std::size_t>(std::max(bytes, 0)), 0x11);
            icon.KeepHeader = true;
            total += icon.Data.size();
            sprite.Icon(icon);
        }
        Bytes file = sprite.Build();
        file.resize(file.size() + extra, 0x22);
        WriteFile("bad.s16", file);
        TIconTable t;
        ReadIconTable("bad.s16", t);
        return t;
    };
    const std::string layout = "The sprite file cannot be re-encoded: ";
    EXPECT_EQ(refused(dot, 0, withIcons({{0, 2}, {4, 2}}, 0)),
              layout + "the data of icon 2 does not follow the data of the icon before.");
    EXPECT_EQ(refused(dot, 0, withIcons({{0, 4}, {2, 2}}, 0)),
              layout + "the data of icon 2 does not follow the data of the icon before.");
    EXPECT_EQ(refused(dot, 0, withIcons({{2, 2}, {0, 2}}, 0)),
              layout + "the data of icon 2 does not follow the data of the icon before.");
    EXPECT_EQ(refused(dot, 1, withIcons({{0, 2}, {2, 2}}, 3)),
              layout + "the file does not end with the data of its last icon.");
    EXPECT_EQ(refused(dot, 0, withIcons({{0, 2}, {2, -2}}, 0)),
              layout + "icon 2 has a negative byte count.");
    EXPECT_EQ(refused(dot, 0, withIcons({{-2, 2}, {0, 2}}, 0)),
              layout + "the data of icon 1 starts before the pixel data area.");
    Bytes cut = ReadFile("sprite.s16");
    cut.resize(cut.size() - 1);
    WriteFile("cut.s16", cut);
    TIconTable cutTable;
    ReadIconTable("cut.s16", cutTable);
    EXPECT_EQ(refused(dot, 0, cutTable),
              layout + "the file does not end with the data of its last icon.");

    SpriteBuilder many;
    for (int j = 0; j < 1001; ++j)
        many.Raw(1, 1, 0, 0, 1, 1, {0});
    WriteFile("many.s16", many.Build());
    TIconTable manyTable;
    ASSERT_EQ(ReadIconTable("many.s16", manyTable), ReadTableResult::CountExceeded);
    EXPECT_EQ(refused(dot, 0, manyTable), layout + "it has more than 1000 icons.");

    // The loaded file vanished, or changed since it was loaded.
    TIconTable gone = table;
    gone.Path = "gone.s16";
    EXPECT_EQ(refused(dot, 0, gone), "Couldn't open S16 file.");
    const Bytes original = ReadFile("sprite.s16");
    Bytes longer = original;
    longer.push_back(0);
    WriteFile("sprite.s16", longer);
    EXPECT_EQ(refused(dot, 0, table), kChanged);
    Bytes edited = original;
    edited[4 + 40 * 2] = 9; // the last icon's Width
    WriteFile("sprite.s16", edited);
    EXPECT_EQ(refused(dot, 0, table), kChanged);
    WriteFile("sprite.s16", original);

    // The output cannot be created.
    std::filesystem::create_directory("sprite.s17");
    EXPECT_EQ(refused(dot, 0, table), "Could not open output file!");
}

#ifndef _WIN32 // a file-size limit in a child process
TEST(IconEncoder, AWriteFailingHalfWayLeavesTheEarlierOutput) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");
    const Image dot = Dot(3, 3);
    ASSERT_TRUE(ReencodeIcon(dot, 0, table).Ok);
    const Bytes earlier = ReadFile("sprite.s17");
    const auto folder = ListFolder(dir.Path().string());

    // A child process whose files may not grow past 64 bytes tries a rewrite.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
        Image full = Picture(20, 20);
        full.Fill(cBlue);
        const auto result = ReencodeIcon(full, 1, table);
        _exit(!result.Ok && result.Message == "Could not write output file!" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile("sprite.s17"), earlier);
    EXPECT_EQ(ListFolder(dir.Path().string()), folder);
}
#endif

TEST(IconEncoder, SeveralIconsInOneRewriteEqualSuccessiveRewrites) {
    ScratchDir dir;
    const TIconTable table = LoadThree("sprite.s16");
    Image wide = Picture(13, 2);
    for (int x = 0; x < 13; ++x)
        wide.SetPixel(x, x % 2, x % 3 ? cRed : cGreen);
    const Image dot = Dot(3, 3);
    Image block = Picture(6, 6);
    block.FillRect(1, 1, 4, 3, cBlue);

    // One after the other: sprite.s17 is loaded again before each next edit.
    ASSERT_TRUE(ReencodeIcon(wide, 0, table).Ok);
    TIconTable step;
    using Edit = std::pair<int, const Image*>;
    for (const auto& [i, picture] : {Edit{2, &dot}, Edit{0, &block}}) {
        ASSERT_EQ(ReadIconTable("sprite.s17", step), ReadTableResult::Loaded);
        ASSERT_TRUE(ReencodeIcon(*picture, i, step).Ok);
    }

    const auto all = ReencodeIcons({{0, &wide}, {2, &dot}, {0, &block}}, table, "batch.s17");
    ASSERT_TRUE(all.Ok) << all.Message;
    EXPECT_EQ(ReadFile("batch.s17"), ReadFile("sprite.s17"));

    // One picture that cannot be encoded stops the whole batch before anything is written.
    const Image blank = Picture(4, 4);
    const auto refused = ReencodeIcons({{1, &dot}, {2, &blank}}, table, "other.s17");
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Message.rfind("Icon 3: The picture has no icon pixels", 0), 0u);
    EXPECT_FALSE(ReencodeIcons({{3, &dot}}, table, "other.s17").Ok);
    EXPECT_FALSE(FileExists("other.s17"));
    // With no edit the output is the loaded file as it stands.
    ASSERT_TRUE(ReencodeIcons({}, table, "same.s17").Ok);
    EXPECT_EQ(ReadFile("same.s17"), ReadFile(table.Path));
}
