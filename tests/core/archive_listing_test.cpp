#include "archive/ArchiveDirectory.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace kivtest;
using kiv::ListArchive;
using kiv::TArchiveEntry;

namespace {

// A directory of raw name fields and end words, with nothing after it.
Bytes Directory(std::int32_t count, std::uint32_t firstStart,
                const std::vector<std::pair<Bytes, std::uint32_t>>& entries) {
    Bytes out;
    PutLE32(out, count);
    PutLE32(out, static_cast<std::int32_t>(firstStart));
    for (const auto& [field, end] : entries) {
        Bytes name = field;
        name.resize(13, 0);
        out.insert(out.end(), name.begin(), name.end());
        PutLE32(out, static_cast<std::int32_t>(end));
    }
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(ArchiveListing, EachMemberStartsWhereThePreviousEnded) {
    ScratchDir dir;
    WriteFile("empty.dat", ArchiveBuilder().Build());
    auto empty = ListArchive("empty.dat");
    EXPECT_TRUE(empty.Opened);
    EXPECT_EQ(empty.StoredCount, 0);
    EXPECT_TRUE(empty.Entries.empty());
    EXPECT_FALSE(empty.Truncated);

    ArchiveBuilder one;
    one.Member("A.s16", Bytes(5, 1));
    WriteFile("one.dat", one.Build());
    EXPECT_EQ(ListArchive("one.dat").Entries,
              (std::vector<TArchiveEntry>{{"A.s16", one.StartOf(0), one.FinishOf(0)}}));

    ArchiveBuilder three;
    three.Member("twelve__.s16", Bytes(3, 1))
        .MemberRawName(Text(std::string("ab\0junk!", 8)), Bytes(7, 2))
        .MemberRawName(Text("thirteenchars"), Bytes(2, 3));
    WriteFile("three.dat", three.Build());
    auto listing = ListArchive("three.dat");
    EXPECT_EQ(listing.StoredCount, 3);
    EXPECT_FALSE(listing.Truncated);
    // A 12-character name is shown whole; bytes after the NUL are ignored; a field with
    // no NUL shows all 13 bytes and nothing beyond.
    EXPECT_EQ(listing.Entries,
              (std::vector<TArchiveEntry>{
                  {"twelve__.s16", 59, 62}, {"ab", 62, 69}, {"thirteenchars", 69, 71}}));
}

TEST(ArchiveListing, OffsetsShowSixHexDigitsOrMoreWhenNeeded) {
    EXPECT_EQ(kiv::OffsetText(0), "000000");
    EXPECT_EQ(kiv::OffsetText(5000), "001388");
    EXPECT_EQ(kiv::OffsetText(0xFFFFFF), "FFFFFF");
    EXPECT_EQ(kiv::OffsetText(0x1000000), "1000000");
    EXPECT_EQ(kiv::OffsetText(0xFEDCBA98), "FEDCBA98");

    // The listing does not check offsets against the file: they are shown as stored.
    ScratchDir dir;
    WriteFile("big.dat",
              Directory(2, 0x1000000, {{Text("a"), 0x1234567}, {Text("b"), 0xFEDCBA98}}));
    auto listing = ListArchive("big.dat");
    ASSERT_EQ(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[0], (TArchiveEntry{"a", 0x1000000, 0x1234567}));
    EXPECT_EQ(listing.Entries[1], (TArchiveEntry{"b", 0x1234567, 0xFEDCBA98}));
}

TEST(ArchiveListing, ListsOnlyTheCompleteEntriesTheFileHolds) {
    ScratchDir dir;
    EXPECT_FALSE(ListArchive("missing.dat").Opened);

    // Three entries promised, one and a half present.
    Bytes cut = Directory(3, 59, {{Text("a"), 60}, {Text("b"), 61}});
    cut.resize(8 + 17 + 9);
    WriteFile("cut.dat", cut);
    auto listing = ListArchive("cut.dat");
    EXPECT_EQ(listing.StoredCount, 3);
    EXPECT_TRUE(listing.Truncated);
    EXPECT_EQ(listing.Entries, (std::vector<TArchiveEntry>{{"a", 59, 60}}));

    // A count the file could never hold lists what is there and allocates nothing for it.
    Bytes huge = Directory(0x7FFFFFFF, 8, {});
    huge.resize(20, 0);
    WriteFile("huge.dat", huge);
    listing = ListArchive("huge.dat");
    EXPECT_EQ(listing.StoredCount, 0x7FFFFFFF);
    EXPECT_TRUE(listing.Truncated);
    EXPECT_TRUE(listing.Entries.empty());
    EXPECT_LE(listing.Entries.capacity(), 1u);

    WriteFile("negative.dat", Directory(-5, 8, {{Text("a"), 9}}));
    EXPECT_TRUE(ListArchive("negative.dat").Entries.empty());

    // Too short for the count or the first start.
    for (std::size_t length : {0u, 3u, 6u}) {
        Bytes header = Directory(1, 8, {});
        header.resize(length);
        WriteFile("short.dat", header);
        listing = ListArchive("short.dat");
        EXPECT_TRUE(listing.Opened);
        EXPECT_TRUE(listing.Truncated);
        EXPECT_TRUE(listing.Entries.empty());
    }
}

TEST(ArchiveListing, ListsALargeDirectoryUnderALongPath) {
    ScratchDir dir;
    std::string folder = std::string(70, 'd') + "/" + std::string(70, 'e');
    std::filesystem::create_directories(folder);
    const std::string path = dir.File(folder + "/archive.dat");
    ASSERT_GT(path.size(), 127u);

    constexpr std::uint32_t kMembers = 100000;
    std::vector<std::pair<Bytes, std::uint32_t>> entries;
    const std::uint32_t first = 8 + 17 * kMembers;
    for (std::uint32_t i = 0; i < kMembers; ++i)
        entries.push_back({Text("m" + std::to_string(i)), first + i + 1});
    WriteFile(path, Directory(kMembers, first, entries));

    auto listing = ListArchive(path);
    ASSERT_EQ(listing.Entries.size(), kMembers);
    EXPECT_EQ(listing.Entries.back(),
              (TArchiveEntry{"m99999", first + kMembers - 1, first + kMembers}));
}
