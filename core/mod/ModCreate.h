#pragma once
// Making a mod file from two archives: what the comparison finds, and only that.

#include "mod/ModResult.h"

#include <cstdint>
#include <string>

namespace kiv {

struct ModMetadata {
    std::string Title;
    std::string Author;
    std::string Note;
};

// What making a mod did: the result, and what the mod holds.
struct ModCreated : ModResult {
    bool Same = false;        // the two archives hold the same bytes: nothing to share
    std::int64_t Changes = 0; // changes the mod holds
    std::int64_t Size = 0;    // bytes of the mod file
};

// Writes `outPath`: a mod that, applied to `basePath`, gives `newPath` byte for byte. A member
// changed in a sprite file of the same icon count and the re-encoder's layout on both sides
// goes in icon by icon (each changed icon compressed against its old bytes); any other
// changed, added or removed member whole; moved members, other bytes after a name in the
// directory, the gap and the tail as changes of their own. Both archives are read through
// the comparison (streaming) and then only where they differ.
ModCreated CreateMod(const std::string& basePath, const std::string& newPath,
                     const std::string& outPath, const ModMetadata& metadata);

} // namespace kiv
