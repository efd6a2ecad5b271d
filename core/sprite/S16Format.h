#pragma once
// The S16 sprite file: a count, one ten-word header per icon, then the pixel data area.
// S17 files have the same layout.

#include "image/Image.h"

#include <array>
#include <cstdint>
#include <string>

namespace kiv {

// Fills every icon frame before decoding; the re-encoder treats exactly this colour as
// background.
constexpr TColor BackColor = 0x00DCDCF8;

constexpr int MaxIcons = 1000;
constexpr int IconHeaderSize = 40;
// The most data one icon may have: 640 x 480 pixels of 2 bytes. The browser shows a larger
// Bytes word as "Error".
constexpr std::int32_t MaxIconBytes = 614400;

struct TIconHeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t StartX = 0;
    std::int32_t StartY = 0;
    std::int32_t FWidth = 0;
    std::int32_t FHeight = 0;
    std::int32_t Starts = 0;
    std::int32_t Bytes = 0;
    std::int32_t Compress = 0; // 1: run-length; anything else: raw
    std::int32_t Aux = 0;

    // Word j (1..10) in file order.
    std::int32_t Word(int j) const;
    void SetWord(int j, std::int32_t value);
    static TIconHeader FromBytes(const unsigned char* bytes); // 40 bytes, little-endian
    void ToBytes(unsigned char* bytes) const;
    bool operator==(const TIconHeader&) const = default;
};

// The editor's copy of a loaded sprite file's icon table.
struct TIconTable {
    std::int32_t Count = 0; // icons in use: the stored count, at most MaxIcons
    std::array<TIconHeader, MaxIcons> Headers{};
    std::string Path;
    std::int64_t FileLength = 0; // measured when the file was loaded
    // The count word as stored. The pixel data area starts after this many headers, so the
    // first 1000 icons of a file with more still decode from the right place.
    std::int32_t StoredCount = 0;
    // Where the sprite's first byte lies in the file at Path: 0 for a sprite file, the
    // member's start for a member read inside its archive.
    std::int64_t Start = 0;

    bool CountClamped() const { return StoredCount > MaxIcons; }
};

// Texts the editor and kivtool both show.
inline constexpr const char* SpriteFileNotFound = "S16 file not found.";
inline constexpr const char* CannotOpenSpriteFile = "Couldn't open S16 file.";
inline constexpr const char* MaxIconsExceeded = "Maximum icons exceeded! Do NOT edit";

enum class ReadTableResult {
    Loaded,        // the table now describes the file
    CountExceeded, // loaded, but the count was above 1000 and 1000 headers were kept:
                   // the window warns MaxIconsExceeded
    CannotOpen,    // the file did not open; the table is unchanged
};

// Fills `table` from the file at `path`. Header words beyond the end of a short file
// read as 0.
ReadTableResult ReadIconTable(const std::string& path, TIconTable& table);

// Offset of an icon's pixel data from the start of the sprite file: 4 + 40 * count + Starts.
inline std::int64_t IconDataOffset(std::int32_t count, const TIconHeader& header) {
    const std::int64_t headers = count > 0 ? static_cast<std::int64_t>(count) : 0;
    return 4 + IconHeaderSize * headers + header.Starts;
}

// The pixels an icon's data hold, as the decoder reads them: Width x Height, in 64 bits (both
// may be near the 32-bit limit). Two negative sides make |Width| x |Height|; a zero side or
// one negative side makes none.
inline std::int64_t IconPixelCount(const TIconHeader& header) {
    const std::int64_t pixels = static_cast<std::int64_t>(header.Width) * header.Height;
    return pixels > 0 ? pixels : 0;
}

// RGB565 pixel, stored low byte first. Unpacking leaves the low bits of each byte zero.
inline TColor UnpackPixel(std::uint8_t low, std::uint8_t high) {
    const unsigned p = low | (static_cast<unsigned>(high) << 8);
    return RGB(((p >> 11) & 0x1F) * 8, ((p >> 5) & 0x3F) * 4, (p & 0x1F) * 8);
}
constexpr std::uint16_t PackPixel(TColor color) {
    return static_cast<std::uint16_t>(((RedOf(color) >> 3) << 11) | ((GreenOf(color) >> 2) << 5) |
                                      (BlueOf(color) >> 3));
}

// A colour as the editor's picture names its paint colour: what a pixel of it reads as once
// stored, and the 16-bit value ("R 248 G 0 B 0, 5-6-5 F800"). BackColor is named as the
// background it marks, with the value it takes inside an icon's box.
std::string PixelColorText(TColor color);

// The rows of the browser's header grid: the header words in file order (the numbers
// TIconHeader::Word takes), then the pixel count.
namespace HeaderRow {
constexpr int Width = 1;
constexpr int Height = 2;
constexpr int StartX = 3;
constexpr int StartY = 4;
constexpr int FWidth = 5;
constexpr int FHeight = 6;
constexpr int Starts = 7;
constexpr int Bytes = 8;
constexpr int Compress = 9;
constexpr int Aux = 10;
constexpr int PixCount = 11;
} // namespace HeaderRow

// The modified twin's name: `path` (a sprite file's path, or a member's name) with its last
// character replaced by '7', so "x.s16" gives "x.s17" (empty stays empty).
std::string TwinName(const std::string& path);

// The label under which each header word is shown (words 1..10), and "Pix Count" as 11.
const char* HeaderRowLabel(int row);

} // namespace kiv
