// Batch work: every member out, a folder of members back in, a folder of icons back in.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "archive/ArchiveRebuild.h"
#include "archive/MemberExtract.h"
#include "archive/MemberFiles.h"
#include "base/FileStream.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/IconEncoder.h"
#include "sprite/PictureFiles.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <set>

namespace kivtool {

namespace {

struct ExtractCounts {
    int Extracted = 0;
    int Refused = 0;
    int Kept = 0;
    int Failed = 0;
};

// False, after the reason (the member counted as refused), when a member cannot come out
// under its own name in DIR.
bool MayExtract(const Context& ctx, const kiv::TArchiveEntry& entry, std::int64_t length,
                std::set<std::string>& names, ExtractCounts& counts) {
    // A damaged member's bytes are not all there; the others are whole and come out.
    if (const std::string fault = kiv::MemberFault(entry, length); !fault.empty()) {
        Err(ctx) << "Cannot extract member \"" << entry.Name << "\": it " << fault << ".\n";
        ++counts.Refused;
        return false;
    }
    // The name becomes a path inside DIR: it must stay there.
    if (const std::string refusal = kiv::UnsafeNameRefusal(entry.Name); !refusal.empty()) {
        Err(ctx) << refusal << '\n';
        ++counts.Refused;
        return false;
    }
    // A second member of the same name would overwrite the first one's file, and a
    // reimport would then give the first member the second one's bytes.
    if (!names.insert(entry.Name).second) {
        Err(ctx) << "Cannot extract member \"" << EscapedText(entry.Name)
                 << "\": an earlier member has the same name.\n";
        ++counts.Refused;
        return false;
    }
    return true;
}

// One member into `path`; a file that already holds it is listed as extracted, one that holds
// other bytes (maybe the user's edit) is kept unless --force.
void ExtractOne(const Context& ctx, const std::string& archive, kiv::InFile& source,
                const kiv::TArchiveEntry& entry, const std::string& path,
                const ExtractAllOptions& options, ExtractCounts& counts) {
    const std::int64_t length = source.Length();
    const std::int64_t size =
        entry.Finish > entry.Start ? std::int64_t{entry.Finish} - entry.Start : 0;
    RuledOutput out(ctx, path, options.Force);
    out.QuietWhenUpToDate();
    out.CompareEvenWithForce();
    if (!options.DryRun)
        out.Lock();
    const OutputVerdict verdict =
        out.Compare([&] { return CompareExisting(path, source, entry.Start, size); });
    if (verdict == OutputVerdict::Kept) {
        ++counts.Kept;
        return;
    }
    if (verdict == OutputVerdict::Write && options.DryRun) {
        // A dry run refuses what Extract would refuse, in its words.
        const std::string refusal =
            kiv::ExtractTargetRefusal(archive, length, entry.Name, entry.Start, entry.Finish, path);
        if (!refusal.empty()) {
            Err(ctx) << refusal << '\n';
            ++counts.Refused;
            return;
        }
    } else if (verdict == OutputVerdict::Write) {
        const kiv::OpResult result =
            kiv::ExtractMember(archive, kiv::ArchiveRow::FromEntry(entry), path);
        if (!result.Ok) {
            Err(ctx) << kiv::WithFault(result.Message, result.Fault) << '\n';
            ++(result.WriteFailed ? counts.Failed : counts.Refused);
            return;
        }
    }
    ctx.out << path << '\n';
    ++counts.Extracted;
}

int ExtractedSummary(const Context& ctx, bool dryRun, const ExtractCounts& counts) {
    if (dryRun)
        Err(ctx) << "Dry run: would extract " << counts.Extracted << " members; nothing written.\n";
    else
        Err(ctx) << "Extracted " << counts.Extracted << " members.\n";
    if (counts.Failed > 0)
        Err(ctx) << counts.Failed << (counts.Failed == 1 ? " member" : " members")
                 << " could not be written.\n";
    if (counts.Refused > 0)
        Err(ctx) << counts.Refused << (counts.Refused == 1 ? " member was" : " members were")
                 << " refused.\n";
    return counts.Refused > 0 || counts.Kept > 0 || counts.Failed > 0 ? ExitFailure : ExitOk;
}

} // namespace

int ExtractAllCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                      const ExtractAllOptions& options) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing))
            return ExitFailure;
        if (!options.DryRun && !MakeFolder(ctx, dir))
            return ExitFailure;
        const auto source = kiv::InFile::Open(archive);
        if (!source)
            return FailOpen(ctx, kiv::MainDataFileNotFound, archive);

        ExtractCounts counts;
        std::set<std::string> names;
        ProgressLine progress(ctx, "Extracting", std::ssize(listing.Entries));
        std::int64_t done = 0;
        for (const kiv::TArchiveEntry& entry : listing.Entries) {
            progress.Update(done++);
            if (!options.Match.empty() && !kiv::platform::NameMatches(options.Match, entry.Name))
                continue;
            if (MayExtract(ctx, entry, source->Length(), names, counts))
                ExtractOne(ctx, archive, *source, entry, JoinPath(dir, entry.Name), options,
                           counts);
        }
        return ExtractedSummary(ctx, options.DryRun, counts);
    });
}

