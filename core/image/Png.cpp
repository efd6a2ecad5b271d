#include "image/Png.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The decoder's every allocation goes through here: one larger than the picture the header
// declares could ever need is refused, so a small file that inflates without end, or a
// file of chunks far larger than its picture, fails instead of taking the machine's memory.
thread_local std::size_t gAllocationLimit = 0;

void* LimitedMalloc(std::size_t size) {
    return size <= gAllocationLimit ? std::malloc(size) : nullptr;
}
void* LimitedRealloc(void* block, std::size_t size) {
    return size <= gAllocationLimit ? std::realloc(block, size) : nullptr;
}

} // namespace

#define STBI_MALLOC(size) LimitedMalloc(size)
#define STBI_REALLOC(block, size) LimitedRealloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 32767
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace kiv {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The signature, then the header chunk: length, type, 13 bytes of data, checksum.
constexpr std::size_t kHeadBytes = 8 + 8 + 13 + 4;
// Room for chunks besides the pixels (text, colour profiles, thumbnails) and for the
// decoder's own tables.
constexpr std::int64_t kSlackBytes = 16 << 20;

std::uint32_t Get32BE(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

[[noreturn]] void Invalid(const std::string& reason) {
    throw EInvalidGraphic("PNG image is not valid: " + reason);
}

// The most bytes a valid file, or any one buffer its decoding needs, can take for the
// picture its header declares. The header is checked on the way: the signature, the
// size against the bitmap limits, and the depth and colour type pair.
std::int64_t CheckHeader(const std::uint8_t* data, std::size_t size) {
    if (!IsPngData(data, size))
        Invalid("the file does not begin with the PNG signature");
    if (size < kHeadBytes)
        Invalid("the file ends inside its header");
    if (Get32BE(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
        Invalid("the file does not begin with a header chunk");
    const std::int64_t width = Get32BE(data + 16);
    const std::int64_t height = Get32BE(data + 20);
    if (width == 0 || height == 0)
        Invalid("the picture has no pixels");
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        Invalid("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is too large");
    const int depth = data[24];
    int channels = 0;
    bool depthOk = false;
    switch (data[25]) {
    case 0: // grey
        channels = 1;
        depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 3: // palette
        channels = 1;
        depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 2: // RGB
    case 4: // grey and alpha
    case 6: // RGBA
        channels = data[25] == 2 ? 3 : data[25] == 4 ? 2 : 4;
        depthOk = depth == 8 || depth == 16;
        break;
    default:
        Invalid("unknown colour type " + std::to_string(data[25]));
    }
    if (!depthOk)
        Invalid("bit depth " + std::to_string(depth) + " is not allowed for colour type " +
                std::to_string(data[25]));
    if (data[26] != 0 || data[27] != 0 || data[28] > 1)
        Invalid("unknown compression, filter or interlace method");
    // Filtered rows (an interlaced file adds at most one filter byte per row and pass), or
    // the decoded picture at up to 8 bytes a pixel, whichever is larger.
    const std::int64_t rows = height * ((width * channels * depth + 7) / 8 + 8);
    return 2 * std::max(rows, width * height * 8) + kSlackBytes;
}

std::string Reason(const char* failure) {
    if (failure == nullptr)
        return "its data cannot be decoded";
    if (std::strcmp(failure, "outofmem") == 0)
        return "its data is larger than its picture";
    if (std::strcmp(failure, "outofdata") == 0)
        return "the file ends inside its data";
    return failure;
}

// The file without its empty data chunks, or an empty vector when it has none. They are
// valid, but the decoder would copy zero bytes into a buffer it has not made yet.
std::vector<std::uint8_t> WithoutEmptyData(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> kept;
    std::size_t copied = 0;
    for (std::size_t at = 8; size - at >= 12;) {
        const std::uint32_t length = Get32BE(data + at);
        if (length > size - at - 12)
            break; // the decoder reports the cut
        if (length == 0 && std::memcmp(data + at + 4, "IDAT", 4) == 0) {
            kept.insert(kept.end(), data + copied, data + at);
            copied = at + 12;
        }
        at += 12 + std::size_t{length};
    }
    if (copied != 0)
        kept.insert(kept.end(), data + copied, data + size);
    return kept;
}

} // namespace

bool IsPngData(const std::uint8_t* data, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

bool IsPngPath(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

Image DecodePng(const std::uint8_t* data, std::size_t size, TColor transparent,
                std::vector<std::uint8_t>* alpha) {
    const std::int64_t limit = CheckHeader(data, size);
    if (size > static_cast<std::size_t>(std::min<std::int64_t>(limit, INT_MAX)))
        Invalid("the file is larger than its picture can be");

    const std::vector<std::uint8_t> kept = WithoutEmptyData(data, size);
    if (!kept.empty()) {
        data = kept.data();
        size = kept.size();
    }

    gAllocationLimit = static_cast<std::size_t>(limit);
    int w = 0, h = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> rgba(
        stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &channels, 4), std::free);
    gAllocationLimit = 0;
    if (!rgba)
        Invalid(Reason(stbi_failure_reason()));

    Image image(w, h);
    const stbi_uc* in = rgba.get();
    TColor* out = image.Row(0);
    const std::size_t n = static_cast<std::size_t>(w) * h;
    if (alpha)
        alpha->resize(n);
    for (std::size_t k = 0; k < n; ++k, in += 4) {
        out[k] = in[3] < 128 ? transparent : RGB(in[0], in[1], in[2]);
        if (alpha)
            (*alpha)[k] = in[3];
    }
    return image;
}

void SavePngFile(const Image& image, const std::string& path, PngKey transparent) {
    const std::vector<std::uint8_t> bytes = EncodePng(image, transparent);
    try {
        WriteWholeFile(path, bytes.data(), bytes.size());
    } catch (const EWriteError& e) {
        throw EWriteError("Cannot write file " + path, e.Reason(), path);
    }
}

Image LoadPngFile(const std::string& path, TColor transparent, std::vector<std::uint8_t>* alpha) {
    const std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file)
        throw EFOpenError(path);
    std::uint8_t head[kHeadBytes];
    const std::size_t got = file->Read(head, sizeof head);
    // The size is weighed against the header before the whole file is read.
    const std::int64_t limit = CheckHeader(head, got);
    if (file->Length() > std::min<std::int64_t>(limit, INT_MAX))
        Invalid("the file is larger than its picture can be");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(file->Length()));
    std::memcpy(data.data(), head, got);
    if (file->Read(data.data() + got, data.size() - got) != data.size() - got)
        throw EReadError(); // the file shrank since it was opened
    return DecodePng(data.data(), data.size(), transparent, alpha);
}

void SavePictureFile(const Image& image, const std::string& path, PngKey transparent) {
    if (IsPngPath(path))
        SavePngFile(image, path, transparent);
    else
        SaveBitmapFile(image, path);
}

bool PictureFileHolds(const Image& image, const std::string& path, PngKey transparent) {
    const std::vector<std::uint8_t> bytes =
        IsPngPath(path) ? EncodePng(image, transparent) : EncodeBitmap(image);
    return FileHolds(path, bytes.data(), bytes.size());
}

Image LoadPictureFile(const std::string& path, TColor transparent,
                      std::vector<std::uint8_t>* alpha) {
    std::uint8_t head[sizeof kSignature] = {};
    std::size_t got = 0;
    {
        const std::unique_ptr<InFile> file = InFile::Open(path);
        if (!file)
            throw EFOpenError(path);
        got = file->Read(head, sizeof head);
    }
    if (IsPngData(head, got))
        return LoadPngFile(path, transparent, alpha);
    if (alpha)
        alpha->clear();
    return LoadBitmapFile(path);
}

} // namespace kiv
