#include "Collage.h"

#include "sprite/IconDecoder.h"

namespace kivtool {

using kiv::Image;

namespace {

// Frames are at most MaxFrameSide wide, so a tile placed further out than this shows
// nothing; clamping keeps the position within an int.
int DrawPosition(std::int64_t position) {
    constexpr std::int64_t far = std::int64_t{1} << 24;
    return static_cast<int>(position < -far ? -far : position > far ? far : position);
}

} // namespace

std::int64_t TableIconOffset(const kiv::TIconTable& table, int index) {
    return kiv::IconDataOffset(table.StoredCount, table.Headers[static_cast<std::size_t>(index)]);
}

Image ShowPicture(kiv::InFile& file, const kiv::TIconTable& table, int index,
                  kiv::DecodeStats* stats) {
    const kiv::TIconHeader& header = table.Headers[static_cast<std::size_t>(index)];
    // Decoded first: a frame too large to hold is refused before the picture is sized.
    const Image frame = kiv::DecodeIcon(file, TableIconOffset(table, index), header, stats);
    Image picture(header.FWidth, header.FHeight);
    picture.Fill(kiv::clAqua);
    picture.Draw(0, 0, frame);
    return picture;
}

CollageResult CollagePage(kiv::InFile& file, const kiv::TIconTable& table, int iconNumber) {
    CollageResult result;
    result.Page = Image(PageWidth, PageHeight);
    result.Page.Fill(kiv::clAqua);

    // 64-bit positions: frame sizes are whatever the file stores.
    const std::int64_t w = PageWidth;
    const std::int64_t h = PageHeight;
    int i = iconNumber - 1;
    std::int64_t nextX = 1;
    std::int64_t rowTop = 1;
    std::int64_t rowBottom = 1;
    while (i < table.Count) {
        const kiv::TIconHeader& header = table.Headers[static_cast<std::size_t>(i)];
        std::int64_t tileX = nextX;
        nextX = tileX + header.FWidth + 1;
        // The row's bottom moves before the wrap test, so a tile that wraps still deepens
        // the row it leaves.
        if (rowTop + header.FHeight > rowBottom)
            rowBottom = rowTop + header.FHeight;
        if (nextX > w) {
            tileX = 1;
            nextX = static_cast<std::int64_t>(header.FWidth) + 2;
            rowTop = rowBottom + 1;
            rowBottom = rowTop + header.FHeight;
        }
        if (rowBottom > h)
            break;
        const Image frame = kiv::DecodeIcon(file, TableIconOffset(table, i), header);
        result.Page.Draw(DrawPosition(tileX), DrawPosition(rowTop), frame);
        ++result.Drawn;
        ++i;
    }
    result.NextIconNumber = i < table.Count ? i + 1 : i;
    return result;
}

} // namespace kivtool
