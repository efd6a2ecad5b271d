#include "image/Gif.h"

#include "base/Errors.h"
#include "image/MedianCut.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A pixel while frames are compared: its colour, or kClear for a transparent one.
constexpr std::uint32_t kClear = 0xFF000000u;

struct Rect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0; // [Left, Right) x [Top, Bottom)
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    void Add(int x, int y) {
        if (Empty()) {
            *this = {x, y, x + 1, y + 1};
            return;
        }
        Left = std::min(Left, x);
        Top = std::min(Top, y);
        Right = std::max(Right, x + 1);
        Bottom = std::max(Bottom, y + 1);
    }
    void Add(const Rect& other) {
        if (other.Empty())
            return;
        Add(other.Left, other.Top);
        Add(other.Right - 1, other.Bottom - 1);
    }
};

// The GIF flavour of LZW: variable-width codes from minCodeSize + 1 bits up to 12, packed low
// bit first into sub-blocks. A full table is kept to the end of the frame (a reader adds no
// entry to a full table until a clear code comes): the strings of a frame's first rows go on
// matching its later ones better than a table begun again would.
class LzwCoder {
public:
    LzwCoder(Bytes& out, int minCodeSize) : out_(out), min_(minCodeSize), clear_(1 << min_) {
        keys_.assign(kSlots, kEmpty);
        codes_.assign(kSlots, 0);
        next_ = clear_ + 2;
        width_ = min_ + 1;
    }

    void Code(const std::uint8_t* in, std::size_t n) {
        out_.push_back(static_cast<std::uint8_t>(min_));
        Put(clear_);
        std::size_t pos = 0;
        while (pos < n) {
            const auto [code, length] = Match(in, n, pos);
            PutData(code);
            if (pos + length < n && next_ < 4096)
                Insert(code, in[pos + length]);
            pos += length;
        }
        Put(clear_ + 1);
        if (bits_ > 0)
            Byte(static_cast<std::uint8_t>(acc_));
        if (!block_.empty())
            FlushBlock();
        out_.push_back(0);
    }

private:
    static constexpr std::size_t kSlots = 16384; // four times the codes: short probes
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    static std::size_t Hash(std::uint32_t key) { return (key * 2654435761u) >> 18; }

    // The longest string in the table that starts at `pos`: its code and length.
    std::pair<int, std::size_t> Match(const std::uint8_t* in, std::size_t n,
                                      std::size_t pos) const {
        int code = in[pos];
        std::size_t length = 1;
        while (pos + length < n) {
            const int found = Find(code, in[pos + length]);
            if (found < 0)
                break;
            code = found;
            ++length;
        }
        return {code, length};
    }
    int Find(int prefix, int index) const {
        const std::uint32_t key = static_cast<std::uint32_t>(prefix) << 8 | index;
        for (std::size_t slot = Hash(key);; slot = (slot + 1) & (kSlots - 1)) {
            if (keys_[slot] == key)
                return codes_[slot];
            if (keys_[slot] == kEmpty)
                return -1;
        }
    }
    // The next code: the string `prefix` + `index`, which the table does not hold yet.
    void Insert(int prefix, int index) {
        const std::uint32_t key = static_cast<std::uint32_t>(prefix) << 8 | index;
        std::size_t slot = Hash(key);
        while (keys_[slot] != kEmpty)
            slot = (slot + 1) & (kSlots - 1);
        keys_[slot] = key;
        codes_[slot] = static_cast<std::int16_t>(next_++);
    }
    // A code of the data; the code that the next entry would get may need a wider code,
    // which the decoder reads from the next code on.
    void PutData(int code) {
        Put(code);
        if (next_ >= (1 << width_) && width_ < 12)
            ++width_;
    }
    void Put(int code) {
        acc_ |= static_cast<std::uint32_t>(code) << bits_;
        bits_ += width_;
        while (bits_ >= 8) {
            Byte(static_cast<std::uint8_t>(acc_));
            acc_ >>= 8;
            bits_ -= 8;
        }
    }
    void Byte(std::uint8_t b) {
        block_.push_back(b);
        if (block_.size() == 255)
            FlushBlock();
    }
    void FlushBlock() {
        out_.push_back(static_cast<std::uint8_t>(block_.size()));
        out_.insert(out_.end(), block_.begin(), block_.end());
        block_.clear();
    }

