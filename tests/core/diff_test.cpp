#include "archive/ArchiveDiff.h"
#include "archive/ArchiveOps.h"
#include "base/SafeFile.h"
#include "sprite/IconEncoder.h"
#include "support/ArchiveModel.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace kivtest;

// Edits applied one after another: after each, the comparison with the base lists exactly
// what the edits so far changed.
TEST(ArchiveDiff, ListsExactlyWhatAChainOfSingleEditsChanged) {
    ScratchDir dir;
    const Model base = Base();
    WriteFile("base.dat", base.Build());
    EXPECT_TRUE(kiv::DiffArchives("base.dat", "base.dat").Same());

    Model edited = base;
    std::set<std::string> expected;
    for (const Edit& edit : kEdits) {
        SCOPED_TRACE(edit.What);
        edit.Apply(edited);
        expected.insert(edit.Listed.begin(), edit.Listed.end());
        WriteFile("edited.dat", edited.Build());
        const kiv::ArchiveDiff diff = kiv::DiffArchives("base.dat", "edited.dat");
        EXPECT_EQ(Listed(diff), expected);

        // Each edit alone is what a rebuild from the base would drop, by member name.
        Model alone = base;
        edit.Apply(alone);
        WriteFile("alone.dat", alone.Build());
        const kiv::ArchiveRebuildReport report =
            kiv::ArchiveRebuildCheck("base.dat", "alone.dat", {});
        const bool outside = edit.Listed.contains("gap") || edit.Listed.contains("tail");
        EXPECT_EQ(report.OutsideDiffers, outside);
        EXPECT_EQ(report.Dropped,
                  outside ? std::vector<std::string>{} : std::vector<std::string>{edit.Member});
    }
}

// The drop check against outputs the real rebuild wrote: Replace of b.s16, then another
// change on top of it.
TEST(ArchiveDiff, RebuildCheckKnowsTheRebuildsOwnOutput) {
    ScratchDir dir;
    Model base = Base();
    WriteFile("base.dat", base.Build());
    Model twin = base;
    twin.Named("b.s16").Icons[0].Data[1] ^= 0x40;
    twin.Named("b.s16").Icons.push_back(Icon(70));
    const kiv::ArchiveListing listing = kiv::ListArchive("base.dat");
    const Bytes twinBytes = [&] {
        SpriteBuilder sprite;
        for (const SpriteIcon& icon : twin.Named("b.s16").Icons)
            sprite.Icon(icon);
        return sprite.Build();
    }();
    WriteFile("b.s17", twinBytes);
    kiv::ReplaceRequest request;
    request.ArchivePath = "base.dat";
    request.Row = kiv::ArchiveRow::FromEntry(listing.Entries[1]);
    request.RowIndex = 2;
    request.MemberCount = static_cast<std::int32_t>(listing.Entries.size());
    request.TwinPath = "b.s17";
    ASSERT_TRUE(kiv::ReplaceMember(request).Ok);

    const std::vector<kiv::MemberSource> rewriteB{{2, 0, 0, "b.s17", 0}};
    kiv::ArchiveRebuildReport report = kiv::ArchiveRebuildCheck("base.dat", "Newgen.dat", rewriteB);
    EXPECT_TRUE(report.NothingDropped());
    EXPECT_TRUE(report.Identical);
    report = kiv::ArchiveRebuildCheck("base.dat", "Newgen.dat", {});
    EXPECT_EQ(report.Dropped, std::vector<std::string>{"b.s16"});

    // The same rebuild with other new bytes drops nothing, but is not identical.
    WriteFile("other.s17", Bytes(twinBytes.begin(), twinBytes.end() - 1));
    report = kiv::ArchiveRebuildCheck("base.dat", "Newgen.dat", {{2, 0, 0, "other.s17", 0}});
    EXPECT_TRUE(report.NothingDropped());
    EXPECT_FALSE(report.Identical);

    twin.Named("dup.s16", 2).Icons[0].Data[0] ^= 1;
    twin.Tail = {};
    WriteFile("Newgen.dat", twin.Build());
    report = kiv::ArchiveRebuildCheck("base.dat", "Newgen.dat", rewriteB);
    EXPECT_EQ(report.Dropped, std::vector<std::string>{"dup.s16 (2nd)"});
    EXPECT_TRUE(report.OutsideDiffers);
    EXPECT_FALSE(report.Identical);

    WriteFile("Newgen.dat", Bytes{1, 0, 0, 0, 99});
    report = kiv::ArchiveRebuildCheck("base.dat", "Newgen.dat", rewriteB);
    EXPECT_FALSE(report.Readable);
    EXPECT_FALSE(report.Fault.empty());
}

// The sprite check against the re-encoder's own outputs: icon 2 re-encoded, then icon 3 on
// top of that twin.
TEST(SpriteDiff, RebuildCheckKnowsTheReencodersOwnOutput) {
    ScratchDir dir;
    WriteFile("hero.s16", SpriteBuilder().Icon(Icon(1)).Icon(Icon(2)).Icon(Icon(3)).Build());
    kiv::Image picture(6, 5);
    picture.Fill(kiv::BackColor);
    picture.SetPixel(2, 2, kiv::RGB(8, 16, 24));
    const auto reencode = [&](const std::string& from, int icon, const std::string& out) {
        kiv::TIconTable table;
        ASSERT_EQ(kiv::ReadIconTable(from, table), kiv::ReadTableResult::Loaded);
        ASSERT_TRUE(kiv::ReencodeIcons({{icon - 1, &picture}}, table, out).Ok);
    };
    reencode("hero.s16", 2, "hero.s17");
    EXPECT_TRUE(kiv::SpriteRebuildCheck("hero.s16", "hero.s17", {2}).NothingDropped());
    EXPECT_EQ(kiv::SpriteRebuildCheck("hero.s16", "hero.s17", {}).DroppedIcons,
              std::vector<std::int32_t>{2});

    reencode("hero.s17", 3, "hero.s17");
    EXPECT_EQ(kiv::SpriteRebuildCheck("hero.s16", "hero.s17", {2}).DroppedIcons,
              std::vector<std::int32_t>{3});

    Bytes longer = SpriteBuilder().Icon(Icon(1)).Icon(Icon(2)).Icon(Icon(3)).Icon(Icon(4)).Build();
    longer.push_back(0);
    WriteFile("hero.s17", longer);
    const kiv::SpriteRebuildReport report = kiv::SpriteRebuildCheck("hero.s16", "hero.s17", {2});
    EXPECT_EQ(report.DroppedIcons, std::vector<std::int32_t>{4});
    EXPECT_TRUE(report.CountDiffers);
    EXPECT_TRUE(report.OutsideDiffers);

    WriteFile("hero.s17", Bytes{5, 0, 0, 0});
    EXPECT_FALSE(kiv::SpriteRebuildCheck("hero.s16", "hero.s17", {2}).Readable);
}
