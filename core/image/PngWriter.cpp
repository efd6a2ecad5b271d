// The PNG writer: the smallest of a few standard forms, compressed by zlib at its best level.
// A picture of at most 256 colours (counting a transparent colour apart from the same colour
// opaque) becomes a palette, as few bits a pixel as its colours need, with the transparent
// entries first so the transparency chunk stays short. Any other picture becomes RGB when
// its transparent pixels share one colour (marked by a transparency chunk), else RGBA. The
// rows go to zlib at its best level.

#include "image/Png.h"

#include "base/Errors.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A pixel as the file holds it: R, G, B in the low three bytes, alpha in the top one.
using Rgba = std::uint32_t;
constexpr Rgba kOpaque = 0xFF000000u;

void Put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + from, static_cast<uInt>(out.size() - from));
    Put32(out, static_cast<std::uint32_t>(crc));
}

// The form chosen for a picture: colour type, bits a sample, and the palette when there is one.
struct Form {
    int ColourType = 6;
    int Depth = 8;
    std::vector<Rgba> Palette;
    std::unordered_map<Rgba, std::uint8_t> Index;
    bool KeyedRgb = false; // RGB whose one transparent colour is `Keyed`
    Rgba Keyed = 0;
    int Channels() const { return ColourType == 6 ? 4 : ColourType == 2 ? 3 : 1; }
};

Form ChooseForm(const std::vector<Rgba>& pixels) {
    Form form;
    std::unordered_map<Rgba, std::int64_t> counts;
    bool many = false;
    // Sprite pictures come in runs of one colour: each run is counted at once.
    for (std::size_t k = 0; k < pixels.size() && !many;) {
        const Rgba p = pixels[k];
        std::size_t end = k + 1;
        while (end < pixels.size() && pixels[end] == p)
            ++end;
        std::int64_t& count = counts[p];
        if (count == 0 && counts.size() > 256)
            many = true;
        count += static_cast<std::int64_t>(end - k);
        k = end;
    }
    if (!many) {
        std::vector<std::pair<Rgba, std::int64_t>> colours(counts.begin(), counts.end());
        // Transparent entries first; then the most used colours, a stable order for ties.
        std::sort(colours.begin(), colours.end(), [](const auto& a, const auto& b) {
            const bool clearA = a.first < kOpaque, clearB = b.first < kOpaque;
            if (clearA != clearB)
                return clearA;
            if (a.second != b.second)
                return a.second > b.second;
            return a.first < b.first;
        });
        form.ColourType = 3;
        const std::size_t n = colours.size();
        form.Depth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        for (const auto& [colour, count] : colours) {
            form.Index[colour] = static_cast<std::uint8_t>(form.Palette.size());
            form.Palette.push_back(colour);
        }
        return form;
    }
    // Too many colours for a palette: RGB when no more than one transparent colour.
    bool one = true;
    bool seen = false;
    for (Rgba p : pixels) {
        if (p >= kOpaque)
            continue;
        if (seen && p != form.Keyed) {
            one = false;
            break;
        }
        seen = true;
        form.Keyed = p;
    }
    if (one) {
        form.ColourType = 2;
        form.KeyedRgb = seen;
    }
    return form;
}

