#include "archive/DiffSheet.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "image/TextFont.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconSheet.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace kiv {

namespace {

// Transparent space between the two frames of a pair, and between pairs.
constexpr int kInsidePair = 4;
constexpr int kBetweenPairs = 12;
// Above each row of pairs, a gutter of two lines of labels: the pair's member and icon, then
// "before" and "after" over its two cells.
constexpr int kLine = GlyphHeight + 2;
constexpr int kGutter = 2 * kLine;
const std::string kBefore = "before", kAfter = "after";

std::string PairLabel(const DiffSheetPair& pair) {
    return (pair.Member.empty() ? "" : pair.Member + " ") + "icon " + std::to_string(pair.Icon);
}

std::unique_ptr<InFile> OpenOrThrow(const std::string& path) {
    std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file)
        throw EFOpenError(path);
    return file;
}

// The sprite file at `start` of `file`: its count, and the header of icon `icon` (1-based).
std::int32_t ReadHeader(const InFile& file, std::int64_t start, std::int32_t icon,
                        TIconHeader& header) {
    unsigned char word[4], bytes[IconHeaderSize];
    if (!file.ReadExactlyAt(start, word, sizeof word) ||
        !file.ReadExactlyAt(start + 4 + std::int64_t{IconHeaderSize} * (icon - 1), bytes,
                            sizeof bytes))
        throw EReadError();
    header = TIconHeader::FromBytes(bytes);
    return GetInt32LE(word);
}

SheetRect FrameOf(const InFile* file, std::int64_t start, std::int32_t icon) {
    if (start < 0)
        return {};
    TIconHeader h;
    ReadHeader(*file, start, icon, h);
    if (h.FWidth > MaxFrameSide || h.FHeight > MaxFrameSide)
        throw EFrameTooLarge(h.FWidth, h.FHeight);
    return {0, 0, std::max(h.FWidth, 0), std::max(h.FHeight, 0)};
}

// The pairs of one sprite comparison: its changed icons, then those on one side only.
void AddPairs(std::vector<DiffSheetPair>& pairs, const std::string& member, const SpriteDiff& diff,
              std::int64_t startA, std::int64_t startB) {
    if (!diff.Readable())
        return;
    for (const IconDiff& icon : diff.Changed)
        pairs.push_back({member, icon.Icon, startA, startB, {}, {}});
    for (std::int32_t i = std::min(diff.CountA, diff.CountB) + 1;
         i <= std::max(diff.CountA, diff.CountB); ++i)
        pairs.push_back(
            {member, i, i <= diff.CountA ? startA : -1, i <= diff.CountB ? startB : -1, {}, {}});
}

