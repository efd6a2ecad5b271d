#include "sprite/SpriteCheck.h"

#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"

#include <algorithm>

namespace kiv {

namespace {

std::string Num(std::int64_t value) {
    return std::to_string(value);
}

// Reads the header of icon `index` from the table that starts at `tableStart`.
bool ReadHeader(InFile& file, TIconHeader& header) {
    unsigned char bytes[IconHeaderSize];
    if (file.Read(bytes, sizeof bytes) != sizeof bytes)
        return false;
    header = TIconHeader::FromBytes(bytes);
    return true;
}

// The count word, or a fault when the bytes cannot hold a count and its header table.
std::string ReadCount(InFile& file, std::int64_t start, std::int64_t length, std::int32_t& count) {
    file.Seek(start);
    if (length < 4 || !file.ReadInt32(count))
        return "it is too short to hold an icon count";
    if (count < 0)
        return "its icon count is negative (" + Num(count) + ")";
    const std::int64_t table = 4 + std::int64_t{IconHeaderSize} * count;
    if (table > length)
        return "a header table of " + Num(count) + " icons needs " + Num(table) +
               " bytes, it has " + Num(length);
    return {};
}

} // namespace

// Walks an icon's data as the decoder does.
std::string IconDataFault(InFile& data, const TIconHeader& h) {
    const std::int64_t pixels = IconPixelCount(h);
    const std::int64_t bytes = h.Bytes;
    if (h.Compress != 1) {
        const std::int64_t needed = 2 * pixels;
        if (needed > bytes)
            return "its raw pixels need " + Num(needed) + " bytes, Bytes says " + Num(bytes) +
                   ": decoding runs past its data";
        if (needed < bytes)
            return "Bytes says " + Num(bytes) + ", its raw pixels use " + Num(needed);
        return {};
    }
    std::int64_t used = 0, painted = 0;
    while (painted < pixels) {
        if (used + 3 > bytes)
            return "its runs paint " + Num(painted) + " of " + Num(pixels) + " pixels within its " +
                   Num(bytes) + " bytes: decoding runs past its data";
        const int run = data.ReadByte();
        data.ReadByte();
        data.ReadByte();
        used += 3;
        painted += std::max(run, 0);
    }
    if (painted > pixels)
        return "its last run reaches past its box (" + Num(painted) + " pixels for a box of " +
               Num(pixels) + ")";
    if (used != bytes)
        return "Bytes says " + Num(bytes) + ", its runs use " + Num(used);
    return {};
}

std::string SpriteFault(InFile& file, std::int64_t start, std::int64_t length,
                        std::int64_t maxIcons) {
    std::int32_t count = 0;
    if (std::string fault = ReadCount(file, start, length, count); !fault.empty())
        return fault;
    const std::int64_t area = 4 + std::int64_t{IconHeaderSize} * count;
    for (std::int32_t i = 0; i < count && i < maxIcons; ++i) {
        TIconHeader h;
        if (!ReadHeader(file, h))
            return "it ends inside its header table";
        const std::int64_t from = area + h.Starts;
        if (h.Starts < 0 || h.Bytes < 0 || from + h.Bytes > length)
            return "the data of icon " + Num(i + 1) + " (" + Num(h.Bytes) + " bytes at " +
                   Num(from) + ") lie outside its " + Num(length) + " bytes";
    }
    return {};
}

SpriteCheck VerifySprite(InFile& file, std::int64_t start, std::int64_t length,
                         const std::function<void(const std::string&)>& report) {
    SpriteCheck check;
    const auto problem = [&](const std::string& line) {
        ++check.Problems;
        report(line);
    };
    std::int32_t count = 0;
    if (std::string fault = ReadCount(file, start, length, count); !fault.empty()) {
        problem(fault);
        return check;
    }
    if (count > MaxIcons)
        problem("its icon count " + Num(count) + " is above " + Num(MaxIcons) +
                ", the most the editor can hold");

    // The headers come through `file`, the data through a reader of their own, so both are
    // read front to back once.
    auto data = InFile::Open(file.Path());
    if (!data) {
        problem("it cannot be opened a second time to read its data");
        return check;
    }
    const std::int64_t area = 4 + std::int64_t{IconHeaderSize} * count;
    std::int64_t expected = 0; // where the next icon's data should start, from the area
    TIconHeader last;
    for (std::int32_t i = 0; i < count; ++i) {
        TIconHeader h;
        if (!ReadHeader(file, h))
            break; // ReadCount saw the table inside the file; it shrank since
        ++check.Icons;
        last = h;
        const std::string icon = "icon " + Num(i + 1) + ": ";
        if (h.FWidth > MaxFrameSide || h.FHeight > MaxFrameSide)
            problem(icon + "its frame of " + Num(h.FWidth) + " x " + Num(h.FHeight) +
                    " pixels is too large to show");
        if (h.Bytes > MaxIconBytes)
            problem(icon + "Bytes " + Num(h.Bytes) + " is above " + Num(MaxIconBytes));
        const std::int64_t from = area + h.Starts;
        if (h.Starts < 0 || h.Bytes < 0 || from + h.Bytes > length) {
            problem(icon + "its data (" + Num(h.Bytes) + " bytes at " + Num(from) +
                    ") lie outside the file's " + Num(length) + " bytes");
            expected =
                std::max<std::int64_t>(expected, std::int64_t{h.Starts} + std::max(h.Bytes, 0));
            continue;
        }
        if (h.Starts < expected)
            problem(icon + "its data at " + Num(from) + " overlap the data before it");
        else if (h.Starts > expected)
            problem(icon + "its data at " + Num(from) + " leave a gap of " +
                    Num(h.Starts - expected) + " bytes after the data before it");
        expected = std::int64_t{h.Starts} + h.Bytes;
        data->Seek(start + from);
        if (std::string fault = IconDataFault(*data, h); !fault.empty())
            problem(icon + fault);
    }
    if (area + expected < length && check.Icons == count)
        problem(Num(length - area - expected) + " bytes follow the last icon's data");
    // The archive test's one check: the byte before the data area is zero.
    if (count > 0 && check.Icons == count && (static_cast<std::uint32_t>(last.Aux) >> 24) != 0)
        problem("icon " + Num(count) +
                ": the top byte of its Aux word is not zero (the archive test calls it bad)");
    return check;
}

} // namespace kiv
