// The editor's operations as commands: Show, Collage, Replace (re-encode) and export.

#include "AnimateCommand.h"
#include "Commands.h"
#include "ToolRunner.h"

#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/Animation.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/PictureFiles.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kivtest {
namespace {

using kivtool::Context;

// An icon whose box fills its whole frame with one colour.
SpriteBuilder& FullIcon(SpriteBuilder& sprite, int width, int height, std::uint16_t value) {
    std::vector<std::pair<int, std::uint16_t>> runs;
    for (int left = width * height; left > 0; left -= 255)
        runs.push_back({std::min(left, 255), value});
    return sprite.Runs(width, height, 0, 0, width, height, runs);
}

kiv::Image Decoded(const std::string& path, std::int32_t storedCount, const kiv::TIconHeader& h) {
    auto file = kiv::InFile::Open(path);
    return kiv::DecodeIcon(*file, kiv::IconDataOffset(storedCount, h), h);
}

TEST(ShowCommand, SavesTheDecodedFrameOfTheNumberedIcon) {
    ScratchDir dir;
    SpriteBuilder sprite;
    sprite.Raw(2, 2, 1, 1, 5, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF})
        .Runs(3, 2, 0, 1, 3, 3, {{5, 0x1234}, {1, 0xFFFF}});
    WriteFile("s.s16", sprite.Build());

    for (int icon = 1; icon <= 2; ++icon) {
        const ToolRun run = RunCommand([&](const Context& c) {
            return kivtool::ShowCommand(c, "s.s16", icon, "p.bmp", true);
        });
        ASSERT_EQ(run.Status, 0) << run.Err;
        kiv::TIconHeader h = sprite.Icons()[static_cast<std::size_t>(icon - 1)].Header;
        h.Starts = icon == 1 ? 0 : 8;
        EXPECT_EQ(ReadFile("p.bmp"), kiv::EncodeBitmap(Decoded("s.s16", 2, h)));
    }

    const auto fails = [](const std::string& path, int icon) {
        return RunCommand(
            [&](const Context& c) { return kivtool::ShowCommand(c, path, icon, "q.bmp"); });
    };
    EXPECT_EQ(fails("s.s16", 0).Err, "Icon 0 is out of range: the file holds icons 1 to 2.\n");
    EXPECT_EQ(fails("s.s16", 3).Status, 1);
    EXPECT_EQ(fails("none.s16", 1).Err, "Could not open none.s16\n");
    WriteFile("empty.s16", SpriteBuilder().Build());
    EXPECT_EQ(fails("empty.s16", 1).Err, "Icon 1 is out of range: the file holds no icons.\n");
    EXPECT_FALSE(FileExists("q.bmp"));
}

TEST(ShowCommand, WarnsAboutMoreThanAThousandIconsAndStillFindsTheirData) {
    ScratchDir dir;
    SpriteBuilder sprite;
    for (int k = 0; k < 1001; ++k)
        sprite.Raw(1, 1, 0, 0, 1, 1, {static_cast<std::uint16_t>(k * 61)});
    WriteFile("many.s16", sprite.Build());

    ToolRun run = RunCommand(
        [](const Context& c) { return kivtool::ShowCommand(c, "many.s16", 1000, "p.bmp"); });
    ASSERT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "Maximum icons exceeded! Do NOT edit\n");
    kiv::TIconHeader h = sprite.Icons()[999].Header;
    h.Starts = 999 * 2;
    const kiv::Image picture = Decoded("many.s16", 1001, h);
    EXPECT_EQ(picture.Pixel(0, 0), kiv::UnpackPixel((999 * 61) & 0xFF, ((999 * 61) >> 8) & 0xFF));
    EXPECT_EQ(ReadFile("p.bmp"), kiv::EncodeBitmap(picture));

    run = RunCommand(
        [](const Context& c) { return kivtool::ShowCommand(c, "many.s16", 1001, "p.bmp"); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Maximum icons exceeded! Do NOT edit\n"
                       "Icon 1001 is out of range: the file holds icons 1 to 1000.\n");
}

