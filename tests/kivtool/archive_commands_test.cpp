// The browser's operations as commands: listing, header grid, preview, Extract, Replace,
// Test; outputs compared with what core computes.

#include "Commands.h"
#include "ToolRunner.h"

#include "archive/MemberReplace.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "image/Bitmap.h"
#include "sprite/IconDecoder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace kivtest {
namespace {

using kivtool::Context;

// The pixel count the browser computes, byte by byte from the archive bytes.
std::int64_t ReferencePixCount(const Bytes& archive, std::int64_t offset, std::int32_t n) {
    std::int64_t sum = 0;
    if (offset < 0)
        return 0;
    for (std::int64_t consumed = 0; consumed < n; consumed += 3) {
        const std::int64_t at = offset + consumed;
        if (at >= std::ssize(archive))
            break;
        sum += archive[static_cast<std::size_t>(at)];
    }
    return sum;
}

Bytes TwoIconSprite() {
    return SpriteBuilder()
        .Raw(2, 2, 1, 1, 4, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF}, 255)
        .Runs(3, 2, 0, 0, 3, 3, {{4, 0x1234}, {2, 0xFFFF}}, 0x00ABCDEF)
        .Build();
}

TEST(ListCommand, PrintsTheCountAndOneLinePerMemberWithTheGridsOffsets) {
    ScratchDir dir;
    ArchiveBuilder archive;
    archive.Member("hero.s16", Bytes(5000, 1)).Member("b.s16", Bytes(3, 2));
    WriteFile("a.dat", archive.Build());

    ToolRun run = RunCommand([](const Context& c) { return kivtool::ListCommand(c, "a.dat"); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "2 Files\nhero.s16\t00002A\t0013B2\nb.s16\t0013B2\t0013B5\n");
    EXPECT_EQ(run.Err, "");

    // An archive cut inside its directory lists the complete entries and warns.
    Bytes cut = archive.Build();
    cut.resize(8 + 17 + 5);
    WriteFile("cut.dat", cut);
    run = RunCommand([](const Context& c) { return kivtool::ListCommand(c, "cut.dat"); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "2 Files\nhero.s16\t00002A\t0013B2\n");
    EXPECT_NE(run.Err.find("1 of 2 entries"), std::string::npos);

    run = RunCommand([](const Context& c) { return kivtool::ListCommand(c, "missing.dat"); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "Main data file not found.\n");
}

TEST(MemberLookup, TakesListedNamesFirstThenRowNumbers) {
    ScratchDir dir;
    WriteFile("a.dat", ArchiveBuilder()
                           .Member("#2", SpriteBuilder().Build())
                           .Member("x.s16", TwoIconSprite())
                           .Member("x.s16", SpriteBuilder().Build())
                           .Build());
    const auto icons = [](const std::string& member) {
        return RunCommand(
            [&](const Context& c) { return kivtool::HeadersCommand(c, "a.dat", member); });
    };
    EXPECT_EQ(Lines(icons("#2").Out).at(0), "Icons: 0");    // the name "#2", row 1
    EXPECT_EQ(Lines(icons("x.s16").Out).at(0), "Icons: 2"); // the first row of that name
    EXPECT_EQ(Lines(icons("#3").Out).at(0), "Icons: 0");    // row 3
    EXPECT_EQ(icons("#4").Err, "No member #4: the archive lists 3 members.\n");
    EXPECT_EQ(icons("#0").Status, 1);
    EXPECT_EQ(icons("y.s16").Err, "No member named y.s16 in the archive.\n");
    // Text quoted in a message reaches the terminal as text; valid UTF-8 stays.
    EXPECT_EQ(icons("\x1B[2J\xFF\xC3\xA9\n").Err,
              "No member named \\x1B[2J\\xFF\xC3\xA9\\x0A in the archive.\n");
}

TEST(HeadersCommand, PrintsTheHeaderGridTextsAndPixelCounts) {
    ScratchDir dir;
    SpriteIcon huge;
    huge.Header.Width = 1;
    huge.Header.Height = 1;
    huge.Header.Bytes = 614400; // the largest number shown
    huge.Header.Compress = 2;
    huge.Header.Aux = 0x12345678;
    huge.Data = Bytes(7, 9);
    huge.KeepHeader = true;
    SpriteIcon negative = huge;
    negative.Header.Bytes = -5;
    negative.Header.Aux = -1;
    SpriteBuilder sprite;
    sprite.Raw(2, 2, 1, 1, 4, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF}, 255)
        .Runs(3, 2, 0, 0, 3, 3, {{4, 0x1234}, {2, 0xFFFF}})
        .Icon(huge)
        .Icon(negative);
    ArchiveBuilder archive;
    archive.Member("pad", Bytes(10, 0)).Member("s.s16", sprite.Build());
    const Bytes bytes = archive.Build();
    WriteFile("a.dat", bytes);

    const ToolRun run =
        RunCommand([](const Context& c) { return kivtool::HeadersCommand(c, "a.dat", "s.s16"); });
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "Icons: 4");
    EXPECT_EQ(lines[1], "Width\t2\t3\t1\t1");
    EXPECT_EQ(lines[3], "Start X\t1\t0\t0\t0");
    EXPECT_EQ(lines[7], "Starts\t0\t8\t0\t0");
    EXPECT_EQ(lines[8], "Bytes\t8\t6\t614400\t-5");
    EXPECT_EQ(lines[9], "Compress\t0\t1\t2\t2");
    EXPECT_EQ(lines[10], "???????\t0000FF\t000000\t12345678\tFFFFFFFF");

    const std::int64_t pixelBase = archive.StartOf(1) + 4 + 40 * 4;
    const std::vector<std::string> pix = Cells(lines[11]);
    ASSERT_EQ(pix.size(), 5u);
    EXPECT_EQ(pix[0], "Pix Count");
    EXPECT_EQ(pix[1], std::to_string(ReferencePixCount(bytes, pixelBase, 8)));
    EXPECT_EQ(pix[2], "6"); // the run counts of a run-length icon: its pixels
    // 614400 bytes claimed, the file ends first: only the groups present count.
    EXPECT_EQ(pix[3], std::to_string(ReferencePixCount(bytes, pixelBase, 614400)));
    EXPECT_EQ(pix[4], "0"); // a negative Bytes counts nothing

    // A sprite file of its own shows the grid its member shows; an archive needs a member.
    SpriteBuilder small;
    small.Raw(2, 2, 1, 1, 4, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF}, 255)
        .Runs(3, 2, 0, 0, 3, 3, {{4, 0x1234}, {2, 0xFFFF}});
    WriteFile("s.s16", small.Build());
    WriteFile("b.dat",
              ArchiveBuilder().Member("pad", Bytes(3, 0)).Member("s.s16", small.Build()).Build());
    const auto headers = [](const std::string& file, const std::string& member) {
        return RunCommand(
            [&](const Context& c) { return kivtool::HeadersCommand(c, file, member); });
    };
    const ToolRun own = headers("s.s16", ""), inArchive = headers("b.dat", "s.s16");
    EXPECT_EQ(own.Status, 0) << own.Err;
    EXPECT_EQ(own.Out, inArchive.Out);
    const ToolRun archiveAlone = headers("b.dat", "");
    EXPECT_EQ(archiveAlone.Status, 1);
    EXPECT_NE(archiveAlone.Err.find("b.dat is an archive: name one of its members"),
              std::string::npos)
        << archiveAlone.Err;
}

