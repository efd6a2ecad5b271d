#include "base/FileStream.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

std::string OpenFault(const std::string& path) {
    platform::FileStatus status;
    if (platform::StatusOf(path, status) && !status.Regular)
        return platform::IsFolder(path) ? "it is a folder" : "it is not a regular file";
    const platform::FileHandle file = platform::OpenForReading(path);
    if (file != platform::kNoFile) {
        platform::Close(file);
        return {};
    }
    const std::string reason = platform::LastErrorText();
    return reason.empty() ? "it cannot be opened" : reason;
}

std::unique_ptr<InFile> InFile::Open(const std::string& path) {
    if (path.empty())
        return nullptr;
    // Only regular files are read: a pipe has no length to seek in, and a device such as
    // /dev/zero would feed a reader without end.
    const platform::FileHandle file = platform::OpenForReading(path);
    if (file == platform::kNoFile)
        return nullptr;
    platform::FileStatus status;
    if (!platform::StatusOf(file, status) || !status.Regular) {
        platform::Close(file);
        return nullptr;
    }
    return std::unique_ptr<InFile>(new InFile(file, path, status));
}

InFile::InFile(platform::FileHandle file, std::string path, const platform::FileStatus& status)
    : file_(file), path_(std::move(path)), status_(status), length_(status.Size) {}

InFile::~InFile() {
    if (file_ != platform::kNoFile)
        platform::Close(file_);
}

void InFile::Seek(std::int64_t offset) {
    position_ = offset < 0 ? 0 : offset;
}

bool InFile::Fill() {
    if (buffer_.empty())
        buffer_.resize(kBufferSize);
    bufferStart_ = position_;
    bufferSize_ = 0;
    while (bufferSize_ < buffer_.size()) {
        const std::int64_t got =
            platform::ReadAt(file_, bufferStart_ + static_cast<std::int64_t>(bufferSize_),
                             buffer_.data() + bufferSize_, buffer_.size() - bufferSize_);
        if (got <= 0)
            break;
        bufferSize_ += static_cast<std::size_t>(got);
    }
    return bufferSize_ > 0;
}

std::size_t InFile::Read(void* data, std::size_t count) {
    auto* out = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const bool inBuffer = position_ >= bufferStart_ &&
                              position_ < bufferStart_ + static_cast<std::int64_t>(bufferSize_);
        if (!inBuffer) {
            // Large reads skip the buffer.
            if (count - done >= kBufferSize) {
                const std::int64_t got =
                    platform::ReadAt(file_, position_, out + done, count - done);
                if (got <= 0)
                    break;
                done += static_cast<std::size_t>(got);
                position_ += got;
                continue;
            }
            if (!Fill())
                break;
        }
        const auto offset = static_cast<std::size_t>(position_ - bufferStart_);
        const std::size_t take = std::min(count - done, bufferSize_ - offset);
        std::memcpy(out + done, buffer_.data() + offset, take);
        done += take;
        position_ += static_cast<std::int64_t>(take);
    }
    return done;
}

int InFile::ReadByte() {
    unsigned char byte;
    return Read(&byte, 1) == 1 ? byte : -1;
}

bool InFile::ReadInt32(std::int32_t& value) {
    unsigned char bytes[4];
    if (Read(bytes, 4) != 4)
        return false;
    value = GetInt32LE(bytes);
    return true;
}

