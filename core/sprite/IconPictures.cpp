#include "sprite/IconPictures.h"

#include "base/Errors.h"

#include <algorithm>

namespace kiv {

std::int64_t TableIconOffset(const TIconTable& table, int index) {
    return table.Start + IconDataOffset(std::max(table.Count, table.StoredCount),
                                        table.Headers[static_cast<std::size_t>(index)]);
}

Image ShowPicture(InFile& file, const TIconTable& table, int index, DecodeStats* stats) {
    const TIconHeader& header = table.Headers[static_cast<std::size_t>(index)];
    if (header.FWidth > MaxFrameSide || header.FHeight > MaxFrameSide)
        throw EFrameTooLarge(header.FWidth, header.FHeight);
    Image picture(header.FWidth, header.FHeight);
    picture.Fill(clAqua);
    picture.Draw(0, 0, DecodeIcon(file, TableIconOffset(table, index), header, stats));
    return picture;
}

Image BlankCollagePage() {
    Image page(CollagePageWidth, CollagePageHeight);
    page.Fill(clAqua);
    return page;
}

std::vector<CollageTile> CollageTiles(const TIconTable& table, int index, int pageWidth,
                                      int pageHeight) {
    CollageLayout layout(pageWidth, pageHeight);
    std::vector<CollageTile> tiles;
    for (int i = index; i < table.Count; ++i) {
        const TIconHeader& header = table.Headers[static_cast<std::size_t>(i)];
        const auto at = layout.Place(header.FWidth, header.FHeight);
        if (!at)
            break; // the page is full; icon i starts the next one
        tiles.push_back({i, *at, header.FWidth, header.FHeight});
    }
    return tiles;
}

std::optional<int> CollageIconAt(const std::vector<CollageTile>& tiles, int x, int y) {
    for (const CollageTile& tile : tiles)
        if (x >= tile.At.X && y >= tile.At.Y && x - tile.At.X < tile.Width &&
            y - tile.At.Y < tile.Height)
            return tile.Index;
    return std::nullopt;
}

int DrawCollage(InFile& file, const TIconTable& table, int index, Image& page,
                const std::function<void()>& tileDrawn) {
    const std::vector<CollageTile> tiles = CollageTiles(table, index, page.Width(), page.Height());
    for (const CollageTile& tile : tiles) {
        // The tile lies on the page, so its frame is no taller than the page; a frame far
        // wider than the page is refused by the decoder.
        const TIconHeader& header = table.Headers[static_cast<std::size_t>(tile.Index)];
        page.Draw(tile.At.X, tile.At.Y,
                  DecodeIcon(file, TableIconOffset(table, tile.Index), header));
        if (tileDrawn)
            tileDrawn();
    }
    return IconNumberAfterCollage(index + static_cast<int>(tiles.size()), table.Count);
}

CollageResult CollagePage(InFile& file, const TIconTable& table, int iconNumber) {
    CollageResult result{BlankCollagePage()};
    result.NextIconNumber = DrawCollage(file, table, iconNumber - 1, result.Page);
    return result;
}

} // namespace kiv
