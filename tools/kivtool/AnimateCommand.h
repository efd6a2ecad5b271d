#pragma once
// kivtool animate: a sprite's icons as an animated GIF or PNG.

#include "Commands.h"

#include <string>
#include <vector>

namespace kivtool {

struct AnimateOptions {
    // SPRITE [RANGE], or ARCHIVE MEMBER [RANGE]; RANGE is FIRST or FIRST-LAST.
    std::vector<std::string> Inputs;
    std::string OutPath;
    int Fps = 10;
    std::string Mode = "loop";
    int Scale = 1;
    std::string Background = "transparent"; // or RRGGBB
    bool Force = false;
};
int AnimateCommand(const Context& ctx, const AnimateOptions& options);

} // namespace kivtool
