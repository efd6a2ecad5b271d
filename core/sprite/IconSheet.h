#pragma once
// A whole sprite file as one picture: every icon's frame in a cell of a grid, in icon
// order, on BackColor. Cells sit in columns as wide as their widest frame and rows as tall
// as their tallest, so a modder edits every icon of a member on one sheet; importing the
// sheet re-encodes only the icons whose cells changed.

#include "image/Image.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <cstdint>
#include <functional>
#include <string>
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

// What `sheet export` writes: the sheet picture (PNG when its name ends in ".png", with
// every pixel of the background's 16-bit value transparent; else a bitmap) and its records.
struct SheetExport {
    std::vector<std::uint8_t> Picture;
    std::string Records;
    std::string RecordsPath;
    std::vector<std::string> Warnings; // lines without their end
};

// The sheet files of the loaded file, read from `file`. Throws as BuildSheet does.
SheetExport MakeSheetExport(InFile& file, const TIconTable& table, const std::string& sheetPath);

struct SheetImport {
    ReencodeResult Result;
    std::vector<int> Changed;          // 1-based numbers of the icons re-encoded
    std::vector<std::string> Warnings; // lines without their end
};

// Writes `outPath` from the loaded file with every icon whose cell in the sheet differs
// from its frame in 16-bit terms re-encoded from that cell, in one rewrite; with no cell
// changed, the output is the loaded file byte for byte. The records beside the sheet must
// describe this sprite file, and the sheet must have the layout's size (a file declaring a
// larger one is refused before a pixel of it is decoded); otherwise nothing is written. A
// sheet that cannot be read throws as LoadPictureFile does. Once the changed icons are known,
// and before anything is written, `approve` (when given) may stop the import: then Result is
// not Ok, its Message is empty and Changed lists them.
SheetImport ImportSheet(const std::string& sheetPath, const TIconTable& table,
                        const std::string& outPath,
                        const std::function<bool(const std::vector<int>&)>& approve = {});

} // namespace kiv
