#pragma once
// The icons that differ between two archives (or two sprite files) as before/after pairs on
// one sheet, so a whole change can be seen at a glance: each pair is the icon's frame as the
// first file holds it, then as the second holds it, side by side on BackColor; pairs sit in
// a grid in the order the comparison lists them.

#include "archive/ArchiveDiff.h"
#include "image/Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct SheetRect {
    int X = 0;
    int Y = 0;
    int Width = 0; // the frame's size; 0 x 0 where the icon is not on that side
    int Height = 0;
    bool operator==(const SheetRect&) const = default;
};

// One icon that differs: changed, added (no before) or removed (no after).
struct DiffSheetPair {
    std::string Member; // MemberLabel of its member; empty for two sprite files
    std::int32_t Icon = 0;
    std::int64_t StartA = -1; // where its sprite file starts in each file; -1: not on that side
    std::int64_t StartB = -1;
    SheetRect Before;
    SheetRect After;
};

struct DiffSheet {
    int Width = 0;
    int Height = 0;
    std::vector<DiffSheetPair> Pairs;
};

// Every icon that differs inside the members both archives hold as sprite files (changed,
// added or removed icons), and those of two sprite files, with their cells laid out. Reads
// the headers of those icons only. Throws Exception when the sheet would pass the picture
// size limits.
DiffSheet LayOutDiffSheet(const std::string& pathA, const std::string& pathB,
                          const ArchiveDiff& diff);
DiffSheet LayOutDiffSheet(const std::string& pathA, const std::string& pathB,
                          const SpriteDiff& diff);

// Draws every pair's frames, decoded from the two files. Throws EFrameTooLarge for a frame
// that cannot be shown, EFOpenError when a file no longer opens.
Image DrawDiffSheet(const std::string& pathA, const std::string& pathB, const DiffSheet& sheet);

} // namespace kiv
