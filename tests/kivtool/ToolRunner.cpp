#include "ToolRunner.h"

#include "support/TestFiles.h"

#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kivtest {

ToolRun RunKivtool(const std::vector<std::string>& args) {
    const std::string outPath = ".kivtool-stdout";
    const std::string errPath = ".kivtool-stderr";
    ToolRun run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        std::string program = KIVTOOL_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.Status = WEXITSTATUS(status);
    const Bytes out = ReadFile(outPath);
    const Bytes err = ReadFile(errPath);
    run.Out.assign(out.begin(), out.end());
    run.Err.assign(err.begin(), err.end());
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return run;
}

ToolRun RunCommand(const std::function<int(const kivtool::Context&)>& command) {
    std::ostringstream out, err;
    const kivtool::Context ctx{out, err, false};
    ToolRun run;
    run.Status = command(ctx);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t from = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', from);
        cells.push_back(
            line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return cells;
        from = tab + 1;
    }
}

} // namespace kivtest
