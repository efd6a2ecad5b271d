// A picture handed to the user's image editor: starting the editor, the process's own work
// folder, and the watch that sees each save of the file come back.

#include "base/Errors.h"
#include "base/ExternalEditor.h"
#include "base/Platform.h"
#include "base/WorkFolder.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/PictureWatch.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace kiv;
using namespace kivtest;
namespace fs = std::filesystem;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

Image Picture(TColor color, int width = 5) {
    Image picture(width, 3);
    picture.Fill(color);
    picture.SetPixel(1, 1, BackColor); // transparent in the file
    return picture;
}

Bytes PngOf(const Image& picture) {
    return EncodePng(picture, BackKey);
}

} // namespace

TEST(ExternalEditor, SplitsCommandLinesAsAShellSplitsWords) {
    struct Case {
        const char* Text;
        bool Backslash;
        std::vector<std::string> Words;
        const char* Fault;
    };
    const Case cases[] = {
        {"  paint   -n\t", true, {"paint", "-n"}, ""},
        {"'/opt/My Paint/paint' --x", true, {"/opt/My Paint/paint", "--x"}, ""},
        {R"("a \"b\" \$c \d" e\ f '\n')", true, {R"(a "b" $c \d)", "e f", R"(\n)"}, ""},
        {R"(a"b"'c'd $HOME *)", true, {"abcd", "$HOME", "*"}, ""},
        {R"("" x)", true, {"", "x"}, ""},
        {R"("C:\Program Files\Paint\paint.exe" \\srv\x)",
         false,
         {R"(C:\Program Files\Paint\paint.exe)", R"(\\srv\x)"},
         ""},
        {"paint 'open", true, {}, "an unclosed quote"},
        {"paint \"open", true, {}, "an unclosed quote"},
        {"paint \\", true, {}, "a backslash at its end"},
    };
    for (const Case& c : cases) {
        const CommandLine line = SplitCommandLine(c.Text, c.Backslash);
        EXPECT_EQ(line.Words, c.Words) << c.Text;
        EXPECT_EQ(line.Fault, c.Fault) << c.Text;
    }
    EXPECT_EQ(WithFile({"paint", "-n"}, "/t/a b.png"),
              (std::vector<std::string>{"paint", "-n", "/t/a b.png"}));
    EXPECT_EQ(WithFile({"paint", "--open=%f", "%f"}, "/t/x.png"),
              (std::vector<std::string>{"paint", "--open=/t/x.png", "/t/x.png"}));
}

