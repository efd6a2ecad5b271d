#include "image/Bitmap.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kiv {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kCoreHeaderSize = 12;

constexpr std::uint32_t kRGB = 0;
constexpr std::uint32_t kRLE8 = 1;
constexpr std::uint32_t kRLE4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

// Larger pictures are refused before anything is allocated: at most 1 GiB of pixels.
constexpr std::int64_t kMaxSide = 32767;
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;
// The largest allowed picture needs well under this many bytes in any form.
constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 31;

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(GetInt32LE(p));
}

void Put16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t value) {
    PutInt32LE(p, static_cast<std::int32_t>(value));
}

std::int64_t RowStride(std::int64_t width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// One colour field of a 16- or 32-bit pixel, scaled to 0..255 with rounding, so a 5-bit
// 31 gives 255 and a 6-bit 32 gives 130.
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask) {
        if (mask == 0)
            return;
        while (((mask >> shift_) & 1) == 0)
            ++shift_;
        const std::uint32_t field = mask >> shift_;
        if ((field & (field + 1)) != 0)
            throw EInvalidGraphic(); // the field's bits are not contiguous
        max_ = field;
        if (max_ <= 255)
            for (std::uint32_t v = 0; v <= max_; ++v)
                table_[v] = Scale(v);
    }
    std::uint32_t operator()(std::uint32_t pixel) const {
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return max_ <= 255 ? table_[v] : Scale(v);
    }

private:
    std::uint32_t Scale(std::uint32_t v) const {
        if (max_ == 0)
            return 0;
        return static_cast<std::uint32_t>((std::uint64_t{v} * 255 + max_ / 2) / max_);
    }
    std::uint32_t mask_;
    int shift_ = 0;
    std::uint32_t max_ = 0;
    std::uint8_t table_[256] = {};
};

struct Palette {
    TColor Colors[256] = {};
    unsigned Count = 0;

    TColor operator[](unsigned index) const {
        if (index >= Count)
            throw EInvalidGraphic();
        return Colors[index];
    }
};

// Uncompressed rows. `src` points at the first row in the file; `rowOf` maps a file row to
// a picture row.
void DecodeIndexedRows(Image& image, const std::uint8_t* src, std::int64_t stride, int bpp,
                       const Palette& palette, bool topDown) {
    const int w = image.Width();
    const int h = image.Height();
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* in = src + stride * r;
        TColor* out = image.Row(topDown ? r : h - 1 - r);
        switch (bpp) {
        case 8:
            for (int x = 0; x < w; ++x)
                out[x] = palette[in[x]];
            break;
        case 4:
            for (int x = 0; x < w; ++x)
                out[x] = palette[(x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4)];
            break;
        default: // 1
            for (int x = 0; x < w; ++x)
                out[x] = palette[(in[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        }
    }
}

void Decode24Rows(Image& image, const std::uint8_t* src, std::int64_t stride, bool topDown) {
    const int w = image.Width();
    const int h = image.Height();
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* in = src + stride * r;
        TColor* out = image.Row(topDown ? r : h - 1 - r);
        for (int x = 0; x < w; ++x, in += 3)
            out[x] = in[2] | (static_cast<TColor>(in[1]) << 8) | (static_cast<TColor>(in[0]) << 16);
    }
}

void DecodeMaskedRows(Image& image, const std::uint8_t* src, std::int64_t stride, int bpp,
                      const std::uint32_t masks[3], bool topDown) {
    const int w = image.Width();
    const int h = image.Height();
    if (bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF) {
        // The common B, G, R, x layout.
        for (int r = 0; r < h; ++r) {
            const std::uint8_t* in = src + stride * r;
            TColor* out = image.Row(topDown ? r : h - 1 - r);
            for (int x = 0; x < w; ++x, in += 4)
                out[x] =
                    in[2] | (static_cast<TColor>(in[1]) << 8) | (static_cast<TColor>(in[0]) << 16);
        }
        return;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* in = src + stride * r;
        TColor* out = image.Row(topDown ? r : h - 1 - r);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = bpp == 32 ? Get32(in + 4 * x) : Get16(in + 2 * x);
            out[x] = red(p) | (green(p) << 8) | (blue(p) << 16);
        }
    }
}

