// Batch work: every member out, a folder of members back in, a folder of icons back in.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "archive/ArchiveOps.h"
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

int ExtractAllCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                      const ExtractAllOptions& options) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing))
            return ExitFailure;
        if (!options.DryRun && !MakeFolder(ctx, dir))
            return ExitFailure;
        // A dry run refuses what Extract would refuse, in its words.
        const auto source = kiv::InFile::Open(archive);
        if (!source)
            return FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        const std::int64_t length = source->Length();

        int extracted = 0, refused = 0, kept = 0, failed = 0;
        std::set<std::string> names;
        ProgressLine progress(ctx, "Extracting", std::ssize(listing.Entries));
        std::int64_t done = 0;
        for (const kiv::TArchiveEntry& entry : listing.Entries) {
            progress.Update(done++);
            if (!options.Match.empty() && !kiv::platform::NameMatches(options.Match, entry.Name))
                continue;
            // A damaged member's bytes are not all there; the others are whole and come out.
            if (const std::string fault = kiv::MemberFault(entry, length); !fault.empty()) {
                Err(ctx) << "Cannot extract member \"" << entry.Name << "\": it " << fault << ".\n";
                ++refused;
                continue;
            }
            // The name becomes a path inside DIR: it must stay there.
            if (const std::string refusal = kiv::UnsafeNameRefusal(entry.Name); !refusal.empty()) {
                Err(ctx) << refusal << '\n';
                ++refused;
                continue;
            }
            // A second member of the same name would overwrite the first one's file, and a
            // reimport would then give the first member the second one's bytes.
            if (!names.insert(entry.Name).second) {
                Err(ctx) << "Cannot extract member \"" << EscapedText(entry.Name)
                         << "\": an earlier member has the same name.\n";
                ++refused;
                continue;
            }
            const std::string path = JoinPath(dir, entry.Name);
            // A file that already holds other bytes may be the user's edit.
            const std::int64_t size =
                entry.Finish > entry.Start ? std::int64_t{entry.Finish} - entry.Start : 0;
            std::optional<kiv::OutputLock> lock;
            if (!options.DryRun)
                lock.emplace(path);
            const Existing existing = CompareExisting(path, *source, entry.Start, size);
            if (existing == Existing::Same) {
                ctx.out << path << '\n';
                ++extracted;
                continue;
            }
            if (existing == Existing::Different && !options.Force) {
                Err(ctx) << "kept changed file " << EscapedText(path) << "; --force overwrites\n";
                ++kept;
                continue;
            }
            if (lock)
                lock->Watch(kiv::StampOf(path));
            if (options.DryRun) {
                const std::string refusal = kiv::ExtractTargetRefusal(
                    archive, length, entry.Name, entry.Start, entry.Finish, path);
                if (!refusal.empty()) {
                    Err(ctx) << refusal << '\n';
                    ++refused;
                    continue;
                }
            } else {
                const kiv::OpResult result =
                    kiv::ExtractMember(archive, kiv::ArchiveRow::FromEntry(entry), path);
                if (!result.Ok) {
                    Err(ctx) << kiv::WithFault(result.Message, result.Fault) << '\n';
                    ++(result.WriteFailed ? failed : refused);
                    continue;
                }
            }
            ctx.out << path << '\n';
            ++extracted;
        }
        if (options.DryRun)
            Err(ctx) << "Dry run: would extract " << extracted << " members; nothing written.\n";
        else
            Err(ctx) << "Extracted " << extracted << " members.\n";
        if (failed > 0)
            Err(ctx) << failed << (failed == 1 ? " member" : " members")
                     << " could not be written.\n";
        if (refused > 0)
            Err(ctx) << refused << (refused == 1 ? " member was" : " members were")
                     << " refused.\n";
        return refused > 0 || kept > 0 || failed > 0 ? ExitFailure : ExitOk;
    });
}

int ReimportCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                    const ReimportOptions& options) {
    return GuardedOutput(ctx, kiv::CannotOpenNewArchive(options.OutPath), [&] {
        // With a plausible directory and no damaged member, members lie back to back behind
        // the directory, inside the file: a rebuild in one pass gives what replacing them one
        // by one gives. The output is held before the archive is listed, as Replace holds it.
        std::optional<kiv::OutputLock> lock;
        if (!options.DryRun)
            lock.emplace(options.OutPath);
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing) ||
            !NoDamagedMember(ctx, archive, listing))
            return ExitFailure;
        auto in = kiv::InFile::Open(archive);
        if (!in)
            return Fail(ctx, kiv::CannotOpenArchive(archive));
        const std::int64_t length = in->Length();
        if (!kiv::platform::IsFolder(dir))
            return Fail(ctx, "Cannot open folder " + dir);
        const auto& entries = listing.Entries;

        // Every member with a file in the folder takes that file's bytes. Only its length is
        // kept; the rebuild opens it again when its turn comes, so an archive of many members
        // never holds more than one member file open.
        std::vector<kiv::MemberSource> sources;
        std::size_t changedCount = 0, refused = 0;
        std::int64_t newLength = length;
        for (const kiv::MemberFile& chosen :
             kiv::ChooseMemberFiles(listing, dir, options.AllowLinks)) {
            if (!chosen.Refusal.empty()) {
                Err(ctx) << EscapedText(chosen.Path) << " is refused: " << chosen.Refusal << ".\n";
                ++refused;
                continue;
            }
            const kiv::TArchiveEntry& entry = entries[static_cast<std::size_t>(chosen.Row - 1)];
            const std::string& path = chosen.Path;
            if (!NotItsInput(ctx, options.OutPath, path, "a member file it is read from"))
                return ExitFailure;
            const auto file = kiv::InFile::Open(path);
            if (!file)
                return Fail(ctx, kiv::CannotOpenTwin(path));
            const std::int64_t oldSize = std::int64_t{entry.Finish} - entry.Start;
            const bool changed = !kiv::FileHolds(path, *in, entry.Start, oldSize);
            changedCount += changed ? 1 : 0;
            newLength += file->Length() - oldSize;
            sources.push_back({chosen.Row, entry.Start, entry.Finish, path, file->Length()});
            ctx.out << PrintableName(entry.Name) << ": from " << PrintableName(path);
            if (changed)
                ctx.out << ", " << oldSize << " -> " << file->Length() << " bytes\n";
            else
                ctx.out << ", unchanged\n";
        }
        const auto refusedLine = [&] {
            if (refused > 0)
                Err(ctx) << refused << (refused == 1 ? " file was" : " files were")
                         << " refused.\n";
            return refused > 0 ? ExitFailure : ExitOk;
        };
        if (sources.empty()) {
            refusedLine();
            return Fail(ctx, "None of the archive's members is in " + dir + "; nothing written.");
        }
        if (const std::string refusal = kiv::ArchiveLengthRefusal(newLength); !refusal.empty())
            return Fail(ctx, refusal);
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << options.OutPath << " (" << newLength
                     << " bytes) with " << changedCount << " of " << entries.size()
                     << " members replaced; nothing written.\n";
            return refusedLine();
        }

        if (!options.Force) {
            std::vector<std::string> buildsOn{"reimport", options.OutPath, dir};
            if (options.OutPath != "Newgen.dat")
                buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
            switch (JudgeArchiveRebuild(ctx, *lock, archive, options.OutPath, sources, buildsOn)) {
            case RebuildVerdict::Kept:
                return ExitFailure;
            case RebuildVerdict::UpToDate:
                SayUpToDate(ctx, options.OutPath);
                return refusedLine();
            case RebuildVerdict::Write:
                break;
            }
        }
        std::optional<kiv::SafeFile> out;
        try {
            out.emplace(options.OutPath);
        } catch (const kiv::EFCreateError& e) {
            return FailWrite(ctx, kiv::CannotOpenNewArchive(options.OutPath), e.Fault());
        }
        ProgressLine progress(ctx, "Writing " + options.OutPath, newLength);
        const kiv::OpResult copied =
            kiv::CopyRebuilt(archive, *in, *out, sources, static_cast<std::int32_t>(entries.size()),
                             [&progress](std::int64_t size) { progress.Update(size); });
        if (!copied.Ok)
            return Fail(ctx, copied.Message + ": it changed while it was read; nothing written.");
        // The output may be the archive itself: it is read no more from here on.
        in.reset();
        out->Commit();
        Err(ctx) << "Wrote " << options.OutPath << ": " << changedCount << " of " << entries.size()
                 << " members replaced.\n";
        return refusedLine();
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

} // namespace

