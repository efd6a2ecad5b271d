// `thumbnail`: the picture a file manager's thumbnailer asks for. It runs where the file
// manager puts it: a read-only folder around the input, no home and no display, so it reads
// the input and writes only the output, through a temporary file beside the output.

#include "CommandSupport.h"
#include "OutputRule.h"

#include "archive/FileThumbnail.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/PictureFiles.h"

namespace kivtool {

int ThumbnailCommand(const Context& ctx, const std::string& input, const std::string& outPath,
                     int size, bool force) {
    return Guarded(ctx, [&] {
        if (!NotItsInput(ctx, outPath, input, "the file it pictures"))
            return ExitFailure;
        kiv::OutputLock lock(outPath);
        const kiv::FileStamp read = kiv::StampOf(input);
        const kiv::FileThumbnail thumbnail = kiv::MakeThumbnail(input, size);
        if (thumbnail.Kind == kiv::VerifiedKind::Missing)
            return Fail(ctx, "Could not open " + input);
        if (!thumbnail.Fault.empty())
            return Fail(ctx, "No thumbnail for " + input + ": " + thumbnail.Fault + ".");
        lock.Watch(read);
        // Some file managers make the output file empty before they run the thumbnailer.
        const kiv::FileStamp existing = kiv::StampOf(outPath);
        const bool empty = existing.Exists && existing.Status.Regular && existing.Status.Size == 0;
        return WriteUnderRule(ctx, lock, outPath, kiv::EncodePng(thumbnail.Picture, kiv::BackKey),
                              force || empty);
    });
}

} // namespace kivtool
