#pragma once
// Extract: a member's bytes copied into a file of their own, and the refusals that keep it
// from writing where it must not.

#include "archive/ArchiveRow.h"
#include "archive/OpResult.h"

#include <cstdint>
#include <string>

namespace kiv {

// Extract's refusals, shared with anything that says beforehand what Extract would do.
// "Cannot extract member "NAME": REASON." when the name may not be used as a file name in
// the current folder (see UnsafeNameReason), else "".
std::string UnsafeNameRefusal(const std::string& name);
// Why the member named `name`, bytes [start, finish) of the archive at `archivePath` that is
// `archiveLength` bytes long, may not be written to `target`: the target is the archive
// itself, or the member runs past the end of the archive. "" when it may.
std::string ExtractTargetRefusal(const std::string& archivePath, std::int64_t archiveLength,
                                 const std::string& name, std::int64_t start, std::int64_t finish,
                                 const std::string& target);

// Copies the member's bytes [Start, Finish) into `outPath` (default: the member's name).
// Refused, with nothing written: a defaulted name that UnsafeNameReason rejects, an output
// that is the archive itself, and a member whose bytes run past the end of the archive.
// Finish <= Start gives an empty file. With `rowIndex` above 0 the row comes from a listing
// of `memberCount` rows that may be stale: unless the archive still holds that many rows and
// this row's name, start and end words as listed, it is refused with a message asking to
// load the archive again.
OpResult ExtractMember(const std::string& archivePath, const ArchiveRow& row,
                       const std::string& outPath = std::string(), std::int32_t rowIndex = 0,
                       std::int32_t memberCount = 0);

} // namespace kiv
