#include "support/TestFiles.h"

#include "base/Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kivtest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    previous_ = fs::current_path();
    path_ =
        fs::temp_directory_path() / ("kivtest-" + std::to_string(kiv::platform::ProcessNumber()) +
                                     "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
    fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    // Folders a test made read-only must become writable again to be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("test could not write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("test could not read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    return fs::exists(path);
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

void UnsetVariable(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

void PutLE32(Bytes& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

void PutLE16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::int32_t GetLE32(const Bytes& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= static_cast<std::uint32_t>(bytes.at(offset + k)) << (8 * k);
    return static_cast<std::int32_t>(v);
}

kiv::TIconHeader MakeHeader(int width, int height, int startX, int startY, int fwidth, int fheight,
                            int compress, std::int32_t aux) {
    kiv::TIconHeader h;
    h.Width = width;
    h.Height = height;
    h.StartX = startX;
    h.StartY = startY;
    h.FWidth = fwidth;
    h.FHeight = fheight;
    h.Compress = compress;
    h.Aux = aux;
    return h;
}

SpriteBuilder& SpriteBuilder::Raw(int width, int height, int startX, int startY, int fwidth,
                                  int fheight, const std::vector<std::uint16_t>& pixels,
                                  std::int32_t aux) {
    SpriteIcon icon;
    icon.Header = MakeHeader(width, height, startX, startY, fwidth, fheight, 0, aux);
    for (auto p : pixels)
        PutLE16(icon.Data, p);
    icons_.push_back(icon);
    return *this;
}

SpriteBuilder& SpriteBuilder::Runs(int width, int height, int startX, int startY, int fwidth,
                                   int fheight,
                                   const std::vector<std::pair<int, std::uint16_t>>& runs,
                                   std::int32_t aux) {
    SpriteIcon icon;
    icon.Header = MakeHeader(width, height, startX, startY, fwidth, fheight, 1, aux);
    for (const auto& [length, value] : runs) {
        icon.Data.push_back(static_cast<std::uint8_t>(length));
        PutLE16(icon.Data, value);
    }
    icons_.push_back(icon);
    return *this;
}

SpriteBuilder& SpriteBuilder::Icon(const SpriteIcon& icon) {
    icons_.push_back(icon);
    return *this;
}

SpriteBuilder& SpriteBuilder::StoredCount(std::int32_t count) {
    hasStoredCount_ = true;
    storedCount_ = count;
    return *this;
}

Bytes SpriteBuilder::Build() const {
    Bytes out;
    PutLE32(out, hasStoredCount_ ? storedCount_ : static_cast<std::int32_t>(icons_.size()));
    std::int32_t starts = 0;
    for (const auto& icon : icons_) {
        kiv::TIconHeader h = icon.Header;
        if (!icon.KeepHeader) {
            h.Starts = starts;
            h.Bytes = static_cast<std::int32_t>(icon.Data.size());
        }
        starts += static_cast<std::int32_t>(icon.Data.size());
        std::uint8_t bytes[40];
        h.ToBytes(bytes);
        out.insert(out.end(), bytes, bytes + 40);
    }
    for (const auto& icon : icons_)
        out.insert(out.end(), icon.Data.begin(), icon.Data.end());
    return out;
}

ArchiveBuilder& ArchiveBuilder::Member(const std::string& name, const Bytes& data) {
    Bytes field(13, 0);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 13), field.begin());
    members_.push_back({field, data});
    return *this;
}

ArchiveBuilder& ArchiveBuilder::MemberRawName(const Bytes& nameField, const Bytes& data) {
    Bytes field = nameField;
    field.resize(13, 0);
    members_.push_back({field, data});
    return *this;
}

ArchiveBuilder& ArchiveBuilder::Trailer(const Bytes& bytes) {
    trailer_ = bytes;
    return *this;
}

ArchiveBuilder& ArchiveBuilder::Gap(const Bytes& bytes) {
    gap_ = bytes;
    return *this;
}

std::uint32_t ArchiveBuilder::StartOf(std::size_t i) const {
    std::uint32_t offset = 8 + 17 * static_cast<std::uint32_t>(members_.size()) +
                           static_cast<std::uint32_t>(gap_.size());
    for (std::size_t k = 0; k < i; ++k)
        offset += static_cast<std::uint32_t>(members_[k].Data.size());
    return offset;
}

std::uint32_t ArchiveBuilder::FinishOf(std::size_t i) const {
    return StartOf(i) + static_cast<std::uint32_t>(members_[i].Data.size());
}

Bytes ArchiveBuilder::Build() const {
    Bytes out;
    PutLE32(out, static_cast<std::int32_t>(members_.size()));
    PutLE32(out, static_cast<std::int32_t>(StartOf(0)));
    for (std::size_t i = 0; i < members_.size(); ++i) {
        out.insert(out.end(), members_[i].NameField.begin(), members_[i].NameField.end());
        PutLE32(out, static_cast<std::int32_t>(FinishOf(i)));
    }
    out.insert(out.end(), gap_.begin(), gap_.end());
    for (const auto& m : members_)
        out.insert(out.end(), m.Data.begin(), m.Data.end());
    out.insert(out.end(), trailer_.begin(), trailer_.end());
    return out;
}

} // namespace kivtest
