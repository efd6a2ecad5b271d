// Files whose numbers promise far more work than their bytes hold: counts of 0x7FFFFFFF,
// frames and boxes of 2^31 pixels, millions of zero-length runs, offsets far past the end.
// Each operation finishes with a clear outcome; a hang shows as the test's timeout.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveVerify.h"
#include "archive/FileThumbnail.h"
#include "archive/MemberExtract.h"
#include "archive/MemberReplace.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace {

using kivtest::Bytes;
using kivtest::PutLE16;
using kivtest::PutLE32;

constexpr std::int32_t kHugeCount = 0x7FFFFFFF;

void PutHeader(Bytes& out, const std::vector<std::int32_t>& words) {
    for (std::int32_t w : words)
        PutLE32(out, w);
}

std::vector<kiv::ArchiveRow> RowsOf(const kiv::ArchiveListing& listing) {
    std::vector<kiv::ArchiveRow> rows;
    for (const kiv::TArchiveEntry& entry : listing.Entries)
        rows.push_back(kiv::ArchiveRow::FromEntry(entry));
    return rows;
}

// The icon in the sprite file must not be worth the names of its words.
kiv::Image Picture() {
    kiv::Image picture(4, 3);
    picture.Fill(kiv::BackColor);
    picture.SetPixel(1, 1, kiv::RGB(200, 10, 10));
    return picture;
}

TEST(BoundedWork, AnArchiveCountOf0x7FFFFFFFListsOnlyTheEntriesThatAreThere) {
    kivtest::ScratchDir dir;
    const Bytes sprite = kivtest::SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {0x1234}).Build();
    Bytes archive =
        kivtest::ArchiveBuilder().Member("a.s16", sprite).Member("b.s16", sprite).Build();
    for (int k = 0; k < 4; ++k)
        archive[k] = static_cast<std::uint8_t>(kHugeCount >> (8 * k));
    kivtest::WriteFile("Modgen.dat", archive);

    const kiv::ArchiveListing listing = kiv::ListArchive("Modgen.dat");
    EXPECT_EQ(listing.StoredCount, kHugeCount);
    EXPECT_TRUE(listing.Truncated);
    // Every 17-byte entry the file holds is listed; the rest are not invented.
    EXPECT_LE(listing.Entries.size(), (archive.size() - 8) / 17);
    ASSERT_GE(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[0].Name, "a.s16");

    // Test walks the listed rows, not the count.
    const std::vector<kiv::ArchiveRow> rows = RowsOf(listing);
    EXPECT_NO_THROW(kiv::TestArchive("Modgen.dat", rows, kHugeCount));

    // Replace finishes with the twin in place; end words are only moved inside the file.
    kivtest::WriteFile("a.s17", kivtest::SpriteBuilder().Raw(2, 1, 0, 0, 2, 1, {1, 2}).Build());
    kiv::ReplaceRequest request;
    request.ArchivePath = "Modgen.dat";
    request.Row = rows[0];
    request.RowIndex = 1;
    request.MemberCount = static_cast<std::int32_t>(rows.size());
    const kiv::OpResult replaced = kiv::ReplaceMember(request);
    ASSERT_TRUE(replaced.Ok) << replaced.Message;
    const Bytes rebuilt = kivtest::ReadFile("Newgen.dat");
    EXPECT_EQ(rebuilt.size(), archive.size() + 2);
    EXPECT_EQ(kivtest::GetLE32(rebuilt, 21), kivtest::GetLE32(archive, 21) + 2);
    EXPECT_EQ(kivtest::GetLE32(rebuilt, 38), kivtest::GetLE32(archive, 38) + 2);
}

