#pragma once
// What the browser shows when a member row is selected: the member's icon count, the ten
// header words of each icon as grid texts, and the pixel count of each icon.

#include "image/Image.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class InFile;
struct DecodeStats;

// The text a header cell shows for a Bytes word above MaxIconBytes.
inline constexpr const char* BytesErrorText = "Error";

struct MemberSummary {
    bool Opened = false;    // the archive opened
    bool CountRead = false; // the member's first word lies inside the archive
    std::int32_t MemberIconCount = 0;
    std::int64_t PixelBase = 0; // start + 4 + 40 * MemberIconCount
    // Every header that lies whole inside the archive, at most MemberIconCount of them. A
    // hostile count never makes more columns than the file can hold.
    std::vector<TIconHeader> Headers;
    // The Pix Count row for icons 1..PixCount.size(); the pass stops at the first "Error"
    // cell.
    std::vector<std::int64_t> PixCount;
    // The conversion error that stopped the pixel-count pass (the grid cannot parse
    // "Error" back), or empty.
    std::string ConversionError;
};

// Reads the member that starts at `start` of the archive at `path`. Every icon's pixel
// count is the sum of the first byte of each three-byte group of its data; all icons are
// counted in one pass over the archive.
MemberSummary SummariseMember(const std::string& path, std::uint32_t start);

// The browser's preview of one icon: the frame DecodeIcon makes of the icon described by
// `header`, its data at `pixelBase` + Starts of `archive`, where `pixelBase` is the member's
// start + 4 + 40 x its icon count (MemberSummary::PixelBase). Data said to lie before the
// start of the file are not there: the frame stays BackColor.
Image PreviewIcon(InFile& archive, std::int64_t pixelBase, const TIconHeader& header,
                  DecodeStats* stats = nullptr);

// The member as a sprite the editor's pictures can be drawn from, read inside the archive at
// `path`: the headers the summary holds (at most MaxIcons), its data area where the browser's
// preview reads it.
TIconTable MemberIconTable(const std::string& path, std::uint32_t start,
                           const MemberSummary& summary);

// The text of header-grid row `row` (HeaderRow::Width..HeaderRow::Aux) for one icon:
// decimal words, "Error" for a Bytes word above MaxIconBytes, Aux as six-digit hex.
std::string HeaderCellText(const TIconHeader& header, int row);

} // namespace kiv
