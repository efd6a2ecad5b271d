#pragma once
// A small archive model for the comparison and mod suites: members of sprite icons, a gap
// and a tail, and single edits each with what a comparison lists for it.

#include "archive/ArchiveDiff.h"
#include "support/TestFiles.h"

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivtest {

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

inline SpriteIcon Icon(int seed) {
    SpriteIcon icon;
    icon.Header = MakeHeader(2, 2, seed % 3, 1, 6, 5, 0, seed);
    for (int p = 0; p < 4; ++p)
        PutLE16(icon.Data, static_cast<std::uint16_t>(seed * 97 + p));
    return icon;
}

inline Model Base() {
    Model model;
    int seed = 0;
    for (const char* name : {"a.s16", "b.s16", "dup.s16", "gone.s16", "dup.s16", "c.s16"})
        model.Members.push_back({name, {Icon(++seed), Icon(++seed), Icon(++seed)}, {}});
    model.Members.push_back({"still.s16", {Icon(++seed)}, {}});
    model.Members.push_back({"raw.bin", {}, {'n', 'o', 't'}, true});
    return model;
}

// The listing as one line per difference, to compare with what the edits say they did.
inline std::set<std::string> Listed(const kiv::ArchiveDiff& diff) {
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

inline const std::vector<Edit> kEdits = {
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

} // namespace kivtest