TEST(CollageCommand, LaysOutPagesAndPrintsWhereTheNextPageStarts) {
    ScratchDir dir;
    SpriteBuilder sprite;
    for (int k = 0; k < 100; ++k)
        FullIcon(sprite, 100, 50, 0xF800);
    WriteFile("s.s16", sprite.Build());
    const auto collage = [](int icon) {
        return RunCommand(
            [&](const Context& c) { return kivtool::CollageCommand(c, "s.s16", icon, "c.bmp"); });
    };

    ToolRun run = collage(1);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "55\n");
    const kiv::Image page = kiv::LoadBitmapFile("c.bmp");
    ASSERT_EQ(page.Width(), 642);
    ASSERT_EQ(page.Height(), 482);
    const kiv::TColor red = kiv::UnpackPixel(0x00, 0xF8);
    for (int col = 0; col < 6; ++col)
        for (int row = 0; row < 9; ++row) {
            const int x = 1 + 101 * col, y = 1 + 51 * row;
            EXPECT_EQ(page.Pixel(x, y), red);
            EXPECT_EQ(page.Pixel(x + 99, y + 49), red);
            EXPECT_EQ(page.Pixel(x - 1, y), kiv::clAqua);
            EXPECT_EQ(page.Pixel(x, y - 1), kiv::clAqua);
        }
    EXPECT_EQ(page.Pixel(607, 1), kiv::clAqua); // no seventh tile in a row
    EXPECT_EQ(page.Pixel(1, 460), kiv::clAqua); // no tenth row

    EXPECT_EQ(collage(55).Out, "100\n"); // the remaining 46 fit: the last icon's number
    EXPECT_EQ(collage(100).Out, "100\n");
    EXPECT_EQ(collage(101).Status, 1);
}

TEST(CollageCommand, MovesTheRowBottomBeforeTheWrapTest) {
    ScratchDir dir;
    SpriteBuilder sprite;
    for (int k = 0; k < 6; ++k)
        FullIcon(sprite, 100, 50, 0x001F);
    FullIcon(sprite, 100, 200, 0x07E0); // wraps, yet deepens the first row to 201
    FullIcon(sprite, 30, 482, 0xFFFF);  // too tall for any page
    WriteFile("s.s16", sprite.Build());

    ToolRun run = RunCommand(
        [](const Context& c) { return kivtool::CollageCommand(c, "s.s16", 1, "c.bmp"); });
    EXPECT_EQ(run.Out, "8\n");
    const kiv::Image page = kiv::LoadBitmapFile("c.bmp");
    const kiv::TColor green = kiv::UnpackPixel(0xE0, 0x07);
    EXPECT_EQ(page.Pixel(1, 202), green);
    EXPECT_EQ(page.Pixel(1, 201), kiv::clAqua);

    // An icon that cannot be placed on an empty page: nothing drawn, the number stays.
    run = RunCommand(
        [](const Context& c) { return kivtool::CollageCommand(c, "s.s16", 8, "c.bmp", true); });
    EXPECT_EQ(run.Out, "8\n");
    const kiv::Image empty = kiv::LoadBitmapFile("c.bmp");
    EXPECT_EQ(empty.Pixel(1, 1), kiv::clAqua);
}

