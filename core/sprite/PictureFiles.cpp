#include "sprite/PictureFiles.h"

#include "base/Errors.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/IconPictures.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr std::uint16_t kBackValue = PackPixel(BackColor);

std::string Pixels(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " pixel" : " pixels");
}

} // namespace

bool PictureFile::HasTransparentPixel() const {
    return std::any_of(Alpha.begin(), Alpha.end(), [](std::uint8_t a) { return a < 128; });
}

PictureFile ReadPictureFile(const std::string& path, const PictureLimit& limit) {
    PictureFile file;
    file.Picture = LoadPictureFile(path, BackColor, &file.Alpha, limit);
    return file;
}

PictureFile ReadPictureToEncode(const std::string& path) {
    try {
        return ReadPictureFile(path, {MaxPictureSide - 1, MaxPictureSide - 1});
    } catch (const EPictureTooLarge& e) {
        throw EInvalidGraphic(ReencodeSizeFault(e.Width(), e.Height()));
    }
}

std::string IconFileName(const std::string& stem, std::int64_t number,
                         const std::string& extension) {
    std::string digits = std::to_string(number);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return stem + "_" + digits + extension;
}

PixelChanges& PixelChanges::operator+=(const PixelChanges& more) {
    PartlyClear += more.PartlyClear;
    PartlyOpaque += more.PartlyOpaque;
    BecameBackground += more.BecameBackground;
    Reduced += more.Reduced;
    return *this;
}

Image TakeIconPicture(const PictureFile& file, int x, int y, int w, int h, PixelChanges& changes) {
    Image picture(w, h);
    picture.Draw(-x, -y, file.Picture);
    if (!file.Alpha.empty()) {
        const int fromY = std::max(y, 0), toY = std::min(y + h, file.Picture.Height());
        const int fromX = std::max(x, 0), toX = std::min(x + w, file.Picture.Width());
        for (int row = fromY; row < toY; ++row) {
            const std::uint8_t* alpha =
                file.Alpha.data() + static_cast<std::size_t>(row) * file.Picture.Width();
            TColor* out = picture.Row(row - y);
            for (int col = fromX; col < toX; ++col) {
                const std::uint8_t a = alpha[col];
                changes.PartlyClear += a > 0 && a < 128;
                changes.PartlyOpaque += a >= 128 && a < 255;
                TColor& c = out[col - x];
                if (a >= 128 && c != BackColor && PackPixel(c) == kBackValue) {
                    c = BackColor;
                    ++changes.BecameBackground;
                }
            }
        }
    }
    changes.Reduced += ReducedPixelCount(picture);
    return picture;
}

Image TakeIconPicture(const PictureFile& file, PixelChanges& changes) {
    return TakeIconPicture(file, 0, 0, file.Picture.Width(), file.Picture.Height(), changes);
}

bool IconHolds(InFile& file, const TIconTable& table, int index, const Image& picture) {
    const TIconHeader& header = table.Headers[static_cast<std::size_t>(index)];
    if (picture.Width() != std::max(header.FWidth, 0) ||
        picture.Height() != std::max(header.FHeight, 0))
        return false;
    const Image frame = DecodeIcon(file, TableIconOffset(table, index), header);
    for (int y = 0; y < frame.Height(); ++y) {
        const TColor* a = frame.Row(y);
        const TColor* b = picture.Row(y);
        for (int x = 0; x < frame.Width(); ++x)
            if (PackPixel(a[x]) != PackPixel(b[x]))
                return false;
    }
    return true;
}

std::vector<std::string> PixelChangeWarnings(const std::string& path, const PixelChanges& changes) {
    std::vector<std::string> lines;
    if (const std::int64_t partly = changes.PartlyClear + changes.PartlyOpaque; partly > 0)
        lines.push_back(Pixels(partly) + (partly == 1 ? " was" : " were") +
                        " partly transparent: " + std::to_string(changes.PartlyClear) +
                        " became the background (alpha below 128), " +
                        std::to_string(changes.PartlyOpaque) + " became opaque.");
    if (changes.BecameBackground > 0)
        lines.push_back(Pixels(changes.BecameBackground) + " became the background colour, as " +
                        (changes.BecameBackground == 1 ? "its" : "their") +
                        " 16-bit value is the background's.");
    if (changes.Reduced > 0)
        lines.push_back("colours are reduced to 16 bits (5-6-5); " + Pixels(changes.Reduced) +
                        " changed.");
    for (std::string& line : lines)
        line = "Warning: " + path + ": " + line;
    return lines;
}

} // namespace kiv
