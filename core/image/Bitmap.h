#pragma once
// Windows bitmap files: the exact 24-bit file the tool writes, and every standard form
// that other programs write, read back safely.

#include "image/Image.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// Larger pictures are refused, in any file format, before anything is allocated: at most
// 1 GiB of pixels.
constexpr int kMaxPictureSide = 32767;
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 28;

// The largest picture a caller will use. Every reader checks the size a file declares
// against it before it decodes a pixel or allocates the picture, and refuses a larger one
// with EPictureTooLarge; the limits above are the last resort.
struct PictureLimit {
    std::int64_t Width = kMaxPictureSide;
    std::int64_t Height = kMaxPictureSide;
};

// The whole file the tool writes for `image`: 14-byte file header, 40-byte information
// header, 24-bit rows bottom-up in blue-green-red order, each padded to 4 bytes.
std::vector<std::uint8_t> EncodeBitmap(const Image& image);

// Decodes a whole bitmap file held in memory. An empty buffer gives an empty picture;
// 1 to 13 bytes throw EReadError; anything that is not a bitmap throws EInvalidGraphic,
// and a file shorter than its headers say throws EReadError.
Image DecodeBitmap(const std::uint8_t* data, std::size_t size, const PictureLimit& limit = {});

// File forms; Load throws EFOpenError when the file cannot be opened, Save EFCreateError
// when it cannot be created and EWriteError when a write fails.
void SaveBitmapFile(const Image& image, const std::string& path);
Image LoadBitmapFile(const std::string& path, const PictureLimit& limit = {});

} // namespace kiv