TEST(BoundedWork, ASpriteCountOf0x7FFFFFFFKeeps1000HeadersAndIsNotReencoded) {
    kivtest::ScratchDir dir;
    Bytes sprite = kivtest::SpriteBuilder()
                       .Raw(2, 1, 0, 0, 2, 1, {0xF800, 0x07E0})
                       .StoredCount(kHugeCount)
                       .Build();
    kivtest::WriteFile("big.s16", sprite);

    kiv::TIconTable table;
    ASSERT_EQ(kiv::ReadIconTable("big.s16", table), kiv::ReadTableResult::CountExceeded);
    EXPECT_EQ(table.Count, kiv::MaxIcons);
    EXPECT_EQ(table.StoredCount, kHugeCount);
    EXPECT_EQ(table.Headers[0].Width, 2);
    EXPECT_EQ(table.Headers[1].Width, 0x07E0F800);     // the pixel data read as a header
    EXPECT_EQ(table.Headers[999], kiv::TIconHeader{}); // past the end of the file: zeros

    // Every icon decodes from where the stored count puts the data: far past the end.
    auto in = kiv::InFile::Open("big.s16");
    kiv::DecodeStats stats;
    for (int i = 0; i < table.Count; ++i) {
        const kiv::Image frame =
            kiv::DecodeIcon(*in, kiv::IconDataOffset(table.StoredCount, table.Headers[i]),
                            table.Headers[i], &stats);
        if (i == 0) {
            EXPECT_TRUE(stats.EndedEarly);
            EXPECT_EQ(frame.Pixel(0, 0), kiv::BackColor);
        }
    }

    const kiv::ReencodeResult result = kiv::ReencodeIcon(Picture(), 0, table);
    EXPECT_FALSE(result.Ok);
    EXPECT_FALSE(result.Message.empty());
    EXPECT_FALSE(kivtest::FileExists("big.s17"));

    // A member that claims 0x7FFFFFFF icons: its tested byte lies far past the end, so it is
    // bad, found without reading anything in between.
    const Bytes archive = kivtest::ArchiveBuilder().Member("big.s16", sprite).Build();
    kivtest::WriteFile("Modgen.dat", archive);
    const kiv::ArchiveListing listing = kiv::ListArchive("Modgen.dat");
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", RowsOf(listing), listing.StoredCount).size(), 1u);
}

TEST(BoundedWork, FramesAndBoxesOf2To31PixelsAreRefusedOrEndWithTheData) {
    kivtest::ScratchDir dir;
    // A frame of 65536 x 32768 pixels is refused before anything is allocated.
    Bytes header;
    PutHeader(header, {65536, 32768, 0, 0, 65536, 32768, 0, 6, 0, 0});
    Bytes sprite;
    PutLE32(sprite, 1);
    sprite.insert(sprite.end(), header.begin(), header.end());
    PutLE16(sprite, 0xF800);
    PutLE16(sprite, 0x07E0);
    PutLE16(sprite, 0x001F);
    kivtest::WriteFile("wide.s16", sprite);
    kiv::TIconTable table;
    ASSERT_EQ(kiv::ReadIconTable("wide.s16", table), kiv::ReadTableResult::Loaded);
    auto in = kiv::InFile::Open("wide.s16");
    EXPECT_THROW(kiv::DecodeIcon(*in, kiv::IconDataOffset(1, table.Headers[0]), table.Headers[0]),
                 kiv::EFrameTooLarge);

    // A box of 2^31 pixels in a small frame: three pixels of data, then the end.
    kiv::TIconHeader box = table.Headers[0];
    box.FWidth = 4;
    box.FHeight = 2;
    kiv::DecodeStats stats;
    for (int compress : {0, 1}) {
        box.Compress = compress;
        const kiv::Image frame = kiv::DecodeIcon(*in, kiv::IconDataOffset(1, box), box, &stats);
        EXPECT_TRUE(stats.EndedEarly);
        EXPECT_EQ(stats.BytesRead, 6);
        EXPECT_EQ(frame.Width(), 4);
    }

    // A bitmap that claims 2^31 pixels is not a bitmap this tool loads.
    Bytes bmp = {'B', 'M'};
    PutLE32(bmp, 62);
    PutLE32(bmp, 0);
    PutLE32(bmp, 54);
    PutHeader(bmp, {40, 65536, 32768});
    PutLE16(bmp, 1);
    PutLE16(bmp, 24);
    PutHeader(bmp, {0, 0, 0, 0, 0, 0});
    bmp.resize(62, 0);
    EXPECT_THROW(kiv::DecodeBitmap(bmp.data(), bmp.size()), kiv::Exception);
    kivtest::WriteFile("huge.bmp", bmp);
    EXPECT_THROW(kiv::LoadBitmapFile("huge.bmp"), kiv::Exception);
}

