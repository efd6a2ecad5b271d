// Bitmap loading: any bytes either decode to a picture or raise one of core's errors.
// A picture that decodes also survives the tool's own writer: written and read back it
// gives the same pixels.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "image/Bitmap.h"

#include <cstddef>
#include <cstdint>

namespace {

// Round trips above this size cost more time than they find.
constexpr std::int64_t kRoundTripPixels = 1 << 22;

void CheckPicture(const kiv::Image& image) {
    for (int y = 0; y < image.Height(); ++y) {
        const kiv::TColor* row = image.Row(y);
        for (int x = 0; x < image.Width(); ++x)
            if (row[x] > 0x00FFFFFF)
                kivfuzz::Fail("a decoded pixel has its top byte set");
    }
    if (static_cast<std::int64_t>(image.Width()) * image.Height() > kRoundTripPixels)
        return;
    const std::vector<std::uint8_t> bytes = kiv::EncodeBitmap(image);
    const kiv::Image again = kiv::DecodeBitmap(bytes.data(), bytes.size());
    if (!(again == image) && !(again.Empty() && image.Empty()))
        kivfuzz::Fail("a decoded picture does not survive writing and reading back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::Image image;
    try {
        image = kiv::DecodeBitmap(data, size);
    } catch (const kiv::Exception&) {
        return 0;
    }
    CheckPicture(image);
    return 0;
}
