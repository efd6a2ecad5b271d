#include "sprite/IconThumbnail.h"

#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "sprite/PictureFiles.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteCheck.h"

#include <algorithm>
#include <vector>

namespace kiv {

namespace {

std::string Num(std::int64_t value) {
    return std::to_string(value);
}

// An icon to picture: its header and the part of its box inside its frame, [X0, X1) x
// [Y0, Y1) in frame coordinates.
struct ShownIcon {
    int Index = 0;
    TIconHeader Header;
    std::int64_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    std::int64_t Width() const { return X1 - X0; }
    std::int64_t Height() const { return Y1 - Y0; }
    std::int64_t Side() const { return std::max(Width(), Height()); }
};

// Whether the icon's box has pixels inside its frame. A box with a side that is not
// positive shows nothing the thumbnail takes.
bool Shows(const TIconHeader& h, ShownIcon& icon) {
    if (h.Width <= 0 || h.Height <= 0)
        return false;
    icon.Header = h;
    icon.X0 = std::max<std::int64_t>(h.StartX, 0);
    icon.Y0 = std::max<std::int64_t>(h.StartY, 0);
    icon.X1 = std::min<std::int64_t>(std::int64_t{h.StartX} + h.Width, h.FWidth);
    icon.Y1 = std::min<std::int64_t>(std::int64_t{h.StartY} + h.Height, h.FHeight);
    return icon.X0 < icon.X1 && icon.Y0 < icon.Y1;
}

// The icon's shown part, decoded; a fault when its data could make the work unbounded.
std::string Decode(InFile& file, std::int64_t start, std::int64_t length, std::int32_t count,
                   const ShownIcon& icon, Image& picture) {
    const TIconHeader& h = icon.Header;
    const std::string name = "icon " + Num(icon.Index + 1);
    const std::int64_t from = IconDataOffset(count, h);
    if (h.Starts < 0 || h.Bytes < 0 || from + h.Bytes > length)
        return "the data of " + name + " (" + Num(h.Bytes) + " bytes at " + Num(from) +
               ") lie outside the file's " + Num(length) + " bytes";
    if (h.Bytes > MaxIconBytes)
        return name + ": Bytes " + Num(h.Bytes) + " is above " + Num(MaxIconBytes);
    if (icon.Width() * icon.Height() > MaxThumbnailSourcePixels || icon.Side() > MaxFrameSide)
        return name + " shows " + Num(icon.Width()) + " x " + Num(icon.Height()) +
               " pixels, too many for a thumbnail";
    file.Seek(start + from);
    if (std::string fault = IconDataFault(file, h); !fault.empty())
        return name + ": " + fault;
    // Only the shown part is decoded: a frame of that size, the box moved to match.
    TIconHeader part = h;
    part.StartX = static_cast<std::int32_t>(h.StartX - icon.X0);
    part.StartY = static_cast<std::int32_t>(h.StartY - icon.Y0);
    part.FWidth = static_cast<std::int32_t>(icon.Width());
    part.FHeight = static_cast<std::int32_t>(icon.Height());
    picture = DecodeIcon(file, start + from, part);
    return {};
}

Image Enlarged(const Image& source, int factor) {
    Image out(source.Width() * factor, source.Height() * factor);
    for (int y = 0; y < out.Height(); ++y) {
        const TColor* in = source.Row(y / factor);
        TColor* line = out.Row(y);
        for (int x = 0; x < out.Width(); ++x)
            line[x] = in[x / factor];
    }
    return out;
}

// Each pixel of the result covers a rectangle of the source: the background when most of it
// is, else the mean of its drawn pixels, kept apart from the background's 16-bit value.
Image Reduced(const Image& source, int width, int height) {
    Image out(width, height);
    for (int ty = 0; ty < height; ++ty) {
        const int sy0 = static_cast<int>(std::int64_t{ty} * source.Height() / height);
        const int sy1 = static_cast<int>(std::int64_t{ty + 1} * source.Height() / height);
        for (int tx = 0; tx < width; ++tx) {
            const int sx0 = static_cast<int>(std::int64_t{tx} * source.Width() / width);
            const int sx1 = static_cast<int>(std::int64_t{tx + 1} * source.Width() / width);
            std::int64_t r = 0, g = 0, b = 0, drawn = 0, all = 0;
            for (int y = sy0; y < sy1; ++y)
                for (int x = sx0; x < sx1; ++x, ++all) {
                    const TColor c = source.Row(y)[x];
                    if (BackKey.Matches(c))
                        continue;
                    r += RedOf(c);
                    g += GreenOf(c);
                    b += BlueOf(c);
                    ++drawn;
                }
            TColor c = BackColor;
            if (2 * drawn >= all && drawn > 0) {
                c = RGB(static_cast<unsigned>(r / drawn), static_cast<unsigned>(g / drawn),
                        static_cast<unsigned>(b / drawn));
                if (BackKey.Matches(c))
                    c = RGB(RedOf(c), GreenOf(c), BlueOf(c) - 8);
            }
            out.SetPixel(tx, ty, c);
        }
    }
    return out;
}

// `picture` fitted into size x size as the header says.
Image Fitted(const Image& picture, int size) {
    const int side = std::max(picture.Width(), picture.Height());
    if (side <= size)
        return Enlarged(picture, size / side);
    const auto scaled = [&](int length) {
        return std::max(1, static_cast<int>((std::int64_t{length} * size + side / 2) / side));
    };
    return Reduced(picture, scaled(picture.Width()), scaled(picture.Height()));
}

} // namespace

ThumbnailPicture SpriteThumbnail(InFile& file, std::int64_t start, std::int64_t length, int size) {
    ThumbnailPicture result;
    size = std::clamp(size, 1, MaxThumbnailSize);
    std::int32_t count = 0;
    file.Seek(start);
    if (length < 4 || !file.ReadInt32(count) || count < 0 ||
        4 + std::int64_t{IconHeaderSize} * count > length) {
        result.Fault = SpriteFault(file, start, length, 0);
        return result;
    }

    // The first icons that show anything, read from the headers alone.
    std::vector<ShownIcon> shown;
    const int headers = std::min(count, MaxIcons);
    for (int i = 0; i < headers && std::ssize(shown) < MaxThumbnailGrid; ++i) {
        unsigned char bytes[IconHeaderSize];
        if (file.Read(bytes, sizeof bytes) != sizeof bytes)
            break;
        ShownIcon icon;
        icon.Index = i;
        if (Shows(TIconHeader::FromBytes(bytes), icon))
            shown.push_back(icon);
    }
    if (shown.empty()) {
        result.NoIconToShow = true;
        result.Fault =
            count == 0 ? "it holds no icons" : "none of its icons has a pixel inside its frame";
        return result;
    }

    // A grid while the icons are tiny, from the first on.
    const std::int64_t tiny = size / TinyIconDivisor;
    std::size_t cells = 1;
    if (shown.front().Side() <= tiny)
        while (cells < shown.size() && shown[cells].Side() <= tiny)
            ++cells;
    shown.resize(cells);
    std::vector<Image> pictures(cells);
    for (std::size_t k = 0; k < cells; ++k)
        if (std::string fault = Decode(file, start, length, count, shown[k], pictures[k]);
            !fault.empty()) {
            result.Fault = fault;
            return result;
        }
    if (cells == 1) {
        result.Picture = Fitted(pictures.front(), size);
        return result;
    }

    int cell = 0;
    for (const Image& picture : pictures)
        cell = std::max({cell, picture.Width(), picture.Height()});
    const int columns = cells > 4 ? 3 : 2;
    const int rows = static_cast<int>((cells + columns - 1) / columns);
    Image grid(columns * (cell + 1) - 1, rows * (cell + 1) - 1);
    grid.Fill(BackColor);
    for (std::size_t k = 0; k < cells; ++k) {
        const Image& picture = pictures[k];
        const int column = static_cast<int>(k) % columns;
        const int row = static_cast<int>(k) / columns;
        grid.Draw(column * (cell + 1) + (cell - picture.Width()) / 2,
                  row * (cell + 1) + (cell - picture.Height()) / 2, picture);
    }
    result.Picture = Fitted(grid, size);
    return result;
}

} // namespace kiv