// The rows of the w x h part of `pixels` at (left, top), `pitch` pixels a row, in the
// chosen form, each without its filter byte.
std::vector<Bytes> Scanlines(const std::vector<Rgba>& pixels, std::size_t pitch, int left, int top,
                             int w, int h, const Form& form) {
    std::vector<Bytes> rows(static_cast<std::size_t>(h));
    const std::size_t stride = (static_cast<std::size_t>(w) * form.Channels() * form.Depth + 7) / 8;
    Rgba last = 0;
    int lastIndex = -1;
    for (int y = 0; y < h; ++y) {
        Bytes& row = rows[static_cast<std::size_t>(y)];
        row.assign(stride, 0);
        const Rgba* in = pixels.data() + static_cast<std::size_t>(top + y) * pitch + left;
        for (int x = 0; x < w; ++x) {
            const Rgba p = in[x];
            switch (form.ColourType) {
            case 3: {
                if (lastIndex < 0 || p != last) {
                    last = p;
                    lastIndex = form.Index.at(p);
                }
                const int index = lastIndex;
                const int bit = x * form.Depth;
                row[static_cast<std::size_t>(bit / 8)] |=
                    static_cast<std::uint8_t>(index << (8 - form.Depth - bit % 8));
                break;
            }
            case 2:
                for (int c = 0; c < 3; ++c)
                    row[3 * static_cast<std::size_t>(x) + c] =
                        static_cast<std::uint8_t>(p >> 8 * c);
                break;
            default:
                for (int c = 0; c < 4; ++c)
                    row[4 * static_cast<std::size_t>(x) + c] =
                        static_cast<std::uint8_t>(p >> 8 * c);
            }
        }
    }
    return rows;
}

inline int Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

inline unsigned Magnitude(std::uint8_t v) {
    return v < 128 ? v : 256u - v;
}

// `row` filtered with filter `type` against the row above (`prior`, zeros for the first),
// `bpp` bytes a pixel (1 below 8 bits), into out[1..].
void Filter(int type, const std::uint8_t* row, const std::uint8_t* prior, std::size_t n,
            std::size_t bpp, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(type);
    std::uint8_t* f = out + 1;
    const std::size_t head = std::min(bpp, n); // bytes with no pixel to their left
    switch (type) {
    case 0:
        std::memcpy(f, row, n);
        break;
    case 1:
        std::memcpy(f, row, head);
        for (std::size_t i = head; i < n; ++i)
            f[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
        break;
    case 2:
        for (std::size_t i = 0; i < n; ++i)
            f[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
        break;
    case 3:
        for (std::size_t i = 0; i < head; ++i)
            f[i] = static_cast<std::uint8_t>(row[i] - prior[i] / 2);
        for (std::size_t i = head; i < n; ++i)
            f[i] = static_cast<std::uint8_t>(row[i] - (row[i - bpp] + prior[i]) / 2);
        break;
    default:
        for (std::size_t i = 0; i < head; ++i)
            f[i] = static_cast<std::uint8_t>(row[i] - prior[i]); // Paeth of (0, b, 0) is b
        for (std::size_t i = head; i < n; ++i)
            f[i] =
                static_cast<std::uint8_t>(row[i] - Paeth(row[i - bpp], prior[i], prior[i - bpp]));
        break;
    }
}

// How far filtered bytes are from all zeros, reading them as signed: the usual guess at
// which filter compresses best.
std::uint64_t Cost(const std::uint8_t* f, std::size_t n) {
    std::uint64_t cost = 0;
    for (std::size_t i = 0; i < n; ++i)
        cost += Magnitude(f[i]);
    return cost;
}

// The filtered rows, each with its filter byte: every row with `fixed`, or with a negative
// `fixed` each row with the filter that looks best for it.
Bytes FilteredRows(const std::vector<Bytes>& rows, std::size_t bpp, int fixed) {
    if (rows.empty())
        return {};
    const std::size_t n = rows[0].size();
    Bytes out(rows.size() * (n + 1));
    const Bytes zeros(n, 0);
    Bytes trial(n + 1);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const std::uint8_t* prior = y > 0 ? rows[y - 1].data() : zeros.data();
        std::uint8_t* dest = out.data() + y * (n + 1);
        Filter(fixed >= 0 ? fixed : 0, rows[y].data(), prior, n, bpp, dest);
        if (fixed >= 0)
            continue;
        std::uint64_t best = Cost(dest + 1, n);
        for (int type = 1; type <= 4; ++type) {
            Filter(type, rows[y].data(), prior, n, bpp, trial.data());
            const std::uint64_t cost = Cost(trial.data() + 1, n);
            if (cost < best) {
                best = cost;
                std::memcpy(dest, trial.data(), n + 1);
            }
        }
    }
    return out;
}

Bytes Deflate(const Bytes& data, int strategy, int level = Z_BEST_COMPRESSION) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 9, strategy) != Z_OK)
        throw EWriteError("Out of memory while encoding a PNG image");

    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        throw EWriteError("Out of memory while encoding a PNG image");
    return out;
}

