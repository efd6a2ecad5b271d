// The editor's operations: Load S16 with Show, Collage, Bmp Save, Bmp Load and Replace.

#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/IconEncoder.h"
#include "sprite/IconPictures.h"
#include "sprite/PictureFiles.h"

namespace kivtool {

bool LoadTableOrFail(const Context& ctx, const std::string& sprite, kiv::TIconTable& table) {
    switch (kiv::ReadIconTable(sprite, table)) {
    case kiv::ReadTableResult::CannotOpen:
        Fail(ctx, "Could not open " + sprite);
        return false;
    case kiv::ReadTableResult::CountExceeded:
        Err(ctx) << kiv::MaxIconsExceeded << '\n';
        return true;
    case kiv::ReadTableResult::Loaded:
        break;
    }
    return true;
}

bool SpriteFileLooksRight(const Context& ctx, const std::string& sprite) {
    auto file = kiv::InFile::Open(sprite);
    return !file || SpriteLooksRight(ctx, sprite, *file, 0, file->Length());
}

bool IconInRange(const Context& ctx, const kiv::TIconTable& table, std::int64_t icon) {
    if (icon >= 1 && icon <= table.Count)
        return true;
    Fail(ctx, IconRangeMessage(icon, table.Count));
    return false;
}

std::string ExportFileName(const std::string& stem, std::int64_t number,
                           const std::string& extension) {
    std::string digits = std::to_string(number);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return stem + "_" + digits + extension;
}

namespace {

void WarnEndedEarly(const Context& ctx, const kiv::DecodeStats& stats, std::int64_t icon) {
    if (stats.EndedEarly)
        Err(ctx) << kiv::EndedEarlyWarning(icon) << '\n';
}

} // namespace

int ShowCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& outPath, bool force) {
    return Guarded(ctx, [&] {
        if (!NotItsInput(ctx, outPath, sprite, "the sprite file it is read from"))
            return ExitFailure;
        kiv::OutputLock lock(outPath);
        kiv::TIconTable table;
        SpriteFileLooksRight(ctx, sprite); // a warning: the icon is shown anyway
        if (!LoadTableOrFail(ctx, sprite, table) || !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        lock.Watch(file->Stamp());
        kiv::DecodeStats stats;
        const kiv::Image picture =
            kiv::ShowPicture(*file, table, static_cast<int>(icon - 1), &stats);
        file.reset();
        WarnEndedEarly(ctx, stats, icon);
        return WriteUnderRule(ctx, lock, outPath, PictureBytes(picture, outPath), force);
    });
}

int CollageCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                   const std::string& outPath, bool force) {
    return Guarded(ctx, [&] {
        if (!NotItsInput(ctx, outPath, sprite, "the sprite file it is read from"))
            return ExitFailure;
        kiv::OutputLock lock(outPath);
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, sprite) || !LoadTableOrFail(ctx, sprite, table) ||
            !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        lock.Watch(file->Stamp());
        const kiv::CollageResult collage = kiv::CollagePage(*file, table, static_cast<int>(icon));
        file.reset();
        const int status =
            WriteUnderRule(ctx, lock, outPath, PictureBytes(collage.Page, outPath), force);
        ctx.out << collage.NextIconNumber << '\n';
        return status;
    });
}

void WarnAboutPicture(const Context& ctx, const std::string& path, const kiv::Image& picture,
                      const kiv::PixelChanges& changes, const kiv::TIconHeader& header,
                      std::int64_t icon) {
    if (picture.Width() != header.FWidth || picture.Height() != header.FHeight)
        Err(ctx) << "Warning: " << path << " is " << picture.Width() << " x " << picture.Height()
                 << " pixels, the frame of icon " << icon << " is " << header.FWidth << " x "
                 << header.FHeight << "; the frame takes the picture's size.\n";
    for (const std::string& line : kiv::PixelChangeWarnings(path, changes))
        Err(ctx) << line << '\n';
}

kiv::PictureFile LoadPicture(const std::string& path) {
    try {
        return kiv::ReadPictureToEncode(path);
    } catch (const kiv::EFOpenError&) {
        throw;
    } catch (const kiv::Exception& e) {
        // The core texts ("Bitmap image is not valid") do not say which file they concern.
        throw kiv::Exception(path + ": " + e.what());
    }
}

std::string BuildingSource(const Context& ctx, const std::string& sprite, const std::string& target,
                           bool onTwin) {
    const kiv::FileStamp existing = kiv::StampOf(target);
    if (!onTwin || !existing.Exists || !existing.Status.Regular || kiv::SameFile(target, sprite))
        return sprite;
    Err(ctx) << "Building on " << EscapedText(target) << ".\n";
    return target;
}