TEST(ExternalEditor, StartsTheChosenProgramElseTheVariableWithTheFileAsOneWord) {
    ScratchDir dir;
    // A name a shell would take apart: it must reach the editor as it is.
    const std::string file = dir.File("it's a b;touch x $(y).png");
    WriteFile(file, PngOf(Picture(0x102030)));
    WriteText("script", "args args\nexit 3\n");
    SetVariable("KIV_TEST_EDITOR_SCRIPT", dir.File("script"));

    SetVariable(kImageEditorVariable, std::string("'") + SCRIPTED_EDITOR_PATH + "' -v %f");
    EditorStart start = StartImageEditor(file);
    ASSERT_TRUE(start.Ok()) << start.Message;
    ASSERT_TRUE(start.Process.Ended(60000));
    EXPECT_EQ(start.Process.ExitStatus(), 3);
    EXPECT_EQ(start.Process.OpenFault(), ""); // a program's own status is no failure to open
    const Bytes args = ReadFile("args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "-v\n" + file + "\n");
    EXPECT_FALSE(FileExists("x"));

    // The chosen command line goes before the variable; a missing program is named and
    // nothing runs.
    start = StartImageEditor(file, "no-such-editor-39 --x");
    EXPECT_EQ(start.Message, "Cannot start no-such-editor-39: no such program.");
    EXPECT_TRUE(start.Process.Ended());
    SetVariable(kImageEditorVariable, "paint 'unclosed");
    EXPECT_EQ(StartImageEditor(file).Message,
              "Cannot start the image editor: KIV_IMAGE_EDITOR has an unclosed quote.");
    UnsetVariable(kImageEditorVariable);
    UnsetVariable("KIV_TEST_EDITOR_SCRIPT");
}

#ifndef _WIN32
TEST(ExternalEditor, FallsBackToTheDesktopsOpenerAndNeverToTextEditors) {
    ScratchDir dir;
    // An opener of our own on the PATH, which finds no application (status 3), and text
    // editors that would leave a trace.
    fs::create_directory("bin");
    fs::create_symlink(SCRIPTED_EDITOR_PATH, "bin/paint");
    WriteText("bin/xdg-open", "#!/bin/sh\nexit 3\n");
    fs::permissions("bin/xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    SetVariable("PATH", dir.File("bin") + ":" + path);
    SetVariable("VISUAL", "paint");
    SetVariable("EDITOR", "paint");
    SetVariable("KIV_TEST_EDITOR_SCRIPT", dir.File("script"));
    WriteText("script", "args used\n");
    SetVariable(kImageEditorVariable, "  ");
    WriteFile("hero_0003.png", PngOf(Picture(0x102030)));

    EditorStart start = StartImageEditor(dir.File("hero_0003.png"));
    ASSERT_TRUE(start.Ok()) << start.Message;
    EXPECT_TRUE(start.Process.ViaDesktop());
    EXPECT_EQ(start.Process.Program(), "xdg-open");
    ASSERT_TRUE(start.Process.Ended(60000));
    EXPECT_EQ(start.Process.OpenFault(), "xdg-open could not open hero_0003.png (exit status 3).");
    EXPECT_FALSE(FileExists("used"));

    SetVariable("PATH", path);
    for (const char* name : {"VISUAL", "EDITOR", "KIV_TEST_EDITOR_SCRIPT", kImageEditorVariable})
        UnsetVariable(name);
}
#endif

TEST(WorkFolder, IsTheProcesssOwnAndGoesWithItsFiles) {
    const std::string folder = WorkFolder();
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(platform::TempFolder()));
    EXPECT_EQ(WorkFolder(), folder);
    const std::string work = WriteWorkPicture(Picture(0x405060), "hero_0003.png");
    EXPECT_EQ(work, JoinPath(folder, "hero_0003.png"));
    EXPECT_EQ(ReadFile(work), PngOf(Picture(0x405060)));
    EXPECT_THROW(WriteWorkPicture(Picture(0), "../x.png"), EFCreateError);
    // A sweep by another process leaves a running process's folder alone.
    SweepWorkFolders(platform::TempFolder());
    EXPECT_TRUE(fs::exists(work));
    RemoveWorkFolder();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_NE(WorkFolder(), folder);
    RemoveWorkFolder();
}

TEST(WorkFolder, SweepRemovesOnlyFoldersOfEndedRunsAndFollowsNoLink) {
    ScratchDir dir;
    const auto make = [&](const std::string& folder, bool withLock) {
        fs::create_directory(folder);
        WriteFile(folder + "/hero_0001.png", Bytes{1});
        if (withLock)
            WriteFile(folder + "/.kiv-work.lock", Bytes{});
    };
    make("kiv-work-77-0", true); // its process ended: nobody holds the lock
    make("kiv-work-78-0", true); // its process runs: the lock is held below
    make("kiv-work-x-0", true);  // not a name of ours
    make("kiv-work-79-0", true); // holds a folder of someone else's
    fs::create_directory("kiv-work-79-0/keep");
    platform::FileHandle held = platform::kNoFile;
    ASSERT_EQ(platform::OpenLockFile("kiv-work-78-0/.kiv-work.lock", held),
              platform::LockFileOutcome::Opened);
    ASSERT_TRUE(platform::TryLock(held));
#ifndef _WIN32
    make("target", false);
    fs::create_directory_symlink(dir.File("target"), "kiv-work-80-0");
#endif

    EXPECT_EQ(SweepWorkFolders(dir.Path().string()), 1);
    EXPECT_FALSE(fs::exists("kiv-work-77-0"));
    EXPECT_TRUE(fs::exists("kiv-work-78-0/hero_0001.png"));
    EXPECT_TRUE(fs::exists("kiv-work-x-0/hero_0001.png"));
    EXPECT_TRUE(fs::exists("kiv-work-79-0/keep"));
#ifndef _WIN32
    EXPECT_TRUE(fs::exists("target/hero_0001.png"));
#endif
    platform::Close(held);
    EXPECT_EQ(SweepWorkFolders(dir.Path().string()), 1);
    EXPECT_FALSE(fs::exists("kiv-work-78-0"));
}

TEST(PictureWatch, ReportsEachWayOfSavingOnceWithItsContent) {
    ScratchDir dir;
    const std::string path = dir.File("hero_0003.png");
    WriteFile(path, PngOf(Picture(0x102030)));
    PictureWatch watch(path);
    auto now = PictureWatch::Clock::now();
    const auto poll = [&](int afterMs = 100) {
        now += std::chrono::milliseconds(afterMs);
        return watch.Poll(now);
    };
    const auto saved = [&](const Image& expected) {
        PictureWatch::Event event = poll();
        EXPECT_EQ(event.What, PictureWatch::Event::Kind::Saved);
        EXPECT_EQ(event.Picture.Picture, expected);
        EXPECT_EQ(poll(3000).What, PictureWatch::Event::Kind::None); // once
    };
    EXPECT_EQ(poll().What, PictureWatch::Event::Kind::None); // the start is no save

    // A new file renamed over the old one.
    WriteFile(dir.File("new.png"), PngOf(Picture(0x203040)));
    fs::rename(dir.File("new.png"), path);
    saved(Picture(0x203040));

    // Truncated, then written again; the empty file is no picture (a bitmap reader would take
    // it as one of 0 x 0 pixels).
    WriteFile(path, Bytes{});
    EXPECT_EQ(poll(1500).What, PictureWatch::Event::Kind::None);
    WriteFile(path, EncodeBitmap(Picture(0x304050, 7)));
    saved(Picture(0x304050, 7));

    // Written in two parts with a pause: the first part is tried and not reported.
    const Bytes bytes = PngOf(Picture(0x405060, 9));
    WriteFile(path, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)));
    EXPECT_EQ(poll().What, PictureWatch::Event::Kind::None);
    EXPECT_TRUE(watch.Pending());
    EXPECT_EQ(poll(1900).What, PictureWatch::Event::Kind::None);
    WriteFile(path, bytes);
    saved(Picture(0x405060, 9));

    // Saved again as it was: still a save.
    WriteFile(path, Bytes{});
    poll();
    WriteFile(path, bytes);
    saved(Picture(0x405060, 9));
}

