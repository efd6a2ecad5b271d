#include "base/SafeFile.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/PathName.h"

#include "base/TextConv.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

namespace kiv {

namespace {

std::atomic<unsigned> tempCounter{0};

// The block of the buffered copy: small enough to stay in the processor's cache between the
// read and the write.
constexpr std::int64_t kCopyBlock = 256 << 10;
// Page size of the file cache on the systems we build for.
constexpr std::int64_t kPageSize = 4096;

// How long a run waits for another run's lock, and how often it looks again meanwhile.
constexpr int kLockWaitMs = 2000;
constexpr int kLockPollMs = 20;

// Work files are named apart from the output, and short, so any name the folder takes for
// the output works: ".kiv-<process>-<n>.tmp" for a temporary file, ".kiv-<hash>.lock" for
// the lock of the output whose name hashes to <hash>.
constexpr const char* kWorkPrefix = ".kiv-";

std::string LockFileName(const std::string& base) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (char c : base) {
#ifdef _WIN32
        // One file whatever the case of its name.
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
#endif
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    static const char digits[] = "0123456789abcdef";
    std::string name = kWorkPrefix;
    for (int shift = 28; shift >= 0; shift -= 4)
        name += digits[(hash >> shift) & 0xF];
    return name + ".lock";
}

bool AllOf(const std::string& text, std::size_t from, std::size_t to, const char* set) {
    if (from >= to)
        return false;
    for (std::size_t k = from; k < to; ++k)
        if (std::strchr(set, text[k]) == nullptr)
            return false;
    return true;
}

// Whether the open file is still the one `path` names: a lock taken on a file that another
// run removed meanwhile guards nothing.
bool StillNamed(platform::FileHandle file, const std::string& path) {
    platform::FileStatus held, named;
    return platform::StatusOf(file, held) && platform::StatusOf(path, named) &&
           held.Device == named.Device && held.Node == named.Node;
}

// Whether an open work-file name holds what this tool puts there: a lock file is empty and
// has no other name.
bool OurWorkFile(platform::FileHandle file, const std::string& name) {
    platform::FileStatus status;
    if (!platform::StatusOf(file, status) || !status.Regular)
        return false;
    const bool lock = name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0;
    return !lock || (status.Size == 0 && status.Links <= 1);
}

// Why the entry at a lock file's place is in the way, or "" when it may be a lock file.
std::string InTheWay(const std::string& path) {
    switch (platform::EntryOf(path).Kind) {
    case platform::EntryKind::Link:
        return "a symbolic link";
    case platform::EntryKind::Folder:
        return "a folder";
    case platform::EntryKind::Other:
        return "not a regular file";
    case platform::EntryKind::File:
    case platform::EntryKind::Missing:
        break;
    }
    return {};
}

// The fault of an output whose lock file's name is taken by something this tool did not make.
WriteFault Squatted(const std::string& target, const std::string& path, const std::string& what) {
    return {path, false,
            "the entry " + path + " where its lock file goes is " + what +
                ", not a lock file this tool made; remove it and write again",
            target};
}

// Removes, once per folder and process, the work files of runs that ended without
// cleaning up (killed, or a power cut): a file whose lock can be taken has no writer.
void SweepFolder(const std::string& folder) {
    static std::set<std::string> swept;
    const std::string key = platform::ResolvedPath(folder.empty() ? std::string(".") : folder);
    if (key.empty() || !swept.insert(key).second)
        return;
    std::vector<std::string> names;
    if (!platform::ListFolder(folder, names))
        return;
    for (const std::string& name : names) {
        if (!IsWorkFileName(name))
            continue;
        // Only a file this tool made: never through a link, never a folder, and for a lock
        // an empty file of one name.
        const std::string path = folder + name;
        const platform::FileHandle file = platform::OpenEntryForReading(path);
        if (file == platform::kNoFile)
            continue;
        if (OurWorkFile(file, name) && platform::TryLock(file) && StillNamed(file, path))
            platform::RemoveFile(path);
        platform::Close(file);
    }
}

} // namespace

bool IsWorkFileName(const std::string& name) {
    const std::size_t prefix = std::strlen(kWorkPrefix);
    if (name.rfind(kWorkPrefix, 0) != 0)
        return false;
    const auto endsWith = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return name.size() > prefix + n && name.compare(name.size() - n, n, suffix) == 0;
    };
    if (endsWith(".lock"))
        return name.size() == prefix + 8 + 5 && AllOf(name, prefix, prefix + 8, "0123456789abcdef");
    if (!endsWith(".tmp"))
        return false;
    const std::size_t end = name.size() - 4;
    const std::size_t dash = name.find('-', prefix);
    return dash < end && AllOf(name, prefix, dash, "0123456789") &&
           AllOf(name, dash + 1, end, "0123456789");
}

