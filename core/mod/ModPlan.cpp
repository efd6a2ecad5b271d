#include "mod/ModApply.h"

#include "base/Checksum.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "mod/IconCoding.h"
#include "mod/ModPlanState.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteDiff.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>
#include <tuple>

namespace kiv {

using namespace modplan;

namespace {

// ---- The base

// "", or why the base cannot take mods: it must be a plain archive, members back to back
// from the first start.
std::string OpenBase(ModPlanState& st) {
    st.Archive.emplace(st.BasePath);
    if (!st.Archive->Opened())
        return WithFault(CannotOpenArchive(st.BasePath),
                         {st.BasePath, false, OpenFault(st.BasePath)});
    // The rebuild copies members whole: none may be damaged.
    std::string fault = st.Archive->Fault();
    if (fault.empty() &&
        (st.FirstStart() < st.DirectoryEnd() || st.FirstStart() > st.Base().Length()))
        fault = "its first member starts outside the file or inside the directory";
    if (!fault.empty())
        return PrintableName(st.BasePath) + " does not look like a sprite archive: " + fault;
    return {};
}

const Layout& LayoutOf(ModPlanState& st, std::int32_t row) {
    auto found = st.Layouts.find(row);
    if (found == st.Layouts.end()) {
        Layout layout;
        layout.Packed = PackedSprite(st.Base(), st.Entry(row).Start, st.Size(row), layout.Count);
        found = st.Layouts.emplace(row, layout).first;
    }
    return found->second;
}

// ---- Messages

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t k = 0; k < items.size(); ++k)
        text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
    return text;
}

std::string IconList(const std::vector<std::int32_t>& icons) {
    std::vector<std::string> numbers;
    for (std::int32_t icon : icons)
        numbers.push_back(std::to_string(icon));
    return (icons.size() == 1 ? "icon " : "icons ") + Join(numbers);
}

// What a chosen change does to its member, for conflict lines.
std::string Doing(const ModPlanState& st, const Chosen& chosen,
                  const std::vector<std::int32_t>& icons = {}) {
    const ModChange& c = st.Change(chosen);
    switch (c.Kind) {
    case ModChangeKind::Member:
        return "replaces it whole";
    case ModChangeKind::Remove:
        return "removes it";
    case ModChangeKind::Icon:
        return "changes " + IconList(icons.empty() ? std::vector<std::int32_t>{c.Icon} : icons);
    case ModChangeKind::Move:
        return c.First ? "moves it to the start" : "moves it after " + MemberLabel(c.After);
    case ModChangeKind::Field:
        return "gives it other bytes after its name";
    default:
        return "changes it";
    }
}

// ---- Planning

class Planner {
public:
    Planner(ModPlanState& st, ModPlan& plan, const ModApplyOptions& options)
        : st_(st), plan_(plan), options_(options) {}

    void Mod(std::size_t m);

private:
    struct Mismatch {
        std::vector<std::int32_t> Icons;
        std::vector<std::string> Reasons;
    };

    // What checking a mod against the base found: the members refused, with why, as the mod
    // names them; the changes left out; each member's icons that stand.
    struct ModCheck {
        std::map<std::int32_t, Mismatch> Rows;
        std::map<std::int32_t, MemberKey> KeyOfRow;
        std::set<const ModChange*> Skipped;
        std::map<std::int32_t, std::vector<PlannedIcon>> Icons;
    };

