#pragma once
// What planning mods leaves for writing them: the opened base, the mods, and the change
// chosen for each member, icon and place. Shared by the planner and the writer only.

#include "archive/OpenedArchive.h"
#include "mod/ModApply.h"
#include "mod/ModReader.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

namespace modplan {

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

} // namespace modplan

struct ModPlanState {
    std::string BasePath;
    std::optional<OpenedArchive> Archive;
    std::vector<modplan::LoadedMod> Mods;
    std::map<std::int32_t, modplan::PlannedMember> Members;
    std::vector<modplan::Chosen> Adds; // in the order they are placed at one anchor
    std::optional<modplan::Chosen> Gap;
    std::optional<modplan::Chosen> Tail;
    std::map<std::int32_t, modplan::Layout> Layouts;

    InFile& Base() const { return Archive->File(); }
    std::int32_t Rows() const { return Archive->Rows(); }
    std::int64_t DirectoryEnd() const { return Archive->DirectoryEnd(); }
    std::int64_t FirstStart() const { return Archive->FirstStart(); }
    const TArchiveEntry& Entry(std::int32_t row) const { return Archive->Entry(row); }
    std::int64_t Size(std::int32_t row) const { return Archive->Size(row); }
    std::int64_t MembersEnd() const { return Archive->MembersEnd(); }
    // The base row of a member as mods name it, or 0.
    std::int32_t RowOf(const MemberKey& key) const { return Archive->RowOf(key.Name, key.Copy); }
    const ModChange& Change(const modplan::Chosen& chosen) const { return *chosen.Change; }
    const ModReader& Reader(const modplan::Chosen& chosen) const {
        return *Mods[chosen.Mod].Reader;
    }
    const std::string& Label(const modplan::Chosen& chosen) const { return Mods[chosen.Mod].Label; }
};

namespace modplan {

// "Could not read Main Data (path)".
std::string ReadFailure(const ModPlanState& st);
// Inflates a planned icon's new bytes against its base icon and hands them to `emit`.
void ExpandPlanned(const ModPlanState& st, std::int32_t row, std::int32_t count,
                   const PlannedIcon& icon,
                   const std::function<void(const unsigned char*, std::size_t)>& emit);
// The size of a member's bytes in the new archive.
std::int64_t NewSize(const ModPlanState& st, std::int32_t row, const PlannedMember& pm);

} // namespace modplan

} // namespace kiv