std::string OutputFileOf(const std::string& target) {
    std::string path = target;
    // As many links as the system itself follows before it gives up.
    for (int hop = 0; hop < 40; ++hop) {
        std::string link;
        if (!platform::ReadLink(path, link))
            break;
        path = link.front() == '/' ? link : SplitFolder(path).first + link;
    }
    return path;
}

struct HeldOutputLock {
    platform::FileHandle File = platform::kNoFile;
    std::string Path;
    int Token = -1;
    platform::FileStatus Identity;
    std::vector<FileStamp> Inputs;
    ~HeldOutputLock() {
        // Removed while still held, so no other run can have taken it meanwhile; a run
        // that opened it before and takes it now sees that the name has gone.
        platform::RemoveFile(Path);
        platform::Close(File);
        platform::DropRemoveOnTermination(Token);
    }
};

namespace {

// The locks this process holds, so that a second guard of the same output shares the first
// (a second lock of the same file would wait on this process itself).
std::vector<std::weak_ptr<HeldOutputLock>> heldLocks;

std::shared_ptr<HeldOutputLock> AlreadyHeld(platform::FileHandle file) {
    platform::FileStatus status;
    if (!platform::StatusOf(file, status))
        return nullptr;
    std::shared_ptr<HeldOutputLock> found;
    std::erase_if(heldLocks, [&](const std::weak_ptr<HeldOutputLock>& weak) {
        auto held = weak.lock();
        if (held && held->Identity.Device == status.Device && held->Identity.Node == status.Node)
            found = held;
        return !held;
    });
    return found;
}

} // namespace

OutputLock::OutputLock(const std::string& target) {
    const auto [folder, base] = SplitFolder(OutputFileOf(target));
    if (base.empty())
        throw EFCreateError(target);
    const std::string path = folder + LockFileName(base);
    for (int waited = 0;; waited += kLockPollMs) {
        platform::FileHandle file = platform::kNoFile;
        const platform::LockFileOutcome opened = platform::OpenLockFile(path, file);
        if (opened == platform::LockFileOutcome::Failed) {
            const std::string reason = platform::LastErrorText();
            if (const std::string what = InTheWay(path); !what.empty())
                throw EFCreateError(target, Squatted(target, path, what));
            throw EFCreateError(target, WriteFault{ShownFolder(folder), true, reason, target});
        }
        if (opened == platform::LockFileOutcome::Opened && !OurWorkFile(file, path)) {
            platform::Close(file);
            const std::string what = InTheWay(path);
            throw EFCreateError(
                target, Squatted(target, path,
                                 what.empty() ? "a file with contents or names of its own" : what));
        }
        if (opened == platform::LockFileOutcome::Opened) {
            if (auto held = AlreadyHeld(file)) {
                platform::Close(file);
                held_ = std::move(held);
                return;
            }
            if (platform::TryLock(file) && StillNamed(file, path)) {
                // Only once it is ours: a lock file another run holds is never removed here.
                // A request that ends the process before this leaves a lock file no one
                // holds, which the next write into the folder sweeps.
                held_ = std::make_shared<HeldOutputLock>();
                held_->File = file;
                held_->Path = path;
                held_->Token = platform::RemoveOnTermination(path);
                platform::StatusOf(file, held_->Identity);
                heldLocks.push_back(held_);
                return;
            }
            platform::Close(file);
        }
        if (waited >= kLockWaitMs)
            throw EOutputBusy(EscapedText(target));
        platform::SleepMilliseconds(kLockPollMs);
    }
}

