#include "archive/ModApply.h"

#include "archive/ModFile.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteDiff.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <set>
#include <tuple>

namespace kiv {

namespace {

using NameField = std::array<unsigned char, ArchiveNameSize>;
using Edit = MemberSource::Edit;

// Headers are read and written in blocks of this many (160 KiB).
constexpr std::int32_t kHeadersPerBlock = 4096;
constexpr std::size_t kCopyBlock = 256 << 10;

struct LoadedMod {
    std::unique_ptr<ModReader> Reader;
    std::string Label; // the path as given, as messages name the mod
};

// A change chosen for the new archive, and the mod it comes from.
struct Chosen {
    std::size_t Mod = 0;
    const ModChange* Change = nullptr;
};

struct PlannedIcon {
    Chosen From;
    TIconHeader BaseHeader; // as the base stores it
    TIconHeader NewHeader;  // the first 40 of its new bytes
};

struct PlannedMember {
    enum class Content { Base, Whole, Removed, Icons };
    Content What = Content::Base;
    Chosen Whole;                              // Whole, Removed
    std::map<std::int32_t, PlannedIcon> Icons; // Icons, by icon number
    std::optional<Chosen> Move;
    std::optional<Chosen> Field;
    std::int32_t IconCount = 0; // Icons: the base member's
};

// The base's layout for icon changes: whether the member has the re-encoder's layout.
struct Layout {
    bool Packed = false;
    std::int32_t Count = 0;
};

} // namespace

struct ModPlanState {
    std::string BasePath;
    std::unique_ptr<InFile> Base;
    ArchiveListing Listing;
    std::vector<NameField> Fields;
    std::int64_t FirstStart = 0;
    std::vector<LoadedMod> Mods;
    std::map<std::int32_t, PlannedMember> Members;
    std::vector<Chosen> Adds; // in the order they are placed at one anchor
    std::optional<Chosen> Gap;
    std::optional<Chosen> Tail;
    std::map<std::int32_t, Layout> Layouts;

