#pragma once
// Checks of a sprite file's structure, alone or as a member of an archive: the quick check
// that a file is a sprite file at all, and the deep one that every icon is well formed.

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

class InFile;
struct TIconHeader;

// Why the `length` bytes of `file` from `start` on cannot be a sprite file, or "" when they
// may be: the header table lies inside them and so does every icon's data. Reads the count
// and the headers only; with `maxIcons`, the headers of the first that many icons.
std::string SpriteFault(InFile& file, std::int64_t start, std::int64_t length,
                        std::int64_t maxIcons = INT64_MAX);

// Why the data of the icon with header `h` do not decode within its Bytes, exactly, with no
// run past its box, or "" when they do. `data` is positioned at the icon's first byte; at
// most Bytes bytes are read.
std::string IconDataFault(InFile& data, const TIconHeader& h);

struct SpriteCheck {
    std::int64_t Icons = 0;    // icons whose headers were read
    std::int64_t Problems = 0; // lines reported
};

// Checks the sprite file in [start, start + length) of `file`: a count within 0..1000, the
// header table inside the file, every icon's data inside it, in icon order, back to back up
// to the end of the file, every icon decoding within its Bytes with no run past its box, and
// Bytes equal to the data decoding uses. Each problem goes to `report` as one line, "icon N:
// <fault>" for an icon. Headers and data are each read once, in order, through buffered
// reads of their own, so memory does not grow with the file.
SpriteCheck VerifySprite(InFile& file, std::int64_t start, std::int64_t length,
                         const std::function<void(const std::string&)>& report);

} // namespace kiv
