#pragma once
// What the fuzz targets share: one scratch folder per fuzzing process, and small file helpers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivfuzz {

// An absolute path to a fresh folder made for this process (removed at exit).
const std::string& ScratchFolder();
// Makes the scratch folder the current folder while it lives, for operations that write
// relative names (libFuzzer's own paths are relative to the folder it started in).
class InScratch {
public:
    InScratch();
    ~InScratch();
    InScratch(const InScratch&) = delete;
    InScratch& operator=(const InScratch&) = delete;

private:
    int previous_;
};
// Empties the scratch folder, so every input starts from the same state.
void ClearScratch();
// ScratchFolder() + "/" + name.
std::string ScratchFile(const std::string& name);

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
// Names in the scratch folder, sorted.
std::vector<std::string> ScratchEntries();

// Stops the process with a message; a broken property counts as a crash for libFuzzer.
[[noreturn]] void Fail(const std::string& what);

} // namespace kivfuzz