    Bytes& out_;
    int min_;
    int clear_;
    int next_ = 0;
    int width_ = 0;
    std::uint32_t acc_ = 0;
    int bits_ = 0;
    std::vector<std::uint32_t> keys_;
    std::vector<std::int16_t> codes_;
    Bytes block_;
};

void Put16(Bytes& out, int v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

int TableBits(std::size_t colours) {
    int bits = 1;
    while ((std::size_t{1} << bits) < colours)
        ++bits;
    return bits;
}

void PutTable(Bytes& out, const std::vector<std::uint32_t>& palette, int bits) {
    for (std::size_t k = 0; k < (std::size_t{1} << bits); ++k) {
        const std::uint32_t c = k < palette.size() && palette[k] != kClear ? palette[k] : 0;
        out.insert(out.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                               static_cast<std::uint8_t>(c >> 16)});
    }
}

using Pixels = std::vector<std::uint32_t>;

// One frame as it is stored.
struct StoredFrame {
    Rect Box;
    int Disposal = 1;     // 1: left as it is; 2: its box cleared, 3: its box put back, after it
    Pixels Stored;        // the box's pixels, kClear where the screen shows through
    Pixels Palette;       // sorted
    std::size_t Size = 0; // of its image data with its own colour table
};

// What a pixel the frame need not change is stored as: transparent, its own colour, or
// whichever of the two continues the pixel before it (the longest runs for the coder).
enum class Unchanged { Clear, Colour, Continue };

// The image data of `stored`, `width` pixels a row, as indices into `palette` (sorted), in
// LZW codes from `minCodeSize` bits; `interlaced`: its rows in the four passes of an
// interlaced image (every 8th from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
Bytes Coded(const Pixels& stored, int width, const Pixels& palette, int minCodeSize,
            bool interlaced) {
    const std::size_t rows = stored.size() / static_cast<std::size_t>(width);
    std::vector<std::uint8_t> indices;
    indices.reserve(stored.size());
    std::uint32_t lastColour = kClear - 1;
    std::uint8_t lastIndex = 0;
    const auto putRow = [&](std::size_t y) {
        for (std::size_t k = y * width; k < (y + 1) * width; ++k) {
            if (stored[k] != lastColour) {
                lastColour = stored[k];
                lastIndex = static_cast<std::uint8_t>(
                    std::lower_bound(palette.begin(), palette.end(), lastColour) - palette.begin());
            }
            indices.push_back(lastIndex);
        }
    };
    if (!interlaced)
        for (std::size_t y = 0; y < rows; ++y)
            putRow(y);
    for (int pass = 0; interlaced && pass < 4; ++pass)
        for (std::size_t y = pass == 0 ? 0 : 8 >> pass; y < rows; y += pass == 0 ? 8 : 16 >> pass)
            putRow(y);
    Bytes out;
    LzwCoder(out, minCodeSize).Code(indices.data(), indices.size());
    return out;
}

std::size_t CodedSize(const Pixels& stored, int width, const Pixels& palette) {
    return Coded(stored, width, palette, std::max(2, TableBits(palette.size())), false).size();
}

