#pragma once
// Small builders for the bytes the tests feed in: sprite files, archives, scratch folders.

#include "sprite/S16Format.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kivtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp folder, made the current folder for the test's
// life and removed afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Names of every entry in a folder, sorted (to check no temporary file was left).
std::vector<std::string> ListFolder(const std::string& folder);

// Sets or removes an environment variable of this process (and of the programs it starts).
void SetVariable(const char* name, const std::string& value);
void UnsetVariable(const char* name);

void PutLE32(Bytes& out, std::int32_t value);
void PutLE16(Bytes& out, std::uint16_t value);
std::int32_t GetLE32(const Bytes& bytes, std::size_t offset);

// A header with the given box, frame and Compress word; Starts and Bytes 0.
kiv::TIconHeader MakeHeader(int width, int height, int startX, int startY, int fwidth, int fheight,
                            int compress, std::int32_t aux = 0);

// A sprite file: icons with their headers and data, laid out back to back so every layout
// rule holds (Starts and Bytes are filled in by Build unless `keepHeader` is set).
struct SpriteIcon {
    kiv::TIconHeader Header;
    Bytes Data;
    bool KeepHeader = false; // use Header.Starts/Bytes as given
};
class SpriteBuilder {
public:
    // A raw icon: Width x Height pixels in pixel order, frame FWidth x FHeight.
    SpriteBuilder& Raw(int width, int height, int startX, int startY, int fwidth, int fheight,
                       const std::vector<std::uint16_t>& pixels, std::int32_t aux = 0);
    // A run-length icon: runs of (length, pixel value).
    SpriteBuilder& Runs(int width, int height, int startX, int startY, int fwidth, int fheight,
                        const std::vector<std::pair<int, std::uint16_t>>& runs,
                        std::int32_t aux = 0);
    SpriteBuilder& Icon(const SpriteIcon& icon);
    // Count word to store instead of the number of icons.
    SpriteBuilder& StoredCount(std::int32_t count);
    Bytes Build() const;
    const std::vector<SpriteIcon>& Icons() const { return icons_; }

private:
    std::vector<SpriteIcon> icons_;
    bool hasStoredCount_ = false;
    std::int32_t storedCount_ = 0;
};

// An archive: members back to back right after the directory.
class ArchiveBuilder {
public:
    ArchiveBuilder& Member(const std::string& name, const Bytes& data);
    // A raw 13-byte name field (for names without NUL or with bytes after the NUL).
    ArchiveBuilder& MemberRawName(const Bytes& nameField, const Bytes& data);
    // Bytes after the last member.
    ArchiveBuilder& Trailer(const Bytes& bytes);
    // Bytes between the directory and the first member.
    ArchiveBuilder& Gap(const Bytes& bytes);
    Bytes Build() const;
    // Start and finish of member i in the built archive.
    std::uint32_t StartOf(std::size_t i) const;
    std::uint32_t FinishOf(std::size_t i) const;

private:
    struct Entry {
        Bytes NameField;
        Bytes Data;
    };
    std::vector<Entry> members_;
    Bytes trailer_;
    Bytes gap_;
};

} // namespace kivtest