TEST(HeadersCommand, StopsThePixelCountAtAnErrorCellAsTheConversionErrorDoes) {
    ScratchDir dir;
    SpriteIcon tooLong;
    tooLong.Header.Bytes = 614401;
    tooLong.Header.Starts = 0;
    tooLong.KeepHeader = true;
    WriteFile("a.dat", ArchiveBuilder()
                           .Member("s.s16", SpriteBuilder()
                                                .Runs(2, 1, 0, 0, 2, 1, {{2, 1}})
                                                .Icon(tooLong)
                                                .Runs(1, 1, 0, 0, 1, 1, {{1, 1}})
                                                .Build())
                           .Build());
    const ToolRun run =
        RunCommand([](const Context& c) { return kivtool::HeadersCommand(c, "a.dat", "#1"); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(Lines(run.Err), (std::vector<std::string>{
                                  "s.s16 does not look like a sprite file: the data of icon 2 "
                                  "(614401 bytes at 124) lie outside its 130 bytes",
                                  "'Error' is not a valid integer value."}));
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[8], "Bytes\t3\tError\t3");
    EXPECT_EQ(lines[11], "Pix Count\t2\t\t"); // filled up to the Error icon, then empty
}

TEST(HeadersCommand, ShowsOnlyHeadersTheArchiveHoldsWhateverTheCountSays) {
    ScratchDir dir;
    Bytes member;
    PutLE32(member, 0x7FFFFFFF);
    Bytes h(40, 0);
    h[28] = 30; // Bytes 30, Starts 0
    member.insert(member.end(), h.begin(), h.end());
    member.insert(member.end(), h.begin(), h.end());
    member.insert(member.end(), 17, 5); // part of a third header
    const Bytes bytes = ArchiveBuilder().Member("big.s16", member).Build();
    WriteFile("a.dat", bytes);

    const ToolRun run =
        RunCommand([](const Context& c) { return kivtool::HeadersCommand(c, "a.dat", "big.s16"); });
    EXPECT_EQ(run.Status, 0);
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "Icons: 2147483647");
    EXPECT_EQ(lines[8], "Bytes\t30\t30");
    // The pixel data area lies far beyond the file: nothing is read, nothing counted.
    EXPECT_EQ(lines[11], "Pix Count\t0\t0");
    EXPECT_NE(run.Err.find("only 2 of 2147483647 icon headers"), std::string::npos);

    // A member whose count lies beyond the end of the archive.
    Bytes cut = bytes;
    cut.resize(cut.size() - member.size() + 2);
    WriteFile("cut.dat", cut);
    EXPECT_EQ(RunCommand([](const Context& c) {
                  return kivtool::HeadersCommand(c, "cut.dat", "big.s16");
              }).Status,
              1);
}

