#include "sprite/IconDecoder.h"

#include "base/Errors.h"
#include "base/FileStream.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace kiv {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// Raw rows are read up to this many bytes at a time, straight into the decoder's buffer.
constexpr std::int64_t kSpan = 256 * 1024;

// The icon's box as the decoder walks it. Pixel k lies at (StartX + k mod Width, StartY +
// k div Width) with division and remainder that truncate; when both sides are negative the
// remainder stays non-negative and the quotient is negated, so columns still run rightwards
// from StartX while rows run upwards from StartY.
struct Box {
    std::int64_t Width = 0;  // |Width|
    std::int64_t Height = 0; // |Height|
    std::int64_t StartX = 0;
    std::int64_t StartY = 0;
    std::int64_t Step = 1; // +1: rows run down; -1: rows run up

    explicit Box(const TIconHeader& h)
        : Width(std::abs(static_cast<std::int64_t>(h.Width))),
          Height(std::abs(static_cast<std::int64_t>(h.Height))), StartX(h.StartX), StartY(h.StartY),
          Step(h.Width < 0 && h.Height < 0 ? -1 : 1) {}
    // The frame row of box row r.
    std::int64_t FrameRow(std::int64_t r) const { return StartY + Step * r; }
};

// Where the icon's pixels can land inside the frame, in box coordinates: columns
// [Left, Right) and rows [Top, Bottom). Rows are not limited to the box's height, because
// the last run of a run-length icon may paint rows beyond the box.
struct Window {
    std::int64_t Left = 0;
    std::int64_t Right = 0;
    std::int64_t Top = 0;
    std::int64_t Bottom = 0;
    bool Empty() const { return Left >= Right || Top >= Bottom; }
};

Window VisibleWindow(const Box& b, const Image& frame) {
    Window w;
    const std::int64_t fh = frame.Height();
    w.Left = std::max<std::int64_t>(0, -b.StartX);
    w.Right = std::min<std::int64_t>(b.Width, static_cast<std::int64_t>(frame.Width()) - b.StartX);
    if (b.Step > 0) {
        w.Top = std::max<std::int64_t>(0, -b.StartY);
        w.Bottom = fh - b.StartY;
    } else {
        w.Top = std::max<std::int64_t>(0, b.StartY - fh + 1);
        w.Bottom = b.StartY + 1;
    }
    return w;
}

// Pixel k = Width * row + col of the box lies at (StartX + col, FrameRow(row)). Only the
// pixels inside the frame are touched, so a run costs at most one step per visible row.
class Painter {
public:
    Painter(Image& frame, const Box& box)
        : frame_(frame), box_(box), window_(VisibleWindow(box, frame)) {}

    // Paints `count` pixels from box position (row, col) on, running on across row ends.
    void Run(std::int64_t row, std::int64_t col, std::int64_t count, TColor color) {
        const std::int64_t width = box_.Width;
        if (col + count <= width) {
            // Most runs stay on their row.
            if (row < window_.Top || row >= window_.Bottom)
                return;
            Segment(row, col, col + count, color);
            return;
        }
        if (window_.Empty())
            return;
        const std::int64_t lastRow = row + (col + count - 1) / width;
        const std::int64_t from = std::max(row, window_.Top);
        const std::int64_t to = std::min(lastRow, window_.Bottom - 1);
        for (std::int64_t r = from; r <= to; ++r)
            Segment(r, r == row ? col : 0,
                    r == lastRow ? col + count - (lastRow - row) * width : width, color);
    }

private:
    void Segment(std::int64_t row, std::int64_t left, std::int64_t right, TColor color) {
        left = std::max(left, window_.Left);
        right = std::min(right, window_.Right);
        if (left >= right)
            return;
        // Frame columns: the box's own origin may lie far outside the frame.
        TColor* line = frame_.Row(static_cast<int>(box_.FrameRow(row)));
        std::fill(line + (box_.StartX + left), line + (box_.StartX + right), color);
    }

    Image& frame_;
    Box box_;
    Window window_;
};

// A pixel's low byte holds blue and the low green bits, its high byte red and the high green
// bits, so unpacking is one OR of two lookups in tables small enough to stay in cache.
struct UnpackTables {
    TColor Low[256];
    TColor High[256];
    UnpackTables() {
        for (unsigned b = 0; b < 256; ++b) {
            Low[b] = UnpackPixel(static_cast<std::uint8_t>(b), 0);
            High[b] = UnpackPixel(0, static_cast<std::uint8_t>(b));
        }
    }
};

void UnpackRow(TColor* out, const unsigned char* in, std::size_t count) {
    static const UnpackTables tables;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = tables.Low[in[2 * i]] | tables.High[in[2 * i + 1]];
}

