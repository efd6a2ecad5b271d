#include "archive/MemberFiles.h"

#include "archive/ArchiveRow.h"
#include "base/FileStream.h"
#include "base/Platform.h"
#include "base/TextConv.h"
#include "sprite/S16Format.h" // TwinName

#include <set>

namespace kiv {

namespace {

// A regular file by that name (links followed: a link is refused, not passed over).
bool HasFile(const std::string& path) {
    platform::FileStatus status;
    std::string link;
    return platform::ReadLink(path, link) || (platform::StatusOf(path, status) && status.Regular);
}

} // namespace

std::vector<MemberFile> ChooseMemberFiles(const ArchiveListing& listing, const std::string& dir,
                                          bool allowLinks) {
    std::set<std::string> names;
    for (const TArchiveEntry& entry : listing.Entries)
        names.insert(entry.Name);

    std::vector<MemberFile> chosen;
    std::set<std::string> taken;
    for (std::size_t k = 0; k < listing.Entries.size(); ++k) {
        const std::string& name = listing.Entries[k].Name;
        if (!UnsafeNameReason(name).empty())
            continue;
        const std::string twin = TwinName(name);
        std::string path;
        for (const std::string& candidate : {twin, name}) {
            if (candidate == twin && twin != name && names.count(twin))
                continue; // that member's own file
            if (HasFile(JoinPath(dir, candidate))) {
                path = JoinPath(dir, candidate);
                break;
            }
        }
        if (path.empty())
            continue;
        MemberFile file{static_cast<std::int32_t>(k + 1), path, std::string()};
        if (!taken.insert(name).second)
            file.Refusal = "member \"" + EscapedText(name) + "\" (row " + std::to_string(k + 1) +
                           ") is listed before under the same name and keeps its bytes";
        else
            file.Refusal = ForeignFileFault(dir, path, allowLinks);
        chosen.push_back(std::move(file));
    }
    return chosen;
}

} // namespace kiv