TEST(HeadersCommand, CountsPixelsOfManyOverlappingIconsAsTheByteByByteLoopDoes) {
    ScratchDir dir;
    // Icons pointing anywhere: overlapping, before the data area, past the end, odd sizes.
    SpriteBuilder sprite;
    std::uint32_t seed = 7;
    const auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % 1000);
    };
    const int count = 60;
    for (int k = 0; k < count; ++k) {
        SpriteIcon icon;
        icon.KeepHeader = true;
        icon.Header.Starts = next() - 300;
        icon.Header.Bytes = next() - 100;
        icon.Data = k == 0 ? Bytes() : Bytes(1, static_cast<std::uint8_t>(k));
        sprite.Icon(icon);
    }
    Bytes data;
    for (int k = 0; k < 700; ++k)
        data.push_back(static_cast<std::uint8_t>(next()));
    Bytes member = sprite.Build();
    member.insert(member.end(), data.begin(), data.end());
    ArchiveBuilder archive;
    archive.Member("m.s16", member);
    const Bytes bytes = archive.Build();
    WriteFile("a.dat", bytes);

    const ToolRun run =
        RunCommand([](const Context& c) { return kivtool::HeadersCommand(c, "a.dat", "#1"); });
    ASSERT_EQ(run.Status, 0);
    const std::vector<std::string> lines = Lines(run.Out);
    const std::vector<std::string> starts = Cells(lines.at(7));
    const std::vector<std::string> sizes = Cells(lines.at(8));
    const std::vector<std::string> pix = Cells(lines.at(11));
    ASSERT_EQ(pix.size(), static_cast<std::size_t>(count + 1));
    const std::int64_t pixelBase = archive.StartOf(0) + 4 + 40 * count;
    for (int k = 1; k <= count; ++k)
        EXPECT_EQ(pix[k], std::to_string(ReferencePixCount(bytes, pixelBase + std::stoi(starts[k]),
                                                           std::stoi(sizes[k]))))
            << "icon " << k;
}