    std::int32_t RowOf(const MemberKey& key) const { return st_.RowOf(key); }
    // The base row a change is about; 0 for the gap, the tail and new members.
    std::int32_t RowOf(const ModChange& c) const {
        return OfBaseMember(c.Kind) ? RowOf(c.Member) : 0;
    }
    void Check(std::size_t m, ModCheck& check);
    void Merge(std::size_t m, ModCheck& check);
    void CheckIcon(std::size_t m, const ModChange& c, std::int32_t row,
                   std::map<std::int32_t, Mismatch>& rows, std::vector<PlannedIcon>& icons);
    void Conflict(const std::string& text);
    void MergeContent(const Chosen& chosen, std::int32_t row);
    void MergeIcons(std::size_t m, std::int32_t row, const std::vector<PlannedIcon>& icons);
    void MergePlaced(const Chosen& chosen, std::int32_t row, std::optional<Chosen>& slot,
                     bool (*same)(const ModChange&, const ModChange&));
    void MergeAdd(const Chosen& chosen, std::set<std::size_t>& matched);
    void MergeOutside(const Chosen& chosen, std::optional<Chosen>& slot, const char* what);

    // Where a new member goes, and that with its bytes: the new members of earlier mods by
    // these (indices into st_.Adds, in order), so each addition is matched in steps that do
    // not grow with the number of additions.
    using AddPlace = std::tuple<std::string, bool, std::string, std::int32_t>;
    using AddBytes = std::tuple<AddPlace, std::int64_t, std::uint32_t, std::string>;
    static AddPlace PlaceOf(const ModChange& c) {
        return {c.Member.Name, c.First, c.First ? std::string() : c.After.Name,
                c.First ? 0 : c.After.Copy};
    }
    static AddBytes BytesOf(const ModChange& c) {
        return {PlaceOf(c), c.Result.Size, c.Result.Crc, c.NameField};
    }
    void Indexed(std::size_t k) {
        byPlace_[PlaceOf(st_.Change(st_.Adds[k]))].push_back(k);
        byBytes_[BytesOf(st_.Change(st_.Adds[k]))].push_back(k);
    }

    ModPlanState& st_;
    ModPlan& plan_;
    const ModApplyOptions& options_;
    std::map<AddPlace, std::vector<std::size_t>> byPlace_;
    std::map<AddBytes, std::vector<std::size_t>> byBytes_;
    // For the mod being planned: how far each list above has been passed over (its entries
    // before that are this mod's own, or matched by this mod already).
    std::map<AddPlace, std::size_t> placeCursor_;
    std::map<AddBytes, std::size_t> bytesCursor_;
};

void Planner::CheckIcon(std::size_t m, const ModChange& c, std::int32_t row,
                        std::map<std::int32_t, Mismatch>& rows, std::vector<PlannedIcon>& icons) {
    const Layout& layout = LayoutOf(st_, row);
    if (!layout.Packed) {
        rows[row].Reasons.push_back("its icons' data do not lie in icon order, back to back");
        return;
    }
    if (c.Icon > layout.Count) {
        rows[row].Reasons.push_back("it has no icon " + std::to_string(c.Icon));
        return;
    }
    PlannedIcon icon;
    icon.From = {m, &c};
    icon.BaseHeader = StoredHeader(st_.Base(), st_.Entry(row).Start, c.Icon);
    if (IconSum(st_.Base(), st_.Entry(row).Start, layout.Count, icon.BaseHeader) != c.Base) {
        rows[row].Icons.push_back(c.Icon);
        return;
    }
    // The new bytes are inflated once now, so damaged data stop the plan, not the writing.
    std::uint32_t crc = 0;
    std::int64_t done = 0;
    unsigned char head[IconHeaderSize];
    try {
        ExpandPlanned(st_, row, layout.Count, icon, [&](const unsigned char* bytes, std::size_t n) {
            for (std::size_t k = 0; k < n && done + static_cast<std::int64_t>(k) < IconHeaderSize;
                 ++k)
                head[done + static_cast<std::int64_t>(k)] = bytes[k];
            crc = Crc32(bytes, n, crc);
            done += static_cast<std::int64_t>(n);
        });
    } catch (const EBadMod& e) {
        throw EBadMod("the new bytes of " + MemberLabel(c.Member) + " icon " +
                      std::to_string(c.Icon) + ": " + e.what());
    }
    icon.NewHeader = TIconHeader::FromBytes(head);
    if (crc != c.Result.Crc || std::int64_t{icon.NewHeader.Bytes} + IconHeaderSize != c.Result.Size)
        throw EBadMod("the new bytes of " + MemberLabel(c.Member) + " icon " +
                      std::to_string(c.Icon) + " are damaged");
    icons.push_back(icon);
}

