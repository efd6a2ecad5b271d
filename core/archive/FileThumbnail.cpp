#include "archive/FileThumbnail.h"

#include "archive/ArchiveDirectory.h"
#include "base/FileStream.h"
#include "sprite/IconThumbnail.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteCheck.h"

#include <algorithm>

namespace kiv {

FileThumbnail MakeThumbnail(const std::string& path, int size) {
    FileThumbnail result;
    auto file = InFile::Open(path);
    if (!file)
        return result;
    const ArchiveListing listing = ListArchive(path, ThumbnailListedMembers);
    std::string archiveFault, spriteFault;
    result.Kind = ClassifyListed(*file, listing, archiveFault, spriteFault, MaxIcons);
    switch (result.Kind) {
    case VerifiedKind::Missing:
        return result;
    case VerifiedKind::Neither:
        result.Fault = "it does not look like a sprite archive or a sprite file: as an archive, " +
                       archiveFault + "; as a sprite file, " + spriteFault;
        return result;
    case VerifiedKind::Sprite: {
        ThumbnailPicture picture = SpriteThumbnail(*file, 0, file->Length(), size);
        result.Picture = std::move(picture.Picture);
        result.Fault = picture.Fault;
        return result;
    }
    case VerifiedKind::Archive:
        break;
    }
    // An archive cut short, or with an end word gone wrong, is shown as damaged, not through a
    // member that happens to be whole.
    if (std::string damaged = FirstDamagedMember(listing); !damaged.empty()) {
        result.Fault = "its " + damaged;
        return result;
    }
    const std::size_t searched =
        std::min<std::size_t>(listing.Entries.size(), ThumbnailSearchedMembers);
    for (std::size_t k = 0; k < searched; ++k) {
        const TArchiveEntry& e = listing.Entries[k];
        const std::int64_t length = std::int64_t{e.Finish} - e.Start;
        if (!SpriteFault(*file, e.Start, length, MaxIcons).empty())
            continue;
        ThumbnailPicture picture = SpriteThumbnail(*file, e.Start, length, size);
        if (picture.NoIconToShow)
            continue;
        result.Member = static_cast<std::int64_t>(k) + 1;
        if (!picture.Fault.empty()) {
            result.Fault =
                "member " + std::to_string(k + 1) + " (" + e.Name + "): " + picture.Fault;
            return result;
        }
        result.Picture = std::move(picture.Picture);
        return result;
    }
    result.Fault = listing.Entries.empty() ? "it holds no members"
                                           : "none of its first " + std::to_string(searched) +
                                                 " members is a sprite file with an icon to show";
    return result;
}

} // namespace kiv