TEST(PreviewCommand, WritesTheFrameTheDecoderMakesFromTheArchive) {
    ScratchDir dir;
    const Bytes sprite = TwoIconSprite();
    ArchiveBuilder archive;
    archive.Member("pad.s16", Bytes(3, 0)).Member("s.s16", sprite);
    WriteFile("a.dat", archive.Build());

    for (int icon = 1; icon <= 2; ++icon) {
        const ToolRun run = RunCommand([&](const Context& c) {
            return kivtool::PreviewCommand(c, "a.dat", "s.s16", icon, "p.bmp", true);
        });
        ASSERT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "");
        auto file = kiv::InFile::Open("a.dat");
        unsigned char h[40];
        file->Seek(archive.StartOf(1) + 4 + 40 * (icon - 1));
        file->Read(h, 40);
        const kiv::TIconHeader header = kiv::TIconHeader::FromBytes(h);
        const kiv::Image frame =
            kiv::DecodeIcon(*file, archive.StartOf(1) + kiv::IconDataOffset(2, header), header);
        EXPECT_EQ(ReadFile("p.bmp"), kiv::EncodeBitmap(frame)) << "icon " << icon;
    }

    WriteFile("keep.bmp", Bytes{1, 2, 3});
    const ToolRun out = RunCommand([](const Context& c) {
        return kivtool::PreviewCommand(c, "a.dat", "s.s16", 3, "keep.bmp");
    });
    EXPECT_EQ(out.Status, 1);
    EXPECT_EQ(out.Err, "Icon 3 is out of range: the file holds icons 1 to 2.\n");
    EXPECT_EQ(ReadFile("keep.bmp"), (Bytes{1, 2, 3}));
}

