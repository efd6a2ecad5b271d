// The built kivtool as a user runs it: exit statuses, what goes to stdout and to stderr.

#include "ToolRunner.h"

#include "archive/ArchiveDirectory.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace kivtest {
namespace {

const std::vector<std::string> kCommands = {
    "list",    "headers",  "extract", "replace", "test",        "preview",  "show",
    "collage", "reencode", "export",  "demo",    "extract-all", "reimport", "import"};

TEST(KivtoolCli, ExplainsItselfAndEveryCommandWithAnExample) {
    ScratchDir dir;
    ToolRun run = RunKivtool({"--help"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Out.find("Example:"), std::string::npos);
    for (const std::string& command : kCommands) {
        SCOPED_TRACE(command);
        EXPECT_NE(run.Out.find(command), std::string::npos);
        const ToolRun help = RunKivtool({command, "--help"});
        EXPECT_EQ(help.Status, 0);
        EXPECT_NE(help.Out.find("Example:\n  kivtool " + command), std::string::npos);
        EXPECT_EQ(help.Err, "");
    }
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

} // namespace
} // namespace kivtest
