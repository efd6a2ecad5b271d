#include "archive/ArchiveVerify.h"

#include "archive/ArchiveDirectory.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteCheck.h"

#include <algorithm>
#include <set>

namespace kiv {

namespace {

// Whether a plausible sprite file ends exactly with its last icon's data, as every sprite
// file the editor writes does; an archive read as a sprite file hardly ever does.
bool EndsWithIconData(InFile& file) {
    std::int32_t count = 0;
    file.Seek(0);
    if (!file.ReadInt32(count))
        return false;
    if (count == 0)
        return file.Length() == 4;
    if (count < 0)
        return false;
    unsigned char bytes[IconHeaderSize];
    file.Seek(4 + std::int64_t{IconHeaderSize} * (count - 1));
    if (file.Read(bytes, sizeof bytes) != sizeof bytes)
        return false;
    const TIconHeader last = TIconHeader::FromBytes(bytes);
    return 4 + std::int64_t{IconHeaderSize} * count + last.Starts + last.Bytes == file.Length();
}

void VerifyArchive(InFile& file, const ArchiveListing& listing, VerifyResult& result,
                   const std::function<void(const std::string&)>& report) {
    std::set<std::string> seen;
    for (std::size_t k = 0; k < listing.Entries.size(); ++k) {
        const TArchiveEntry& e = listing.Entries[k];
        const std::string member = "member " + std::to_string(k + 1) + " (" + e.Name + ")";
        const auto problem = [&](const std::string& what) {
            ++result.Problems;
            report(member + ": " + what);
        };
        if (e.Name.empty())
            problem("its name is empty");
        else if (e.Name.size() >= ArchiveNameSize)
            problem("its name field has no NUL");
        else if (!seen.insert(e.Name).second)
            problem("an earlier member has the same name");
        ++result.Members;
        // A damaged member's bytes are not all there to be checked.
        if (const std::string fault = MemberFault(e, listing.FileLength); !fault.empty()) {
            problem("it " + fault);
            continue;
        }
        const SpriteCheck check =
            VerifySprite(file, e.Start, std::int64_t{e.Finish} - e.Start,
                         [&](const std::string& line) { report(member + ": " + line); });
        result.Icons += check.Icons;
        result.Problems += check.Problems;
    }
}

} // namespace

VerifiedKind ClassifyListed(InFile& file, const ArchiveListing& listing, std::string& archiveFault,
                            std::string& spriteFault, std::int64_t maxIcons) {
    archiveFault = listing.Opened ? kiv::ArchiveFault(listing) : "it cannot be read";
    spriteFault = kiv::SpriteFault(file, 0, file.Length(), maxIcons);
    const bool archive = archiveFault.empty();
    const bool sprite = spriteFault.empty();
    if (!archive && !sprite)
        return VerifiedKind::Neither;
    // A damaged member tips a file that could be either towards a sprite file.
    const bool wholeArchive = archive && FirstDamagedMember(listing).empty();
    if (sprite && (!wholeArchive || EndsWithIconData(file)))
        return VerifiedKind::Sprite;
    return VerifiedKind::Archive;
}

VerifiedKind ClassifyFile(const std::string& path, std::string& archiveFault,
                          std::string& spriteFault) {
    auto file = InFile::Open(path);
    if (!file)
        return VerifiedKind::Missing;
    return ClassifyListed(*file, ListArchive(path), archiveFault, spriteFault);
}

VerifyResult VerifyFile(const std::string& path,
                        const std::function<void(const std::string&)>& report) {
    VerifyResult result;
    auto file = InFile::Open(path);
    if (!file)
        return result;
    const ArchiveListing listing = ListArchive(path);
    result.Kind = ClassifyListed(*file, listing, result.ArchiveFault, result.SpriteFault);
    if (result.Kind == VerifiedKind::Neither)
        return result;
    if (result.Kind == VerifiedKind::Sprite) {
        const SpriteCheck check = VerifySprite(*file, 0, file->Length(), report);
        result.Icons = check.Icons;
        result.Problems = check.Problems;
        return result;
    }
    VerifyArchive(*file, listing, result, report);
    return result;
}

void TestArchive(const std::string& archivePath, std::int32_t rows, const RowReader& rowAt,
                 const std::function<void(const std::string&)>& report) {
    auto archive = InFile::Open(archivePath);
    if (!archive)
        return;
    const std::int64_t length = archive->Length();
    for (std::int32_t r = 1; r <= rows; ++r) {
        const ArchiveRow row = rowAt(r);
        const std::int64_t start = row.Start;
        const std::int64_t finish = row.Finish;
        // A member is sound only when its bytes are there: its end lies inside the file and
        // not before its start, and its count word and the tested byte can be read.
        unsigned char word[4];
        unsigned char tested = 1;
        if (finish >= start && finish <= length && archive->ReadExactlyAt(start, word, 4) &&
            archive->ReadExactlyAt(start + TestedByteOffset +
                                       TestedHeaderSize * std::int64_t{GetInt32LE(word)},
                                   &tested, 1) &&
            tested == 0)
            continue;
        report(row.Name + " at " + IntToHex(row.Start, 6) + " is bad!");
    }
}

std::vector<std::string> TestArchive(const std::string& archivePath,
                                     const std::vector<ArchiveRow>& rows,
                                     std::int32_t memberCount) {
    std::vector<std::string> messages;
    const auto last =
        static_cast<std::int32_t>(std::min<std::int64_t>(memberCount, std::ssize(rows)));
    TestArchive(
        archivePath, last,
        [&rows](std::int32_t r) { return rows[static_cast<std::size_t>(r - 1)]; },
        [&messages](const std::string& message) { messages.push_back(message); });
    return messages;
}

} // namespace kiv
