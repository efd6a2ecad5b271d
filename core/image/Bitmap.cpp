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

constexpr std::int64_t kMaxSide = kMaxPictureSide;
constexpr std::int64_t kMaxPixels = kMaxPicturePixels;
// The largest allowed picture needs well under this many bytes in any form.
constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 31;

// The headers, masks and the part of a colour table that can ever be used all lie within
// this many bytes from the start of a file.
constexpr std::size_t kHeadBytes = kFileHeaderSize + 124 + 16 + 256 * 4;

// Rows move between file and picture in blocks of about this size.
constexpr std::int64_t kBlockBytes = 1 << 20;

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

// True when the set bits of `mask` form one unbroken field (or there are none).
bool Contiguous(std::uint32_t mask) {
    if (mask == 0)
        return true;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

// One colour field of a 16- or 32-bit pixel, scaled to 0..255 with rounding, so a 5-bit 31
// gives 255 and a 6-bit 32 gives 130. The mask is contiguous (checked with the headers).
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask) {
        if (mask == 0)
            return;
        while (((mask >> shift_) & 1) == 0)
            ++shift_;
        max_ = mask >> shift_;
        if (max_ <= 255)
            for (std::uint32_t v = 0; v <= max_; ++v)
                table_[v] = static_cast<std::uint8_t>(Scale(v));
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

// What the headers say about the pixels.
struct Layout {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    bool TopDown = false;
    int Bpp = 0;
    std::uint32_t Compression = kRGB;
    std::uint32_t Masks[3] = {0xFF0000, 0xFF00, 0xFF};
    std::uint32_t PixelOffset = 0;
    Palette Colors;

    bool Empty() const { return Width == 0 || Height == 0; }
    bool RunLength() const { return Compression == kRLE8 || Compression == kRLE4; }
    std::int64_t Stride() const { return RowStride(Width, Bpp); }
    // The picture row that file row `r` fills.
    int PictureRow(std::int64_t r) const { return static_cast<int>(TopDown ? r : Height - 1 - r); }
};

// The file header and the size, depth and compression of the info header; returns the info
// header's size.
std::uint32_t ReadHeaders(const std::uint8_t* head, std::uint64_t fileSize, Layout& layout,
                          std::uint32_t& colorsUsed) {
    if (fileSize < kFileHeaderSize)
        throw EReadError();
    if (head[0] != 'B' || head[1] != 'M')
        throw EInvalidGraphic();
    layout.PixelOffset = Get32(head + 10);

    if (fileSize < kFileHeaderSize + 4)
        throw EReadError();
    const std::uint8_t* info = head + kFileHeaderSize;
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
    if (fileSize < kFileHeaderSize + headerSize)
        throw EReadError();

    if (headerSize == kCoreHeaderSize) {
        layout.Width = Get16(info + 4);
        layout.Height = Get16(info + 6);
        layout.Bpp = Get16(info + 10);
    } else {
        layout.Width = static_cast<std::int32_t>(Get32(info + 4));
        layout.Height = static_cast<std::int32_t>(Get32(info + 8));
        layout.Bpp = Get16(info + 14);
        layout.Compression = Get32(info + 16);
        colorsUsed = Get32(info + 32);
    }
    layout.TopDown = layout.Height < 0;
    if (layout.TopDown)
        layout.Height = -layout.Height;
    return headerSize;
}

// Refuses a depth the compression does not take and sizes beyond the limits.
void CheckForm(const Layout& layout, const PictureLimit& limit) {
    const int bpp = layout.Bpp;
    switch (layout.Compression) {
    case kRGB:
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            throw EInvalidGraphic();
        break;
    case kRLE8:
    case kRLE4:
        // Run-length rows always run bottom-up.
        if (bpp != (layout.Compression == kRLE8 ? 8 : 4) || layout.TopDown)
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
    if (layout.Width < 0 || layout.Width > kMaxSide || layout.Height > kMaxSide ||
        layout.Width * layout.Height > kMaxPixels)
        throw EInvalidGraphic();
    if (layout.Width > limit.Width || layout.Height > limit.Height)
        throw EPictureTooLarge(layout.Width, layout.Height);
}

// Colour masks: inside the longer headers, or right after a 40-byte one. The alpha mask is
// not used: the picture has no alpha. Returns where the headers end.
std::size_t ReadMasks(const std::uint8_t* info, std::uint32_t headerSize, std::uint64_t fileSize,
                      Layout& layout) {
    std::size_t headersEnd = kFileHeaderSize + headerSize;
    if (layout.Bpp == 16) {
        layout.Masks[0] = 0x7C00;
        layout.Masks[1] = 0x03E0;
        layout.Masks[2] = 0x001F;
    }
    if (layout.Compression == kBitFields || layout.Compression == kAlphaBitFields) {
        if (headerSize == kInfoHeaderSize) {
            headersEnd += layout.Compression == kBitFields ? 12 : 16;
            if (fileSize < headersEnd)
                throw EReadError();
        }
        for (int k = 0; k < 3; ++k) {
            layout.Masks[k] = Get32(info + 40 + 4 * k);
            if (!Contiguous(layout.Masks[k]))
                throw EInvalidGraphic();
        }
    }
    return headersEnd;
}

// Reads the headers of a file of `fileSize` bytes (at least 1) whose first `headSize` bytes,
// min(fileSize, kHeadBytes), are in `head`, and weighs the size they declare against `limit`.
Layout ReadLayout(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize,
                  const PictureLimit& limit) {
    Layout layout;
    std::uint32_t colorsUsed = 0;
    const std::uint32_t headerSize = ReadHeaders(head, fileSize, layout, colorsUsed);
    CheckForm(layout, limit);
    const std::size_t headersEnd = ReadMasks(head + kFileHeaderSize, headerSize, fileSize, layout);
    if (layout.PixelOffset < headersEnd)
        throw EInvalidGraphic();

    // The colour table lies between the headers and the pixels; entries the file promises
    // beyond the pixel offset, or beyond what the bit depth can index, are not read.
    const int bpp = layout.Bpp;
    if (bpp <= 8) {
        const std::size_t entrySize = headerSize == kCoreHeaderSize ? 3 : 4;
        const std::size_t tableEnd = std::min<std::size_t>(layout.PixelOffset, headSize);
        const std::size_t room = tableEnd > headersEnd ? (tableEnd - headersEnd) / entrySize : 0;
        std::uint64_t entries = colorsUsed == 0 ? (1u << bpp) : colorsUsed;
        entries = std::min<std::uint64_t>({entries, std::uint64_t{1} << bpp, room});
        const std::uint8_t* t = head + headersEnd;
        for (std::size_t k = 0; k < entries; ++k, t += entrySize)
            layout.Colors.Colors[k] = RGB(t[2], t[1], t[0]);
        layout.Colors.Count = static_cast<unsigned>(entries);
    }
    return layout;
}

// Turns one uncompressed file row into picture pixels.
class RowDecoder {
public:
    explicit RowDecoder(const Layout& layout)
        : layout_(layout), red_(layout.Masks[0]), green_(layout.Masks[1]), blue_(layout.Masks[2]) {
        // The common blue, green, red, unused layout goes the short way.
        plain32_ = layout.Bpp == 32 && layout.Masks[0] == 0xFF0000 && layout.Masks[1] == 0xFF00 &&
                   layout.Masks[2] == 0xFF;
    }

    void operator()(const std::uint8_t* in, TColor* out, int w) const {
        const Palette& palette = layout_.Colors;
        switch (layout_.Bpp) {
        case 1:
            for (int x = 0; x < w; ++x)
                out[x] = palette[(in[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < w; ++x)
                out[x] = palette[(x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4)];
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                out[x] = palette[in[x]];
            break;
        case 24:
            for (int x = 0; x < w; ++x, in += 3)
                out[x] =
                    in[2] | (static_cast<TColor>(in[1]) << 8) | (static_cast<TColor>(in[0]) << 16);
            break;
        case 32:
            if (plain32_) {
                for (int x = 0; x < w; ++x, in += 4)
                    out[x] = in[2] | (static_cast<TColor>(in[1]) << 8) |
                             (static_cast<TColor>(in[0]) << 16);
                break;
            }
            for (int x = 0; x < w; ++x)
                out[x] = Masked(Get32(in + 4 * x));
            break;
        default: // 16
            for (int x = 0; x < w; ++x)
                out[x] = Masked(Get16(in + 2 * x));
            break;
        }
    }

private:
    TColor Masked(std::uint32_t p) const { return red_(p) | (green_(p) << 8) | (blue_(p) << 16); }

    const Layout& layout_;
    Channel red_, green_, blue_;
    bool plain32_;
};

// Run-length rows (always bottom-up). Pixels the stream skips stay black. Writers commonly
// encode each row padded to a multiple of 4 pixels, so pixels of a run or an absolute block
// that fall past the row's end are dropped and the stream stays in step; an end-of-line after
// the last row and a missing end-of-bitmap after it are accepted. Invalid data: pixels or a
// delta beyond the last row, a delta past the right edge. A stream that ends while rows are
// still missing is a short file. Without `image` the stream of a w x h picture is only
// checked: every code and colour as when painting, nothing stored.
void DecodeRunLength(Image* image, int w, int h, const std::uint8_t* p, const std::uint8_t* end,
                     bool rle4, const Palette& palette) {
    int x = 0; // never beyond w: what lies past the row's end is dropped
    int y = 0; // file row, counted from the bottom of the picture
    // Where `count` pixels from x on land, and how many of them fit in the row.
    auto place = [&](int count, int& shown) -> TColor* {
        if (y >= h)
            throw EInvalidGraphic();
        shown = std::min(count, w - x);
        return image ? image->Row(h - 1 - y) + x : nullptr;
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
            int shown;
            TColor* out = place(count, shown);
            // A run wholly past the row's end is padding: its colour is never looked up.
            if (shown > 0 && !rle4) {
                const TColor color = palette[code];
                if (out)
                    std::fill_n(out, shown, color);
            } else if (shown > 0) {
                const TColor even = palette[code >> 4];
                const TColor odd = shown > 1 ? palette[code & 0x0F] : even;
                for (int k = 0; out && k < shown; ++k)
                    out[k] = (k & 1) ? odd : even;
            }
            x += shown;
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
            int shown;
            TColor* out = place(code, shown);
            for (int k = 0; k < shown; ++k) {
                const TColor color = palette[!rle4     ? p[k]
                                             : (k & 1) ? (p[k >> 1] & 0x0F)
                                                       : (p[k >> 1] >> 4)];
                if (out)
                    out[k] = color;
            }
            x += shown;
            p += std::min<std::ptrdiff_t>(bytes + (bytes & 1), end - p);
        }
    }
}

// The stream is checked whole before the picture is allocated: a few bytes that declare a
// large picture and then fail cost nothing.
Image DecodeRunLength(const Layout& layout, const std::uint8_t* p, const std::uint8_t* end) {
    const auto w = static_cast<int>(layout.Width);
    const auto h = static_cast<int>(layout.Height);
    const bool rle4 = layout.Compression == kRLE4;
    DecodeRunLength(nullptr, w, h, p, end, rle4, layout.Colors);
    Image image(w, h);
    DecodeRunLength(&image, w, h, p, end, rle4, layout.Colors);
    return image;
}

// The size of the file the tool writes for a w x h picture, and its row stride.
std::int64_t SavedFileSize(const Image& image, std::int64_t& stride) {
    stride = RowStride(image.Width(), 24);
    const std::int64_t size =
        static_cast<std::int64_t>(kFileHeaderSize + kInfoHeaderSize) + stride * image.Height();
    // The headers' size words are 32 bits wide.
    if (size > 0xFFFFFFFFLL)
        throw EInvalidGraphic();
    return size;
}

void PutHeaders(std::uint8_t* p, const Image& image, std::int64_t stride, std::int64_t fileSize) {
    std::memset(p, 0, kFileHeaderSize + kInfoHeaderSize);
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, static_cast<std::uint32_t>(fileSize));
    Put32(p + 10, kFileHeaderSize + kInfoHeaderSize);
    p += kFileHeaderSize;
    Put32(p + 0, kInfoHeaderSize);
    Put32(p + 4, static_cast<std::uint32_t>(image.Width()));
    Put32(p + 8, static_cast<std::uint32_t>(image.Height()));
    Put16(p + 12, 1);
    Put16(p + 14, 24);
    Put32(p + 20, static_cast<std::uint32_t>(stride * image.Height()));
}

// Picture row `y` as blue, green, red bytes, padded with zeros to `stride`.
void EncodeRow(const TColor* in, int w, std::uint8_t* out, std::int64_t stride) {
    std::uint8_t* p = out;
    for (int x = 0; x < w; ++x, p += 3) {
        const TColor c = in[x];
        p[0] = static_cast<std::uint8_t>(c >> 16);
        p[1] = static_cast<std::uint8_t>(c >> 8);
        p[2] = static_cast<std::uint8_t>(c);
    }
    std::fill(p, out + stride, std::uint8_t{0});
}

} // namespace

std::vector<std::uint8_t> EncodeBitmap(const Image& image) {
    std::int64_t stride;
    const std::int64_t fileSize = SavedFileSize(image, stride);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(fileSize));
    PutHeaders(out.data(), image, stride, fileSize);
    std::uint8_t* rows = out.data() + kFileHeaderSize + kInfoHeaderSize;
    const int h = image.Height();
    for (int r = 0; r < h; ++r)
        EncodeRow(image.Row(h - 1 - r), image.Width(), rows + stride * r, stride);
    return out;
}

