// Batch commands: their results equal the chains of single operations they stand for, and
// a refusal leaves every file as it was.

#include "Commands.h"
#include "ToolRunner.h"

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveRebuild.h"
#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace kivtest {
namespace {

using kivtool::Context;

// The lines of stderr other than warnings.
std::vector<std::string> Refusals(const std::string& err) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(err))
        if (line.rfind("Warning: ", 0) != 0)
            lines.push_back(line);
    return lines;
}

Bytes SmallSprite(std::uint16_t colour, int icons) {
    SpriteBuilder sprite;
    for (int k = 0; k < icons; ++k)
        sprite.Raw(2, 1, k, 0, 4, 2, {colour, static_cast<std::uint16_t>(colour + k)});
    return sprite.Build();
}

TEST(ExtractAll, WritesEverySafeMemberAndReimportGivesTheArchiveBack) {
    ScratchDir dir;
    const Bytes archive = ArchiveBuilder()
                              .Member("a.s16", SmallSprite(1, 2))
                              .Member("../evil", Bytes(4, 9))
                              .Member("b.s16", SmallSprite(2, 3))
                              .Member("c.txt", Bytes(6, 5))
                              .Trailer(Bytes{1, 2, 3})
                              .Build();
    WriteFile("Modgen.dat", archive);

    ToolRun run = RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"", true});
    });
    EXPECT_EQ(run.Out, "out/a.s16\nout/b.s16\nout/c.txt\n");
    EXPECT_FALSE(FileExists("out")); // a dry run writes nothing

    run = RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"*.s16", false});
    });
    EXPECT_EQ(run.Status, 0); // "../evil" does not match: not considered at all
    EXPECT_EQ(ListFolder("out"), (std::vector<std::string>{"a.s16", "b.s16"}));

    run = RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"", false});
    });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "out/a.s16\nout/b.s16\nout/c.txt\n");
    EXPECT_NE(run.Err.find("Cannot extract member \"../evil\""), std::string::npos);
    EXPECT_FALSE(FileExists("evil"));
    EXPECT_EQ(ReadFile("out/c.txt"), Bytes(6, 5));

    // An edited member file is kept unless forced; identical files are simply left.
    WriteFile("out/b.s16", Bytes{7});
    run = RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"*.s16", false});
    });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "out/a.s16\n");
    EXPECT_NE(run.Err.find("kept changed file out/b.s16; --force overwrites"), std::string::npos);
    EXPECT_EQ(ReadFile("out/b.s16"), Bytes{7});
    run = RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"*.s16", false, true});
    });
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(ReadFile("out/b.s16"), SmallSprite(2, 3));

    run = RunCommand([](const Context& c) {
        return kivtool::ReimportCommand(c, "Modgen.dat", "out", {"Newgen.dat", false});
    });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), archive);
}

TEST(Reimport, EqualsTheChainOfSingleReplaces) {
    ScratchDir dir;
    ArchiveBuilder builder;
    builder.Member("a.s16", SmallSprite(1, 2))
        .Member("b.s16", SmallSprite(2, 3))
        .Member("dup.s16", SmallSprite(3, 1))
        .Member("c.s16", SmallSprite(4, 4))
        .Member("dup.s16", SmallSprite(5, 2))
        .Trailer(Bytes(5, 0xEE));
    WriteFile("Modgen.dat", builder.Build());
    std::filesystem::create_directory("edits");
    WriteFile("edits/b.s16", SmallSprite(7, 9));   // longer
    WriteFile("edits/c.s16", SmallSprite(8, 1));   // shorter
    WriteFile("edits/dup.s16", SmallSprite(9, 2)); // the first row of that name only
    WriteFile("edits/unrelated.s16", Bytes(3, 3));

    ToolRun run = RunCommand([](const Context& c) {
        return kivtool::ReimportCommand(c, "Modgen.dat", "edits", {"Newgen.dat", false});
    });
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_EQ(Lines(run.Out).size(), 3u);
    EXPECT_NE(run.Err.find("member \"dup.s16\" (row 5) is listed before"), std::string::npos);

    std::string previous = "Modgen.dat";
    int step = 0;
    for (const auto& [row, name] :
         std::vector<std::pair<int, std::string>>{{2, "b.s16"}, {3, "dup.s16"}, {4, "c.s16"}}) {
        const std::string next = "chain" + std::to_string(++step) + ".dat";
        ASSERT_EQ(RunCommand([&](const Context& c) {
                      return kivtool::ReplaceCommand(c, previous, "#" + std::to_string(row),
                                                     "edits/" + name, next);
                  }).Status,
                  0);
        previous = next;
    }
    EXPECT_EQ(ReadFile("Newgen.dat"), ReadFile(previous));
}

