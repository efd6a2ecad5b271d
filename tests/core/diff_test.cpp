#include "archive/ArchiveDiff.h"
#include "archive/ArchiveOps.h"
#include "archive/ModApply.h"
#include "archive/ModCreate.h"
#include "archive/ModFile.h"
#include "sprite/IconEncoder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
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

namespace {

// Writes `edited` and the mod made from base.dat to it.
void MakeMod(const Model& edited, const std::string& mod) {
    WriteFile("edited.dat", edited.Build());
    const kiv::ModCreateResult made = kiv::CreateMod("base.dat", "edited.dat", mod, {});
    ASSERT_TRUE(made.Ok) << made.Message;
}

// Applies mods to base.dat; what they wrote, or nothing, with the plan's lines.
std::optional<Bytes> ApplyMods(const std::vector<std::string>& mods,
                               std::vector<std::string>& lines,
                               const kiv::ModApplyOptions& options = {}) {
    std::remove("out.dat");
    const kiv::ModPlan plan = kiv::PlanMods("base.dat", mods, options);
    lines = plan.Refusals;
    lines.insert(lines.end(), plan.Conflicts.begin(), plan.Conflicts.end());
    if (!plan.Fault.empty())
        lines.push_back(plan.Fault);
    if (!kiv::WriteModded(plan, "out.dat").Ok) {
        EXPECT_FALSE(FileExists("out.dat"));
        return std::nullopt;
    }
    return ReadFile("out.dat");
}

} // namespace

// Every chain of the edits above, then random choices of them in random order with random
// pixels and bytes after a name changed too: the mod made from the base and the edited
// archive, applied to the base, gives the edited archive byte for byte.
TEST(ModFile, ApplyingAModToItsBaseGivesTheEditedArchiveByteForByte) {
    ScratchDir dir;
    const Model base = Base();
    WriteFile("base.dat", base.Build());
    std::mt19937 random(28);
    for (std::size_t trial = 0; trial < kEdits.size() + 40; ++trial) {
        SCOPED_TRACE(trial);
        Model edited = base;
        std::vector<std::size_t> order(kEdits.size());
        std::iota(order.begin(), order.end(), 0);
        std::size_t take = trial + 1;
        if (trial >= kEdits.size()) {
            std::shuffle(order.begin(), order.end(), random);
            take = random() % kEdits.size() + 1;
        }
        for (std::size_t k = 0; k < take; ++k)
            kEdits[order[k]].Apply(edited);
        for (int flips = trial >= kEdits.size() ? random() % 4 : 0; flips > 0; --flips) {
            Member& m = edited.Members[random() % edited.Members.size()];
            if (!m.Icons.empty())
                m.Icons[random() % m.Icons.size()].Data[random() % 8] ^= 1 + random() % 255;
        }
        Bytes bytes = edited.Build();
        if (trial % 3 == 2) // other bytes after the first member's name
            bytes[8 + edited.Members[0].Name.size() + 1] ^= 0x5A;
        WriteFile("edited.dat", bytes);
        ASSERT_TRUE(kiv::CreateMod("base.dat", "edited.dat", "edit.kivmod", {}).Ok);
        std::vector<std::string> lines;
        EXPECT_EQ(ApplyMods({"edit.kivmod"}, lines), bytes);
        EXPECT_EQ(lines, std::vector<std::string>{});
    }
}

