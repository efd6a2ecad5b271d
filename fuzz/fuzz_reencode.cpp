// Re-encoding a fuzzed picture into a fuzzed sprite file. The input is split in three:
//   byte 0, 1   picture width and height, 1..64 each
//   byte 2      the icon slot (taken modulo the icon count)
//   next W*H    one byte a pixel, picked from a small palette that holds the background
//               colour and colours that differ from it only in bits packing drops
//   the rest    the sprite file
// A rewrite that succeeds must decode back to the picture; one that fails must write
// nothing. The loaded file is never changed and no temporary file stays behind.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "image/Image.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kMaxSide = 64;

kiv::TColor PaletteColor(std::uint8_t p) {
    if (p < 96)
        return kiv::BackColor;
    if (p < 128) // the background with its low bits changed: still an icon pixel
        return kiv::BackColor ^ (p & 0x07) ^ ((p & 0x18) << 5);
    return kiv::RGB(p * 37u, p * 91u, p * 53u);
}

kiv::Image MakePicture(const std::uint8_t*& data, std::size_t& size, int& slot) {
    const int width = 1 + (size > 0 ? data[0] : 0) % kMaxSide;
    const int height = 1 + (size > 1 ? data[1] : 0) % kMaxSide;
    slot = size > 2 ? data[2] : 0;
    const std::size_t header = std::min<std::size_t>(size, 3);
    data += header;
    size -= header;

    kiv::Image picture(width, height);
    picture.Fill(kiv::BackColor);
    std::size_t k = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width && k < size; ++x, ++k)
            picture.SetPixel(x, y, PaletteColor(data[k]));
    data += k;
    size -= k;
    return picture;
}

struct Box {
    int MinX = kMaxSide, MinY = kMaxSide, MaxX = -1, MaxY = -1;
    bool Holds(int x, int y) const { return x >= MinX && x <= MaxX && y >= MinY && y <= MaxY; }
};

Box IconBox(const kiv::Image& picture) {
    Box box;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            if (picture.Pixel(x, y) != kiv::BackColor) {
                box.MinX = std::min(box.MinX, x);
                box.MaxX = std::max(box.MaxX, x);
                box.MinY = std::min(box.MinY, y);
                box.MaxY = std::max(box.MaxY, y);
            }
    return box;
}

// The twin's icon `slot` shows the picture: inside the box every colour as packing keeps
// it, outside it the background.
void CheckTwin(const std::string& twinPath, int slot, const kiv::Image& picture,
               const kiv::TIconTable& loaded) {
    kiv::TIconTable twin;
    if (kiv::ReadIconTable(twinPath, twin) != kiv::ReadTableResult::Loaded)
        kivfuzz::Fail("the twin's icon table does not load");
    if (twin.Count != loaded.Count)
        kivfuzz::Fail("the twin has another icon count");
    const kiv::TIconHeader& header = twin.Headers[slot];
    if (header.Compress != 1 || header.FWidth != picture.Width() ||
        header.FHeight != picture.Height() || header.Aux != loaded.Headers[slot].Aux ||
        header.Starts != loaded.Headers[slot].Starts)
        kivfuzz::Fail("the new header is wrong");
    for (int j = 0; j < twin.Count; ++j)
        if (j != slot && twin.Headers[j].Aux != loaded.Headers[j].Aux)
            kivfuzz::Fail("another icon's header changed");

    auto in = kiv::InFile::Open(twinPath);
    kiv::DecodeStats stats;
    const kiv::Image frame =
        kiv::DecodeIcon(*in, kiv::IconDataOffset(twin.StoredCount, header), header, &stats);
    if (stats.EndedEarly || stats.BytesRead != header.Bytes)
        kivfuzz::Fail("the new icon's data is not exactly Bytes long");
    const Box box = IconBox(picture);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const kiv::TColor c = picture.Pixel(x, y);
            const kiv::TColor want =
                box.Holds(x, y) ? kiv::UnpackPixel(kiv::PackPixel(c) & 0xFF, kiv::PackPixel(c) >> 8)
                                : kiv::BackColor;
            if (frame.Pixel(x, y) != want)
                kivfuzz::Fail("the re-encoded icon does not decode to the picture");
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    int slot = 0;
    const kiv::Image picture = MakePicture(data, size, slot);
    const std::string source = kivfuzz::ScratchFile("sprite.s16");
    kivfuzz::WriteBytes(source, data, size);

    kiv::TIconTable table;
    if (kiv::ReadIconTable(source, table) == kiv::ReadTableResult::CannotOpen)
        kivfuzz::Fail("the sprite file did not open");
    if (table.Count <= 0)
        return 0; // the editor has no icon slot to offer
    slot %= table.Count;

    const kiv::ReencodeResult result = kiv::ReencodeIcon(picture, slot, table);
    static const bool verbose = std::getenv("KIVFUZZ_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "icon %d of %d: %s\n", slot + 1, table.Count,
                     result.Ok ? "rewritten" : result.Message.c_str());
    const std::string twin = kivfuzz::ScratchFile("sprite.s17");
    if (result.OutputPath != twin)
        kivfuzz::Fail("the output is not the twin: " + result.OutputPath);

    if (kivfuzz::ReadBytes(source) != std::vector<std::uint8_t>(data, data + size))
        kivfuzz::Fail("the loaded sprite file was changed");
    const std::vector<std::string> entries = kivfuzz::ScratchEntries();
    const std::vector<std::string> expected =
        result.Ok ? std::vector<std::string>{"sprite.s16", "sprite.s17"}
                  : std::vector<std::string>{"sprite.s16"};
    if (entries != expected)
        kivfuzz::Fail(result.Ok ? "a temporary file was left behind"
                                : "a refused rewrite left a file: " + result.Message);
    if (result.Ok)
        CheckTwin(twin, slot, picture, table);
    else if (result.Message.empty())
        kivfuzz::Fail("a refusal without a message");
    return 0;
}
