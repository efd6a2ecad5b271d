#include "ToolRunner.h"

#include "support/TestFiles.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kivtest {

#ifdef _WIN32

namespace {

// One argument as the Windows runtime splits a command line back into arguments.
std::string Quoted(const std::string& arg) {
    std::string quoted = "\"";
    std::size_t slashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, '\\');
    return quoted + '"';
}

// Text written to the console streams here ends its lines with CR LF; the tests compare
// lines.
std::string WithPlainLineEnds(const Bytes& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += static_cast<char>(bytes[i]);
    return text;
}

} // namespace

ToolRun RunKivtool(const std::vector<std::string>& args, const std::string& input) {
    const std::string outPath = ".kivtool-stdout";
    const std::string errPath = ".kivtool-stderr";
    const std::string program = KIVTOOL_PATH;
    // The child inherits this process's standard streams, pointed at files meanwhile.
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved[3] = {::_dup(0), ::_dup(1), ::_dup(2)};
    const int opened[3] = {
        ::_open(input.empty() ? "NUL" : input.c_str(), _O_RDONLY),
        ::_open(outPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE),
        ::_open(errPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                _S_IREAD | _S_IWRITE)};
    for (int fd = 0; fd < 3; ++fd) {
        ::_dup2(opened[fd], fd);
        ::_close(opened[fd]);
    }
    std::vector<std::string> quoted{Quoted(program)};
    for (const std::string& a : args)
        quoted.push_back(Quoted(a));
    std::vector<const char*> argv;
    for (const std::string& q : quoted)
        argv.push_back(q.c_str());
    argv.push_back(nullptr);
    const std::intptr_t status = ::_spawnv(_P_WAIT, program.c_str(), argv.data());
    for (int fd = 0; fd < 3; ++fd) {
        ::_dup2(saved[fd], fd);
        ::_close(saved[fd]);
    }
    ToolRun run;
    run.Status = status < 0 ? -1 : static_cast<int>(status);
    run.Out = WithPlainLineEnds(ReadFile(outPath));
    run.Err = WithPlainLineEnds(ReadFile(errPath));
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

#else

ToolRun RunKivtool(const std::vector<std::string>& args, const std::string& input) {
    const std::string outPath = ".kivtool-stdout";
    const std::string errPath = ".kivtool-stderr";
    ToolRun run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(input.empty() ? "/dev/null" : input.c_str(), O_RDWR);
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

#endif

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
