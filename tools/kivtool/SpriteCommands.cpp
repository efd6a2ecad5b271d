// The editor's operations: Load S16 with Show, Collage, Bmp Save, Bmp Load and Replace.

#include "Collage.h"
#include "CommandSupport.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "sprite/IconEncoder.h"

#include <filesystem>

namespace kivtool {

namespace fs = std::filesystem;

bool LoadTableOrFail(const Context& ctx, const std::string& sprite, kiv::TIconTable& table) {
    switch (kiv::ReadIconTable(sprite, table)) {
    case kiv::ReadTableResult::CannotOpen:
        Fail(ctx, "Could not open " + sprite);
        return false;
    case kiv::ReadTableResult::CountExceeded:
        Err(ctx) << "Maximum icons exceeded! Do NOT edit\n";
        return true;
    case kiv::ReadTableResult::Loaded:
        break;
    }
    return true;
}

bool IconInRange(const Context& ctx, const kiv::TIconTable& table, std::int64_t icon) {
    if (icon >= 1 && icon <= table.Count)
        return true;
    Fail(ctx, IconRangeMessage(icon, table.Count));
    return false;
}

std::string ExportFileName(const std::string& stem, std::int64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return stem + "_" + digits + ".bmp";
}

namespace {

void WarnEndedEarly(const Context& ctx, const kiv::DecodeStats& stats, std::int64_t icon) {
    if (stats.EndedEarly)
        Err(ctx) << "Warning: the data of icon " << icon
                 << " ends early; the rest of its frame is background.\n";
}

} // namespace

int ShowCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table) || !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, "S16 file not found.");
        kiv::DecodeStats stats;
        const kiv::Image picture = ShowPicture(*file, table, static_cast<int>(icon - 1), &stats);
        file.reset();
        WarnEndedEarly(ctx, stats, icon);
        kiv::SaveBitmapFile(picture, outPath);
        return ExitOk;
    });
}

int CollageCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                   const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table) || !IconInRange(ctx, table, icon))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, "S16 file not found.");
        const CollageResult collage = CollagePage(*file, table, static_cast<int>(icon));
        file.reset();
        kiv::SaveBitmapFile(collage.Page, outPath);
        ctx.out << collage.NextIconNumber << '\n';
        return ExitOk;
    });
}

int ReencodeCommand(const Context& ctx, const std::string& sprite, std::int64_t icon,
                    const std::string& picturePath, const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table) || !IconInRange(ctx, table, icon))
            return ExitFailure;
        const kiv::Image picture = kiv::LoadBitmapFile(picturePath);
        const int index = static_cast<int>(icon - 1);
        const kiv::ReencodeResult result =
            outPath.empty() ? kiv::ReencodeIcon(picture, index, table)
                            : kiv::ReencodeIcons({{index, &picture}}, table, outPath);
        return result.Ok ? ExitOk : Fail(ctx, result.Message);
    });
}

int ExportCommand(const Context& ctx, const std::string& sprite, const std::string& dir) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, "S16 file not found.");
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir))
            return Fail(ctx, "Cannot create folder " + dir);

        const std::string stem = fs::path(sprite).stem().string();
        int status = ExitOk;
        ProgressLine progress(ctx, "Exporting", table.Count);
        for (int n = 1; n <= table.Count; ++n) {
            const std::string path = (fs::path(dir) / ExportFileName(stem, n)).string();
            try {
                kiv::DecodeStats stats;
                const kiv::Image picture = ShowPicture(*file, table, n - 1, &stats);
                WarnEndedEarly(ctx, stats, n);
                kiv::SaveBitmapFile(picture, path);
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
