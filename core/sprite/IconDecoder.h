#pragma once
// Decodes one icon into its frame: an FWidth x FHeight picture filled with BackColor, the
// icon's Width x Height pixels painted from (StartX, StartY) on.

#include "image/Image.h"
#include "sprite/S16Format.h"

#include <cstdint>

namespace kiv {

class InFile;

// Frames above this many pixels on a side are refused (EFrameTooLarge) before allocation.
constexpr int MaxFrameSide = 16384;

struct DecodeStats {
    bool EndedEarly = false;   // the data ran out before every pixel was painted
    std::int64_t BytesRead = 0;
};

// Reads from `source` at the absolute `offset`. Decoding stops by pixel count, not by
// Bytes; run-length runs may cross row ends and the last run may overshoot the box. A
// negative frame side gives an empty frame. Data that ends early ends decoding and the
// frame keeps what was painted. The source is left after the last byte read.
Image DecodeIcon(InFile& source, std::int64_t offset, const TIconHeader& header,
                 DecodeStats* stats = nullptr);

} // namespace kiv
