// The demo archive keeps every layout rule and decodes to the pictures it was drawn from.

#include "demo/Demo.h"

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveVerify.h"
#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace kivtest {
namespace {

TEST(DemoArchive, IsTheSameBytesEveryTimeAndModestInSize) {
    const Bytes first = kivtool::BuildDemoArchive();
    EXPECT_EQ(first, kivtool::BuildDemoArchive());
    EXPECT_LT(first.size(), 4u * 1024 * 1024);
}

TEST(DemoArchive, KeepsEveryLayoutRuleAndTestsSound) {
    ScratchDir dir;
    WriteFile("Modgen.dat", kivtool::BuildDemoArchive());
    const kiv::ArchiveListing listing = kiv::ListArchive("Modgen.dat");
    ASSERT_EQ(listing.Entries.size(), 12u);
    EXPECT_FALSE(listing.Truncated);
    const Bytes archive = ReadFile("Modgen.dat");
    EXPECT_EQ(listing.Entries.back().Finish, archive.size());

    std::vector<kiv::ArchiveRow> rows;
    int raw = 0, runLength = 0;
    for (const kiv::TArchiveEntry& entry : listing.Entries) {
        SCOPED_TRACE(entry.Name);
        rows.push_back(kiv::ArchiveRow::FromEntry(entry));
        const Bytes member(archive.begin() + entry.Start, archive.begin() + entry.Finish);
        const std::int32_t count = GetLE32(member, 0);
        EXPECT_GE(count, 10);
        EXPECT_LE(count, 60);
        const std::size_t area = 4 + 40 * static_cast<std::size_t>(count);
        std::int64_t expectedStarts = 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const auto h = kiv::TIconHeader::FromBytes(member.data() + 4 + 40 * i);
            EXPECT_EQ(h.Starts, expectedStarts);
            expectedStarts += h.Bytes;
            EXPECT_LE(h.Bytes, 614400);
            EXPECT_LE(h.FWidth, 640);
            EXPECT_LE(h.FHeight, 480);
            EXPECT_GE(h.StartX, 0);
            EXPECT_LE(h.StartX + h.Width, h.FWidth);
            EXPECT_LE(h.StartY + h.Height, h.FHeight);
            if (h.Compress == 1) {
                ++runLength;
                std::int64_t pixels = 0;
                for (std::int32_t k = 0; k < h.Bytes; k += 3) {
                    const int run = member[area + static_cast<std::size_t>(h.Starts + k)];
                    EXPECT_GT(run, 0);
                    pixels += run;
                }
                EXPECT_EQ(pixels, static_cast<std::int64_t>(h.Width) * h.Height);
            } else {
                ++raw;
                EXPECT_EQ(h.Bytes, 2 * h.Width * h.Height);
            }
        }
        EXPECT_EQ(area + static_cast<std::size_t>(expectedStarts), member.size());
        EXPECT_EQ(member[area - 1], 0); // the top byte of the last Aux
    }
    EXPECT_GT(raw, 0);
    EXPECT_GT(runLength, 0);
    EXPECT_TRUE(kiv::TestArchive("Modgen.dat", rows, 12).empty());
}

TEST(DemoArchive, DecodesToThePicturesItWasDrawnFrom) {
    ScratchDir dir;
    WriteFile("Modgen.dat", kivtool::BuildDemoArchive());
    const std::vector<kivtool::DemoMember> members = kivtool::DemoMembers();
    const kiv::ArchiveListing listing = kiv::ListArchive("Modgen.dat");
    auto file = kiv::InFile::Open("Modgen.dat");
    // Background pixels inside an icon's box are stored as packed BackColor.
    const kiv::TColor storedBack = kiv::UnpackPixel(kiv::PackPixel(kiv::BackColor) & 0xFF,
                                                    kiv::PackPixel(kiv::BackColor) >> 8);
    ASSERT_EQ(members.size(), listing.Entries.size());
    for (std::size_t m = 0; m < members.size(); ++m) {
        EXPECT_EQ(members[m].Name, listing.Entries[m].Name);
        const std::int64_t start = listing.Entries[m].Start;
        const auto count = static_cast<std::int32_t>(members[m].Frames.size());
        for (std::int32_t i = 0; i < count; ++i) {
            unsigned char bytes[40];
            file->Seek(start + 4 + 40 * i);
            ASSERT_EQ(file->Read(bytes, 40), 40u);
            const auto h = kiv::TIconHeader::FromBytes(bytes);
            kiv::DecodeStats stats;
            const kiv::Image decoded =
                kiv::DecodeIcon(*file, start + kiv::IconDataOffset(count, h), h, &stats);
            EXPECT_FALSE(stats.EndedEarly);
            EXPECT_EQ(stats.BytesRead, h.Bytes);
            const kiv::Image& drawn = members[m].Frames[static_cast<std::size_t>(i)].Picture;
            ASSERT_EQ(decoded.Width(), drawn.Width());
            ASSERT_EQ(decoded.Height(), drawn.Height());
            int mismatches = 0;
            for (int y = 0; y < drawn.Height(); ++y)
                for (int x = 0; x < drawn.Width(); ++x) {
                    const kiv::TColor want = drawn.Pixel(x, y);
                    const kiv::TColor got = decoded.Pixel(x, y);
                    if (got != want && !(want == kiv::BackColor && got == storedBack))
                        ++mismatches;
                }
            EXPECT_EQ(mismatches, 0) << members[m].Name << " icon " << i + 1;
        }
    }
}

} // namespace
} // namespace kivtest