// The picture's pixels as the file holds them: a pixel the key matches fully transparent.
std::vector<Rgba> FilePixels(const Image& image, const std::optional<PngKey>& transparent,
                             std::vector<Rgba> pixels = {}) {
    const std::size_t from = pixels.size();
    pixels.resize(from + static_cast<std::size_t>(image.Width()) * image.Height());
    const TColor* in = image.Empty() ? nullptr : image.Row(0);
    for (std::size_t k = from; k < pixels.size(); ++k) {
        const TColor c = in[k - from];
        pixels[k] = (c & 0x00FFFFFF) | (transparent && transparent->Matches(c) ? 0 : kOpaque);
    }
    return pixels;
}

// The compressed image data of the w x h part of `pixels` at (left, top).
Bytes ImageData(const std::vector<Rgba>& pixels, std::size_t pitch, int left, int top, int w, int h,
                const Form& form) {
    const std::vector<Bytes> rows = Scanlines(pixels, pitch, left, top, w, h, form);
    // Sprite pictures are mostly flat areas and sharp edges, which zlib's matches take best
    // unfiltered; a picture of gradients gains from filters chosen row by row. Up to 1 MiB of
    // rows, zlib's quick level tells which of the two compresses better, and only that one
    // goes through its best level (beyond, rows stay unfiltered: a second try would cost
    // more than the few per cent it might save). Bytes that pack several palette pixels
    // stay unfiltered too.
    const std::size_t bpp = form.Depth < 8 ? 1 : static_cast<std::size_t>(form.Channels());
    Bytes plain = FilteredRows(rows, bpp, 0);
    if (plain.size() > (std::size_t{1} << 20) || form.Depth < 8)
        return Deflate(plain, Z_DEFAULT_STRATEGY);
    Bytes filtered = FilteredRows(rows, bpp, -1);
    if (Deflate(filtered, Z_FILTERED, 6).size() < Deflate(plain, Z_DEFAULT_STRATEGY, 6).size())
        return Deflate(filtered, Z_FILTERED);
    Bytes data = Deflate(plain, Z_DEFAULT_STRATEGY);
    return data;
}

