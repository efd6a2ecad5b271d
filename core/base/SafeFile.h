#pragma once
// The one way this tool writes a file: into a temporary file beside the target, renamed
// over the target only once everything was written. A failure at any point leaves the
// earlier file as it was and no temporary file behind.

#include "base/Platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class InFile;

class SafeFile {
public:
    // Creates the temporary file in the target's folder. Throws EFCreateError (with
    // `target` as given) when the folder is not writable or the target exists and is not a
    // regular file (a folder, a pipe, a device, or a link to one).
    explicit SafeFile(std::string target);
    // Discards the temporary file unless Commit() succeeded.
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

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
    void DropTargetCache() { platform::DropCachedPages(target_); }
    // Bytes written so far.
    std::int64_t Size() const { return size_; }

    // Flushes the bytes to the disk, closes, renames into place and flushes the folder, so
    // a power cut leaves the earlier file or the new one, never a partial one. Throws
    // EWriteError and discards on failure.
    void Commit();
    void Discard();
    // Closes the temporary file and keeps its name reserved: unless committed it is still
    // removed at the end. Another writer may then put a file in its place, which Windows
    // refuses while the file is open. Nothing more can be written through this object.
    void CloseTemporary();

    const std::string& Target() const { return target_; }
    const std::string& TempPath() const { return tempPath_; }

private:
    // Discards the output and throws EWriteError with the system's reason for the call that
    // just failed.
    [[noreturn]] void Failed(const std::string& message = "Stream write error");

    // Copies through buffer_ with large reads and writes; false when a write failed.
    bool CopyBuffered(InFile& source, std::int64_t& in, std::int64_t& left, std::int64_t& copied);

    std::string target_;
    std::string tempPath_;
    platform::FileHandle file_ = platform::kNoFile;
    std::vector<unsigned char> buffer_; // reused by every buffered copy of this file
    std::int64_t size_ = 0;
    bool committed_ = false;
};

// Writes a whole block as `target` through a SafeFile.
void WriteWholeFile(const std::string& target, const void* data, std::size_t count);

} // namespace kiv