// Run-length rows (always bottom-up). Pixels the stream skips stay black. A run, an
// absolute block or a delta that leaves the picture is invalid data; a stream that ends
// before its end-of-bitmap code while rows are still missing is a short file.
void DecodeRunLength(Image& image, const std::uint8_t* p, const std::uint8_t* end, bool rle4,
                     const Palette& palette) {
    const int w = image.Width();
    const int h = image.Height();
    int x = 0;
    int y = 0; // file row, counted from the bottom of the picture
    auto place = [&](int count) -> TColor* {
        if (y >= h || count > w - x)
            throw EInvalidGraphic();
        return image.Row(h - 1 - y) + x;
    };
    for (;;) {
        if (end - p < 2) {
            if (y >= h || (y == h - 1 && x == w))
                return; // the picture is complete; only the end code is missing
            throw EReadError();
        }
        const int count = p[0];
        const int code = p[1];
        p += 2;
        if (count > 0) {
            TColor* out = place(count);
            if (!rle4) {
                std::fill_n(out, count, palette[code]);
            } else {
                const TColor even = palette[code >> 4];
                const TColor odd = count > 1 ? palette[code & 0x0F] : even;
                for (int k = 0; k < count; ++k)
                    out[k] = (k & 1) ? odd : even;
            }
            x += count;
        } else if (code == 0) { // end of line
            x = 0;
            y = std::min(y + 1, h);
        } else if (code == 1) { // end of bitmap
            return;
        } else if (code == 2) { // delta: right and up
            if (end - p < 2)
                throw EReadError();
            x += p[0];
            y += p[1];
            p += 2;
            if (x > w || y > h)
                throw EInvalidGraphic();
        } else { // absolute block of `code` pixels, padded to a 16-bit boundary
            const std::ptrdiff_t bytes = rle4 ? (code + 1) / 2 : code;
            if (end - p < bytes)
                throw EReadError();
            TColor* out = place(code);
            if (!rle4) {
                for (int k = 0; k < code; ++k)
                    out[k] = palette[p[k]];
            } else {
                for (int k = 0; k < code; ++k)
                    out[k] = palette[(k & 1) ? (p[k >> 1] & 0x0F) : (p[k >> 1] >> 4)];
            }
            x += code;
            p += std::min<std::ptrdiff_t>(bytes + (bytes & 1), end - p);
        }
    }
}

} // namespace

std::vector<std::uint8_t> EncodeBitmap(const Image& image) {
    const int w = image.Width();
    const int h = image.Height();
    const std::int64_t stride = RowStride(w, 24);
    const std::int64_t imageSize = stride * h;
    const std::int64_t fileSize =
        static_cast<std::int64_t>(kFileHeaderSize + kInfoHeaderSize) + imageSize;
    // The header's size words are 32 bits wide.
    if (fileSize > 0xFFFFFFFFLL)
        throw EInvalidGraphic();

    std::vector<std::uint8_t> out(static_cast<std::size_t>(fileSize), 0);
    std::uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, static_cast<std::uint32_t>(fileSize));
    Put32(p + 10, kFileHeaderSize + kInfoHeaderSize);
    p += kFileHeaderSize;
    Put32(p + 0, kInfoHeaderSize);
    Put32(p + 4, static_cast<std::uint32_t>(w));
    Put32(p + 8, static_cast<std::uint32_t>(h));
    Put16(p + 12, 1);
    Put16(p + 14, 24);
    Put32(p + 20, static_cast<std::uint32_t>(imageSize));
    p += kInfoHeaderSize;

    for (int r = 0; r < h; ++r) {
        std::uint8_t* row = p + stride * r;
        const TColor* in = image.Row(h - 1 - r);
        for (int x = 0; x < w; ++x, row += 3) {
            const TColor c = in[x];
            row[0] = static_cast<std::uint8_t>(c >> 16);
            row[1] = static_cast<std::uint8_t>(c >> 8);
            row[2] = static_cast<std::uint8_t>(c);
        }
    }
    return out;
}

