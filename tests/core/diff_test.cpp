#include "archive/ArchiveDiff.h"
#include "archive/MemberReplace.h"
#include "archive/ModApply.h"
#include "archive/ModCreate.h"
#include "archive/ModFile.h"
#include "base/SafeFile.h"
#include "base/ZipFile.h"
#include "sprite/IconEncoder.h"
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

// Manifests whose changes have no clear meaning, or numbers no sprite can hold, are refused
// with a reason that names the change; an empty name is a name like any other.
TEST(ModFile, ManifestsWithNoClearMeaningAreRefusedNamingTheChange) {
    const std::string sum = R"({"size":40,"crc32":0})";
    const auto move = [](const std::string& member, const std::string& after) {
        return R"({"change":"move","member":")" + member + R"(","after":{"member":")" + after +
               R"("}})";
    };
    const std::string remove = R"({"change":"remove","member":"a","base":)" + sum + "}";
    const std::string add = R"({"change":"add","member":"n","after":{"member":"a"},"result":)" +
                            sum + R"(,"file":"x"})";
    const std::string icon = R"({"change":"icon","member":"a","icon":2147483647,"base":)" + sum +
                             R"(,"result":)" + sum + R"(,"file":"i","at":0,"length":1})";
    const std::string counted =
        R"({"change":"member","member":"a","base":)" + sum + R"(,"result":)" + sum +
        R"(,"file":"m","icons":{"counts":[1,1],"changed":[[2147483647,"pixels"]]}})";
    const struct {
        std::vector<std::string> Changes;
        std::string Refusal; // empty: accepted
    } cases[] = {
        {{move("a", "a")}, "change 1 moves member a after itself"},
        {{move("a", "b"), move("b", "a")},
         "members a and b are moved each after another of them, in a ring"},
        {{move("c", "a"), move("a", "b"), move("b", "c")},
         "members a, b and c are moved each after another of them, in a ring"},
        {{remove, add}, "change 2 puts n after member a, which this mod removes"},
        {{move("b", "a"), remove}, "change 1 puts b after member a, which this mod removes"},
        {{R"({"change":"add","member":"ABCDEFGHIJKLM","result":)" + sum + R"(,"file":"x"})"},
         "change 1: the new member ABCDEFGHIJKLM has a 13-byte name, which leaves its name "
         "field no NUL"},
        {{R"({"change":"field","member":"ABCDEFGHIJKLM","field":"4142434445464748494a4b4c4d"})"},
         "change 1: \"field\" holds no NUL after the name"},
        {{icon}, "change 1: \"icon\" is out of range"},
        {{counted}, "change 1, \"icons\" is out of range"},
        {{R"({"change":"add","member":"","result":)" + sum + R"(,"file":"x"})"}, ""},
        {{move("a", "b"), move("b", "c")}, ""}, // b's place in the base, wherever b goes
    };
    for (const auto& c : cases) {
        std::string json = R"({"format":"kivmod","version":1,"changes":[)";
        for (std::size_t k = 0; k < c.Changes.size(); ++k)
            json += (k ? "," : "") + c.Changes[k];
        json += "]}";
        SCOPED_TRACE(json);
        std::string refusal;
        try {
            kiv::ParseManifest(json);
        } catch (const kiv::EBadMod& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, c.Refusal);
    }
}