TEST(BoundedWork, MillionsOfZeroLengthRunsPaintNothingAndEndOnce) {
    kivtest::ScratchDir dir;
    constexpr int kZeroRuns = 2'000'000;
    Bytes sprite;
    PutLE32(sprite, 1);
    PutHeader(sprite, {2, 2, 0, 0, 2, 2, 0, 3 * (kZeroRuns + 1), 1, 0});
    sprite.resize(sprite.size() + 3 * static_cast<std::size_t>(kZeroRuns), 0);
    sprite.push_back(4);
    PutLE16(sprite, 0xF800);
    kivtest::WriteFile("zeros.s16", sprite);

    kiv::TIconTable table;
    ASSERT_EQ(kiv::ReadIconTable("zeros.s16", table), kiv::ReadTableResult::Loaded);
    auto in = kiv::InFile::Open("zeros.s16");
    kiv::DecodeStats stats;
    const kiv::Image frame =
        kiv::DecodeIcon(*in, kiv::IconDataOffset(1, table.Headers[0]), table.Headers[0], &stats);
    EXPECT_FALSE(stats.EndedEarly);
    EXPECT_EQ(stats.BytesRead, 3 * (kZeroRuns + 1));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(frame.Pixel(x, y), kiv::UnpackPixel(0x00, 0xF8));

    // Without the closing run the stream simply ends.
    sprite.resize(sprite.size() - 3);
    kivtest::WriteFile("zeros.s16", sprite);
    in = kiv::InFile::Open("zeros.s16");
    const kiv::Image blank =
        kiv::DecodeIcon(*in, kiv::IconDataOffset(1, table.Headers[0]), table.Headers[0], &stats);
    EXPECT_TRUE(stats.EndedEarly);
    EXPECT_EQ(blank.Pixel(1, 1), kiv::BackColor);

    // Re-encoding refuses such a file (its Bytes no longer match) or rewrites it whole.
    const kiv::ReencodeResult result = kiv::ReencodeIcon(Picture(), 0, table);
    EXPECT_TRUE(result.Ok || !result.Message.empty());
}

TEST(BoundedWork, OffsetsFarPastTheEndAreRefusedOrReadAsNothing) {
    kivtest::ScratchDir dir;
    const Bytes sprite = kivtest::SpriteBuilder().Raw(1, 1, 0, 0, 1, 1, {0x1234}).Build();
    Bytes archive =
        kivtest::ArchiveBuilder().Member("near.s16", sprite).Member("far.s16", sprite).Build();
    // The second member ends 4 GiB - 1 into a file of a few dozen bytes.
    for (int k = 0; k < 4; ++k)
        archive[38 + k] = 0xFF;
    kivtest::WriteFile("Modgen.dat", archive);
    const kiv::ArchiveListing listing = kiv::ListArchive("Modgen.dat");
    ASSERT_EQ(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[1].Finish, 0xFFFFFFFFu);
    const std::vector<kiv::ArchiveRow> rows = RowsOf(listing);

    const kiv::OpResult extracted = kiv::ExtractMember("Modgen.dat", rows[1]);
    EXPECT_FALSE(extracted.Ok);
    EXPECT_FALSE(extracted.Message.empty());
    EXPECT_FALSE(kivtest::FileExists("far.s16"));

    // A member that starts far past the end: Test finds nothing to read and calls it bad,
    // Replace refuses.
    kiv::ArchiveRow beyond = rows[1];
    beyond.Start = 0xFFFFFF00;
    EXPECT_EQ(kiv::TestArchive("Modgen.dat", {rows[0], beyond}, 2),
              std::vector<std::string>{"far.s16 at FFFFFF00 is bad!"});
    kivtest::WriteFile("far.s17", sprite);
    kiv::ReplaceRequest request;
    request.ArchivePath = "Modgen.dat";
    request.Row = beyond;
    request.RowIndex = 2;
    request.MemberCount = 2;
    const kiv::OpResult replaced = kiv::ReplaceMember(request);
    EXPECT_FALSE(replaced.Ok);
    EXPECT_FALSE(replaced.Message.empty());
    EXPECT_FALSE(kivtest::FileExists("Newgen.dat"));

    // An icon whose data starts 2 GiB into a small sprite file: nothing is read.
    kiv::TIconTable table;
    kivtest::WriteFile("near.s16", sprite);
    ASSERT_EQ(kiv::ReadIconTable("near.s16", table), kiv::ReadTableResult::Loaded);
    kiv::TIconHeader far = table.Headers[0];
    far.Starts = 0x7FFFFFF0;
    auto in = kiv::InFile::Open("near.s16");
    kiv::DecodeStats stats;
    const kiv::Image frame = kiv::DecodeIcon(*in, kiv::IconDataOffset(1, far), far, &stats);
    EXPECT_TRUE(stats.EndedEarly);
    EXPECT_EQ(stats.BytesRead, 0);
    EXPECT_EQ(frame.Pixel(0, 0), kiv::BackColor);
}

