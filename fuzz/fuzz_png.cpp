// PNG loading: any bytes either decode to a picture or raise one of core's errors, the same
// from memory as from a file, and a picture that decodes survives the tool's own writer:
// written and read back it gives the same pixels.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "image/Png.h"
#include "support/PngChunks.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// The key colour of the sprite files (any colour serves the properties checked here).
constexpr kiv::TColor kKey = 0x00DCDCF8;

// As for bitmaps: pictures above this size take the same paths, only slower; inputs that
// declare more pixels, but no more than the loader accepts, are skipped. Larger
// declarations still run: they must be refused before anything is allocated.
constexpr std::int64_t kMaxPixels = 1 << 18;
constexpr std::int64_t kLoaderMaxSide = 32767;
constexpr std::int64_t kLoaderMaxPixels = std::int64_t{1} << 28;

bool SlowToDecode(const std::uint8_t* data, std::size_t size) {
    if (size < 24)
        return false;
    auto get = [&](std::size_t at) {
        return (std::int64_t{data[at]} << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) |
               data[at + 3];
    };
    const std::int64_t width = get(16);
    const std::int64_t height = get(20);
    return width <= kLoaderMaxSide && height <= kLoaderMaxSide && width * height > kMaxPixels &&
           width * height <= kLoaderMaxPixels;
}

std::optional<kiv::Image> LoadFile(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    const std::string path = kivfuzz::ScratchFile("picture.png");
    kivfuzz::WriteBytes(path, data, size);
    try {
        return kiv::LoadPictureFile(path, kKey);
    } catch (const kiv::Exception&) {
        return std::nullopt;
    }
}

// One input: decoded from memory and from a file, alike, and through the writer and back.
void Check(const std::uint8_t* data, std::size_t size) {
    const std::optional<kiv::Image> fromFile = LoadFile(data, size);
    kiv::Image image;
    try {
        image = kiv::DecodePng(data, size, kKey);
    } catch (const kiv::Exception&) {
        if (fromFile)
            kivfuzz::Fail("the file loads but the same bytes in memory are refused");
        return;
    }
    if (!fromFile || !(*fromFile == image))
        kivfuzz::Fail("the file loads otherwise than the same bytes in memory");
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            if (image.Pixel(x, y) > 0x00FFFFFF)
                kivfuzz::Fail("a decoded pixel has its top byte set");
    const std::vector<std::uint8_t> bytes = kiv::EncodePng(image, kKey);
    if (!(kiv::DecodePng(bytes.data(), bytes.size(), kKey) == image))
        kivfuzz::Fail("a decoded picture does not survive writing and reading back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!kiv::IsPngData(data, size) || SlowToDecode(data, size))
        return 0;
    Check(data, size);
    // A mutation seldom keeps a chunk's checksum: the same bytes with every checksum made
    // right reach the decoding behind the checks.
    const std::vector<std::uint8_t> fixed =
        kivtest::WithPngChecksums(std::vector<std::uint8_t>(data, data + size));
    Check(fixed.data(), fixed.size());
    return 0;
}
