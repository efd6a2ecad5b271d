#include "archive/ArchiveVerify.h"
#include "archive/MemberExtract.h"
#include "archive/MemberReplace.h"
#include "base/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace kivtest;
using kiv::ArchiveRow;
using kiv::ExtractMember;
using kiv::OffsetText;
using kiv::ReplaceMember;
using kiv::ReplaceRequest;

namespace {

Bytes Fill(std::size_t size, int seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i * 7);
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const std::string kNames[] = {"first.s16", "middle.s16", "last.s16"};

// Three members and bytes after the last one; `data` takes the place of member `replaced`.
ArchiveBuilder Sample(int replaced = -1, const Bytes& data = {}) {
    const std::size_t sizes[] = {30, 40, 20};
    ArchiveBuilder archive;
    for (int i = 0; i < 3; ++i)
        archive.Member(kNames[i], i == replaced ? data : Fill(sizes[i], i + 1));
    archive.Trailer(Text("tail"));
    return archive;
}

ArchiveRow RowOf(const ArchiveBuilder& archive, int i, const std::string& name) {
    return {name, archive.StartOf(i), archive.FinishOf(i)};
}

ReplaceRequest RequestFor(const ArchiveBuilder& archive, int member) {
    ReplaceRequest request;
    request.ArchivePath = "Modgen.dat";
    request.Row = RowOf(archive, member, kNames[member]);
    request.RowIndex = member + 1;
    request.MemberCount = 3;
    return request;
}

bool Mentions(const std::string& message, const std::string& part) {
    return message.find(part) != std::string::npos;
}

} // namespace

TEST(ArchiveExtract, WritesExactlyTheMemberBytes) {
    ScratchDir dir;
    const ArchiveBuilder archive = Sample();
    WriteFile("Modgen.dat", archive.Build());

    // A second extraction replaces the first; an explicit path is used as given.
    WriteFile("middle.s16", Bytes(500, 9));
    EXPECT_TRUE(ExtractMember("Modgen.dat", RowOf(archive, 1, "middle.s16")).Ok);
    EXPECT_EQ(ReadFile("middle.s16"), Fill(40, 2));
    std::filesystem::create_directory("out");
    EXPECT_TRUE(ExtractMember("Modgen.dat", RowOf(archive, 2, "x"), "out/last").Ok);
    EXPECT_EQ(ReadFile("out/last"), Fill(20, 3));

    // Finish at or below Start gives an empty file, wherever Start lies.
    EXPECT_TRUE(ExtractMember("Modgen.dat", {"empty", 0x50, 0x40}).Ok);
    EXPECT_TRUE(ExtractMember("Modgen.dat", {"empty2", 0xFFFFFF00, 0xFFFFFF00}).Ok);
    EXPECT_TRUE(ReadFile("empty").empty() && ReadFile("empty2").empty());

    // Offsets of 2^24 and more, in a sparse archive.
    std::filesystem::resize_file("Modgen.dat", 0x1000010);
    {
        std::fstream deep("Modgen.dat", std::ios::in | std::ios::out | std::ios::binary);
        deep.seekp(0x1000004);
        ASSERT_TRUE(deep.write("deep", 4));
    }
    EXPECT_TRUE(ExtractMember("Modgen.dat", {"deep", 0x1000004, 0x1000008}).Ok);
    EXPECT_EQ(ReadFile("deep"), Text("deep"));
}

TEST(ArchiveExtract, RefusesWithAMessageAndWritesNothing) {
    ScratchDir dir;
    const ArchiveBuilder archive = Sample();
    const Bytes bytes = archive.Build();
    WriteFile("Modgen.dat", bytes);

    EXPECT_EQ(ExtractMember("missing.dat", RowOf(archive, 0, "a")).Message,
              "Main data file not found.");

    const auto before = ListFolder(".");
    for (const std::string name : {"", ".", "..", "/tmp/evil", "\\evil", "sub/evil", "sub\\evil",
                                   "C:evil", "bell\a", "tab\tname"}) {
        const std::string reason = kiv::UnsafeNameReason(name);
        EXPECT_FALSE(reason.empty()) << name;
        EXPECT_TRUE(Mentions(ExtractMember("Modgen.dat", RowOf(archive, 0, name)).Message, reason));
    }
    EXPECT_EQ(kiv::UnsafeNameReason("ok name.s16"), "");
    // A member named like the archive, and one running past the end.
    EXPECT_TRUE(Mentions(ExtractMember("Modgen.dat", RowOf(archive, 0, "Modgen.dat")).Message,
                         "archive it is read from"));
    const ArchiveRow over{"over", archive.StartOf(2), static_cast<std::uint32_t>(bytes.size() + 1)};
    EXPECT_TRUE(Mentions(ExtractMember("Modgen.dat", over).Message, "past the end"));
    EXPECT_EQ(ListFolder("."), before);
    EXPECT_EQ(ReadFile("Modgen.dat"), bytes);

    std::filesystem::create_directory("folder");
    EXPECT_EQ(ExtractMember("Modgen.dat", RowOf(archive, 0, "folder")).Message,
              "Cannot create file folder");
}

