// Mod files: making one from two archives, applying mods, and showing what one changes.

#include "CommandSupport.h"
#include "DiffListing.h"
#include "OutputRule.h"

#include "archive/ArchiveRebuild.h"
#include "mod/ModApply.h"
#include "mod/ModCreate.h"
#include "mod/ModReader.h"

namespace kivtool {

int ModCreateCommand(const Context& ctx, const std::string& base, const std::string& edited,
                     const ModCreateOptions& options) {
    return Guarded(ctx, [&] {
        kiv::OutputLock lock(options.OutPath);
        if (!options.Force && kiv::StampOf(options.OutPath).Exists) {
            Err(ctx) << "kept existing file " << PrintableName(options.OutPath)
                     << "; --force overwrites\n";
            return ExitFailure;
        }
        ProgressLine progress(
            ctx, "Comparing " + PrintableName(base) + " with " + PrintableName(edited), 0);
        progress.ShowNow();
        const kiv::ModCreated result = kiv::CreateMod(
            base, edited, options.OutPath, {options.Title, options.Author, options.Note});
        progress.Clear();
        if (!result.Ok)
            return FailWrite(ctx, result.Message, result.Fault);
        Err(ctx) << "Wrote " << PrintableName(options.OutPath) << ": " << result.Changes
                 << (result.Changes == 1 ? " change, " : " changes, ") << result.Size
                 << " bytes.\n";
        return ExitOk;
    });
}

int ModApplyCommand(const Context& ctx, const std::string& base,
                    const std::vector<std::string>& mods, const ModApplyCommandOptions& options) {
    return GuardedOutput(ctx, kiv::CannotOpenNewArchive(options.OutPath), [&] {
        kiv::OutputLock lock(options.OutPath);
        for (const std::string& mod : mods)
            if (!NotItsInput(ctx, options.OutPath, mod, "a mod it applies"))
                return ExitFailure;
        const kiv::ModPlan plan = kiv::PlanMods(
            base, mods, {options.SkipMismatched, options.PreferLast, options.SkipConflicting});
        if (!plan.Result.Ok)
            return Fail(ctx, plan.Result.Message);
        for (const std::string& note : plan.Notes)
            Err(ctx) << note << '\n';
        for (const std::string& line : plan.Refusals)
            Err(ctx) << line << '\n';
        for (const std::string& line : plan.Conflicts)
            Err(ctx) << line << '\n';
        if (plan.Blocked()) {
            std::string ways;
            if (!plan.Refusals.empty())
                ways += "; --skip-mismatched leaves out what a mod was not made for";
            if (!plan.Conflicts.empty())
                ways += "; --prefer-last takes the later mod's change where two meet, "
                        "--skip-conflicting the earlier one's";
            return Fail(ctx, "Nothing was written" + ways + ".");
        }
        if (plan.Applied == 0)
            return Fail(ctx, "No change of the mods applies; nothing was written.");

        if (!options.Force) {
            std::vector<std::string> buildsOn{"mod", "apply", options.OutPath};
            buildsOn.insert(buildsOn.end(), mods.begin(), mods.end());
            if (options.OutPath != kiv::NewArchiveName)
                buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
            const auto check = [&] { return kiv::ModRebuildCheck(plan, options.OutPath); };
            if (JudgeArchiveRebuild(ctx, lock, base, options.OutPath, check, buildsOn) ==
                RebuildVerdict::Kept)
                return ExitFailure;
        }
        ProgressLine progress(ctx, "Writing " + PrintableName(options.OutPath), plan.OutputSize);
        const kiv::OpResult result = kiv::WriteModded(
            plan, options.OutPath, [&progress](std::int64_t size) { progress.Update(size); });
        if (!result.Ok)
            return FailWrite(ctx, result.Message, result.Fault);
        // A mod left out whole (all of it mismatched, or every change of it lost to a later
        // mod) is named, so the count is of the mods that went in.
        std::vector<std::string> skipped;
        std::size_t used = 0;
        for (std::size_t m = 0; m < mods.size(); ++m) {
            if (plan.AppliedFrom[m] > 0)
                ++used;
            else
                skipped.push_back(PrintableName(mods[m]));
        }
        Err(ctx) << "Wrote " << PrintableName(options.OutPath) << ": " << plan.Applied
                 << (plan.Applied == 1 ? " change from " : " changes from ") << used
                 << (used == 1 ? " mod" : " mods");
        if (!skipped.empty())
            Err(ctx) << "; " << kiv::JoinedList(skipped)
                     << (skipped.size() == 1 ? " was skipped" : " were skipped");
        Err(ctx) << ".\n";
        return ExitOk;
    });
}

int ModInfoCommand(const Context& ctx, const std::string& mod) {
    return Guarded(ctx, [&] {
        const kiv::ModReader reader(mod);
        const kiv::ModManifest& manifest = reader.Manifest();
        // A stranger's text: every byte that could act on the terminal is shown as \xNN.
        ctx.out << "Title: " << EscapedText(manifest.Title) << '\n'
                << "Author: " << EscapedText(manifest.Author) << '\n'
                << "Note: " << EscapedText(manifest.Note) << '\n'
                << "Format version: " << manifest.Version << '\n'
                << "Made from: an archive of " << manifest.BaseSize << " bytes, "
                << manifest.BaseMembers << " members\n"
                << "Changes: " << manifest.Changes.size() << '\n';
        PrintArchiveDiff(ctx.out, kiv::ModChanges(manifest), {"the base", "the modded archive"});
        return ExitOk;
    });
}

} // namespace kivtool
