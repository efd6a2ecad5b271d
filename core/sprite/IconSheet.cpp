#include "sprite/IconSheet.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/IconDecoder.h"
#include "sprite/PictureFiles.h"
#include "sprite/SheetRecords.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

namespace kiv {

namespace {

Image DecodeFrame(InFile& file, const TIconTable& table, int index, DecodeStats* stats) {
    const TIconHeader& header = table.Headers[static_cast<std::size_t>(index)];
    return DecodeIcon(file, IconDataOffset(table.StoredCount, header), header, stats);
}

} // namespace

SheetLayout LayOutSheet(const TIconTable& table) {
    SheetLayout layout;
    const int count = std::max(table.Count, 0);
    if (count == 0)
        return layout;
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const int rows = (count + columns - 1) / columns;
    std::vector<std::int64_t> left(static_cast<std::size_t>(columns) + 1, 0);
    std::vector<std::int64_t> top(static_cast<std::size_t>(rows) + 1, 0);
    auto side = [](std::int32_t v) { return std::max<std::int64_t>(v, 0); };
    for (int i = 0; i < count; ++i) {
        const TIconHeader& h = table.Headers[static_cast<std::size_t>(i)];
        left[i % columns + 1] = std::max(left[i % columns + 1], side(h.FWidth));
        top[i / columns + 1] = std::max(top[i / columns + 1], side(h.FHeight));
    }
    for (int c = 0; c < columns; ++c)
        left[c + 1] += left[c];
    for (int r = 0; r < rows; ++r)
        top[r + 1] += top[r];
    const std::int64_t width = left.back();
    const std::int64_t height = top.back();
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        throw Exception("A sheet of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large");
    layout.Width = static_cast<int>(width);
    layout.Height = static_cast<int>(height);
    for (int i = 0; i < count; ++i) {
        const TIconHeader& h = table.Headers[static_cast<std::size_t>(i)];
        layout.Cells.push_back(
            {i + 1, static_cast<int>(left[i % columns]), static_cast<int>(top[i / columns]),
             static_cast<int>(side(h.FWidth)), static_cast<int>(side(h.FHeight))});
    }
    return layout;
}

Image BuildSheet(InFile& file, const TIconTable& table, const SheetLayout& layout,
                 std::vector<int>* endedEarly) {
    Image sheet(layout.Width, layout.Height);
    sheet.Fill(BackColor);
    for (const SheetCell& cell : layout.Cells) {
        DecodeStats stats;
        sheet.Draw(cell.X, cell.Y, DecodeFrame(file, table, cell.Icon - 1, &stats));
        if (stats.EndedEarly && endedEarly)
            endedEarly->push_back(cell.Icon);
    }
    return sheet;
}

SheetExport MakeSheetExport(InFile& file, const TIconTable& table, const std::string& sheetPath) {
    SheetExport out;
    const SheetLayout layout = LayOutSheet(table);
    std::vector<int> endedEarly;
    const Image sheet = BuildSheet(file, table, layout, &endedEarly);
    for (int icon : endedEarly)
        out.Warnings.push_back(EndedEarlyWarning(icon));
    bool transparent = false;
    if (IsPngPath(sheetPath)) {
        out.Picture = EncodePng(sheet, BackKey);
        for (int y = 0; y < sheet.Height() && !transparent; ++y)
            transparent = std::any_of(sheet.Row(y), sheet.Row(y) + sheet.Width(),
                                      [](TColor c) { return BackKey.Matches(c); });
    } else {
        out.Picture = EncodeBitmap(sheet);
    }
    out.RecordsPath = SheetRecordsPath(sheetPath);
    out.Records = SheetRecordsText(std::filesystem::path(table.Path).filename().string(), layout,
                                   table, transparent);
    return out;
}

SheetImport ImportSheet(const std::string& sheetPath, const TIconTable& table,
                        const std::string& outPath,
                        const std::function<bool(const std::vector<int>&)>& approve) {
    SheetImport import;
    import.Result.OutputPath = outPath;
    const SheetLayout layout = LayOutSheet(table);
    const RecordsCheck records = CheckSheetRecords(SheetRecordsPath(sheetPath), layout, table);
    if (records.Verdict != RecordsVerdict::Match) {
        import.Result.Message = records.Message + " Nothing was written.";
        return import;
    }
    PictureFile sheet;
    std::int64_t width = 0, height = 0;
    try {
        sheet = ReadPictureFile(sheetPath, {layout.Width, layout.Height});
        width = sheet.Picture.Width();
        height = sheet.Picture.Height();
    } catch (const EPictureTooLarge& e) {
        width = e.Width();
        height = e.Height();
    }
    if (width != layout.Width || height != layout.Height) {
        import.Result.Message = "The sheet is " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels; the sprite's is " +
                                std::to_string(layout.Width) + " x " +
                                std::to_string(layout.Height) + ".";
        return import;
    }
    auto file = InFile::Open(table.Path);
    if (!file) {
        import.Result.Message = CannotOpenSpriteFile;
        return import;
    }

    // Cells are cut out only for the icons that changed, so memory stays near one sheet.
    std::vector<Image> pictures;
    std::vector<int> changed;
    PixelChanges changes;
    for (const SheetCell& cell : layout.Cells) {
        PixelChanges cellChanges;
        Image picture =
            TakeIconPicture(sheet, cell.X, cell.Y, cell.Width, cell.Height, cellChanges);
        if (IconHolds(*file, table, cell.Icon - 1, picture))
            continue;
        changed.push_back(cell.Icon);
        changes += cellChanges;
        pictures.push_back(std::move(picture));
    }
    if (records.Transparent && !sheet.HasTransparentPixel())
        import.Warnings.push_back("Warning: " + sheetPath +
                                  " has no transparent pixel, though it was written with "
                                  "them; if it was flattened onto a colour, every changed "
                                  "icon's box grows to its whole frame.");
    for (std::string& line : PixelChangeWarnings(sheetPath, changes))
        import.Warnings.push_back(std::move(line));

    if (approve && !approve(changed)) {
        import.Changed = std::move(changed);
        return import;
    }
    if (changed.empty()) {
        // Nothing to re-encode: the output is the loaded file as it stands.
        SafeFile out(outPath);
        import.Result.Ok = true;
        if (FileHolds(outPath, *file, 0, file->Length())) {
            import.Result.UpToDate = true;
            return import;
        }
        out.WatchInput(*file);
        if (out.CopyFrom(*file, 0, file->Length()) != file->Length()) {
            import.Result = {false, CannotOpenSpriteFile, {}, outPath, false};
            return import;
        }
        out.Commit();
        return import;
    }
    file.reset();
    std::vector<std::pair<int, const Image*>> edits;
    for (std::size_t k = 0; k < changed.size(); ++k)
        edits.push_back({changed[k] - 1, &pictures[k]});
    import.Result = ReencodeIcons(edits, table, outPath);
    if (import.Result.Ok)
        import.Changed = std::move(changed);
    return import;
}

} // namespace kiv
