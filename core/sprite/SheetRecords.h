#pragma once
// A sheet's records: a JSON file beside the sheet picture that says which sprite file the
// sheet was laid out from, where each icon's cell lies and what its header held, so an import
// can tell the sheet belongs to the sprite file it is given.

#include "sprite/IconSheet.h"
#include "sprite/S16Format.h"

#include <string>

namespace kiv {

// The records' path for a sheet: the sheet's with the extension ".json".
std::string SheetRecordsPath(const std::string& sheetPath);

// The records' text, one icon a line so a modder can read and compare them. `spriteName`
// is the sprite file's name without its folder; `transparent` says that the sheet was
// written with transparent pixels. A labelled layout is marked so.
std::string SheetRecordsText(const std::string& spriteName, const SheetLayout& layout,
                             const TIconTable& table, bool transparent);

// Reads the records at `recordsPath` and tells whether they describe this sprite file's
// sheet, labelled or not as they say. Throws as LayOutSheet does.
RecordsCheck CheckSheetRecords(const std::string& recordsPath, const TIconTable& table);

} // namespace kiv