bool NotTheSpriteUnlessInPlace(const Context& ctx, const std::string& target,
                               const std::string& sprite, bool onTwin) {
    // A sprite file whose name ends in '7' is its own twin, rewritten in place as the
    // editor does; any other is an input the command must not overwrite.
    return onTwin || kiv::TwinName(sprite) == sprite ||
           NotItsInput(ctx, target, sprite, "the sprite file it is read from");
}

int ReencodeCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                    const std::string& picturePath, const std::string& outPath, bool onTwin,
                    bool force) {
    return GuardedOutput(ctx, kiv::CannotOpenOutputFile, [&] {
        const std::string target = outPath.empty() ? kiv::TwinName(sprite) : outPath;
        if (!NotItsInput(ctx, target, picturePath, "the picture it is read from") ||
            !NotTheSpriteUnlessInPlace(ctx, target, sprite, onTwin))
            return ExitFailure;
        kiv::OutputLock lock(target);
        // Building on the twin: an earlier re-encode's output is the file to edit further.
        const std::string source = BuildingSource(ctx, sprite, target, onTwin);
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, source) || !LoadTableOrFail(ctx, source, table) ||
            !IconInRange(ctx, table, icon))
            return ExitFailure;
        lock.Watch(kiv::StampOf(picturePath));
        kiv::PixelChanges changes;
        const kiv::Image picture = kiv::TakeIconPicture(LoadPicture(picturePath), changes);
        const int index = static_cast<int>(icon - 1);
        // A picture that cannot be encoded is refused before any comparison.
        if (const std::string fault = kiv::ReencodePictureFault(picture); !fault.empty())
            return Fail(ctx, fault);
        if (!force) {
            std::vector<std::string> buildsOn{"reencode", "--on-twin", sprite, std::to_string(icon),
                                              picturePath};
            if (!outPath.empty())
                buildsOn.insert(buildsOn.end(), {"-o", outPath});
            if (JudgeSpriteRebuild(ctx, lock, source, target, {static_cast<std::int32_t>(icon)},
                                   buildsOn) == RebuildVerdict::Kept)
                return ExitFailure;
        }
        const kiv::ReencodeResult result = kiv::ReencodeIcons({{index, &picture}}, table, target);
        if (!result.Ok)
            return FailWrite(ctx, result.Message, result.Fault);
        WarnAboutPicture(ctx, picturePath, picture, changes, table.Headers[index], icon);
        if (result.UpToDate)
            SayUpToDate(ctx, target);
        return ExitOk;
    });
}

int ExportCommand(const Context& ctx, const std::string& sprite, const std::string& dir, bool force,
                  const std::string& format) {
    return Guarded(ctx, [&] {
        if (format != "bmp" && format != "png")
            return Fail(ctx, "Unknown picture format " + format + ": bmp or png.");
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, sprite) || !LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        if (!MakeFolder(ctx, dir))
            return ExitFailure;

        const std::string stem = StemOf(sprite);
        int status = ExitOk;
        ProgressLine progress(ctx, "Exporting", table.Count);
        for (int n = 1; n <= table.Count; ++n) {
            const std::string path = JoinPath(dir, ExportFileName(stem, n, "." + format));
            try {
                if (!NotItsInput(ctx, path, sprite, "the sprite file it is read from")) {
                    status = ExitFailure;
                    continue;
                }
                kiv::OutputLock lock(path);
                lock.Watch(file->Stamp());
                kiv::DecodeStats stats;
                const kiv::Image picture = kiv::ShowPicture(*file, table, n - 1, &stats);
                WarnEndedEarly(ctx, stats, n);
                const std::vector<std::uint8_t> bytes = format == "png"
                                                            ? kiv::EncodePng(picture, kiv::BackKey)
                                                            : kiv::EncodeBitmap(picture);
                const Existing existing = CompareExisting(path, bytes.data(), bytes.size());
                if (existing == Existing::Different && !force) {
                    // Most likely the user's edit of an earlier export.
                    Err(ctx) << "kept changed file " << path << "; --force overwrites\n";
                    status = ExitFailure;
                    continue;
                }
                if (existing != Existing::Same) {
                    lock.Watch(kiv::StampOf(path));
                    kiv::WriteWholeFile(path, bytes.data(), bytes.size());
                }
                ctx.out << path << '\n';
            } catch (const kiv::EFrameTooLarge& e) {
                // One icon that cannot be shown does not stop the others.
                Err(ctx) << "Icon " << n << ": " << e.what() << ".\n";
                status = ExitFailure;
            }
            progress.Update(n);
        }
        return status;
    });
}

} // namespace kivtool
