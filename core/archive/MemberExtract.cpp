#include "archive/MemberExtract.h"

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"

namespace kiv {

std::string UnsafeNameRefusal(const std::string& name) {
    const std::string reason = UnsafeNameReason(name);
    if (reason.empty())
        return reason;
    return "Cannot extract member \"" + name + "\": " + reason + ".";
}

std::string ExtractTargetRefusal(const std::string& archivePath, std::int64_t archiveLength,
                                 const std::string& name, std::int64_t start, std::int64_t finish,
                                 const std::string& target) {
    if (SameFile(archivePath, target))
        return "Cannot extract member \"" + name + "\" to " + target +
               ": that is the archive it is read from.";
    if (finish > start && finish > archiveLength)
        return "Member \"" + name + "\" runs past the end of the archive: it ends at " +
               OffsetText(static_cast<std::uint32_t>(finish)) + ", the archive at " +
               IntToHex(static_cast<std::uint32_t>(archiveLength), 6) + ". Nothing was extracted.";
    return std::string();
}

OpResult ExtractMember(const std::string& archivePath, const ArchiveRow& row,
                       const std::string& outPath, std::int32_t rowIndex,
                       std::int32_t memberCount) {
    const std::int64_t start = row.Start;
    const std::int64_t finish = row.Finish;

    auto archive = InFile::Open(archivePath);
    if (!archive)
        return OpFailed(MainDataFileNotFound);
    if (rowIndex > 0) {
        const std::string stale =
            StaleListingMessage(*archive, archivePath, row, rowIndex, memberCount);
        if (!stale.empty())
            return OpFailed(stale);
    }

    // A name taken from the archive must not lead outside the current folder; a path the
    // user chose is theirs.
    const std::string target = outPath.empty() ? row.Name : outPath;
    std::string refusal = outPath.empty() ? UnsafeNameRefusal(row.Name) : std::string();
    if (refusal.empty())
        refusal =
            ExtractTargetRefusal(archivePath, archive->Length(), row.Name, start, finish, target);
    if (!refusal.empty())
        return OpFailed(std::move(refusal));

    const std::int64_t size = finish > start ? finish - start : 0;
    try {
        SafeFile out(target);
        out.WatchInput(*archive);
        out.DropTargetCache(); // the target is not the archive: refused above
        if (size > 0 && out.CopyFrom(*archive, start, size) != size)
            return OpFailed("Could not read member \"" + row.Name + "\" from the archive.");
        out.Commit();
    } catch (const EFCreateError& e) {
        return OpWriteFailed("Cannot create file " + target, e.Fault());
    } catch (const EWriteError& e) {
        return OpWriteFailed("Cannot write file " + target, e.Fault());
    } catch (const EOutputBusy& e) {
        return OpStopped(e);
    } catch (const EInputChanged& e) {
        return OpStopped(e);
    }
    return {};
}

} // namespace kiv
