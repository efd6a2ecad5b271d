#include "base/Checksum.h"

#include "base/FileStream.h"

#include <algorithm>
#include <vector>

#include <zlib.h>

namespace kiv {

namespace {

// zlib takes at most 4 GiB per call.
constexpr std::size_t kStep = std::size_t{1} << 30;
constexpr std::int64_t kFileBlock = 256 << 10;

// zlib's checksum `sum` carried over any number of bytes, in pieces its counts can hold.
template <typename Sum>
std::uint32_t Carried(Sum sum, const void* data, std::size_t count, std::uint32_t seed) {
    const auto* bytes = static_cast<const Bytef*>(data);
    uLong value = seed;
    while (count > 0) {
        const std::size_t n = std::min(count, kStep);
        value = sum(value, bytes, static_cast<uInt>(n));
        bytes += n;
        count -= n;
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

std::uint32_t Crc32(const void* data, std::size_t count, std::uint32_t seed) {
    return Carried(crc32, data, count, seed);
}

std::uint32_t Adler32(const void* data, std::size_t count, std::uint32_t seed) {
    return Carried(adler32, data, count, seed);
}

bool Crc32Of(const InFile& file, std::int64_t offset, std::int64_t count, std::uint32_t& crc) {
    std::vector<unsigned char> block(
        static_cast<std::size_t>(std::clamp<std::int64_t>(count, 1, kFileBlock)));
    std::uint32_t value = crc;
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, std::ssize(block)));
        if (!file.ReadExactlyAt(offset, block.data(), n))
            return false;
        value = Crc32(block.data(), n, value);
        offset += static_cast<std::int64_t>(n);
        count -= static_cast<std::int64_t>(n);
    }
    crc = value;
    return true;
}

} // namespace kiv
