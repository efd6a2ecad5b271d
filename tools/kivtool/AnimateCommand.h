#pragma once
// kivtool animate: a sprite's icons as an animated GIF or PNG.

#include "Commands.h"

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

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

// Declares `animate` on `app`; `add` registers the subcommand with what runs it.
using CommandRun = std::function<int(const Context&)>;
void AddAnimateCommand(CLI::App& app, const std::function<CLI::App*(CLI::App*, CommandRun)>& add);

} // namespace kivtool
