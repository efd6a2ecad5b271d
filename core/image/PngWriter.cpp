// The PNG writer: the smallest of a few standard forms, compressed by zlib.
// A picture of at most 256 colours (counting a transparent colour apart from the same colour
// opaque) becomes a palette, as few bits a pixel as its colours need, with the transparent
// entries first so the transparency chunk stays short. Any other picture becomes RGB when
// its transparent pixels share one colour (marked by a transparency chunk), else RGBA.

#include "image/Png.h"

#include "base/Checksum.h"
#include "base/Errors.h"
#include "base/Zlib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A pixel as the file holds it: R, G, B in the low three bytes, alpha in the top one.
using Rgba = std::uint32_t;
constexpr Rgba kOpaque = 0xFF000000u;

constexpr int kLevel = 7; // zlib's compression level (ImageData)

void Put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, Crc32(out.data() + from, out.size() - from));
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

// Row `y` of the w-pixel-wide part of `pixels` at `left`, `pitch` pixels a row, in the chosen
// form, without its filter byte, into `row` (of the form's stride).
void Scanline(const std::vector<Rgba>& pixels, std::size_t pitch, int left, std::size_t y, int w,
              const Form& form, std::uint8_t* row, std::size_t stride) {
    const Rgba* in = pixels.data() + y * pitch + left;
    switch (form.ColourType) {
    case 3: {
        std::memset(row, 0, stride);
        Rgba last = 0;
        int lastIndex = -1;
        for (int x = 0; x < w; ++x) {
            if (lastIndex < 0 || in[x] != last) {
                last = in[x];
                lastIndex = form.Index.at(last);
            }
            const int bit = x * form.Depth;
            row[static_cast<std::size_t>(bit / 8)] |=
                static_cast<std::uint8_t>(lastIndex << (8 - form.Depth - bit % 8));
        }
        break;
    }
    case 2:
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                row[3 * static_cast<std::size_t>(x) + c] =
                    static_cast<std::uint8_t>(in[x] >> 8 * c);
        break;
    default:
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                row[4 * static_cast<std::size_t>(x) + c] =
                    static_cast<std::uint8_t>(in[x] >> 8 * c);
    }
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

// `row` with the filter that looks best for it into out[0..n], the filter byte first;
// `trial` holds n + 1 bytes.
void FilterBest(const std::uint8_t* row, const std::uint8_t* prior, std::size_t n, std::size_t bpp,
                std::uint8_t* out, std::uint8_t* trial) {
    Filter(0, row, prior, n, bpp, out);
    std::uint64_t best = Cost(out + 1, n);
    for (int type = 1; type <= 4; ++type) {
        Filter(type, row, prior, n, bpp, trial);
        const std::uint64_t cost = Cost(trial + 1, n);
        if (cost < best) {
            best = cost;
            std::memcpy(out, trial, n + 1);
        }
    }
}

// A deflate stream fed a row at a time, so that no whole copy of the rows is needed.
class RowDeflater {
public:
    RowDeflater(int strategy, int level) try
        : z_(DeflateOptions{ZlibFormat::Zlib, level, strategy, kMemoryLevel}) {
    } catch (const std::bad_alloc&) {
        throw EWriteError("Out of memory while encoding a PNG image");
    }

    // `last`: the end of the data.
    void Put(const std::uint8_t* data, std::size_t n, bool last) { z_.Feed(data, n, last, out_); }
    std::size_t Size() const { return out_.size(); }
    Bytes Take() { return std::move(out_); }

private:
    static constexpr int kMemoryLevel = 9;
    Deflater z_;
    Bytes out_;
};

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
    // Sprite pictures are mostly flat areas and sharp edges, which zlib's matches take best
    // unfiltered; a picture of gradients gains from filters chosen row by row. Up to 1 MiB of
    // rows both go through zlib side by side and the smaller is kept (beyond, rows stay
    // unfiltered: the second stream would cost more than the few per cent it might save).
    // Bytes that pack several palette pixels stay unfiltered too. zlib's level 7: its higher
    // levels follow much longer chains of earlier matches, which on a sheet of small repeated
    // shapes take up to six times as long for a per cent or two.
    const std::size_t bpp = form.Depth < 8 ? 1 : static_cast<std::size_t>(form.Channels());
    const std::size_t n = (static_cast<std::size_t>(w) * form.Channels() * form.Depth + 7) / 8;
    const bool both =
        (n + 1) * static_cast<std::size_t>(h) <= (std::size_t{1} << 20) && form.Depth >= 8;
    RowDeflater plain(ZlibDefaultStrategy, kLevel);
    std::optional<RowDeflater> filtered;
    if (both)
        filtered.emplace(ZlibFilteredStrategy, kLevel);
    Bytes row(n + 1, 0), prior(n, 0), best(n + 1), trial(n + 1);
    for (int y = 0; y < h; ++y) {
        const bool last = y + 1 == h;
        Scanline(pixels, pitch, left, static_cast<std::size_t>(top + y), w, form, row.data() + 1,
                 n);
        plain.Put(row.data(), n + 1, last);
        if (both) {
            FilterBest(row.data() + 1, prior.data(), n, bpp, best.data(), trial.data());
            filtered->Put(best.data(), n + 1, last);
            std::memcpy(prior.data(), row.data() + 1, n);
        }
    }
    return filtered && filtered->Size() < plain.Size() ? filtered->Take() : plain.Take();
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