// Raw data: two bytes a pixel, so the bytes of every visible row segment can be found
// arithmetically and everything else is skipped without reading. The frame is filled with
// BackColor only where no pixel is painted.
void DecodeRaw(InFile& source, std::int64_t offset, const Box& box, std::int64_t pixels,
               Image& frame, DecodeStats& stats) {
    // Two bytes a pixel, compared without forming 2 x pixels: two negative sides of 2^31 make
    // 2^62 pixels.
    const std::int64_t available = std::max<std::int64_t>(0, source.Length() - offset);
    std::int64_t consumed = pixels <= available / 2 ? 2 * pixels : available;

    Window w = VisibleWindow(box, frame);
    w.Bottom = std::min<std::int64_t>(w.Bottom, box.Height);
    if (w.Empty()) {
        frame.Fill(BackColor);
    } else {
        // The window's frame rectangle, [x0, x1) x [y0, y1).
        const int x0 = static_cast<int>(box.StartX + w.Left);
        const int x1 = static_cast<int>(box.StartX + w.Right);
        const int y0 = static_cast<int>(std::min(box.FrameRow(w.Top), box.FrameRow(w.Bottom - 1)));
        const int y1 =
            static_cast<int>(std::max(box.FrameRow(w.Top), box.FrameRow(w.Bottom - 1))) + 1;
        frame.FillRect(0, 0, frame.Width(), y0, BackColor);
        frame.FillRect(0, y1, frame.Width(), frame.Height(), BackColor);
        frame.FillRect(0, y0, x0, y1, BackColor);
        frame.FillRect(x1, y0, frame.Width(), y1, BackColor);

        // Whole box rows lie back to back in the file and are read many at a time.
        const std::int64_t rowPixels = w.Right - w.Left;
        const std::int64_t rowsPerRead =
            rowPixels == box.Width ? std::max<std::int64_t>(1, kSpan / (2 * rowPixels)) : 1;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(2 * rowPixels * rowsPerRead));
        std::int64_t unpainted = w.Top; // first box row of the window not painted yet
        for (std::int64_t r = w.Top; r < w.Bottom;) {
            const std::int64_t rows = std::min(rowsPerRead, w.Bottom - r);
            // Relative to the data first: the box may be far larger than any file, and a row
            // far beyond the data is not even located.
            if (r > consumed / (2 * box.Width))
                break;
            const std::int64_t skip = 2 * (r * box.Width + w.Left);
            if (skip >= consumed)
                break;
            const std::int64_t at = offset + skip;
            const auto want = static_cast<std::size_t>(2 * rowPixels * rows);
            source.Seek(at);
            const std::size_t got = source.Read(bytes.data(), want);
            const auto whole = static_cast<std::int64_t>(got / 2);
            for (std::int64_t j = 0; j < rows && j * rowPixels < whole; ++j) {
                TColor* line = frame.Row(static_cast<int>(box.FrameRow(unpainted))) + x0;
                const std::int64_t n = std::min(rowPixels, whole - j * rowPixels);
                UnpackRow(line, bytes.data() + 2 * j * rowPixels, static_cast<std::size_t>(n));
                std::fill(line + n, line + rowPixels, BackColor);
                ++unpainted;
            }
            if (got < want) {
                // The file is shorter than measured at open: it changed under us.
                consumed = std::min(consumed, skip + static_cast<std::int64_t>(got));
                break;
            }
            r += rows;
        }
        // Box rows unpainted .. w.Bottom - 1 had no data.
        if (unpainted < w.Bottom) {
            const std::int64_t a = box.FrameRow(unpainted);
            const std::int64_t b = box.FrameRow(w.Bottom - 1);
            frame.FillRect(x0, static_cast<int>(std::min(a, b)), x1,
                           static_cast<int>(std::max(a, b)) + 1, BackColor);
        }
    }
    stats.EndedEarly = consumed / 2 < pixels;
    stats.BytesRead = consumed;
    source.Seek(offset + consumed);
}

// Run-length data: three bytes a run, read in blocks; the position (row, col) in the box
// is carried along so no pixel is visited one by one.
void DecodeRuns(InFile& source, std::int64_t offset, const Box& box, std::int64_t pixels,
                Painter& painter, DecodeStats& stats) {
    source.Seek(offset);
    std::vector<unsigned char> block(kChunk);
    std::size_t have = 0; // valid bytes in block
    std::size_t at = 0;   // next unread byte in block
    std::int64_t consumed = 0;
    std::int64_t k = 0;
    std::int64_t row = 0;
    std::int64_t col = 0;
    const std::int64_t width = box.Width;

    while (k < pixels) {
        if (have - at < 3) {
            const std::size_t left = have - at;
            std::copy(block.begin() + at, block.begin() + have, block.begin());
            const std::size_t got = source.Read(block.data() + left, block.size() - left);
            have = left + got;
            at = 0;
            if (got == 0) {
                // A run cut short: its bytes were read, but it paints nothing.
                consumed += static_cast<std::int64_t>(left);
                stats.EndedEarly = true;
                break;
            }
            continue;
        }
        const unsigned count = block[at];
        const TColor color = UnpackPixel(block[at + 1], block[at + 2]);
        at += 3;
        consumed += 3;
        if (count == 0)
            continue;
        painter.Run(row, col, count, color);
        k += count;
        col += count;
        if (col >= width) {
            row += col / width;
            col %= width;
        }
    }
    stats.BytesRead = consumed;
    source.Seek(offset + consumed);
}

} // namespace

Image DecodeIcon(InFile& source, std::int64_t offset, const TIconHeader& header,
                 DecodeStats* stats) {
    if (header.FWidth > MaxFrameSide || header.FHeight > MaxFrameSide)
        throw EFrameTooLarge(header.FWidth, header.FHeight);

    DecodeStats local;
    Image frame;
    if (header.FWidth >= 0 && header.FHeight >= 0)
        frame.SetSize(header.FWidth, header.FHeight);

    const std::int64_t pixels = IconPixelCount(header);
    const Box box(header);
    if (pixels > 0 && offset >= 0 && header.Compress != 1) {
        DecodeRaw(source, offset, box, pixels, frame, local);
    } else if (pixels > 0 && offset >= 0) {
        frame.Fill(BackColor);
        Painter painter(frame, box);
        DecodeRuns(source, offset, box, pixels, painter, local);
    } else {
        frame.Fill(BackColor);
        // Data said to lie before the start of the file does not exist.
        local.EndedEarly = pixels > 0;
        if (offset >= 0)
            source.Seek(offset);
    }

    if (stats)
        *stats = local;
    return frame;
}

std::string EndedEarlyWarning(std::int64_t icon) {
    return "Warning: the data of icon " + std::to_string(icon) +
           " ends early; the rest of its frame is background.";
}

} // namespace kiv