TEST(ReencodeCommand, WritesTheTwinCoreWritesAndRefusesBadPictures) {
    ScratchDir dir;
    SpriteBuilder sprite;
    sprite.Raw(2, 1, 0, 0, 2, 1, {1, 2}, 7).Runs(1, 1, 0, 0, 1, 1, {{1, 3}}, 8);
    WriteFile("s.s16", sprite.Build());
    kiv::Image picture(5, 4);
    picture.Fill(kiv::BackColor);
    picture.SetPixel(3, 2, kiv::RGB(200, 16, 16));
    picture.SetPixel(1, 1, kiv::RGB(16, 200, 16));
    kiv::SaveBitmapFile(picture, "edit.bmp");

    ToolRun run = RunCommand(
        [](const Context& c) { return kivtool::ReencodeCommand(c, "s.s16", 1, "edit.bmp", ""); });
    ASSERT_EQ(run.Status, 0) << run.Err;
    const Bytes produced = ReadFile("s.s17");
    std::remove("s.s17");
    kiv::TIconTable table;
    ASSERT_EQ(kiv::ReadIconTable("s.s16", table), kiv::ReadTableResult::Loaded);
    ASSERT_TRUE(kiv::ReencodeIcon(kiv::LoadBitmapFile("edit.bmp"), 0, table).Ok);
    EXPECT_EQ(produced, ReadFile("s.s17"));

    run = RunCommand([](const Context& c) {
        return kivtool::ReencodeCommand(c, "s.s16", 2, "edit.bmp", "out.s16");
    });
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_TRUE(kiv::ReencodeIcon(kiv::LoadBitmapFile("edit.bmp"), 1, table).Ok);
    EXPECT_EQ(ReadFile("out.s16"), ReadFile("s.s17"));

    // Refusals: the files stay as they were.
    const Bytes before = ReadFile("s.s17");
    kiv::Image blank(3, 3);
    blank.Fill(kiv::BackColor);
    kiv::SaveBitmapFile(blank, "blank.bmp");
    WriteFile("junk.bmp", Bytes{'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto refuse = [](const std::string& bmp) {
        return RunCommand(
            [&](const Context& c) { return kivtool::ReencodeCommand(c, "s.s16", 1, bmp, ""); });
    };
    run = refuse("blank.bmp");
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("no icon pixels"), std::string::npos);
    EXPECT_EQ(refuse("junk.bmp").Err, "junk.bmp: Bitmap image is not valid.\n");
    EXPECT_EQ(refuse("none.bmp").Err.rfind("Cannot open file none.bmp (", 0), 0u); // the reason
    EXPECT_EQ(ReadFile("s.s17"), before);

    // --on-twin builds on the twin an earlier re-encode wrote; a picture of another size
    // than the frame, or in colours 16 bits cannot hold, is written with a warning.
    // Over a twin that holds another changed icon, only with --force.
    picture.SetPixel(0, 0, kiv::RGB(255, 255, 255));
    kiv::SaveBitmapFile(picture, "second.bmp");
    EXPECT_EQ(refuse("edit.bmp").Status, 1);
    ASSERT_EQ(RunCommand([](const Context& c) {
                  return kivtool::ReencodeCommand(c, "s.s16", 1, "edit.bmp", "", false, true);
              }).Status,
              0);
    run = RunCommand([](const Context& c) {
        return kivtool::ReencodeCommand(c, "s.s16", 2, "second.bmp", "", true);
    });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Lines(run.Err), (std::vector<std::string>{
                                  "Building on s.s17.",
                                  "Warning: second.bmp is 5 x 4 pixels, the frame of icon 2 is "
                                  "1 x 1; the frame takes the picture's size.",
                                  "Warning: second.bmp: colours are reduced to 16 bits (5-6-5); "
                                  "1 pixel changed."}));
    ASSERT_EQ(kiv::ReadIconTable("s.s17", table), kiv::ReadTableResult::Loaded);
    EXPECT_EQ(table.Headers[0].FWidth, 5); // the first re-encode stayed
    EXPECT_EQ(table.Headers[1].FWidth, 5);
}

TEST(ExportCommand, SavesEveryIconAsItsShowPictureUnderNumberedNames) {
    ScratchDir dir;
    SpriteBuilder sprite;
    sprite.Raw(2, 2, 1, 1, 5, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF})
        .Runs(3, 2, 0, 1, 3, 3, {{5, 0x1234}, {1, 0xFFFF}})
        .Raw(0, 0, 0, 0, 2, 2, {});
    WriteFile("walk.s16", sprite.Build());

    const ToolRun run = RunCommand(
        [](const Context& c) { return kivtool::ExportCommand(c, "walk.s16", "out/icons"); });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "out/icons/walk_0001.bmp\nout/icons/walk_0002.bmp\nout/icons/walk_0003.bmp\n");
    for (int icon = 1; icon <= 3; ++icon) {
        const ToolRun show = RunCommand([&](const Context& c) {
            return kivtool::ShowCommand(c, "walk.s16", icon, "s.bmp", true);
        });
        ASSERT_EQ(show.Status, 0);
        EXPECT_EQ(ReadFile(kivtool::ExportFileName("out/icons/walk", icon)), ReadFile("s.bmp"));
    }
    EXPECT_EQ(kivtool::ExportFileName("a", 12345), "a_12345.bmp");

    // A second export keeps an edited bitmap and says so, unless forced.
    const Bytes fresh = ReadFile("out/icons/walk_0002.bmp");
    WriteFile("out/icons/walk_0002.bmp", Bytes{'B', 'M', 1});
    const auto again = [](bool force) {
        return RunCommand([=](const Context& c) {
            return kivtool::ExportCommand(c, "walk.s16", "out/icons", force);
        });
    };
    ToolRun kept = again(false);
    EXPECT_EQ(kept.Status, 1);
    EXPECT_EQ(kept.Err, "kept changed file out/icons/walk_0002.bmp; --force overwrites\n");
    EXPECT_EQ(ReadFile("out/icons/walk_0002.bmp"), (Bytes{'B', 'M', 1}));
    EXPECT_EQ(again(true).Status, 0);
    EXPECT_EQ(ReadFile("out/icons/walk_0002.bmp"), fresh);
}

