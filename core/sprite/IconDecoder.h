#pragma once
// Decodes one icon into its frame: an FWidth x FHeight picture filled with BackColor, the
// icon's Width x Height pixels painted from (StartX, StartY) on.

#include "image/Image.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <string>

namespace kiv {

class InFile;

// Frames above this many pixels on a side are refused (EFrameTooLarge) before allocation.
constexpr int MaxFrameSide = 16384;

struct DecodeStats {
    bool EndedEarly = false;    // the data ran out before every pixel was painted
    std::int64_t BytesRead = 0; // bytes of icon data taken from `offset` on
};

// Reads from `source` at the absolute `offset`. Decoding stops by pixel count, not by
// Bytes; run-length runs may cross row ends and the last run may overshoot the box. A
// negative frame side gives an empty frame. Data that ends early ends decoding and the
// frame keeps what was painted. The source is left after the last byte read. A negative
// `offset` has no data. A zero side, or exactly one negative side, reads nothing; with both
// sides negative |Width| x |Height| pixels are read, painted rightwards from StartX and
// upwards from StartY (the truncating division of the pixel order).
//
// For a file whose count word was above 1000 the offset must come from the stored count:
// IconDataOffset(table.StoredCount, header), not from the clamped Count.
//
// The cost is bounded by the bytes read plus the frame's pixels: raw rows outside the
// frame are skipped without reading, and runs are painted as clipped row segments.
Image DecodeIcon(InFile& source, std::int64_t offset, const TIconHeader& header,
                 DecodeStats* stats = nullptr);

// The warning for icon `icon` (1-based) whose data ended early, without a line end.
std::string EndedEarlyWarning(std::int64_t icon);

} // namespace kiv