TEST(PictureWatch, ReportsAFileThatStaysUnreadableForTwoSecondsOnce) {
    ScratchDir dir;
    const std::string path = dir.File("hero_0003.png");
    WriteFile(path, PngOf(Picture(0x102030)));
    PictureWatch watch(path);
    auto now = PictureWatch::Clock::now();
    const auto poll = [&](int afterMs) {
        now += std::chrono::milliseconds(afterMs);
        return watch.Poll(now);
    };
    const Bytes png = PngOf(Picture(0x203040));
    WriteFile(path, Bytes(png.begin(), png.end() - 12)); // no IEND
    EXPECT_EQ(poll(100).What, PictureWatch::Event::Kind::None);
    EXPECT_EQ(poll(1800).What, PictureWatch::Event::Kind::None);
    const PictureWatch::Event event = poll(200);
    EXPECT_EQ(event.What, PictureWatch::Event::Kind::Unreadable);
    EXPECT_EQ(event.Message.rfind("hero_0003.png does not read as a picture: ", 0), 0u)
        << event.Message;
    EXPECT_EQ(poll(5000).What, PictureWatch::Event::Kind::None);
    EXPECT_FALSE(watch.Pending());

    // Its next save is watched again; a file that goes away is reported in its own words.
    fs::remove(path);
    EXPECT_EQ(poll(100).What, PictureWatch::Event::Kind::None);
    EXPECT_EQ(poll(2000).Message, "hero_0003.png is gone");
    WriteFile(path, png);
    EXPECT_EQ(poll(100).Picture.Picture, Picture(0x203040));
}