// `frame`'s box drawn over `screen`.
StoredFrame Store(const Pixels& frame, const Pixels& screen, int w, Rect box, Unchanged unchanged) {
    StoredFrame s;
    s.Box = box.Empty() ? Rect{0, 0, 1, 1} : box;
    std::unordered_map<std::uint32_t, int> used;
    for (int y = s.Box.Top; y < s.Box.Bottom; ++y)
        for (int x = s.Box.Left; x < s.Box.Right; ++x) {
            const std::size_t k = static_cast<std::size_t>(y) * w + x;
            if (frame[k] != screen[k] || frame[k] == kClear)
                used.emplace(frame[k], 0);
        }
    // Transparent needs an entry of its own; with 256 colours changing there is none.
    const bool clearSlot = used.count(kClear) || used.size() < 256;
    s.Stored.reserve(static_cast<std::size_t>(s.Box.Right - s.Box.Left) *
                     (s.Box.Bottom - s.Box.Top));
    for (int y = s.Box.Top; y < s.Box.Bottom; ++y)
        for (int x = s.Box.Left; x < s.Box.Right; ++x) {
            const std::size_t k = static_cast<std::size_t>(y) * w + x;
            std::uint32_t p = frame[k];
            if (p == screen[k] && p != kClear && clearSlot) {
                if (unchanged == Unchanged::Clear ||
                    (unchanged == Unchanged::Continue && !s.Stored.empty() &&
                     s.Stored.back() == kClear))
                    p = kClear;
            }
            s.Stored.push_back(p);
            used.emplace(p, 0);
        }
    for (const auto& entry : used)
        s.Palette.push_back(entry.first);
    std::sort(s.Palette.begin(), s.Palette.end());
    s.Size = CodedSize(s.Stored, s.Box.Right - s.Box.Left, s.Palette);
    return s;
}

// The smallest of the ways to store the box.
StoredFrame StoreSmallest(const Pixels& frame, const Pixels& screen, int w, Rect box) {
    StoredFrame best = Store(frame, screen, w, box, Unchanged::Continue);
    for (Unchanged way : {Unchanged::Clear, Unchanged::Colour}) {
        StoredFrame trial = Store(frame, screen, w, box, way);
        if (trial.Size < best.Size)
            best = std::move(trial);
    }
    return best;
}

// A frame's pixels, kClear where `transparent` matches, reduced to at most 256 colours where
// it has more (counted in `result`).
Pixels ShownFrame(const Image& frame, const std::optional<PngKey>& transparent,
                  GifAnimation& result) {
    const std::size_t area = static_cast<std::size_t>(frame.Width()) * frame.Height();
    Pixels px(area);
    const TColor* in = frame.Row(0);
    std::unordered_map<std::uint32_t, std::int64_t> counts;
    bool clear = false;
    std::uint32_t last = kClear - 1;
    std::int64_t run = 0;
    for (std::size_t k = 0; k < area; ++k) {
        const TColor c = in[k] & 0x00FFFFFF;
        if (transparent && transparent->Matches(c)) {
            px[k] = kClear;
            clear = true;
            continue;
        }
        px[k] = c;
        if (c == last) {
            ++run;
            continue;
        }
        if (run > 0)
            counts[last] += run;
        last = c;
        run = 1;
    }
    if (run > 0)
        counts[last] += run;
    const int room = clear ? 255 : 256;
    if (static_cast<int>(counts.size()) <= room)
        return px;
    const auto replacement = ReducedColours(counts, room);
    ++result.ReducedFrames;
    for (std::uint32_t& p : px) {
        if (p == kClear)
            continue;
        const std::uint32_t to = replacement.at(p);
        result.ChangedPixels += to != p;
        p = to;
    }
    return px;
}

// A frame's place in the animation: its box, what is done with it after it is shown, and
// the screen it is drawn on.
struct FramePlan {
    Rect Box;
    int Disposal = 1;
    Pixels Before;
};

// The box of the pixels where `frame` differs from `screen`, w x h.
Rect BoxOf(const Pixels& frame, const Pixels& screen, int w, int h) {
    Rect box;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t k = static_cast<std::size_t>(y) * w + x;
            if (frame[k] != screen[k])
                box.Add(x, y);
        }
    return box;
}

// The box of the pixels that turn transparent from `screen` to `frame`.
Rect ClearsOf(const Pixels& screen, const Pixels& frame, int w, int h) {
    Rect clears;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t k = static_cast<std::size_t>(y) * w + x;
            if (screen[k] != kClear && frame[k] == kClear)
                clears.Add(x, y);
        }
    return clears;
}

