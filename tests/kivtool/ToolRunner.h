#pragma once
// Runs the built kivtool, or a command function in process, and keeps what it printed.

#include "Commands.h"

#include <functional>
#include <string>
#include <vector>

namespace kivtest {

struct ToolRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// The kivtool binary with `args`, in the current folder; stdin is empty, or the file (or
// pipe) `input`, opened for reading and writing so that a pipe never reads as ended.
ToolRun RunKivtool(const std::vector<std::string>& args, const std::string& input = {});

// A command function with string streams.
ToolRun RunCommand(const std::function<int(const kivtool::Context&)>& command);

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The tab-separated cells of a line.
std::vector<std::string> Cells(const std::string& line);

} // namespace kivtest
