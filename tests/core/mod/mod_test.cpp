#include "base/Checksum.h"
#include "base/SafeFile.h"
#include "base/Zlib.h"
#include "mod/IconCoding.h"
#include "mod/ModApply.h"
#include "mod/ModCreate.h"
#include "mod/ModReader.h"
#include "mod/ZipFile.h"
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

#include <zlib.h>

using namespace kivtest;

namespace {

// Writes `edited` and the mod made from base.dat to it.
void MakeMod(const Model& edited, const std::string& mod) {
    WriteFile("edited.dat", edited.Build());
    const kiv::ModCreated made = kiv::CreateMod("base.dat", "edited.dat", mod, {});
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
    if (!plan.Result.Ok)
        lines.push_back(plan.Result.Message);
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
    const auto iconAt = [&](int number, int at) {
        return R"({"change":"icon","member":"a","icon":)" + std::to_string(number) + R"(,"base":)" +
               sum + R"(,"result":)" + sum + R"(,"file":"i","at":)" + std::to_string(at) +
               R"(,"length":1})";
    };
    const auto member = [&](const std::string& icons) {
        return R"({"change":"member","member":"a","base":)" + sum + R"(,"result":)" + sum +
               R"(,"file":"m","icons":)" + icons + "}";
    };
    const std::string gap =
        R"({"change":"gap","base":)" + sum + R"(,"result":)" + sum + R"(,"file":"g"})";
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
        {{R"({"change":"swap"})"}, "change 1: unknown change \"swap\""},
        {{R"({"change":"remove"})"}, "change 1: \"member\" is missing"},
        {{R"({"change":"remove","member":"\u0100"})"},
         "change 1: a name holds a character above U+00FF"},
        {{R"({"change":"remove","member":"a\u0000"})"}, "change 1: a name holds a NUL"},
        {{R"({"change":"remove","member":"ABCDEFGHIJKLMN"})"},
         "change 1: a member name is longer than 13 bytes"},
        {{R"({"change":"remove","member":"a","copy":0})"}, "change 1: \"copy\" is out of range"},
        {{R"({"change":"remove","member":"a","base":5})"}, "change 1, \"base\" is not an object"},
        {{R"({"change":"remove","member":"a","base":{"size":1,"crc32":"x"}})"},
         "change 1, \"base\": \"crc32\" is not a whole number"},
        {{R"({"change":"remove","member":"a","base":{"size":18446744073709551615}})"},
         "change 1, \"base\": \"size\" is out of range"},
        {{R"({"change":"field","member":"a"})"}, "change 1: \"field\" is missing"},
        {{R"({"change":"field","member":"a","field":"00"})"},
         "change 1: \"field\" does not hold 13 bytes"},
        {{R"({"change":"field","member":"a","field":")" + std::string(26, 'z') + "\"}"},
         "change 1: \"field\" is not hexadecimal"},
        {{R"({"change":"field","member":"a","field":"62)" + std::string(24, '0') + "\"}"},
         "change 1: \"field\" holds another name"},
        {{R"({"change":"move","member":"a","after":5})"}, "change 1: \"after\" is not an object"},
        {{R"({"change":"move","member":"a","rows":[1]})"}, "change 1: \"rows\" is not two numbers"},
        {{R"({"change":"icon","member":"a","icon":1,"base":)" + sum + R"(,"result":)" + sum +
          R"(,"file":"i","at":0,"length":1,"coding":"pieces"})"},
         "change 1: unknown \"coding\""},
        {{R"({"change":"icon","member":"a","icon":1,"base":{"size":39,"crc32":0},"result":)" + sum +
          R"(,"file":"i","at":0,"length":1})"},
         "change 1: an icon is at least its 40-byte header"},
        {{member("5")}, "change 1, \"icons\" is not an object"},
        {{member(R"({"counts":[1]})")}, "change 1, \"icons\": \"counts\" is not two numbers"},
        {{member(R"({"counts":[1,1],"changed":5})")},
         "change 1, \"icons\": \"changed\" is not a list"},
        {{member(R"({"counts":[1,1],"changed":[[1]]})")},
         "change 1, \"icons\": \"changed\" holds something other than [icon, part]"},
        {{member(R"({"counts":[1,1],"changed":[],"outside":"yes"})")},
         "change 1, \"icons\": \"outside\" is not true or false"},
        {{member(R"({"counts":[1,1],"changed":[],"faults":[""]})")},
         "change 1, \"icons\": \"faults\" is not two texts"},
        {{gap, gap}, "change 2 changes the gap a second time"},
        {{member("{\"counts\":[1,1],\"changed\":[]}"), iconAt(1, 0)},
         "change 2 changes member a a second time"},
        {{move("a", "b"), move("a", "c")}, "change 2 changes member a a second time"},
        {{iconAt(2, 0), iconAt(1, 1)},
         "change 2: the icons of member a are not in order, one stream after another"},
        {{remove, move("a", "b")}, "member a is removed, yet changed otherwise too"},
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
    const std::string head = R"({"format":"kivmod","version":1,)";
    const std::pair<std::string, std::string> manifests[] = {
        {"[[[[[[[[1]]]]]]]]", "the manifest is nested deeper than a manifest is"},
        {"{", "the manifest is not valid JSON ("},
        {"[]", "the manifest is not a JSON object"},
        {"{}", "the manifest: \"format\" is missing"},
        {R"({"format":"other"})", "the manifest is not a mod's"},
        {R"({"format":"kivmod"})", "the manifest: \"version\" is missing"},
        {R"({"format":"kivmod","version":"1"})", "the manifest: \"version\" is not a whole number"},
        {R"({"format":"kivmod","version":0})", "the manifest: \"version\" is out of range"},
        {R"({"format":"kivmod","version":2})",
         "the mod has format version 2; this kivtool reads version 1: a newer kivtool made it"},
        {head + R"("title":5})", "the manifest: \"title\" is not a text"},
        {head + R"("base":{"size":-1,"members":0}})",
         "the manifest, \"base\": \"size\" is out of range"},
        {head + "\"note\":\"\"}", "the manifest: \"changes\" is missing"},
        {head + R"("changes":{}})", "the manifest: \"changes\" is not a list"},
        {head + R"("changes":[1]})", "change 1 is not an object"},
    };
    for (const auto& [json, refusal] : manifests) {
        SCOPED_TRACE(json);
        try {
            kiv::ParseManifest(json);
            ADD_FAILURE() << "accepted";
        } catch (const kiv::EBadMod& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(refusal)) << e.what();
        }
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
        const kiv::ModCreated result = kiv::CreateMod("base.dat", "edited.dat", "edit.kivmod", {});
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

