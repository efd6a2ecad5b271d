#pragma once
// PNG bytes for tests and fuzz inputs that bend a field on purpose: the same bytes with
// every whole chunk's checksum made right, so the reader gets past its checks to the field.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivtest {

inline std::vector<std::uint8_t> WithPngChecksums(std::vector<std::uint8_t> png) {
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            (std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        if (length > png.size() - at - 12)
            break;
        const uLong crc = crc32(0, png.data() + at + 4, static_cast<uInt>(length + 4));
        for (int k = 0; k < 4; ++k)
            png[at + 8 + length + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
        at += length + 12;
    }
    return png;
}

} // namespace kivtest