Image DecodeBitmap(const std::uint8_t* data, std::size_t size, const PictureLimit& limit) {
    if (size == 0)
        return Image();
    const Layout layout = ReadLayout(data, std::min(size, kHeadBytes), size, limit);
    if (layout.Empty())
        return Image();
    if (layout.PixelOffset > size)
        throw EReadError();
    const std::uint8_t* pixels = data + layout.PixelOffset;
    if (layout.RunLength())
        return DecodeRunLength(layout, pixels, data + size);

    const std::int64_t stride = layout.Stride();
    if (static_cast<std::int64_t>(size - layout.PixelOffset) < stride * layout.Height)
        throw EReadError();
    Image image(static_cast<int>(layout.Width), static_cast<int>(layout.Height));
    const RowDecoder decode(layout);
    for (std::int64_t r = 0; r < layout.Height; ++r)
        decode(pixels + stride * r, image.Row(layout.PictureRow(r)), image.Width());
    return image;
}

namespace {

void WriteBitmapFile(const Image& image, const std::string& path) {
    std::int64_t stride;
    const std::int64_t fileSize = SavedFileSize(image, stride);
    SafeFile out(path);

    std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize];
    PutHeaders(headers, image, stride, fileSize);
    out.Write(headers, sizeof headers);

    // Rows are encoded a block at a time: large writes, without a second copy of the picture.
    const int h = image.Height();
    const int rowsPerBlock = static_cast<int>(
        std::max<std::int64_t>(1, kBlockBytes / std::max<std::int64_t>(stride, 1)));
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<std::size_t>(
        stride * std::min(rowsPerBlock, std::max(h, 1)))]);
    for (int r = 0; r < h;) {
        const int n = std::min(rowsPerBlock, h - r);
        for (int k = 0; k < n; ++k)
            EncodeRow(image.Row(h - 1 - (r + k)), image.Width(), block.get() + stride * k, stride);
        out.Write(block.get(), static_cast<std::size_t>(stride * n));
        r += n;
    }
    out.Commit();
}

} // namespace

