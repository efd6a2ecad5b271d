// The operating-system calls of Platform.h for Linux and other POSIX systems.
#include "base/Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kiv::platform {

namespace {

int Fd(FileHandle file) {
    return static_cast<int>(file);
}

void Fill(const struct stat& st, FileStatus& status) {
    status.Regular = S_ISREG(st.st_mode);
    status.Mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.Size = static_cast<std::int64_t>(st.st_size);
    status.Device = static_cast<std::uint64_t>(st.st_dev);
    status.Node = static_cast<std::uint64_t>(st.st_ino);
}

} // namespace

bool StatusOf(const std::string& path, FileStatus& status) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    Fill(st, status);
    return true;
}

bool StatusOf(FileHandle file, FileStatus& status) {
    struct stat st {};
    if (::fstat(Fd(file), &st) != 0)
        return false;
    Fill(st, status);
    return true;
}

FileHandle OpenForReading(const std::string& path) {
    int fd;
    do {
        // Non-blocking only so that opening a pipe with no writer does not wait forever;
        // regular files ignore the flag.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kNoFile;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

CreateOutcome CreateNew(const std::string& path, std::uint32_t mode, FileHandle& file) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == EEXIST ? CreateOutcome::Exists : CreateOutcome::Failed;
    file = fd;
    return CreateOutcome::Created;
}

void SetMode(FileHandle file, std::uint32_t mode) {
    ::fchmod(Fd(file), static_cast<mode_t>(mode));
}

bool Close(FileHandle file) {
    return ::close(Fd(file)) == 0;
}

bool FlushToDisk(FileHandle file) {
    int result;
    do
        result = ::fsync(Fd(file));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

void DropCachedPages(const std::string& path) {
    const FileHandle file = OpenForReading(path);
    if (file == kNoFile)
        return;
    // Dirty pages are only queued for writing; the clean ones are dropped.
    ::posix_fadvise(Fd(file), 0, 0, POSIX_FADV_DONTNEED);
    ::close(Fd(file));
}

std::string LastErrorText() {
    return errno == 0 ? std::string() : std::generic_category().message(errno);
}

bool FlushFolderToDisk(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = FlushToDisk(fd);
    ::close(fd);
    return flushed;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::int64_t ReadAt(FileHandle file, std::int64_t offset, void* data, std::size_t count) {
    ssize_t got;
    do
        got = ::pread(Fd(file), data, count, static_cast<off_t>(offset));
    while (got < 0 && errno == EINTR);
    return got;
}

bool WriteAll(FileHandle file, const void* data, std::size_t count) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t put = ::write(Fd(file), bytes, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

bool WriteAllAt(FileHandle file, std::int64_t offset, const void* data, std::size_t count) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t put = ::pwrite(Fd(file), bytes, count, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        offset += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

std::int64_t KernelCopy(FileHandle source, std::int64_t offset, FileHandle target,
                        std::int64_t count) {
    auto in = static_cast<off_t>(offset);
    // One call copies at most about 2 GiB on Linux; the caller loops.
    const auto chunk = static_cast<std::size_t>(count < (1 << 30) ? count : (1 << 30));
    for (;;) {
        const ssize_t got = ::copy_file_range(Fd(source), &in, Fd(target), nullptr, chunk, 0);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EBADF)
            return kCopyUnsupported;
        return -1;
    }
}

std::uint64_t ProcessNumber() {
    return static_cast<std::uint64_t>(::getpid());
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

bool ErrorStreamIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace kiv::platform
