#include "base/FileStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

std::unique_ptr<InFile> InFile::Open(const std::string& path) {
    if (path.empty())
        return nullptr;
    int fd;
    do {
        // Non-blocking only so that opening a pipe with no writer does not wait forever;
        // regular files ignore the flag.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    // Only regular files are read: a pipe has no length to seek in, and a device such as
    // /dev/zero would feed a reader without end.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const std::int64_t length = static_cast<std::int64_t>(st.st_size);
    return std::unique_ptr<InFile>(new InFile(fd, path, length));
}

InFile::InFile(int fd, std::string path, std::int64_t length)
    : fd_(fd), path_(std::move(path)), length_(length) {}

InFile::~InFile() {
    if (fd_ >= 0)
        ::close(fd_);
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
        const ssize_t got = ::pread(fd_, buffer_.data() + bufferSize_, buffer_.size() - bufferSize_,
                                    static_cast<off_t>(bufferStart_ + bufferSize_));
        if (got < 0 && errno == EINTR)
            continue;
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
                const ssize_t got =
                    ::pread(fd_, out + done, count - done, static_cast<off_t>(position_));
                if (got < 0 && errno == EINTR)
                    continue;
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

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace kiv