void SaveBitmapFile(const Image& image, const std::string& path) {
    try {
        WriteBitmapFile(image, path);
    } catch (const EWriteError& e) {
        // A write that failed half-way names the file, as a failed create does.
        throw EWriteError("Cannot write file " + path, e.Reason(), path);
    }
}

Image LoadBitmapFile(const std::string& path, const PictureLimit& limit) {
    const std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file)
        throw EFOpenError(path, OpenFault(path));
    const std::int64_t length = file->Length();
    if (length == 0)
        return Image();
    if (length > kMaxFileSize)
        throw EInvalidGraphic();

    std::uint8_t head[kHeadBytes];
    const auto headSize = static_cast<std::size_t>(std::min<std::int64_t>(length, kHeadBytes));
    if (file->Read(head, headSize) != headSize)
        throw EReadError(); // the file shrank since it was opened
    const Layout layout = ReadLayout(head, headSize, static_cast<std::uint64_t>(length), limit);
    if (layout.Empty())
        return Image();
    if (layout.PixelOffset > length)
        throw EReadError();
    file->Seek(layout.PixelOffset);

    if (layout.RunLength()) {
        const auto size = static_cast<std::size_t>(length - layout.PixelOffset);
        const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[size + 1]);
        const std::size_t got = file->Read(data.get(), size);
        return DecodeRunLength(layout, data.get(), data.get() + got);
    }

    // Uncompressed rows are read a block at a time straight into the picture.
    const std::int64_t stride = layout.Stride();
    if (length - layout.PixelOffset < stride * layout.Height)
        throw EReadError();
    Image image(static_cast<int>(layout.Width), static_cast<int>(layout.Height));
    const RowDecoder decode(layout);
    const std::int64_t rowsPerBlock = std::max<std::int64_t>(1, kBlockBytes / stride);
    const std::unique_ptr<std::uint8_t[]> block(
        new std::uint8_t[static_cast<std::size_t>(stride * std::min(rowsPerBlock, layout.Height))]);
    for (std::int64_t r = 0; r < layout.Height;) {
        const std::int64_t n = std::min(rowsPerBlock, layout.Height - r);
        const auto bytes = static_cast<std::size_t>(stride * n);
        if (file->Read(block.get(), bytes) != bytes)
            throw EReadError();
        for (std::int64_t k = 0; k < n; ++k)
            decode(block.get() + stride * k, image.Row(layout.PictureRow(r + k)), image.Width());
        r += n;
    }
    return image;
}

void Image::SaveToFile(const std::string& path) const {
    SaveBitmapFile(*this, path);
}

void Image::LoadFromFile(const std::string& path) {
    *this = LoadBitmapFile(path);
}

} // namespace kiv
