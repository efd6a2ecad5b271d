// `thumbnail`: the picture a file manager's thumbnailer asks for. It runs where the file
// manager puts it: a read-only folder around the input, no home and no display, so it reads
// the input and writes only the output, through a temporary file beside the output.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"

#include "archive/FileThumbnail.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Png.h"
#include "sprite/PictureFiles.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace kivtool {

int ThumbnailCommand(const Context& ctx, const std::string& input, const std::string& outPath,
                     int size, bool force) {
    return Guarded(ctx, [&] {
        RuledOutput out(ctx, outPath, force);
        if (!out.NotInput(input, "the file it pictures"))
            return ExitFailure;
        out.Lock();
        const kiv::FileStamp read = kiv::StampOf(input);
        const kiv::FileThumbnail thumbnail = kiv::MakeThumbnail(input, size);
        if (thumbnail.Kind == kiv::VerifiedKind::Missing)
            return Fail(ctx, "Could not open " + input);
        if (!thumbnail.Fault.empty())
            return Fail(ctx, "No thumbnail for " + input + ": " + thumbnail.Fault + ".");
        out.Watch(read);
        // Some file managers make the output file empty before they run the thumbnailer.
        const kiv::FileStamp existing = kiv::StampOf(outPath);
        if (existing.Exists && existing.Status.Regular && existing.Status.Size == 0)
            out.WriteOver();
        return out.Write(kiv::EncodePng(thumbnail.Picture, kiv::BackKey));
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct ThumbnailArgs {
    int Size = 128;
    std::string Input;
    std::string Out;
    bool Force = false;
};

} // namespace

void RegisterThumbnailCommand(CommandSet& set) {
    auto a = std::make_shared<ThumbnailArgs>();
    CLI::App* sub = set.Add(
        "thumbnail",
        "Write the picture a file manager shows for a sprite file or a data archive (told apart "
        "by their structure; for an archive, its first sprite member with an icon to show): a "
        "PNG of at most SIZE x SIZE pixels, transparent where the background is. It shows the "
        "first icon whose box has pixels inside its frame, enlarged by the largest whole factor "
        "that fits (each pixel a square block, never blurred) or, when larger than SIZE, "
        "reduced to fit. When that icon is tiny (its longer side at most SIZE/4) and more "
        "follow, a grid of up to 3 x 3 of the first icons instead, as long as they are tiny "
        "too, each centred in its cell. A damaged or foreign file, or one with no icon to show, "
        "writes nothing and exits 1. Reads only INPUT and writes only OUTPUT (through a "
        "temporary file and a lock beside it; an empty OUTPUT is written over), with no need "
        "of a home folder or a display, as a thumbnailer runs.",
        "kivtool thumbnail -s 256 hero.s16 hero.png",
        [a](const Context& c) { return ThumbnailCommand(c, a->Input, a->Out, a->Size, a->Force); });
    sub->add_option("-s,--size", a->Size, "The largest side in pixels (default: 128)")
        ->check(CLI::Range(1, 1024));
    sub->add_option("INPUT", a->Input, "A sprite file or a data archive")->required();
    sub->add_option("OUTPUT", a->Out, "The PNG to write")->required();
    AddForce(sub, a->Force, kForceFile);
}

} // namespace kivtool
