#include "base/SafeFile.h"

#include "base/Errors.h"
#include "base/FileStream.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kiv {

namespace {

std::atomic<unsigned> tempCounter{0};

bool WriteAll(int fd, const unsigned char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, data, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

// Copies through mappings of the source of this many bytes at a time.
constexpr std::int64_t kMappedWindow = 8 << 20;
constexpr std::int64_t kMappedCopyMinimum = 1 << 20;

} // namespace

SafeFile::SafeFile(std::string target) : target_(std::move(target)) {
    struct stat st {};
    // Only a regular file is ever replaced: renaming over a device or a pipe would replace
    // the node itself (as root, /dev/null), and over a folder it fails.
    if (target_.empty() || (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))
        throw EFCreateError(target_);

    const auto slash = target_.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (base.empty())
        throw EFCreateError(target_);

    // A new file gets the usual mode; a replaced one keeps its own.
    const bool replacing = ::stat(target_.c_str(), &st) == 0;
    const mode_t mode = replacing ? (st.st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tempPath_ = folder + "." + base + ".kiv-" + std::to_string(::getpid()) + "-" +
                    std::to_string(tempCounter++);
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ < 0 && errno != EEXIST && errno != EINTR)
            break;
    }
    if (fd_ < 0) {
        tempPath_.clear();
        throw EFCreateError(target_);
    }
    // open() applied the umask; a replaced file keeps exactly its mode (0666 included).
    if (replacing)
        ::fchmod(fd_, mode);
}

SafeFile::~SafeFile() {
    if (!committed_)
        Discard();
}

void SafeFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty() && !committed_) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

void SafeFile::Write(const void* data, std::size_t count) {
    if (fd_ < 0 || !WriteAll(fd_, static_cast<const unsigned char*>(data), count)) {
        Discard();
        throw EWriteError();
    }
    size_ += static_cast<std::int64_t>(count);
}

void SafeFile::WriteAt(std::int64_t offset, const void* data, std::size_t count) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0 && fd_ >= 0) {
        const ssize_t put = ::pwrite(fd_, bytes, count, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        bytes += put;
        offset += put;
        count -= static_cast<std::size_t>(put);
    }
    if (count > 0 || fd_ < 0) {
        Discard();
        throw EWriteError();
    }
}

std::int64_t SafeFile::CopyFrom(InFile& source, std::int64_t offset, std::int64_t count) {
    if (fd_ < 0)
        throw EWriteError();
    if (offset < 0 || count <= 0)
        return 0;
    // Only bytes the source really has are copied.
    const std::int64_t available = source.Length() > offset ? source.Length() - offset : 0;
    std::int64_t left = std::min(count, available);
    std::int64_t copied = 0;

    off_t in = static_cast<off_t>(offset);
    // When the source and the output sit at different offsets within a page (a member inside
    // an archive almost always does), the kernel's copy splits every page in two and runs at
    // about half speed. Writing from a mapping of the source copies each byte once, in whole
    // pages.
    constexpr std::int64_t kPage = 4096;
    if (left >= kMappedCopyMinimum && (in % kPage) != (size_ % kPage)) {
        if (!CopyMapped(source, in, left, copied)) {
            Discard();
            throw EWriteError();
        }
    }

    // The kernel's copy otherwise; it is exact and avoids moving the bytes through user space.
    bool kernelCopy = true;
    while (left > 0 && kernelCopy) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 30));
        const ssize_t got = ::copy_file_range(source.Descriptor(), &in, fd_, nullptr, chunk, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                        errno == EOPNOTSUPP || errno == EBADF)) {
            kernelCopy = false;
            break;
        }
        if (got < 0) {
            Discard();
            throw EWriteError();
        }
        if (got == 0)
            break; // the source ended early
        left -= got;
        copied += got;
    }
    if (!kernelCopy) {
        std::vector<unsigned char> block(1 << 20);
        while (left > 0) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
            const ssize_t got = ::pread(source.Descriptor(), block.data(), want, in);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            if (!WriteAll(fd_, block.data(), static_cast<std::size_t>(got))) {
                Discard();
                throw EWriteError();
            }
            in += got;
            left -= got;
            copied += got;
        }
    }
    size_ += copied;
    return copied;
}

bool SafeFile::CopyMapped(InFile& source, std::int64_t& in, std::int64_t& left,
                          std::int64_t& copied) {
    const long page = ::sysconf(_SC_PAGESIZE);
    while (left > 0) {
        // Never map past the source's end: a file cut short since it was opened would fault.
        struct stat st {};
        if (::fstat(source.Descriptor(), &st) != 0 ||
            st.st_size < in + std::min(left, kMappedWindow))
            return true; // the plain copy below takes what is still there
        const std::int64_t chunk = std::min(left, kMappedWindow);
        const off_t base = in - in % page;
        const auto lead = static_cast<std::size_t>(in - base);
        const auto length = static_cast<std::size_t>(chunk) + lead;
        void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE,
                           source.Descriptor(), base);
        if (map == MAP_FAILED)
            return true; // no mapping here: the plain copy below does the rest
        const bool written = WriteAll(fd_, static_cast<const unsigned char*>(map) + lead,
                                      static_cast<std::size_t>(chunk));
        ::munmap(map, length);
        if (!written)
            return false;
        in += chunk;
        left -= chunk;
        copied += chunk;
    }
    return true;
}

void SafeFile::Commit() {
    if (fd_ < 0)
        throw EWriteError();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        Discard();
        throw EWriteError();
    }
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        Discard();
        throw EWriteError("Cannot create file " + target_);
    }
    committed_ = true;
}

void WriteWholeFile(const std::string& target, const void* data, std::size_t count) {
    SafeFile out(target);
    out.Write(data, count);
    out.Commit();
}

} // namespace kiv
