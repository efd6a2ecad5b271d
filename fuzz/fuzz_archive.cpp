// The archive browser's reading of a stranger's archive: the directory listing, Test over
// every listed row, and for each member the icon headers and pixel counts that selecting
// its row shows. The first members are also extracted and replaced (into the scratch
// folder), which must leave the archive as it was.

#include "FuzzSupport.h"

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveVerify.h"
#include "archive/MemberExtract.h"
#include "archive/MemberReplace.h"
#include "archive/MemberSummary.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "sprite/IconDecoder.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Every member's row is selected; the first ones are also previewed (the rest are alike).
constexpr std::size_t kPreviewedMembers = 64;
constexpr std::size_t kWrittenMembers = 2;
// Previews per member, and the largest frame previewed (larger ones only cost time).
constexpr std::size_t kPreviewIcons = 2;
constexpr std::int64_t kPreviewPixels = std::int64_t{1} << 20;

// What selecting the member's row shows: its header grid and pixel counts, then the
// preview of its first icons, decoded from the archive as the browser does.
void SelectRow(const std::string& archive, const kiv::TArchiveEntry& entry, bool preview) {
    const kiv::MemberSummary summary = kiv::SummariseMember(archive, entry.Start);
    if (summary.Headers.size() > static_cast<std::size_t>(std::max(0, summary.MemberIconCount)))
        kivfuzz::Fail("more header columns than the member's icon count");
    std::size_t cells = 0;
    for (const kiv::TIconHeader& header : summary.Headers)
        for (int row = kiv::HeaderRow::Width; row <= kiv::HeaderRow::Aux; ++row)
            cells += kiv::HeaderCellText(header, row).size();
    if (summary.PixCount.size() > summary.Headers.size())
        kivfuzz::Fail("more pixel counts than header columns");
    (void)cells;
    if (!preview)
        return;

    auto in = kiv::InFile::Open(archive);
    const std::size_t previews = std::min(summary.Headers.size(), kPreviewIcons);
    for (std::size_t i = 0; in && i < previews; ++i) {
        const kiv::TIconHeader& header = summary.Headers[i];
        if (std::int64_t{header.FWidth} * header.FHeight > kPreviewPixels)
            continue;
        try {
            kiv::DecodeIcon(*in, summary.PixelBase + header.Starts, header);
        } catch (const kiv::EFrameTooLarge&) {
        }
    }
}

// Extracts under the member's own name (the current folder is the scratch folder) and to a
// chosen path, then replaces the member by what was extracted.
void ExtractAndReplace(const std::string& archive, const std::vector<kiv::ArchiveRow>& rows,
                       std::int32_t memberCount) {
    const std::vector<std::uint8_t> before = kivfuzz::ReadBytes(archive);
    const std::size_t written = std::min(rows.size(), kWrittenMembers);
    std::vector<std::string> allowed = {"archive.dat", "member.out", "Newgen.dat"};
    for (std::size_t r = 0; r < written; ++r) {
        try {
            kiv::OpResult own;
            {
                const kivfuzz::InScratch here;
                own = kiv::ExtractMember(archive, rows[r]);
            }
            if (own.Ok && !kiv::UnsafeNameReason(rows[r].Name).empty())
                kivfuzz::Fail("a member with an unsafe name was extracted: " + rows[r].Name);
            if (own.Ok)
                allowed.push_back(rows[r].Name);
            kiv::ExtractMember(archive, rows[r], kivfuzz::ScratchFile("member.out"));
            kiv::ReplaceRequest request;
            request.ArchivePath = archive;
            request.Row = rows[r];
            request.RowIndex = static_cast<std::int32_t>(r + 1);
            request.MemberCount = memberCount;
            request.TwinPath = kivfuzz::ScratchFile("member.out");
            request.OutPath = kivfuzz::ScratchFile("Newgen.dat");
            kiv::ReplaceMember(request);
        } catch (const kiv::Exception&) {
        }
    }
    if (kivfuzz::ReadBytes(archive) != before)
        kivfuzz::Fail("extract or replace changed the archive");
    for (const std::string& name : kivfuzz::ScratchEntries())
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            kivfuzz::Fail("a file was left behind: " + name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivfuzz::ClearScratch();
    const std::string archive = kivfuzz::ScratchFile("archive.dat");
    kivfuzz::WriteBytes(archive, data, size);

    const kiv::ArchiveListing listing = kiv::ListArchive(archive);
    if (!listing.Opened)
        kivfuzz::Fail("the archive did not open");
    // Every entry was read from the file, 17 bytes each, after the 8-byte header.
    if (listing.Entries.size() * kiv::ArchiveEntrySize + 8 > std::max<std::size_t>(size, 8))
        kivfuzz::Fail("more entries than the file holds");

    std::vector<kiv::ArchiveRow> rows;
    rows.reserve(listing.Entries.size());
    for (const kiv::TArchiveEntry& entry : listing.Entries)
        rows.push_back(kiv::ArchiveRow::FromEntry(entry));

    try {
        const std::vector<std::string> messages =
            kiv::TestArchive(archive, rows, listing.StoredCount);
        if (messages.size() > rows.size())
            kivfuzz::Fail("more Test messages than rows");
    } catch (const kiv::Exception&) {
    }

    for (std::size_t i = 0; i < listing.Entries.size(); ++i)
        SelectRow(archive, listing.Entries[i], i < kPreviewedMembers);

    // As the browser does: its member count is the number of rows it could list.
    ExtractAndReplace(archive, rows, static_cast<std::int32_t>(rows.size()));
    return 0;
}