bool InFile::ReadExactlyAt(std::int64_t offset, void* data, std::size_t count) const {
    if (offset < 0)
        return false;
    auto* bytes = static_cast<unsigned char*>(data);
    while (count > 0) {
        const std::int64_t got = platform::ReadAt(file_, offset, bytes, count);
        if (got <= 0)
            return false;
        bytes += got;
        offset += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    stamp.Path = path;
    stamp.Exists = platform::StatusOf(path, stamp.Status);
    return stamp;
}

bool FileStamp::StillMatches() const {
    platform::FileStatus now;
    if (!platform::StatusOf(Path, now))
        return !Exists;
    return Exists && now.Device == Status.Device && now.Node == Status.Node &&
           now.Size == Status.Size && now.Modified == Status.Modified;
}

std::string ForeignFileFault(const std::string& folder, const std::string& path, bool allowLinks) {
    if (allowLinks)
        return {};
    std::string link;
    if (platform::ReadLink(path, link))
        return "it is a symbolic link";
    if (platform::FileStatus status;
        platform::StatusOf(path, status) && status.Regular && status.Links > 1)
        return "it is a hard link (the file has " + std::to_string(status.Links) +
               " names, so it may be a file from outside the folder)";
    const std::string resolved = platform::ResolvedPath(path);
    const std::string home = platform::ResolvedPath(folder.empty() ? std::string(".") : folder);
    if (resolved.empty() || home.empty())
        return {}; // nothing there: the reader reports that itself
    // Compared without the separator at the end, which only a root folder keeps.
    const std::string parent = WithoutTrailingSeparators(home);
    const std::size_t slash = LastSeparator(resolved);
    if (slash == std::string::npos || resolved.substr(0, slash) != parent)
        return "it lies outside " + (folder.empty() ? std::string(".") : folder);
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    platform::FileStatus sa, sb;
    if (!platform::StatusOf(a, sa) || !platform::StatusOf(b, sb))
        return false;
    return sa.Device == sb.Device && sa.Node == sb.Node;
}

bool IsRegularFile(const std::string& path) {
    platform::FileStatus status;
    return platform::StatusOf(path, status) && status.Regular;
}

} // namespace kiv

namespace kiv {

namespace {

// Compared a block at a time, so a member of any size costs two small buffers.
constexpr std::size_t kCompareBlock = 64 * 1024;

} // namespace

bool FileHolds(const std::string& path, InFile& source, std::int64_t offset, std::int64_t count) {
    auto file = InFile::Open(path);
    if (!file || file->Length() != count)
        return false;
    std::vector<unsigned char> ours(kCompareBlock), theirs(kCompareBlock);
    source.Seek(offset);
    for (std::int64_t left = count; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, kCompareBlock));
        if (file->Read(ours.data(), n) != n || source.Read(theirs.data(), n) != n ||
            std::memcmp(ours.data(), theirs.data(), n) != 0)
            return false;
        left -= static_cast<std::int64_t>(n);
    }
    return true;
}

bool FileHolds(const std::string& path, const void* data, std::size_t count) {
    auto file = InFile::Open(path);
    if (!file || file->Length() != static_cast<std::int64_t>(count))
        return false;
    std::vector<unsigned char> ours(std::min(count, kCompareBlock));
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, kCompareBlock);
        if (file->Read(ours.data(), n) != n || std::memcmp(ours.data(), bytes + done, n) != 0)
            return false;
        done += n;
    }
    return true;
}

namespace {
// Large enough that a gigabyte takes a few thousand reads, small enough that both blocks
// stay in the processor's cache while they are compared.
constexpr std::size_t kRangeBlock = 256 * 1024;
} // namespace

bool RangeComparer::Equal(InFile& a, std::int64_t aOffset, InFile& b, std::int64_t bOffset,
                          std::int64_t count) {
    if (count <= 0)
        return true;
    if (ours_.empty()) {
        ours_.resize(kRangeBlock);
        theirs_.resize(kRangeBlock);
    }
    for (std::int64_t done = 0; done < count;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(count - done, static_cast<std::int64_t>(kRangeBlock)));
        a.Seek(aOffset + done);
        if (a.Read(ours_.data(), n) != n)
            return false;
        b.Seek(bOffset + done);
        if (b.Read(theirs_.data(), n) != n || std::memcmp(ours_.data(), theirs_.data(), n) != 0)
            return false;
        done += static_cast<std::int64_t>(n);
    }
    return true;
}

} // namespace kiv
