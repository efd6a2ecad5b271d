#pragma once
// Icon pictures as files a modder edits elsewhere. In a PNG every pixel whose 16-bit value is
// the background's is transparent, inside an icon's box as outside it, so an image editor
// shows only the drawing; read back, a transparent pixel is the background colour, and so is
// an opaque one of that 16-bit value. Bitmaps keep every colour as it stands.

#include "image/Image.h"
#include "image/Png.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class InFile;

// Transparent in a PNG: every colour that packs to BackColor's 16-bit value.
inline constexpr PngKey BackKey{BackColor, 0x00F8FCF8};

// A picture file as read: its pixels (transparent ones as BackColor) and, for a PNG, each
// pixel's alpha; empty for a bitmap.
struct PictureFile {
    Image Picture;
    std::vector<std::uint8_t> Alpha;
    // Whether any pixel reads as transparent (alpha below 128).
    bool HasTransparentPixel() const;
};

// Throws as LoadPictureFile does; a picture larger than `limit` is refused before a pixel of
// it is decoded (EPictureTooLarge).
PictureFile ReadPictureFile(const std::string& path, const PictureLimit& limit = {});
// The picture file at `path` read for re-encoding: one that declares a picture too large to
// encode is refused before a pixel of it is decoded, in ReencodePictureFault's words
// (EInvalidGraphic).
PictureFile ReadPictureToEncode(const std::string& path);

// What taking a picture into an icon does to its pixels.
struct PixelChanges {
    std::int64_t PartlyClear = 0;      // alpha 1 to 127: read as the background
    std::int64_t PartlyOpaque = 0;     // alpha 128 to 254: read as opaque
    std::int64_t BecameBackground = 0; // opaque, of the background's 16-bit value
    std::int64_t Reduced = 0;          // icon pixels 16 bits store in another colour
    PixelChanges& operator+=(const PixelChanges& more);
};

// The part of `file` at (x, y), w x h, as the re-encoder takes it: in a PNG's pixels, the
// background's 16-bit value becomes BackColor. `changes` counts what happened on the way.
Image TakeIconPicture(const PictureFile& file, int x, int y, int w, int h, PixelChanges& changes);
Image TakeIconPicture(const PictureFile& file, PixelChanges& changes);

// Whether the icon at `index` (0-based) of the loaded file decodes to `picture` in 16-bit
// terms: same size, every pixel of the same 16-bit value. Such an icon keeps its stored bytes.
bool IconHolds(InFile& file, const TIconTable& table, int index, const Image& picture);

// The name of a file holding icon `number` of a sprite file with this stem: "hero_0003.png"
// (four digits at least), so file lists sort in icon order.
std::string IconFileName(const std::string& stem, std::int64_t number,
                         const std::string& extension = ".bmp");

// One warning line per kind of change, each "Warning: PATH: ...", without a line end.
std::vector<std::string> PixelChangeWarnings(const std::string& path, const PixelChanges& changes);

} // namespace kiv
