#include "archive/ArchiveDirectory.h"

#include "base/FileStream.h"
#include "base/TextConv.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr std::int64_t kHeaderSize = 8;
// A directory of up to this many entries comes in with one read; a larger one in blocks of
// this size, so the read buffer stays bounded whatever the archive holds.
constexpr std::int64_t kEntriesPerBlock = 1 << 20;

// The name is the field's text up to its first NUL; a field with no NUL is shown whole
// (all 13 bytes), since nothing beyond the field may be read.
std::string NameFromField(const unsigned char* field) {
    const void* nul = std::memchr(field, 0, ArchiveNameSize);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - field)
            : static_cast<std::size_t>(ArchiveNameSize);
    return std::string(reinterpret_cast<const char*>(field), length);
}

} // namespace

ArchiveListing ListArchive(const std::string& path, std::int64_t maxEntries) {
    ArchiveListing listing;
    auto file = InFile::Open(path);
    if (!file)
        return listing;
    listing.Opened = true;
    listing.FileLength = file->Length();

    unsigned char header[kHeaderSize];
    const std::size_t got = file->Read(header, sizeof header);
    if (got < 4) {
        listing.Truncated = true;
        return listing;
    }
    listing.StoredCount = GetInt32LE(header);
    const std::int64_t count = std::max<std::int32_t>(listing.StoredCount, 0);
    if (got < sizeof header) {
        // Without the first start no entry has a start of its own.
        listing.Truncated = true;
        return listing;
    }
    std::uint32_t start = static_cast<std::uint32_t>(GetInt32LE(header + 4));

    // Only entries the file can hold are read: a count far beyond the file's length
    // allocates nothing.
    const std::int64_t present =
        std::max<std::int64_t>(file->Length() - kHeaderSize, 0) / ArchiveEntrySize;
    listing.Truncated = std::min(count, present) < count;
    const std::int64_t wanted = std::min({count, present, std::max<std::int64_t>(maxEntries, 0)});
    listing.Entries.reserve(static_cast<std::size_t>(wanted));

    std::vector<unsigned char> block;
    for (std::int64_t first = 0; first < wanted; first += kEntriesPerBlock) {
        const std::int64_t entries = std::min(kEntriesPerBlock, wanted - first);
        block.resize(static_cast<std::size_t>(entries * ArchiveEntrySize));
        const std::size_t read = file->Read(block.data(), block.size());
        // The file may have shrunk since it was measured: only complete entries count.
        const std::int64_t complete = static_cast<std::int64_t>(read) / ArchiveEntrySize;
        for (std::int64_t i = 0; i < complete; ++i) {
            const unsigned char* entry = block.data() + i * ArchiveEntrySize;
            const auto finish = static_cast<std::uint32_t>(GetInt32LE(entry + ArchiveNameSize));
            listing.Entries.push_back({NameFromField(entry), start, finish});
            start = finish;
        }
        if (complete < entries) {
            listing.Truncated = true;
            break;
        }
    }
    return listing;
}

std::string ArchiveFault(const ArchiveListing& listing) {
    const std::int64_t length = listing.FileLength;
    const auto at = [](std::int64_t offset) {
        return IntToHex(static_cast<std::uint32_t>(offset), 6);
    };
    if (length < 4)
        return "the file is too short to hold a member count";
    if (listing.StoredCount < 0)
        return "its member count is negative (" + std::to_string(listing.StoredCount) + ")";
    const std::int64_t directoryEnd = DirectoryEnd(listing.StoredCount);
    if (listing.Truncated || length < kHeaderSize)
        return "a directory of " + std::to_string(listing.StoredCount) + " members needs " +
               std::to_string(directoryEnd) + " bytes, the file has " + std::to_string(length);
    if (listing.Entries.empty())
        return {};
    const std::int64_t first = listing.Entries.front().Start;
    if (first < directoryEnd)
        return "the first member starts at " + at(first) +
               ", inside the directory (which ends at " + at(directoryEnd) + ")";
    if (first > length)
        return "the first member starts at " + at(first) + ", past the end of the file (" +
               at(length) + ")";
    return {};
}

std::string MemberFault(const TArchiveEntry& entry, std::int64_t fileLength) {
    if (entry.Finish < entry.Start)
        return "ends at " + OffsetText(entry.Finish) + ", before its start " +
               OffsetText(entry.Start);
    if (entry.Finish > fileLength)
        return "ends at " + OffsetText(entry.Finish) + ", past the end of the file (" +
               OffsetText(static_cast<std::uint32_t>(fileLength)) + ")";
    return {};
}

std::string FirstDamagedMember(const ArchiveListing& listing) {
    for (std::size_t k = 0; k < listing.Entries.size(); ++k) {
        const TArchiveEntry& e = listing.Entries[k];
        if (std::string fault = MemberFault(e, listing.FileLength); !fault.empty())
            return "member " + std::to_string(k + 1) + " (" + e.Name + ") " + fault;
    }
    return {};
}

bool ReadStoredDirectory(const InFile& file, const ArchiveListing& listing,
                         StoredDirectory& directory) {
    std::vector<unsigned char> bytes(
        static_cast<std::size_t>(DirectoryEnd(static_cast<std::int64_t>(listing.Entries.size()))));
    if (!file.ReadExactlyAt(0, bytes.data(), bytes.size()))
        return false;
    directory.FirstStart = static_cast<std::uint32_t>(GetInt32LE(bytes.data() + 4));
    directory.Fields.resize(listing.Entries.size());
    for (std::size_t i = 0; i < directory.Fields.size(); ++i)
        std::copy_n(bytes.data() + DirectoryEnd(static_cast<std::int64_t>(i)), ArchiveNameSize,
                    directory.Fields[i].begin());
    return true;
}

std::string OffsetText(std::uint32_t offset) {
    return IntToHex(offset, 6);
}

} // namespace kiv