namespace {

// The members a reimport takes from files in DIR, and what that does to the archive.
struct ReimportPlan {
    std::vector<kiv::MemberSource> Sources;
    std::size_t Changed = 0;
    std::size_t Refused = 0; // files refused (links, and the like)
    std::int64_t NewLength = 0;
};

// Every member with a file in the folder takes that file's bytes. Only its length is kept; the
// rebuild opens it again when its turn comes, so an archive of many members never holds more
// than one member file open. Nothing, after the failure line, when a file cannot be taken.
std::optional<ReimportPlan> PlanReimport(const Context& ctx, const kiv::ArchiveListing& listing,
                                         kiv::InFile& in, const std::string& dir,
                                         const RuledOutput& out, bool allowLinks) {
    ReimportPlan plan;
    plan.NewLength = in.Length();
    for (const kiv::MemberFile& chosen : kiv::ChooseMemberFiles(listing, dir, allowLinks)) {
        if (!chosen.Refusal.empty()) {
            Err(ctx) << EscapedText(chosen.Path) << " is refused: " << chosen.Refusal << ".\n";
            ++plan.Refused;
            continue;
        }
        const kiv::TArchiveEntry& entry = listing.Entries[static_cast<std::size_t>(chosen.Row - 1)];
        const std::string& path = chosen.Path;
        if (!out.NotInput(path, "a member file it is read from"))
            return std::nullopt;
        const auto file = kiv::InFile::Open(path);
        if (!file) {
            Fail(ctx, kiv::CannotOpenTwin(path));
            return std::nullopt;
        }
        const std::int64_t oldSize = std::int64_t{entry.Finish} - entry.Start;
        const bool changed = !kiv::FileHolds(path, in, entry.Start, oldSize);
        plan.Changed += changed ? 1 : 0;
        plan.NewLength += file->Length() - oldSize;
        plan.Sources.push_back({chosen.Row, entry.Start, entry.Finish, path, file->Length()});
        ctx.out << PrintableName(entry.Name) << ": from " << PrintableName(path);
        if (changed)
            ctx.out << ", " << oldSize << " -> " << file->Length() << " bytes\n";
        else
            ctx.out << ", unchanged\n";
    }
    return plan;
}

// The rebuilt archive, written in one pass from the archive and the member files.
int WriteReimport(const Context& ctx, const std::string& archive, std::unique_ptr<kiv::InFile> in,
                  const ReimportPlan& plan, std::int32_t members, const std::string& outPath) {
    std::optional<kiv::SafeFile> out;
    try {
        out.emplace(outPath);
    } catch (const kiv::EFCreateError& e) {
        return FailWrite(ctx, kiv::CannotOpenNewArchive(outPath), e.Fault());
    }
    ProgressLine progress(ctx, "Writing " + outPath, plan.NewLength);
    const kiv::OpResult copied =
        kiv::CopyRebuilt(archive, *in, *out, plan.Sources, members,
                         [&progress](std::int64_t size) { progress.Update(size); });
    if (!copied.Ok)
        return Fail(ctx, copied.Message + ": it changed while it was read; nothing written.");
    // The output may be the archive itself: it is read no more from here on.
    in.reset();
    out->Commit();
    Err(ctx) << "Wrote " << outPath << ": " << plan.Changed << " of " << members
             << " members replaced.\n";
    return ExitOk;
}

} // namespace

int ReimportCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                    const ReimportOptions& options) {
    return GuardedOutput(ctx, kiv::CannotOpenNewArchive(options.OutPath), [&] {
        // With a plausible directory and no damaged member, members lie back to back behind
        // the directory, inside the file: a rebuild in one pass gives what replacing them one
        // by one gives. The output is held before the archive is listed, as Replace holds it.
        RuledOutput out(ctx, options.OutPath, options.Force);
        if (!options.DryRun)
            out.Lock();
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing) ||
            !NoDamagedMember(ctx, archive, listing))
            return ExitFailure;
        auto in = kiv::InFile::Open(archive);
        if (!in)
            return Fail(ctx, kiv::CannotOpenArchive(archive));
        if (!kiv::platform::IsFolder(dir))
            return Fail(ctx, "Cannot open folder " + dir);
        const std::optional<ReimportPlan> plan =
            PlanReimport(ctx, listing, *in, dir, out, options.AllowLinks);
        if (!plan)
            return ExitFailure;
        const auto refusedLine = [&] {
            if (plan->Refused > 0)
                Err(ctx) << plan->Refused << (plan->Refused == 1 ? " file was" : " files were")
                         << " refused.\n";
            return plan->Refused > 0 ? ExitFailure : ExitOk;
        };
        if (plan->Sources.empty()) {
            refusedLine();
            return Fail(ctx, "None of the archive's members is in " + dir + "; nothing written.");
        }
        if (const std::string refusal = kiv::ArchiveLengthRefusal(plan->NewLength);
            !refusal.empty())
            return Fail(ctx, refusal);
        const std::size_t members = listing.Entries.size();
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << options.OutPath << " (" << plan->NewLength
                     << " bytes) with " << plan->Changed << " of " << members
                     << " members replaced; nothing written.\n";
            return refusedLine();
        }

        std::vector<std::string> buildsOn{"reimport", options.OutPath, dir};
        if (options.OutPath != kiv::NewArchiveName)
            buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
        switch (out.CompareRebuild([&](kiv::OutputLock& lock) {
            return JudgeArchiveRebuild(ctx, lock, archive, options.OutPath, plan->Sources,
                                       buildsOn);
        })) {
        case OutputVerdict::Kept:
            return ExitFailure;
        case OutputVerdict::UpToDate:
            return refusedLine();
        case OutputVerdict::Write:
            break;
        }
        const int status = WriteReimport(ctx, archive, std::move(in), *plan,
                                         static_cast<std::int32_t>(members), options.OutPath);
        return status == ExitOk ? refusedLine() : status;
    });
}

