#pragma once
// The zip framing of the files this tool makes for others to read: local headers, entries
// stored or deflated, a central directory and its end record. Only what those files need:
// no zip64 (the file and every entry stay below 4 GiB, at most 65535 entries), no
// encryption, no multi-part files. The reader takes files from strangers: every size and
// offset is checked against the file before it is used, memory stays bounded whatever the
// sizes claim, and names are only ever compared, never used as paths.

#include "base/Errors.h"
#include "base/Zlib.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class InFile;
class SafeFile;

// A zip file that cannot be read as one, or an entry whose bytes are damaged. The message
// says what is wrong ("the central directory lies outside the file").
class EBadZip : public Exception {
public:
    using Exception::Exception;
};

inline constexpr std::int64_t ZipMaxOffset = 0xFFFFFFFELL; // 0xFFFFFFFF would mean zip64
inline constexpr std::size_t ZipMaxEntries = 0xFFFF;

enum class ZipMethod : std::uint16_t { Stored = 0, Deflated = 8 };

// Writes entries one at a time into `out`, then the central directory. Each local header is
// written before its data and completed afterwards (checksum and sizes), so an entry of any
// size streams through. Every date is 1980-01-01, so the same entries give the same file.
// A write failure throws EWriteError; a file or entry past the limits above throws
// EWriteError too, with the limit in its message.
class ZipWriter {
public:
    explicit ZipWriter(SafeFile& out);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // `level`: zlib's compression level for a deflated entry.
    void Begin(const std::string& name, ZipMethod method, int level = ZlibBestLevel);
    void Write(const void* data, std::size_t count);
    // Writes `count` bytes of `source` from `offset`; false when the source ends early.
    bool Copy(const InFile& source, std::int64_t offset, std::int64_t count);
    // Bytes given to the open entry so far.
    std::int64_t EntrySize() const { return entries_.back().Size; }
    // Completes the entry; returns the CRC-32 of its bytes.
    std::uint32_t End();
    // The central directory and its end record; the caller then commits the file.
    void Finish();

private:
    struct Written {
        std::string Name;
        ZipMethod Method;
        std::uint32_t Crc;
        std::int64_t Compressed;
        std::int64_t Size;
        std::int64_t HeaderOffset;
    };
    void Emit(const void* data, std::size_t count);
    ByteSink Sink();

    SafeFile& out_;
    std::vector<Written> entries_;
    bool open_ = false;
    std::optional<Deflater> deflater_;
};

struct ZipEntry {
    std::string Name;
    ZipMethod Method = ZipMethod::Stored;
    std::uint32_t Crc = 0;
    std::int64_t CompressedSize = 0;
    std::int64_t Size = 0;
    std::int64_t DataOffset = 0; // of the stored or compressed bytes in the file
};

// The entries of a zip file, from its central directory, each checked against its local
// header. Throws EBadZip.
class ZipReader {
public:
    explicit ZipReader(const InFile& file);
    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // The entry of this exact name, or nullptr.
    const ZipEntry* Find(const std::string& name) const;

private:
    std::vector<ZipEntry> entries_;
    std::map<std::string, std::size_t> index_;
};

// The bytes of one entry, inflated where deflated, in order. Never yields more than the
// entry's size; at its end checks that the size and the CRC-32 came out as the directory
// says. Throws EBadZip on damaged data.
class ZipEntryReader {
public:
    ZipEntryReader(const InFile& file, const ZipEntry& entry);

    // Reads up to `count` bytes; fewer only at the entry's end.
    std::size_t Read(void* data, std::size_t count);
    // Reads exactly `count` bytes or throws EBadZip ("ends early").
    void ReadExactly(void* data, std::size_t count);
    // Passes over `count` bytes. A stored entry just moves on; its checksum, which covers
    // every byte, is then no longer checked at its end.
    void Skip(std::int64_t count);
    std::int64_t Position() const { return produced_; }
    const ZipEntry& Entry() const { return entry_; }

private:
    bool Fill();
    void Stalled(InflateStatus status, std::size_t progress);
    void Check();

    const InFile& file_;
    ZipEntry entry_;
    std::int64_t consumed_ = 0; // compressed bytes taken from the file
    std::int64_t produced_ = 0;
    std::uint32_t crc_ = 0;
    std::optional<Inflater> inflater_;
    bool ended_ = false;
    bool skipped_ = false; // bytes of a stored entry were passed over unread
    std::vector<unsigned char> in_;
    std::size_t inStart_ = 0;
    std::size_t inSize_ = 0;
};

} // namespace kiv
