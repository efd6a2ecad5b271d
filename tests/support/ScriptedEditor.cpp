// An image editor for the tests: it saves the file it was started on (its last argument) the
// ways real editors save, one step per line of the script that KIV_TEST_EDITOR_SCRIPT names:
//   rename PICTURE     PICTURE's bytes written beside the file, then renamed over it
//   truncate PICTURE   the file cut to nothing, a pause, then PICTURE's bytes written into it
//   parts PICTURE      the first half of PICTURE's bytes, a pause, then the rest
//   wait FILE N        until FILE holds N lines (at most a minute)
//   copy FROM TO       a copy of a file, to keep what another program wrote meanwhile
//   args TO            the arguments it was started with, one a line
//   type TO            a line end added to TO (Enter, typed into a pipe)
//   exit N             ends with status N (the script's end: 0)
// Started under the name "xdg-open" it returns at once, as a desktop's opener does, and goes
// on with the script on its own.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int LineCount(const std::string& path) {
    const std::string text = Read(path);
    int lines = 0;
    for (const char c : text)
        lines += c == '\n';
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 64;
    const std::string file = argv[argc - 1];
#ifndef _WIN32
    if (std::filesystem::path(argv[0]).filename() == "xdg-open" && ::fork() != 0)
        return 0;
#endif
    const char* script = std::getenv("KIV_TEST_EDITOR_SCRIPT");
    std::ifstream steps(script ? script : "");
    for (std::string line; std::getline(steps, line);) {
        std::istringstream words(line);
        std::string step, a, b;
        words >> step >> a >> b;
        if (step == "rename") {
            const std::string temp = file + ".saving";
            std::ofstream(temp, std::ios::binary) << Read(a);
            std::filesystem::rename(temp, file);
        } else if (step == "truncate" || step == "parts") {
            const std::string bytes = Read(a);
            const std::size_t first = step == "truncate" ? 0 : bytes.size() / 2;
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(first)).flush();
            Pause(300);
            out.write(bytes.data() + first, static_cast<std::streamsize>(bytes.size() - first));
        } else if (step == "wait") {
            for (int tries = 0; tries < 6000 && LineCount(a) < std::stoi(b); ++tries)
                Pause(10);
        } else if (step == "copy") {
            std::ofstream(b, std::ios::binary) << Read(a);
        } else if (step == "args") {
            std::ofstream out(a, std::ios::binary);
            for (int i = 1; i < argc; ++i)
                out << argv[i] << '\n';
        } else if (step == "type") {
            std::ofstream(a, std::ios::app) << '\n';
        } else if (step == "exit") {
            return std::stoi(a);
        }
    }
    return 0;
}