TEST(Reimport, TakesTheTwinFirstCountsOnlyChangedMembersAndMayRebuildItsInput) {
    ScratchDir dir;
    WriteFile("Newgen.dat", ArchiveBuilder()
                                .Member("a.s16", SmallSprite(1, 2))
                                .Member("b.s16", SmallSprite(2, 3))
                                .Member("c.s16", SmallSprite(3, 1))
                                .Build());
    std::filesystem::create_directory("m");
    WriteFile("m/a.s16", SmallSprite(1, 2)); // as extracted
    WriteFile("m/b.s16", SmallSprite(2, 3));
    WriteFile("m/b.s17", SmallSprite(6, 4)); // the edited twin wins
    const ToolRun run = RunCommand([](const Context& c) {
        return kivtool::ReimportCommand(c, "Newgen.dat", "m", {"Newgen.dat", false});
    });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "a.s16: from m/a.s16, unchanged\nb.s16: from m/b.s17, 136 -> 180 bytes\n");
    EXPECT_NE(run.Err.find("1 of 3 members replaced"), std::string::npos);
    EXPECT_EQ(ReadFile("Newgen.dat"), ArchiveBuilder()
                                          .Member("a.s16", SmallSprite(1, 2))
                                          .Member("b.s16", SmallSprite(6, 4))
                                          .Member("c.s16", SmallSprite(3, 1))
                                          .Build());
}

TEST(ExtractAll, RefusesASecondMemberOfTheSameNameSoReimportGetsNoWrongBytes) {
    ScratchDir dir;
    WriteFile("Modgen.dat", ArchiveBuilder()
                                .Member("dup.s16", SmallSprite(1, 1))
                                .Member("dup.s16", SmallSprite(2, 2))
                                .Member("late.s16", SmallSprite(3, 1))
                                .Build());
    for (const bool dry : {true, false}) {
        const ToolRun run = RunCommand([&](const Context& c) {
            return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"", dry});
        });
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Out, "out/dup.s16\nout/late.s16\n") << "dry run " << dry;
        EXPECT_NE(run.Err.find("an earlier member has the same name"), std::string::npos);
    }
    EXPECT_EQ(ReadFile("out/dup.s16"), SmallSprite(1, 1));

    // A member that would land on the archive: the dry run refuses it in the real run's words.
    const Bytes named = ArchiveBuilder().Member("Named.dat", SmallSprite(1, 1)).Build();
    WriteFile("Named.dat", named);
    std::string refusals[2];
    for (const bool dry : {true, false}) {
        const ToolRun run = RunCommand([&](const Context& c) {
            return kivtool::ExtractAllCommand(c, "Named.dat", ".", {"", dry, true});
        });
        EXPECT_EQ(run.Status, 1);
        refusals[dry] = run.Err.substr(0, run.Err.find(dry ? "Dry run" : "Extracted"));
    }
    EXPECT_NE(refusals[true].find("that is the archive it is read from"), std::string::npos);
    EXPECT_EQ(refusals[true], refusals[false]);
    EXPECT_EQ(ReadFile("Named.dat"), named);
}

