#pragma once
// Colours reduced by median cut, for pictures of more colours than a format's table holds.

#include <cstdint>
#include <unordered_map>

namespace kiv {

// The colours of `counts` (colour -> pixels; 0x00BBGGRR) in at most `size` boxes, each split
// across its longest side at the pixel-weighted median; a box's colour is its weighted mean.
// Returns each colour's replacement.
std::unordered_map<std::uint32_t, std::uint32_t>
ReducedColours(const std::unordered_map<std::uint32_t, std::int64_t>& counts, int size);

} // namespace kiv
