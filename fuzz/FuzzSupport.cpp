#include "FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kivfuzz {

namespace fs = std::filesystem;

namespace {

std::string MakeScratch() {
    std::string pattern = (fs::temp_directory_path() / "kivfuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        Fail("cannot make a scratch folder under " + fs::temp_directory_path().string());
    // Only the process that made the folder removes it (libFuzzer may fork workers).
    static const pid_t owner = ::getpid();
    static std::string made = pattern;
    std::atexit([] {
        if (::getpid() == owner) {
            std::error_code ec;
            fs::remove_all(made, ec);
        }
    });
    return pattern;
}

} // namespace

const std::string& ScratchFolder() {
    static const std::string folder = MakeScratch();
    return folder;
}

InScratch::InScratch() : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (previous_ < 0 || ::chdir(ScratchFolder().c_str()) != 0)
        Fail("cannot enter the scratch folder " + ScratchFolder());
}

InScratch::~InScratch() {
    if (::fchdir(previous_) != 0)
        Fail("cannot return from the scratch folder");
    ::close(previous_);
}

void ClearScratch() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ScratchFolder(), ec))
        fs::remove_all(entry.path(), ec);
}

std::string ScratchFile(const std::string& name) {
    return ScratchFolder() + "/" + name;
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        Fail("cannot write the input file " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> ScratchEntries() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ScratchFolder(), ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "kivfuzz: %s\n", what.c_str());
    std::abort();
}

} // namespace kivfuzz
