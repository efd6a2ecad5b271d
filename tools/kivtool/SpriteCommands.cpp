// The editor's operations: Load S16 with Show, Collage, Bmp Save, Bmp Load and Replace.

#include "CommandSet.h"
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

#include <CLI/CLI.hpp>

#include <memory>

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
    return kiv::IconFileName(stem, number, extension);
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
        RuledOutput out(ctx, outPath, force);
        if (!out.NotInput(sprite, "the sprite file it is read from"))
            return ExitFailure;
        out.Lock();
        kiv::TIconTable table;
        SpriteFileLooksRight(ctx, sprite); // a warning: the icon is shown anyway
        if (!LoadTableOrFail(ctx, sprite, table) || !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        out.Watch(file->Stamp());
        kiv::DecodeStats stats;
        const kiv::Image picture =
            kiv::ShowPicture(*file, table, static_cast<int>(icon - 1), &stats);
        file.reset();
        WarnEndedEarly(ctx, stats, icon);
        return out.Write(PictureBytes(picture, outPath));
    });
}

int CollageCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                   const std::string& outPath, bool force) {
    return Guarded(ctx, [&] {
        RuledOutput out(ctx, outPath, force);
        if (!out.NotInput(sprite, "the sprite file it is read from"))
            return ExitFailure;
        out.Lock();
        kiv::TIconTable table;
        if (!SpriteFileLooksRight(ctx, sprite) || !LoadTableOrFail(ctx, sprite, table) ||
            !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return FailOpen(ctx, kiv::SpriteFileNotFound, table.Path);
        out.Watch(file->Stamp());
        const kiv::CollageResult collage = kiv::CollagePage(*file, table, static_cast<int>(icon));
        file.reset();
        const int status = out.Write(PictureBytes(collage.Page, outPath));
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

std::string BuildingSourceOf(const std::string& sprite, const std::string& target, bool onTwin) {
    const kiv::FileStamp existing = kiv::StampOf(target);
    if (!onTwin || !existing.Exists || !existing.Status.Regular || kiv::SameFile(target, sprite))
        return sprite;
    return target;
}

std::string BuildingSource(const Context& ctx, const std::string& sprite, const std::string& target,
                           bool onTwin) {
    const std::string source = BuildingSourceOf(sprite, target, onTwin);
    if (source != sprite)
        Err(ctx) << "Building on " << EscapedText(target) << ".\n";
    return source;
}

bool NotTheSpriteUnlessInPlace(const RuledOutput& out, const std::string& sprite, bool onTwin) {
    // A sprite file whose name ends in '7' is its own twin, rewritten in place as the
    // editor does; any other is an input the command must not overwrite.
    return onTwin || kiv::TwinName(sprite) == sprite ||
           out.NotInput(sprite, "the sprite file it is read from");
}

ReencodeOutcome ReencodeOne(const Context& ctx, const ReencodeRequest& request, int& status) {
    status = ExitFailure;
    const std::string& sprite = request.Sprite;
    const std::string& picturePath = request.PicturePath;
    const std::int64_t icon = request.Icon;
    const std::string target = request.OutPath.empty() ? kiv::TwinName(sprite) : request.OutPath;
    RuledOutput out(ctx, target, request.Force);
    if (!out.NotInput(picturePath, "the picture it is read from") ||
        !NotTheSpriteUnlessInPlace(out, sprite, request.OnTwin))
        return ReencodeOutcome::Failed;
    out.Lock();
    // Building on the twin: an earlier re-encode's output is the file to edit further.
    const std::string source = request.Quiet ? BuildingSourceOf(sprite, target, request.OnTwin)
                                             : BuildingSource(ctx, sprite, target, request.OnTwin);
    kiv::TIconTable table;
    if (!SpriteFileLooksRight(ctx, source) || !LoadTableOrFail(ctx, source, table) ||
        !IconInRange(ctx, table, icon))
        return ReencodeOutcome::Failed;
    kiv::PixelChanges changes;
    kiv::Image picture;
    if (request.Picture) {
        picture = kiv::TakeIconPicture(*request.Picture, changes, request.Background);
    } else {
        out.Watch(kiv::StampOf(picturePath));
        picture = kiv::TakeIconPicture(LoadPicture(picturePath), changes, request.Background);
    }
    const int index = static_cast<int>(icon - 1);
    // A picture that cannot be encoded is refused before any comparison.
    if (const std::string fault = kiv::ReencodePictureFault(picture); !fault.empty()) {
        Fail(ctx, fault);
        return ReencodeOutcome::Failed;
    }
    std::vector<std::string> buildsOn{"reencode", "--on-twin", sprite, std::to_string(icon),
                                      picturePath};
    if (!request.OutPath.empty())
        buildsOn.insert(buildsOn.end(), {"-o", request.OutPath});
    if (out.CompareRebuild([&](kiv::OutputLock& lock) {
            return JudgeSpriteRebuild(ctx, lock, source, target, {static_cast<std::int32_t>(icon)},
                                      buildsOn);
        }) == OutputVerdict::Kept)
        return ReencodeOutcome::Failed;
    const kiv::ReencodeResult result = kiv::ReencodeIcons({{index, &picture}}, table, target);
    if (!result.Ok) {
        FailWrite(ctx, result.Message, result.Fault);
        return ReencodeOutcome::Failed;
    }
    WarnAboutPicture(ctx, picturePath, picture, changes, table.Headers[index], icon);
    status = ExitOk;
    if (!result.UpToDate)
        return ReencodeOutcome::Written;
    if (!request.Quiet)
        SayUpToDate(ctx, target);
    return ReencodeOutcome::UpToDate;
}

int ReencodeCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                    const std::string& picturePath, const std::string& outPath, bool onTwin,
                    bool force, const std::string& background) {
    return GuardedOutput(ctx, kiv::CannotOpenOutputFile, [&] {
        int status = ExitFailure;
        ReencodeRequest request{sprite, icon, picturePath, outPath, onTwin, force};
        request.Background = ColourOption(background);
        ReencodeOne(ctx, request, status);
        return status;
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
                // Listed whether written or up to date; --force writes over only a picture
                // that differs.
                RuledOutput out(ctx, path, force);
                out.QuietWhenUpToDate();
                out.CompareEvenWithForce();
                if (!out.NotInput(sprite, "the sprite file it is read from")) {
                    status = ExitFailure;
                    continue;
                }
                out.Lock();
                out.Watch(file->Stamp());
                kiv::DecodeStats stats;
                const kiv::Image picture = kiv::ShowPicture(*file, table, n - 1, &stats);
                WarnEndedEarly(ctx, stats, n);
                const std::vector<std::uint8_t> bytes = format == "png"
                                                            ? kiv::EncodePng(picture, kiv::BackKey)
                                                            : kiv::EncodeBitmap(picture);
                const OutputVerdict verdict = out.Compare([&] {
                    const Existing existing = CompareExisting(path, bytes.data(), bytes.size());
                    // A picture saved again by an image editor has other bytes but the same
                    // pixels: it is up to date.
                    return existing == Existing::Different && !force &&
                                   kiv::PictureFileShows(picture, path, kiv::BackKey)
                               ? Existing::Same
                               : existing;
                });
                if (verdict == OutputVerdict::Kept) {
                    status = ExitFailure;
                    continue;
                }
                if (verdict == OutputVerdict::Write)
                    kiv::WriteWholeFile(path, bytes.data(), bytes.size());
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

namespace kivtool {

namespace {

struct IconPictureArgs {
    std::string Sprite;
    std::int64_t Icon = 0;
    std::string Out;
    bool Force = false;
};
struct ReencodeArgs {
    std::string Sprite;
    std::int64_t Icon = 0;
    std::string Picture;
    std::string Out;
    bool OnTwin = false;
    std::string Background;
    bool Force = false;
};
struct ExportArgs {
    std::string Sprite;
    std::string Dir;
    bool Force = false;
    std::string Format = "bmp";
};

// show and collage: an icon of a sprite file, and a picture to write.
CLI::App* AddIconPicture(CommandSet& set, const std::string& name, const std::string& description,
                         const std::string& example,
                         int (*command)(const Context&, const std::string&, std::int64_t,
                                        const std::string&, bool)) {
    auto a = std::make_shared<IconPictureArgs>();
    CLI::App* sub = set.Add(name, description, example, [a, command](const Context& c) {
        return command(c, a->Sprite, a->Icon, a->Out, a->Force);
    });
    AddSprite(sub, a->Sprite);
    AddIcon(sub, a->Icon);
    AddPictureOutput(sub, a->Out);
    AddForce(sub, a->Force, kForceFile);
    return sub;
}

void RegisterReencode(CommandSet& set) {
    auto a = std::make_shared<ReencodeArgs>();
    CLI::App* sub =
        set.Add("reencode",
                "Re-encode a Windows bitmap into icon ICON and write the whole sprite file again "
                "(default: SPRITE with its last character changed to '7').",
                "kivtool reencode hero.s16 3 hero3.bmp -o hero.s17", [a](const Context& c) {
                    return ReencodeCommand(c, a->Sprite, a->Icon, a->Picture, a->Out, a->OnTwin,
                                           a->Force, a->Background);
                });
    AddSprite(sub, a->Sprite);
    AddIcon(sub, a->Icon);
    sub->add_option("PICTURE", a->Picture, "The Windows bitmap to encode")->required();
    sub->add_option("-o,--output", a->Out, "Sprite file to write");
    AddOnTwin(sub, a->OnTwin);
    AddBackground(sub, a->Background);
    AddForce(sub, a->Force, kForceRebuild);
}

} // namespace

void RegisterSpriteCommands(CommandSet& set) {
    AddIconPicture(set, "show",
                   "Show one icon of a sprite file as the editor does and save the picture as a "
                   "Windows bitmap.",
                   "kivtool show hero.s16 3 -o hero3.bmp", ShowCommand);
    AddIconPicture(set, "collage",
                   "Lay out a 642 x 482 page of icons from ICON on, as the editor's Collage, save "
                   "it as a Windows bitmap, and print the icon number the editor holds afterwards "
                   "(where the next page starts).",
                   "kivtool collage hero.s16 1 -o page1.bmp", CollageCommand);
    RegisterReencode(set);
}

void RegisterExportCommand(CommandSet& set) {
    auto a = std::make_shared<ExportArgs>();
    CLI::App* sub = set.Add(
        "export",
        "Show every icon and save each as DIR/<stem>_<NNNN>.bmp (NNNN the icon number; .png "
        "with --format png); prints each file written.",
        "kivtool export hero.s16 hero-icons --format png",
        [a](const Context& c) { return ExportCommand(c, a->Sprite, a->Dir, a->Force, a->Format); });
    AddSprite(sub, a->Sprite);
    sub->add_option("DIR", a->Dir, "Folder for the pictures (made when missing)")->required();
    sub->add_flag("--force", a->Force,
                  "Overwrite pictures that differ from the icons (kept and listed otherwise)");
    sub->add_option("--format", a->Format, "bmp (default) or png, the background transparent")
        ->check(CLI::IsMember({"bmp", "png"}));
}

} // namespace kivtool