// A zip file of a stored entry "s" and a deflated one "d", each way a stranger's file can be
// wrong: the reader or the reading of an entry refuses it, saying how.
TEST(ZipFile, HostileFilesAreRefusedSayingWhy) {
    ScratchDir dir;
    Bytes data(3000);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(k * k % 251);
    {
        kiv::SafeFile out("good.zip");
        kiv::ZipWriter zip(out);
        zip.Begin("s", kiv::ZipMethod::Stored);
        zip.Write("hello", 5);
        zip.End();
        zip.Begin("d", kiv::ZipMethod::Deflated);
        zip.Write(data.data(), data.size());
        zip.End();
        zip.Finish();
        out.Commit();
    }
    const Bytes good = ReadFile("good.zip");
    const auto word = [](Bytes& b, std::size_t at, std::uint32_t v, int size = 4) {
        for (int k = 0; k < size; ++k)
            b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    const std::size_t end = good.size() - 22;
    const auto cen = static_cast<std::size_t>(GetLE32(good, end + 16));
    const std::size_t cen2 = cen + 47, local2 = 36, data2 = local2 + 31;
    const auto packed = static_cast<std::uint32_t>(GetLE32(good, cen2 + 20));
    using Edit = std::function<void(Bytes&)>;
    const std::pair<Edit, std::string> cases[] = {
        {[](Bytes& b) { b.resize(10); }, "the file is too short to be a zip file"},
        {[&](Bytes& b) { b[end] = 0; }, "no end of central directory record: not a zip file"},
        {[&](Bytes& b) { word(b, end + 4, 1, 2); }, "the zip file is split into parts"},
        {[&](Bytes& b) { word(b, end + 8, 0xFFFFFFFF); },
         "the zip file uses zip64, which is not read here"},
        {[&](Bytes& b) { word(b, end + 16, 0x7FFFFFFF); },
         "the central directory lies outside the file"},
        {[&](Bytes& b) {
             b.insert(b.begin(), 17 << 20, 0);
             word(b, b.size() - 22 + 12, (16 << 20) + 1);
             word(b, b.size() - 22 + 16, 0);
         },
         "the central directory is larger than 16 MiB"},
        {[&](Bytes& b) { b[cen] = 0; }, "the central directory ends before entry 1"},
        {[&](Bytes& b) { word(b, cen2 + 28, 0xFFFF, 2); },
         "the central directory ends inside entry 2"},
        {[&](Bytes& b) { word(b, cen + 8, 1, 2); }, "entry 1 is encrypted"},
        {[&](Bytes& b) { word(b, cen + 10, 12, 2); },
         "entry 1 uses compression method 12; only stored and deflated entries are read"},
        {[&](Bytes& b) { word(b, cen + 34, 1, 2); }, "entry 1 uses zip64, which is not read here"},
        {[&](Bytes& b) { word(b, cen + 24, 6); }, "entry 1 is stored, yet its two sizes differ"},
        {[](Bytes& b) { b[0] = 0; }, "the local header of entry 1 is missing"},
        {[](Bytes& b) { b[30] = 'x'; }, "the local header of entry 1 names another entry"},
        {[&](Bytes& b) { word(b, cen2 + 20, packed + 1); },
         "the data of entry 2 run into the central directory"},
        {[&](Bytes& b) { b[cen2 + 46] = b[local2 + 30] = 's'; }, "two entries are named alike"},
        {[&](Bytes& b) { word(b, cen2 + 24, 3001); }, "entry d is shorter than its size says"},
        {[&](Bytes& b) { word(b, cen2 + 24, 2999); }, "entry d is longer than its size says"},
        {[&](Bytes& b) { word(b, cen2 + 20, packed - 1); }, "entry d ends early"},
        {[&](Bytes& b) { b[data2] = 0xFF; }, "entry d holds damaged compressed data"},
        {[&](Bytes& b) { b[cen2 + 16] ^= 1; }, "entry d is damaged: its checksum does not match"},
        {[](Bytes&) {}, ""},
    };
    for (const auto& [edit, refusal] : cases) {
        SCOPED_TRACE(refusal);
        Bytes bytes = good;
        edit(bytes);
        WriteFile("t.zip", bytes);
        const auto file = kiv::InFile::Open("t.zip");
        std::string said;
        try {
            const kiv::ZipReader zip(*file);
            for (const kiv::ZipEntry& entry : zip.Entries()) {
                kiv::ZipEntryReader reader(*file, entry);
                std::vector<unsigned char> read(static_cast<std::size_t>(entry.Size));
                reader.ReadExactly(read.data(), read.size());
            }
        } catch (const kiv::EBadZip& e) {
            said = e.what();
        }
        EXPECT_EQ(said, refusal);
    }
}

// A zip file that is not a mod, or a mod whose entries do not hold what its changes say.
TEST(ModFile, ModsWhoseEntriesDisagreeWithTheManifestAreRefused) {
    ScratchDir dir;
    const std::string change =
        R"({"format":"kivmod","version":1,"changes":[{"change":"member","member":"a",)"
        R"("base":{"size":1,"crc32":0},"result":{"size":1,"crc32":0},"file":"m"}]})";
    const struct {
        std::vector<std::pair<std::string, std::string>> Entries;
        std::string Refusal;
    } cases[] = {
        {{{"other", "x"}}, "it holds no kivmod.json: not a mod file"},
        {{{"kivmod.json", std::string((8 << 20) + 1, ' ')}}, "its manifest is larger than 8 MiB"},
        {{{"kivmod.json", change}}, "change 1 names an entry the file does not hold"},
        {{{"kivmod.json", change}, {"m", "xy"}},
         "change 1: its entry does not hold what the change says"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Refusal);
        {
            kiv::SafeFile out("t.kivmod");
            kiv::ZipWriter zip(out);
            for (const auto& [name, bytes] : c.Entries) {
                zip.Begin(name, kiv::ZipMethod::Stored);
                zip.Write(bytes.data(), bytes.size());
                zip.End();
            }
            zip.Finish();
            out.Commit();
        }
        std::unique_ptr<kiv::ModReader> reader;
        EXPECT_EQ(kiv::OpenMod("t.kivmod", reader).Message,
                  "t.kivmod is not a usable mod file: " + c.Refusal);
    }
}

// Whole streams, in either format and fed in pieces, are told apart from cut, damaged,
// oversized and overlong ones; the checksums carry on from a running value.
TEST(Zlib, WholeStreamsAreToldFromBrokenOnes) {
    Bytes data(5000);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<std::uint8_t>(k * 31 % 7 + k / 100);
    const Bytes packed = kiv::Deflate(data.data(), data.size());
    using R = kiv::InflateResult;
    const auto inflate = [&](Bytes in, std::size_t limit, kiv::ZlibFormat format) {
        Bytes out;
        const R result = kiv::InflateWhole(in.data(), in.size(), out, limit, format);
        EXPECT_TRUE(result != R::Ok || out == data);
        return result;
    };
    const auto z = kiv::ZlibFormat::Zlib;
    EXPECT_EQ(inflate(packed, data.size(), z), R::Ok);
    EXPECT_EQ(inflate(Bytes(packed.begin(), packed.end() - 4), data.size(), z), R::Truncated);
    Bytes damaged = packed;
    damaged.back() ^= 1;
    EXPECT_EQ(inflate(damaged, data.size(), z), R::Damaged);
    EXPECT_EQ(inflate(packed, data.size() - 1, z), R::TooLarge);
    Bytes longer = packed;
    longer.push_back(0);
    EXPECT_EQ(inflate(longer, data.size(), z), R::TrailingBytes);
    const Bytes raw =
        kiv::Deflate(data.data(), data.size(), {kiv::ZlibFormat::Raw, kiv::ZlibDefaultLevel});
    EXPECT_EQ(inflate(raw, data.size(), kiv::ZlibFormat::Raw), R::Ok);
    EXPECT_EQ(inflate(raw, data.size(), z), R::Damaged);

    kiv::Inflater pieces;
    Bytes out;
    kiv::InflateStatus status = kiv::InflateStatus::Ok;
    for (std::size_t at = 0; at < packed.size(); at += 7)
        status = pieces.Feed(packed.data() + at, std::min<std::size_t>(7, packed.size() - at), out,
                             data.size());
    EXPECT_EQ(status, kiv::InflateStatus::End);
    EXPECT_EQ(out, data);

    EXPECT_EQ(kiv::Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(kiv::Crc32("6789", 4, kiv::Crc32("12345", 5)), 0xCBF43926u);
    EXPECT_EQ(kiv::Adler32("Wikipedia", 9), 0x11E60398u);
    EXPECT_EQ(kiv::Adler32("pedia", 5, kiv::Adler32("Wiki", 4)), 0x11E60398u);
}
