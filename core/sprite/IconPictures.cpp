#include "sprite/IconPictures.h"

#include "base/Errors.h"

#include <algorithm>

namespace kiv {

std::int64_t TableIconOffset(const TIconTable& table, int index) {
    return IconDataOffset(std::max(table.Count, table.StoredCount),
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

int DrawCollage(InFile& file, const TIconTable& table, int index, Image& page,
                const std::function<void()>& tileDrawn) {
    CollageLayout layout(page.Width(), page.Height());
    int i = index;
    while (i < table.Count) {
        const TIconHeader& header = table.Headers[static_cast<std::size_t>(i)];
        const auto tile = layout.Place(header.FWidth, header.FHeight);
        if (!tile)
            break; // the page is full; icon i starts the next one
        // The tile lies on the page, so its frame is no taller than the page; a frame far
        // wider than the page is refused by the decoder.
        page.Draw(tile->X, tile->Y, DecodeIcon(file, TableIconOffset(table, i), header));
        if (tileDrawn)
            tileDrawn();
        ++i;
    }
    return IconNumberAfterCollage(i, table.Count);
}

CollageResult CollagePage(InFile& file, const TIconTable& table, int iconNumber) {
    CollageResult result{BlankCollagePage()};
    result.NextIconNumber = DrawCollage(file, table, iconNumber - 1, result.Page);
    return result;
}

} // namespace kiv