void OutputLock::Watch(const FileStamp& stamp) {
    held_->Inputs.push_back(stamp);
}

// A request kept back since an earlier output's commit point ends the run before this output
// is begun: that output is in place, this one has not started.
std::string ReleasedTarget(std::string target) {
    platform::ReleaseTerminationRequests();
    return target;
}

SafeFile::SafeFile(std::string target)
    : target_(ReleasedTarget(std::move(target))), finalPath_(OutputFileOf(target_)),
      lock_(target_) {
    platform::FileStatus st;
    // Only a regular file is ever replaced: renaming over a device or a pipe would replace
    // the node itself (as root, /dev/null), and over a folder it fails.
    const bool replacing = platform::StatusOf(finalPath_, st);
    if (replacing && !st.Regular)
        throw EFCreateError(target_,
                            WriteFault{target_, false,
                                       platform::IsFolder(finalPath_) ? "it is a folder"
                                                                      : "it is not a regular file",
                                       target_});
    folder_ = SplitFolder(finalPath_).first;
    SweepFolder(folder_);

    // A new file gets the usual mode; a replaced one keeps its own.
    const std::uint32_t mode = replacing ? st.Mode : 0666;
    bool failed = false;
    for (int attempt = 0; attempt < 100 && file_ == platform::kNoFile && !failed; ++attempt) {
        tempPath_ = folder_ + kWorkPrefix + std::to_string(platform::ProcessNumber()) + "-" +
                    std::to_string(tempCounter++) + ".tmp";
        tempToken_ = platform::RemoveOnTermination(tempPath_);
        switch (platform::CreateNew(tempPath_, mode, file_)) {
        case platform::CreateOutcome::Created:
            // The writer's lock tells a sweep that the file is in use. A sweep that came
            // between the creation and the lock has removed it: then take another name.
            if (!platform::TryLock(file_) || !StillNamed(file_, tempPath_)) {
                platform::Close(file_);
                file_ = platform::kNoFile;
            }
            break;
        case platform::CreateOutcome::Exists:
            break;
        case platform::CreateOutcome::Failed:
            failed = true;
            break;
        }
        if (file_ == platform::kNoFile) {
            const std::string reason = platform::LastErrorText();
            platform::DropRemoveOnTermination(tempToken_);
            tempToken_ = -1;
            if (failed)
                throw EFCreateError(target_,
                                    WriteFault{ShownFolder(folder_), true, reason, target_});
        }
    }
    if (file_ == platform::kNoFile)
        throw EFCreateError(target_,
                            WriteFault{ShownFolder(folder_), true, std::string(), target_});
    // Creation applied the umask and made the file ours; a replaced file keeps exactly its
    // mode (0666 included) and, where this process may give them, its owner and group. The
    // mode comes last: a change of owner clears the set-user and set-group bits.
    if (replacing) {
        platform::SetOwner(file_, st.Owner, st.Group);
        platform::SetMode(file_, mode);
    }
}

SafeFile::~SafeFile() {
    if (!committed_)
        Discard();
}

void SafeFile::Discard() {
    if (file_ != platform::kNoFile) {
        platform::Close(file_);
        file_ = platform::kNoFile;
    }
    if (!tempPath_.empty() && !committed_) {
        platform::RemoveFile(tempPath_);
        tempPath_.clear();
    }
    platform::DropRemoveOnTermination(tempToken_);
    tempToken_ = -1;
}

void SafeFile::Failed(const std::string& message) {
    // Taken before Discard: its own calls must not replace the reason.
    std::string reason = platform::LastErrorText();
    Discard();
    throw EWriteError(message, std::move(reason), target_);
}

void SafeFile::Write(const void* data, std::size_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (!platform::WriteAll(file_, data, count))
        Failed();
    size_ += static_cast<std::int64_t>(count);
}

void SafeFile::WriteAt(std::int64_t offset, const void* data, std::size_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (!platform::WriteAllAt(file_, offset, data, count))
        Failed();
}

