// A stranger's sprite file as the editor opens it: the icon table, then every icon
// decoded from the place its header gives.

#include "FuzzSupport.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Each frame is allocated whole; past this many frame pixels per input the remaining icons
// are only checked for a clear refusal, so one input cannot take seconds.
constexpr std::int64_t kFramePixelBudget = std::int64_t{1} << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    const std::string path = kivfuzz::ScratchFile("sprite.s16");
    kivfuzz::WriteBytes(path, data, size);

    kiv::TIconTable table;
    if (kiv::ReadIconTable(path, table) == kiv::ReadTableResult::CannotOpen)
        kivfuzz::Fail("the sprite file did not open");
    if (table.Count > kiv::MaxIcons || table.FileLength != static_cast<std::int64_t>(size))
        kivfuzz::Fail("the icon table does not describe the file");

    auto in = kiv::InFile::Open(path);
    if (!in)
        kivfuzz::Fail("the sprite file did not open again");
    std::int64_t budget = kFramePixelBudget;
    for (int i = 0; i < table.Count; ++i) {
        const kiv::TIconHeader& header = table.Headers[i];
        const std::int64_t area = std::int64_t{header.FWidth > 0 ? header.FWidth : 0} *
                                  std::int64_t{header.FHeight > 0 ? header.FHeight : 0};
        const bool tooLarge =
            header.FWidth > kiv::MaxFrameSide || header.FHeight > kiv::MaxFrameSide;
        if (!tooLarge && area > budget)
            continue;
        if (!tooLarge)
            budget -= area;
        const std::int64_t offset = kiv::IconDataOffset(table.StoredCount, header);
        kiv::DecodeStats stats;
        try {
            const kiv::Image frame = kiv::DecodeIcon(*in, offset, header, &stats);
            if (tooLarge)
                kivfuzz::Fail("an oversized frame was decoded");
            if (frame.Width() != (header.FWidth > 0 ? header.FWidth : 0) ||
                frame.Height() != (header.FHeight > 0 ? header.FHeight : 0))
                if (!frame.Empty() || area != 0)
                    kivfuzz::Fail("the frame does not have the header's size");
        } catch (const kiv::EFrameTooLarge&) {
            if (!tooLarge)
                kivfuzz::Fail("a frame within the limit was refused");
        }
        if (stats.BytesRead < 0 || stats.BytesRead > static_cast<std::int64_t>(size))
            kivfuzz::Fail("more bytes were read than the file holds");
    }
    return 0;
}