TEST(Reimport, TakesOnlyFilesTheFolderHoldsSoAnUneditedRoundTripGivesTheArchiveBack) {
    ScratchDir dir;
    // Twin names that are other members' own names, and a name listed twice.
    const Bytes archive = ArchiveBuilder()
                              .Member("hero.s16", SmallSprite(1, 1))
                              .Member("hero.s17", SmallSprite(2, 2))
                              .Member("tile1", SmallSprite(3, 1))
                              .Member("tile7", SmallSprite(4, 3))
                              .Member("dup.s16", SmallSprite(5, 1))
                              .Member("dup.s16", SmallSprite(6, 2))
                              .Build();
    WriteFile("Modgen.dat", archive);
    const auto reimport = [] {
        return RunCommand([](const Context& c) {
            return kivtool::ReimportCommand(c, "Modgen.dat", "out", {"Newgen.dat", false, true});
        });
    };
    RunCommand([](const Context& c) {
        return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"", false});
    });
    ToolRun run = reimport();
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(Lines(run.Out).size(), 5u);
    EXPECT_EQ(Refusals(run.Err).front(),
              "out/dup.s16 is refused: member \"dup.s16\" (row 6) is listed before under the same "
              "name and keeps its bytes.");
    EXPECT_EQ(ReadFile("Newgen.dat"), archive);

#ifndef _WIN32 // links
    // A link is refused, whatever it points to; the member keeps its bytes.
    std::remove("out/tile1");
    ASSERT_EQ(::symlink("../Modgen.dat", "out/tile1"), 0);
    run = reimport();
    EXPECT_NE(run.Err.find("out/tile1 is refused: it is a symbolic link.\n"), std::string::npos);
    EXPECT_NE(run.Err.find("2 files were refused.\n"), std::string::npos) << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), archive);

    // So is a hard link, which may be any file of the disk; --allow-links takes both kinds.
    std::remove("out/tile1");
    ASSERT_EQ(::link("Modgen.dat", "out/tile1"), 0);
    run = reimport();
    EXPECT_NE(run.Err.find("out/tile1 is refused: it is a hard link (the file has 2 names, so it "
                           "may be a file from outside the folder).\n"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), archive);
    run = RunCommand([](const Context& c) {
        return kivtool::ReimportCommand(c, "Modgen.dat", "out", {"Newgen.dat", false, true, true});
    });
    EXPECT_NE(run.Err.find("1 file was refused.\n"), std::string::npos) << run.Err;
    EXPECT_NE(ReadFile("Newgen.dat"), archive);
#endif
}

#ifndef _WIN32 // a limit on open files
TEST(Reimport, HoldsOneMemberFileOpenAtATime) {
    ScratchDir dir;
    ArchiveBuilder builder;
    for (int k = 0; k < 80; ++k)
        builder.Member("m" + std::to_string(k) + ".s16",
                       SmallSprite(static_cast<std::uint16_t>(k), 1));
    const Bytes archive = builder.Build();
    WriteFile("Modgen.dat", archive);
    ASSERT_EQ(RunCommand([](const Context& c) {
                  return kivtool::ExtractAllCommand(c, "Modgen.dat", "out", {"", false});
              }).Status,
              0);

    // Fewer descriptors than members: only a rebuild that opens them in turn gets through.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const ToolRun run = RunCommand([](const Context& c) {
        return kivtool::ReimportCommand(c, "Modgen.dat", "out", {"Newgen.dat", false});
    });
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), archive);
}
#endif

TEST(Reimport, RefusesAndLeavesEveryFileUntouched) {
    ScratchDir dir;
    const Bytes archive = ArchiveBuilder().Member("a.s16", SmallSprite(1, 2)).Build();
    WriteFile("Modgen.dat", archive);
    WriteFile("Newgen.dat", Bytes{4, 4});
    std::filesystem::create_directory("edits");
    std::filesystem::create_directory("empty");
    WriteFile("edits/a.s16", SmallSprite(2, 2));
    const auto reimport = [](const std::string& folder, const std::string& out, bool dry) {
        return RunCommand([&](const Context& c) {
            return kivtool::ReimportCommand(c, "Modgen.dat", folder, {out, dry});
        });
    };

    EXPECT_EQ(reimport("empty", "Newgen.dat", false).Status, 1);
    EXPECT_EQ(reimport("missing", "Newgen.dat", false).Status, 1);
    const ToolRun dry = reimport("edits", "Newgen.dat", true);
    EXPECT_EQ(dry.Status, 0);
    EXPECT_NE(dry.Err.find("nothing written"), std::string::npos);

    // End words that run backwards: a rebuild in one pass would differ from the chain.
    Bytes backwards =
        ArchiveBuilder().Member("a.s16", Bytes(4, 1)).Member("b.s16", Bytes(4, 2)).Build();
    kiv::PutInt32LE(backwards.data() + kiv::EndWordOffset(1), 2);
    WriteFile("Modgen.dat", backwards);
    const ToolRun refused = reimport("edits", "Newgen.dat", false);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("member 1 (a.s16) ends at 000002, before its start"),
              std::string::npos);

