// A whole sprite file as one sheet picture, with its records in a JSON file beside it.

#include "CommandSupport.h"
#include "SpriteSupport.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "sprite/IconSheet.h"

#include <filesystem>

namespace kivtool {

int SheetExportCommand(const Context& ctx, const std::string& sprite, const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        if (table.Count < 1)
            return Fail(ctx, sprite + " holds no icons.");
        auto file = kiv::InFile::Open(table.Path);
        if (!file)
            return Fail(ctx, kiv::SpriteFileNotFound);
        const kiv::SheetExport sheet = kiv::MakeSheetExport(*file, table, outPath);
        file.reset();
        for (const std::string& line : sheet.Warnings)
            Err(ctx) << line << '\n';
        const std::string folder = std::filesystem::path(outPath).parent_path().string();
        if (!folder.empty() && !MakeFolder(ctx, folder))
            return ExitFailure;
        kiv::WriteWholeFile(outPath, sheet.Picture.data(), sheet.Picture.size());
        kiv::WriteWholeFile(sheet.RecordsPath, sheet.Records.data(), sheet.Records.size());
        ctx.out << outPath << '\n' << sheet.RecordsPath << '\n';
        return ExitOk;
    });
}

int SheetImportCommand(const Context& ctx, const std::string& sprite, const std::string& sheetPath,
                       const std::string& outPath) {
    return Guarded(ctx, [&] {
        kiv::TIconTable table;
        if (!LoadTableOrFail(ctx, sprite, table))
            return ExitFailure;
        const std::string out = outPath.empty() ? kiv::TwinName(table.Path) : outPath;
        const kiv::SheetImport import = kiv::ImportSheet(sheetPath, table, out);
        if (!import.Result.Ok)
            return FailWrite(ctx, import.Result.Message, import.Result.Reason);
        for (const std::string& line : import.Warnings)
            Err(ctx) << line << '\n';
        for (int icon : import.Changed)
            ctx.out << "icon " << icon << '\n';
        Err(ctx) << "Wrote " << out << ": " << import.Changed.size() << " icons re-encoded.\n";
        return ExitOk;
    });
}

} // namespace kivtool
