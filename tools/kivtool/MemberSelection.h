#pragma once
// What the browser shows when a member row is selected: the member's icon count, the ten
// header words of each icon as grid texts, and the pixel count of each icon.

#include "sprite/S16Format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kivtool {

// Bytes above this show as "Error" in the header grid.
constexpr std::int32_t MaxIconBytes = 614400;

struct MemberSelection {
    bool Opened = false;    // the archive opened
    bool CountRead = false; // the member's first word lies inside the archive
    std::int32_t MemberIconCount = 0;
    std::int64_t PixelBase = 0; // start + 4 + 40 * MemberIconCount
    // Every header that lies whole inside the archive, at most MemberIconCount of them. A
    // hostile count never makes more columns than the file can hold.
    std::vector<kiv::TIconHeader> Headers;
    // Row 11 for icons 1..PixCount.size(); the pass stops at the first "Error" cell.
    std::vector<std::int64_t> PixCount;
    // The conversion error that stopped the pixel-count pass, or empty.
    std::string ConversionError;
};

// Reads the member that starts at `start` of the archive at `path`.
MemberSelection SelectMember(const std::string& path, std::uint32_t start);

// The text of header-grid row `row` (1..10) for one icon: decimal words, "Error" for a
// Bytes word above 614400, Aux as six-digit hex.
std::string HeaderCellText(const kiv::TIconHeader& header, int row);

} // namespace kivtool
