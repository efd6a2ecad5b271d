#pragma once
// A member as a row of the listing names it, and what Extract and Replace check of such a
// row before they trust it: that its name may name a file in the current folder, and that
// the archive still holds it as listed.

#include "archive/ArchiveDirectory.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

class InFile;

// One listing row: the member's name and its bytes [Start, Finish) of the archive.
struct ArchiveRow {
    std::string Name;
    std::uint32_t Start = 0;
    std::uint32_t Finish = 0;
    static ArchiveRow FromEntry(const TArchiveEntry& entry) {
        return {entry.Name, entry.Start, entry.Finish};
    }
};

// Listing row `row` (1-based), read only when an operation comes to it. What it throws (the
// browser's conversion error for a cell that is no number) ends the operation there: what
// was reported before stands, and nothing more is written.
using RowReader = std::function<ArchiveRow(std::int32_t row)>;

// Why a member name may not be used as a file name in the current folder, or "" when it
// may: empty, ".", "..", absolute, with a path separator, a drive prefix or a control
// character.
std::string UnsafeNameReason(const std::string& name);

// The listing is trusted only while the archive still holds it: the number of rows a fresh
// listing would give (`memberCount`), and row `rowIndex`'s name, start and end words. A copy
// put over the archive since it was listed would otherwise be cut at the listed offsets.
// Returns "" when they agree, else the message that asks for the archive to be listed again.
std::string StaleListingMessage(const InFile& archive, const std::string& archivePath,
                                const ArchiveRow& row, std::int32_t rowIndex,
                                std::int32_t memberCount);

} // namespace kiv