#ifndef _WIN32 // sparse files
    // One limit for both rebuilds: every end word stays a positive 32-bit value.
    WriteFile("Modgen.dat", archive);
    const std::int64_t room =
        kiv::MaxArchiveLength - std::ssize(archive) + (GetLE32(archive, 21) - GetLE32(archive, 4));
    std::filesystem::resize_file("edits/a.s16", static_cast<std::uintmax_t>(room));
    EXPECT_EQ(reimport("edits", "Newgen.dat", true).Status, 0);
    std::filesystem::resize_file("edits/a.s16", static_cast<std::uintmax_t>(room + 1));
    const std::string tooLong = "The new archive would be 2147483648 bytes long; its end words "
                                "hold at most 2147483647. Nothing was written.\n";
    EXPECT_EQ(reimport("edits", "Newgen.dat", false).Err, tooLong);
    EXPECT_EQ(RunCommand([](const Context& c) {
                  return kivtool::ReplaceCommand(c, "Modgen.dat", "a.s16", "edits/a.s16", "", true);
              }).Err,
              tooLong);
    WriteFile("edits/a.s16", SmallSprite(2, 2));
#endif

    EXPECT_EQ(ReadFile("Newgen.dat"), (Bytes{4, 4}));
    EXPECT_EQ(ReadFile("edits/a.s16"), SmallSprite(2, 2));
    EXPECT_EQ(ListFolder("."),
              (std::vector<std::string>{"Modgen.dat", "Newgen.dat", "edits", "empty"}));
}

// Five icons of differing sizes; pictures for some of them under the names export writes.
struct ImportFixture {
    ScratchDir dir;
    ImportFixture() {
        SpriteBuilder sprite;
        sprite.Raw(2, 2, 0, 0, 3, 3, {1, 2, 3, 4})
            .Runs(3, 1, 1, 1, 5, 4, {{3, 0x07E0}})
            .Raw(1, 1, 0, 0, 1, 1, {0xF800})
            .Runs(2, 2, 0, 0, 2, 2, {{4, 0x001F}})
            .Raw(1, 2, 1, 0, 2, 2, {7, 8});
        WriteFile("walk.s16", sprite.Build());
        std::filesystem::create_directory("pics");
    }
    static void Picture(const std::string& path, int width, int height, kiv::TColor colour) {
        kiv::Image picture(width, height);
        picture.Fill(kiv::BackColor);
        for (int x = 1; x < width; x += 2)
            picture.SetPixel(x, height / 2, colour + static_cast<kiv::TColor>(x));
        kiv::SaveBitmapFile(picture, path);
    }
    static ToolRun Import(const kivtool::ImportOptions& options) {
        return RunCommand([&](const Context& c) {
            return kivtool::ImportCommand(c, "walk.s16", "pics", options);
        });
    }
    // The single re-encodes one after another, each on the file the one before wrote.
    static Bytes Chain(const std::vector<int>& icons) {
        std::string previous = "walk.s16";
        for (const int icon : icons) {
            const std::string next = "chain" + std::to_string(icon) + ".s16";
            EXPECT_EQ(RunCommand([&](const Context& c) {
                          return kivtool::ReencodeCommand(
                              c, previous, icon, kivtool::ExportFileName("pics/walk", icon), next);
                      }).Status,
                      0);
            previous = next;
        }
        return ReadFile(previous);
    }
};

