#include "image/MedianCut.h"

#include <algorithm>
#include <vector>

namespace kiv {

namespace {

// A colour and how many pixels hold it, while colours are reduced.
struct ColourCount {
    std::uint32_t Colour;
    std::int64_t Count;
};

// A box of median cut: the entries [Begin, End), the channel they spread widest in and how
// wide, and their pixels.
struct ColourBox {
    std::size_t Begin, End;
    int Axis = 0;
    int Range = 0;
    std::int64_t Pixels = 0;
};

void Measure(ColourBox& box, const std::vector<ColourCount>& entries) {
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    box.Pixels = 0;
    for (std::size_t k = box.Begin; k < box.End; ++k) {
        for (int c = 0; c < 3; ++c) {
            const int v = (entries[k].Colour >> 8 * c) & 0xFF;
            lo[c] = std::min(lo[c], v);
            hi[c] = std::max(hi[c], v);
        }
        box.Pixels += entries[k].Count;
    }
    box.Axis = 0;
    for (int c = 1; c < 3; ++c)
        if (hi[c] - lo[c] > hi[box.Axis] - lo[box.Axis])
            box.Axis = c;
    box.Range = hi[box.Axis] - lo[box.Axis];
}

// `box` split across its widest channel at the pixel-weighted median: the low half in place,
// the high half returned.
ColourBox Split(ColourBox& box, std::vector<ColourCount>& entries) {
    const int shift = 8 * box.Axis;
    std::sort(entries.begin() + static_cast<std::ptrdiff_t>(box.Begin),
              entries.begin() + static_cast<std::ptrdiff_t>(box.End),
              [shift](const ColourCount& a, const ColourCount& b) {
                  return ((a.Colour >> shift) & 0xFF) < ((b.Colour >> shift) & 0xFF);
              });
    std::int64_t half = 0;
    std::size_t cut = box.Begin + 1;
    for (std::size_t k = box.Begin; k + 1 < box.End; ++k) {
        half += entries[k].Count;
        cut = k + 1;
        if (2 * half >= box.Pixels)
            break;
    }
    ColourBox low{box.Begin, cut}, high{cut, box.End};
    Measure(low, entries);
    Measure(high, entries);
    box = low;
    return high;
}

} // namespace

std::unordered_map<std::uint32_t, std::uint32_t>
ReducedColours(const std::unordered_map<std::uint32_t, std::int64_t>& counts, int size) {
    std::vector<ColourCount> entries;
    entries.reserve(counts.size());
    for (const auto& [colour, count] : counts)
        entries.push_back({colour, count});
    std::sort(entries.begin(), entries.end(),
              [](const ColourCount& a, const ColourCount& b) { return a.Colour < b.Colour; });
    std::vector<ColourBox> boxes{{0, entries.size()}};
    Measure(boxes[0], entries);
    while (static_cast<int>(boxes.size()) < size) {
        // The box to split: the one whose pixels spread widest, weighted by how many there are.
        std::size_t pick = boxes.size();
        double best = 0;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            const double score =
                static_cast<double>(boxes[b].Range) * static_cast<double>(boxes[b].Pixels);
            if (boxes[b].End - boxes[b].Begin > 1 && boxes[b].Range > 0 && score > best) {
                best = score;
                pick = b;
            }
        }
        if (pick == boxes.size())
            break;
        boxes.push_back(Split(boxes[pick], entries));
    }
    std::unordered_map<std::uint32_t, std::uint32_t> replacement;
    for (const ColourBox& box : boxes) {
        double sum[3] = {0, 0, 0};
        for (std::size_t k = box.Begin; k < box.End; ++k)
            for (int c = 0; c < 3; ++c)
                sum[c] += static_cast<double>((entries[k].Colour >> 8 * c) & 0xFF) *
                          static_cast<double>(entries[k].Count);
        std::uint32_t mean = 0;
        for (int c = 0; c < 3; ++c)
            mean |= static_cast<std::uint32_t>(sum[c] / static_cast<double>(box.Pixels) + 0.5)
                    << 8 * c;
        for (std::size_t k = box.Begin; k < box.End; ++k)
            replacement[entries[k].Colour] = box.End - box.Begin == 1 ? entries[k].Colour : mean;
    }
    return replacement;
}

} // namespace kiv
