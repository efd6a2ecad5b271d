#include "archive/MemberReplace.h"

#include "archive/ArchiveRebuild.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"
#include "sprite/S16Format.h" // TwinName

#include <optional>

namespace kiv {

OpResult ReplaceMember(const ReplaceRequest& request) {
    std::string twinPath = request.TwinPath;
    if (twinPath.empty()) {
        const std::string reason = UnsafeNameReason(request.Row.Name);
        if (!reason.empty())
            return OpFailed("Cannot form the modified file's name from member \"" +
                            request.Row.Name + "\": " + reason + ".");
        twinPath = TwinName(request.Row.Name);
    }

    auto twin = InFile::Open(twinPath);
    if (!twin)
        return OpFailed(CannotOpenTwin(twinPath));
    auto archive = InFile::Open(request.ArchivePath);
    if (!archive)
        return OpFailed(CannotOpenArchive(request.ArchivePath));
    // The output may be the archive itself: it is written beside it and renamed over it only
    // once every byte needed from the archive and the twin has been read.

    std::optional<SafeFile> out;
    try {
        out.emplace(request.OutPath);
    } catch (const EFCreateError& e) {
        return OpWriteFailed(CannotOpenNewArchive(request.OutPath), e.Fault());
    } catch (const EOutputBusy& e) {
        return OpStopped(e);
    }

    // Taken only now, with every file open; what the reader throws discards the output.
    ArchiveRow row = request.Row;
    if (request.ReadOffsets)
        request.ReadOffsets(row);
    const std::int64_t start = row.Start;
    const std::int64_t finish = row.Finish;

    if (request.RowIndex < 1)
        return OpFailed("No member is selected.");
    const std::string stale = StaleListingMessage(*archive, request.ArchivePath, row,
                                                  request.RowIndex, request.MemberCount);
    if (!stale.empty())
        return OpFailed(stale);
    const std::int64_t length = archive->Length();
    if (start > length)
        return OpFailed("Member \"" + row.Name +
                        "\" starts past the end of the archive: it starts at " +
                        OffsetText(row.Start) + ", the archive ends at " +
                        IntToHex(static_cast<std::uint32_t>(length), 6) + ".");
    // Bytes from Finish on follow the twin; a member running past the end has none.
    const std::int64_t tail = finish < length ? length - finish : 0;
    if (std::string refusal = ArchiveLengthRefusal(start + twin->Length() + tail); !refusal.empty())
        return OpFailed(std::move(refusal));

    try {
        const OpResult copied = CopyRebuilt(
            request.ArchivePath, *archive, *out,
            {{request.RowIndex, start, finish, twinPath, twin->Length()}}, request.MemberCount);
        if (!copied.Ok)
            return copied;
        // Nothing more is read: the inputs are closed before one of them may be replaced.
        archive.reset();
        twin.reset();
        out->Commit();
    } catch (const EWriteError& e) {
        return OpWriteFailed(CannotWriteNewArchive(request.OutPath), e.Fault());
    } catch (const EInputChanged& e) {
        return OpStopped(e);
    }
    return {};
}

} // namespace kiv