TEST(Import, EqualsTheChainOfSingleReencodes) {
    ImportFixture f;
    ImportFixture::Picture("pics/walk_0002.bmp", 9, 7, kiv::RGB(200, 0, 0));
    ImportFixture::Picture("pics/walk_0004.bmp", 40, 3, kiv::RGB(0, 200, 0));
    ImportFixture::Picture("pics/walk_0005.bmp", 3, 30, kiv::RGB(0, 0, 200));
    ImportFixture::Picture("pics/walk_3.bmp", 3, 3, kiv::RGB(1, 1, 1));     // not export's name
    ImportFixture::Picture("pics/other_0001.bmp", 3, 3, kiv::RGB(1, 1, 1)); // another stem

    const ToolRun run = ImportFixture::Import({"out.s16", false, false});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "icon 2: pics/walk_0002.bmp\nicon 4: pics/walk_0004.bmp\n"
                       "icon 5: pics/walk_0005.bmp\n");
    EXPECT_EQ(ReadFile("out.s16"), ImportFixture::Chain({2, 4, 5}));

    // Without -o the twin is written beside the sprite.
    ASSERT_EQ(ImportFixture::Import({"", false, false}).Status, 0);
    EXPECT_EQ(ReadFile("walk.s17"), ReadFile("out.s16"));

    // Encoded in parts of one picture each, through temporary files that do not stay.
    const ToolRun parts = ImportFixture::Import({"parts.s16", false, false, 1});
    ASSERT_EQ(parts.Status, 0) << parts.Err;
    EXPECT_EQ(ReadFile("parts.s16"), ReadFile("out.s16"));
    EXPECT_EQ(ListFolder("."),
              (std::vector<std::string>{"chain2.s16", "chain4.s16", "chain5.s16", "out.s16",
                                        "parts.s16", "pics", "walk.s16", "walk.s17"}));
}

TEST(Import, RefusesWhatTheReencoderRefusesEvenInADryRun) {
    ImportFixture f;
    ImportFixture::Picture("pics/walk_0001.bmp", 4, 4, kiv::RGB(90, 0, 0));
    kiv::Image wide(10000, 1); // too wide for the re-encoder
    wide.Fill(kiv::RGB(1, 2, 3));
    kiv::SaveBitmapFile(wide, "pics/walk_0002.bmp");

    ToolRun run = ImportFixture::Import({"out.s16", true, true});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "icon 1: pics/walk_0001.bmp\n");
    EXPECT_EQ(Refusals(run.Err)[0], "pics/walk_0002.bmp: The picture is too large to encode: it "
                                    "must be under 10000 pixels on each side.");
    run = ImportFixture::Import({"out.s16", true, false});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(ReadFile("out.s16"), ImportFixture::Chain({1}));

    // Bytes after the last icon's data: the whole file is refused, dry run or not.
    Bytes trailing = ReadFile("walk.s16");
    trailing.push_back(0);
    WriteFile("walk.s16", trailing);
    for (const bool dry : {true, false}) {
        run = ImportFixture::Import({"out2.s16", true, dry});
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err, "The sprite file cannot be re-encoded: the file does not end with the "
                           "data of its last icon.\n");
    }
    EXPECT_FALSE(FileExists("out2.s16"));
}

