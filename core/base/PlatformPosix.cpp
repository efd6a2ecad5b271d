// The operating-system calls of Platform.h for Linux and other POSIX systems.
#include "base/Platform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <mutex>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace kiv::platform {

namespace {

int Fd(FileHandle file) {
    return static_cast<int>(file);
}

void Fill(const struct stat& st, FileStatus& status) {
    status.Regular = S_ISREG(st.st_mode);
    status.Links = static_cast<std::uint32_t>(st.st_nlink);
    status.Mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.Size = static_cast<std::int64_t>(st.st_size);
    status.Device = static_cast<std::uint64_t>(st.st_dev);
    status.Node = static_cast<std::uint64_t>(st.st_ino);
    status.Modified =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    status.Owner = static_cast<std::uint32_t>(st.st_uid);
    status.Group = static_cast<std::uint32_t>(st.st_gid);
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

namespace {

// A regular file opened for reading, or nothing. Non-blocking only so that opening a pipe
// with no writer does not wait forever; regular files ignore the flag.
FileHandle OpenRegularFile(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
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

} // namespace

FileHandle OpenForReading(const std::string& path) {
    return OpenRegularFile(path, 0);
}

FileHandle OpenEntryForReading(const std::string& path) {
    return OpenRegularFile(path, O_NOFOLLOW);
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

void SetOwner(FileHandle file, std::uint32_t owner, std::uint32_t group) {
    struct stat st {};
    if (::fstat(Fd(file), &st) != 0 || (st.st_uid == owner && st.st_gid == group))
        return;
    // Only root may give a file away; others may still give it a group they belong to.
    if (::fchown(Fd(file), static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0 &&
        st.st_gid != group)
        (void)::fchown(Fd(file), static_cast<uid_t>(-1), static_cast<gid_t>(group));
}

bool ReadLink(const std::string& path, std::string& target) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    std::string buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t got = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size())
        return false;
    target.assign(buffer.data(), static_cast<std::size_t>(got));
    return true;
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    const int error = errno;
    if (IsFolder(path))
        return true;
    errno = error;
    return false;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return false;
    names.clear();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

// flock, not fcntl: its lock belongs to the open file, so a second open in this same
// process conflicts too, and closing some other descriptor of the file does not drop it.
bool TryLock(FileHandle file) {
    int result;
    do
        result = ::flock(Fd(file), LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

LockFileOutcome OpenLockFile(const std::string& path, FileHandle& file) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        // Another user's lock file may be read-only for us; a lock needs no write access.
        if (fd < 0 && errno == EACCES) {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0 && errno == ENOENT)
                errno = EACCES; // no such file to read: the folder refused to make it
        }
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return LockFileOutcome::Failed;
    file = fd;
    return LockFileOutcome::Opened;
}

void SleepMilliseconds(int milliseconds) {
    timespec wait{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
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

EntryStatus EntryOf(const std::string& path) {
    struct stat st {};
    EntryStatus entry;
    if (::lstat(path.c_str(), &st) != 0)
        return entry;
    entry.Kind = S_ISLNK(st.st_mode)   ? EntryKind::Link
                 : S_ISDIR(st.st_mode) ? EntryKind::Folder
                 : S_ISREG(st.st_mode) ? EntryKind::File
                                       : EntryKind::Other;
    entry.Mine = st.st_uid == ::geteuid();
    return entry;
}

CreateOutcome MakeNewFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0)
        return CreateOutcome::Created;
    return errno == EEXIST ? CreateOutcome::Exists : CreateOutcome::Failed;
}

bool RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

std::string TempFolder() {
    std::string folder;
    if (!GetEnvironment("TMPDIR", folder) || folder.empty() || folder[0] != '/')
        folder = "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool GetEnvironment(const std::string& name, std::string& value) {
    const char* found = std::getenv(name.c_str());
    if (!found)
        return false;
    value = found;
    return true;
}

namespace {

// Processes let go of before they ended: reaped whenever another process call comes, so
// that none stays behind as a zombie for long.
std::mutex releasedGuard;
std::vector<pid_t> released;

void ReapReleased() {
    const std::lock_guard<std::mutex> hold(releasedGuard);
    std::erase_if(released, [](pid_t pid) {
        int status = 0;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        return got == pid || (got < 0 && errno != EINTR);
    });
}

} // namespace

StartOutcome StartProgram(const std::vector<std::string>& words, ProcessHandle& process) {
    ReapReleased();
    if (words.empty() || words[0].empty()) {
        errno = ENOENT;
        return StartOutcome::NotFound;
    }
    std::vector<std::string> copies = words;
    std::vector<char*> argv;
    for (std::string& word : copies)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    // The C library reports a program that cannot be run as the call's own result.
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        errno = error;
        return error == ENOENT || error == ENOTDIR ? StartOutcome::NotFound : StartOutcome::Failed;
    }
    process = static_cast<ProcessHandle>(pid);
    return StartOutcome::Started;
}

StartOutcome OpenWithDefaultApplication(const std::string& path, ProcessHandle& process,
                                        std::string& opener) {
#ifdef __APPLE__
    opener = "open";
#else
    opener = "xdg-open";
#endif
    // A name that begins with '-' would be read as an option.
    const std::string named = !path.empty() && path[0] == '-' ? "./" + path : path;
    return StartProgram({opener, named}, process);
}

bool ProcessEnded(ProcessHandle process, int milliseconds, int& status) {
    const auto pid = static_cast<pid_t>(process);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int raw = 0;
        const pid_t got = ::waitpid(pid, &raw, WNOHANG);
        if (got == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : 0;
            return true;
        }
        if (got < 0 && errno != EINTR) {
            status = 0; // reaped by someone else: nothing more is known of it
            return true;
        }
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return false;
        const auto step = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        SleepMilliseconds(static_cast<int>(step < 10 ? (step < 1 ? 1 : step) : 10));
    }
}

void ReleaseProcess(ProcessHandle process) {
    if (process == kNoProcess)
        return;
    {
        const std::lock_guard<std::mutex> hold(releasedGuard);
        released.push_back(static_cast<pid_t>(process));
    }
    ReapReleased();
}

bool ProcessRunning(std::uint64_t number) {
    if (number == 0 || number > static_cast<std::uint64_t>(INT_MAX))
        return false;
    // Another user's process may not be signalled, but it is running.
    return ::kill(static_cast<pid_t>(number), 0) == 0 || errno == EPERM;
}

namespace {

// The names to remove on a termination request. A handler may interrupt a change of this
// list at any point: a name is written before its slot is published and unpublished before
// it is freed, so the handler only ever reads whole names.
constexpr int kRemoveSlots = 64;
std::atomic<char*> toRemove[kRemoveSlots];
// Set from the commit point on; a request that arrives then is kept in `heldSignal`.
volatile std::sig_atomic_t holding = 0;
volatile std::sig_atomic_t heldSignal = 0;

void EndNow(int signal) {
    for (auto& slot : toRemove)
        if (const char* path = slot.load())
            ::unlink(path);
    ::_exit(128 + signal);
}

extern "C" void OnEndRequest(int signal) {
    if (holding) {
        heldSignal = signal;
        return;
    }
    EndNow(signal);
}

// Blocks the requests for a moment, so the handler cannot run between two of our steps.
struct RequestsBlocked {
    sigset_t old;
    RequestsBlocked() {
        sigset_t requests;
        sigemptyset(&requests);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&requests, signal);
        ::sigprocmask(SIG_BLOCK, &requests, &old);
    }
    ~RequestsBlocked() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
};

} // namespace

int RemoveOnTermination(const std::string& path) {
    char* copy = ::strdup(path.c_str());
    if (!copy)
        return -1;
    for (int k = 0; k < kRemoveSlots; ++k) {
        char* expected = nullptr;
        if (toRemove[k].compare_exchange_strong(expected, copy))
            return k;
    }
    std::free(copy);
    return -1;
}

void DropRemoveOnTermination(int token) {
    if (token < 0 || token >= kRemoveSlots)
        return;
    std::free(toRemove[token].exchange(nullptr));
}

void HoldTerminationRequests() {
    holding = 1;
}

void ReleaseTerminationRequests() {
    int signal = 0;
    {
        const RequestsBlocked blocked;
        holding = 0;
        signal = heldSignal;
        heldSignal = 0;
    }
    if (signal != 0)
        EndNow(signal);
}

void EndOnTerminationRequests() {
    struct sigaction action = {};
    action.sa_handler = OnEndRequest;
    sigfillset(&action.sa_mask); // one request at a time
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A parent may start us with the requests blocked so that none is lost before this point.
    sigset_t requests;
    sigemptyset(&requests);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&requests, signal);
    ::sigprocmask(SIG_UNBLOCK, &requests, nullptr);
}

} // namespace kiv::platform