DiffSheet LayOut(const std::string& pathA, const std::string& pathB,
                 std::vector<DiffSheetPair> pairs) {
    DiffSheet sheet;
    sheet.Pairs = std::move(pairs);
    if (sheet.Pairs.empty())
        return sheet;
    const auto a = OpenOrThrow(pathA);
    const auto b = OpenOrThrow(pathB);
    for (DiffSheetPair& pair : sheet.Pairs) {
        pair.Before = FrameOf(a.get(), pair.StartA, pair.Icon);
        pair.After = FrameOf(b.get(), pair.StartB, pair.Icon);
    }
    // A grid of pairs, as square as their number allows; in each column the afters line up.
    const auto count = static_cast<std::int64_t>(sheet.Pairs.size());
    const auto columns = static_cast<std::int64_t>(std::ceil(std::sqrt(double(count))));
    const std::int64_t rows = (count + columns - 1) / columns;
    std::vector<std::int64_t> before(columns, 0), after(columns, 0), height(rows, 0);
    std::vector<std::int64_t> label(columns, 0);
    for (std::int64_t k = 0; k < count; ++k) {
        const DiffSheetPair& pair = sheet.Pairs[static_cast<std::size_t>(k)];
        before[k % columns] = std::max<std::int64_t>(
            {before[k % columns], pair.Before.Width, TextWidth(kBefore) + 2});
        after[k % columns] =
            std::max<std::int64_t>({after[k % columns], pair.After.Width, TextWidth(kAfter) + 2});
        label[k % columns] = std::max<std::int64_t>(label[k % columns], TextWidth(PairLabel(pair)));
        height[k / columns] = std::max<std::int64_t>(
            height[k / columns], std::max(pair.Before.Height, pair.After.Height));
    }
    // A long label widens its column's after cells, so it never runs into the next pair.
    for (std::int64_t c = 0; c < columns; ++c)
        after[c] = std::max(after[c], label[c] - before[c] - kInsidePair);
    std::vector<std::int64_t> left(columns + 1, 0), top(rows + 1, 0);
    for (std::int64_t c = 0; c < columns; ++c)
        left[c + 1] = left[c] + before[c] + kInsidePair + after[c] + kBetweenPairs;
    for (std::int64_t r = 0; r < rows; ++r)
        top[r + 1] = top[r] + kGutter + height[r] + kBetweenPairs;
    const std::int64_t width = left.back() - kBetweenPairs;
    const std::int64_t tall = top.back() - kBetweenPairs;
    if (width > kMaxPictureSide || tall > kMaxPictureSide || width * tall > kMaxPicturePixels)
        throw Exception("A sheet of " + std::to_string(width) + " x " + std::to_string(tall) +
                        " pixels is too large");
    sheet.Width = static_cast<int>(width);
    sheet.Height = static_cast<int>(tall);
    for (std::int64_t k = 0; k < count; ++k) {
        DiffSheetPair& pair = sheet.Pairs[static_cast<std::size_t>(k)];
        pair.Before.X = static_cast<int>(left[k % columns]);
        pair.After.X = static_cast<int>(left[k % columns] + before[k % columns] + kInsidePair);
        pair.Before.Y = pair.After.Y = static_cast<int>(top[k / columns] + kGutter);
    }
    return sheet;
}

} // namespace

DiffSheet LayOutDiffSheet(const std::string& pathA, const std::string& pathB,
                          const ArchiveDiff& diff) {
    std::vector<DiffSheetPair> pairs;
    for (const MemberDiff& m : diff.Members)
        if (m.Changed && m.Icons)
            AddPairs(pairs, MemberLabel(m), *m.Icons, m.InA.Start, m.InB.Start);
    return LayOut(pathA, pathB, std::move(pairs));
}

DiffSheet LayOutDiffSheet(const std::string& pathA, const std::string& pathB,
                          const SpriteDiff& diff) {
    std::vector<DiffSheetPair> pairs;
    AddPairs(pairs, {}, diff, 0, 0);
    return LayOut(pathA, pathB, std::move(pairs));
}

Image DrawDiffSheet(const std::string& pathA, const std::string& pathB, const DiffSheet& sheet) {
    Image picture(sheet.Width, sheet.Height);
    picture.Fill(BackColor);
    if (sheet.Pairs.empty())
        return picture;
    const auto a = OpenOrThrow(pathA);
    const auto b = OpenOrThrow(pathB);
    const auto draw = [&picture](InFile& file, std::int64_t start, std::int32_t icon,
                                 const SheetRect& cell) {
        if (start < 0)
            return;
        TIconHeader h;
        const std::int32_t count = ReadHeader(file, start, icon, h);
        picture.Draw(cell.X, cell.Y, DecodeIcon(file, start + IconDataOffset(count, h), h));
    };
    for (const DiffSheetPair& pair : sheet.Pairs) {
        draw(*a, pair.StartA, pair.Icon, pair.Before);
        draw(*b, pair.StartB, pair.Icon, pair.After);
        const int y = pair.Before.Y - kGutter + 1;
        DrawText(picture, pair.Before.X, y, PairLabel(pair), LabelColor);
        DrawText(picture, pair.Before.X, y + kLine, kBefore, LabelColor);
        DrawText(picture, pair.After.X, y + kLine, kAfter, LabelColor);
    }
    return picture;
}

} // namespace kiv
