#pragma once
// The archives both front ends name when told no other.

namespace kiv {

// The archive listed at start.
inline constexpr const char* MainArchiveName = "Modgen.dat";
// The archive Replace, reimport and mods write.
inline constexpr const char* NewArchiveName = "Newgen.dat";

} // namespace kiv
