#pragma once
// Painting on a picture with the pointer, and the history that takes it back: strokes of one
// colour, each kept as the pixels it changed, and whole-picture replacements, undone and
// redone in order.

#include "image/Image.h"

#include <any>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace kiv {

struct PixelPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// The pixels of the straight line from `from` to `to`, both ends included, that lie inside a
// `width` x `height` picture, in order from `from`. Each pixel touches the one before it at a
// side or a corner, so a fast drag still paints without gaps. Only the part inside the
// picture is walked, however far outside the ends lie (ends beyond 2^29 on either axis are
// pulled in to it, which no pointer reaches).
std::vector<PixelPoint> LinePixels(PixelPoint from, PixelPoint to, int width, int height);

class PaintHistory {
public:
    // What the history may hold: about 32 MiB, some 25 collage pages or millions of painted
    // pixels. The oldest steps go first once it is exceeded.
    static constexpr std::size_t DefaultLimit = std::size_t(32) << 20;

    explicit PaintHistory(std::size_t limitBytes = DefaultLimit) : limit_(limitBytes) {}

    // A stroke paints `color` from one press of the button to its release: the pixel at `at`,
    // then a line to every point it moves to. Points outside the picture paint nothing, but
    // a line from them into the picture does. Only pixels that change are kept, so a stroke
    // that changes nothing leaves no step (and what can be redone stays).
    void BeginStroke(Image& picture, PixelPoint at, TColor color);
    void StrokeTo(Image& picture, PixelPoint to);
    // Returns whether the stroke changed the picture, and so is a step.
    bool EndStroke();
    bool Stroking() const { return stroking_; }
    PixelPoint StrokeEnd() const { return last_; } // the point the stroke last reached

    // The picture was replaced as a whole (an icon shown, a page drawn, a file loaded):
    // `before` is what it held, `now` what it holds. A replacement that changed nothing is
    // not a step. `beforeNote` is whatever the caller keeps about the picture it replaced.
    void PictureReplaced(Image before, const Image& now, std::any beforeNote = {});

    // Undo and Redo end a stroke in progress first. They return false when there is nothing
    // to take back or bring back. A picture whose size no longer matches what a stroke was
    // painted on (changed outside the history) clears the history instead. A replaced
    // picture that comes back brings its note: it is swapped with `*note`.
    bool Undo(Image& picture, std::any* note = nullptr);
    bool Redo(Image& picture, std::any* note = nullptr);
    bool CanUndo() const { return done_ > 0; }
    bool CanRedo() const { return done_ < steps_.size(); }

    std::size_t Bytes() const { return bytes_; }
    void Clear();

private:
    // One pixel of a stroke, with the colour it does not show now: its colour before the
    // stroke while the stroke is done, the stroke's colour while it is undone.
    struct ChangedPixel {
        std::int32_t X;
        std::int32_t Y;
        TColor Other;
    };
    // Undoing or redoing a step swaps what it holds with the picture.
    struct Step {
        bool WholePicture = false;
        Image Other;   // WholePicture: the picture not shown now
        std::any Note; // WholePicture: the caller's note on Other
        int Width = 0; // a stroke: the size of the picture it was painted on
        int Height = 0;
        std::vector<ChangedPixel> Pixels; // a stroke: each pixel once
        std::size_t Bytes() const;
    };

    void Paint(Image& picture, PixelPoint from, PixelPoint to);
    void Push(Step step);
    bool Swap(Step& step, Image& picture, std::any* note);
    void Trim();

    std::deque<Step> steps_;
    std::size_t done_ = 0; // steps_[0, done_) are in the picture; the rest can be redone
    std::size_t bytes_ = 0;
    std::size_t limit_;
    bool stroking_ = false;
    bool strokeStep_ = false; // the stroke in progress has changed a pixel: steps_.back()
    PixelPoint last_;
    TColor color_ = clBlack;
};

} // namespace kiv
