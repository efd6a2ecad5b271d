// Bitmap loading: any bytes either decode to a picture or raise one of core's errors, the
// same from memory as from a file (the editor's path, which reads rows in blocks). A
// picture that decodes also survives the tool's own writer: written and read back it gives
// the same pixels.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "image/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Pictures above this size take the same paths as smaller ones, only slower (a 2048 x 2048
// picture costs a second under the sanitizers): inputs that declare more pixels, but no more
// than the loader accepts, are skipped so the fuzzer keeps its pace. Larger declarations
// still run: the loader must refuse them before allocating anything. (Decoding big pictures
// is covered by the bitmap tests.)
constexpr std::int64_t kMaxPixels = 1 << 18;
constexpr std::int64_t kLoaderMaxSide = 32767;
constexpr std::int64_t kLoaderMaxPixels = std::int64_t{1} << 28;

std::uint32_t Get(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | p[k];
    return v;
}

// Whether the headers declare a picture above kMaxPixels that the loader would accept.
bool SlowToDecode(const std::uint8_t* data, std::size_t size) {
    if (size < 26)
        return false;
    std::int64_t width, height;
    if (Get(data + 14, 4) == 12) {
        width = Get(data + 18, 2);
        height = Get(data + 20, 2);
    } else {
        width = std::llabs(std::int64_t{static_cast<std::int32_t>(Get(data + 18, 4))});
        height = std::llabs(std::int64_t{static_cast<std::int32_t>(Get(data + 22, 4))});
    }
    return width * height > kMaxPixels && width <= kLoaderMaxSide && height <= kLoaderMaxSide &&
           width * height <= kLoaderMaxPixels;
}

void CheckPicture(const kiv::Image& image) {
    for (int y = 0; y < image.Height(); ++y) {
        const kiv::TColor* row = image.Row(y);
        for (int x = 0; x < image.Width(); ++x)
            if (row[x] > 0x00FFFFFF)
                kivfuzz::Fail("a decoded pixel has its top byte set");
    }
    const std::vector<std::uint8_t> bytes = kiv::EncodeBitmap(image);
    const kiv::Image again = kiv::DecodeBitmap(bytes.data(), bytes.size());
    if (!(again == image) && !(again.Empty() && image.Empty()))
        kivfuzz::Fail("a decoded picture does not survive writing and reading back");
}

// What loading the file gives: the picture, or nothing when it raised one of core's errors.
std::optional<kiv::Image> LoadFile(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    const std::string path = kivfuzz::ScratchFile("picture.bmp");
    kivfuzz::WriteBytes(path, data, size);
    try {
        return kiv::LoadBitmapFile(path);
    } catch (const kiv::Exception&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (SlowToDecode(data, size))
        return 0;
    const std::optional<kiv::Image> fromFile = LoadFile(data, size);
    kiv::Image image;
    try {
        image = kiv::DecodeBitmap(data, size);
    } catch (const kiv::Exception&) {
        if (fromFile)
            kivfuzz::Fail("the file loads but the same bytes in memory are refused");
        return 0;
    }
    if (!fromFile)
        kivfuzz::Fail("the bytes decode in memory but the file is refused");
    if (!(*fromFile == image))
        kivfuzz::Fail("the file loads to another picture than the same bytes in memory");
    CheckPicture(image);
    return 0;
}
