#include "Collage.h"

#include "sprite/CollageLayout.h"
#include "sprite/IconDecoder.h"

namespace kivtool {

using kiv::Image;

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

    kiv::CollageLayout layout(PageWidth, PageHeight);
    int i = iconNumber - 1;
    while (i < table.Count) {
        const kiv::TIconHeader& header = table.Headers[static_cast<std::size_t>(i)];
        const auto tile = layout.Place(header.FWidth, header.FHeight);
        if (!tile)
            break;
        const Image frame = kiv::DecodeIcon(file, TableIconOffset(table, i), header);
        result.Page.Draw(tile->X, tile->Y, frame);
        ++result.Drawn;
        ++i;
    }
    result.NextIconNumber = kiv::IconNumberAfterCollage(i, table.Count);
    return result;
}

} // namespace kivtool
