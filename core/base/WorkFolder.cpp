#include "base/WorkFolder.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/Platform.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace kiv {

namespace {

// "kiv-work-<process>-<n>", and in it the lock that its process holds while it runs.
constexpr const char* kFolderPrefix = "kiv-work-";
constexpr const char* kOwnerLock = ".kiv-work.lock";

bool Digits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// The process number in a work folder's name; false for any other name.
bool ProcessOfName(const std::string& name, std::uint64_t& number) {
    const std::size_t prefix = std::strlen(kFolderPrefix);
    if (name.rfind(kFolderPrefix, 0) != 0)
        return false;
    const std::size_t dash = name.find('-', prefix);
    if (dash == std::string::npos || !Digits(name, prefix, dash) ||
        !Digits(name, dash + 1, name.size()) || dash - prefix > 19)
        return false;
    number = std::stoull(name.substr(prefix, dash - prefix));
    return true;
}

// Removes the files and links of a folder, then the folder; a folder inside stays, and with
// it this one.
bool RemoveFolderAndFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (platform::ListFolder(folder, names))
        for (const std::string& name : names) {
            const std::string path = JoinPath(folder, name);
            const platform::EntryKind kind = platform::EntryOf(path).Kind;
            if (kind == platform::EntryKind::File || kind == platform::EntryKind::Link)
                platform::RemoveFile(path);
        }
    return platform::RemoveFolder(folder);
}

// Whether the process that made `folder` has ended: its lock can be taken or, where it has
// none yet (it is being made), no process of that number runs.
bool OwnerEnded(const std::string& folder, std::uint64_t process) {
    const std::string lock = JoinPath(folder, kOwnerLock);
    const platform::EntryKind kind = platform::EntryOf(lock).Kind;
    if (kind == platform::EntryKind::Missing)
        return !platform::ProcessRunning(process);
    if (kind != platform::EntryKind::File)
        return false;
    const platform::FileHandle file = platform::OpenForReading(lock);
    if (file == platform::kNoFile)
        return false;
    const bool ended = platform::TryLock(file);
    platform::Close(file);
    return ended;
}

class OwnFolder {
public:
    ~OwnFolder() { Remove(); }

    std::string Path() {
        const std::lock_guard<std::mutex> hold(guard_);
        if (path_.empty())
            Make();
        return path_;
    }

    void Remove() {
        const std::lock_guard<std::mutex> hold(guard_);
        if (path_.empty())
            return;
        platform::Close(lock_);
        lock_ = platform::kNoFile;
        RemoveFolderAndFiles(path_);
        path_.clear();
    }

private:
    void Make() {
        const std::string parent = platform::TempFolder();
        if (!swept_) {
            SweepWorkFolders(parent);
            swept_ = true;
        }
        const std::string stem = kFolderPrefix + std::to_string(platform::ProcessNumber()) + "-";
        // A name taken already (by someone else, or by this process earlier) is skipped:
        // the folder must be one this process made itself.
        for (int n = 0; n < 100; ++n) {
            const std::string folder = JoinPath(parent, stem + std::to_string(counter_++));
            const platform::CreateOutcome made = platform::MakeNewFolder(folder);
            if (made == platform::CreateOutcome::Exists)
                continue;
            if (made == platform::CreateOutcome::Failed)
                break;
            platform::FileHandle lock = platform::kNoFile;
            if (platform::OpenLockFile(JoinPath(folder, kOwnerLock), lock) ==
                    platform::LockFileOutcome::Opened &&
                platform::TryLock(lock)) {
                lock_ = lock;
                path_ = folder;
                return;
            }
            const std::string reason = platform::LastErrorText();
            if (lock != platform::kNoFile)
                platform::Close(lock);
            RemoveFolderAndFiles(folder);
            throw EFCreateError(folder, WriteFault{folder, true, reason});
        }
        throw EFCreateError(parent, WriteFault{parent, true, platform::LastErrorText()});
    }

    std::mutex guard_;
    std::string path_;
    platform::FileHandle lock_ = platform::kNoFile;
    unsigned counter_ = 0;
    bool swept_ = false;
};

OwnFolder& Own() {
    static OwnFolder folder; // removed as static objects are destroyed at a normal end
    return folder;
}

} // namespace

std::string WorkFolder() {
    return Own().Path();
}

void RemoveWorkFolder() {
    Own().Remove();
}

int SweepWorkFolders(const std::string& parent) {
    std::vector<std::string> names;
    if (!platform::ListFolder(parent, names))
        return 0;
    int removed = 0;
    for (const std::string& name : names) {
        std::uint64_t process = 0;
        if (!ProcessOfName(name, process))
            continue;
        const std::string folder = JoinPath(parent, name);
        const platform::EntryStatus entry = platform::EntryOf(folder);
        if (entry.Kind != platform::EntryKind::Folder || !entry.Mine)
            continue;
        if (OwnerEnded(folder, process) && RemoveFolderAndFiles(folder))
            ++removed;
    }
    return removed;
}

} // namespace kiv