// Large noisy icons with a few pixels changed, or grown by rows of noise, are stored as the
// XOR of their base; the mod still gives the edited archive, and refuses damaged XOR bytes.
TEST(ModFile, IconsStoredAsTheirXorWithTheBaseApplyByteForByte) {
    ScratchDir dir;
    std::mt19937 random(5);
    Model base;
    base.Members.push_back({"big.s16", {}, {}});
    for (int k = 0; k < 3; ++k) {
        SpriteIcon icon{MakeHeader(160, 128, 0, 0, 160, 128, 0, k), Bytes(2 * 160 * 128)};
        for (auto& b : icon.Data)
            b = static_cast<std::uint8_t>(random());
        base.Members[0].Icons.push_back(icon);
    }
    WriteFile("base.dat", base.Build());
    Model edited = base;
    for (int p : {0, 7000, 20000, 40959})
        edited.Members[0].Icons[0].Data[static_cast<std::size_t>(p)] ^= 0x21;
    Bytes& grown = edited.Members[0].Icons[2].Data;
    for (int k = 0; k < 2 * 160 * 20; ++k)
        grown.push_back(static_cast<std::uint8_t>(random()));
    MakeMod(edited, "xor.kivmod");
    const kiv::ModReader reader("xor.kivmod");
    ASSERT_EQ(reader.Manifest().Changes.size(), 2u);
    for (const kiv::ModChange& c : reader.Manifest().Changes)
        EXPECT_EQ(c.Coding, kiv::IconCoding::Xor) << c.Icon;
    std::vector<std::string> lines;
    EXPECT_EQ(ApplyMods({"xor.kivmod"}, lines), edited.Build());

    Bytes mod = ReadFile("xor.kivmod");
    mod[39 + reader.Manifest().Changes[0].Length / 2] ^= 0x08; // inside icon 1's stream
    WriteFile("bad.kivmod", mod);
    EXPECT_FALSE(ApplyMods({"bad.kivmod"}, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("bad.kivmod", 0), 0u) << lines[0];
}

// Mods made from the base one at a time, applied together: what the edits give in a chain,
// or the conflicts and refusals listed with nothing written.
TEST(ModFile, ModsCombineIconByIconAndRefuseWhatTheyWereNotMadeFor) {
    ScratchDir dir;
    const Model base = Base();
    WriteFile("base.dat", base.Build());
    const std::map<std::string, std::function<void(Model&)>> edits = {
        {"a2.kivmod", [](Model& m) { m.Named("a.s16").Icons[1].Data[0] ^= 0xFF; }},
        {"same.kivmod", [](Model& m) { m.Named("a.s16").Icons[1].Data[0] ^= 0xFF; }},
        {"other.kivmod", [](Model& m) { m.Named("a.s16").Icons[1].Data[1] ^= 0x0F; }},
        {"a3.kivmod", [](Model& m) { m.Named("a.s16").Icons[2].Header.Aux = 7; }},
        {"count.kivmod", [](Model& m) { m.Named("c.s16").Icons.push_back(Icon(80)); }},
        {"c1.kivmod", [](Model& m) { m.Named("c.s16").Icons[0].Data[2] ^= 3; }},
        {"rm.kivmod",
         [](Model& m) {
             std::erase_if(m.Members, [](const Member& x) { return x.Name == "gone.s16"; });
         }},
        {"gone.kivmod", [](Model& m) { m.Named("gone.s16").Icons[0].Data[0] ^= 1; }},
    };
    for (const auto& [mod, edit] : edits) {
        Model edited = base;
        edit(edited);
        MakeMod(edited, mod);
    }
    // Made from another release, whose b.s16 icon 1 differs.
    Model release = base;
    release.Named("b.s16").Icons[0].Header.StartY = 4;
    WriteFile("base.dat", release.Build());
    Model fromRelease = release;
    fromRelease.Named("b.s16").Icons[0].Data[0] ^= 1;
    MakeMod(fromRelease, "b1.kivmod");
    WriteFile("base.dat", base.Build());

    const kiv::ModApplyOptions last{false, true};
    const kiv::ModApplyOptions skip{true, false};
    const kiv::ModApplyOptions earlier{false, false, true};
    struct Case {
        std::vector<std::string> Mods;
        kiv::ModApplyOptions Options;
        std::vector<std::string> Chain; // the edits whose chain the output equals; empty: none
        std::vector<std::string> Lines;
    };
    const std::vector<Case> cases = {
        {{"a2.kivmod", "a3.kivmod", "count.kivmod"},
         {},
         {"a2.kivmod", "a3.kivmod", "count.kivmod"},
         {}},
        {{"a2.kivmod", "same.kivmod"}, {}, {"a2.kivmod"}, {}},
        {{"a2.kivmod", "other.kivmod"},
         {},
         {},
         {"Conflict over a.s16 icon 2: a2.kivmod and other.kivmod change it differently."}},
        {{"a2.kivmod", "other.kivmod"}, last, {"other.kivmod"}, {}},
        {{"a2.kivmod", "other.kivmod", "a3.kivmod"}, earlier, {"a2.kivmod", "a3.kivmod"}, {}},
        {{"count.kivmod", "c1.kivmod"},
         {},
         {},
         {"Conflict over c.s16: count.kivmod replaces it whole, c1.kivmod changes icon 1."}},
        {{"count.kivmod", "c1.kivmod"}, last, {"c1.kivmod"}, {}},
        {{"count.kivmod", "c1.kivmod"}, earlier, {"count.kivmod"}, {}},
        {{"c1.kivmod", "count.kivmod"}, last, {"count.kivmod"}, {}},
        {{"rm.kivmod", "gone.kivmod"},
         {},
         {},
         {"Conflict over gone.s16: rm.kivmod removes it, gone.kivmod changes icon 1."}},
        {{"b1.kivmod", "a2.kivmod"},
         {},
         {},
         {"b1.kivmod was made for another b.s16: icon 1 differs"}},
        {{"b1.kivmod", "a2.kivmod"}, skip, {"a2.kivmod"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Mods.front() + " + " + c.Mods.back());
        Model chained = base;
        for (const std::string& mod : c.Chain)
            edits.at(mod)(chained);
        std::vector<std::string> lines;
        const std::optional<Bytes> written = ApplyMods(c.Mods, lines, c.Options);
        EXPECT_EQ(lines, c.Lines);
        if (c.Chain.empty())
            EXPECT_FALSE(written);
        else
            EXPECT_EQ(written, chained.Build());
    }
    // What each mod gave, for the summary: a mod skipped whole, or whose only change lost to
    // an earlier one, gave nothing.
    EXPECT_EQ(kiv::PlanMods("base.dat", {"b1.kivmod", "a2.kivmod"}, skip).AppliedFrom,
              (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(
        kiv::PlanMods("base.dat", {"a2.kivmod", "other.kivmod", "a3.kivmod"}, earlier).AppliedFrom,
        (std::vector<std::int64_t>{1, 0, 1}));

    // A mod damaged on the way, or from a newer kivtool: refused with the reason.
    Bytes mod = ReadFile("a2.kivmod");
    mod[40] ^= 0x20; // inside the icons' compressed bytes
    WriteFile("bad.kivmod", mod);
    std::vector<std::string> lines;
    EXPECT_FALSE(ApplyMods({"bad.kivmod"}, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("bad.kivmod", 0), 0u) << lines[0];
}

// Over an existing output, applying a mod of a.s16's icon 2 drops only what the output holds
// beyond it: other icons of a.s16, other members, bytes outside members.
TEST(ModFile, RebuildCheckDropsOnlyWhatTheModDoesNotRewrite) {
    ScratchDir dir;
    const Model base = Base();
    WriteFile("base.dat", base.Build());
    Model edited = base;
    edited.Named("a.s16").Icons[1].Data[0] ^= 0xFF;
    MakeMod(edited, "a2.kivmod");
    const kiv::ModPlan plan = kiv::PlanMods("base.dat", {"a2.kivmod"});
    const struct {
        std::function<void(Model&)> Edit;
        std::vector<std::string> Dropped;
        bool Outside;
    } cases[] = {
        {[](Model&) {}, {}, false},
        {[](Model& m) { m.Named("a.s16").Icons[1].Data[1] ^= 1; }, {}, false},
        {[](Model& m) { m.Named("a.s16").Icons[0].Data[1] ^= 1; }, {"a.s16"}, false},
        {[](Model& m) { m.Named("a.s16").Icons.push_back(Icon(60)); }, {"a.s16"}, false},
        {[](Model& m) { m.Named("dup.s16", 2).Icons[0].Data[0] ^= 1; }, {"dup.s16 (2nd)"}, false},
        {[](Model& m) { m.Tail[0] = 1; }, {}, true},
    };
    for (const auto& c : cases) {
        Model existing = base;
        c.Edit(existing);
        WriteFile("out.dat", existing.Build());
        const kiv::ArchiveRebuildReport report = kiv::ModRebuildCheck(plan, "out.dat");
        EXPECT_TRUE(report.Readable);
        EXPECT_EQ(report.Dropped, c.Dropped);
        EXPECT_EQ(report.OutsideDiffers, c.Outside);
    }
}
