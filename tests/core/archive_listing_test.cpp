#include "archive/ArchiveDirectory.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace kivtest;
using kiv::ListArchive;
using kiv::TArchiveEntry;
using Entries = std::vector<TArchiveEntry>;

namespace {

// A bare directory: count, first start, then 13-byte name fields and end words.
Bytes Directory(std::int32_t count, std::uint32_t firstStart,
                const std::vector<std::pair<std::string, std::uint32_t>>& entries) {
    Bytes out;
    PutLE32(out, count);
    PutLE32(out, static_cast<std::int32_t>(firstStart));
    for (const auto& [name, end] : entries) {
        Bytes field(name.begin(), name.end());
        field.resize(13, 0);
        out.insert(out.end(), field.begin(), field.end());
        PutLE32(out, static_cast<std::int32_t>(end));
    }
    return out;
}

} // namespace

TEST(ArchiveListing, EachMemberStartsWhereThePreviousEnded) {
    ScratchDir dir;
    WriteFile("empty.dat", ArchiveBuilder().Build());
    auto listing = ListArchive("empty.dat");
    EXPECT_TRUE(listing.Opened && listing.Entries.empty() && !listing.Truncated);

    ArchiveBuilder archive;
    archive.Member("twelve__.s16", Bytes(3, 1))
        .MemberRawName({'a', 'b', 0, 'j', 'u', 'n', 'k'}, Bytes(7, 2))
        .MemberRawName(Bytes(13, 'x'), Bytes(2, 3));
    WriteFile("three.dat", archive.Build());
    listing = ListArchive("three.dat");
    EXPECT_EQ(listing.StoredCount, 3);
    EXPECT_FALSE(listing.Truncated);
    // A 12-character name is shown whole; bytes after the NUL are ignored; a field with
    // no NUL shows its 13 bytes and nothing beyond.
    EXPECT_EQ(listing.Entries,
              (Entries{{"twelve__.s16", 59, 62}, {"ab", 62, 69}, {std::string(13, 'x'), 69, 71}}));
}

TEST(ArchiveListing, OffsetsShowSixHexDigitsOrMoreWhenNeeded) {
    EXPECT_EQ(kiv::OffsetText(0), "000000");
    EXPECT_EQ(kiv::OffsetText(5000), "001388");
    EXPECT_EQ(kiv::OffsetText(0x1000000), "1000000");
    EXPECT_EQ(kiv::OffsetText(0xFEDCBA98), "FEDCBA98");

    // Offsets are shown as stored, unchecked against the file.
    ScratchDir dir;
    WriteFile("big.dat", Directory(2, 0x1000000, {{"a", 0x1234567}, {"b", 0xFEDCBA98}}));
    EXPECT_EQ(ListArchive("big.dat").Entries,
              (Entries{{"a", 0x1000000, 0x1234567}, {"b", 0x1234567, 0xFEDCBA98}}));
}

TEST(ArchiveListing, ListsOnlyTheCompleteEntriesTheFileHolds) {
    ScratchDir dir;
    EXPECT_FALSE(ListArchive("missing.dat").Opened);

    // Three entries promised, one and a half present.
    Bytes cut = Directory(3, 59, {{"a", 60}, {"b", 61}});
    cut.resize(8 + 17 + 9);
    WriteFile("cut.dat", cut);
    auto listing = ListArchive("cut.dat");
    EXPECT_EQ(listing.StoredCount, 3);
    EXPECT_TRUE(listing.Truncated);
    EXPECT_EQ(listing.Entries, (Entries{{"a", 59, 60}}));

    // A count the file could never hold allocates nothing for it.
    Bytes huge = Directory(0x7FFFFFFF, 8, {});
    huge.resize(20, 0);
    WriteFile("huge.dat", huge);
    listing = ListArchive("huge.dat");
    EXPECT_EQ(listing.StoredCount, 0x7FFFFFFF);
    EXPECT_TRUE(listing.Truncated);
    EXPECT_EQ(listing.Entries.capacity(), 0u);

    WriteFile("negative.dat", Directory(-5, 8, {{"a", 9}}));
    EXPECT_TRUE(ListArchive("negative.dat").Entries.empty());

    // Too short for the count or the first start.
    for (std::size_t length : {0u, 3u, 6u}) {
        Bytes header = Directory(1, 8, {});
        header.resize(length);
        WriteFile("short.dat", header);
        listing = ListArchive("short.dat");
        EXPECT_TRUE(listing.Opened && listing.Truncated && listing.Entries.empty());
    }
}