int ImportCommand(const Context& ctx, const std::string& sprite, const std::string& dir,
                  const ImportOptions& options) {
    return GuardedOutput(ctx, kiv::CannotOpenOutputFile, [&] {
        const std::optional<kiv::TColor> background = ColourOption(options.Background);
        const std::string outPath =
            options.OutPath.empty() ? kiv::TwinName(sprite) : options.OutPath;
        if (!NotTheSpriteUnlessInPlace(ctx, outPath, sprite, options.OnTwin))
            return ExitFailure;
        std::optional<kiv::OutputLock> lock;
        if (!options.DryRun)
            lock.emplace(outPath);
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
        if (pictures.empty())
            return Fail(ctx, "No pictures named " + stem + "_NNNN.bmp or .png in " + dir +
                                 "; nothing written.");
        std::sort(pictures.begin(), pictures.end(),
                  [](const ImportPicture& a, const ImportPicture& b) { return a.Icon < b.Icon; });

        // Each picture is checked before anything is written; a refusal names its file.
        // Pictures are not kept: the encoding reads them again, one at a time. A picture
        // that decodes as its icon does, in 16-bit terms, leaves the icon's stored bytes as
        // they are.
        const auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        ProgressLine progress(ctx, "Reading pictures", std::ssize(pictures));
        std::vector<const ImportPicture*> accepted;
        std::size_t refused = 0, unchanged = 0;
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            ImportPicture& p = pictures[k];
            std::string reason;
            if (const std::string fault = kiv::ForeignFileFault(dir, p.Path, options.AllowLinks);
                !fault.empty()) {
                reason = "The picture is refused: " + fault + ".";
            } else if (p.Icon < 1 || p.Icon > table.Count) {
                reason = IconRangeMessage(p.Icon, table.Count);
            } else if ((k > 0 && pictures[k - 1].Icon == p.Icon) ||
                       (k + 1 < pictures.size() && pictures[k + 1].Icon == p.Icon)) {
                reason = "Icon " + std::to_string(p.Icon) + " has a bitmap and a PNG picture.";
            } else if (!NotItsInput(ctx, outPath, p.Path, "a picture it is read from")) {
                return ExitFailure;
            } else {
                try {
                    if (lock)
                        lock->Watch(kiv::StampOf(p.Path));
                    kiv::PixelChanges changes;
                    const kiv::Image picture =
                        kiv::TakeIconPicture(kiv::ReadPictureToEncode(p.Path), changes, background);
                    p.Unchanged =
                        kiv::IconHolds(*file, table, static_cast<int>(p.Icon - 1), picture);
                    if (!p.Unchanged)
                        reason = kiv::ReencodePictureFault(picture);
                    if (reason.empty() && !p.Unchanged)
                        WarnAboutPicture(ctx, p.Path, picture, changes,
                                         table.Headers[static_cast<std::size_t>(p.Icon - 1)],
                                         p.Icon);
                } catch (const kiv::Exception& e) {
                    reason = std::string(e.what()) + ".";
                }
            }
            if (reason.empty() && p.Unchanged) {
                ++unchanged;
            } else if (reason.empty()) {
                accepted.push_back(&p);
            } else {
                Err(ctx) << p.Path << ": " << reason << '\n';
                ++refused;
            }
            progress.Update(static_cast<std::int64_t>(k + 1));
        }
        if (refused > 0 && !options.SkipBad)
            return Fail(ctx, "Nothing was written: " + std::to_string(refused) + " of " +
                                 std::to_string(pictures.size()) +
                                 " pictures were refused (--skip-bad imports the rest).");
        if (accepted.empty() && unchanged == 0)
            return Fail(ctx, "Nothing was written: every picture was refused.");

        if (options.Verbose)
            for (const ImportPicture& p : pictures)
                if (p.Unchanged)
                    ctx.out << "icon " << p.Icon << ": " << p.Path << ", unchanged\n";
        for (const ImportPicture* p : accepted)
            ctx.out << "icon " << p->Icon << ": " << p->Path << '\n';
        const std::string counts = ReencodedCounts(accepted.size(), unchanged);
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << outPath << " with " << counts
                     << "; nothing written.\n";
            return refused > 0 ? ExitFailure : ExitOk;
        }
        std::vector<int> indices;
        std::vector<std::int32_t> icons;
        for (const ImportPicture* p : accepted) {
            indices.push_back(static_cast<int>(p->Icon - 1));
            icons.push_back(static_cast<std::int32_t>(p->Icon));
        }
        if (!options.Force) {
            std::vector<std::string> buildsOn{"import", "--on-twin", sprite, dir};
            if (!options.OutPath.empty())
                buildsOn.insert(buildsOn.end(), {"-o", options.OutPath});
            if (JudgeSpriteRebuild(ctx, *lock, source, outPath, icons, buildsOn) ==
                RebuildVerdict::Kept)
                return ExitFailure;
        }
        const kiv::ReencodeResult result = kiv::ReencodeIcons(
            indices,
            [&accepted, &background](std::size_t k) {
                kiv::PixelChanges changes; // told when the picture was first read
                return kiv::TakeIconPicture(kiv::ReadPictureToEncode(accepted[k]->Path), changes,
                                            background);
            },
            table, outPath);
        if (!result.Ok)
            return FailWrite(ctx, result.Message, result.Fault);
        if (result.UpToDate)
            SayUpToDate(ctx, outPath);
        else
            Err(ctx) << "Wrote " << outPath << ": " << counts << ".\n";
        return refused > 0 ? ExitFailure : ExitOk;
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
