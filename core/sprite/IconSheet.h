#pragma once
// A whole sprite file as one picture: every icon's frame in a cell of a grid, in icon
// order, on BackColor. Cells sit in columns as wide as their widest frame and rows as tall
// as their tallest, so a modder edits every icon of a member on one sheet; importing the
// sheet re-encodes only the icons whose cells changed.

#include "image/Image.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <vector>

namespace kiv {

class InFile;

struct SheetCell {
    int Icon = 0; // 1-based
    int X = 0;
    int Y = 0;
    int Width = 0; // the icon's frame size; 0 for a frame with a negative side
    int Height = 0;
    bool operator==(const SheetCell&) const = default;
};

struct SheetLayout {
    int Width = 0;
    int Height = 0;
    std::vector<SheetCell> Cells; // one per icon of the table
};

// Throws Exception when the sheet would pass the picture size limits.
SheetLayout LayOutSheet(const TIconTable& table);

// The sheet of the loaded file. Icons whose data ended early are added to `endedEarly`
// (1-based numbers). Throws EFrameTooLarge for a frame that cannot be shown.
Image BuildSheet(InFile& file, const TIconTable& table, const SheetLayout& layout,
                 std::vector<int>* endedEarly = nullptr);

// Why a sheet picture of width x height does not fit `layout`, without the closing full stop,
// or "" when it does: "The sheet is W x H pixels; the sprite's is W2 x H2".
std::string SheetSizeFault(const SheetLayout& layout, std::int64_t width, std::int64_t height);

// The sheet picture at `path` (PNG or bitmap). A file that declares a picture larger than
// `layout` is refused before a pixel is decoded, in SheetSizeFault's words (EInvalidGraphic).
Image LoadSheet(const std::string& path, const SheetLayout& layout);

struct SheetImport {
    ReencodeResult Result;
    std::vector<int> Changed; // 1-based numbers of the icons re-encoded
};

// Writes `outPath` from the loaded file with every icon whose cell in `sheet` differs from
// its frame re-encoded from that cell, in one rewrite; with no cell changed, the output is
// the loaded file byte for byte. A sheet of another size than the layout is refused.
SheetImport ImportSheet(const Image& sheet, const TIconTable& table, const std::string& outPath);

} // namespace kiv
