#include "archive/OpenedArchive.h"

#include "base/Errors.h"
#include "base/FileStream.h"

#include <algorithm>

namespace kiv {

OpenedArchive::OpenedArchive(const std::string& path) : path_(path) {
    file_ = InFile::Open(path);
    if (!file_)
        return;
    listing_ = ListArchive(path);
    fault_ = listing_.Opened ? ArchiveFault(listing_) : std::string("it did not open");
    if (fault_.empty())
        fault_ = FirstDamagedMember(listing_);
    if (!fault_.empty())
        return;
    StoredDirectory directory;
    if (!ReadStoredDirectory(*file_, listing_, directory))
        throw EReadError();
    firstStart_ = directory.FirstStart;
    fields_ = std::move(directory.Fields);
    occurrence_.reserve(listing_.Entries.size());
    for (std::int32_t r = 1; r <= Rows(); ++r) {
        occurrence_.push_back(++named_[Entry(r).Name]);
        rows_.emplace(std::make_pair(Entry(r).Name, occurrence_.back()), r);
    }
}

OpenedArchive::~OpenedArchive() = default;
OpenedArchive::OpenedArchive(OpenedArchive&&) noexcept = default;
OpenedArchive& OpenedArchive::operator=(OpenedArchive&&) noexcept = default;

void OpenedArchive::Close() {
    file_.reset();
}

std::int64_t OpenedArchive::Length() const {
    return file_->Length();
}

std::int64_t OpenedArchive::MembersStart() const {
    return std::clamp<std::int64_t>(firstStart_, DirectoryEnd(),
                                    std::max(DirectoryEnd(), Length()));
}

std::int64_t OpenedArchive::MembersEnd() const {
    const std::int64_t end = Rows() > 0 ? std::int64_t{Entry(Rows()).Finish} : firstStart_;
    return std::clamp(end, DirectoryEnd(), std::max(DirectoryEnd(), Length()));
}

std::int32_t OpenedArchive::Listed(const std::string& name) const {
    const auto found = named_.find(name);
    return found == named_.end() ? 0 : found->second;
}

std::int32_t OpenedArchive::RowOf(const std::string& name, std::int32_t occurrence) const {
    const auto found = rows_.find({name, occurrence});
    return found == rows_.end() ? 0 : found->second;
}

std::vector<std::int32_t> OpenedArchive::PairedRows(const OpenedArchive& other) const {
    std::vector<std::int32_t> paired(static_cast<std::size_t>(other.Rows()) + 1, 0);
    for (std::int32_t r = 1; r <= other.Rows(); ++r)
        paired[static_cast<std::size_t>(r)] = RowOf(other.Entry(r).Name, other.Occurrence(r));
    return paired;
}

} // namespace kiv
