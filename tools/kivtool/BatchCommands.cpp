// Batch work: every member out, a folder of members back in, a folder of icons back in.

#include "CommandSupport.h"
#include "SpriteSupport.h"

#include "archive/ArchiveOps.h"
#include "base/FileStream.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/IconEncoder.h"
#include "sprite/PictureFiles.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

namespace kivtool {

namespace fs = std::filesystem;

namespace {

// Joined with '/', which Windows takes too, so paths print alike on every system.
std::string Join(const std::string& dir, const std::string& name) {
    return (fs::path(dir) / name).generic_string();
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
        // A dry run refuses what Extract would refuse, in its words.
        const auto source = kiv::InFile::Open(archive);
        if (!source)
            return Fail(ctx, kiv::MainDataFileNotFound);
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
                Err(ctx) << "Cannot extract member \"" << PrintableName(entry.Name)
                         << "\": an earlier member has the same name.\n";
                ++refused;
                continue;
            }
            const std::string path = Join(dir, entry.Name);
            // A file that already holds other bytes may be the user's edit.
            const std::int64_t size =
                entry.Finish > entry.Start ? std::int64_t{entry.Finish} - entry.Start : 0;
            std::error_code ec;
            if (fs::exists(path, ec)) {
                if (kiv::FileHolds(path, *source, entry.Start, size)) {
                    ctx.out << path << '\n';
                    ++extracted;
                    continue;
                }
                if (!options.Force) {
                    Err(ctx) << "kept changed file " << PrintableName(path)
                             << "; --force overwrites\n";
                    ++kept;
                    continue;
                }
            }
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
                    Err(ctx) << WithReason(result.Message, result.Reason) << '\n';
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

namespace {

// The file of the folder that holds a member's new bytes: its twin (the name with its last
// character changed to '7', as the editor and import write it) when there is one, else a
// file of the member's own name; empty when neither exists.
std::string MemberFile(const std::string& dir, const std::string& name) {
    std::error_code ec;
    for (const std::string& candidate : {kiv::TwinName(name), name}) {
        const std::string path = Join(dir, candidate);
        if (fs::is_regular_file(path, ec))
            return path;
    }
    return {};
}

} // namespace

int ReimportCommand(const Context& ctx, const std::string& archive, const std::string& dir,
                    const ReimportOptions& options) {
    return Guarded(ctx, [&] {
        // With a plausible directory and no damaged member, members lie back to back behind
        // the directory, inside the file: a rebuild in one pass gives what replacing them one
        // by one gives.
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing) ||
            !NoDamagedMember(ctx, archive, listing))
            return ExitFailure;
        auto in = kiv::InFile::Open(archive);
        if (!in)
            return Fail(ctx, kiv::CannotOpenArchive(archive));
        const std::int64_t length = in->Length();
        const auto& entries = listing.Entries;

        // Every member with a file in the folder takes that file's bytes. Only its length is
        // kept; the rebuild opens it again when its turn comes, so an archive of many members
        // never holds more than one member file open.
        std::vector<kiv::MemberSource> sources;
        std::size_t changedCount = 0;
        std::int64_t newLength = length;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const kiv::TArchiveEntry& entry = entries[k];
            if (!kiv::UnsafeNameReason(entry.Name).empty())
                continue;
            const std::string path = MemberFile(dir, entry.Name);
            if (path.empty())
                continue;
            const auto file = kiv::InFile::Open(path);
            if (!file)
                return Fail(ctx, kiv::CannotOpenTwin(path));
            const std::int64_t oldSize = std::int64_t{entry.Finish} - entry.Start;
            const bool changed = !kiv::FileHolds(path, *in, entry.Start, oldSize);
            changedCount += changed ? 1 : 0;
            newLength += file->Length() - oldSize;
            sources.push_back({static_cast<std::int32_t>(k + 1), entry.Start, entry.Finish, path,
                               file->Length()});
            ctx.out << PrintableName(entry.Name) << ": from " << path;
            if (changed)
                ctx.out << ", " << oldSize << " -> " << file->Length() << " bytes\n";
            else
                ctx.out << ", unchanged\n";
        }
        if (sources.empty())
            return Fail(ctx, "None of the archive's members is in " + dir + "; nothing written.");
        if (const std::string refusal = kiv::ArchiveLengthRefusal(newLength); !refusal.empty())
            return Fail(ctx, refusal);
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << options.OutPath << " (" << newLength
                     << " bytes) with " << changedCount << " of " << entries.size()
                     << " members replaced; nothing written.\n";
            return ExitOk;
        }