void Planner::Conflict(const std::string& text) {
    if (options_.PreferLast)
        plan_.Notes.push_back(text + " The later mod's change is used.");
    else if (options_.SkipConflicting)
        plan_.Notes.push_back(text + " The later mod's change is left out.");
    else
        plan_.Conflicts.push_back(text);
}

void Planner::MergeContent(const Chosen& chosen, std::int32_t row) {
    PlannedMember& pm = st_.Members[row];
    const ModChange& c = st_.Change(chosen);
    const std::string over = "Conflict over " + MemberLabel(c.Member) + ": ";
    const bool removing = c.Kind == ModChangeKind::Remove;
    if (pm.What == PlannedMember::Content::Base) {
        std::vector<std::string> doing;
        if (removing && pm.Move)
            doing.push_back(st_.Label(*pm.Move) + " " + Doing(st_, *pm.Move));
        if (removing && pm.Field)
            doing.push_back(st_.Label(*pm.Field) + " " + Doing(st_, *pm.Field));
        if (!doing.empty()) {
            Conflict(over + Join(doing) + ", " + st_.Label(chosen) + " " + Doing(st_, chosen) +
                     ".");
            if (!options_.PreferLast)
                return;
            pm.Move.reset();
            pm.Field.reset();
        }
    } else {
        // A member changed icon by icon has no whole change to compare with.
        const bool same = pm.What != PlannedMember::Content::Icons &&
                          st_.Change(pm.Whole).Kind == c.Kind &&
                          (removing || st_.Change(pm.Whole).Result == c.Result);
        if (same)
            return;
        std::vector<std::int32_t> icons;
        for (const auto& [icon, planned] : pm.Icons)
            icons.push_back(icon);
        const Chosen earlier =
            pm.What == PlannedMember::Content::Icons ? pm.Icons.begin()->second.From : pm.Whole;
        Conflict(over + st_.Label(earlier) + " " + Doing(st_, earlier, icons) + ", " +
                 st_.Label(chosen) + " " + Doing(st_, chosen) + ".");
        if (!options_.PreferLast)
            return;
    }
    pm.What = removing ? PlannedMember::Content::Removed : PlannedMember::Content::Whole;
    pm.Whole = chosen;
    pm.Icons.clear();
}

void Planner::MergeIcons(std::size_t m, std::int32_t row, const std::vector<PlannedIcon>& icons) {
    PlannedMember& pm = st_.Members[row];
    const ModChange& first = st_.Change(icons.front().From);
    if (pm.What == PlannedMember::Content::Whole || pm.What == PlannedMember::Content::Removed) {
        std::vector<std::int32_t> numbers;
        for (const PlannedIcon& icon : icons)
            numbers.push_back(icon.From.Change->Icon);
        Conflict("Conflict over " + MemberLabel(first.Member) + ": " + st_.Label(pm.Whole) + " " +
                 Doing(st_, pm.Whole) + ", " + st_.Mods[m].Label + " " +
                 Doing(st_, icons.front().From, numbers) + ".");
        if (!options_.PreferLast)
            return;
        pm.What = PlannedMember::Content::Base;
    }
    pm.What = PlannedMember::Content::Icons;
    pm.IconCount = LayoutOf(st_, row).Count;
    for (const PlannedIcon& icon : icons) {
        const ModChange& c = st_.Change(icon.From);
        const auto [at, fresh] = pm.Icons.emplace(c.Icon, icon);
        if (fresh || st_.Change(at->second.From).Result == c.Result)
            continue;
        Conflict("Conflict over " + MemberLabel(c.Member) + " icon " + std::to_string(c.Icon) +
                 ": " + st_.Label(at->second.From) + " and " + st_.Mods[m].Label +
                 " change it differently.");
        if (options_.PreferLast)
            at->second = icon;
    }
}