TEST(ArchiveReplace, TwinTakesTheMembersPlaceAndLaterEndWordsShift) {
    // Shorter, equal and longer twins of the first, middle and last member: the result is
    // the archive one would build with the twin in the member's place, trailer included.
    for (int member = 0; member < 3; ++member) {
        for (std::size_t twinSize : {0u, 5u, 20u, 30u, 40u, 300u}) {
            ScratchDir dir;
            const ArchiveBuilder archive = Sample();
            WriteFile("Modgen.dat", archive.Build());
            WriteFile(kiv::TwinName(kNames[member]), Fill(twinSize, 50));
            ASSERT_TRUE(ReplaceMember(RequestFor(archive, member)).Ok);
            EXPECT_EQ(ReadFile("Newgen.dat"), Sample(member, Fill(twinSize, 50)).Build());
            EXPECT_EQ(ReadFile("Modgen.dat"), archive.Build());
        }
    }
}

TEST(ArchiveReplace, LeavesBytesBeyondTheDirectoryAndKeepsLongPathsWhole) {
    ScratchDir dir;
    const ArchiveBuilder archive = Sample();
    const std::string folder = std::string(80, 'p') + "/" + std::string(60, 'q');
    std::filesystem::create_directories(folder);
    ReplaceRequest request = RequestFor(archive, 1);
    request.ArchivePath = dir.File(folder + "/Modgen.dat");
    request.TwinPath = "new.s17";
    WriteFile(request.ArchivePath, archive.Build());
    WriteFile("new.s17", Fill(50, 9));
    ASSERT_TRUE(ReplaceMember(request).Ok);
    EXPECT_EQ(ReadFile("Newgen.dat"), Sample(1, Fill(50, 9)).Build());
}