// Random archives with odd names (empty, control bytes, bytes above 127, 13 bytes that leave
// no NUL) edited at random: whatever mod create writes, mod apply applies to the base and gets
// the edited archive; what it would refuse, create refuses and writes nothing.
TEST(ModFile, WhatCreateWritesApplyApplies) {
    ScratchDir dir;
    std::mt19937 random(38);
    const std::vector<std::string> names = {
        "", "a.s16", "\x01\x7f", "\xff\xfe.s16", "ABCDEFGHIJKL", "ABCDEFGHIJKLM", "a.s16"};
    const auto pick = [&] { return names[random() % names.size()]; };
    int made = 0, refused = 0;
    for (int trial = 0; trial < 120; ++trial) {
        SCOPED_TRACE(trial);
        Model base;
        for (int k = static_cast<int>(random() % 5); k >= 0; --k)
            base.Members.push_back({pick(), {Icon(trial + k), Icon(k)}, {}});
        Model edited = base;
        for (int k = static_cast<int>(random() % 4); k >= 0; --k) {
            auto& members = edited.Members;
            const std::size_t at = random() % (members.size() + 1);
            switch (random() % 4) {
            case 0:
                members.insert(members.begin() + static_cast<std::ptrdiff_t>(at),
                               {pick(), {Icon(trial * 7 + k)}, {}});
                break;
            case 1:
                if (at < members.size())
                    members.erase(members.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 2:
                if (at < members.size())
                    std::rotate(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(at),
                                members.end());
                break;
            default:
                if (at < members.size())
                    members[at].Icons[random() % 2].Data[random() % 8] ^= 0x11;
            }
        }
        WriteFile("base.dat", base.Build());
        const Bytes bytes = edited.Build();
        WriteFile("edited.dat", bytes);
        std::remove("edit.kivmod");
        const kiv::ModCreateResult result =
            kiv::CreateMod("base.dat", "edited.dat", "edit.kivmod", {});
        if (!result.Ok) {
            EXPECT_TRUE(result.Same || result.Message.ends_with(
                                           "`mod apply` would refuse it, so no mod was written."))
                << result.Message;
            EXPECT_FALSE(FileExists("edit.kivmod"));
            refused += result.Same ? 0 : 1;
            continue;
        }
        ++made;
        std::vector<std::string> lines;
        EXPECT_EQ(ApplyMods({"edit.kivmod"}, lines), bytes);
        EXPECT_EQ(lines, std::vector<std::string>{});
    }
    EXPECT_GT(made, 60);
    EXPECT_GT(refused, 0); // new members of 13-byte names
}

namespace {

// The examples of docs/mod-format/examples/: for each kind of change, a small base, the
// archive the change makes and the mod between them. KIV_WRITE_MOD_EXAMPLES=1 writes them anew.
struct Example {
    std::string Name;
    std::function<Model(const Model&)> Edit;
    kiv::ModChangeKind Kind; // the one change the mod holds
};

Model ExampleBase() {
    Model model;
    model.Members.push_back({"a.s16", {Icon(1), Icon(2)}, {}});
    model.Members.push_back({"b.s16", {Icon(3)}, {}});
    model.Members.push_back({"c.bin", {}, {'r', 'a', 'w'}, true});
    return model;
}

// One icon of noise large enough that a few changed pixels cost least as their XOR.
Model NoiseBase() {
    Model model;
    SpriteIcon icon{MakeHeader(64, 64, 0, 0, 64, 64, 0, 0), Bytes(2 * 64 * 64)};
    std::mt19937 random(64);
    for (auto& b : icon.Data)
        b = static_cast<std::uint8_t>(random());
    model.Members.push_back({"noise.s16", {icon}, {}});
    return model;
}

const std::vector<Example> kExamples = {
    {"gap",
     [](Model m) {
         m.Gap = {4, 5};
         return m;
     },
     kiv::ModChangeKind::Gap},
    {"tail",
     [](Model m) {
         m.Tail = {8, 8, 8};
         return m;
     },
     kiv::ModChangeKind::Tail},
    {"member",
     [](Model m) {
         m.Named("c.bin").After = {'R', 'A', 'W', '!'};
         return m;
     },
     kiv::ModChangeKind::Member},
    {"icon-pieces", // the top row cut off: the data move, which XOR cannot follow
     [](Model m) {
         SpriteIcon& icon = m.Members[0].Icons[0];
         icon.Header.Height = 63;
         icon.Data.erase(icon.Data.begin(), icon.Data.begin() + 2 * 64);
         return m;
     },
     kiv::ModChangeKind::Icon},
    {"icon-xor",
     [](Model m) {
         for (std::size_t p : {10, 3000, 8000})
             m.Members[0].Icons[0].Data[p] ^= 0x21;
         return m;
     },
     kiv::ModChangeKind::Icon},
    {"add",
     [](Model m) {
         m.Members.insert(m.Members.begin() + 2, {"d.s16", {Icon(4)}, {}});
         return m;
     },
     kiv::ModChangeKind::Add},
    {"remove",
     [](Model m) {
         m.Members.erase(m.Members.begin() + 1);
         return m;
     },
     kiv::ModChangeKind::Remove},
    {"move",
     [](Model m) {
         std::rotate(m.Members.begin(), m.Members.begin() + 2, m.Members.end());
         return m;
     },
     kiv::ModChangeKind::Move},
    {"field", [](Model m) { return m; }, kiv::ModChangeKind::Field},
};

} // namespace

// Every example's mod, applied to its base, gives its new archive byte for byte; made again
// from the two archives, it holds the same change in the same coding.
TEST(ModFile, TheFormatPagesExamplesApplyAsTheySay) {
    const std::filesystem::path examples = KIV_EXAMPLES_DIR;
    const bool write = std::getenv("KIV_WRITE_MOD_EXAMPLES") != nullptr;
    ScratchDir dir;
    std::set<kiv::IconCoding> codings;
    for (const Example& e : kExamples) {
        SCOPED_TRACE(e.Name);
        const std::filesystem::path folder = examples / e.Name;
        const Model base = e.Name.starts_with("icon") ? NoiseBase() : ExampleBase();
        Bytes edited = e.Edit(base).Build();
        if (e.Name == "field")
            edited[8 + 5 + 1] = 'x'; // the byte after the NUL of the first name, "a.s16"
        if (write) {
            std::filesystem::create_directories(folder);
            WriteFile((folder / "base.dat").string(), base.Build());
            WriteFile((folder / "new.dat").string(), edited);
            WriteFile("new.dat", edited);
            WriteFile("base.dat", base.Build());
            ASSERT_TRUE(kiv::CreateMod("base.dat", "new.dat", "mod.kivmod", {e.Name, "", ""}).Ok);
            WriteFile((folder / "mod.kivmod").string(), ReadFile("mod.kivmod"));
        }
        std::filesystem::copy_file(folder / "base.dat", "base.dat",
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(ReadFile((folder / "new.dat").string()), edited);
        std::vector<std::string> lines;
        EXPECT_EQ(ApplyMods({(folder / "mod.kivmod").string()}, lines), edited);
        EXPECT_EQ(lines, std::vector<std::string>{});

        const kiv::ModReader example((folder / "mod.kivmod").string());
        ASSERT_EQ(example.Manifest().Changes.size(), 1u);
        const kiv::ModChange& change = example.Manifest().Changes[0];
        EXPECT_EQ(change.Kind, e.Kind);
        WriteFile("new.dat", edited);
        ASSERT_TRUE(kiv::CreateMod("base.dat", "new.dat", "again.kivmod", {}).Ok);
        const kiv::ModReader again("again.kivmod");
        ASSERT_EQ(again.Manifest().Changes.size(), 1u);
        EXPECT_EQ(again.Manifest().Changes[0].Kind, change.Kind);
        EXPECT_EQ(again.Manifest().Changes[0].Coding, change.Coding);
        if (change.Kind == kiv::ModChangeKind::Icon)
            codings.insert(change.Coding);
    }
    EXPECT_EQ(codings, (std::set<kiv::IconCoding>{kiv::IconCoding::Pieces, kiv::IconCoding::Xor}));
}

#ifndef _WIN32 // a limit on open files
// Out of file descriptors, a mod that exists is not "missing": the system's reason is given.
TEST(ModFile, AModThatCannotBeOpenedSaysWhy) {
    ScratchDir dir;
    WriteFile("base.dat", Base().Build());
    Model edited = Base();
    edited.Tail = {1};
    MakeMod(edited, "m.kivmod");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> held;
    for (int fd; (fd = ::dup(0)) >= 0;)
        held.push_back(fd);
    // The error is looked at only once descriptors are free again: the sanitizers' checks of
    // a call on it need one.
    std::exception_ptr error;
    try {
        kiv::ModReader reader("m.kivmod");
    } catch (...) {
        error = std::current_exception();
    }
    for (int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    std::string message;
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const kiv::EFOpenError& e) {
        message = kiv::ErrorText(e);
    }
    EXPECT_EQ(message, "Cannot open file m.kivmod (Too many open files)");
}
#endif

// Pieces count from 0: a piece compressed against another range of the base (as a writer
// counting from 1 would make piece 0) is refused naming the piece and the bytes it takes.
TEST(ModFile, APieceMadeAgainstOtherBaseBytesIsNamed) {
    ScratchDir dir;
    Bytes base(40000), result(20000);
    for (std::size_t k = 0; k < base.size(); ++k)
        base[k] = static_cast<std::uint8_t>(k * 7 / 3);
    std::copy_n(base.begin() + 100, result.size(), result.begin());
    Bytes stream;
    for (const std::size_t from : {0, 16384}) {
        const std::size_t to = std::min<std::size_t>(from + 16384, result.size());
        z_stream zs{};
        ASSERT_EQ(deflateInit(&zs, 9), Z_OK);
        deflateSetDictionary(&zs, base.data(), 32768); // piece 1's range, for both
        Bytes out(compressBound(static_cast<uLong>(to - from)) + 64);
        zs.next_in = result.data() + from;
        zs.avail_in = static_cast<uInt>(to - from);
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
        out.resize(zs.total_out);
        deflateEnd(&zs);
        stream.insert(stream.end(), out.begin(), out.end());
    }
    {
        kiv::SafeFile out("icons.zip");
        kiv::ZipWriter zip(out);
        zip.Begin("icons.bin", kiv::ZipMethod::Stored);
        zip.Write(stream.data(), stream.size());
        zip.End();
        zip.Finish();
        out.Commit();
    }
    const auto file = kiv::InFile::Open("icons.zip");
    const kiv::ZipReader zip(*file);
    kiv::ZipEntryReader entry(*file, *zip.Find("icons.bin"));
    const kiv::IconBytes baseBytes = [&](std::int64_t from, std::size_t n, unsigned char* into) {
        std::copy_n(base.begin() + from, n, into);
    };
    std::string refusal;
    try {
        kiv::ExpandIcon(baseBytes, std::ssize(base), entry, std::ssize(stream), std::ssize(result),
                        kiv::IconCoding::Pieces, [](const unsigned char*, std::size_t) {});
    } catch (const kiv::EBadMod& e) {
        refusal = e.what();
    }
    EXPECT_EQ(refusal, "piece 0 (its dictionary: base bytes 0 to 16384) was compressed against "
                       "another preset dictionary than these base bytes (pieces count from 0)");
}
