#pragma once
// Applying mods to an archive: every change is checked against the base before anything is
// written (its base checksum, two mods meeting on one member or icon), then the new archive
// is written in one pass through the shared rebuild, each changed member's new bytes made as
// they are written.

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveOps.h"
#include "mod/ModResult.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

struct ModApplyOptions {
    // Leave out the members (and other changes) a mod was not made for, instead of writing
    // nothing.
    bool SkipMismatched = false;
    // Where two mods meet, the later one's change is used, instead of writing nothing.
    bool PreferLast = false;
    // Where two mods meet, the later one's change is left out and the earlier one's stays,
    // instead of writing nothing (PreferLast decides first).
    bool SkipConflicting = false;
};

struct ModPlanState;

// What applying mods to a base would do, found without writing anything.
struct ModPlan {
    // A base or a mod that cannot be used at all: not a readable archive, not a mod file,
    // a mod that is damaged. Nothing else is filled in then.
    ModResult Result;
    // Changes a mod was not made for: "hero.kivmod was made for another hero.s16: icon 3
    // differs", one line per mod and member.
    std::vector<std::string> Refusals;
    // Mods that change the same thing differently, one line each.
    std::vector<std::string> Conflicts;
    // What --skip-mismatched left out and --prefer-last decided, one line each.
    std::vector<std::string> Notes;
    std::int64_t Applied = 0;              // changes that go into the new archive
    std::vector<std::int64_t> AppliedFrom; // of those, each mod's, in the order given
    std::int64_t OutputSize = 0;
    // Base rows whose bytes or place the mods change, and for members changed icon by icon
    // only, which icons (1-based): what a rebuild over an existing output may drop there.
    std::map<std::int32_t, std::vector<std::int32_t>> RewrittenIcons;
    std::vector<std::int32_t> RewrittenRows;

    std::shared_ptr<ModPlanState> State;

    // Nothing may be written: a fault, a refusal or a conflict stands.
    bool Blocked() const { return !Result.Ok || !Refusals.empty() || !Conflicts.empty(); }
};

// Reads the base's directory and each mod's manifest, checks every change against the base
// (reading only the bytes the changes replace) and the mods against each other, in the order
// given. Refusals become notes with SkipMismatched, conflicts with PreferLast or
// SkipConflicting.
ModPlan PlanMods(const std::string& basePath, const std::vector<std::string>& modPaths,
                 const ModApplyOptions& options = {});

// What writing the plan over an existing output would lose, as ArchiveRebuildCheck tells it
// for a rebuild: the existing output's changes (against the base) in members the mods leave
// alone, in icons of a member the mods change icon by icon, members it adds that the mods do
// not, and bytes outside members the mods do not rewrite. Identical is never set: the new
// bytes are made only as they are written.
ArchiveRebuildReport ModRebuildCheck(const ModPlan& plan, const std::string& existingPath);

// Writes the planned archive to `outPath` (which may be the base itself) through SafeFile.
// Refused when the plan is blocked. A mod whose data turn out damaged on the way leaves no
// output.
ModResult WriteModded(const ModPlan& plan, const std::string& outPath,
                      const std::function<void(std::int64_t)>& written = {});

} // namespace kiv
