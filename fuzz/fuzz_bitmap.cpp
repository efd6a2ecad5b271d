// Bitmap loading: any bytes either decode to a picture or raise one of core's errors.
// A picture that decodes also survives the tool's own writer: written and read back it
// gives the same pixels.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "image/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Pictures above this size take the same paths as smaller ones, only slower: inputs that
// declare more pixels are skipped so the fuzzer keeps its pace. (Their refusal or decoding
// is covered by the bitmap tests.)
constexpr std::int64_t kMaxPixels = 1 << 22;

std::uint32_t Get(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | p[k];
    return v;
}

// The pixel count the headers declare, or 0 when they are too short to say.
std::int64_t DeclaredPixels(const std::uint8_t* data, std::size_t size) {
    if (size < 26)
        return 0;
    if (Get(data + 14, 4) == 12)
        return std::int64_t{Get(data + 18, 2)} * Get(data + 20, 2);
    const auto width = static_cast<std::int32_t>(Get(data + 18, 4));
    const auto height = static_cast<std::int32_t>(Get(data + 22, 4));
    return std::llabs(std::int64_t{width}) * std::llabs(std::int64_t{height});
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (DeclaredPixels(data, size) > kMaxPixels)
        return 0;
    kiv::Image image;
    try {
        image = kiv::DecodeBitmap(data, size);
    } catch (const kiv::Exception&) {
        return 0;
    }
    CheckPicture(image);
    return 0;
}
