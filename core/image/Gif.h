#pragma once
// Animated GIF files, written by code of our own (the Windows build has no GIF library to
// link). A frame of at most 256 colours, its transparent pixels counted as one, keeps every
// colour exactly; a frame with more is reduced to 256 by median cut. Each frame after the
// first stores only the box of pixels that differ from what the previous one leaves on
// screen, its unchanged pixels transparent, and the frames share one colour table when their
// colours fit in it. A frame's rows are stored interlaced where that codes smaller.

#include "image/Image.h"
#include "image/Png.h" // PngKey

#include <cstdint>
#include <optional>
#include <vector>

namespace kiv {

struct GifAnimation {
    std::vector<std::uint8_t> Bytes;
    // Pixels that a frame of more than 256 colours shows in another colour, over all frames.
    std::int64_t ChangedPixels = 0;
    int ReducedFrames = 0; // frames that had more than 256 colours
};

// `frames` (at least one, all of one size, at most 65535 on a side) shown `delay` hundredths
// of a second each; the pixels `transparent` matches are transparent (none: every pixel
// opaque). `loop`: played over and over; otherwise once.
GifAnimation EncodeGif(const std::vector<const Image*>& frames,
                       const std::optional<PngKey>& transparent, int delay, bool loop);

} // namespace kiv