Pixels Cleared(Pixels screen, const Rect& b, int w) {
    for (int y = b.Top; y < b.Bottom; ++y)
        std::fill_n(screen.begin() + static_cast<std::ptrdiff_t>(y) * w + b.Left, b.Right - b.Left,
                    kClear);
    return screen;
}

// The plan of frame `shown` after `last` (whose pixels are `lastShown`), whose disposal
// and box it settles.
FramePlan PlanFrame(FramePlan& last, const Pixels& lastShown, const Pixels& shown, int w, int h) {
    FramePlan plan;
    const Rect own = last.Box;
    std::size_t ownSize = 0; // measured when a way grows the box
    std::size_t bestCost = SIZE_MAX;
    Rect bestGrown = own;
    for (int d = 1; d <= 3; ++d) {
        Rect grown = own;
        Pixels screen;
        if (d == 1) {
            if (!ClearsOf(lastShown, shown, w, h).Empty())
                continue;
            screen = lastShown;
        } else if (d == 2) {
            grown.Add(ClearsOf(lastShown, shown, w, h));
            screen = Cleared(lastShown, grown, w);
        } else {
            if (!ClearsOf(last.Before, shown, w, h).Empty())
                continue;
            screen = last.Before;
        }
        const Rect box = BoxOf(shown, screen, w, h);
        std::size_t cost = Store(shown, screen, w, box, Unchanged::Continue).Size;
        if (!(grown.Left == own.Left && grown.Top == own.Top && grown.Right == own.Right &&
              grown.Bottom == own.Bottom)) {
            if (ownSize == 0)
                ownSize = Store(lastShown, last.Before, w, own, Unchanged::Continue).Size;
            cost += Store(lastShown, last.Before, w, grown, Unchanged::Continue).Size;
            cost -= std::min(cost, ownSize);
        }
        if (cost < bestCost) {
            bestCost = cost;
            last.Disposal = d;
            plan.Before = std::move(screen);
            plan.Box = box;
            bestGrown = grown;
        }
    }
    last.Box = bestGrown;
    return plan;
}

// The frame as planned, stored the smallest way.
StoredFrame Stored(const Pixels& shown, const FramePlan& plan, int w) {
    StoredFrame s = StoreSmallest(shown, plan.Before, w, plan.Box);
    s.Disposal = plan.Disposal;
    return s;
}

// The logical screen, the global colour table (`global`, when every frame's colours fit in
// it) and the loop.
void PutHeader(Bytes& out, int w, int h, const Pixels& global, bool loop) {
    out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, w);
    Put16(out, h);
    const int globalBits = TableBits(global.size());
    out.push_back(global.empty() ? 0x70 : static_cast<std::uint8_t>(0xF0 | (globalBits - 1)));
    out.push_back(0); // background: entry 0
    out.push_back(0);
    if (!global.empty())
        PutTable(out, global, globalBits);
    if (loop) {
        const char* app = "NETSCAPE2.0";
        out.insert(out.end(), {0x21, 0xFF, 11});
        out.insert(out.end(), app, app + 11);
        out.insert(out.end(), {3, 1, 0, 0, 0}); // repeat forever
    }
}

