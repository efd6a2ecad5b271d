#pragma once
// The listing of what differs between two archives or two sprite files, as `diff` prints it
// and `mod info` prints what a mod changes: one line per member that differs, and under a
// changed sprite member one indented line per icon (or run of icons) that differs.
//
//   changed hero.s16
//     icon 3: pixels
//     icons 5 to 7: header
//     icon 9: header and pixels
//     icons 12 to 14: added
//   added extra.s16
//   removed old.s16
//   moved coins.s16: row 2 -> row 4
//   gap before the first member differs

#include "archive/ArchiveDiff.h"
#include "sprite/SpriteDiff.h"

#include <ostream>
#include <string>

namespace kivtool {

// What each side is called where a line must name one ("first", "second").
struct DiffSides {
    std::string A = "the first";
    std::string B = "the second";
};

// The icon lines of a sprite comparison, each after `indent`.
void PrintSpriteDiff(std::ostream& out, const kiv::SpriteDiff& diff, const std::string& indent,
                     const DiffSides& sides = {});
// One member's line, and its icon lines under it.
void PrintMemberDiff(std::ostream& out, const kiv::MemberDiff& member, const DiffSides& sides = {});
// Every member's lines, then the bytes outside members.
void PrintArchiveDiff(std::ostream& out, const kiv::ArchiveDiff& diff, const DiffSides& sides = {});

} // namespace kivtool