Image DecodeBitmap(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return Image();
    if (size < kFileHeaderSize)
        throw EReadError();
    if (data[0] != 'B' || data[1] != 'M')
        throw EInvalidGraphic();
    const std::uint32_t pixelOffset = Get32(data + 10);

    if (size < kFileHeaderSize + 4)
        throw EReadError();
    const std::uint8_t* info = data + kFileHeaderSize;
    const std::uint32_t headerSize = Get32(info);
    switch (headerSize) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 108:
    case 124:
        break;
    default:
        throw EInvalidGraphic();
    }
    if (size < kFileHeaderSize + headerSize)
        throw EReadError();

    const bool core = headerSize == kCoreHeaderSize;
    std::int64_t width, height;
    int bpp;
    std::uint32_t compression = kRGB;
    std::uint32_t colorsUsed = 0;
    if (core) {
        width = Get16(info + 4);
        height = Get16(info + 6);
        bpp = Get16(info + 10);
    } else {
        width = static_cast<std::int32_t>(Get32(info + 4));
        height = static_cast<std::int32_t>(Get32(info + 8));
        bpp = Get16(info + 14);
        compression = Get32(info + 16);
        colorsUsed = Get32(info + 32);
    }
    const bool topDown = height < 0;
    height = topDown ? -height : height;

    switch (compression) {
    case kRGB:
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            throw EInvalidGraphic();
        break;
    case kRLE8:
    case kRLE4:
        if (bpp != (compression == kRLE8 ? 8 : 4) || topDown)
            throw EInvalidGraphic();
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (bpp != 16 && bpp != 32)
            throw EInvalidGraphic();
        break;
    default:
        throw EInvalidGraphic();
    }
    if (width < 0 || width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        throw EInvalidGraphic();

    // Colour masks: inside the longer headers, or right after a 40-byte one.
    std::size_t headersEnd = kFileHeaderSize + headerSize;
    std::uint32_t masks[3] = {0xFF0000, 0xFF00, 0xFF};
    if (bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (compression == kBitFields || compression == kAlphaBitFields) {
        const std::uint8_t* m = info + 40;
        if (headerSize == kInfoHeaderSize) {
            headersEnd += compression == kBitFields ? 12 : 16;
            if (size < headersEnd)
                throw EReadError();
        }
        for (int k = 0; k < 3; ++k)
            masks[k] = Get32(m + 4 * k);
    }
    if (pixelOffset < headersEnd)
        throw EInvalidGraphic();

    // The colour table lies between the headers and the pixels; entries the file promises
    // beyond the pixel offset, or beyond what the bit depth can index, are not read.
    Palette palette;
    if (bpp <= 8) {
        const std::size_t entrySize = core ? 3 : 4;
        const std::uint64_t room = (std::min<std::uint64_t>(pixelOffset, size) -
                                    std::min<std::uint64_t>(headersEnd, size)) /
                                   entrySize;
        std::uint64_t entries = colorsUsed == 0 ? (1u << bpp) : colorsUsed;
        entries = std::min<std::uint64_t>({entries, std::uint64_t{1} << bpp, room});
        const std::uint8_t* t = data + headersEnd;
        for (std::size_t k = 0; k < entries; ++k, t += entrySize)
            palette.Colors[k] = RGB(t[2], t[1], t[0]);
        palette.Count = static_cast<unsigned>(entries);
    }

    if (width == 0 || height == 0)
        return Image();
    if (pixelOffset > size)
        throw EReadError();

    Image image(static_cast<int>(width), static_cast<int>(height));
    const std::uint8_t* pixels = data + pixelOffset;
    if (compression == kRLE8 || compression == kRLE4) {
        DecodeRunLength(image, pixels, data + size, compression == kRLE4, palette);
        return image;
    }
    const std::int64_t stride = RowStride(width, bpp);
    if (static_cast<std::int64_t>(size - pixelOffset) < stride * height)
        throw EReadError();
    if (bpp <= 8)
        DecodeIndexedRows(image, pixels, stride, bpp, palette, topDown);
    else if (bpp == 24)
        Decode24Rows(image, pixels, stride, topDown);
    else
        DecodeMaskedRows(image, pixels, stride, bpp, masks, topDown);
    return image;
}

void SaveBitmapFile(const Image& image, const std::string& path) {
    const std::vector<std::uint8_t> bytes = EncodeBitmap(image);
    WriteWholeFile(path, bytes.data(), bytes.size());
}

Image LoadBitmapFile(const std::string& path) {
    const std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file)
        throw EFOpenError(path);
    const std::int64_t length = file->Length();
    if (length > kMaxFileSize)
        throw EInvalidGraphic();
    // Not zero-filled: every byte used is one that was read.
    const std::unique_ptr<std::uint8_t[]> data(
        new std::uint8_t[static_cast<std::size_t>(length) + 1]);
    const std::size_t got = file->Read(data.get(), static_cast<std::size_t>(length));
    return DecodeBitmap(data.get(), got);
}

void Image::SaveToFile(const std::string& path) const {
    SaveBitmapFile(*this, path);
}

void Image::LoadFromFile(const std::string& path) {
    *this = LoadBitmapFile(path);
}

} // namespace kiv
