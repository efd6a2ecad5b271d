#pragma once
// A sprite's icons played as an animation: the default run, the icons decoded once into
// whole frames, the order they play in, and the frames as an animated picture file sees them.

#include "image/Image.h"
#include "image/Png.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class InFile;

enum class PlayMode { Loop, Bounce, Once };

// "loop", "bounce" or "once"; nothing for any other text.
std::optional<PlayMode> PlayModeNamed(const std::string& name);

// The last icon (0-based) of the run from `first`: the following icons whose frame size
// (FWidth x FHeight) equals its own.
int RunEnd(const TIconTable& table, int first);

// The frames decoded at most at once: 64 Mi pixels (256 MiB), whatever the icons declare.
constexpr std::int64_t MaxAnimationPixels = std::int64_t{64} << 20;

struct AnimationFrames {
    int First = 0; // 0-based icon of Frames[0]
    // Icon First + k as Show draws it: its whole frame, the icon where its header puts it.
    std::vector<Image> Frames;
    std::vector<int> EndedEarly; // 1-based icons whose data ended before their last pixel
    int Last() const { return First + static_cast<int>(Frames.size()) - 1; }
};

// Icons `first` to `last` (0-based, inside the table, first <= last) decoded once through
// Show. Frames larger together than MaxAnimationPixels are refused (EFrameTooLarge names the
// largest) before any is decoded.
AnimationFrames DecodeAnimation(InFile& file, const TIconTable& table, int first, int last);

// The frame numbers (0 to count - 1) of one pass: forwards for Loop and Once; for Bounce
// forwards, then back without repeating either end, so passes join without a pause.
std::vector<int> PlayOrder(int count, PlayMode mode);

// What an animation shows where a frame holds the background: transparent (its 16-bit value
// as a PNG's key) or one colour.
struct AnimationBackground {
    bool Transparent = true;
    TColor Color = clBlack;
};

// `frame` on a width x height picture from its top-left corner: the area outside it, and its
// pixels of the background's 16-bit value, take `background`'s colour, or with a transparent
// background BackColor; with `checker` above 0, squares of that many pixels in light and
// dark grey instead, as a view shows transparency.
Image FrameOnBackground(const Image& frame, int width, int height,
                        const AnimationBackground& background, int checker = 0);

// The frames as a file shows them, in `order`: each on a picture as large as the largest
// frame, from its top-left corner, the rest background, every pixel a square of `scale`;
// with a colour background every pixel of the background's 16-bit value takes that colour
// (BackKey marks a transparent one). More than MaxAnimationPixels in all is refused
// (EPictureTooLarge, with one picture's size) before any is made.
std::vector<Image> AnimationPictures(const std::vector<Image>& frames,
                                     const std::vector<int>& order,
                                     const AnimationBackground& background, int scale = 1);

struct AnimationOptions {
    int Fps = 10; // 1 to 60
    PlayMode Mode = PlayMode::Loop;
    int Scale = 1; // 1 to 16
    AnimationBackground Background;
};

enum class AnimationFormat { Gif, Png };

struct AnimationFile {
    std::vector<std::uint8_t> Bytes;
    int ReducedFrames = 0;          // GIF frames of more than 256 colours
    std::int64_t ChangedPixels = 0; // pixels those frames show in another colour
};

// The frames as an animated GIF or PNG, played as the window plays them. A GIF frame lasts a
// whole number of hundredths of a second, at least two (viewers slow shorter ones down), so
// above 50 frames a second it plays at 50.
AnimationFile EncodeAnimation(const std::vector<Image>& frames, const AnimationOptions& options,
                              AnimationFormat format);

// The format an output's name asks for: ".gif" or ".png" in any case.
std::optional<AnimationFormat> AnimationFormatOf(const std::string& path);

} // namespace kiv
