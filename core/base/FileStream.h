#pragma once
// Buffered binary input over one file. Every read reports how much it really got, so no
// caller ever uses a byte that was not read.

#include "base/PathName.h" // JoinPath, PathFileName
#include "base/Platform.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

// A file as it was when it was read: its identity, size and modification time. A file
// replaced, grown, cut or rewritten since then no longer matches.
struct FileStamp {
    std::string Path;
    bool Exists = false;
    platform::FileStatus Status;
    // Whether the path still names this very file, unchanged (or still names nothing).
    bool StillMatches() const;
};
FileStamp StampOf(const std::string& path);

// Why `path` does not open as InFile::Open opens it: "it is a folder", "it is not a regular
// file" (a pipe, a device), or the system's reason ("Too many open files"); "" when it opens.
std::string OpenFault(const std::string& path);

class InFile {
public:
    // Opens `path` for reading; returns nullptr when it cannot be opened or is not a regular
    // file (a folder, a pipe, a device).
    static std::unique_ptr<InFile> Open(const std::string& path);
    ~InFile();
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;

    // Length in bytes, measured at open.
    std::int64_t Length() const { return length_; }
    std::int64_t Position() const { return position_; }
    // Moves to an absolute offset. Offsets past the end are allowed; reads there get nothing.
    void Seek(std::int64_t offset);
    // Reads up to `count` bytes; returns how many were read (fewer only at the end).
    std::size_t Read(void* data, std::size_t count);
    // One byte 0..255, or -1 at the end of the file.
    int ReadByte();
    // A 32-bit little-endian word; false (and `value` untouched) when 4 bytes were not there.
    bool ReadInt32(std::int32_t& value);
    // Reads exactly `count` bytes at `offset` straight from the file, past the buffer and
    // without moving; false when they are not all there.
    bool ReadExactlyAt(std::int64_t offset, void* data, std::size_t count) const;

    platform::FileHandle Handle() const { return file_; }
    const std::string& Path() const { return path_; }
    // The file as it was when opened.
    FileStamp Stamp() const { return {path_, true, status_}; }

private:
    InFile(platform::FileHandle file, std::string path, const platform::FileStatus& status);
    bool Fill();

    platform::FileHandle file_;
    std::string path_;
    platform::FileStatus status_;
    std::int64_t length_;
    std::int64_t position_ = 0;
    std::vector<unsigned char> buffer_;
    std::int64_t bufferStart_ = 0; // file offset of buffer_[0]
    std::size_t bufferSize_ = 0;   // valid bytes in buffer_
};

// Little-endian helpers for byte buffers.
inline std::int32_t GetInt32LE(const unsigned char* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}
inline void PutInt32LE(unsigned char* p, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// True when both paths name one existing file (same device and inode).
bool SameFile(const std::string& a, const std::string& b);
// True when `path` names a regular file (links followed): one an output would replace.
bool IsRegularFile(const std::string& path);

// Why a file of a folder that someone else may have made is not taken as data: "it is a
// symbolic link", "it is a hard link ..." (a file with more than one name may be one from
// anywhere on the disk), or "it lies outside FOLDER" once every link on the way is resolved;
// "" for a file the folder itself holds, and for any file when `allowLinks`.
std::string ForeignFileFault(const std::string& folder, const std::string& path,
                             bool allowLinks = false);

// True when the file at `path` holds exactly `count` bytes equal to those of `source` from
// `offset` on (or to `data`); false when it differs, is missing or cannot be read. Reads in
// blocks, so a large file costs no more memory than a small one.
bool FileHolds(const std::string& path, InFile& source, std::int64_t offset, std::int64_t count);
bool FileHolds(const std::string& path, const void* data, std::size_t count);

// Compares byte ranges of open files a block at a time, through two buffers of its own that
// every call reuses, so comparing gigabytes costs two blocks of memory. Reads go through the
// files' own buffered reads: ranges visited in file order (members of an archive, the icons'
// data of a sprite file) cost few system calls however small they are.
class RangeComparer {
public:
    // True when the `count` bytes of `a` from `aOffset` on equal those of `b` from `bOffset`
    // on; false when they differ or either file ends before them. `a` and `b` may be one file.
    bool Equal(InFile& a, std::int64_t aOffset, InFile& b, std::int64_t bOffset,
               std::int64_t count);

private:
    std::vector<unsigned char> ours_, theirs_;
};

} // namespace kiv