namespace {

// The icon number of a file `export` names for this stem, in either format; nothing for any
// other name.
std::optional<std::int64_t> ExportedIconNumber(const std::string& name, const std::string& stem) {
    const std::string prefix = stem + "_";
    const std::string suffix = kiv::IsPngPath(name) ? ".png" : ".bmp";
    if (name.size() < prefix.size() + 4 + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::int64_t number = std::stoll(digits);
    if (ExportFileName(stem, number, suffix) != name)
        return std::nullopt;
    return number;
}

struct ImportPicture {
    std::int64_t Icon = 0;
    std::string Path;
    bool Unchanged = false; // decodes as the icon does: its stored bytes stay
};

// The pictures in `dir` named as `export` names them for this stem, in icon order.
std::vector<ImportPicture> FindPictures(const std::string& dir,
                                        const std::vector<std::string>& names,
                                        const std::string& stem) {
    std::vector<ImportPicture> pictures;
    for (const std::string& name : names) {
        const std::string path = JoinPath(dir, name);
        kiv::platform::FileStatus status;
        std::string link;
        const auto icon = ExportedIconNumber(name, stem);
        if (icon && (kiv::platform::ReadLink(path, link) ||
                     (kiv::platform::StatusOf(path, status) && status.Regular)))
            pictures.push_back({*icon, path});
    }
    std::sort(pictures.begin(), pictures.end(),
              [](const ImportPicture& a, const ImportPicture& b) { return a.Icon < b.Icon; });
    return pictures;
}

struct CheckedPictures {
    std::vector<const ImportPicture*> Accepted;
    std::size_t Refused = 0;
    std::size_t Unchanged = 0;
};

// Why picture `k` cannot be imported ("" when it can); one that decodes as its icon does is
// marked unchanged. Nothing, after the failure line, when the picture is the output itself.
std::optional<std::string> PictureRefusal(const Context& ctx, std::vector<ImportPicture>& pictures,
                                          std::size_t k, const kiv::TIconTable& table,
                                          kiv::InFile& file, const std::string& dir,
                                          RuledOutput& out, const ImportOptions& options,
                                          const std::optional<kiv::TColor>& background) {
    ImportPicture& p = pictures[k];
    if (const std::string fault = kiv::ForeignFileFault(dir, p.Path, options.AllowLinks);
        !fault.empty())
        return "The picture is refused: " + fault + ".";
    if (p.Icon < 1 || p.Icon > table.Count)
        return IconRangeMessage(p.Icon, table.Count);
    if ((k > 0 && pictures[k - 1].Icon == p.Icon) ||
        (k + 1 < pictures.size() && pictures[k + 1].Icon == p.Icon))
        return "Icon " + std::to_string(p.Icon) + " has a bitmap and a PNG picture.";
    if (!out.NotInput(p.Path, "a picture it is read from"))
        return std::nullopt;
    try {
        out.Watch(kiv::StampOf(p.Path));
        kiv::PixelChanges changes;
        const kiv::Image picture =
            kiv::TakeIconPicture(kiv::ReadPictureToEncode(p.Path), changes, background);
        p.Unchanged = kiv::IconHolds(file, table, static_cast<int>(p.Icon - 1), picture);
        if (p.Unchanged)
            return std::string();
        std::string reason = kiv::ReencodePictureFault(picture);
        if (reason.empty())
            WarnAboutPicture(ctx, p.Path, picture, changes,
                             table.Headers[static_cast<std::size_t>(p.Icon - 1)], p.Icon);
        return reason;
    } catch (const kiv::Exception& e) {
        return std::string(e.what()) + ".";
    }
}

// Each picture is checked before anything is written; a refusal names its file. Pictures are
// not kept: the encoding reads them again, one at a time. A picture that decodes as its icon
// does, in 16-bit terms, leaves the icon's stored bytes as they are.
std::optional<CheckedPictures> CheckPictures(const Context& ctx,
                                             std::vector<ImportPicture>& pictures,
                                             const kiv::TIconTable& table, kiv::InFile& file,
                                             const std::string& dir, RuledOutput& out,
                                             const ImportOptions& options,
                                             const std::optional<kiv::TColor>& background) {
    CheckedPictures checked;
    ProgressLine progress(ctx, "Reading pictures", std::ssize(pictures));
    for (std::size_t k = 0; k < pictures.size(); ++k) {
        const std::optional<std::string> reason =
            PictureRefusal(ctx, pictures, k, table, file, dir, out, options, background);
        if (!reason)
            return std::nullopt;
        if (reason->empty() && pictures[k].Unchanged) {
            ++checked.Unchanged;
        } else if (reason->empty()) {
            checked.Accepted.push_back(&pictures[k]);
        } else {
            Err(ctx) << pictures[k].Path << ": " << *reason << '\n';
            ++checked.Refused;
        }
        progress.Update(static_cast<std::int64_t>(k + 1));
    }
    return checked;
}

// The accepted pictures re-encoded into their icons in one rewrite of the sprite file.
int WriteImport(const Context& ctx, const std::string& sprite, const std::string& dir,
                const std::string& source, const kiv::TIconTable& table, RuledOutput& out,
                const CheckedPictures& checked, const ImportOptions& options,
                const std::optional<kiv::TColor>& background) {
    std::vector<int> indices;
    std::vector<std::int32_t> icons;
    for (const ImportPicture* p : checked.Accepted) {
        indices.push_back(static_cast<int>(p->Icon - 1));
        icons.push_back(static_cast<std::int32_t>(p->Icon));
    }
    std::vector<std::string> buildsOn{"import", "--on-twin", sprite, dir};
    if (!options.OutPath.empty())
        buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
    if (out.CompareRebuild([&](kiv::OutputLock& lock) {
            return JudgeSpriteRebuild(ctx, lock, source, out.Path(), icons, buildsOn);
        }) == OutputVerdict::Kept)
        return ExitFailure;
    const kiv::ReencodeResult result = kiv::ReencodeIcons(
        indices,
        [&checked, &background](std::size_t k) {
            kiv::PixelChanges changes; // told when the picture was first read
            return kiv::TakeIconPicture(kiv::ReadPictureToEncode(checked.Accepted[k]->Path),
                                        changes, background);
        },
        table, out.Path());
    if (!result.Ok)
        return FailWrite(ctx, result.Message, result.Fault);
    if (result.UpToDate)
        SayUpToDate(ctx, out.Path());
    else
        Err(ctx) << "Wrote " << out.Path() << ": "
                 << ReencodedCounts(checked.Accepted.size(), checked.Unchanged) << ".\n";
    return checked.Refused > 0 ? ExitFailure : ExitOk;
}

} // namespace

int ImportCommand(const Context& ctx, const std::string& sprite, const std::string& dir,
                  const ImportOptions& options) {
    return GuardedOutput(ctx, kiv::CannotOpenOutputFile, [&] {
        const std::optional<kiv::TColor> background = ColourOption(options.Background);
        const std::string outPath =
            options.OutPath.empty() ? kiv::TwinName(sprite) : options.OutPath;
        RuledOutput out(ctx, outPath, options.Force);
        if (!NotTheSpriteUnlessInPlace(out, sprite, options.OnTwin))
            return ExitFailure;
        if (!options.DryRun)
            out.Lock();
        const std::string source = BuildingSource(ctx, sprite, outPath, options.OnTwin);
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, source) || !LoadTableOrFail(ctx, source, table))
            return ExitFailure;
        if (const std::string fault = kiv::ReencodeFileFault(table); !fault.empty())
            return Fail(ctx, fault);
        std::vector<std::string> names;
        if (!kiv::platform::IsFolder(dir) || !kiv::platform::ListFolder(dir, names))
            return Fail(ctx, "Cannot open folder " + dir);

        // Pictures are named after the sprite file the user named, also when building on
        // the twin.
        const std::string stem = StemOf(sprite);
        std::vector<ImportPicture> pictures = FindPictures(dir, names, stem);
        if (pictures.empty())
            return Fail(ctx, "No pictures named " + stem + "_NNNN.bmp or .png in " + dir +
                                 "; nothing written.");
        const auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        const std::optional<CheckedPictures> checked =
            CheckPictures(ctx, pictures, table, *file, dir, out, options, background);
        if (!checked)
            return ExitFailure;
        if (checked->Refused > 0 && !options.SkipBad)
            return Fail(ctx, "Nothing was written: " + std::to_string(checked->Refused) + " of " +
                                 std::to_string(pictures.size()) +
                                 " pictures were refused (--skip-bad imports the rest).");
        if (checked->Accepted.empty() && checked->Unchanged == 0)
            return Fail(ctx, "Nothing was written: every picture was refused.");

        if (options.Verbose)
            for (const ImportPicture& p : pictures)
                if (p.Unchanged)
                    ctx.out << "icon " << p.Icon << ": " << p.Path << ", unchanged\n";
        for (const ImportPicture* p : checked->Accepted)
            ctx.out << "icon " << p->Icon << ": " << p->Path << '\n';
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << outPath << " with "
                     << ReencodedCounts(checked->Accepted.size(), checked->Unchanged)
                     << "; nothing written.\n";
            return checked->Refused > 0 ? ExitFailure : ExitOk;
        }
        return WriteImport(ctx, sprite, dir, source, table, out, *checked, options, background);
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct ExtractAllArgs {
    std::string Archive;
    std::string Dir;
    ExtractAllOptions Options;
};
struct ReimportArgs {
    std::string Archive;
    std::string Dir;
    std::string Out; // empty: ReimportOptions' own default
    ReimportOptions Options;
};
struct ImportArgs {
    std::string Sprite;
    std::string Dir;
    ImportOptions Options;
};

void RegisterExtractAll(CommandSet& set) {
    auto a = std::make_shared<ExtractAllArgs>();
    CLI::App* sub = set.Add(
        "extract-all",
        "Extract every member (or those matching PATTERN) into DIR under its own name; unsafe "
        "names are refused and reported, the rest go on.",
        "kivtool extract-all Modgen.dat members --match '*.s16'",
        [a](const Context& c) { return ExtractAllCommand(c, a->Archive, a->Dir, a->Options); });
    AddArchive(sub, a->Archive);
    sub->add_option("DIR", a->Dir, "Folder for the members (made when missing)")->required();
    sub->add_option("--match", a->Options.Match, "Shell-style pattern the names must match");
    sub->add_flag("--dry-run", a->Options.DryRun, "Print what would be written, write nothing");
    sub->add_flag("--force", a->Options.Force,
                  "Overwrite files that differ from the members (kept and listed otherwise)");
}

void RegisterReimport(CommandSet& set) {
    auto a = std::make_shared<ReimportArgs>();
    CLI::App* sub = set.Add(
        "reimport",
        "Rebuild the archive once, taking every member that has a file in DIR from that file "
        "(NAME with its last character changed to '7' first, then NAME) and every other member "
        "unchanged. The output may be the archive itself.",
        "kivtool reimport Modgen.dat members -o Newgen.dat", [a](const Context& c) {
            ReimportOptions options = a->Options;
            if (!a->Out.empty())
                options.OutPath = a->Out;
            return ReimportCommand(c, a->Archive, a->Dir, options);
        });
    AddArchive(sub, a->Archive);
    sub->add_option("DIR", a->Dir, "Folder holding the edited members")->required();
    sub->add_option("-o,--output", a->Out, "The new archive (default: Newgen.dat)");
    sub->add_flag("--dry-run", a->Options.DryRun, "Print what would be written, write nothing");
    AddAllowLinks(sub, a->Options.AllowLinks);
    AddForce(sub, a->Options.Force, kForceRebuild);
}

void RegisterImport(CommandSet& set) {
    auto a = std::make_shared<ImportArgs>();
    ImportOptions& o = a->Options;
    CLI::App* sub = set.Add(
        "import",
        "Re-encode every DIR/<stem>_<NNNN>.bmp or .png (as export names them) into icon NNNN, "
        "in one rewrite of the sprite file (default output: SPRITE with its last character "
        "changed to '7').",
        "kivtool import hero.s16 hero-icons -o hero.s17",
        [a](const Context& c) { return ImportCommand(c, a->Sprite, a->Dir, a->Options); });
    AddSprite(sub, a->Sprite);
    sub->add_option("DIR", a->Dir, "Folder holding the edited pictures")->required();
    sub->add_option("-o,--output", o.OutPath, "Sprite file to write");
    sub->add_flag("--skip-bad", o.SkipBad, "Leave refused pictures out instead of writing nothing");
    sub->add_flag("--dry-run", o.DryRun, "Print what would be written, write nothing");
    sub->add_flag("--verbose", o.Verbose, "List the unchanged pictures too");
    AddAllowLinks(sub, o.AllowLinks);
    AddOnTwin(sub, o.OnTwin);
    AddBackground(sub, o.Background);
    AddForce(sub, o.Force, kForceRebuild);
}

} // namespace

void RegisterBatchCommands(CommandSet& set) {
    RegisterExtractAll(set);
    RegisterReimport(set);
    RegisterImport(set);
}

} // namespace kivtool