#ifndef _WIN32 // a file-size limit in a child process
TEST(ArchiveReplace, FailuresLeaveTheEarlierOutputAndNoTemporaryFile) {
    ScratchDir dir;
    const ArchiveBuilder archive = Sample();
    const Bytes bytes = archive.Build();
    WriteFile("Modgen.dat", bytes);
    WriteFile("Newgen.dat", Text("earlier output"));

    // The title row looks for a twin named after "File Name"; with that file present, its
    // offsets are read (and fail) once every file is open.
    ReplaceRequest request = RequestFor(archive, 1);
    request.Row.Name = "File Name";
    request.ReadOffsets = [](ArchiveRow&) { throw kiv::EConvertError("no offsets"); };
    EXPECT_EQ(ReplaceMember(request).Message, "Could not open modified s16 file (File Nam7)");
    WriteFile("File Nam7", Text("x"));
    EXPECT_THROW(ReplaceMember(request), kiv::EConvertError);
    std::filesystem::remove("File Nam7");

    WriteFile("middle.s17", Fill(10, 4));
    request = RequestFor(archive, 1);
    request.ArchivePath = "missing.dat";
    EXPECT_EQ(ReplaceMember(request).Message, "Could not open Main Data (missing.dat)");
    request = RequestFor(archive, 1);
    request.OutPath = "folder";
    std::filesystem::create_directory("folder");
    EXPECT_EQ(ReplaceMember(request).Message, "Could not open New Data file (folder)");
    // An archive cut short before the member's bytes.
    WriteFile("Modgen.dat", Bytes(bytes.begin(), bytes.begin() + archive.StartOf(1) - 1));
    EXPECT_TRUE(Mentions(ReplaceMember(RequestFor(archive, 1)).Message, "past the end"));
    WriteFile("Modgen.dat", bytes);
    for (const std::string name : {"", "..", "/abs.s16", "a/b.s16", "C:x.s16", "nl\n.s16"}) {
        request = RequestFor(archive, 1);
        request.Row.Name = name;
        EXPECT_TRUE(Mentions(ReplaceMember(request).Message, kiv::UnsafeNameReason(name)));
    }

    // A file size limit makes the copy fail half-way, in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto message = ReplaceMember(RequestFor(archive, 1)).Message;
        ::_exit(message == "Could not write New Data file (Newgen.dat)" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(ReadFile("Newgen.dat"), Text("earlier output"));
    EXPECT_EQ(ListFolder("."),
              (std::vector<std::string>{"Modgen.dat", "Newgen.dat", "folder", "middle.s17"}));
}

TEST(ArchiveReplace, RebuildsTheArchiveItReadsSoAChainKeepsEveryChange) {
    ScratchDir dir;
    const ArchiveBuilder archive = Sample();
    WriteFile("Newgen.dat", archive.Build());
    WriteFile("first.s17", Fill(45, 8));
    WriteFile("last.s17", Fill(7, 5));

    ReplaceRequest request = RequestFor(archive, 0);
    request.ArchivePath = dir.File("Newgen.dat");
    ASSERT_TRUE(ReplaceMember(request).Ok);
    const ArchiveBuilder once = Sample(0, Fill(45, 8));
    EXPECT_EQ(ReadFile("Newgen.dat"), once.Build());

    // The second change is made on the rebuilt archive's listing and keeps the first.
    request = RequestFor(once, 2);
    request.ArchivePath = "Newgen.dat";
    ASSERT_TRUE(ReplaceMember(request).Ok);
    ArchiveBuilder both;
    both.Member("first.s16", Fill(45, 8)).Member("middle.s16", Fill(40, 2));
    both.Member("last.s16", Fill(7, 5)).Trailer(Text("tail"));
    EXPECT_EQ(ReadFile("Newgen.dat"), both.Build());
    EXPECT_EQ(ListFolder("."), (std::vector<std::string>{"Newgen.dat", "first.s17", "last.s17"}));
}
#endif

TEST(ArchiveListing, ExtractAndReplaceRefuseAnArchiveThatChangedSinceItWasListed) {
    ScratchDir dir;
    const ArchiveBuilder listed = Sample();
    WriteFile("middle.s17", Fill(10, 4));
    WriteFile("Newgen.dat", Text("earlier output"));
    // Another archive copied over the listed one: a longer first member moves the middle
    // one; the same offsets under another name; one member more; the file cut inside the
    // directory.
    ArchiveBuilder moved, renamed, longer;
    moved.Member(kNames[0], Fill(31, 1)).Member(kNames[1], Fill(40, 2)).Member(kNames[2], {});
    renamed.Member(kNames[0], Fill(30, 1)).Member("other.s16", Fill(40, 2)).Member("x", {});
    longer = Sample();
    longer.Member("more.s16", Fill(3, 3));
    Bytes cut = listed.Build();
    cut.resize(8 + 17 * 2);
    for (const Bytes& now : {moved.Build(), renamed.Build(), longer.Build(), cut}) {
        WriteFile("Modgen.dat", now);
        EXPECT_TRUE(
            Mentions(ExtractMember("Modgen.dat", RowOf(listed, 1, kNames[1]), "", 2, 3).Message,
                     "changed since it was listed"));
        EXPECT_TRUE(
            Mentions(ReplaceMember(RequestFor(listed, 1)).Message, "changed since it was listed"));
        EXPECT_EQ(ListFolder("."),
                  (std::vector<std::string>{"Modgen.dat", "Newgen.dat", "middle.s17"}));
        EXPECT_EQ(ReadFile("Newgen.dat"), Text("earlier output"));
    }
    // A listing that claims more rows than the archive holds is stale too.
    WriteFile("Modgen.dat", listed.Build());
    ReplaceRequest request = RequestFor(listed, 1);
    request.MemberCount = 0x7FFFFFFF;
    EXPECT_TRUE(Mentions(ReplaceMember(request).Message, "changed since it was listed"));
    EXPECT_TRUE(ExtractMember("Modgen.dat", RowOf(listed, 1, kNames[1]), "", 2, 3).Ok);
}

TEST(ArchiveTest, ReportsEachBadMemberInListingOrder) {
    ScratchDir dir;
    auto sprite = [](std::int32_t aux) {
        return SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {1}).Raw(1, 1, 0, 0, 1, 1, {7}, aux).Build();
    };
    Bytes negativeCount;
    PutLE32(negativeCount, -1000);
    // Sound; bad; no icons; a count pointing before the archive, where no byte is there to
    // test; bad; a count cut short by the end of the archive.
    const std::vector<std::pair<std::string, Bytes>> members{{"sound.s16", sprite(0x00FFFFFF)},
                                                             {"bad1.s16", sprite(0x01000000)},
                                                             {"empty.s16", SpriteBuilder().Build()},
                                                             {"odd.s16", negativeCount},
                                                             {"bad2.s16", sprite(-1)},
                                                             {"short.s16", Bytes{0x10, 0, 0}}};
    ArchiveBuilder archive;
    for (const auto& [name, data] : members)
        archive.Member(name, data);
    WriteFile("Modgen.dat", archive.Build());
    std::vector<ArchiveRow> rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back(RowOf(archive, i, members[i].first));

    std::vector<std::string> expected;
    for (int i : {1, 3, 4, 5})
        expected.push_back(members[i].first + " at " + OffsetText(archive.StartOf(i)) + " is bad!");
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", rows, 6), expected);
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", rows, 100), expected);
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", rows, 2).size(), 1u);
    // A row whose end lies before its start has no bytes to test.
    rows[0].Finish = archive.StartOf(0) - 1;
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", rows, 1),
              std::vector<std::string>{"sound.s16 at " + OffsetText(rows[0].Start) + " is bad!"});
    rows[0] = RowOf(archive, 0, members[0].first);
    EXPECT_TRUE(kiv::TestArchive("missing.dat", rows, 6).empty());

    // Messages found before a row that cannot be read have been handed over.
    std::vector<std::string> seen;
    const auto rowAt = [&rows](std::int32_t r) {
        if (r == 3)
            throw kiv::EConvertError("no offsets");
        return rows[static_cast<std::size_t>(r - 1)];
    };
    EXPECT_THROW(kiv::TestArchive("Modgen.dat", 6, rowAt,
                                  [&seen](const std::string& m) { seen.push_back(m); }),
                 kiv::EConvertError);
    EXPECT_EQ(seen, std::vector<std::string>{expected[0]});
}