        std::optional<kiv::SafeFile> out;
        try {
            out.emplace(options.OutPath);
        } catch (const kiv::EFCreateError& e) {
            return FailWrite(ctx, kiv::CannotOpenNewArchive(options.OutPath), e.Reason());
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
        return ExitOk;
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
    std::int64_t Pixels = 0;
    bool Unchanged = false; // decodes as the icon does: its stored bytes stay
};

// Re-encodes every accepted picture into `outPath`, as the chain of single re-encodes
// would. Pictures are read again here, a part of at most `budget` pixels at a time (one
// picture at least), so memory stays bounded however many large pictures the folder
// holds; each part but the last is written to a temporary file the next one starts from.
kiv::ReencodeResult EncodePictures(const std::vector<const ImportPicture*>& accepted,
                                   const kiv::TIconTable& table, const std::string& outPath,
                                   std::int64_t budget) {
    kiv::ReencodeResult failed;
    failed.OutputPath = outPath;
    // Reserves a temporary name beside the output for the parts before the last; the
    // file is removed when this ends, whatever happened.
    std::optional<kiv::SafeFile> part;
    auto working = std::make_unique<kiv::TIconTable>(table);
    std::size_t next = 0;
    while (true) {
        std::size_t end = next;
        std::int64_t pixels = 0;
        while (end < accepted.size() && (end == next || pixels + accepted[end]->Pixels <= budget))
            pixels += accepted[end++]->Pixels;

        std::vector<kiv::Image> pictures;
        pictures.reserve(end - next);
        std::vector<std::pair<int, const kiv::Image*>> edits;
        for (std::size_t k = next; k < end; ++k) {
            kiv::PixelChanges changes; // told when the picture was first read
            pictures.push_back(
                kiv::TakeIconPicture(kiv::ReadPictureToEncode(accepted[k]->Path), changes));
            edits.push_back({static_cast<int>(accepted[k]->Icon - 1), &pictures.back()});
        }
        const bool last = end == accepted.size();
        if (!last && !part) {
            try {
                part.emplace(outPath);
                part->CloseTemporary(); // each part replaces it
            } catch (const kiv::EFCreateError& e) {
                failed.Message = kiv::CannotOpenOutputFile;
                failed.Reason = e.Reason();
                return failed;
            }
        }
        kiv::ReencodeResult result =
            kiv::ReencodeIcons(edits, *working, last ? outPath : part->TempPath());
        if (!result.Ok || last) {
            result.OutputPath = outPath;
            return result;
        }
        if (kiv::ReadIconTable(part->TempPath(), *working) != kiv::ReadTableResult::Loaded) {
            failed.Message = kiv::CannotOpenSpriteFile;
            return failed;
        }
        next = end;
    }
}

} // namespace

int ImportCommand(const Context& ctx, const std::string& sprite, const std::string& dir,
                  const ImportOptions& options) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, sprite) || !LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        if (const std::string fault = kiv::ReencodeFileFault(table); !fault.empty())
            return Fail(ctx, fault);
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            return Fail(ctx, "Cannot open folder " + dir);

        const std::string stem = fs::path(sprite).stem().string();
        std::vector<ImportPicture> pictures;
        for (const auto& item : fs::directory_iterator(dir)) {
            const auto icon = ExportedIconNumber(item.path().filename().string(), stem);
            if (icon && item.is_regular_file(ec))
                pictures.push_back({*icon, item.path().generic_string()});
        }
        if (pictures.empty())
            return Fail(ctx, "No pictures named " + stem + "_NNNN.bmp or .png in " + dir +
                                 "; nothing written.");
        std::sort(pictures.begin(), pictures.end(),
                  [](const ImportPicture& a, const ImportPicture& b) { return a.Icon < b.Icon; });

        // Each picture is checked before anything is written; a refusal names its file.
        // Pictures are not kept: the encoding reads them again, a part at a time.
        // A picture that decodes as its icon does, in 16-bit terms, leaves the icon's
        // stored bytes as they are.
        const auto source = kiv::InFile::Open(table.Path);
        if (!source)
            return Fail(ctx, kiv::SpriteFileNotFound);
        ProgressLine progress(ctx, "Reading pictures", std::ssize(pictures));
        std::vector<const ImportPicture*> accepted;
        std::size_t refused = 0, unchanged = 0;
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            ImportPicture& p = pictures[k];
            std::string reason;
            if (p.Icon < 1 || p.Icon > table.Count) {
                reason = IconRangeMessage(p.Icon, table.Count);
            } else if ((k > 0 && pictures[k - 1].Icon == p.Icon) ||
                       (k + 1 < pictures.size() && pictures[k + 1].Icon == p.Icon)) {
                reason = "Icon " + std::to_string(p.Icon) + " has a bitmap and a PNG picture.";
            } else {
                try {
                    kiv::PixelChanges changes;
                    const kiv::Image picture =
                        kiv::TakeIconPicture(kiv::ReadPictureToEncode(p.Path), changes);
                    p.Pixels = std::int64_t{picture.Width()} * picture.Height();
                    p.Unchanged =
                        kiv::IconHolds(*source, table, static_cast<int>(p.Icon - 1), picture);
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

        const std::string outPath =
            options.OutPath.empty() ? kiv::TwinName(table.Path) : options.OutPath;
        for (const ImportPicture& p : pictures)
            if (p.Unchanged)
                ctx.out << "icon " << p.Icon << ": " << p.Path << ", unchanged\n";
        for (const ImportPicture* p : accepted)
            ctx.out << "icon " << p->Icon << ": " << p->Path << '\n';
        const std::string kept =
            unchanged > 0 ? ", " + std::to_string(unchanged) + " unchanged" : std::string();
        if (options.DryRun) {
            Err(ctx) << "Dry run: would write " << outPath << " with " << accepted.size()
                     << " icons re-encoded" << kept << "; nothing written.\n";
            return refused > 0 ? ExitFailure : ExitOk;
        }
        const kiv::ReencodeResult result =
            EncodePictures(accepted, table, outPath, options.PixelBudget);
        if (!result.Ok)
            return FailWrite(ctx, result.Message, result.Reason);
        Err(ctx) << "Wrote " << outPath << ": " << accepted.size() << " icons re-encoded" << kept
                 << ".\n";
        return refused > 0 ? ExitFailure : ExitOk;
    });
}

} // namespace kivtool
