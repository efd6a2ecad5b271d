#include "image/PaintHistory.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kiv {

namespace {

// Far enough out that no pointer gets there, near enough that the products below stay
// within 64 bits.
constexpr long long FarOut = 1LL << 29;

long long FloorDiv(long long a, long long b) { // b > 0
    const long long q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

} // namespace

std::vector<PixelPoint> LinePixels(PixelPoint from, PixelPoint to, int width, int height) {
    std::vector<PixelPoint> points;
    if (width <= 0 || height <= 0)
        return points;
    const long long x0 = std::clamp<long long>(from.X, -FarOut, FarOut);
    const long long y0 = std::clamp<long long>(from.Y, -FarOut, FarOut);
    const long long dx = std::clamp<long long>(to.X, -FarOut, FarOut) - x0;
    const long long dy = std::clamp<long long>(to.Y, -FarOut, FarOut) - y0;
    // Step one pixel at a time along the longer axis; on the other, take the nearest pixel to
    // the exact line, so neighbouring steps differ there by at most one.
    const bool alongX = std::llabs(dx) >= std::llabs(dy);
    const long long major0 = alongX ? x0 : y0;
    const long long minor0 = alongX ? y0 : x0;
    const long long majorD = alongX ? dx : dy;
    const long long minorD = alongX ? dy : dx;
    const long long majorEnd = alongX ? width : height;
    const long long minorEnd = alongX ? height : width;
    const long long steps = std::llabs(majorD);
    const long long dir = majorD < 0 ? -1 : 1;
    // The steps whose major coordinate lies inside the picture.
    long long first = 0;
    long long last = steps;
    if (dir > 0) {
        first = std::max(first, -major0);
        last = std::min(last, majorEnd - 1 - major0);
    } else {
        first = std::max(first, major0 - (majorEnd - 1));
        last = std::min(last, major0);
    }
    for (long long t = first; t <= last; ++t) {
        const long long minor =
            steps == 0 ? minor0 : minor0 + FloorDiv(2 * t * minorD + steps, 2 * steps);
        if (minor < 0 || minor >= minorEnd)
            continue;
        const int major = static_cast<int>(major0 + dir * t);
        const int other = static_cast<int>(minor);
        points.push_back(alongX ? PixelPoint{major, other} : PixelPoint{other, major});
    }
    return points;
}

std::size_t PaintHistory::Step::Bytes() const {
    return sizeof(Step) + Pixels.size() * sizeof(ChangedPixel) +
           static_cast<std::size_t>(Other.Width()) * static_cast<std::size_t>(Other.Height()) *
               sizeof(TColor);
}

void PaintHistory::BeginStroke(Image& picture, PixelPoint at, TColor color) {
    EndStroke();
    stroking_ = true;
    strokeStep_ = false;
    color_ = color & 0x00FFFFFF;
    last_ = at;
    Paint(picture, at, at);
}

void PaintHistory::StrokeTo(Image& picture, PixelPoint to) {
    if (!stroking_)
        return;
    Paint(picture, last_, to);
    last_ = to;
}

bool PaintHistory::EndStroke() {
    if (!stroking_)
        return false;
    stroking_ = false;
    const bool step = strokeStep_;
    strokeStep_ = false;
    if (step) {
        steps_.back().Pixels.shrink_to_fit();
        Trim();
    }
    return step;
}

void PaintHistory::Paint(Image& picture, PixelPoint from, PixelPoint to) {
    if (strokeStep_ &&
        (steps_.back().Width != picture.Width() || steps_.back().Height != picture.Height())) {
        EndStroke(); // the picture was replaced under the stroke
        return;
    }
    for (const PixelPoint p : LinePixels(from, to, picture.Width(), picture.Height())) {
        TColor& pixel = picture.Row(p.Y)[p.X];
        // A pixel the stroke has already painted holds its colour, so it is kept only once,
        // with its colour from before the stroke.
        if (pixel == color_)
            continue;
        if (!strokeStep_) {
            Step step;
            step.Width = picture.Width();
            step.Height = picture.Height();
            Push(std::move(step));
            strokeStep_ = true;
        }
        steps_.back().Pixels.push_back({p.X, p.Y, pixel});
        bytes_ += sizeof(ChangedPixel);
        pixel = color_;
    }
}

void PaintHistory::PictureReplaced(Image before, const Image& now, std::any beforeNote) {
    EndStroke();
    if (before == now)
        return;
    Step step;
    step.WholePicture = true;
    step.Other = std::move(before);
    step.Note = std::move(beforeNote);
    Push(std::move(step));
    Trim();
}

void PaintHistory::Push(Step step) {
    // A new step ends what could be redone.
    while (steps_.size() > done_) {
        bytes_ -= steps_.back().Bytes();
        steps_.pop_back();
    }
    bytes_ += step.Bytes();
    steps_.push_back(std::move(step));
    done_ = steps_.size();
}

void PaintHistory::Trim() {
    // The oldest steps go first; what can be redone goes from its far end, so the rest still
    // applies in order.
    while (bytes_ > limit_ && !steps_.empty()) {
        if (done_ > 0) {
            bytes_ -= steps_.front().Bytes();
            steps_.pop_front();
            --done_;
        } else {
            bytes_ -= steps_.back().Bytes();
            steps_.pop_back();
        }
    }
}

bool PaintHistory::Swap(Step& step, Image& picture, std::any* note) {
    if (step.WholePicture) {
        bytes_ -= step.Bytes();
        std::swap(step.Other, picture);
        bytes_ += step.Bytes();
        if (note)
            std::swap(step.Note, *note);
        return true;
    }
    if (step.Width != picture.Width() || step.Height != picture.Height()) {
        Clear();
        return false;
    }
    for (ChangedPixel& changed : step.Pixels)
        std::swap(picture.Row(changed.Y)[changed.X], changed.Other);
    return true;
}

bool PaintHistory::Undo(Image& picture, std::any* note) {
    EndStroke();
    if (!CanUndo() || !Swap(steps_[done_ - 1], picture, note))
        return false;
    --done_;
    Trim();
    return true;
}

bool PaintHistory::Redo(Image& picture, std::any* note) {
    EndStroke();
    if (!CanRedo() || !Swap(steps_[done_], picture, note))
        return false;
    ++done_;
    Trim();
    return true;
}

void PaintHistory::Clear() {
    steps_.clear();
    done_ = 0;
    bytes_ = 0;
    stroking_ = false;
    strokeStep_ = false;
}

} // namespace kiv
