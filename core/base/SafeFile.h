#pragma once
// The one way this tool writes a file: into a temporary file beside the target, renamed
// over the target only once everything was written. A failure at any point leaves the
// earlier file as it was and no temporary file behind.
//
// Around that: one run at a time per output (a lock on a small file beside it, held for the
// whole run), the inputs checked to be the files that were read before the rename, and no
// temporary file outliving its writer (each writer locks its own, and the next write into a
// folder removes those whose writer is gone). An output that is a symbolic link is written
// through: the file it points to gets the new bytes.

#include "base/FileStream.h"
#include "base/Platform.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class InFile;
struct HeldOutputLock;

// Guards one output for a run: an exclusive lock on a small lock file beside the file it
// names (links followed). Another run that wants the same output waits up to two seconds
// and then gives up with EOutputBusy ("X is being written by another run; nothing was
// written."); EFCreateError when no lock file can be made in the folder. Within a process
// the lock of one output is shared: every SafeFile of that output made while an OutputLock
// lives uses it, so a command may take the lock before it reads anything.
class OutputLock {
public:
    explicit OutputLock(const std::string& target);
    // A file read for this output: every SafeFile of the output refuses to replace it
    // (EInputChanged) unless the file still matches the stamp.
    void Watch(const FileStamp& stamp);

private:
    friend class SafeFile;
    std::shared_ptr<HeldOutputLock> held_;
};

class SafeFile {
public:
    // Takes the output's lock, then creates the temporary file in the target's folder.
    // Throws EOutputBusy as OutputLock does, and EFCreateError (with `target` as given) when
    // the folder is not writable or the target exists and is not a regular file (a folder,
    // a pipe, a device, or a link to one).
    explicit SafeFile(std::string target);
    // Discards the temporary file unless Commit() succeeded.
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // An input of this output, checked before the rename as OutputLock::Watch says.
    void WatchInput(const InFile& file) { inputs_.push_back(file.Stamp()); }
    void WatchInput(const FileStamp& stamp) { inputs_.push_back(stamp); }

    // Appends bytes. Throws EWriteError on a failed or short write.
    void Write(const void* data, std::size_t count);
    // Overwrites bytes already written, at an absolute offset. Throws EWriteError.
    void WriteAt(std::int64_t offset, const void* data, std::size_t count);
    // Appends `count` bytes of `source` from `offset`, in large blocks (the kernel's copy where
    // it can). Returns how many bytes the source really had; fewer when it ends early.
    std::int64_t CopyFrom(InFile& source, std::int64_t offset, std::int64_t count);
    // Lets the system drop the cached pages of the file this one will replace. The copy into
    // the temporary file then reuses that memory, as a copy that truncates its output does,
    // instead of growing the cache by a whole file's worth; the target stays whole until
    // Commit. Not for a target that is also an input: it would be read from the disk again.
    void DropTargetCache() { platform::DropCachedPages(finalPath_); }
    // Bytes written so far.
    std::int64_t Size() const { return size_; }

    // Flushes the bytes to the disk, checks the inputs, renames into place and flushes the
    // folder, so a power cut leaves the earlier file or the new one, never a partial one.
    // Throws EWriteError, or EInputChanged, and discards on failure.
    void Commit();
    void Discard();

    const std::string& Target() const { return target_; }
    // The temporary file the bytes go to until Commit: for reading back what was written.
    const std::string& TemporaryPath() const { return tempPath_; }

private:
    // Discards the output and throws EWriteError with the system's reason for the call that
    // just failed.
    [[noreturn]] void Failed(const std::string& message = "Stream write error");

    // Appends up to `count` bytes of `source` from `in` through a buffer; fewer when the
    // source ends early. Throws EWriteError on a failed write.
    std::int64_t CopyBuffered(InFile& source, std::int64_t in, std::int64_t count);

    std::string target_;    // as given, for messages
    std::string finalPath_; // the file replaced: the target with its links followed
    std::string folder_;    // finalPath_'s folder, "" or ending in a separator
    std::string tempPath_;
    int tempToken_ = -1; // its entry in the list of files removed on a termination request
    platform::FileHandle file_ = platform::kNoFile;
    OutputLock lock_;
    std::vector<FileStamp> inputs_;
    std::vector<unsigned char> buffer_; // reused by every buffered copy of this file
    std::int64_t size_ = 0;
    bool committed_ = false;
};

// Writes a whole block as `target` through a SafeFile.
void WriteWholeFile(const std::string& target, const void* data, std::size_t count);

// The file a write to `target` replaces: the target with its symbolic links followed (a
// link's own folder taken for a relative link), whether or not that file exists yet.
std::string OutputFileOf(const std::string& target);

// Whether `name` is one of the temporary or lock files this tool makes in an output's folder.
bool IsWorkFileName(const std::string& name);

} // namespace kiv
