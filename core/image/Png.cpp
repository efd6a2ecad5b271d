#include "image/Png.h"

#include "base/Checksum.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"
#include "base/Zlib.h"
#include "image/Bitmap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kiv {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The signature, then the header chunk: length, type, 13 bytes of data, checksum.
constexpr std::size_t kHeadBytes = 8 + 8 + 13 + 4;
// Chunk data are read, checked and inflated this many bytes at a time.
constexpr std::size_t kBlockBytes = 64 * 1024;

std::uint32_t Get32BE(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

[[noreturn]] void Invalid(const std::string& reason) {
    throw EInvalidGraphic("PNG image is not valid: " + reason);
}

// The bytes of a PNG file, from memory or from an open file, read front to back once.
class PngSource {
public:
    PngSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit PngSource(InFile& file) : file_(&file) {}
    // Up to `count` bytes; fewer only at the end of the file.
    std::size_t Read(std::uint8_t* to, std::size_t count) {
        if (file_)
            return file_->Read(to, count);
        const std::size_t n = std::min(count, size_ - at_);
        std::memcpy(to, data_ + at_, n);
        at_ += n;
        return n;
    }
    // Back to the first byte, for a second reading.
    void Rewind() {
        if (file_)
            file_->Seek(0);
        at_ = 0;
    }

private:
    InFile* file_ = nullptr;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t at_ = 0;
};

struct PngHeader {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    int Depth = 0;
    int ColorType = 0;
    int Channels = 0;
    bool Interlaced = false;
};

// The signature and the header chunk, checked: its checksum, the size against the bitmap
// limits and then the caller's, the depth and colour type pair, the methods.
PngHeader CheckHeader(const std::uint8_t* data, std::size_t size, const PictureLimit& limit) {
    if (!IsPngData(data, size))
        Invalid("the file does not begin with the PNG signature");
    if (size < kHeadBytes)
        Invalid("the file ends inside its header");
    if (Get32BE(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
        Invalid("the file does not begin with a header chunk");
    if (Crc32(data + 12, 17) != Get32BE(data + 29))
        Invalid("bad checksum in chunk IHDR");
    PngHeader h;
    h.Width = Get32BE(data + 16);
    h.Height = Get32BE(data + 20);
    if (h.Width == 0 || h.Height == 0)
        Invalid("the picture has no pixels");
    if (h.Width > kMaxPictureSide || h.Height > kMaxPictureSide ||
        h.Width * h.Height > kMaxPicturePixels)
        Invalid("a picture of " + std::to_string(h.Width) + " x " + std::to_string(h.Height) +
                " pixels is too large");
    if (h.Width > limit.Width || h.Height > limit.Height)
        throw EPictureTooLarge(h.Width, h.Height);
    h.Depth = data[24];
    h.ColorType = data[25];
    const int depth = h.Depth;
    bool depthOk = false;
    switch (h.ColorType) {
    case 0: // grey
        h.Channels = 1;
        depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 3: // palette
        h.Channels = 1;
        depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 2: // RGB
    case 4: // grey and alpha
    case 6: // RGBA
        h.Channels = h.ColorType == 2 ? 3 : h.ColorType == 4 ? 2 : 4;
        depthOk = depth == 8 || depth == 16;
        break;
    default:
        Invalid("unknown colour type " + std::to_string(h.ColorType));
    }
    if (!depthOk)
        Invalid("bit depth " + std::to_string(depth) + " is not allowed for colour type " +
                std::to_string(h.ColorType));
    if (data[26] != 0 || data[27] != 0 || data[28] > 1)
        Invalid("unknown compression, filter or interlace method");
    h.Interlaced = data[28] == 1;
    return h;
}

// Inflates the image data as their chunks arrive and turns each filtered row into pixels of
// the picture, so nothing but the picture, two rows and the inflater's window is held. A
// fault found in a chunk's data is kept, not thrown, until that chunk's checksum has been
// checked: a damaged chunk is named as such, not by what its damage did to the data.
class PngPixels {
public:
    // With `alpha`, each pixel's alpha goes there too, in picture order. Without `store`,
    // every row is checked as it would be painted, but no picture is allocated.
    PngPixels(const PngHeader& header, TColor transparent, std::vector<std::uint8_t>* alpha,
              bool store)
        : h_(header), transparent_(transparent),
          image_(store ? static_cast<int>(header.Width) : 0,
                 store ? static_cast<int>(header.Height) : 0),
          alphaOut_(store ? alpha : nullptr), store_(store) {
        if (alphaOut_)
            alphaOut_->assign(static_cast<std::size_t>(header.Width * header.Height), 255);
        std::fill_n(alpha_, 256, std::uint8_t{255});
        StartPass(0);
    }
    PngPixels(const PngPixels&) = delete;
    PngPixels& operator=(const PngPixels&) = delete;

    void SetPalette(const std::vector<std::uint8_t>& rgb) {
        paletteSize_ = rgb.size() / 3;
        for (std::size_t k = 0; k < paletteSize_; ++k)
            palette_[k] = RGB(rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]);
    }
    bool HasPalette() const { return paletteSize_ > 0; }
    // The tRNS chunk: an alpha per palette entry, or the one grey or RGB value that is
    // transparent, in the picture's own depth.
    void SetTransparency(const std::vector<std::uint8_t>& data) {
        if (h_.ColorType == 3) {
            std::copy(data.begin(), data.end(), alpha_);
        } else if (h_.ColorType == 0 && data.size() == 2) {
            keyed_ = true;
            key_[0] = key_[1] = key_[2] = (data[0] << 8) | data[1];
        } else if (h_.ColorType == 2 && data.size() == 6) {
            keyed_ = true;
            for (int c = 0; c < 3; ++c)
                key_[c] = (data[2 * c] << 8) | data[2 * c + 1];
        }
    }

    void Inflate(const std::uint8_t* data, std::size_t size) {
        while (fault_.empty() && !ended_) {
            std::uint8_t spare;
            const bool done = RowsDone();
            // Once every row is in, only the stream's end and its checksum may follow.
            const std::size_t room = done ? 1 : row_.size() - filled_;
            const Inflater::Step step =
                z_.Run(data, size, done ? &spare : row_.data() + filled_, room);
            data += step.Took;
            size -= step.Took;
            const bool full = step.Made == room;
            if (done && full) {
                fault_ = "its data is larger than its picture";
                break;
            }
            if (!done) {
                filled_ += step.Made;
                if (full)
                    FinishRow();
            }
            if (step.Status == InflateStatus::End) {
                ended_ = true;
                if (!RowsDone() && fault_.empty())
                    fault_ = "its image data end before its last row";
            } else if (step.Status == InflateStatus::Damaged ||
                       step.Status == InflateStatus::NeedDictionary) {
                fault_ = InflateFault();
            } else if (step.Status == InflateStatus::Stalled || (!full && size == 0)) {
                break; // every byte given is used; the next chunk goes on
            }
        }
    }

    const std::string& Fault() const { return fault_; }
    bool RowsDone() const { return pass_ > 6; }
    // Whether the stream ended, its checksum checked.
    bool Ended() const { return ended_; }
    Image Take() { return std::move(image_); }

private:
    std::string InflateFault() const {
        const std::string message = z_.Message();
        if (message == "incorrect data check")
            return "bad checksum in its image data";
        if (message.empty())
            return "its image data cannot be inflated";
        return "its image data cannot be inflated (" + message + ")";
    }

    // The seven interlace passes, or the one pass of the whole picture.
    void StartPass(int pass) {
        static const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
        static const int y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
        for (pass_ = pass; pass_ <= 6; ++pass_) {
            if (!h_.Interlaced) {
                if (pass_ > 0)
                    continue;
                x0_ = y0_ = 0;
                dx_ = dy_ = 1;
            } else {
                x0_ = x0[pass_], dx_ = dx[pass_], y0_ = y0[pass_], dy_ = dy[pass_];
            }
            width_ = (h_.Width - x0_ + dx_ - 1) / dx_;
            rows_ = (h_.Height - y0_ + dy_ - 1) / dy_;
            if (width_ > 0 && rows_ > 0)
                break;
        }
        if (pass_ > 6)
            return;
        const auto bytes = static_cast<std::size_t>((width_ * h_.Channels * h_.Depth + 7) / 8);
        row_.assign(bytes + 1, 0);
        above_.assign(bytes + 1, 0);
        filled_ = 0;
        y_ = 0;
    }

    // Undoes the row's filter against the row above, paints its pixels and moves on.
    void FinishRow() {
        const std::size_t n = row_.size() - 1;
        std::uint8_t* r = row_.data() + 1;
        const std::uint8_t* up = above_.data() + 1;
        const std::size_t bpp = std::max(1, h_.Channels * h_.Depth / 8);
        switch (row_[0]) {
        case 0:
            break;
        case 1:
            for (std::size_t i = bpp; i < n; ++i)
                r[i] = static_cast<std::uint8_t>(r[i] + r[i - bpp]);
            break;
        case 2:
            for (std::size_t i = 0; i < n; ++i)
                r[i] = static_cast<std::uint8_t>(r[i] + up[i]);
            break;
        case 3:
            for (std::size_t i = 0; i < n; ++i)
                r[i] = static_cast<std::uint8_t>(r[i] + ((i >= bpp ? r[i - bpp] : 0) + up[i]) / 2);
            break;
        case 4:
            for (std::size_t i = 0; i < n; ++i) {
                const int a = i >= bpp ? r[i - bpp] : 0;
                const int b = up[i];
                const int c = i >= bpp ? up[i - bpp] : 0;
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                r[i] = static_cast<std::uint8_t>(r[i] + (pa <= pb && pa <= pc ? a
                                                         : pb <= pc           ? b
                                                                              : c));
            }
            break;
        default:
            fault_ = "unknown filter type " + std::to_string(row_[0]);
            return;
        }
        PaintRow(r);
        row_.swap(above_);
        filled_ = 0;
        if (++y_ == rows_)
            StartPass(pass_ + 1);
    }

    // Sample `i` of the row at the picture's depth.
    unsigned Sample(const std::uint8_t* r, std::int64_t i) const {
        switch (h_.Depth) {
        case 16:
            return (r[2 * i] << 8) | r[2 * i + 1];
        case 8:
            return r[i];
        default: {
            const std::int64_t bit = i * h_.Depth;
            return (r[bit / 8] >> (8 - h_.Depth - bit % 8)) & ((1u << h_.Depth) - 1);
        }
        }
    }
    // A sample as an 8-bit level: 16-bit samples keep their high byte, lower depths are
    // spread over 0..255.
    unsigned Level(unsigned v) const {
        return h_.Depth == 16 ? v >> 8 : h_.Depth == 8 ? v : v * 255 / ((1u << h_.Depth) - 1);
    }

    // Each pixel's colour and alpha; a pixel whose alpha is below 128 is the key colour.
    void PaintRow(const std::uint8_t* r) {
        if (!store_ && h_.ColorType != 3)
            return; // only a palette index can be wrong
        const auto y = static_cast<std::size_t>(y0_ + y_ * dy_);
        TColor* out = store_ ? image_.Row(static_cast<int>(y)) : nullptr;
        std::uint8_t* alphaOut =
            alphaOut_ ? alphaOut_->data() + y * static_cast<std::size_t>(h_.Width) : nullptr;
        const int c = h_.Channels;
        for (std::int64_t x = 0; x < width_; ++x) {
            TColor color;
            unsigned alpha = 255;
            switch (h_.ColorType) {
            case 3: {
                const unsigned index = Sample(r, x);
                if (index >= paletteSize_) {
                    fault_ = "a pixel uses palette entry " + std::to_string(index) +
                             ", the palette has " + std::to_string(paletteSize_);
                    return;
                }
                color = palette_[index];
                alpha = alpha_[index];
                break;
            }
            case 0: {
                const unsigned v = Sample(r, x);
                color = RGB(Level(v), Level(v), Level(v));
                alpha = keyed_ && v == key_[0] ? 0 : 255;
                break;
            }
            case 2: {
                const unsigned red = Sample(r, 3 * x), green = Sample(r, 3 * x + 1),
                               blue = Sample(r, 3 * x + 2);
                color = RGB(Level(red), Level(green), Level(blue));
                alpha = keyed_ && red == key_[0] && green == key_[1] && blue == key_[2] ? 0 : 255;
                break;
            }
            default: { // grey or RGB with alpha
                const unsigned red = Level(Sample(r, c * x));
                color = c == 2 ? RGB(red, red, red)
                               : RGB(red, Level(Sample(r, c * x + 1)), Level(Sample(r, c * x + 2)));
                alpha = Level(Sample(r, c * x + c - 1));
                break;
            }
            }
            const auto at = static_cast<std::size_t>(x0_ + x * dx_);
            if (out)
                out[at] = alpha < 128 ? transparent_ : color;
            if (alphaOut)
                alphaOut[at] = static_cast<std::uint8_t>(alpha);
        }
    }

    PngHeader h_;
    TColor transparent_;
    Image image_;
    Inflater z_;
    TColor palette_[256] = {};
    std::size_t paletteSize_ = 0;
    std::uint8_t alpha_[256];
    std::vector<std::uint8_t>* alphaOut_;
    bool store_;
    bool keyed_ = false;
    unsigned key_[3] = {};
    // The pass being read: its first column and row, their steps, its size, the row at hand.
    int pass_ = 0;
    std::int64_t x0_ = 0, y0_ = 0, dx_ = 1, dy_ = 1, width_ = 0, rows_ = 0, y_ = 0;
    std::vector<std::uint8_t> row_, above_; // the filter byte, then the row's bytes
    std::size_t filled_ = 0;
    bool ended_ = false;
    std::string fault_;
};

bool IsLetters(const std::uint8_t* type) {
    return std::all_of(type, type + 4, [](std::uint8_t c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

// The chunks after the header, one by one: every chunk's checksum, the image data inflated
// into `pixels` with their checksum, and the file's end at IEND.
void ReadChunks(PngSource& in, const PngHeader& header, PngPixels& pixels) {
    std::vector<std::uint8_t> block(kBlockBytes);
    std::string previous = "IHDR";
    bool seenData = false;
    for (;;) {
        std::uint8_t chunk[8];
        const std::size_t got = in.Read(chunk, sizeof chunk);
        if (got == 0)
            Invalid("the file ends after chunk " + previous +
                    (seenData ? ", without its IEND chunk" : ", before any image data"));
        if (got < sizeof chunk)
            Invalid("the file ends inside the chunk after " + previous);
        const std::uint32_t length = Get32BE(chunk);
        const std::string type(chunk + 4, chunk + 8);
        const std::string name = EscapedText(type);
        if (!IsLetters(chunk + 4))
            Invalid("the chunk after " + previous + " has no valid type (" + name + ")");
        if (length > 0x7FFFFFFF)
            Invalid("chunk " + name + " declares " + std::to_string(length) +
                    " bytes, more than a chunk may hold");
        const bool data = type == "IDAT";
        const bool critical = chunk[4] >= 'A' && chunk[4] <= 'Z';
        if (type == "IHDR")
            Invalid("a second header chunk");
        if (critical && !data && type != "PLTE" && type != "IEND")
            Invalid("unknown critical chunk " + name);
        // The palette and the transparency are kept whole; they are small or refused.
        const bool kept = !seenData && (type == "PLTE" || type == "tRNS");
        if (type == "PLTE" && (length % 3 != 0 || length > 3 * 256 || length == 0))
            Invalid("chunk PLTE of " + std::to_string(length) + " bytes is not a palette");
        if (kept && type == "tRNS" && length > 256)
            Invalid("chunk tRNS of " + std::to_string(length) + " bytes is too long");
        if (data && header.ColorType == 3 && !pixels.HasPalette())
            Invalid("the palette picture has no palette before its image data");

        std::vector<std::uint8_t> content;
        std::uint32_t crc = Crc32(chunk + 4, 4);
        for (std::uint32_t left = length; left > 0;) {
            const std::size_t n = in.Read(block.data(), std::min<std::size_t>(left, block.size()));
            if (n == 0)
                Invalid("the file ends inside chunk " + name);
            crc = Crc32(block.data(), n, crc);
            if (data)
                pixels.Inflate(block.data(), n);
            else if (kept)
                content.insert(content.end(), block.data(), block.data() + n);
            left -= static_cast<std::uint32_t>(n);
        }
        std::uint8_t stored[4];
        if (in.Read(stored, sizeof stored) != sizeof stored)
            Invalid("the file ends inside chunk " + name);
        if (Get32BE(stored) != crc)
            Invalid("bad checksum in chunk " + name);
        if (!pixels.Fault().empty())
            Invalid(pixels.Fault());

        if (kept && type == "PLTE")
            pixels.SetPalette(content);
        else if (kept)
            pixels.SetTransparency(content);
        seenData = seenData || data;
        previous = name;
        if (type == "IEND")
            break;
    }
    if (!seenData)
        Invalid("the file has no image data");
    if (!pixels.RowsDone())
        Invalid("its image data end before its last row");
    if (!pixels.Ended())
        Invalid("its image data end before their checksum");
}

// The whole file: the header's size against `limit`, then the file read twice. The first
// reading checks every chunk and row with nothing stored, so only a file that decodes whole
// has its picture allocated: a damaged or cut file costs no more than two rows.
Image DecodeStream(PngSource& in, TColor transparent, std::vector<std::uint8_t>* alpha,
                   const PictureLimit& limit) {
    std::uint8_t head[kHeadBytes];
    const PngHeader header = CheckHeader(head, in.Read(head, sizeof head), limit);
    {
        PngPixels check(header, transparent, nullptr, false);
        ReadChunks(in, header, check);
    }
    in.Rewind();
    in.Read(head, sizeof head);
    PngPixels pixels(header, transparent, alpha, true);
    ReadChunks(in, header, pixels);
    return pixels.Take();
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
                std::vector<std::uint8_t>* alpha, const PictureLimit& limit) {
    PngSource source(data, size);
    return DecodeStream(source, transparent, alpha, limit);
}

void SavePngFile(const Image& image, const std::string& path, PngKey transparent) {
    const std::vector<std::uint8_t> bytes = EncodePng(image, transparent);
    try {
        WriteWholeFile(path, bytes.data(), bytes.size());
    } catch (const EWriteError& e) {
        throw EWriteError("Cannot write file " + path, e.Reason(), path);
    }
}

Image LoadPngFile(const std::string& path, TColor transparent, std::vector<std::uint8_t>* alpha,
                  const PictureLimit& limit) {
    const std::unique_ptr<InFile> file = InFile::Open(path);
    if (!file)
        throw EFOpenError(path, OpenFault(path));
    PngSource source(*file);
    return DecodeStream(source, transparent, alpha, limit);
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

bool PictureFileShows(const Image& image, const std::string& path, PngKey transparent) {
    Image read;
    std::vector<std::uint8_t> alpha;
    try {
        read = LoadPictureFile(path, transparent.Color, &alpha, {image.Width(), image.Height()});
    } catch (const Exception&) {
        return false;
    }
    if (read.Width() != image.Width() || read.Height() != image.Height())
        return false;
    const bool png = !alpha.empty();
    for (int y = 0; y < image.Height(); ++y) {
        const TColor* want = image.Row(y);
        const TColor* got = read.Row(y);
        const std::uint8_t* a =
            png ? alpha.data() + static_cast<std::size_t>(y) * image.Width() : nullptr;
        for (int x = 0; x < image.Width(); ++x) {
            const bool clear = png && transparent.Matches(want[x]);
            if (clear ? !(a[x] < 128 || transparent.Matches(got[x]))
                      : got[x] != want[x] || (png && a[x] < 128))
                return false;
        }
    }
    return true;
}

Image LoadPictureFile(const std::string& path, TColor transparent, std::vector<std::uint8_t>* alpha,
                      const PictureLimit& limit) {
    std::uint8_t head[sizeof kSignature] = {};
    std::size_t got = 0;
    {
        const std::unique_ptr<InFile> file = InFile::Open(path);
        if (!file)
            throw EFOpenError(path, OpenFault(path));
        got = file->Read(head, sizeof head);
    }
    if (IsPngData(head, got))
        return LoadPngFile(path, transparent, alpha, limit);
    if (alpha)
        alpha->clear();
    return LoadBitmapFile(path, limit);
}

} // namespace kiv
