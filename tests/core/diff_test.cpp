#include "archive/ArchiveDiff.h"
#include "archive/ArchiveOps.h"
#include "sprite/IconEncoder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace kivtest;

namespace {

struct Member {
    std::string Name;
    std::vector<SpriteIcon> Icons;
    Bytes After; // bytes after the icons' data; Raw: the whole member
    bool Raw = false;
};

struct Model {
    std::vector<Member> Members;
    Bytes Gap{1, 2, 3};
    Bytes Tail{9, 9};
    Bytes Build() const {
        ArchiveBuilder archive;
        for (const Member& m : Members) {
            SpriteBuilder sprite;
            for (const SpriteIcon& icon : m.Icons)
                sprite.Icon(icon);
            Bytes bytes = m.Raw ? Bytes{} : sprite.Build();
            bytes.insert(bytes.end(), m.After.begin(), m.After.end());
            archive.Member(m.Name, bytes);
        }
        return archive.Gap(Gap).Trailer(Tail).Build();
    }
    Member& Named(const std::string& name, int occurrence = 1) {
        for (Member& m : Members)
            if (m.Name == name && --occurrence == 0)
                return m;
        throw std::logic_error(name);
    }
};

SpriteIcon Icon(int seed) {
    SpriteIcon icon;
    icon.Header = MakeHeader(2, 2, seed % 3, 1, 6, 5, 0, seed);
    for (int p = 0; p < 4; ++p)
        PutLE16(icon.Data, static_cast<std::uint16_t>(seed * 97 + p));
    return icon;
}

Model Base() {
    Model model;
    int seed = 0;
    for (const char* name : {"a.s16", "b.s16", "dup.s16", "gone.s16", "dup.s16", "c.s16"})
        model.Members.push_back({name, {Icon(++seed), Icon(++seed), Icon(++seed)}, {}});
    model.Members.push_back({"still.s16", {Icon(++seed)}, {}});
    model.Members.push_back({"raw.bin", {}, {'n', 'o', 't'}, true});
    return model;
}

// The listing as one line per difference, to compare with what the edits say they did.
std::set<std::string> Listed(const kiv::ArchiveDiff& diff) {
    std::set<std::string> lines;
    for (const kiv::MemberDiff& m : diff.Members) {
        const std::string label = kiv::MemberLabel(m);
        if (m.Added() || m.Removed())
            lines.insert((m.Added() ? "added " : "removed ") + label);
        if (m.Moved)
            lines.insert("moved " + label);
        if (!m.Changed)
            continue;
        if (!m.Icons || !m.Icons->Readable()) {
            lines.insert(label + " changed");
            continue;
        }
        for (const kiv::IconDiff& icon : m.Icons->Changed)
            lines.insert(label + " icon " + std::to_string(icon.Icon) +
                         (icon.Header ? " header" : "") + (icon.Data ? " data" : ""));
        if (m.Icons->CountA != m.Icons->CountB)
            lines.insert(label + " count");
        if (m.Icons->OutsideDiffers)
            lines.insert(label + " outside");
    }
    if (diff.GapDiffers)
        lines.insert("gap");
    if (diff.TailDiffers)
        lines.insert("tail");
    return lines;
}

struct Edit {
    const char* What;
    std::function<void(Model&)> Apply;
    std::set<std::string> Listed;
    std::string Member; // the one member it changes
};

const std::vector<Edit> kEdits = {
    {"a pixel of an icon",
     [](Model& m) { m.Named("a.s16").Icons[1].Data[0] ^= 0xFF; },
     {"a.s16 icon 2 data"},
     "a.s16"},
    {"a header word other than the data offset",
     [](Model& m) { m.Named("b.s16").Icons[0].Header.StartX += 1; },
     {"b.s16 icon 1 header"},
     "b.s16"},
    {"an icon grown, moving the data of the icons after it",
     [](Model& m) {
         SpriteIcon& icon = m.Named("b.s16").Icons[1];
         icon.Header.Width = 3;
         PutLE16(icon.Data, 7);
         PutLE16(icon.Data, 7);
     },
     {"b.s16 icon 2 header data"},
     "b.s16"},
    {"an icon's data grown without another header word",
     [](Model& m) { PutLE16(m.Named("c.s16").Icons[2].Data, 0); },
     {"c.s16 icon 3 data"},
     "c.s16"},
    {"an icon added",
     [](Model& m) { m.Named("c.s16").Icons.push_back(Icon(50)); },
     {"c.s16 count"},
     "c.s16"},
    {"the second member of a repeated name",
     [](Model& m) { m.Named("dup.s16", 2).Icons[2].Data[3] ^= 1; },
     {"dup.s16 (2nd) icon 3 data"},
     "dup.s16 (2nd)"},
    {"bytes after the last icon's data",
     [](Model& m) { m.Named("a.s16").After = {0}; },
     {"a.s16 outside"},
     "a.s16"},
    {"a member that is not a sprite file",
     [](Model& m) { m.Named("raw.bin").After[0] = 'N'; },
     {"raw.bin changed"},
     "raw.bin"},
    {"a member added",
     [](Model& m) {
         m.Members.push_back({"new.s16", {Icon(60)}, {}});
     },
     {"added new.s16"},
     "new.s16"},
    {"a member removed",
     [](Model& m) {
         std::erase_if(m.Members, [](const Member& x) { return x.Name == "gone.s16"; });
     },
     {"removed gone.s16"},
     "gone.s16"},
    {"a member moved to the front",
     [](Model& m) {
         const Member still = m.Named("still.s16");
         std::erase_if(m.Members, [](const Member& x) { return x.Name == "still.s16"; });
         m.Members.insert(m.Members.begin(), still);
     },
     {"moved still.s16"},
     "still.s16"},
    {"the gap before the first member",
     [](Model& m) {
         m.Gap = {1, 2};
     },
     {"gap"},
     ""},
    {"the bytes after the last member", [](Model& m) { m.Tail[1] = 0; }, {"tail"}, ""},
};

} // namespace

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