TEST(AnimateCommand, WritesTheRunFromASpriteOrItsArchiveMemberUnderTheOutputRule) {
    ScratchDir dir;
    SpriteBuilder sprite;
    for (int k = 0; k < 3; ++k)
        sprite.Raw(1, 1, k, 0, 4, 3, {static_cast<std::uint16_t>(0xF800 + k)});
    sprite.Raw(1, 1, 0, 0, 5, 3, {0x07E0}); // another frame size ends the run
    WriteFile("s.s16", sprite.Build());
    WriteFile(
        "Modgen.dat",
        ArchiveBuilder().Member("x.s16", {0, 0, 0, 0}).Member("s.s16", sprite.Build()).Build());
    const auto animate = [](std::vector<std::string> inputs, const std::string& out,
                            bool force = false) {
        kivtool::AnimateOptions options;
        options.Inputs = std::move(inputs);
        options.OutPath = out;
        options.Force = force;
        return RunCommand([&](const Context& c) { return kivtool::AnimateCommand(c, options); });
    };
    // The default run is icons 1 to 3, read alike from the file and from inside the archive.
    ASSERT_EQ(animate({"s.s16"}, "a.gif").Status, 0);
    ASSERT_EQ(animate({"Modgen.dat", "s.s16", "1-3"}, "b.gif").Status, 0);
    EXPECT_EQ(ReadFile("a.gif"), ReadFile("b.gif"));
    ASSERT_EQ(animate({"s.s16", "1-3"}, "a.png").Status, 0);
    ASSERT_EQ(animate({"Modgen.dat", "#2"}, "b.png").Status, 0);
    EXPECT_EQ(ReadFile("a.png"), ReadFile("b.png"));
    {
        kiv::TIconTable table;
        kiv::ReadIconTable("s.s16", table);
        auto file = kiv::InFile::Open("s.s16");
        const kiv::AnimationFrames frames = kiv::DecodeAnimation(*file, table, 0, 2);
        EXPECT_EQ(ReadFile("a.png"),
                  kiv::EncodeAnimation(frames.Frames, {}, kiv::AnimationFormat::Png).Bytes);
    }

    EXPECT_EQ(animate({"s.s16"}, "a.gif").Err, "a.gif is up to date; nothing written.\n");
    EXPECT_EQ(animate({"s.s16", "2"}, "a.gif").Err,
              "kept changed file a.gif; --force overwrites\n");
    EXPECT_EQ(animate({"s.s16", "2"}, "a.gif", true).Status, 0);
    struct Refusal {
        std::vector<std::string> Inputs;
        std::string Out;
        int Status;
        std::string Err;
    };
    const Refusal refusals[] = {
        {{"s.s16", "3-2"}, "c.gif", 1, "The last icon 2 comes before the first, 3.\n"},
        {{"s.s16", "2-9"}, "c.gif", 1, "Icon 9 is out of range: the file holds icons 1 to 4.\n"},
        {{"s.s16", "0"}, "c.gif", 1, "Icon 0 is out of range: the file holds icons 1 to 4.\n"},
        {{"s.s16"}, "c.bmp", 2, "The output must end in .gif or .png.\n"},
        {{"Modgen.dat", "s.s16", "x"},
         "c.gif",
         2,
         "Icons are given as FIRST or FIRST-LAST, such as 1-6, not x\n"},
        {{"t.gif"},
         "t.gif",
         1,
         "Cannot write t.gif: that is the sprite file it is read from; nothing was written.\n"},
    };
    WriteFile("t.gif", sprite.Build());
    // Frames that would take more memory than an animation may are refused before decoding.
    WriteFile("huge.s16", SpriteBuilder().Raw(1, 1, 0, 0, 9000, 9000, {1}).Build());
    EXPECT_EQ(animate({"huge.s16"}, "c.gif").Err,
              "Icon frame of 9000 x 9000 pixels is too large.\n");
    for (const Refusal& r : refusals) {
        const ToolRun run = animate(r.Inputs, r.Out);
        EXPECT_EQ(run.Status, r.Status) << r.Out;
        if (!r.Err.empty()) {
            EXPECT_EQ(run.Err, r.Err);
        }
    }
    EXPECT_FALSE(FileExists("c.gif"));
    EXPECT_EQ(ReadFile("t.gif"), sprite.Build());
}

} // namespace
} // namespace kivtest

