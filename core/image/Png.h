#pragma once
// PNG files: 8-bit RGBA as the tool writes them, and every standard form (palette, grey,
// 16-bit, interlaced, with or without alpha) read back. The picture has no alpha, so one
// key colour stands for transparency: it is written fully transparent (its colour kept in
// the RGB channels), and a read pixel whose alpha is below 128 becomes the key colour.

#include "image/Bitmap.h" // PictureLimit
#include "image/Image.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// True when the bytes begin with the PNG signature.
bool IsPngData(const std::uint8_t* data, std::size_t size);
// True when the path ends in ".png", in any case.
bool IsPngPath(const std::string& path);

std::vector<std::uint8_t> EncodePng(const Image& image, TColor transparent);

// Decodes a whole PNG file held in memory. Every chunk's checksum and the image data's
// checksum are checked; the size the header declares is weighed against the bitmap caps and
// `limit` before the picture is allocated (EPictureTooLarge beyond `limit`). Every other fault
// throws EInvalidGraphic with its reason. Memory beyond the picture stays a few rows.
Image DecodePng(const std::uint8_t* data, std::size_t size, TColor transparent,
                const PictureLimit& limit = {});

// File forms; Load throws EFOpenError when the file cannot be opened and reads the file once,
// front to back; Save EFCreateError when it cannot be created and EWriteError when a write
// fails.
void SavePngFile(const Image& image, const std::string& path, TColor transparent);
Image LoadPngFile(const std::string& path, TColor transparent, const PictureLimit& limit = {});

// Picture files of either kind: saved as PNG when the path ends in ".png", else as a
// bitmap; loaded as PNG when the file begins with the PNG signature, else as a bitmap.
void SavePictureFile(const Image& image, const std::string& path, TColor transparent);
// True when the file at `path` already holds exactly what SavePictureFile would write.
bool PictureFileHolds(const Image& image, const std::string& path, TColor transparent);
Image LoadPictureFile(const std::string& path, TColor transparent, const PictureLimit& limit = {});

} // namespace kiv
