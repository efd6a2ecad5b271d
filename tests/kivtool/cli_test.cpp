// The built kivtool as a user runs it: exit statuses, what goes to stdout and to stderr.

#include "ToolRunner.h"

#include "archive/ArchiveDirectory.h"
#include "base/FileStream.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/IconSheet.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <unistd.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

namespace kivtest {
namespace {

const std::vector<std::string> kCommands = {
    "list",     "headers",   "extract",      "replace",      "test", "verify",      "preview",
    "show",     "collage",   "reencode",     "export",       "demo", "extract-all", "reimport",
    "import",   "sheet",     "sheet export", "sheet import", "diff", "mod create",  "mod apply",
    "mod info", "thumbnail", "edit",         "animate"};

TEST(KivtoolCli, ExplainsItselfAndEveryCommandWithAnExample) {
    ScratchDir dir;
    ToolRun run = RunKivtool({"--help"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Out.find("Example:"), std::string::npos);
    for (const std::string& command : kCommands) {
        SCOPED_TRACE(command);
        EXPECT_NE(run.Out.find(command.substr(0, command.find(' '))), std::string::npos);
        std::istringstream words(command + " --help");
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        const ToolRun help = RunKivtool(args);
        EXPECT_EQ(help.Status, 0);
        EXPECT_NE(help.Out.find("Example:\n  kivtool " + command), std::string::npos);
        EXPECT_EQ(help.Err, "");
    }
    // Every command's arguments in one text, those of sheet export and import too.
    run = RunKivtool({"--help-all"});
    for (const char* argument : {"OUT TEXT REQUIRED", "SHEET TEXT REQUIRED", "DIR TEXT REQUIRED"})
        EXPECT_NE(run.Out.find(argument), std::string::npos) << argument;
}

TEST(KivtoolCli, RejectsBadCommandLinesWithStatusTwoAndTheUsage) {
    ScratchDir dir;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"list"},
        {"list", "a.dat", "extra"},
        {"show", "s.s16", "abc", "-o", "x.bmp"},
        {"show", "s.s16", "99999999999999999999", "-o", "x.bmp"}, // beyond any number
        {"show", "s.s16", "1"},
        {"headers", "--bogus", "a.dat", "m"},
    };
    for (const auto& args : bad) {
        const ToolRun run = RunKivtool(args);
        EXPECT_EQ(run.Status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find("Usage:"), std::string::npos);
    }
    EXPECT_FALSE(FileExists("x.bmp"));
}

TEST(KivtoolCli, ReportsFailuresAsOneLineOnStderrWithStatusOne) {
    ScratchDir dir;
    ToolRun run = RunKivtool({"extract", "missing.dat", "a.s16"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "Main data file not found.\n");

    run = RunKivtool({"show", "missing.s16", "1", "-o", "x.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Could not open missing.s16\n");

    // The window's text first, then why: an output whose folder is missing, a pipe named as
    // the archive.
    WriteFile("one.s16", SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {5}).Build());
    kiv::Image pixel(1, 1);
    pixel.Fill(kiv::RGB(8, 4, 8));
    kiv::SavePictureFile(pixel, "one.bmp", kiv::BackColor);
#ifndef _WIN32 // the system's words for a missing file, and a pipe
    run = RunKivtool({"reencode", "one.s16", "1", "one.bmp", "-o", "nodir/x.s17"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Could not open output file! (nodir/x.s17: No such file or directory)\n");
    run = RunKivtool({"replace", "missing.dat", "a.s16", "-o", "nodir/x.dat"});
    EXPECT_EQ(run.Err, "Could not open New Data file (nodir/x.dat) (No such file or directory)\n");
    ASSERT_EQ(::mkfifo("pipe.dat", 0600), 0);
    run = RunKivtool({"list", "pipe.dat"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Main data file not found. (pipe.dat: it is not a regular file)\n");
    std::remove("pipe.dat");
#endif

    Bytes sprite = SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {5}, 0x01000000).Build();
    WriteFile("a.dat", ArchiveBuilder().Member("x.s16", sprite).Build());
    run = RunKivtool({"test", "a.dat"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "x.s16 at 000019 is bad!\n");
    EXPECT_EQ(run.Err, "");

    // A failed write leaves the earlier file as it was.
    WriteFile("x.s16", sprite);
    WriteFile("keep.bmp", Bytes{1, 2, 3});
    run = RunKivtool({"show", "x.s16", "2", "-o", "keep.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(ReadFile("keep.bmp"), (Bytes{1, 2, 3}));
}

// Every file of the current folder with its bytes.
std::map<std::string, Bytes> FolderBytes() {
    std::map<std::string, Bytes> files;
    for (const std::string& name : ListFolder("."))
        files[name] = ReadFile(name);
    return files;
}

Bytes Sprite(std::uint16_t second) {
    return SpriteBuilder()
        .Raw(2, 1, 0, 0, 2, 1, {1, 2})
        .Raw(1, 1, 0, 0, 1, 1, {second})
        .Raw(2, 2, 0, 0, 2, 2, {3, 4, 5, 6})
        .Build();
}

TEST(KivtoolCli, KeepsEveryOutputThatIsAnInputOrHoldsWorkTheCommandWouldDrop) {
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Err;
        bool Writes; // some file changes
    };
    const std::string asInput = ": that is the sprite file it is read from; nothing was written.\n";
    const std::vector<Case> cases = {
        {{"show", "hero.s16", "1", "-o", "hero.s16"}, 1, "Cannot write hero.s16" + asInput, false},
        {{"sheet", "export", "hero.s16", "hero.s16"}, 1, "Cannot write hero.s16" + asInput, false},
        {{"preview", "Modgen.dat", "hero.s16", "1", "-o", "Modgen.dat"},
         1,
         "Cannot write Modgen.dat: that is the archive it is read from; nothing was written.\n",
         false},
        {{"sheet", "export", "hero.s16", "sheet.json"},
         1,
         "Cannot use sheet.json as a sheet: its records would be the same file; nothing was "
         "written.\n",
         false},
        {{"thumbnail", "hero.s16", "hero.s16"},
         1,
         "Cannot write hero.s16: that is the file it pictures; nothing was written.\n",
         false},
        {{"reencode", "hero.s16", "1", "e.bmp", "-o", "e.bmp"},
         1,
         "Cannot write e.bmp: that is the picture it is read from; nothing was written.\n",
         false},
        // Pictures and single files: the same is left, another is kept unless forced.
        {{"show", "hero.s16", "3", "-o", "e.bmp"},
         1,
         "kept changed file e.bmp; --force overwrites\n",
         false},
        {{"show", "hero.s16", "3", "-o", "e.bmp", "--force"}, 0, "", true},
        {{"extract", "Modgen.dat", "hero.s16"},
         0,
         "hero.s16 is up to date; nothing written.\n",
         false},
        {{"extract", "Modgen.dat", "coins.s16"},
         1,
         "kept changed file coins.s16; --force overwrites\n",
         false},
        // Rebuilds: kept when they would drop other work, replaced when not, or in place.
        {{"replace", "Modgen.dat", "hero.s16"},
         1,
         "Newgen.dat also holds a changed coins.s16 that this rebuild from Modgen.dat would drop; "
         "`kivtool replace Newgen.dat hero.s16` builds on it, --force replaces it.\n",
         false},
        {{"replace", "Modgen.dat", "hero.s16", "--force"}, 0, "", true},
        {{"replace", "Newgen.dat", "hero.s16"}, 0, "", true},
        {{"replace", "Modgen.dat", "coins.s16"},
         0,
         "Newgen.dat is up to date; nothing written.\n",
         false},
        {{"reencode", "hero.s16", "1", "e.bmp"},
         1,
         "hero.s17 also holds a changed icon 2 that this rebuild from hero.s16 would drop; "
         "`kivtool reencode --on-twin hero.s16 1 e.bmp` builds on it, --force replaces it.\n",
         false},
        {{"reencode", "--on-twin", "hero.s16", "1", "e.bmp"}, 0, "Building on hero.s17.\n", true},
        // A sheet of diff, as any picture: a file of other bytes is kept unless forced.
        {{"diff", "Modgen.dat", "Newgen.dat", "--sheet", "coins.s17"},
         1,
         "kept changed file coins.s17; --force overwrites\n",
         false},
        {{"diff", "Modgen.dat", "Newgen.dat", "--sheet", "coins.s17", "--force"},
         1,
         "Wrote coins.s17 and coins.json: 1 icon.\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1] + " " + c.Args[2]);
        ScratchDir dir;
        WriteFile("hero.s16", Sprite(7));
        WriteFile("hero.s17", Sprite(8));
        WriteFile("coins.s16", Sprite(10));
        WriteFile("coins.s17", Sprite(9));
        WriteFile(
            "Modgen.dat",
            ArchiveBuilder().Member("hero.s16", Sprite(7)).Member("coins.s16", Sprite(5)).Build());
        WriteFile(
            "Newgen.dat",
            ArchiveBuilder().Member("hero.s16", Sprite(7)).Member("coins.s16", Sprite(9)).Build());
        kiv::Image picture(2, 1); // icon 1's frame, in colours 16 bits hold
        picture.Fill(kiv::RGB(8, 4, 8));
        kiv::SavePictureFile(picture, "e.bmp", kiv::BackColor);
        const auto before = FolderBytes();

        const ToolRun run = RunKivtool(c.Args);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        if (!c.Err.empty() || c.Status == 0) {
            EXPECT_EQ(run.Err, c.Err);
        }
        EXPECT_EQ(FolderBytes() != before, c.Writes);
    }
}

TEST(KivtoolCli, WaitsForAnotherRunsLockAndSweepsWhatEndedRunsLeft) {
    ScratchDir dir;
    WriteFile("Modgen.dat", ArchiveBuilder().Member("hero.s16", Sprite(7)).Build());
    WriteFile("hero.s17", Sprite(8));
    {
        kiv::OutputLock held("Newgen.dat");
        const ToolRun run = RunKivtool({"replace", "Modgen.dat", "hero.s16"});
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err, "Newgen.dat is being written by another run; nothing was written.\n");
    }
    EXPECT_FALSE(FileExists("Newgen.dat"));

    // Work files of runs that ended without cleaning up go with the next write into their
    // folder; a file whose writer still holds it stays.
    WriteFile(".kiv-4194999-0.tmp", Bytes(10, 1));
    WriteFile(".kiv-0badc0de.lock", Bytes());
    kiv::platform::FileHandle live = kiv::platform::kNoFile;
    ASSERT_EQ(kiv::platform::OpenLockFile(".kiv-4195000-1.tmp", live),
              kiv::platform::LockFileOutcome::Opened);
    ASSERT_TRUE(kiv::platform::TryLock(live));
    EXPECT_EQ(RunKivtool({"replace", "Modgen.dat", "hero.s16"}).Status, 0);
    EXPECT_EQ(ListFolder("."), (std::vector<std::string>{".kiv-4195000-1.tmp", "Modgen.dat",
                                                         "Newgen.dat", "hero.s17"}));
    kiv::platform::Close(live);

#ifndef _WIN32 // links
    // A lock file's name taken by a link or a folder: the output is refused with what is in
    // the way and what to do, and the sweep neither follows nor removes either.
    std::string lockName;
    {
        kiv::OutputLock held("Newgen.dat");
        for (const std::string& name : ListFolder("."))
            if (name.ends_with(".lock"))
                lockName = name;
    }
    ASSERT_FALSE(lockName.empty());
    WriteFile("victim", Bytes{1});
    ASSERT_EQ(::symlink("victim", lockName.c_str()), 0);
    ASSERT_EQ(::symlink("victim", ".kiv-0badc0d1.lock"), 0);
    std::filesystem::create_directory(".kiv-0badc0d2.lock");
    ToolRun squatted = RunKivtool({"replace", "Modgen.dat", "hero.s16", "--force"});
    EXPECT_EQ(squatted.Status, 1);
    EXPECT_EQ(squatted.Err, "Could not open New Data file (Newgen.dat) (the entry " + lockName +
                                " where its lock file goes is a symbolic link, not a lock file "
                                "this tool made; remove it and write again)\n");
    std::remove(lockName.c_str());
    EXPECT_EQ(RunKivtool({"replace", "Modgen.dat", "hero.s16", "--force"}).Status, 0);
    EXPECT_EQ(ReadFile("victim"), Bytes{1});
    EXPECT_TRUE(std::filesystem::is_symlink(".kiv-0badc0d1.lock"));
    EXPECT_TRUE(std::filesystem::is_directory(".kiv-0badc0d2.lock"));
#endif

#ifndef _WIN32 // a longer name than a whole Windows path may be
    // Any name the folder takes works: work files do not lengthen it.
    const std::string longest = std::string(247, 'n') + ".dat";
    const ToolRun run = RunKivtool({"replace", "Modgen.dat", "hero.s16", "-o", longest});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(FileExists(longest));
#endif
}

TEST(KivtoolCli, MakesADemoArchiveThatListsTestsSoundAndExportsEveryIcon) {
    ScratchDir dir;
    ToolRun run = RunKivtool({"demo", "demo"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "demo/Modgen.dat\n");

    run = RunKivtool({"list", "demo/Modgen.dat"});
    ASSERT_EQ(run.Status, 0);
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "12 Files");

    run = RunKivtool({"test", "demo/Modgen.dat"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out + run.Err, "");
    run = RunKivtool({"verify", "demo/Modgen.dat"});
    EXPECT_EQ(run.Status, 0) << run.Out;
    EXPECT_EQ(Lines(run.Out).size(), 1u);

    int exported = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string name = Cells(lines[i]).at(0);
        SCOPED_TRACE(name);
        ASSERT_EQ(RunKivtool({"extract", "demo/Modgen.dat", name}).Status, 0);
        const ToolRun headers = RunKivtool({"headers", "demo/Modgen.dat", name});
        ASSERT_EQ(headers.Status, 0);
        const int count = std::stoi(Lines(headers.Out).at(0).substr(7));
        run = RunKivtool({"export", name, "icons"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(Lines(run.Out).size(), static_cast<std::size_t>(count));
        exported += count;
    }
    EXPECT_EQ(ListFolder("icons").size(), static_cast<std::size_t>(exported));

    // Every member out and back in gives the archive byte for byte.
    run = RunKivtool({"extract-all", "demo/Modgen.dat", "members"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Lines(run.Out).size(), 12u);
    run = RunKivtool({"reimport", "demo/Modgen.dat", "members", "-o", "again.dat"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("again.dat"), ReadFile("demo/Modgen.dat"));
}

kiv::Image Picture(const std::string& path) {
    return kiv::LoadPictureFile(path, kiv::BackColor);
}

// A pixel of the icon itself (painting the background around it would grow the icon's box).
std::pair<int, int> IconPixel(const kiv::Image& picture) {
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.Pixel(x, y) != kiv::BackColor)
                return {x, y};
    return {0, 0};
}

// The demo, and Newgen.dat with one pixel of hero.s16's icon 2 repainted.
void EditHeroIcon2() {
    ASSERT_EQ(RunKivtool({"demo", "."}).Status, 0);
    ASSERT_EQ(RunKivtool({"extract", "Modgen.dat", "hero.s16"}).Status, 0);
    ASSERT_EQ(RunKivtool({"show", "hero.s16", "2", "-o", "h2.bmp"}).Status, 0);
    kiv::Image edited = Picture("h2.bmp");
    const auto [x, y] = IconPixel(edited);
    edited.SetPixel(x, y, kiv::RGB(248, 0, 0));
    kiv::SavePictureFile(edited, "h2.bmp", kiv::BackColor);
    ASSERT_EQ(RunKivtool({"reencode", "hero.s16", "2", "h2.bmp"}).Status, 0);
    ASSERT_EQ(RunKivtool({"replace", "Modgen.dat", "hero.s16"}).Status, 0);
}

// diff answers as cmp does (0 the same, 1 different, with the listing alone, 2 on trouble),
// and its sheet shows the changed icon before and after as `show` shows it.
TEST(KivtoolCli, DiffListsWhatAnEditChangedAndShowsItOnASheet) {
    ScratchDir dir;
    EditHeroIcon2();
    const Bytes rebuilt = ReadFile("Newgen.dat");

    ToolRun run = RunKivtool({"diff", "Modgen.dat", "Modgen.dat"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out + run.Err, "");
    run = RunKivtool({"diff", "hero.s16", "hero.s17"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "icon 2: pixels\n");
    EXPECT_EQ(run.Err, "");
    run = RunKivtool({"diff", "Modgen.dat", "Newgen.dat", "--sheet", "changes.png"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "changed hero.s16\n  icon 2: pixels\n");

    // One record, for icon 2 of hero.s16, whose cells hold the icon before and after.
    const Bytes json = ReadFile("changes.json");
    const std::string records(json.begin(), json.end());
    EXPECT_EQ(Lines(records).size(), 3u);
    EXPECT_NE(records.find("{\"member\":\"hero.s16\",\"icon\":2,"), std::string::npos);
    const kiv::Image sheet = Picture("changes.png");
    const auto cell = [&](const std::string& side) {
        std::smatch m;
        const std::regex rect(
            "\"" + side + "\":\\{\"x\":(\\d+),\"y\":(\\d+),\"width\":(\\d+),\"height\":(\\d+)\\}");
        EXPECT_TRUE(std::regex_search(records, m, rect)) << side;
        kiv::Image picture(std::stoi(m.str(3)), std::stoi(m.str(4)));
        picture.Draw(-std::stoi(m.str(1)), -std::stoi(m.str(2)), sheet);
        return picture;
    };
    ASSERT_EQ(RunKivtool({"show", "hero.s16", "2", "-o", "before.png"}).Status, 0);
    ASSERT_EQ(RunKivtool({"show", "hero.s17", "2", "-o", "after.png"}).Status, 0);
    EXPECT_EQ(cell("before"), Picture("before.png"));
    EXPECT_EQ(cell("after"), Picture("after.png"));
    // Above the pair, outside its cells, a gutter of labels says which icon it is.
    std::smatch top;
    ASSERT_TRUE(std::regex_search(records, top, std::regex("\"y\":(\\d+)")));
    std::int64_t labelPixels = 0;
    for (int y = 0; y < std::stoi(top.str(1)); ++y)
        for (int x = 0; x < sheet.Width(); ++x)
            labelPixels += sheet.Pixel(x, y) == kiv::LabelColor;
    EXPECT_GT(labelPixels, 20);

    // Trouble: two files of different kinds, a missing file, a sheet over a compared file or
    // over its own records.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"diff", "Modgen.dat", "hero.s16"},
          {"diff", "missing.dat", "Modgen.dat"},
          {"diff", "Modgen.dat", "Newgen.dat", "--sheet", "Newgen.dat"},
          {"diff", "Modgen.dat", "Newgen.dat", "--sheet", "changes.json"}}) {
        run = RunKivtool(args);
        EXPECT_EQ(run.Status, 2) << args.back();
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err, "");
    }
    EXPECT_EQ(ReadFile("Newgen.dat"), rebuilt);
}

// A mod of that edit says what it changes as diff does, rebuilds the edit from the demo byte
// for byte, and is refused, with nothing written, by an archive it was not made for.
TEST(KivtoolCli, ModCarriesAnEditToItsBaseAndNoOther) {
    ScratchDir dir;
    EditHeroIcon2();
    std::filesystem::rename("Newgen.dat", "edited.dat");
    ASSERT_EQ(RunKivtool({"mod", "create", "Modgen.dat", "edited.dat", "-o", "red.kivmod",
                          "--title", "Red hero", "--author", "\x1b]0;owned\x07\r", "--note",
                          "safe.\xe2\x80\xae"
                          "exe.txt"})
                  .Status,
              0);
    ToolRun run = RunKivtool({"mod", "info", "red.kivmod"});
    EXPECT_EQ(run.Status, 0);
    // A stranger's text never acts on the terminal.
    EXPECT_NE(run.Out.find("Title: Red hero\nAuthor: \\x1B]0;owned\\x07\\x0D\n"
                           "Note: safe.\\xE2\\x80\\xAEexe.txt\n"),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("\nchanged hero.s16\n  icon 2: pixels\n"), std::string::npos);

    run = RunKivtool({"mod", "apply", "Modgen.dat", "red.kivmod"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), ReadFile("edited.dat"));
    run = RunKivtool({"mod", "apply", "edited.dat", "red.kivmod", "-o", "twice.dat"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("red.kivmod was made for another hero.s16: icon 2 differs"),
              std::string::npos)
        << run.Err;
    EXPECT_FALSE(std::filesystem::exists("twice.dat"));

    // A mod made for the edited archive is left out of the base's and named in the summary.
    ASSERT_EQ(RunKivtool({"mod", "create", "edited.dat", "Modgen.dat", "-o", "undo.kivmod"}).Status,
              0);
    run = RunKivtool({"mod", "apply", "Modgen.dat", "red.kivmod", "undo.kivmod",
                      "--skip-mismatched", "-o", "both.dat"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(run.Err.ends_with("Wrote both.dat: 1 change from 1 mod; undo.kivmod was "
                                  "skipped.\n"))
        << run.Err;
    EXPECT_EQ(ReadFile("both.dat"), ReadFile("edited.dat"));
}

// ImageMagick runs on the build machine; the Windows build's tests cannot start it.
#ifndef _WIN32
// Debian's ImageMagick installs convert here; another program of that name may come earlier
// on PATH. Returns what the command printed.
std::string Magick(const std::string& arguments) {
    const std::string convert =
        ::access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "convert";
    const std::string command = convert + " " + arguments + " > magick.out";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes out = ReadFile("magick.out");
    return std::string(out.begin(), out.end());
}

// ImageMagick paints one pixel, keeping the picture's transparency, as a modder's editor would.
void Paint(const std::string& path, int x, int y, const std::string& colour) {
    Magick(path + " -fill '" + colour + "' -draw 'point " + std::to_string(x) + "," +
           std::to_string(y) + "' PNG32:" + path);
}

TEST(KivtoolCli, EditsIconsThroughPngAndWholeMemberSheets) {
    ScratchDir dir;
    ASSERT_EQ(RunKivtool({"demo", "demo"}).Status, 0);
    const std::vector<std::string> lines = Lines(RunKivtool({"list", "demo/Modgen.dat"}).Out);
    ASSERT_EQ(lines.size(), 13u);

    // Every member's sheet, imported unedited, gives the member byte for byte, also once an
    // image editor has saved its transparent pixels as (0, 0, 0, 0). Opaque are exactly the
    // pixels whose 16-bit value is not the background's.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string name = Cells(lines[i]).at(0);
        SCOPED_TRACE(name);
        ASSERT_EQ(RunKivtool({"extract", "demo/Modgen.dat", name}).Status, 0);
        ToolRun run = RunKivtool({"sheet", "export", name, "sheet.png", "--force"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "sheet.png\nsheet.json\n");
        kiv::TIconTable table;
        kiv::ReadIconTable(name, table);
        auto file = kiv::InFile::Open(name);
        const kiv::Image sheet = kiv::BuildSheet(*file, table, kiv::LayOutSheet(table));
        std::int64_t opaque = 0;
        for (int y = 0; y < sheet.Height(); ++y)
            for (int x = 0; x < sheet.Width(); ++x)
                opaque += kiv::PackPixel(sheet.Pixel(x, y)) != kiv::PackPixel(kiv::BackColor);
        EXPECT_EQ(Magick("sheet.png -alpha extract -format '%[fx:int(mean*w*h+0.5)]' info:"),
                  std::to_string(opaque));
        for (const bool cleared : {false, true}) {
            if (cleared)
                Magick("sheet.png -background 'rgba(0,0,0,0)' -alpha background PNG32:sheet.png");
            run = RunKivtool({"sheet", "import", name, "sheet.png", "-o", "same.s16", "--force"});
            ASSERT_EQ(run.Status, 0) << run.Err;
            EXPECT_EQ(run.Out, "");
            EXPECT_EQ(ReadFile("same.s16"), ReadFile(name));
        }
    }

    // An edit in one cell re-encodes that icon alone.
    const std::string name = Cells(lines[1]).at(0);
    kiv::TIconTable table;
    kiv::ReadIconTable(name, table);
    const kiv::SheetCell cell = kiv::LayOutSheet(table).Cells.at(1);
    ASSERT_EQ(RunKivtool({"show", name, "2", "-o", "icon2.png"}).Status, 0);
    const auto [x2, y2] = IconPixel(Picture("icon2.png"));
    ASSERT_EQ(RunKivtool({"sheet", "export", name, "sheet.png", "--force"}).Status, 0);
    Paint("sheet.png", cell.X + x2, cell.Y + y2, "#FF0000");
    ToolRun run = RunKivtool({"sheet", "import", name, "sheet.png", "-o", "edited.s16"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "icon 2\n");
    for (int icon = 1; icon <= table.Count; ++icon) {
        const std::string number = std::to_string(icon);
        ASSERT_EQ(RunKivtool({"show", name, number, "-o", "before.png", "--force"}).Status, 0);
        ASSERT_EQ(RunKivtool({"show", "edited.s16", number, "-o", "after.png", "--force"}).Status,
                  0);
        kiv::Image expected = Picture("before.png");
        if (icon == 2)
            expected.SetPixel(x2, y2, kiv::RGB(248, 0, 0));
        EXPECT_EQ(Picture("after.png"), expected) << "icon " << icon;
    }

    // With --labels each icon's number stands in a gutter: the cells hold what a plain
    // sheet's cells hold, every other drawn pixel is a label, and the sheet imports as it is.
    ASSERT_EQ(RunKivtool({"sheet", "export", name, "plain.png"}).Status, 0);
    run = RunKivtool({"sheet", "export", name, "labelled.png", "--labels"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const kiv::Image plain = Picture("plain.png"), labelled = Picture("labelled.png");
    const kiv::SheetLayout cells = kiv::LayOutSheet(table, true);
    ASSERT_EQ(labelled.Width(), cells.Width);
    ASSERT_EQ(labelled.Height(), cells.Height);
    std::vector<bool> inCell(static_cast<std::size_t>(cells.Width) * cells.Height);
    const auto crop = [](const kiv::Image& from, const kiv::SheetCell& c) {
        kiv::Image part(c.Width, c.Height);
        part.Draw(-c.X, -c.Y, from);
        return part;
    };
    for (std::size_t k = 0; k < cells.Cells.size(); ++k) {
        const kiv::SheetCell& c = cells.Cells[k];
        EXPECT_EQ(crop(labelled, c), crop(plain, kiv::LayOutSheet(table).Cells[k])) << c.Icon;
        for (int y = c.Y; y < c.Y + c.Height; ++y)
            for (int x = c.X; x < c.X + c.Width; ++x)
                inCell[static_cast<std::size_t>(y) * cells.Width + x] = true;
    }
    std::int64_t labelPixels = 0;
    for (int y = 0; y < labelled.Height(); ++y)
        for (int x = 0; x < labelled.Width(); ++x)
            if (!inCell[static_cast<std::size_t>(y) * cells.Width + x] &&
                labelled.Pixel(x, y) != kiv::BackColor) {
                EXPECT_EQ(labelled.Pixel(x, y), kiv::LabelColor) << x << ", " << y;
                ++labelPixels;
            }
    EXPECT_GT(labelPixels, 0);
    run = RunKivtool({"sheet", "import", name, "labelled.png", "-o", "labelled.s16"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("labelled.s16"), ReadFile(name));

    // A sheet of the sprite file does not match its twin once that holds another change:
    // the refusal names both files and the ways on, and --force takes the sheet's cells.
    ASSERT_EQ(RunKivtool({"show", name, "1", "-o", "corner.bmp"}).Status, 0);
    kiv::Image corner = Picture("corner.bmp");
    corner.SetPixel(0, 0, kiv::RGB(0, 0, 248));
    kiv::SavePictureFile(corner, "corner.bmp", kiv::BackColor);
    ASSERT_EQ(RunKivtool({"reencode", name, "1", "corner.bmp"}).Status, 0);
    const std::string twin = kiv::TwinName(name);
    const Bytes changed = ReadFile(twin);
    run = RunKivtool({"sheet", "import", "--on-twin", name, "plain.png"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("plain.json: the sheet was exported from " + name + "; " + twin +
                           " differs in icon 1: export from " + twin +
                           ", or --force. Nothing was written.\n"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadFile(twin), changed);
    run = RunKivtool({"sheet", "import", "--on-twin", name, "plain.png", "--force"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_EQ(RunKivtool({"show", twin, "1", "-o", "back.bmp"}).Status, 0);
    ASSERT_EQ(RunKivtool({"show", name, "1", "-o", "first.bmp"}).Status, 0);
    EXPECT_EQ(Picture("back.bmp"), Picture("first.bmp"));

    // A sheet whose records describe another member is refused.
    const std::string other = Cells(lines[2]).at(0);
    run = RunKivtool({"sheet", "import", other, "sheet.png", "-o", "wrong.s16"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_FALSE(FileExists("wrong.s16"));

    // The edit road through PNG: export, paint, import, replace, preview.
    run = RunKivtool({"export", name, "icons", "--format", "png"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string exported = Lines(run.Out).at(2);
    // Saved again by an image editor, with other bytes and the same pixels: up to date.
    const Bytes first = ReadFile(exported);
    Magick(exported + " -define png:compression-level=1 PNG32:" + exported);
    ASSERT_NE(ReadFile(exported), first);
    run = RunKivtool({"export", name, "icons", "--format", "png"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const auto [x3, y3] = IconPixel(Picture(exported));
    Paint(exported, x3, y3, "#00FF00");
    kiv::Image painted = Picture(exported);
    run = RunKivtool({"import", name, "icons", "-o", "twin.s17"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    run =
        RunKivtool({"replace", "demo/Modgen.dat", name, "--twin", "twin.s17", "-o", "Newgen.dat"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_EQ(RunKivtool({"preview", "Newgen.dat", name, "3", "-o", "p.png"}).Status, 0);
    painted.SetPixel(x3, y3, kiv::RGB(0, 252, 0));
    EXPECT_EQ(Picture("p.png"), painted);
}
TEST(KivtoolCli, SaysWhatTakingAPictureDidToItsPixelsAndWhatIsWrongWithASheet) {
    ScratchDir dir;
    ASSERT_EQ(RunKivtool({"demo", "demo"}).Status, 0);
    ASSERT_EQ(RunKivtool({"extract", "demo/Modgen.dat", "coins.s16"}).Status, 0);
    ASSERT_EQ(RunKivtool({"extract", "demo/Modgen.dat", "hero.s16"}).Status, 0);

    // Half-transparent red twice, a near-background colour, white.
    WriteFile("p.raw", {255, 0, 0, 100, 255, 0, 0, 200, 252, 222, 219, 255, 255, 255, 255, 255});
    Magick("-size 4x1 -depth 8 rgba:p.raw PNG32:p.png");
    ToolRun run = RunKivtool({"reencode", "coins.s16", "1", "p.png", "-o", "r.s16"});
    EXPECT_EQ(run.Status, 0);
    for (const char* line :
         {"Warning: p.png: 2 pixels were partly transparent: 1 became the background (alpha "
          "below 128), 1 became opaque.\n",
          "Warning: p.png: 1 pixel became the background colour, as its 16-bit value is the "
          "background's.\n",
          "Warning: p.png: colours are reduced to 16 bits (5-6-5); 2 pixels changed.\n"})
        EXPECT_NE(run.Err.find(line), std::string::npos) << line << run.Err;

    // A sheet into a folder not made yet, flattened and saved under a new name: its records
    // are named with --records. Flattened onto a colour, the boxes grow and the warning names
    // the colour and the way out; flattened onto the background colour itself, or read with
    // --background, the sheet gives the member back byte for byte, and nothing is said.
    ASSERT_EQ(RunKivtool({"sheet", "export", "coins.s16", "new/coins.png"}).Status, 0);
    Magick("new/coins.png -background '#0DFA4D' -alpha remove -alpha off PNG24:flat.png");
    Magick("new/coins.png -background 'rgb(248,220,220)' -alpha remove -alpha off "
           "PNG24:onback.png");
    run = RunKivtool({"sheet", "import", "coins.s16", "flat.png", "-o", "flat.s16"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Cannot open file flat.json: the sheet's records are needed; --records "
                       "FILE names them when the sheet was saved under another name. Nothing "
                       "was written.\n");
    run = RunKivtool({"sheet", "import", "coins.s16", "flat.png", "-o", "flat.s16", "--records",
                      "new/coins.json"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err.rfind("Warning: flat.png has no transparent pixel, though it was written "
                            "with them: it looks flattened onto 0DFA4D (the colour of its "
                            "corners), and the box",
                            0),
              0u)
        << run.Err;
    EXPECT_NE(run.Err.find("; --background 0DFA4D reads that colour as the background.\n"),
              std::string::npos);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"onback.png"}, {"flat.png", "--background", "0dfa4d"}}) {
        std::vector<std::string> command{"sheet", "import", "coins.s16"};
        command.insert(command.end(), args.begin(), args.end());
        command.insert(command.end(), {"-o", "same.s16", "--force", "--records", "new/coins.json"});
        run = RunKivtool(command);
        EXPECT_EQ(run.Status, 0) << args[0];
        EXPECT_EQ(run.Err.find("Warning"), std::string::npos) << run.Err;
        EXPECT_EQ(ReadFile("same.s16"), ReadFile("coins.s16")) << args[0];
    }
    EXPECT_EQ(RunKivtool({"reencode", "coins.s16", "1", "p.png", "--background", "white"}).Status,
              2);

    // Records it cannot read, and records of another sprite file.
    WriteFile("new/coins.json", {'{', 'n', 'o'});
    run = RunKivtool({"sheet", "import", "coins.s16", "new/coins.png", "-o", "no.s16"});
    EXPECT_EQ(run.Err, "new/coins.json cannot be read as a sheet's records: it is not JSON. "
                       "Nothing was written.\n");
    Bytes deep(2000000, '[');
    deep.resize(4000000, ']');
    WriteFile("new/coins.json", deep);
    run = RunKivtool({"sheet", "import", "coins.s16", "new/coins.png", "-o", "no.s16"});
    EXPECT_EQ(run.Err, "new/coins.json cannot be read as a sheet's records: it is nested too "
                       "deeply. Nothing was written.\n");
    ASSERT_EQ(RunKivtool({"sheet", "export", "hero.s16", "new/coins.png", "--force"}).Status, 0);
    run = RunKivtool({"sheet", "import", "coins.s16", "new/coins.png", "-o", "no.s16"});
    EXPECT_EQ(run.Err, "new/coins.json describes a sheet of hero.s16, not of coins.s16. Nothing "
                       "was written.\n");
    // --force takes records of another state of the same file only, never another file's.
    run = RunKivtool({"sheet", "import", "coins.s16", "new/coins.png", "-o", "no.s16", "--force"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_FALSE(FileExists("no.s16"));
}

// What a file manager runs for each file it shows: the thumbnailer's Exec line with its
// fields filled in, in a folder it may not write, with no home and no display.
TEST(KivtoolCli, ThumbnailsWhatAFileManagerShowsAndNothingElse) {
    ScratchDir dir;
    std::string exec, tryExec, types;
    const Bytes entry = ReadFile(KIV_THUMBNAILER);
    for (const std::string& line : Lines(std::string(entry.begin(), entry.end()))) {
        for (auto [key, value] :
             {std::pair{"Exec=", &exec}, {"TryExec=", &tryExec}, {"MimeType=", &types}})
            if (line.rfind(key, 0) == 0)
                *value = line.substr(std::string(key).size());
    }
    EXPECT_EQ(tryExec, "kivtool");
    EXPECT_EQ(types, "image/x-kiv-s16;image/x-kiv-s17;application/x-kiv-archive;");
    ASSERT_EQ(exec.rfind("kivtool ", 0), 0u) << exec;

    ASSERT_EQ(RunKivtool({"demo", "demo"}).Status, 0);
    ASSERT_EQ(RunKivtool({"extract-all", "demo/Modgen.dat", "in"}).Status, 0);
    std::vector<std::string> pictured = ListFolder("in");
    ASSERT_EQ(pictured.size(), 12u);
    std::filesystem::copy_file("demo/Modgen.dat", "in/Modgen.dat");
    ASSERT_EQ(RunKivtool({"show", "in/hero.s16", "1", "-o", "h1.bmp"}).Status, 0);
    ASSERT_EQ(RunKivtool({"reencode", "in/hero.s16", "1", "h1.bmp"}).Status, 0);
    pictured.insert(pictured.end(), {"Modgen.dat", "hero.s17"});
    const std::vector<std::string> refused = {"empty.s16", "cut.dat", "notes.txt"};
    WriteFile("in/empty.s16", {0, 0, 0, 0});
    Bytes archive = ReadFile("demo/Modgen.dat");
    archive.resize(archive.size() / 2);
    WriteFile("in/cut.dat", archive);
    WriteFile("in/notes.txt", {'n', 'o', 't', 'e', 's', '\n'});
    std::filesystem::create_directory("out");
    WriteFile("out/Modgen.dat.png", {}); // some file managers make the output empty first
    std::filesystem::permissions("in", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const std::string in = std::filesystem::absolute("in").string();
    const std::string out = std::filesystem::absolute("out").string();
    const auto inputs = [&] {
        std::filesystem::current_path(in);
        const auto files = FolderBytes();
        std::filesystem::current_path(dir.Path());
        return files;
    };
    const auto before = inputs();

    constexpr int kSize = 128;
    const auto thumbnail = [&](const std::string& name) {
        std::string command = std::regex_replace(exec, std::regex("^kivtool"), KIVTOOL_PATH);
        command = std::regex_replace(command, std::regex("%s"), std::to_string(kSize));
        command = std::regex_replace(command, std::regex("%i"), in + "/" + name);
        command = std::regex_replace(command, std::regex("%o"), out + "/" + name + ".png");
        const int status =
            std::system(("cd " + in + " && env -u HOME -u DISPLAY -u WAYLAND_DISPLAY " + command +
                         " 2>/dev/null")
                            .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    for (const std::string& name : pictured) {
        SCOPED_TRACE(name);
        EXPECT_EQ(thumbnail(name), 0);
        std::istringstream size(Magick(out + "/" + name + ".png -format '%m %w %h' info:"));
        std::string format;
        int width = 0, height = 0;
        size >> format >> width >> height;
        EXPECT_EQ(format, "PNG");
        EXPECT_TRUE(width > 0 && width <= kSize && height > 0 && height <= kSize)
            << width << " x " << height;
    }
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(thumbnail(name), 1);
        EXPECT_FALSE(FileExists(out + "/" + name + ".png"));
    }
    EXPECT_TRUE(inputs() == before); // nothing written beside the input
    std::filesystem::permissions("in", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(ListFolder("out").size(), pictured.size());

    // An icon enlarged alone is its box, each pixel a square block, as ImageMagick crops and
    // samples the icon's own picture.
    kiv::TIconTable table;
    kiv::ReadIconTable("in/hero.s16", table);
    const kiv::TIconHeader& h = table.Headers[0];
    const int factor = kSize / std::max(h.Width, h.Height);
    ASSERT_GT(factor, 1);
    ASSERT_EQ(RunKivtool({"show", "in/hero.s16", "1", "-o", "h1.png"}).Status, 0);
    Magick("h1.png -crop " + std::to_string(h.Width) + "x" + std::to_string(h.Height) + "+" +
           std::to_string(h.StartX) + "+" + std::to_string(h.StartY) + " +repage -sample " +
           std::to_string(factor * 100) + "% PNG32:expected.png");
    EXPECT_EQ(Picture(out + "/hero.s16.png"), Picture("expected.png"));
}
#endif

} // namespace
} // namespace kivtest