std::int64_t SafeFile::CopyFrom(InFile& source, std::int64_t offset, std::int64_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (offset < 0 || count <= 0)
        return 0;
    // Only bytes the source really has are copied.
    const std::int64_t available = source.Length() > offset ? source.Length() - offset : 0;
    const std::int64_t total = std::min(count, available);
    std::int64_t copied = 0;
    bool ended = false;

    // The kernel's copy where the source and output offsets agree within a page: it moves
    // each byte once inside the kernel, with no page faults. Where they differ, it writes
    // every output page in two pieces and the file takes longer to reach the disk (512 MiB:
    // copy and flush 1.4 s against 1.1 s), so reads and writes through the buffer copy
    // instead, as they do where the kernel cannot copy between these two files. The kernel
    // writes in 64 KiB pieces, each cached in pages only as large as its place in the file
    // allows, so it starts on the output's next block boundary and the bytes before it go
    // through the buffer (1 GiB copied from 64 bytes into a page: 1.0 s against 0.5 s).
    if ((offset - size_) % kPageSize == 0) {
        const std::int64_t head = std::min(total, (kCopyBlock - size_ % kCopyBlock) % kCopyBlock);
        copied = CopyBuffered(source, offset, head);
        ended = copied < head;
        while (!ended && copied < total) {
            const std::int64_t got =
                platform::KernelCopy(source.Handle(), offset + copied, file_, total - copied);
            if (got == platform::kCopyUnsupported)
                break;
            if (got < 0)
                Failed();
            ended = got == 0; // the source ended early
            copied += got;
            size_ += got;
        }
    }
    if (!ended && copied < total)
        copied += CopyBuffered(source, offset + copied, total - copied);
    return copied;
}

std::int64_t SafeFile::CopyBuffered(InFile& source, std::int64_t in, std::int64_t count) {
    // A short range needs no more buffer than its own length.
    const auto need = static_cast<std::size_t>(std::min(count, kCopyBlock));
    if (buffer_.size() < need)
        buffer_.resize(need);
    std::int64_t copied = 0;
    while (copied < count) {
        // Each write ends on a block boundary of the output, where the range allows, so the
        // output is cached in large pages as the kernel's copy above leaves it.
        const std::int64_t want = std::min(count - copied, kCopyBlock - size_ % kCopyBlock);
        const std::int64_t got = platform::ReadAt(source.Handle(), in + copied, buffer_.data(),
                                                  static_cast<std::size_t>(want));
        if (got <= 0)
            break; // the source ended early or cannot be read: the caller sees the count
        if (!platform::WriteAll(file_, buffer_.data(), static_cast<std::size_t>(got)))
            Failed();
        copied += got;
        size_ += got;
    }
    return copied;
}

void SafeFile::Commit() {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    // The bytes reach the disk before the name does: renamed first, a power cut could leave
    // an empty or partial file where the earlier good one was.
    if (!platform::FlushToDisk(file_))
        Failed();
    // Last look at the inputs: an output built from a file that changed meanwhile would
    // silently mix or drop someone's work.
    for (const auto* list : {&inputs_, &lock_.held_->Inputs})
        for (const FileStamp& input : *list)
            if (!input.StillMatches()) {
                Discard();
                throw EInputChanged(EscapedText(input.Path));
            }
    // Renamed while still open and locked, so no sweep can take the file in between. The
    // rename is the commit point: a termination request from here on is kept back, so the
    // run that put its output in place ends with its own status, not an interrupted one.
    platform::HoldTerminationRequests();
    if (!platform::ReplaceFile(tempPath_, finalPath_)) {
        const std::string reason = platform::LastErrorText();
        Discard();
        platform::ReleaseTerminationRequests();
        throw EWriteError("Cannot create file " + target_, reason, target_);
    }
    committed_ = true;
    platform::Close(file_);
    file_ = platform::kNoFile;
    platform::DropRemoveOnTermination(tempToken_);
    tempToken_ = -1;
    // The new name is an entry of the folder, flushed so that it survives a power cut too.
    // The file is in place by now whatever happens, so a folder that cannot be flushed (some
    // file systems refuse) is no failure.
    platform::FlushFolderToDisk(ShownFolder(folder_));
}

void WriteWholeFile(const std::string& target, const void* data, std::size_t count) {
    SafeFile out(target);
    out.Write(data, count);
    out.Commit();
}

} // namespace kiv