// A frame: its control block, its descriptor, its own colour table unless `global` has
// entries, and its image data.
void PutFrame(Bytes& out, const StoredFrame& s, const Pixels& global, int delay) {
    const bool shared = !global.empty();
    const Pixels& palette = shared ? global : s.Palette;
    const bool hasClear = std::binary_search(s.Palette.begin(), s.Palette.end(), kClear);
    const auto clearAt = std::lower_bound(palette.begin(), palette.end(), kClear);
    out.insert(out.end(), {0x21, 0xF9, 4});
    out.push_back(static_cast<std::uint8_t>(s.Disposal << 2 | (hasClear ? 1 : 0)));
    Put16(out, delay);
    out.push_back(static_cast<std::uint8_t>(hasClear ? clearAt - palette.begin() : 0));
    out.push_back(0);
    out.push_back(0x2C);
    Put16(out, s.Box.Left);
    Put16(out, s.Box.Top);
    const int bw = s.Box.Right - s.Box.Left;
    Put16(out, bw);
    Put16(out, s.Box.Bottom - s.Box.Top);
    const int bits = TableBits(palette.size());
    // Interlaced rows code smaller where a full table, which is kept from then on, has been
    // learnt from all of the frame's height rather than from its first rows only.
    const int minCodeSize = std::max(2, bits);
    const Bytes plain = Coded(s.Stored, bw, palette, minCodeSize, false);
    const Bytes interlaced = Coded(s.Stored, bw, palette, minCodeSize, true);
    const bool inter = interlaced.size() < plain.size();
    out.push_back(static_cast<std::uint8_t>((inter ? 0x40 : 0) | (shared ? 0 : 0x80 | (bits - 1))));
    if (!shared)
        PutTable(out, palette, bits);
    const Bytes& data = inter ? interlaced : plain;
    out.insert(out.end(), data.begin(), data.end());
}

} // namespace

GifAnimation EncodeGif(const std::vector<const Image*>& frames,
                       const std::optional<PngKey>& transparent, int delay, bool loop) {
    if (frames.empty() || frames[0]->Empty())
        throw EInvalidGraphic("An empty picture cannot be saved as GIF");
    const int w = frames[0]->Width(), h = frames[0]->Height();
    if (w > 65535 || h > 65535)
        throw EInvalidGraphic(
            "A picture larger than 65535 pixels on a side cannot be saved as GIF");
    for (const Image* frame : frames)
        if (frame->Width() != w || frame->Height() != h)
            throw EInvalidGraphic("The frames of an animation must be of one size");
    GifAnimation result;

    // What each frame must store: the pixels that differ from the screen the previous frame
    // leaves. That frame may leave its box as it is, cleared or put back as it was before it;
    // of the ways that leave no pixel to turn transparent (a frame cannot draw one), the one
    // that stores the two frames smallest is taken. To clear, the previous frame's box grows
    // over the pixels that turn transparent. Going round again, the first frame follows the
    // last. A frame is stored once the next one has settled its box: only two frames' pixels
    // and screens are held at a time.
    const Pixels first = ShownFrame(*frames[0], transparent, result);
    // The first frame covers the whole screen: outside it, readers differ on what shows.
    FramePlan last{Rect{0, 0, w, h}, 1, Pixels(static_cast<std::size_t>(w) * h, kClear)};
    Pixels lastShown = first;
    std::vector<StoredFrame> stored;
    for (std::size_t f = 1; f < frames.size(); ++f) {
        Pixels shown = ShownFrame(*frames[f], transparent, result);
        FramePlan plan = PlanFrame(last, lastShown, shown, w, h);
        stored.push_back(Stored(lastShown, last, w));
        last = std::move(plan);
        lastShown = std::move(shown);
    }
    if (loop && frames.size() > 1) {
        // Frame 0 drawn again over what the last frame leaves: whatever frame 0 leaves
        // transparent that the last frame drew must be cleared.
        const Rect clears = ClearsOf(lastShown, first, w, h);
        if (!clears.Empty()) {
            last.Disposal = 2;
            last.Box.Add(clears);
        }
    }
    stored.push_back(Stored(lastShown, last, w));
    std::unordered_map<std::uint32_t, int> all;
    for (const StoredFrame& s : stored)
        for (std::uint32_t c : s.Palette)
            all.emplace(c, 0);
    Pixels global; // empty: each frame has its own table
    if (all.size() <= 256) {
        for (const auto& entry : all)
            global.push_back(entry.first);
        std::sort(global.begin(), global.end());
    }
    PutHeader(result.Bytes, w, h, global, loop);
    for (const StoredFrame& s : stored)
        PutFrame(result.Bytes, s, global, delay);
    result.Bytes.push_back(0x3B);
    return result;
}

} // namespace kiv
