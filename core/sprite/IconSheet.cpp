#include "sprite/IconSheet.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "image/TextFont.h"
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

// The colour most of the picture's four corners hold (the top-left one among equals).
TColor CornerColour(const Image& picture) {
    const int w = picture.Width(), h = picture.Height();
    if (w == 0 || h == 0)
        return BackColor;
    const TColor corners[] = {picture.Pixel(0, 0), picture.Pixel(w - 1, 0), picture.Pixel(0, h - 1),
                              picture.Pixel(w - 1, h - 1)};
    TColor best = corners[0];
    long most = 0;
    for (const TColor c : corners)
        if (const long n = std::count(std::begin(corners), std::end(corners), c); n > most) {
            most = n;
            best = c;
        }
    return best;
}

// Whether the box the re-encoder takes from `picture` (its pixels other than BackColor)
// passes the box the icon stores.
bool BoxGrows(const Image& picture, const TIconHeader& stored) {
    int left = picture.Width(), top = picture.Height(), right = -1, bottom = -1;
    for (int y = 0; y < picture.Height(); ++y) {
        const TColor* row = picture.Row(y);
        for (int x = 0; x < picture.Width(); ++x)
            if (row[x] != BackColor) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    if (right < 0)
        return false;
    return left < stored.StartX || top < stored.StartY ||
           right >= std::int64_t{stored.StartX} + stored.Width ||
           bottom >= std::int64_t{stored.StartY} + stored.Height;
}

} // namespace

SheetLayout LayOutSheet(const TIconTable& table, bool labels) {
    SheetLayout layout;
    layout.Labels = labels;
    const int count = std::max(table.Count, 0);
    if (count == 0)
        return layout;
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const int rows = (count + columns - 1) / columns;
    const int gutter = labels ? kLabelGutter : 0;
    std::vector<std::int64_t> left(static_cast<std::size_t>(columns) + 1, 0);
    std::vector<std::int64_t> top(static_cast<std::size_t>(rows) + 1, 0);
    auto side = [](std::int32_t v) { return std::max<std::int64_t>(v, 0); };
    for (int i = 0; i < count; ++i) {
        const TIconHeader& h = table.Headers[static_cast<std::size_t>(i)];
        // A label wider than its frame widens the column, so no label runs into the next.
        const std::int64_t label = labels ? TextWidth(std::to_string(i + 1)) + 2 : 0;
        left[i % columns + 1] = std::max({left[i % columns + 1], side(h.FWidth), label});
        top[i / columns + 1] = std::max(top[i / columns + 1], side(h.FHeight));
    }
    for (int c = 0; c < columns; ++c)
        left[c + 1] += left[c];
    for (int r = 0; r < rows; ++r)
        top[r + 1] += top[r] + gutter;
    const std::int64_t width = left.back();
    const std::int64_t height = top.back();
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        throw Exception("A sheet of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large");
    layout.Width = static_cast<int>(width);
    layout.Height = static_cast<int>(height);
    for (int i = 0; i < count; ++i) {
        const TIconHeader& h = table.Headers[static_cast<std::size_t>(i)];
        layout.Cells.push_back({i + 1, static_cast<int>(left[i % columns]),
                                static_cast<int>(top[i / columns]) + gutter,
                                static_cast<int>(side(h.FWidth)),
                                static_cast<int>(side(h.FHeight))});
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
        if (layout.Labels)
            DrawText(sheet, cell.X, cell.Y - kLabelGutter + 1, std::to_string(cell.Icon),
                     LabelColor);
    }
    return sheet;
}

