// Mod files: making one from two archives, applying mods, and showing what one changes.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "DiffListing.h"
#include "OutputRule.h"

#include "archive/ArchiveRebuild.h"
#include "mod/ModApply.h"
#include "mod/ModCreate.h"
#include "mod/ModReader.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace kivtool {

int ModCreateCommand(const Context& ctx, const std::string& base, const std::string& edited,
                     const ModCreateOptions& options) {
    return Guarded(ctx, [&] {
        RuledOutput out(ctx, options.OutPath, options.Force);
        out.KeepAnyExisting();
        out.Lock();
        if (out.Compare() == OutputVerdict::Kept)
            return ExitFailure;
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
        RuledOutput out(ctx, options.OutPath, options.Force);
        out.Lock();
        for (const std::string& mod : mods)
            if (!out.NotInput(mod, "a mod it applies"))
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

        std::vector<std::string> buildsOn{"mod", "apply", options.OutPath};
        buildsOn.insert(buildsOn.end(), mods.begin(), mods.end());
        if (options.OutPath != kiv::NewArchiveName)
            buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
        const auto check = [&] { return kiv::ModRebuildCheck(plan, options.OutPath); };
        if (out.CompareRebuild([&](kiv::OutputLock& lock) {
                return JudgeArchiveRebuild(ctx, lock, base, options.OutPath, check, buildsOn);
            }) == OutputVerdict::Kept)
            return ExitFailure;
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

namespace kivtool {

namespace {

struct ModCreateArgs {
    std::string Base;
    std::string Edited;
    ModCreateOptions Options;
};
struct ModApplyArgs {
    std::string Base;
    std::vector<std::string> Mods;
    std::string Out; // empty: ModApplyCommandOptions' own default
    ModApplyCommandOptions Options;
};
struct ModInfoArgs {
    std::string Mod;
};

void RegisterModCreate(CommandSet& set, CLI::App* mod) {
    auto a = std::make_shared<ModCreateArgs>();
    ModCreateOptions& o = a->Options;
    CLI::App* sub = set.Add(
        "create",
        "Write a mod holding what changed from BASE to NEW: changed icons (each compressed "
        "against its old bytes), other changed, added and removed members whole, moved members, "
        "and bytes outside members. The mod is read back as 'mod apply' reads it before it is "
        "put in place.",
        "kivtool mod create Modgen.dat Newgen.dat -o hero.kivmod --title 'Red hero'",
        [a](const Context& c) { return ModCreateCommand(c, a->Base, a->Edited, a->Options); }, mod);
    sub->add_option("BASE", a->Base, "The archive the mod is made from, such as Modgen.dat")
        ->required();
    sub->add_option("NEW", a->Edited, "The changed archive, such as Newgen.dat")->required();
    sub->add_option("-o,--output", o.OutPath, "The mod file to write, such as hero.kivmod")
        ->required();
    sub->add_option("--title", o.Title, "The mod's title");
    sub->add_option("--author", o.Author, "Who made it");
    sub->add_option("--note", o.Note, "A note for its users");
    AddForce(sub, o.Force, kForceMod);
}

void RegisterModApply(CommandSet& set, CLI::App* mod) {
    auto a = std::make_shared<ModApplyArgs>();
    ModApplyCommandOptions& o = a->Options;
    CLI::App* sub = set.Add(
        "apply",
        "Write a new archive: BASE with the mods applied, in the order given, in one pass. A "
        "change applies where BASE holds what the mod was made from; otherwise, or where two "
        "mods change the same thing differently, nothing is written and each case is listed.",
        "kivtool mod apply Modgen.dat hero.kivmod coins.kivmod -o Newgen.dat",
        [a](const Context& c) {
            ModApplyCommandOptions options = a->Options;
            if (!a->Out.empty())
                options.OutPath = a->Out;
            return ModApplyCommand(c, a->Base, a->Mods, options);
        },
        mod);
    AddArchive(sub, a->Base);
    sub->add_option("MOD", a->Mods, "Mod files, applied in this order")->required();
    sub->add_option("-o,--output", a->Out, "The new archive (default: Newgen.dat)");
    sub->add_flag("--skip-mismatched", o.SkipMismatched,
                  "Leave out the members a mod was not made for and write the rest");
    sub->add_flag("--prefer-last", o.PreferLast,
                  "Where two mods change the same thing differently, take the later one's");
    sub->add_flag("--skip-conflicting", o.SkipConflicting,
                  "Where two mods change the same thing differently, keep the earlier one's "
                  "and leave the later one's out");
    AddForce(sub, o.Force, kForceRebuild);
}

void RegisterModInfo(CommandSet& set, CLI::App* mod) {
    auto a = std::make_shared<ModInfoArgs>();
    CLI::App* sub = set.Add(
        "info",
        "Print a mod's title, author, note (bytes that could act on a terminal shown as \\xNN) "
        "and format version, and what it changes, listed as 'diff' lists two archives.",
        "kivtool mod info hero.kivmod", [a](const Context& c) { return ModInfoCommand(c, a->Mod); },
        mod);
    sub->add_option("MOD", a->Mod, "A mod file")->required();
}

} // namespace

void RegisterModCommands(CommandSet& set) {
    CLI::App* mod = set.AddGroup("mod",
                                 "Mod files (.kivmod): only what changed between two archives, "
                                 "to share without the game's own data, and to apply several "
                                 "at once.",
                                 "kivtool mod create Modgen.dat Newgen.dat -o hero.kivmod");
    RegisterModCreate(set, mod);
    RegisterModApply(set, mod);
    RegisterModInfo(set, mod);
}

} // namespace kivtool
