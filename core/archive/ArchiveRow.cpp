#include "archive/ArchiveRow.h"

#include "base/FileStream.h"
#include "base/TextConv.h"

#include <algorithm>
#include <cstring>

namespace kiv {

std::string UnsafeNameReason(const std::string& name) {
    if (name.empty())
        return "the name is empty";
    if (name == "." || name == "..")
        return "the name stands for a folder";
    if (name[0] == '/' || name[0] == '\\')
        return "the name is an absolute path";
    if (name.find_first_of("/\\") != std::string::npos)
        return "the name contains a path separator";
    const auto first = static_cast<unsigned char>(name[0]);
    if (name.size() >= 2 && name[1] == ':' &&
        ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')))
        return "the name begins with a drive prefix";
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "the name contains a control character";
    return std::string();
}

std::string StaleListingMessage(const InFile& archive, const std::string& archivePath,
                                const ArchiveRow& row, std::int32_t rowIndex,
                                std::int32_t memberCount) {
    unsigned char count[4];
    // Rows the file can hold: a directory cut short by the end of the file lists only those.
    const std::int64_t present = std::max<std::int64_t>(archive.Length() - 8, 0) / ArchiveEntrySize;
    const std::int64_t listed =
        archive.ReadExactlyAt(0, count, sizeof count)
            ? std::min<std::int64_t>(std::max<std::int32_t>(GetInt32LE(count), 0), present)
            : 0;
    // The entry of row r is its 13-byte name and end word; the word before it is its start.
    unsigned char entry[4 + ArchiveEntrySize];
    bool same = listed == memberCount && rowIndex >= 1 && rowIndex <= listed &&
                archive.ReadExactlyAt(EndWordOffset(rowIndex - 1), entry, sizeof entry);
    if (same) {
        const auto* name = entry + 4;
        const void* nul = std::memchr(name, 0, ArchiveNameSize);
        const std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - name)
                : static_cast<std::size_t>(ArchiveNameSize);
        same = static_cast<std::uint32_t>(GetInt32LE(entry)) == row.Start &&
               static_cast<std::uint32_t>(GetInt32LE(entry + 4 + ArchiveNameSize)) == row.Finish &&
               row.Name == std::string(reinterpret_cast<const char*>(name), length);
    }
    if (same)
        return std::string();
    return "The archive " + archivePath +
           " has changed since it was listed. Load it again and retry; nothing was written.";
}

} // namespace kiv
