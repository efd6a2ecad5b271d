#include "sprite/Animation.h"

#include "base/Errors.h"
#include "image/Gif.h"
#include "sprite/IconPictures.h"
#include "sprite/PictureFiles.h"

#include <algorithm>

namespace kiv {

std::optional<PlayMode> PlayModeNamed(const std::string& name) {
    if (name == "loop")
        return PlayMode::Loop;
    if (name == "bounce")
        return PlayMode::Bounce;
    if (name == "once")
        return PlayMode::Once;
    return std::nullopt;
}

int RunEnd(const TIconTable& table, int first) {
    const TIconHeader& head = table.Headers[static_cast<std::size_t>(first)];
    int last = first;
    while (last + 1 < table.Count) {
        const TIconHeader& next = table.Headers[static_cast<std::size_t>(last + 1)];
        if (next.FWidth != head.FWidth || next.FHeight != head.FHeight)
            break;
        ++last;
    }
    return last;
}

AnimationFrames DecodeAnimation(InFile& file, const TIconTable& table, int first, int last) {
    std::int64_t total = 0;
    const TIconHeader* largest = nullptr;
    std::int64_t largestPixels = -1;
    for (int i = first; i <= last; ++i) {
        const TIconHeader& h = table.Headers[static_cast<std::size_t>(i)];
        const std::int64_t pixels =
            h.FWidth > 0 && h.FHeight > 0 ? std::int64_t{h.FWidth} * h.FHeight : 0;
        total += pixels;
        if (pixels > largestPixels) {
            largestPixels = pixels;
            largest = &h;
        }
    }
    if (total > MaxAnimationPixels)
        throw EFrameTooLarge(largest->FWidth, largest->FHeight);
    AnimationFrames result;
    result.First = first;
    result.Frames.reserve(static_cast<std::size_t>(last - first + 1));
    for (int i = first; i <= last; ++i) {
        DecodeStats stats;
        result.Frames.push_back(ShowPicture(file, table, i, &stats));
        if (stats.EndedEarly)
            result.EndedEarly.push_back(i + 1);
    }
    return result;
}

std::vector<int> PlayOrder(int count, PlayMode mode) {
    std::vector<int> order;
    for (int k = 0; k < count; ++k)
        order.push_back(k);
    if (mode == PlayMode::Bounce)
        for (int k = count - 2; k >= 1; --k)
            order.push_back(k);
    return order;
}

namespace {

Image Enlarged(const Image& picture, int scale) {
    if (scale == 1)
        return picture;
    Image big(picture.Width() * scale, picture.Height() * scale);
    for (int y = 0; y < picture.Height(); ++y) {
        const TColor* in = picture.Row(y);
        TColor* out = big.Row(y * scale);
        for (int x = 0; x < picture.Width(); ++x)
            std::fill_n(out + static_cast<std::ptrdiff_t>(x) * scale, scale, in[x]);
        for (int k = 1; k < scale; ++k)
            std::copy_n(out, big.Width(), big.Row(y * scale + k));
    }
    return big;
}

} // namespace

Image FrameOnBackground(const Image& frame, int width, int height,
                        const AnimationBackground& background, int checker) {
    Image picture(width, height);
    picture.Fill(BackColor);
    picture.Draw(0, 0, frame);
    if (background.Transparent && checker <= 0)
        return picture;
    for (int y = 0; y < height; ++y) {
        TColor* row = picture.Row(y);
        for (int x = 0; x < width; ++x) {
            if (!BackKey.Matches(row[x]))
                continue;
            if (checker > 0)
                row[x] = (x / checker + y / checker) % 2 ? RGB(204, 204, 204) : RGB(255, 255, 255);
            else
                row[x] = background.Color;
        }
    }
    return picture;
}

std::vector<Image> AnimationPictures(const std::vector<Image>& frames,
                                     const std::vector<int>& order,
                                     const AnimationBackground& background, int scale) {
    std::int64_t width = 0, height = 0;
    for (const Image& frame : frames) {
        width = std::max<std::int64_t>(width, frame.Width());
        height = std::max<std::int64_t>(height, frame.Height());
    }
    if (width * scale * height * scale * static_cast<std::int64_t>(order.size()) >
        MaxAnimationPixels)
        throw EPictureTooLarge(width * scale, height * scale);
    std::vector<Image> shown;
    shown.reserve(order.size());
    for (int k : order) {
        const Image& frame = frames[static_cast<std::size_t>(k)];
        const Image picture =
            FrameOnBackground(frame, static_cast<int>(width), static_cast<int>(height), background);
        shown.push_back(Enlarged(picture, scale));
    }
    return shown;
}

AnimationFile EncodeAnimation(const std::vector<Image>& frames, const AnimationOptions& options,
                              AnimationFormat format) {
    const std::vector<Image> pictures =
        AnimationPictures(frames, PlayOrder(static_cast<int>(frames.size()), options.Mode),
                          options.Background, options.Scale);
    std::vector<const Image*> order;
    for (const Image& picture : pictures)
        order.push_back(&picture);
    const bool loop = options.Mode != PlayMode::Once;
    std::optional<PngKey> key;
    if (options.Background.Transparent)
        key = BackKey;
    AnimationFile file;
    if (format == AnimationFormat::Png) {
        file.Bytes = EncodeAnimatedPng(order, key, 1, options.Fps, loop);
        return file;
    }
    const int delay = std::max(2, (100 + options.Fps / 2) / options.Fps);
    GifAnimation gif = EncodeGif(order, key, delay, loop);
    file.Bytes = std::move(gif.Bytes);
    file.ReducedFrames = gif.ReducedFrames;
    file.ChangedPixels = gif.ChangedPixels;
    return file;
}

std::optional<AnimationFormat> AnimationFormatOf(const std::string& path) {
    if (IsPngPath(path))
        return AnimationFormat::Png;
    if (path.size() >= 4) {
        std::string end = path.substr(path.size() - 4);
        for (char& c : end)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (end == ".gif")
            return AnimationFormat::Gif;
    }
    return std::nullopt;
}

} // namespace kiv