TEST(ExtractAndReplaceCommands, WriteWhatCoreWritesForTheNamedRow) {
    ScratchDir dir;
    ArchiveBuilder archive;
    archive.Member("a.s16", Bytes(10, 1))
        .Member("b.s16", Bytes(20, 2))
        .Member("c.s16", Bytes(5, 3));
    const Bytes bytes = archive.Build();
    WriteFile("Modgen.dat", bytes);

    ToolRun run = RunCommand(
        [](const Context& c) { return kivtool::ExtractCommand(c, "Modgen.dat", "b.s16", ""); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(ReadFile("b.s16"), Bytes(20, 2));
    run = RunCommand(
        [](const Context& c) { return kivtool::ExtractCommand(c, "Modgen.dat", "#3", "out.bin"); });
    EXPECT_EQ(ReadFile("out.bin"), Bytes(5, 3));

    // Replace with the default twin name and output.
    run = RunCommand(
        [](const Context& c) { return kivtool::ReplaceCommand(c, "Modgen.dat", "b.s16", "", ""); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Could not open modified s16 file (b.s17)\n");
    EXPECT_FALSE(FileExists("Newgen.dat"));

    WriteFile("b.s17", Bytes(32, 7));
    run = RunCommand(
        [](const Context& c) { return kivtool::ReplaceCommand(c, "Modgen.dat", "b.s16", "", ""); });
    ASSERT_EQ(run.Status, 0) << run.Err;
    const Bytes produced = ReadFile("Newgen.dat");

    kiv::ReplaceRequest request;
    request.ArchivePath = "Modgen.dat";
    request.Row = {"b.s16", archive.StartOf(1), archive.FinishOf(1)};
    request.RowIndex = 2;
    request.MemberCount = 3;
    request.OutPath = "expected.dat";
    ASSERT_TRUE(kiv::ReplaceMember(request).Ok);
    EXPECT_EQ(produced, ReadFile("expected.dat"));
    EXPECT_EQ(GetLE32(produced, kiv::EndWordOffset(2)), GetLE32(bytes, kiv::EndWordOffset(2)) + 12);

    // An explicit twin and output.
    WriteFile("other.bin", Bytes(3, 9));
    run = RunCommand([](const Context& c) {
        return kivtool::ReplaceCommand(c, "Modgen.dat", "#1", "other.bin", "x.dat");
    });
    ASSERT_EQ(run.Status, 0);
    EXPECT_EQ(ReadFile("x.dat").size(), bytes.size() - 7);
    EXPECT_EQ(ReadFile("Modgen.dat"), bytes); // the archive is only read

    // A second change rebuilds Newgen.dat in place and keeps the first.
    WriteFile("a.s17", Bytes(4, 6));
    run = RunCommand(
        [](const Context& c) { return kivtool::ReplaceCommand(c, "Newgen.dat", "a.s16", "", ""); });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile("Newgen.dat"), ArchiveBuilder()
                                          .Member("a.s16", Bytes(4, 6))
                                          .Member("b.s16", Bytes(32, 7))
                                          .Member("c.s16", Bytes(5, 3))
                                          .Build());
}

TEST(WrongFiles, AreNamedAsSuchAndNothingIsWrittenFromThem) {
    ScratchDir dir;
    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(276, 0x41);
    WriteFile("picture.png", png);
    WriteFile("empty.dat", {});
    const auto tool = [](std::function<int(const Context&)> command) {
        return RunCommand(command);
    };
    const std::string notArchive = "picture.png does not look like a sprite archive: ";
    const std::string notSprite = "picture.png does not look like a sprite file: ";

    ToolRun run = tool([](const Context& c) { return kivtool::ListCommand(c, "picture.png"); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Err.find(notArchive + "a directory of 1196314761 members"), std::string::npos);
    for (const char* file : {"picture.png", "empty.dat"}) {
        run = tool([&](const Context& c) { return kivtool::TestCommand(c, file); });
        EXPECT_EQ(run.Status, 1);
        EXPECT_NE(run.Err.find(std::string(file) + " does not look like"), std::string::npos);
    }
    EXPECT_EQ(tool([](const Context& c) {
                  return kivtool::ExtractAllCommand(c, "picture.png", "out", {});
              }).Status,
              1);
    EXPECT_EQ(tool([](const Context& c) {
                  return kivtool::ExtractCommand(c, "picture.png", "#1", "x");
              }).Status,
              1);
    run = tool([](const Context& c) { return kivtool::ExportCommand(c, "picture.png", "dir"); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err.rfind(notSprite + "a header table of 1196314761 icons", 0), 0u) << run.Err;
    EXPECT_EQ(tool([](const Context& c) {
                  return kivtool::CollageCommand(c, "picture.png", 1, "page.bmp");
              }).Status,
              1);
    EXPECT_EQ(ListFolder("."), (std::vector<std::string>{"empty.dat", "picture.png"}));

    // A sprite file whose last icon's data run past its end: Show warns and goes on.
    Bytes cut = TwoIconSprite();
    cut.pop_back();
    WriteFile("cut.s16", cut);
    run = tool([](const Context& c) { return kivtool::ShowCommand(c, "cut.s16", 1, "one.bmp"); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_NE(run.Err.find("cut.s16 does not look like a sprite file: the data of icon 2"),
              std::string::npos);
}

TEST(VerifyCommand, NamesEveryFaultOfACraftedArchiveAndPassesSoundFiles) {
    ScratchDir dir;
    const auto runs = [](int width, int height, std::vector<std::pair<int, std::uint16_t>> r) {
        return SpriteBuilder().Runs(width, height, 0, 0, 4, 4, r).Build();
    };
    Bytes longBytes = runs(2, 1, {{2, 1}});
    kiv::PutInt32LE(longBytes.data() + 4 + 28, 6); // Bytes says two runs, the data has one
    longBytes.insert(longBytes.end(), {1, 2, 3});
    SpriteIcon overlap{MakeHeader(1, 1, 0, 0, 1, 1, 0), {1, 0}, true};
    overlap.Header.Bytes = 2;
    Bytes raw = SpriteBuilder().Raw(2, 1, 0, 0, 2, 1, {1, 2}).Build();
    ArchiveBuilder archive;
    archive.Member("sound.s16", TwoIconSprite())
        .Member("short.s16", runs(2, 2, {{3, 1}}))               // runs end before the box is full
        .Member("over.s16", runs(2, 2, {{3, 1}, {3, 2}}))        // the last run passes the box
        .Member("long.s16", longBytes)                           // Bytes more than the runs use
        .Member("rawcut.s16", Bytes(raw.begin(), raw.end() - 1)) // data past the member
        .Member("twice.s16", SpriteBuilder().Icon(overlap).Icon(overlap).Build())
        .Member("big.s16", SpriteBuilder().StoredCount(5000).Build());
    WriteFile("a.dat", archive.Build());
    ToolRun run = RunCommand([](const Context& c) { return kivtool::VerifyCommand(c, "a.dat"); });
    EXPECT_EQ(run.Status, 1);
    const std::vector<std::string> lines = Lines(run.Out);
    const std::vector<std::string> expected{
        "member 2 (short.s16): icon 1: its runs paint 3 of 4 pixels",
        "member 3 (over.s16): icon 1: its last run reaches past its box",
        "member 4 (long.s16): icon 1: Bytes says 6, its runs use 3",
        "member 5 (rawcut.s16): icon 1: its data (4 bytes at 44) lie outside",
        "member 6 (twice.s16): icon 2: its data at 84 overlap the data before it",
        "member 6 (twice.s16): 2 bytes follow the last icon's data",
        "member 7 (big.s16): a header table of 5000 icons needs 200004 bytes"};
    ASSERT_EQ(lines.size(), expected.size()) << run.Out;
    for (std::size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(lines[k].rfind("a.dat: " + expected[k], 0), 0u) << lines[k];
    EXPECT_NE(run.Err.find("7 problems"), std::string::npos);

    // Icons with both sides negative hold |Width| x |Height| pixels, as the decoder reads them.
    Bytes negative = SpriteBuilder()
                         .Raw(2, 2, 1, 1, 4, 4, {0xF800, 0x07E0, 0x001F, 0xFFFF}, 255)
                         .Raw(-2, -1, 3, 3, 4, 4, {1, 2})
                         .Runs(-3, -2, 3, 3, 4, 4, {{4, 7}, {2, 8}})
                         .Build();
    WriteFile("one.s16", negative);
    run = RunCommand([](const Context& c) { return kivtool::VerifyCommand(c, "one.s16"); });
    EXPECT_EQ(run.Status, 0) << run.Out;
    EXPECT_EQ(run.Out, "one.s16: a sprite file of 3 icons: no problems.\n");
}

TEST(TestCommand, PrintsOneLinePerBadMemberAndFailsWhenAnyIsBad) {
    ScratchDir dir;
    const Bytes sound = TwoIconSprite();
    Bytes bad = sound;
    bad[4 + 40 * 2 - 1] = 1; // top byte of the last Aux
    ArchiveBuilder archive;
    archive.Member("ok.s16", sound)
        .Member("bad1.s16", bad)
        .Member("ok2.s16", sound)
        .Member("bad2.s16", bad);
    WriteFile("a.dat", archive.Build());
    ToolRun run = RunCommand([](const Context& c) { return kivtool::TestCommand(c, "a.dat"); });
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "bad1.s16 at " + kiv::IntToHex(archive.StartOf(1), 6) +
                           " is bad!\nbad2.s16 at " + kiv::IntToHex(archive.StartOf(3), 6) +
                           " is bad!\n");

    WriteFile("b.dat", ArchiveBuilder().Member("ok.s16", sound).Build());
    run = RunCommand([](const Context& c) { return kivtool::TestCommand(c, "b.dat"); });
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "");
}

// A damaged member (one whose end lies past the end of the file or before its start) leaves
// every other member within reach: each command treats them as in a sound archive and warns
// about, reports or refuses the damaged ones one by one.
TEST(DamagedArchive, KeepsEveryIntactMemberWithinReachOfEveryCommand) {
    ScratchDir dir;
    const Bytes sprite = TwoIconSprite();
    ArchiveBuilder builder;
    builder.Member("a.s16", sprite).Member("hero.s16", sprite).Member("c.s16", sprite);
    const Bytes whole = builder.Build();
    const auto withEnd = [&](int row, std::int64_t end) {
        Bytes bytes = whole;
        kiv::PutInt32LE(bytes.data() + kiv::EndWordOffset(row), static_cast<std::int32_t>(end));
        return bytes;
    };
    const std::string names[] = {"a.s16", "hero.s16", "c.s16"};
    struct Case {
        const char* What;
        Bytes Archive;
        std::vector<int> Damaged; // listing rows
    };
    const Case cases[] = {
        {"a download cut short inside its last member",
         Bytes(whole.begin(), whole.end() - 30),
         {3}},
        {"a member ending before its start", withEnd(3, builder.StartOf(2) - 1), {3}},
        {"a member ending past the end of the file, and the next one starting there",
         withEnd(2, std::ssize(whole) + 16),
         {2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        std::filesystem::remove_all("out");
        WriteFile("a.dat", c.Archive);
        const auto damaged = [&](int row) {
            return std::count(c.Damaged.begin(), c.Damaged.end(), row) > 0;
        };
        // Each row's bytes as the directory gives them.
        std::vector<std::int64_t> ends{GetLE32(c.Archive, 4)};
        for (int row = 1; row <= 3; ++row)
            ends.push_back(static_cast<std::uint32_t>(GetLE32(c.Archive, kiv::EndWordOffset(row))));
        const auto hexStart = [&](int row) {
            return kiv::IntToHex(static_cast<std::uint32_t>(ends[row - 1]), 6);
        };

        ToolRun run = RunCommand([](const Context& x) { return kivtool::ListCommand(x, "a.dat"); });
        EXPECT_EQ(run.Status, 0);
        EXPECT_EQ(Lines(run.Out).size(), 4u);
        std::vector<std::string> bad, warned;
        for (int row : c.Damaged) {
            bad.push_back(names[row - 1] + " at " + hexStart(row) + " is bad!");
            warned.push_back("Warning: member " + std::to_string(row) + " (" + names[row - 1] +
                             ") ends at " +
                             kiv::IntToHex(static_cast<std::uint32_t>(ends[row]), 6));
        }
        const std::vector<std::string> warnings = Lines(run.Err);
        ASSERT_EQ(warnings.size(), warned.size()) << run.Err;
        for (std::size_t k = 0; k < warned.size(); ++k)
            EXPECT_EQ(warnings[k].rfind(warned[k], 0), 0u) << warnings[k];

        run = RunCommand([](const Context& x) { return kivtool::TestCommand(x, "a.dat"); });
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(Lines(run.Out), bad);

        run = RunCommand([](const Context& x) { return kivtool::VerifyCommand(x, "a.dat"); });
        EXPECT_EQ(run.Status, 1);
        for (int row : c.Damaged)
            EXPECT_NE(run.Out.find("a.dat: member " + std::to_string(row) + " (" + names[row - 1] +
                                   "): it ends at"),
                      std::string::npos)
                << run.Out;

        for (int row = 1; row <= 3; ++row) {
            const std::string member = "#" + std::to_string(row);
            run = RunCommand(
                [&](const Context& x) { return kivtool::HeadersCommand(x, "a.dat", member); });
            EXPECT_EQ(run.Err.rfind("Warning: member " + std::to_string(row) + " (", 0) == 0,
                      damaged(row))
                << run.Err;
            const std::string out = "m" + std::to_string(row);
            std::filesystem::remove(out);
            run = RunCommand(
                [&](const Context& x) { return kivtool::ExtractCommand(x, "a.dat", member, out); });
            if (!damaged(row)) {
                EXPECT_EQ(run.Status, 0) << run.Err;
                EXPECT_EQ(ReadFile(out),
                          Bytes(c.Archive.begin() + ends[row - 1], c.Archive.begin() + ends[row]));
            } else if (ends[row] < ends[row - 1]) {
                EXPECT_EQ(run.Status, 0) << run.Err; // as the windows do: an empty file
                EXPECT_EQ(ReadFile(out), Bytes());
            } else {
                EXPECT_EQ(run.Status, 1);
                EXPECT_NE(run.Err.find("runs past the end of the archive"), std::string::npos);
                EXPECT_FALSE(FileExists(out));
            }
        }

        run = RunCommand([](const Context& x) {
            return kivtool::ExtractAllCommand(x, "a.dat", "out", {"", false});
        });
        EXPECT_EQ(run.Status, 1);
        std::string extracted;
        for (int row = 1; row <= 3; ++row)
            if (!damaged(row))
                extracted += "out/" + names[row - 1] + "\n";
        EXPECT_EQ(run.Out, extracted);
        for (int row : c.Damaged)
            EXPECT_NE(run.Err.find("Cannot extract member \"" + names[row - 1] + "\": it ends at"),
                      std::string::npos);
        EXPECT_NE(
            run.Err.find(c.Damaged.size() == 1 ? "1 member was refused" : "2 members were refused"),
            std::string::npos);

        // A rebuild would carry the damage on: refused, nothing written.
        WriteFile("hero.s17", sprite);
        run = RunCommand(
            [](const Context& x) { return kivtool::ReplaceCommand(x, "a.dat", "#2", "", ""); });
        EXPECT_EQ(run.Status, 1);
        EXPECT_NE(run.Err.find("Cannot rebuild a.dat: its member " + std::to_string(c.Damaged[0])),
                  std::string::npos);
        EXPECT_EQ(RunCommand([](const Context& x) {
                      return kivtool::ReimportCommand(x, "a.dat", ".", {"Newgen.dat", false});
                  }).Status,
                  1);
        EXPECT_FALSE(FileExists("Newgen.dat"));
        EXPECT_EQ(ReadFile("a.dat"), c.Archive);
    }
}

} // namespace
} // namespace kivtest
