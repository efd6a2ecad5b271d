#include "sprite/S16Format.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace kiv;
using namespace kivtest;

namespace {

TColor Unpack16(std::uint16_t p) {
    return UnpackPixel(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8));
}

// `count` one-pixel raw icons whose pixel value is the icon's number.
SpriteBuilder Numbered(int count) {
    SpriteBuilder sprite;
    for (int i = 0; i < count; ++i)
        sprite.Raw(1, 1, i, 0, 1, 1, {static_cast<std::uint16_t>(i)}, 0x100 + i);
    return sprite;
}

} // namespace

TEST(S16Format, PixelsPackAndUnpackAsRgb565WithoutRepeatingTopBits) {
    EXPECT_EQ(PackPixel(BackColor), 0xFEFB);
    EXPECT_EQ(Unpack16(0xFEFB), 0x00D8DCF8u);
    EXPECT_NE(Unpack16(0xFEFB), BackColor);

    EXPECT_EQ(Unpack16(0x0000), 0x00000000u);
    EXPECT_EQ(Unpack16(0xF800), 0x000000F8u);
    EXPECT_EQ(Unpack16(0x07E0), 0x0000FC00u);
    EXPECT_EQ(Unpack16(0x001F), 0x00F80000u);
    EXPECT_EQ(Unpack16(0xFFFF), 0x00F8FCF8u);

    EXPECT_EQ(PackPixel(0x00FFFFFF), 0xFFFF);
    EXPECT_EQ(PackPixel(clAqua), 0x07FF);
    // Packing truncates: the low bits of each byte are dropped, never rounded.
    EXPECT_EQ(PackPixel(RGB(0x07, 0x03, 0x07)), 0x0000);
    EXPECT_EQ(Unpack16(PackPixel(0x00ABCDEF)), 0x00A8CCE8u);

    for (unsigned p = 0; p <= 0xFFFF; ++p)
        ASSERT_EQ(PackPixel(Unpack16(static_cast<std::uint16_t>(p))), p) << std::hex << p;

    // The editor names a paint colour by what it becomes once stored.
    EXPECT_EQ(PixelColorText(RGB(255, 3, 7)), "R 248 G 0 B 0, 5-6-5 F800");
    EXPECT_EQ(PixelColorText(Unpack16(0xFEFB)), "R 248 G 220 B 216, 5-6-5 FEFB");
    EXPECT_EQ(PixelColorText(BackColor), "background R 248 G 220 B 220, 5-6-5 FEFB inside the box");
}

TEST(S16Format, IconDataOffsetCountsFromTheStartOfTheFile) {
    TIconHeader h;
    h.Starts = 30;
    EXPECT_EQ(IconDataOffset(3, h), 4 + 120 + 30);
    EXPECT_EQ(IconDataOffset(0, h), 4 + 30);
    EXPECT_EQ(IconDataOffset(-7, h), 4 + 30); // a negative count has no header table
}

TEST(S16Format, TableKeepsAThousandIconsAndFindsTheDataFromTheStoredCount) {
    ScratchDir dir;
    TIconTable table;

    const auto exact = Numbered(1000);
    WriteFile("exact.s16", exact.Build());
    EXPECT_EQ(ReadIconTable("exact.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Count, 1000);
    EXPECT_EQ(table.StoredCount, 1000);
    EXPECT_FALSE(table.CountClamped());
    EXPECT_EQ(table.Path, "exact.s16");
    EXPECT_EQ(table.FileLength, 4 + 1000 * 40 + 1000 * 2);
    EXPECT_EQ(table.Headers[999].StartX, 999);
    EXPECT_EQ(table.Headers[999].Starts, 999 * 2);
    EXPECT_EQ(table.Headers[999].Aux, 0x100 + 999);

    const Bytes over = Numbered(1001).Build();
    WriteFile("over.s16", over);
    EXPECT_EQ(ReadIconTable("over.s16", table), ReadTableResult::CountExceeded);
    EXPECT_EQ(table.Count, 1000);
    EXPECT_EQ(table.StoredCount, 1001);
    EXPECT_TRUE(table.CountClamped());
    EXPECT_EQ(table.Headers[999].StartX, 999);
    // Icon 999's pixel sits where the stored count says, not where the clamped one would.
    const auto at = IconDataOffset(table.StoredCount, table.Headers[999]);
    EXPECT_EQ(over.at(at), 999 & 0xFF);
    EXPECT_EQ(over.at(at + 1), 999 >> 8);
}

TEST(S16Format, ZeroNegativeAndShortTablesLoadWithoutReadingPastTheFile) {
    ScratchDir dir;
    TIconTable table;

    Bytes zero;
    PutLE32(zero, 0);
    WriteFile("zero.s16", zero);
    EXPECT_EQ(ReadIconTable("zero.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Count, 0);
    EXPECT_EQ(table.FileLength, 4);

    Bytes negative;
    PutLE32(negative, -5);
    PutLE32(negative, 77); // would be a header word if the count were read as unsigned
    WriteFile("negative.s16", negative);
    EXPECT_EQ(ReadIconTable("negative.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Count, -5);
    EXPECT_EQ(table.Headers[0], TIconHeader{});

    // Two icons promised, one and a half headers present: the missing words read as 0.
    Bytes cut = Numbered(2).Build();
    cut.resize(4 + 40 + 12);
    WriteFile("cut.s16", cut);
    EXPECT_EQ(ReadIconTable("cut.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Count, 2);
    EXPECT_EQ(table.FileLength, 56);
    EXPECT_EQ(table.Headers[0].Width, 1);
    EXPECT_EQ(table.Headers[1].Width, 1);
    EXPECT_EQ(table.Headers[1].StartX, 1);
    EXPECT_EQ(table.Headers[1].StartY, 0);
    EXPECT_EQ(table.Headers[1].FWidth, 0);
    EXPECT_EQ(table.Headers[1].Aux, 0);
    // A word cut inside reads as 0 too, not as the bytes that are there.
    cut.resize(4 + 40 + 9);
    WriteFile("cut.s16", cut);
    EXPECT_EQ(ReadIconTable("cut.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Headers[1].Height, 1);
    EXPECT_EQ(table.Headers[1].StartX, 0);

    WriteFile("tiny.s16", {0x01, 0x00});
    EXPECT_EQ(ReadIconTable("tiny.s16", table), ReadTableResult::Loaded);
    EXPECT_EQ(table.Count, 0);
}

TEST(S16Format, FailedOpenLeavesTheTableAsItWas) {
    ScratchDir dir;
    WriteFile("good.s16", Numbered(3).Build());
    TIconTable table;
    ASSERT_EQ(ReadIconTable("good.s16", table), ReadTableResult::Loaded);
    const TIconTable before = table;

    EXPECT_EQ(ReadIconTable("missing.s16", table), ReadTableResult::CannotOpen);
    EXPECT_EQ(ReadIconTable(dir.Path().string(), table), ReadTableResult::CannotOpen);
    EXPECT_EQ(table.Path, before.Path);
    EXPECT_EQ(table.Count, before.Count);
    EXPECT_EQ(table.FileLength, before.FileLength);
    EXPECT_EQ(table.Headers, before.Headers);
}
