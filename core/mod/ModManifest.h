#pragma once
// A mod file (".kivmod"): what changed between two archives, and only that, for sharing
// without the game's own data. A zip file: "kivmod.json", the manifest (format, version,
// title, author, note, and one record per change with the size and CRC-32 of the bytes it
// replaces and of its result), then one entry per changed member's new bytes and one per
// member whose icons changed, holding those icons. docs/mod-format.md describes it for other
// tools. Reading a mod takes a file from a stranger: every field is checked before use and
// names inside it are only ever compared with the archive's member names.

#include "archive/ArchiveDiff.h"
#include "mod/ModChange.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

inline constexpr int ModFormatVersion = 1;
inline constexpr const char* ModManifestName = "kivmod.json";
// The manifest is read whole: larger ones are refused before they are inflated.
inline constexpr std::int64_t ModMaxManifest = 8 << 20;

struct ModManifest {
    int Version = ModFormatVersion;
    std::string Title;
    std::string Author;
    std::string Note;
    std::int64_t BaseSize = 0; // the archive the mod was made from
    std::int64_t BaseMembers = 0;
    std::vector<ModChange> Changes; // in the order of the archive they make
};

// The manifest as JSON, and back. Names are JSON strings whose characters U+0000..U+00FF
// stand for the bytes of the name. Reading checks every field and the changes against each
// other (a member's bytes changed once, whole or icon by icon, icons in ascending order with
// their streams one after another in one entry; a member moved once) and throws EBadMod.
std::string ManifestJson(const ModManifest& manifest);
ModManifest ParseManifest(const std::string& json);

// What a mod changes, as the comparison of its base with the archive it makes lists it
// (rows that the manifest does not give are 1).
ArchiveDiff ModChanges(const ModManifest& manifest);

} // namespace kiv