void Planner::MergePlaced(const Chosen& chosen, std::int32_t row, std::optional<Chosen>& slot,
                          bool (*same)(const ModChange&, const ModChange&)) {
    PlannedMember& pm = st_.Members[row];
    const ModChange& c = st_.Change(chosen);
    if (pm.What == PlannedMember::Content::Removed) {
        Conflict("Conflict over " + MemberLabel(c.Member) + ": " + st_.Label(pm.Whole) +
                 " removes it, " + st_.Label(chosen) + " " + Doing(st_, chosen) + ".");
        if (!options_.PreferLast)
            return;
        pm.What = PlannedMember::Content::Base;
    }
    if (slot && !same(st_.Change(*slot), c)) {
        Conflict("Conflict over " + MemberLabel(c.Member) + ": " + st_.Label(*slot) + " " +
                 Doing(st_, *slot) + ", " + st_.Label(chosen) + " " + Doing(st_, chosen) + ".");
        if (!options_.PreferLast)
            return;
    } else if (slot) {
        return;
    }
    slot = chosen;
}

bool SamePlace(const ModChange& a, const ModChange& b) {
    return a.First == b.First && (a.First || a.After == b.After);
}

bool SameField(const ModChange& a, const ModChange& b) {
    return a.NameField == b.NameField;
}

// A new member another mod adds too at the same place: the same bytes are one change (each
// earlier addition matched once, so a mod adding two members of one name still adds both).
void Planner::MergeAdd(const Chosen& chosen, std::set<std::size_t>& matched) {
    const ModChange& c = st_.Change(chosen);
    // An entry no longer counts once this mod matched it, or when it is this mod's own (a
    // rival replaced by --prefer-last included); one that changed bytes is listed anew.
    const auto open = [&](std::size_t k) {
        return st_.Adds[k].Mod != chosen.Mod && !matched.count(k);
    };
    const AddBytes bytes = BytesOf(c);
    if (const auto same = byBytes_.find(bytes); same != byBytes_.end()) {
        std::size_t& at = bytesCursor_[bytes];
        while (
            at < same->second.size() &&
            (!open(same->second[at]) || BytesOf(st_.Change(st_.Adds[same->second[at]])) != bytes))
            ++at;
        if (at < same->second.size()) {
            matched.insert(same->second[at]);
            return;
        }
    }
    std::optional<std::size_t> rival;
    const AddPlace place = PlaceOf(c);
    if (const auto there = byPlace_.find(place); there != byPlace_.end()) {
        std::size_t& at = placeCursor_[place];
        while (at < there->second.size() && !open(there->second[at]))
            ++at;
        if (at < there->second.size())
            rival = there->second[at];
    }
    if (!rival) {
        st_.Adds.push_back(chosen);
        Indexed(st_.Adds.size() - 1);
        return;
    }
    matched.insert(*rival);
    Conflict("Conflict over the new member " + PrintableName(c.Member.Name) + ": " +
             st_.Label(st_.Adds[*rival]) + " and " + st_.Label(chosen) +
             " add it at the same place with other bytes.");
    if (options_.PreferLast) {
        st_.Adds[*rival] = chosen;
        byBytes_[bytes].push_back(*rival);
    }
}

void Planner::MergeOutside(const Chosen& chosen, std::optional<Chosen>& slot, const char* what) {
    if (slot && st_.Change(*slot).Result != st_.Change(chosen).Result) {
        Conflict(std::string("Conflict over the bytes ") + what + ": " + st_.Label(*slot) +
                 " and " + st_.Label(chosen) + " change them differently.");
        if (!options_.PreferLast)
            return;
    } else if (slot) {
        return;
    }
    slot = chosen;
}