// The signature, the header and the colour chunks.
Bytes FileStart(int w, int h, const Form& form, const Bytes& animation = {}) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32(header, static_cast<std::uint32_t>(w));
    Put32(header, static_cast<std::uint32_t>(h));
    header.insert(header.end(), {static_cast<std::uint8_t>(form.Depth),
                                 static_cast<std::uint8_t>(form.ColourType), 0, 0, 0});
    PutChunk(out, "IHDR", header);
    if (!animation.empty())
        PutChunk(out, "acTL", animation);
    if (form.ColourType == 3) {
        Bytes palette, alpha;
        for (Rgba p : form.Palette) {
            for (int c = 0; c < 3; ++c)
                palette.push_back(static_cast<std::uint8_t>(p >> 8 * c));
            if (p < kOpaque)
                alpha.push_back(0);
        }
        PutChunk(out, "PLTE", palette);
        if (!alpha.empty())
            PutChunk(out, "tRNS", alpha);
    } else if (form.KeyedRgb) {
        Bytes key;
        for (int c = 0; c < 3; ++c)
            key.insert(key.end(), {0, static_cast<std::uint8_t>(form.Keyed >> 8 * c)});
        PutChunk(out, "tRNS", key);
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> EncodePng(const Image& image, PngKey transparent) {
    if (image.Empty())
        throw EInvalidGraphic("An empty picture cannot be saved as PNG");
    const int w = image.Width();
    const int h = image.Height();
    std::vector<Rgba> pixels = FilePixels(image, transparent);
    const Form form = ChooseForm(pixels);
    const Bytes data = ImageData(pixels, static_cast<std::size_t>(w), 0, 0, w, h, form);
    pixels = {};
    Bytes out = FileStart(w, h, form);
    PutChunk(out, "IDAT", data);
    PutChunk(out, "IEND", {});
    return out;
}

std::vector<std::uint8_t> EncodeAnimatedPng(const std::vector<const Image*>& frames,
                                            const std::optional<PngKey>& transparent, int delayNum,
                                            int delayDen, bool loop) {
    if (frames.empty() || frames[0]->Empty())
        throw EInvalidGraphic("An empty picture cannot be saved as PNG");
    const int w = frames[0]->Width();
    const int h = frames[0]->Height();
    const std::size_t area = static_cast<std::size_t>(w) * h;
    // One form for every frame: the colours of all of them together.
    std::vector<Rgba> pixels;
    pixels.reserve(area * frames.size());
    for (const Image* frame : frames) {
        if (frame->Width() != w || frame->Height() != h)
            throw EInvalidGraphic("The frames of an animation must be of one size");
        pixels = FilePixels(*frame, transparent, std::move(pixels));
    }
    Form form = ChooseForm(pixels);
    // A palette of a byte a pixel: ffmpeg misreads the boxes of later frames stored with
    // fewer bits a pixel.
    if (form.ColourType == 3)
        form.Depth = 8;

    Bytes animation;
    Put32(animation, static_cast<std::uint32_t>(frames.size()));
    Put32(animation, loop ? 0 : 1);
    Bytes out = FileStart(w, h, form, animation);
    std::uint32_t sequence = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        // After the first frame only the box of pixels that changed is stored; it replaces
        // what the screen holds there, transparency included.
        int left = 0, top = 0, right = w, bottom = h;
        if (f > 0) {
            const Rgba* now = pixels.data() + f * area;
            const Rgba* was = now - area;
            left = w, top = h, right = 0, bottom = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (now[static_cast<std::size_t>(y) * w + x] !=
                        was[static_cast<std::size_t>(y) * w + x]) {
                        left = std::min(left, x);
                        right = std::max(right, x + 1);
                        top = std::min(top, y);
                        bottom = std::max(bottom, y + 1);
                    }
            if (right <= left)
                left = 0, top = 0, right = 1, bottom = 1;
        }
        Bytes control;
        Put32(control, sequence++);
        Put32(control, static_cast<std::uint32_t>(right - left));
        Put32(control, static_cast<std::uint32_t>(bottom - top));
        Put32(control, static_cast<std::uint32_t>(left));
        Put32(control, static_cast<std::uint32_t>(top));
        control.insert(control.end(), {static_cast<std::uint8_t>(delayNum >> 8),
                                       static_cast<std::uint8_t>(delayNum),
                                       static_cast<std::uint8_t>(delayDen >> 8),
                                       static_cast<std::uint8_t>(delayDen), 0,
                                       0}); // the screen kept as it is; the box's pixels replace it
        PutChunk(out, "fcTL", control);
        const Bytes data =
            ImageData(pixels, static_cast<std::size_t>(w), left, static_cast<int>(top + f * h),
                      right - left, bottom - top, form);
        if (f == 0) {
            PutChunk(out, "IDAT", data);
        } else {
            Bytes chunk;
            Put32(chunk, sequence++);
            chunk.insert(chunk.end(), data.begin(), data.end());
            PutChunk(out, "fdAT", chunk);
        }
    }
    PutChunk(out, "IEND", {});
    return out;
}

} // namespace kiv
