#pragma once
// Checksums of byte ranges: CRC-32 (as zip and PNG use it) and Adler-32 (as zlib streams end
// with it), each carried on from a running value.

#include <cstddef>
#include <cstdint>

namespace kiv {

class InFile;

// `seed` is the value over the bytes before these: 0 (CRC-32) or 1 (Adler-32) to start.
std::uint32_t Crc32(const void* data, std::size_t count, std::uint32_t seed = 0);
std::uint32_t Adler32(const void* data, std::size_t count, std::uint32_t seed = 1);

// Carries the CRC-32 `crc` over `count` bytes of `file` from `offset`, read in blocks; false,
// with `crc` untouched, when the file does not hold them all.
bool Crc32Of(const InFile& file, std::int64_t offset, std::int64_t count, std::uint32_t& crc);

} // namespace kiv