SheetExport MakeSheetExport(InFile& file, const TIconTable& table, const std::string& sheetPath,
                            bool labels) {
    SheetExport out;
    const SheetLayout layout = LayOutSheet(table, labels);
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

namespace {

// Reads the sheet; false, with `message` saying so, when it is not of the layout's size.
bool ReadSheet(const std::string& sheetPath, const SheetLayout& layout, PictureFile& sheet,
               std::string& message) {
    std::int64_t width = 0, height = 0;
    try {
        sheet = ReadPictureFile(sheetPath, {layout.Width, layout.Height});
        width = sheet.Picture.Width();
        height = sheet.Picture.Height();
    } catch (const EPictureTooLarge& e) {
        width = e.Width();
        height = e.Height();
    }
    if (width == layout.Width && height == layout.Height)
        return true;
    message = "The sheet is " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels; the sprite's is " + std::to_string(layout.Width) + " x " +
              std::to_string(layout.Height) + ".";
    return false;
}

// The icons whose cells differ from what they hold (1-based) and their pictures, with the
// warnings of the pixels the cells change and, for a flattened sheet, the icons that grow.
std::vector<Image> ChangedIcons(InFile& file, const TIconTable& table, const PictureFile& sheet,
                                bool transparent, const std::string& sheetPath,
                                const SheetImportOptions& options, std::vector<int>& changed,
                                SheetImport& import) {
    // Cells are cut out only for the icons that changed, so memory stays near one sheet.
    std::vector<Image> pictures;
    PixelChanges changes;
    for (const SheetCell& cell : import.Records.Layout.Cells) {
        PixelChanges cellChanges;
        Image picture = TakeIconPicture(sheet, cell.X, cell.Y, cell.Width, cell.Height, cellChanges,
                                        options.Background);
        if (IconHolds(file, table, cell.Icon - 1, picture))
            continue;
        changed.push_back(cell.Icon);
        changes += cellChanges;
        pictures.push_back(std::move(picture));
    }
    if (transparent && !sheet.HasTransparentPixel() && !options.Background) {
        // Flattened: the boxes of changed icons grow unless the colour it was flattened onto
        // is the background's itself.
        import.FlattenedOnto = CornerColour(sheet.Picture);
        for (std::size_t k = 0; k < changed.size(); ++k)
            if (BoxGrows(pictures[k], table.Headers[static_cast<std::size_t>(changed[k] - 1)]))
                import.Grown.push_back(changed[k]);
    }
    for (std::string& line : PixelChangeWarnings(sheetPath, changes))
        import.Warnings.push_back(std::move(line));
    return pictures;
}

// With nothing to re-encode, the output is the loaded file as it stands.
void CopyUnchanged(InFile& file, const std::string& outPath, SheetImport& import) {
    SafeFile out(outPath);
    import.Result.Ok = true;
    if (FileHolds(outPath, file, 0, file.Length())) {
        import.Result.UpToDate = true;
        return;
    }
    out.WatchInput(file);
    if (out.CopyFrom(file, 0, file.Length()) != file.Length()) {
        ReencodeResult failed;
        failed.Message = CannotOpenSpriteFile;
        failed.OutputPath = outPath;
        import.Result = std::move(failed);
        return;
    }
    out.Commit();
}

} // namespace

SheetImport ImportSheet(const std::string& sheetPath, const TIconTable& table,
                        const std::string& outPath,
                        const std::function<bool(const std::vector<int>&)>& approve,
                        const SheetImportOptions& options) {
    SheetImport import;
    import.Result.OutputPath = outPath;
    import.Records = CheckSheetRecords(
        options.RecordsPath.empty() ? SheetRecordsPath(sheetPath) : options.RecordsPath, table);
    const RecordsCheck& records = import.Records;
    const bool trusted = records.Verdict == RecordsVerdict::OtherSheet && records.Whole &&
                         std::find(options.TrustedSprites.begin(), options.TrustedSprites.end(),
                                   records.Sprite) != options.TrustedSprites.end();
    if (records.Verdict != RecordsVerdict::Match && !trusted) {
        import.Result.Message = records.Message + " Nothing was written.";
        return import;
    }
    PictureFile sheet;
    if (!ReadSheet(sheetPath, records.Layout, sheet, import.Result.Message))
        return import;
    auto file = InFile::Open(table.Path);
    if (!file) {
        import.Result.Message = CannotOpenSpriteFile;
        return import;
    }
    std::vector<int> changed;
    const std::vector<Image> pictures =
        ChangedIcons(*file, table, sheet, records.Transparent, sheetPath, options, changed, import);
    if (approve && !approve(changed)) {
        import.Changed = std::move(changed);
        return import;
    }
    if (changed.empty()) {
        CopyUnchanged(*file, outPath, import);
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
