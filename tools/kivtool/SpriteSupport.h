#pragma once
// Loading a sprite file's table as the editor's Load S16 does.

#include "Commands.h"

#include "sprite/S16Format.h"

namespace kivtool {

// Reads the table; "Could not open <path>" when the file does not open, and the warning
// "Maximum icons exceeded! Do NOT edit" (then goes on) when the count is above 1000.
bool LoadTableOrFail(const Context& ctx, const std::string& sprite, kiv::TIconTable& table);

// True when `icon` is a 1-based icon number of the table; otherwise a failure line.
bool IconInRange(const Context& ctx, const kiv::TIconTable& table, std::int64_t icon);

} // namespace kivtool