// Every change of mod `m` against the base: what it replaces must be what the mod was made
// from. Refused members are left out whole, so no member is half changed.
void Planner::Check(std::size_t m, ModCheck& check) {
    const LoadedMod& mod = st_.Mods[m];
    const std::string made = mod.Label + " was made for another ";
    std::vector<std::string> others;
    const auto missing = [&](const ModChange& c, const std::string& what) {
        others.push_back(made + PrintableName(st_.BasePath) + ": " + what);
        check.Skipped.insert(&c);
    };
    for (const ModChange& c : mod.Reader->Manifest().Changes) {
        const std::int32_t row = RowOf(c);
        const bool named = OfBaseMember(c.Kind);
        if (named && row == 0) {
            missing(c, "it holds no member " + MemberLabel(c.Member));
            continue;
        }
        if (named)
            check.KeyOfRow[row] = c.Member;
        if (Placed(c.Kind) && !c.First && RowOf(c.After) == 0) {
            missing(c, "it holds no member " + MemberLabel(c.After) + " to put " +
                           MemberLabel(c.Member) + " after");
            continue;
        }
        switch (c.Kind) {
        case ModChangeKind::Gap:
            if (RangeSum(st_.Base(), st_.DirectoryEnd(), st_.FirstStart()) != c.Base)
                missing(c, "the bytes before its first member differ");
            break;
        case ModChangeKind::Tail:
            if (RangeSum(st_.Base(), st_.MembersEnd(), st_.Base().Length()) != c.Base)
                missing(c, "the bytes after its last member differ");
            break;
        case ModChangeKind::Member:
        case ModChangeKind::Remove:
            if (RangeSum(st_.Base(), st_.Entry(row).Start, st_.Entry(row).Finish) != c.Base)
                check.Rows[row].Reasons.push_back("its bytes differ");
            break;
        case ModChangeKind::Icon:
            CheckIcon(m, c, row, check.Rows, check.Icons[row]);
            break;
        default:
            break;
        }
    }
    for (auto& [row, mismatch] : check.Rows) {
        std::vector<std::string> reasons = mismatch.Reasons;
        const auto& list = mismatch.Icons;
        if (!list.empty())
            reasons.push_back(IconList(list) + (list.size() == 1 ? " differs" : " differ"));
        others.push_back(made + MemberLabel(check.KeyOfRow.at(row)) + ": " + Join(reasons));
    }
    for (const std::string& line : others) {
        if (options_.SkipMismatched)
            plan_.Notes.push_back("Skipped: " + line + ".");
        else
            plan_.Refusals.push_back(line);
    }
}

// The changes of mod `m` that stand, into the plan.
void Planner::Merge(std::size_t m, ModCheck& check) {
    std::set<std::size_t> matched; // earlier mods' new members this one adds too
    for (const ModChange& c : st_.Mods[m].Reader->Manifest().Changes) {
        const std::int32_t row = RowOf(c);
        if (check.Skipped.count(&c) || (row > 0 && check.Rows.count(row)))
            continue;
        const Chosen chosen{m, &c};
        switch (c.Kind) {
        case ModChangeKind::Gap:
            MergeOutside(chosen, st_.Gap, "before the first member");
            break;
        case ModChangeKind::Tail:
            MergeOutside(chosen, st_.Tail, "after the last member");
            break;
        case ModChangeKind::Member:
        case ModChangeKind::Remove:
            MergeContent(chosen, row);
            break;
        case ModChangeKind::Icon:
            // All icons of the member at once, at its first icon change.
            if (const auto found = check.Icons.find(row);
                found != check.Icons.end() && !found->second.empty()) {
                MergeIcons(m, row, found->second);
                check.Icons.erase(found);
            }
            break;
        case ModChangeKind::Move:
            MergePlaced(chosen, row, st_.Members[row].Move, SamePlace);
            break;
        case ModChangeKind::Field:
            MergePlaced(chosen, row, st_.Members[row].Field, SameField);
            break;
        case ModChangeKind::Add:
            MergeAdd(chosen, matched);
            break;
        }
    }
}

