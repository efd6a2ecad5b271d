#pragma once
// PNG files: written in the smallest of palette, RGB or RGBA form (PngWriter.cpp), and every
// standard form (palette, grey, 16-bit, interlaced, with or without alpha) read back. The
// picture has no alpha, so a key stands for transparency: the pixels it matches are written
// fully transparent (their colour kept in the RGB channels), and a read pixel whose alpha is
// below 128 becomes the key colour.

#include "image/Bitmap.h" // PictureLimit
#include "image/Image.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// True when the bytes begin with the PNG signature.
bool IsPngData(const std::uint8_t* data, std::size_t size);
// True when the path ends in ".png", in any case.
bool IsPngPath(const std::string& path);

// The pixels a PNG is written with as transparent: those equal to Color in the bits of Mask.
struct PngKey {
    constexpr PngKey(TColor color, TColor mask = 0x00FFFFFF) : Color(color), Mask(mask) {}
    constexpr bool Matches(TColor c) const { return ((c ^ Color) & Mask) == 0; }
    TColor Color;
    TColor Mask;
};

std::vector<std::uint8_t> EncodePng(const Image& image, PngKey transparent);

// An animated PNG of `frames` (at least one, all of one size), each shown delayNum / delayDen
// seconds, every colour exact, in the form EncodePng would choose for all their pixels
// together; the pixels `transparent` matches are transparent (none: every pixel opaque).
// `loop`: played over and over; otherwise once. Viewers without animation show frame one.
std::vector<std::uint8_t> EncodeAnimatedPng(const std::vector<const Image*>& frames,
                                            const std::optional<PngKey>& transparent, int delayNum,
                                            int delayDen, bool loop);

// Decodes a whole PNG file held in memory. Every chunk's CRC-32 and the image data's
// Adler-32 are checked; the size the header declares is weighed against the bitmap limits and
// then `limit` before the picture is allocated (EPictureTooLarge beyond `limit`). Every other
// fault throws EInvalidGraphic with its reason. The data are gone through twice: the picture
// is allocated only once the first pass found no fault, so a refused file costs a few rows.
// With `alpha`, it receives each pixel's alpha in picture order (255 throughout for a file
// without transparency).
Image DecodePng(const std::uint8_t* data, std::size_t size, TColor transparent,
                std::vector<std::uint8_t>* alpha = nullptr, const PictureLimit& limit = {});

// File forms; Load throws EFOpenError when the file cannot be opened and reads the file front
// to back, twice; Save EFCreateError when it cannot be created and EWriteError when a write
// fails.
void SavePngFile(const Image& image, const std::string& path, PngKey transparent);
Image LoadPngFile(const std::string& path, TColor transparent,
                  std::vector<std::uint8_t>* alpha = nullptr, const PictureLimit& limit = {});

// Picture files of either kind: saved as PNG when the path ends in ".png", else as a
// bitmap; loaded as PNG when the file begins with the PNG signature, else as a bitmap (whose
// `alpha` is left empty).
void SavePictureFile(const Image& image, const std::string& path, PngKey transparent);
// True when the file at `path` already holds exactly what SavePictureFile would write.
bool PictureFileHolds(const Image& image, const std::string& path, PngKey transparent);
// True when the file at `path` reads back as the picture SavePictureFile would write for
// `image`, whatever its bytes (a picture saved again by an image editor): the same size,
// every pixel the key makes transparent read as transparent (or of the key's value), every
// other one of its exact colour and opaque. A file that cannot be read, or declares a larger
// picture, does not.
bool PictureFileShows(const Image& image, const std::string& path, PngKey transparent);
Image LoadPictureFile(const std::string& path, TColor transparent,
                      std::vector<std::uint8_t>* alpha = nullptr, const PictureLimit& limit = {});

} // namespace kiv
