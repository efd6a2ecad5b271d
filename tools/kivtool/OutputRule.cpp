#include "OutputRule.h"

#include "CommandSupport.h"

#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/S16Format.h"

namespace kivtool {

bool NotItsInput(const Context& ctx, const std::string& output, const std::string& input,
                 const std::string& what) {
    if (!kiv::SameFile(output, input))
        return true;
    Fail(ctx,
         "Cannot write " + PrintableName(output) + ": that is " + what + "; nothing was written.");
    return false;
}

Existing CompareExisting(const std::string& path, const void* data, std::size_t count) {
    // Anything but a regular file is for the write itself to refuse, with its reason.
    const kiv::FileStamp stamp = kiv::StampOf(path);
    if (!stamp.Exists || !stamp.Status.Regular)
        return Existing::Missing;
    return kiv::FileHolds(path, data, count) ? Existing::Same : Existing::Different;
}

Existing CompareExisting(const std::string& path, kiv::InFile& source, std::int64_t offset,
                         std::int64_t count) {
    const kiv::FileStamp stamp = kiv::StampOf(path);
    if (!stamp.Exists || !stamp.Status.Regular)
        return Existing::Missing;
    return kiv::FileHolds(path, source, offset, count) ? Existing::Same : Existing::Different;
}

std::vector<std::uint8_t> PictureBytes(const kiv::Image& picture, const std::string& path) {
    return kiv::IsPngPath(path) ? kiv::EncodePng(picture, kiv::BackColor)
                                : kiv::EncodeBitmap(picture);
}

void SayUpToDate(const Context& ctx, const std::string& path) {
    Err(ctx) << PrintableName(path) << " is up to date; nothing written.\n";
}

bool ShouldWrite(const Context& ctx, kiv::OutputLock& lock, const std::string& path,
                 Existing existing, bool force, int& status) {
    status = ExitOk;
    if (existing == Existing::Same) {
        SayUpToDate(ctx, path);
        return false;
    }
    if (existing == Existing::Different && !force) {
        // Most likely the user's edit of an earlier output.
        Err(ctx) << "kept changed file " << PrintableName(path) << "; --force overwrites\n";
        status = ExitFailure;
        return false;
    }
    lock.Watch(kiv::StampOf(path));
    return true;
}

int WriteUnderRule(const Context& ctx, kiv::OutputLock& lock, const std::string& path,
                   const std::vector<std::uint8_t>& bytes, bool force) {
    int status = ExitOk;
    if (ShouldWrite(ctx, lock, path, CompareExisting(path, bytes.data(), bytes.size()), force,
                    status))
        kiv::WriteWholeFile(path, bytes.data(), bytes.size());
    return status;
}

std::string FaultLine(const kiv::WriteFault& fault) {
    const std::string why = fault.Reason.empty() ? "." : ": " + fault.Reason + ".";
    if (fault.Folder)
        return "Cannot create files in folder " + PrintableName(fault.Path) + why;
    return "Cannot write " + PrintableName(fault.Path) + why;
}

} // namespace kivtool
