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
#include <optional>
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
    bool Labels = false;          // each row of cells has a gutter of icon numbers above it
};

// The height of the gutter above each row of cells of a labelled sheet, and the colour of
// its labels.
inline constexpr int kLabelGutter = 9;
inline constexpr TColor LabelColor = RGB(0, 0, 0);

// With `labels`, a gutter above each row of cells holds each icon's number above its cell,
// and a column is at least as wide as its labels, so no label pixel lies in a cell or runs
// into the next label. Throws Exception when the sheet would pass the picture size limits.
SheetLayout LayOutSheet(const TIconTable& table, bool labels = false);

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

// The sheet files of the loaded file, read from `file`, labelled when asked. Throws as
// BuildSheet does.
SheetExport MakeSheetExport(InFile& file, const TIconTable& table, const std::string& sheetPath,
                            bool labels = false);

enum class RecordsVerdict {
    Match,      // the records describe this sprite file's sheet
    CannotOpen, // there is no records file to read
    Unreadable, // the file is not records as export writes them
    OtherSheet, // well-formed records of another sprite file (or of this one before a change)
};

struct RecordsCheck {
    RecordsVerdict Verdict = RecordsVerdict::CannotOpen;
    std::string Message;      // empty for a match
    bool Transparent = false; // the sheet was written with transparent pixels
    // Read from well-formed records: the sprite file they name ("" when none), the layout
    // they describe (cells as they give them), and for records whose size and icon count
    // match the sprite file's, the first icon whose record differs (0: none).
    std::string Sprite;
    SheetLayout Layout;
    bool Whole = false; // well-formed, one record per icon of the table, in order
    int DiffersAt = 0;
};

struct SheetImportOptions {
    std::string RecordsPath; // empty: SheetRecordsPath of the sheet
    // A colour whose 16-bit value counts as the background, as BackColor's does.
    std::optional<TColor> Background;
    // Records of another state of this sprite file (well-formed, one cell per icon, inside
    // the sheet, naming one of these sprite files as the sheet's) are used as they stand:
    // each icon is read from the cell they give it.
    std::vector<std::string> TrustedSprites;
};

struct SheetImport {
    ReencodeResult Result;
    std::vector<int> Changed;          // 1-based numbers of the icons re-encoded
    std::vector<std::string> Warnings; // lines without their end
    RecordsCheck Records;              // what the records said; Message set when refused
    // A sheet written with transparent pixels that has none: the colour most of its corners
    // hold, and the changed icons (1-based) whose boxes grow past what they stored.
    std::optional<TColor> FlattenedOnto;
    std::vector<int> Grown;
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
                        const std::function<bool(const std::vector<int>&)>& approve = {},
                        const SheetImportOptions& options = {});

} // namespace kiv
