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
    for (Rgba p : pixels) {
        if (++counts[p] == 1 && counts.size() > 256) {
            many = true;
            break;
        }
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

// The picture's rows in the chosen form, each without its filter byte.
std::vector<Bytes> Scanlines(const std::vector<Rgba>& pixels, int w, int h, const Form& form) {
    std::vector<Bytes> rows(static_cast<std::size_t>(h));
    const std::size_t stride = (static_cast<std::size_t>(w) * form.Channels() * form.Depth + 7) / 8;
    for (int y = 0; y < h; ++y) {
        Bytes& row = rows[static_cast<std::size_t>(y)];
        row.assign(stride, 0);
        const Rgba* in = pixels.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const Rgba p = in[x];
            switch (form.ColourType) {
            case 3: {
                const int index = form.Index.at(p);
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

int Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// `row` filtered with filter `type` against the row above (`prior`, zeros for the first),
// `bpp` bytes a pixel (1 below 8 bits).
void Filter(int type, const Bytes& row, const Bytes& prior, std::size_t bpp, Bytes& out) {
    out.resize(row.size() + 1);
    out[0] = static_cast<std::uint8_t>(type);
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prior.empty() ? 0 : prior[i];
        const int c = i >= bpp && !prior.empty() ? prior[i - bpp] : 0;
        int predicted = 0;
        switch (type) {
        case 1:
            predicted = a;
            break;
        case 2:
            predicted = b;
            break;
        case 3:
            predicted = (a + b) / 2;
            break;
        case 4:
            predicted = Paeth(a, b, c);
            break;
        default:
            break;
        }
        out[i + 1] = static_cast<std::uint8_t>(row[i] - predicted);
    }
}

// How far a filtered row is from all zeros, reading its bytes as signed: the usual guess
// at which filter compresses best.
std::uint64_t Cost(const Bytes& filtered) {
    std::uint64_t sum = 0;
    for (std::size_t i = 1; i < filtered.size(); ++i)
        sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(filtered[i])));
    return sum;
}

// The filtered rows, each with its filter byte: every row with `fixed`, or with a negative
// `fixed` each row with the filter that looks best for it.
Bytes FilteredRows(const std::vector<Bytes>& rows, std::size_t bpp, int fixed) {
    Bytes out;
    Bytes best, trial;
    const Bytes none;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const Bytes& prior = y > 0 ? rows[y - 1] : none;
        if (fixed >= 0) {
            Filter(fixed, rows[y], prior, bpp, best);
        } else {
            std::uint64_t bestCost = UINT64_MAX;
            for (int type = 0; type <= 4; ++type) {
                Filter(type, rows[y], prior, bpp, trial);
                const std::uint64_t cost = Cost(trial);
                if (cost < bestCost) {
                    bestCost = cost;
                    best.swap(trial);
                }
            }
        }
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

Bytes Deflate(const Bytes& data, int strategy) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 9, strategy) != Z_OK)
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

} // namespace

std::vector<std::uint8_t> EncodePng(const Image& image, PngKey transparent) {
    if (image.Empty())
        throw EInvalidGraphic("An empty picture cannot be saved as PNG");
    const int w = image.Width();
    const int h = image.Height();
    std::vector<Rgba> pixels(static_cast<std::size_t>(w) * h);
    const TColor* in = image.Row(0);
    for (std::size_t k = 0; k < pixels.size(); ++k)
        pixels[k] = (in[k] & 0x00FFFFFF) | (transparent.Matches(in[k]) ? 0 : kOpaque);

    const Form form = ChooseForm(pixels);
    const std::vector<Bytes> rows = Scanlines(pixels, w, h, form);
    pixels = {};
    // Sprite pictures are mostly flat areas and sharp edges, which zlib's matches take best
    // unfiltered; a picture of gradients gains from filters chosen row by row. Both are
    // tried and the smaller kept.
    const std::size_t bpp = form.Depth < 8 ? 1 : static_cast<std::size_t>(form.Channels());
    Bytes data = Deflate(FilteredRows(rows, bpp, 0), Z_DEFAULT_STRATEGY);
    if (Bytes trial = Deflate(FilteredRows(rows, bpp, -1), Z_FILTERED); trial.size() < data.size())
        data.swap(trial);

    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32(header, static_cast<std::uint32_t>(w));
    Put32(header, static_cast<std::uint32_t>(h));
    header.insert(header.end(), {static_cast<std::uint8_t>(form.Depth),
                                 static_cast<std::uint8_t>(form.ColourType), 0, 0, 0});
    PutChunk(out, "IHDR", header);
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
    PutChunk(out, "IDAT", data);
    PutChunk(out, "IEND", {});
    return out;
}

} // namespace kiv