// A thumbnail is made where a file manager waits for it: a header that promises more than a
// small picture's work is a fault, found before the work is done.
TEST(BoundedWork, AThumbnailOfHeadersThatPromiseTooMuchIsRefusedBeforeTheWork) {
    kivtest::ScratchDir dir;
    struct Case {
        std::vector<std::int32_t> Header;
        std::size_t DataBytes;
        std::string Fault;
    };
    const std::vector<Case> cases = {
        {{1 << 30, 1 << 30, 0, 0, 16384, 16384, 0, 6, 0, 0},
         6,
         "icon 1 shows 16384 x 16384 pixels, too many for a thumbnail"},
        {{4, 4, 0, 0, 4, 4, 0, 3 * 250'000, 1, 0}, 3 * 250'000, "icon 1: Bytes 750000 is above"},
        {{2000, 2000, 0, 0, 2000, 2000, 0, 600'000, 1, 0},
         600'000,
         "icon 1: its runs paint 0 of 4000000 pixels within its 600000 bytes"},
        {{-5, -5, 0, 0, 10, 10, 0, 0, 0, 0}, 0, "none of its"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fault);
        Bytes sprite;
        PutLE32(sprite, 1);
        PutHeader(sprite, c.Header);
        sprite.resize(sprite.size() + c.DataBytes, 0);
        kivtest::WriteFile("a.s16", sprite);
        kivtest::WriteFile("a.dat", kivtest::ArchiveBuilder().Member("a.s16", sprite).Build());
        for (const char* path : {"a.s16", "a.dat"}) {
            const kiv::FileThumbnail thumbnail = kiv::MakeThumbnail(path, 1024);
            EXPECT_TRUE(thumbnail.Picture.Empty());
            EXPECT_NE(thumbnail.Fault.find(c.Fault), std::string::npos) << thumbnail.Fault;
        }
    }
    Bytes counted;
    PutLE32(counted, kHugeCount);
    PutHeader(counted, {1, 1, 0, 0, 1, 1, 0, 2, 0, 0});
    kivtest::WriteFile("count.s16", counted);
    EXPECT_NE(kiv::MakeThumbnail("count.s16", 128).Fault.find("does not look like"),
              std::string::npos);
}

#ifndef _WIN32 // named pipes and /dev
TEST(BoundedWork, APipeOrADeviceIsNotAFileToReadAndNothingWaitsForIt) {
    kivtest::ScratchDir dir;
    ASSERT_EQ(::mkfifo("pipe.dat", 0644), 0);
    for (const std::string path : {"pipe.dat", "/dev/zero"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(kiv::InFile::Open(path), nullptr);
        EXPECT_FALSE(kiv::ListArchive(path).Opened);
        EXPECT_EQ(kiv::MakeThumbnail(path, 128).Kind, kiv::VerifiedKind::Missing);
        kiv::TIconTable table;
        EXPECT_EQ(kiv::ReadIconTable(path, table), kiv::ReadTableResult::CannotOpen);
        EXPECT_THROW(kiv::LoadBitmapFile(path), kiv::EFOpenError);
        const kiv::OpResult extracted = kiv::ExtractMember(path, {"a.s16", 0x10, 0x20});
        EXPECT_EQ(extracted.Message, "Main data file not found.");
    }
    EXPECT_FALSE(kivtest::FileExists("a.s16"));
}
#endif

} // namespace
