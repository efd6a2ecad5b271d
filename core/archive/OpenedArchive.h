#pragma once
// An archive opened to read its members: the file, its listing, its directory as stored and
// each member's place among the members of its name, the key by which members of two
// archives pair up (the second "tile.s16" of one with the second of the other).

#include "archive/ArchiveDirectory.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class InFile;

class OpenedArchive {
public:
    using NameField = std::array<unsigned char, ArchiveNameSize>;

    // Opens and lists `path`. File() is null when the file does not open; Fault() says why
    // it is not a readable archive. The directory is read again (for the first start and the
    // bytes after each name's NUL) only for a readable one; throws EReadError when the file
    // no longer holds it.
    explicit OpenedArchive(const std::string& path);
    ~OpenedArchive();
    OpenedArchive(OpenedArchive&&) noexcept;
    OpenedArchive& operator=(OpenedArchive&&) noexcept;

    const std::string& Path() const { return path_; }
    bool Opened() const { return file_ != nullptr; }
    InFile& File() const { return *file_; }
    // Closes the file (before an output replaces it).
    void Close();
    const ArchiveListing& Listing() const { return listing_; }
    // "", or ArchiveFault's or FirstDamagedMember's text; "it did not open" when the listing
    // could not read it.
    const std::string& Fault() const { return fault_; }

    std::int32_t Rows() const { return static_cast<std::int32_t>(listing_.Entries.size()); }
    const TArchiveEntry& Entry(std::int32_t row) const {
        return listing_.Entries[static_cast<std::size_t>(row - 1)];
    }
    std::int64_t Size(std::int32_t row) const {
        return std::int64_t{Entry(row).Finish} - Entry(row).Start;
    }
    std::int64_t Length() const;
    std::int64_t DirectoryEnd() const { return kiv::DirectoryEnd(Rows()); }
    std::uint32_t FirstStart() const { return firstStart_; }
    // Where the first member starts and the last ends (the first start, for none), each kept
    // within the file and behind the directory.
    std::int64_t MembersStart() const;
    std::int64_t MembersEnd() const;
    const NameField& Field(std::int32_t row) const {
        return fields_[static_cast<std::size_t>(row - 1)];
    }
    std::string FieldText(std::int32_t row) const {
        return std::string(Field(row).begin(), Field(row).end());
    }

    // 1 for the first member of its name, 2 for the next.
    std::int32_t Occurrence(std::int32_t row) const {
        return occurrence_[static_cast<std::size_t>(row - 1)];
    }
    // Members listed under `name`.
    std::int32_t Listed(const std::string& name) const;
    // The row of the `occurrence`th member named `name`, or 0.
    std::int32_t RowOf(const std::string& name, std::int32_t occurrence) const;
    // For each row of `other` (index 1 on), the row here of the same name and occurrence, or 0.
    std::vector<std::int32_t> PairedRows(const OpenedArchive& other) const;

private:
    std::string path_;
    std::unique_ptr<InFile> file_;
    ArchiveListing listing_;
    std::string fault_;
    std::uint32_t firstStart_ = 0;
    std::vector<NameField> fields_;
    std::vector<std::int32_t> occurrence_;
    std::map<std::string, std::int32_t> named_;
    std::map<std::pair<std::string, std::int32_t>, std::int32_t> rows_;
};

} // namespace kiv