namespace kivtest {
namespace {

// The folder `edit` said it works in, from its "Editing ... : PATH" line.
std::string WorkFolderOf(const ToolRun& run) {
    const std::size_t at = run.Err.find(": ", run.Err.find("Editing icon"));
    const std::string path = run.Err.substr(at + 2, run.Err.find('\n', at) - at - 2);
    return std::filesystem::path(path).parent_path().string();
}

struct EditScene {
    EditScene() {
        WriteFile("s.s16", SpriteBuilder()
                               .Raw(3, 2, 0, 0, 3, 2, {1, 2, 3, 4, 5, 6})
                               .Raw(2, 1, 0, 0, 2, 1, {7, 8})
                               .Build());
        for (int k = 0; k < 3; ++k) {
            kiv::Image picture(3, 2);
            picture.Fill(0x0000F8 + 0x400000 * static_cast<kiv::TColor>(k));
            picture.SetPixel(k, 1, kiv::BackColor);
            WriteFile("p" + std::to_string(k) + ".png", kiv::EncodePng(picture, kiv::BackKey));
            // What each save must come to: the same picture re-encoded by itself.
            EXPECT_EQ(RunKivtool({"reencode", "s.s16", "1", "p" + std::to_string(k) + ".png", "-o",
                                  "e" + std::to_string(k) + ".s17"})
                          .Status,
                      0);
        }
        SetVariable("KIV_TEST_EDITOR_SCRIPT", dir.File("script"));
    }
    ~EditScene() {
        UnsetVariable("KIV_TEST_EDITOR_SCRIPT");
        UnsetVariable("KIV_IMAGE_EDITOR");
    }
    void Script(const std::string& text) { WriteFile("script", Bytes(text.begin(), text.end())); }
    ScratchDir dir;
};

} // namespace

TEST(EditCommand, ReencodesEverySaveOfAProgramUntilItExits) {
    EditScene scene;
    scene.Script("rename p0.png\nwait .kivtool-stdout 1\ncopy s.s17 t0\n"
                 "truncate p1.png\nwait .kivtool-stdout 2\ncopy s.s17 t1\n"
                 "parts p2.png\nwait .kivtool-stdout 3\ncopy s.s17 t2\n"
                 "rename p2.png\nwait .kivtool-stdout 4\n");
    SetVariable("KIV_IMAGE_EDITOR", "'" SCRIPTED_EDITOR_PATH "'");
    const ToolRun run = RunKivtool({"edit", "s.s16", "1"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string saved = "s_0001.png saved: ";
    EXPECT_EQ(Lines(run.Out), (std::vector<std::string>{
                                  saved + "icon 1 re-encoded into s.s17.",
                                  saved + "icon 1 re-encoded into s.s17.",
                                  saved + "icon 1 re-encoded into s.s17.",
                                  saved + "s.s17 is up to date; nothing written.",
                              }));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(ReadFile("t" + std::to_string(k)), ReadFile("e" + std::to_string(k) + ".s17"));
    EXPECT_FALSE(std::filesystem::exists(WorkFolderOf(run))) << WorkFolderOf(run);

    // Run again, the icon comes from the twin; the program is named or refused.
    scene.Script("args args\n");
    EXPECT_EQ(RunKivtool({"edit", "s.s16", "1", "--with", "no-such-editor-39"}).Err,
              "Building on s.s17.\nCannot start no-such-editor-39: no such program.\n");
    EXPECT_EQ(RunKivtool({"edit", "s.s16", "2", "--with", "'" SCRIPTED_EDITOR_PATH "' -a %f -b",
                          "-o", "o.s17"})
                  .Out,
              "");
    const Bytes args = ReadFile("args");
    const std::vector<std::string> words = Lines(std::string(args.begin(), args.end()));
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0] + " " + words[2], "-a -b");
    EXPECT_FALSE(FileExists("o.s17"));
}

#ifndef _WIN32
TEST(EditCommand, WaitsForEnterWhereTheDesktopsOpenerReturnsAtOnce) {
    EditScene scene;
    std::filesystem::create_directory("bin");
    std::filesystem::create_symlink(SCRIPTED_EDITOR_PATH, "bin/xdg-open");
    const std::string path = std::getenv("PATH");
    SetVariable("PATH", scene.dir.File("bin") + ":" + path);
    ASSERT_EQ(::mkfifo("enter", 0600), 0);
    scene.Script("rename p0.png\nwait .kivtool-stdout 1\ntype enter\n");
    const ToolRun run = RunKivtool({"edit", "s.s16", "1"}, "enter");
    SetVariable("PATH", path);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "s_0001.png saved: icon 1 re-encoded into s.s17.\n");
    EXPECT_NE(run.Err.find("press Enter here"), std::string::npos) << run.Err;
    EXPECT_EQ(ReadFile("s.s17"), ReadFile("e0.s17"));
    EXPECT_FALSE(std::filesystem::exists(WorkFolderOf(run)));
}
#endif

} // namespace kivtest
