#pragma once
// How a mod stores an icon's new bytes: compressed against the base icon's bytes, in one of
// a few codings, each named in the manifest.

#include "mod/ModChange.h"
#include "mod/ZipFile.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

class InFile;

// An icon's new bytes are compressed in pieces of this size, each against the base bytes
// around the same place.
inline constexpr std::int64_t ModIconPiece = 16 << 10;

// The bytes of an icon as a mod compares and stores them: its 40-byte header with the data
// offset (Starts) set to 0, then its data. `read(from, count, into)` gives those bytes; the
// functions below take the base icon that way.
using IconBytes = std::function<void(std::int64_t from, std::size_t count, unsigned char* into)>;

// Icon `icon` (1-based) of the sprite file at `start` of `file`: its header as stored.
// Throws EReadError when the file does not hold it.
TIconHeader StoredHeader(const InFile& file, std::int64_t start, std::int32_t icon);
// The bytes of that icon as mods compare and store them, the sprite file holding `count`
// icons; and their size and CRC-32.
IconBytes IconOf(const InFile& file, std::int64_t start, std::int32_t count,
                 const TIconHeader& stored);
ByteSum IconSum(const InFile& file, std::int64_t start, std::int32_t count,
                const TIconHeader& stored);

// Compresses an icon's new bytes (`result`, `resultSize` of them) against its base bytes in
// whichever coding comes out smaller. Pieces: piece k (ModIconPiece bytes of the result)
// becomes one zlib stream whose preset dictionary is the base bytes [k - 1, k + 1) pieces,
// clipped to the base. Xor: see IconCoding. Either way a few changed pixels cost a few bytes.
// Hands the compressed bytes to `write` and returns their length and coding.
struct CompressedIcon {
    std::int64_t Length = 0;
    IconCoding Coding = IconCoding::Pieces;
};
CompressedIcon CompressIcon(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                            std::int64_t resultSize,
                            const std::function<void(const unsigned char*, std::size_t)>& write);

// The coding's name in the manifest ("xor"), or nullptr for the default, which goes unnamed;
// and back: false for a name that is no coding's (the default's included).
const char* IconCodingName(IconCoding coding);
bool IconCodingNamed(const std::string& name, IconCoding& coding);

// The reverse: reads exactly `length` bytes of the coding's streams from `stream` and hands
// the icon's `resultSize` bytes to `emit`, a piece at a time. Throws EBadMod on damaged data,
// and EBadZip when the entry itself is.
void ExpandIcon(const IconBytes& base, std::int64_t baseSize, ZipEntryReader& stream,
                std::int64_t length, std::int64_t resultSize, IconCoding coding,
                const std::function<void(const unsigned char*, std::size_t)>& emit);

} // namespace kiv