void Planner::Mod(std::size_t m) {
    placeCursor_.clear();
    bytesCursor_.clear();
    ModCheck check;
    Check(m, check);
    Merge(m, check);
}

// What goes in, and how large the new archive is.
void Tally(const ModPlanState& st, ModPlan& plan) {
    plan.AppliedFrom.assign(st.Mods.size(), 0);
    const auto applied = [&](const Chosen& chosen) {
        ++plan.Applied;
        ++plan.AppliedFrom[chosen.Mod];
    };
    std::int64_t count = st.Rows();
    std::int64_t size = st.Base().Length();
    const auto resized = [&](std::int64_t from, std::int64_t to) { size += to - from; };
    if (st.Gap) {
        applied(*st.Gap);
        resized(st.FirstStart() - st.DirectoryEnd(), st.Change(*st.Gap).Result.Size);
    }
    if (st.Tail) {
        applied(*st.Tail);
        resized(st.Base().Length() - st.MembersEnd(), st.Change(*st.Tail).Result.Size);
    }
    for (const auto& [row, pm] : st.Members) {
        if (pm.What == PlannedMember::Content::Icons)
            for (const auto& [icon, planned] : pm.Icons)
                applied(planned.From);
        else if (pm.What != PlannedMember::Content::Base)
            applied(pm.Whole);
        for (const std::optional<Chosen>& placed : {pm.Move, pm.Field})
            if (placed)
                applied(*placed);
        resized(st.Size(row), NewSize(st, row, pm));
        if (pm.What == PlannedMember::Content::Removed) {
            --count;
            size -= ArchiveEntrySize;
        }
        const bool iconsOnly = pm.What == PlannedMember::Content::Icons && !pm.Move && !pm.Field;
        if (iconsOnly) {
            for (const auto& [icon, planned] : pm.Icons)
                plan.RewrittenIcons[row].push_back(icon);
        } else if (pm.What != PlannedMember::Content::Base || pm.Move || pm.Field) {
            plan.RewrittenRows.push_back(row);
        }
    }
    for (const Chosen& add : st.Adds) {
        applied(add);
        ++count;
        size += ArchiveEntrySize + st.Change(add).Result.Size;
    }
    plan.OutputSize = size;
    if (size > 0xFFFFFFFFLL || count > std::numeric_limits<std::int32_t>::max())
        plan.Result = ModResult::Failure(
            "The new archive would be larger than its 32-bit offsets can address.");
}

} // namespace

ModPlan PlanMods(const std::string& basePath, const std::vector<std::string>& modPaths,
                 const ModApplyOptions& options) {
    ModPlan plan;
    auto st = std::make_shared<ModPlanState>();
    st->BasePath = basePath;
    try {
        if (std::string fault = OpenBase(*st); !fault.empty()) {
            plan.Result = ModResult::Failure(std::move(fault));
            return plan;
        }
        for (const std::string& path : modPaths) {
            std::unique_ptr<ModReader> reader;
            if (plan.Result = OpenMod(path, reader); !plan.Result.Ok)
                return plan;
            st->Mods.push_back({std::move(reader), PrintableName(path)});
        }
        Planner planner(*st, plan, options);
        for (std::size_t m = 0; m < st->Mods.size(); ++m) {
            try {
                planner.Mod(m);
            } catch (const EBadMod& e) {
                plan.Result =
                    ModResult::Failure(st->Mods[m].Label + " is damaged: " + e.what() + ".");
                return plan;
            } catch (const EBadZip& e) {
                plan.Result =
                    ModResult::Failure(st->Mods[m].Label + " is damaged: " + e.what() + ".");
                return plan;
            }
        }
    } catch (const EBadMod& e) {
        plan.Result = ModResult::Failure(e.what());
        return plan;
    } catch (const EReadError&) {
        plan.Result = ModResult::Failure(ReadFailure(*st));
        return plan;
    }

    Tally(*st, plan);
    plan.State = std::move(st);
    return plan;
}

} // namespace kiv