TEST(Import, OfUnchangedExportsKeepsEveryIconsStoredBytes) {
    ImportFixture f;
    for (const std::string format : {"bmp", "png"}) {
        ASSERT_EQ(RunCommand([&](const Context& c) {
                      return kivtool::ExportCommand(c, "walk.s16", "pics", true, format);
                  }).Status,
                  0);
        const ToolRun run = ImportFixture::Import({"walk.s17", false, false});
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Err, "Wrote walk.s17: 0 icons re-encoded, 5 unchanged.\n");
        EXPECT_EQ(ReadFile("walk.s17"), ReadFile("walk.s16")) << format;
        std::filesystem::remove_all("pics");
        std::filesystem::remove("walk.s17");
    }

    // One picture edited: one summary line, and the unchanged ones listed only when asked.
    ASSERT_EQ(RunCommand([&](const Context& c) {
                  return kivtool::ExportCommand(c, "walk.s16", "pics", true, "bmp");
              }).Status,
              0);
    ImportFixture::Picture("pics/walk_0002.bmp", 9, 7, kiv::RGB(200, 0, 0));
    kivtool::ImportOptions options{"quiet.s17"};
    ToolRun run = ImportFixture::Import(options);
    EXPECT_EQ(run.Out, "icon 2: pics/walk_0002.bmp\n");
    EXPECT_TRUE(run.Err.ends_with("Wrote quiet.s17: 1 icon re-encoded, 4 unchanged.\n")) << run.Err;
    options.OutPath = "verbose.s17";
    options.Verbose = true;
    run = ImportFixture::Import(options);
    EXPECT_EQ(run.Out, "icon 1: pics/walk_0001.bmp, unchanged\nicon 3: pics/walk_0003.bmp, "
                       "unchanged\nicon 4: pics/walk_0004.bmp, unchanged\nicon 5: "
                       "pics/walk_0005.bmp, unchanged\nicon 2: pics/walk_0002.bmp\n");
}

TEST(Import, RefusesBadPicturesPerFileAndWritesNothingUnlessAskedToSkipThem) {
    ImportFixture f;
    ImportFixture::Picture("pics/walk_0001.bmp", 4, 4, kiv::RGB(90, 0, 0));
    ImportFixture::Picture("pics/walk_0003.bmp", 4, 4, kiv::RGB(0, 90, 0));
    kiv::Image blank(4, 4);
    blank.Fill(kiv::BackColor);
    kiv::SaveBitmapFile(blank, "pics/walk_0002.bmp");
    ImportFixture::Picture("pics/walk_0009.bmp", 4, 4, kiv::RGB(0, 0, 90));
    WriteFile("pics/walk_0004.bmp", Bytes{'B', 'M', 1});

    ToolRun run = ImportFixture::Import({"out.s16", false, false});
    EXPECT_EQ(run.Status, 1);
    const std::vector<std::string> lines = Refusals(run.Err);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("pics/walk_0002.bmp: The picture has no icon pixels", 0), 0u);
    EXPECT_EQ(lines[1], "pics/walk_0004.bmp: Stream read error.");
    EXPECT_EQ(lines[2], "pics/walk_0009.bmp: Icon 9 is out of range: the file holds icons 1 to 5.");
    EXPECT_EQ(lines[3], "Nothing was written: 3 of 5 pictures were refused (--skip-bad imports "
                        "the rest).");
    EXPECT_FALSE(FileExists("out.s16"));

    EXPECT_EQ(ImportFixture::Import({"out.s16", true, true}).Status, 1);
    EXPECT_FALSE(FileExists("out.s16")); // a dry run writes nothing

    run = ImportFixture::Import({"out.s16", true, false});
    EXPECT_EQ(run.Status, 1); // written, but the refusals are still reported
    EXPECT_EQ(ReadFile("out.s16"), ImportFixture::Chain({1, 3}));

#ifndef _WIN32 // links
    // A folder from someone else is data: a link in it is refused, whatever it points to.
    ImportFixture::Picture("elsewhere.bmp", 4, 4, kiv::RGB(0, 0, 90));
    ASSERT_EQ(::symlink("../elsewhere.bmp", "pics/walk_0005.bmp"), 0);
    run = ImportFixture::Import({"out3.s16", false, true});
    EXPECT_NE(run.Err.find("pics/walk_0005.bmp: The picture is refused: it is a symbolic link."),
              std::string::npos)
        << run.Err;
#endif

    // A file whose count was cut to 1000 on loading is refused whole.
    SpriteBuilder many;
    for (int k = 0; k < 1001; ++k)
        many.Raw(1, 1, 0, 0, 1, 1, {1});
    WriteFile("walk.s16", many.Build());
    run = ImportFixture::Import({"out2.s16", true, false});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Maximum icons exceeded! Do NOT edit\n"), std::string::npos);
    EXPECT_FALSE(FileExists("out2.s16"));
}

} // namespace
} // namespace kivtest
