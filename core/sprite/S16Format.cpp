#include "sprite/S16Format.h"

#include "base/FileStream.h"
#include "base/TextConv.h"

#include <algorithm>
#include <vector>

namespace kiv {

std::int32_t TIconHeader::Word(int j) const {
    switch (j) {
    case 1:
        return Width;
    case 2:
        return Height;
    case 3:
        return StartX;
    case 4:
        return StartY;
    case 5:
        return FWidth;
    case 6:
        return FHeight;
    case 7:
        return Starts;
    case 8:
        return Bytes;
    case 9:
        return Compress;
    case 10:
        return Aux;
    default:
        return 0;
    }
}

void TIconHeader::SetWord(int j, std::int32_t value) {
    switch (j) {
    case 1:
        Width = value;
        break;
    case 2:
        Height = value;
        break;
    case 3:
        StartX = value;
        break;
    case 4:
        StartY = value;
        break;
    case 5:
        FWidth = value;
        break;
    case 6:
        FHeight = value;
        break;
    case 7:
        Starts = value;
        break;
    case 8:
        Bytes = value;
        break;
    case 9:
        Compress = value;
        break;
    case 10:
        Aux = value;
        break;
    default:
        break;
    }
}

TIconHeader TIconHeader::FromBytes(const unsigned char* bytes) {
    TIconHeader h;
    for (int j = 1; j <= 10; ++j)
        h.SetWord(j, GetInt32LE(bytes + 4 * (j - 1)));
    return h;
}

void TIconHeader::ToBytes(unsigned char* bytes) const {
    for (int j = 1; j <= 10; ++j)
        PutInt32LE(bytes + 4 * (j - 1), Word(j));
}

ReadTableResult ReadIconTable(const std::string& path, TIconTable& table) {
    auto file = InFile::Open(path);
    if (!file)
        return ReadTableResult::CannotOpen;

    TIconTable loaded;
    loaded.Path = path;
    loaded.FileLength = file->Length();
    std::int32_t stored = 0;
    file->ReadInt32(stored); // a file under 4 bytes holds no icons
    loaded.StoredCount = stored;
    loaded.Count = std::clamp(stored, 0, MaxIcons);
    if (stored < 0)
        loaded.Count = stored; // shown as stored; no header is read

    // Words the file does not hold in full read as 0.
    const int used = std::max(loaded.Count, 0);
    std::vector<unsigned char> block(static_cast<std::size_t>(used) * IconHeaderSize, 0);
    const std::size_t got = file->Read(block.data(), block.size());
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(got / 4 * 4), block.end(), 0);
    for (int i = 0; i < used; ++i)
        loaded.Headers[i] = TIconHeader::FromBytes(block.data() + i * IconHeaderSize);

    table = std::move(loaded);
    return stored > MaxIcons ? ReadTableResult::CountExceeded : ReadTableResult::Loaded;
}

std::string TwinName(const std::string& path) {
    if (path.empty())
        return path;
    std::string twin = path;
    twin.back() = '7';
    return twin;
}

const char* HeaderRowLabel(int row) {
    static const char* const kLabels[] = {"",        "Width",    "Height",  "Start X",
                                          "Start Y", "FWidth",   "FHeight", "Starts",
                                          "Bytes",   "Compress", "???????", "Pix Count"};
    return row >= 1 && row <= 11 ? kLabels[row] : "";
}

std::string PixelColorText(TColor color) {
    const std::uint16_t packed = PackPixel(color);
    const TColor stored = (color & 0x00FFFFFF) == BackColor
                              ? BackColor
                              : UnpackPixel(packed & 0xFF, static_cast<std::uint8_t>(packed >> 8));
    const std::string rgb = "R " + IntToStr(RedOf(stored)) + " G " + IntToStr(GreenOf(stored)) +
                            " B " + IntToStr(BlueOf(stored));
    const std::string word = "5-6-5 " + IntToHex(packed, 4);
    if (stored == BackColor)
        return "background " + rgb + ", " + word + " inside the box";
    return rgb + ", " + word;
}

} // namespace kiv