    std::int32_t Rows() const { return static_cast<std::int32_t>(Listing.Entries.size()); }
    std::int64_t DirectoryEnd() const { return 8 + std::int64_t{ArchiveEntrySize} * Rows(); }
    const TArchiveEntry& Entry(std::int32_t row) const {
        return Listing.Entries[static_cast<std::size_t>(row - 1)];
    }
    std::int64_t Size(std::int32_t row) const {
        return std::int64_t{Entry(row).Finish} - Entry(row).Start;
    }
    std::int64_t MembersEnd() const { return Rows() > 0 ? Entry(Rows()).Finish : FirstStart; }
    const ModChange& Change(const Chosen& chosen) const { return *chosen.Change; }
    const ModReader& Reader(const Chosen& chosen) const { return *Mods[chosen.Mod].Reader; }
    const std::string& Label(const Chosen& chosen) const { return Mods[chosen.Mod].Label; }
};

namespace {

std::string ReadFailure(const ModPlanState& st) {
    return CannotReadArchive(st.BasePath);
}

// ---- The base

// "", or why the base cannot take mods: it must be a plain archive, members back to back
// from the first start.
std::string OpenBase(ModPlanState& st) {
    st.Base = InFile::Open(st.BasePath);
    if (!st.Base)
        return WithFault(CannotOpenArchive(st.BasePath),
                         {st.BasePath, false, OpenFault(st.BasePath)});
    st.Listing = ListArchive(st.BasePath);
    std::string fault =
        st.Listing.Opened ? ArchiveFault(st.Listing) : std::string("it did not open");
    if (fault.empty())
        fault = FirstDamagedMember(st.Listing); // the rebuild copies members whole
    StoredDirectory directory;
    if (fault.empty()) {
        if (!ReadStoredDirectory(*st.Base, st.Listing, directory))
            return ReadFailure(st);
        st.FirstStart = directory.FirstStart;
        if (st.FirstStart < st.DirectoryEnd() || st.FirstStart > st.Base->Length())
            fault = "its first member starts outside the file or inside the directory";
    }
    if (!fault.empty())
        return PrintableName(st.BasePath) + " does not look like a sprite archive: " + fault;
    st.Fields = std::move(directory.Fields);
    return {};
}

std::map<MemberKey, std::int32_t> KeysOf(const ModPlanState& st) {
    std::map<MemberKey, std::int32_t> rows;
    std::map<std::string, std::int32_t> named;
    for (std::int32_t r = 1; r <= st.Rows(); ++r) {
        MemberKey key;
        key.Name = st.Entry(r).Name;
        key.Copy = ++named[key.Name];
        rows[key] = r;
    }
    return rows;
}

ByteSum SumOfRange(const ModPlanState& st, std::int64_t from, std::int64_t to) {
    std::uint32_t crc = 0;
    if (!Crc32Of(*st.Base, from, to - from, crc))
        throw EReadError();
    return {to - from, crc};
}

const Layout& LayoutOf(ModPlanState& st, std::int32_t row) {
    auto found = st.Layouts.find(row);
    if (found == st.Layouts.end()) {
        Layout layout;
        layout.Packed = PackedSprite(*st.Base, st.Entry(row).Start, st.Size(row), layout.Count);
        found = st.Layouts.emplace(row, layout).first;
    }
    return found->second;
}

// Inflates a planned icon's new bytes against its base icon and hands them to `emit`.
void ExpandPlanned(const ModPlanState& st, std::int32_t row, std::int32_t count,
                   const PlannedIcon& icon,
                   const std::function<void(const unsigned char*, std::size_t)>& emit) {
    const ModChange& c = st.Change(icon.From);
    const ModReader& reader = st.Reader(icon.From);
    ZipEntryReader stream(reader.File(), reader.Entry(c.File));
    stream.Skip(c.At);
    ExpandIcon(IconOf(*st.Base, st.Entry(row).Start, count, icon.BaseHeader), c.Base.Size, stream,
               c.Length, c.Result.Size, c.Coding, emit);
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
        : st_(st), plan_(plan), options_(options), keys_(KeysOf(st)) {}

    void Mod(std::size_t m);

private:
    struct Mismatch {
        std::vector<std::int32_t> Icons;
        std::vector<std::string> Reasons;
    };

    std::int32_t RowOf(const MemberKey& key) const {
        const auto found = keys_.find(key);
        return found == keys_.end() ? 0 : found->second;
    }
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
    std::map<MemberKey, std::int32_t> keys_;
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
    icon.BaseHeader = StoredHeader(*st_.Base, st_.Entry(row).Start, c.Icon);
    if (IconSum(*st_.Base, st_.Entry(row).Start, layout.Count, icon.BaseHeader) != c.Base) {
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
            crc = static_cast<std::uint32_t>(crc32_z(crc, bytes, n));
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

void Planner::Mod(std::size_t m) {
    const LoadedMod& mod = st_.Mods[m];
    const std::vector<ModChange>& changes = mod.Reader->Manifest().Changes;
    const std::string made = mod.Label + " was made for another ";

    // First every change against the base: what it replaces must be what the mod was made
    // from. Refused members are left out whole, so no member is half changed.
    std::map<std::int32_t, Mismatch> rows;
    std::map<std::int32_t, MemberKey> keyOfRow; // as the mod names each member it changes
    placeCursor_.clear();
    bytesCursor_.clear();
    std::vector<std::string> others;
    std::set<const ModChange*> skipped;
    std::map<std::int32_t, std::vector<PlannedIcon>> icons;
    const auto missing = [&](const ModChange& c, const std::string& what) {
        others.push_back(made + PrintableName(st_.BasePath) + ": " + what);
        skipped.insert(&c);
    };
    // The base row a change is about; 0 for the gap, the tail and new members.
    const auto rowOf = [&](const ModChange& c) {
        const bool named = c.Kind != ModChangeKind::Gap && c.Kind != ModChangeKind::Tail &&
                           c.Kind != ModChangeKind::Add;
        return named ? RowOf(c.Member) : 0;
    };
    for (const ModChange& c : changes) {
        const std::int32_t row = rowOf(c);
        const bool named = c.Kind != ModChangeKind::Gap && c.Kind != ModChangeKind::Tail &&
                           c.Kind != ModChangeKind::Add;
        if (named && row == 0) {
            missing(c, "it holds no member " + MemberLabel(c.Member));
            continue;
        }
        if (named)
            keyOfRow[row] = c.Member;
        const bool placed = c.Kind == ModChangeKind::Add || c.Kind == ModChangeKind::Move;
        if (placed && !c.First && RowOf(c.After) == 0) {
            missing(c, "it holds no member " + MemberLabel(c.After) + " to put " +
                           MemberLabel(c.Member) + " after");
            continue;
        }
        switch (c.Kind) {
        case ModChangeKind::Gap:
            if (SumOfRange(st_, st_.DirectoryEnd(), st_.FirstStart) != c.Base)
                missing(c, "the bytes before its first member differ");
            break;
        case ModChangeKind::Tail:
            if (SumOfRange(st_, st_.MembersEnd(), st_.Base->Length()) != c.Base)
                missing(c, "the bytes after its last member differ");
            break;
        case ModChangeKind::Member:
        case ModChangeKind::Remove:
            if (SumOfRange(st_, st_.Entry(row).Start, st_.Entry(row).Finish) != c.Base)
                rows[row].Reasons.push_back("its bytes differ");
            break;
        case ModChangeKind::Icon:
            CheckIcon(m, c, row, rows, icons[row]);
            break;
        default:
            break;
        }
    }
    for (auto& [row, mismatch] : rows) {
        std::vector<std::string> reasons = mismatch.Reasons;
        const auto& list = mismatch.Icons;
        if (!list.empty())
            reasons.push_back(IconList(list) + (list.size() == 1 ? " differs" : " differ"));
        others.push_back(made + MemberLabel(keyOfRow.at(row)) + ": " + Join(reasons));
    }
    for (const std::string& line : others) {
        if (options_.SkipMismatched)
            plan_.Notes.push_back("Skipped: " + line + ".");
        else
            plan_.Refusals.push_back(line);
    }

    // Then the changes that stand, into the plan.
    std::set<std::size_t> matched; // earlier mods' new members this one adds too
    for (const ModChange& c : changes) {
        const std::int32_t row = rowOf(c);
        if (skipped.count(&c) || (row > 0 && rows.count(row)))
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
            if (const auto found = icons.find(row);
                found != icons.end() && !found->second.empty()) {
                MergeIcons(m, row, found->second);
                icons.erase(found);
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

// The size of a member's bytes in the new archive.
std::int64_t NewSize(const ModPlanState& st, std::int32_t row, const PlannedMember& pm) {
    switch (pm.What) {
    case PlannedMember::Content::Whole:
        return st.Change(pm.Whole).Result.Size;
    case PlannedMember::Content::Removed:
        return 0;
    case PlannedMember::Content::Icons: {
        std::int64_t size = st.Size(row);
        for (const auto& [number, icon] : pm.Icons)
            size += std::int64_t{icon.NewHeader.Bytes} - icon.BaseHeader.Bytes;
        return size;
    }
    case PlannedMember::Content::Base:
        break;
    }
    return st.Size(row);
}

} // namespace

ModPlan PlanMods(const std::string& basePath, const std::vector<std::string>& modPaths,
                 const ModApplyOptions& options) {
    ModPlan plan;
    auto st = std::make_shared<ModPlanState>();
    st->BasePath = basePath;
    try {
        plan.Fault = OpenBase(*st);
        if (!plan.Fault.empty())
            return plan;
        for (const std::string& path : modPaths) {
            try {
                st->Mods.push_back({std::make_unique<ModReader>(path), PrintableName(path)});
            } catch (const EFOpenError& e) {
                plan.Fault = ErrorText(e);
                return plan;
            }
        }
        Planner planner(*st, plan, options);
        for (std::size_t m = 0; m < st->Mods.size(); ++m) {
            try {
                planner.Mod(m);
            } catch (const EBadMod& e) {
                plan.Fault = st->Mods[m].Label + " is damaged: " + e.what() + ".";
                return plan;
            } catch (const EBadZip& e) {
                plan.Fault = st->Mods[m].Label + " is damaged: " + e.what() + ".";
                return plan;
            }
        }
    } catch (const EBadMod& e) {
        plan.Fault = e.what();
        return plan;
    } catch (const EReadError&) {
        plan.Fault = ReadFailure(*st);
        return plan;
    }

    // What goes in, and how large the new archive is.
    plan.AppliedFrom.assign(st->Mods.size(), 0);
    const auto applied = [&](const Chosen& chosen) {
        ++plan.Applied;
        ++plan.AppliedFrom[chosen.Mod];
    };
    std::int64_t count = st->Rows();
    std::int64_t size = st->Base->Length();
    const auto resized = [&](std::int64_t from, std::int64_t to) { size += to - from; };
    if (st->Gap) {
        applied(*st->Gap);
        resized(st->FirstStart - st->DirectoryEnd(), st->Change(*st->Gap).Result.Size);
    }
    if (st->Tail) {
        applied(*st->Tail);
        resized(st->Base->Length() - st->MembersEnd(), st->Change(*st->Tail).Result.Size);
    }
    for (const auto& [row, pm] : st->Members) {
        if (pm.What == PlannedMember::Content::Icons)
            for (const auto& [icon, planned] : pm.Icons)
                applied(planned.From);
        else if (pm.What != PlannedMember::Content::Base)
            applied(pm.Whole);
        for (const std::optional<Chosen>& placed : {pm.Move, pm.Field})
            if (placed)
                applied(*placed);
        resized(st->Size(row), NewSize(*st, row, pm));
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
    for (const Chosen& add : st->Adds) {
        applied(add);
        ++count;
        size += ArchiveEntrySize + st->Change(add).Result.Size;
    }
    plan.OutputSize = size;
    if (size > 0xFFFFFFFFLL || count > std::numeric_limits<std::int32_t>::max())
        plan.Fault = "The new archive would be larger than its 32-bit offsets can address.";
    plan.State = std::move(st);
    return plan;
}

namespace {

// Streams a zip entry of the new bytes into the output.
std::string WriteEntry(const ModPlanState& st, const Chosen& chosen, SafeFile& out) {
    const ModReader& reader = st.Reader(chosen);
    ZipEntryReader entry(reader.File(), reader.Entry(st.Change(chosen).File));
    std::vector<unsigned char> block(kCopyBlock);
    for (;;) {
        const std::size_t n = entry.Read(block.data(), block.size());
        if (n == 0)
            return {};
        out.Write(block.data(), n);
    }
}

std::string CopyBase(const ModPlanState& st, std::int64_t from, std::int64_t to, SafeFile& out) {
    if (to > from && out.CopyFrom(*st.Base, from, to - from) != to - from)
        return ReadFailure(st);
    return {};
}

// A member changed icon by icon: its count, its header table with the changed headers put in
// and every data offset moved by the change in size before it, then its data with the new
// icons' data put in; the base's bytes are copied as they stand, the new ones inflated.
std::string WriteIcons(const ModPlanState& st, std::int32_t row, const PlannedMember& pm,
                       SafeFile& out) {
    const std::int64_t start = st.Entry(row).Start;
    const std::int32_t count = pm.IconCount;
    std::string failure = CopyBase(st, start, start + 4, out);
    if (!failure.empty())
        return failure;
    std::int64_t shift = 0;
    auto next = pm.Icons.begin();
    std::vector<unsigned char> block;
    for (std::int32_t j0 = 0; j0 < count; j0 += kHeadersPerBlock) {
        const std::int32_t n = std::min(kHeadersPerBlock, count - j0);
        block.resize(static_cast<std::size_t>(n) * IconHeaderSize);
        if (!st.Base->ReadExactlyAt(start + 4 + std::int64_t{IconHeaderSize} * j0, block.data(),
                                    block.size()))
            return ReadFailure(st);
        for (std::int32_t j = 0; j < n; ++j) {
            unsigned char* bytes = block.data() + static_cast<std::size_t>(j) * IconHeaderSize;
            TIconHeader header = TIconHeader::FromBytes(bytes);
            const std::int64_t starts = header.Starts + shift;
            if (next != pm.Icons.end() && next->first == j0 + j + 1) {
                header = next->second.NewHeader;
                shift += std::int64_t{header.Bytes} - next->second.BaseHeader.Bytes;
                ++next;
            }
            if (starts > std::numeric_limits<std::int32_t>::max())
                return "The new " + PrintableName(st.Entry(row).Name) +
                       " would be larger than its data offsets can address.";
            header.Starts = static_cast<std::int32_t>(starts);
            header.ToBytes(bytes);
        }
        out.Write(block.data(), block.size());
    }
    const std::int64_t area = start + 4 + std::int64_t{IconHeaderSize} * count;
    std::int64_t cursor = area;
    for (const auto& [number, icon] : pm.Icons) {
        const std::int64_t at = area + icon.BaseHeader.Starts;
        if (failure = CopyBase(st, cursor, at, out); !failure.empty())
            return failure;
        std::int64_t done = 0;
        ExpandPlanned(st, row, count, icon, [&](const unsigned char* bytes, std::size_t n) {
            const std::int64_t skip =
                std::clamp<std::int64_t>(IconHeaderSize - done, 0, static_cast<std::int64_t>(n));
            out.Write(bytes + skip, n - static_cast<std::size_t>(skip));
            done += static_cast<std::int64_t>(n);
        });
        cursor = at + icon.BaseHeader.Bytes;
    }
    return CopyBase(st, cursor, st.Entry(row).Finish, out);
}

// The writer of a member's new bytes, wherever it goes.
std::function<std::string(SafeFile&)> MemberWriter(const ModPlanState& st, std::int32_t row,
                                                   const PlannedMember* pm) {
    const PlannedMember::Content what = pm ? pm->What : PlannedMember::Content::Base;
    if (what == PlannedMember::Content::Whole)
        return [&st, pm](SafeFile& out) { return WriteEntry(st, pm->Whole, out); };
    if (what == PlannedMember::Content::Icons)
        return [&st, row, pm](SafeFile& out) { return WriteIcons(st, row, *pm, out); };
    return [&st, row](SafeFile& out) {
        return CopyBase(st, st.Entry(row).Start, st.Entry(row).Finish, out);
    };
}

NameField FieldOf(const ModChange& c) {
    NameField field{};
    const std::string& bytes = c.NameField.empty() ? c.Member.Name : c.NameField;
    std::copy_n(bytes.begin(), std::min(bytes.size(), field.size()), field.begin());
    return field;
}

// The rebuild's sources, in the order of the new archive.
std::vector<MemberSource> Sources(const ModPlanState& st) {
    std::vector<MemberSource> sources;
    const std::int32_t rows = st.Rows();
    if (st.Gap) {
        MemberSource gap{0, st.DirectoryEnd(), st.FirstStart, {}, st.Change(*st.Gap).Result.Size};
        gap.Kind = Edit::Gap;
        gap.Write = [&st](SafeFile& out) { return WriteEntry(st, *st.Gap, out); };
        sources.push_back(std::move(gap));
    }

    // New and moved members, by the row they go before, in the order of the mods and of
    // their changes.
    struct Placed {
        std::int32_t Before;
        std::size_t Mod;
        const ModChange* Change;
        std::int32_t Row; // a moved member's row; 0 for a new one
    };
    std::vector<Placed> placed;
    const auto keys = KeysOf(st);
    const auto before = [&](const ModChange& c) { return c.First ? 1 : keys.at(c.After) + 1; };
    for (const Chosen& add : st.Adds)
        placed.push_back({before(st.Change(add)), add.Mod, add.Change, 0});
    for (const auto& [row, pm] : st.Members)
        if (pm.Move)
            placed.push_back({before(st.Change(*pm.Move)), pm.Move->Mod, pm.Move->Change, row});
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return std::tie(a.Before, a.Mod, a.Change) < std::tie(b.Before, b.Mod, b.Change);
    });

    auto next = placed.begin();
    for (std::int32_t r = 1; r <= rows + 1; ++r) {
        const std::int64_t here = r <= rows ? std::int64_t{st.Entry(r).Start} : st.MembersEnd();
        for (; next != placed.end() && next->Before == r; ++next) {
            MemberSource insert{r, here, here, {}, 0};
            insert.Kind = Edit::Insert;
            if (next->Row == 0) {
                const ModChange& c = *next->Change;
                insert.Length = c.Result.Size;
                insert.NameField = FieldOf(c);
                const Chosen chosen{next->Mod, next->Change};
                insert.Write = [&st, chosen](SafeFile& out) { return WriteEntry(st, chosen, out); };
            } else {
                const PlannedMember& pm = st.Members.at(next->Row);
                insert.Length = NewSize(st, next->Row, pm);
                insert.NameField = pm.Field ? FieldOf(st.Change(*pm.Field))
                                            : st.Fields[static_cast<std::size_t>(next->Row - 1)];
                insert.Write = MemberWriter(st, next->Row, &pm);
            }
            sources.push_back(std::move(insert));
        }
        if (r > rows)
            break;
        const auto found = st.Members.find(r);
        if (found == st.Members.end())
            continue;
        const PlannedMember& pm = found->second;
        MemberSource own{r, st.Entry(r).Start, st.Entry(r).Finish, {}, 0};
        if (pm.Move || pm.What == PlannedMember::Content::Removed) {
            own.Kind = Edit::Remove;
        } else if (pm.What != PlannedMember::Content::Base || pm.Field) {
            own.Length = NewSize(st, r, pm);
            own.Write = MemberWriter(st, r, &pm);
            if (pm.Field) {
                own.SetsField = true;
                own.NameField = FieldOf(st.Change(*pm.Field));
            }
        } else {
            continue;
        }
        sources.push_back(std::move(own));
    }
    if (st.Tail) {
        MemberSource tail{
            rows + 1, st.MembersEnd(), st.Base->Length(), {}, st.Change(*st.Tail).Result.Size};
        tail.Kind = Edit::Tail;
        tail.Write = [&st](SafeFile& out) { return WriteEntry(st, *st.Tail, out); };
        sources.push_back(std::move(tail));
    }
    return sources;
}

// The existing output's own changes to a member the mods rewrite, where the mods write other
// bytes there: icon by icon for a member the mods change only so, else the member whole.
void NoteReplaced(const ModPlan& plan, const MemberDiff& m, const std::string& existingPath,
                  std::vector<ArchiveRebuildReport::Replacement>& replaced) {
    const ModPlanState& st = *plan.State;
    const auto found = st.Members.find(m.RowA);
    if (!m.Changed || found == st.Members.end())
        return;
    const PlannedMember& pm = found->second;
    const auto existing = InFile::Open(existingPath);
    if (!existing)
        return;
    const auto holds = [&](std::int64_t start, std::int64_t size, const ByteSum& result) {
        std::uint32_t crc = 0;
        return Crc32Of(*existing, start, size, crc) && ByteSum{size, crc} == result;
    };
    if (plan.RewrittenIcons.count(m.RowA)) {
        for (const IconDiff& icon : m.Icons->Changed) {
            const auto planned = pm.Icons.find(icon.Icon);
            if (planned == pm.Icons.end())
                continue;
            bool same = false;
            try {
                const TIconHeader stored = StoredHeader(*existing, m.InB.Start, icon.Icon);
                same = IconSum(*existing, m.InB.Start, m.Icons->CountB, stored) ==
                       st.Change(planned->second.From).Result;
            } catch (const EReadError&) {
            }
            if (!same)
                replaced.push_back({MemberLabel(m) + " icon " + std::to_string(icon.Icon),
                                    st.Label(planned->second.From)});
        }
        return;
    }
    std::optional<Chosen> by;
    if (pm.What == PlannedMember::Content::Whole || pm.What == PlannedMember::Content::Removed)
        by = pm.Whole;
    else if (pm.What == PlannedMember::Content::Icons)
        by = pm.Icons.begin()->second.From;
    else
        by = pm.Move ? pm.Move : pm.Field;
    if (!by ||
        (pm.What == PlannedMember::Content::Whole &&
         holds(m.InB.Start, std::int64_t{m.InB.Finish} - m.InB.Start, st.Change(pm.Whole).Result)))
        return;
    replaced.push_back({MemberLabel(m), st.Label(*by)});
}

} // namespace

ArchiveRebuildReport ModRebuildCheck(const ModPlan& plan, const std::string& existingPath) {
    ArchiveRebuildReport report;
    const ModPlanState& st = *plan.State;
    const ArchiveDiff diff = DiffArchives(st.BasePath, existingPath);
    report.BaseFault = diff.FaultA;
    report.Fault = diff.FaultB;
    report.BaseReadable = diff.FaultA.empty();
    report.Readable = diff.FaultB.empty();
    if (!diff.Readable())
        return report;
    std::set<std::string> added;
    for (const Chosen& add : st.Adds)
        added.insert(st.Change(add).Member.Name);
    const std::set<std::int32_t> rewritten(plan.RewrittenRows.begin(), plan.RewrittenRows.end());
    const auto kept = [&](const MemberDiff& m) {
        if (m.Added())
            return added.count(m.Name) > 0;
        if (rewritten.count(m.RowA))
            return true;
        const auto icons = plan.RewrittenIcons.find(m.RowA);
        if (icons == plan.RewrittenIcons.end() || m.Moved || !m.Icons || !m.Icons->Readable() ||
            m.Icons->CountA != m.Icons->CountB || m.Icons->OutsideDiffers)
            return false;
        return std::all_of(m.Icons->Changed.begin(), m.Icons->Changed.end(),
                           [&](const IconDiff& icon) { // the icons are in ascending order
                               return std::binary_search(icons->second.begin(), icons->second.end(),
                                                         icon.Icon);
                           });
    };
    for (const MemberDiff& m : diff.Members)
        if (!kept(m))
            report.Dropped.push_back(MemberLabel(m));
        else if (!m.Added())
            NoteReplaced(plan, m, existingPath, report.Replaced);
    const bool fields = std::any_of(st.Members.begin(), st.Members.end(),
                                    [](const auto& row) { return row.second.Field.has_value(); });
    report.OutsideDiffers = (diff.GapDiffers && !st.Gap) || (diff.TailDiffers && !st.Tail) ||
                            (diff.NameFieldsDiffer && !fields);
    return report;
}

OpResult WriteModded(const ModPlan& plan, const std::string& outPath,
                     const std::function<void(std::int64_t)>& written) {
    OpResult result;
    result.Ok = false;
    if (plan.Blocked() || !plan.State) {
        result.Message = "The mods cannot be applied; nothing was written.";
        return result;
    }
    ModPlanState& st = *plan.State;
    std::optional<SafeFile> out;
    try {
        out.emplace(outPath);
    } catch (const EFCreateError& e) {
        result.Message = CannotOpenNewArchive(outPath);
        result.WriteFailed = true;
        result.Fault = e.Fault();
        return result;
    } catch (const EOutputBusy& e) {
        result.Message = e.what();
        return result;
    }
    try {
        for (const LoadedMod& mod : st.Mods)
            out->WatchInput(mod.Reader->File());
        const OpResult copied =
            CopyRebuilt(st.BasePath, *st.Base, *out, Sources(st), st.Rows(), written);
        if (!copied.Ok)
            return copied;
        // Nothing more is read: the inputs are closed before the base may be replaced.
        st.Base.reset();
        st.Mods.clear();
        out->Commit();
    } catch (const EWriteError& e) {
        result.Message = CannotWriteNewArchive(outPath);
        result.WriteFailed = true;
        result.Fault = e.Fault();
        return result;
    } catch (const EInputChanged& e) {
        result.Message = e.what();
        return result;
    } catch (const EReadError&) {
        result.Message = ReadFailure(st);
        return result;
    } catch (const EBadMod& e) {
        result.Message = std::string("A mod is damaged: ") + e.what() + "; nothing was written.";
        return result;
    } catch (const EBadZip& e) {
        result.Message = std::string("A mod is damaged: ") + e.what() + "; nothing was written.";
        return result;
    }
    return {};
}

} // namespace kiv
