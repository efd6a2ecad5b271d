#include "OutputRule.h"

#include "CommandSupport.h"

#include "archive/ArchiveDiff.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/PictureFiles.h"

#include <utility>

namespace kivtool {

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
    return kiv::IsPngPath(path) ? kiv::EncodePng(picture, kiv::BackKey)
                                : kiv::EncodeBitmap(picture);
}

void SayUpToDate(const Context& ctx, const std::string& path) {
    Err(ctx) << EscapedText(path) << " is up to date; nothing written.\n";
}

RuledOutput::RuledOutput(const Context& ctx, std::string path, bool force)
    : ctx_(ctx), path_(std::move(path)), force_(force) {}

bool RuledOutput::NotInput(const std::string& input, const std::string& what) const {
    if (!kiv::SameFile(path_, input))
        return true;
    Fail(ctx_,
         "Cannot write " + EscapedText(path_) + ": that is " + what + "; nothing was written.");
    return false;
}

void RuledOutput::Lock() {
    lock_.emplace(path_);
}

void RuledOutput::Watch(const kiv::FileStamp& stamp) {
    if (lock_)
        lock_->Watch(stamp);
}

OutputVerdict RuledOutput::Compare(const std::function<Existing()>& compare) {
    if (keepAny_) {
        if (force_ || !kiv::StampOf(path_).Exists)
            return OutputVerdict::Write;
        Err(ctx_) << "kept existing file " << PrintableName(path_) << "; --force overwrites\n";
        return OutputVerdict::Kept;
    }
    const Existing existing = force_ && !compareAlways_ ? Existing::Missing : compare();
    if (existing == Existing::Same) {
        if (!quiet_)
            SayUpToDate(ctx_, path_);
        return OutputVerdict::UpToDate;
    }
    if (existing == Existing::Different && !force_) {
        // Most likely the user's edit of an earlier output.
        Err(ctx_) << "kept changed file " << EscapedText(path_) << "; --force overwrites\n";
        return OutputVerdict::Kept;
    }
    Watch(kiv::StampOf(path_));
    return OutputVerdict::Write;
}

OutputVerdict
RuledOutput::CompareRebuild(const std::function<OutputVerdict(kiv::OutputLock&)>& check) {
    if (force_)
        return OutputVerdict::Write;
    if (!lock_)
        Lock();
    const OutputVerdict verdict = check(*lock_);
    if (verdict == OutputVerdict::UpToDate && !quiet_)
        SayUpToDate(ctx_, path_);
    return verdict;
}

int RuledOutput::Write(OutputBytes bytes) {
    const OutputVerdict verdict =
        Compare([&] { return CompareExisting(path_, bytes.Data, bytes.Size); });
    if (verdict == OutputVerdict::Write)
        kiv::WriteWholeFile(path_, bytes.Data, bytes.Size);
    return StatusOf(verdict);
}

int StatusOf(OutputVerdict verdict) {
    return verdict == OutputVerdict::Kept ? ExitFailure : ExitOk;
}

OutputVerdict WriteTogether(RuledOutput& first, OutputBytes firstBytes, RuledOutput& second,
                            OutputBytes secondBytes) {
    const auto compare = [](RuledOutput& output, OutputBytes bytes) {
        return output.Compare(
            [&] { return CompareExisting(output.Path(), bytes.Data, bytes.Size); });
    };
    const OutputVerdict firstVerdict = compare(first, firstBytes);
    const OutputVerdict secondVerdict = compare(second, secondBytes);
    if (firstVerdict == OutputVerdict::Kept || secondVerdict == OutputVerdict::Kept)
        return OutputVerdict::Kept;
    if (firstVerdict == OutputVerdict::Write)
        kiv::WriteWholeFile(first.Path(), firstBytes.Data, firstBytes.Size);
    if (secondVerdict == OutputVerdict::Write)
        kiv::WriteWholeFile(second.Path(), secondBytes.Data, secondBytes.Size);
    return firstVerdict == OutputVerdict::Write || secondVerdict == OutputVerdict::Write
               ? OutputVerdict::Write
               : OutputVerdict::UpToDate;
}

namespace {

// A word of a command line as a shell takes it back.
std::string ShellWord(const std::string& word) {
    const bool plain =
        !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "0123456789_-./#=+,:@%") == std::string::npos;
    if (plain)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string CommandLine(const std::vector<std::string>& words) {
    std::string line = "kivtool";
    for (const std::string& word : words)
        line += " " + ShellWord(PrintableName(word));
    return line;
}

// "X", "X and Y", "X, Y and Z".
std::string Listed(const std::vector<std::string>& items) {
    std::string list;
    for (std::size_t k = 0; k < items.size(); ++k)
        list += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
    return list;
}

// "a changed X" for one, "changed X, Y and Z" for more; `one` and `many` name the kind
// ("icon", "icons") where the items are bare numbers.
std::string Changes(const std::vector<std::string>& items, const std::string& one = "",
                    const std::string& many = "") {
    if (items.empty())
        return {};
    if (items.size() == 1)
        return "a changed " + (one.empty() ? "" : one + " ") + items.front();
    return "changed " + (many.empty() ? "" : many + " ") + Listed(items);
}

// Whether to compare at all: an output that is missing, not a regular file (the write
// refuses that itself) or the base itself has nothing a rebuild could drop.
bool HasOutputToCompare(const std::string& base, const std::string& out) {
    const kiv::FileStamp stamp = kiv::StampOf(out);
    return stamp.Exists && stamp.Status.Regular && !kiv::SameFile(base, out);
}

OutputVerdict Kept(const Context& ctx, const std::string& base, const std::string& out,
                   std::vector<std::string> changes, const std::vector<std::string>& buildsOn) {
    std::erase(changes, std::string());
    Fail(ctx, EscapedText(out) + " also holds " + Listed(changes) + " that this rebuild from " +
                  EscapedText(base) + " would drop; `" + CommandLine(buildsOn) +
                  "` builds on it, --force replaces it.");
    return OutputVerdict::Kept;
}

OutputVerdict Unreadable(const Context& ctx, const std::string& base, const std::string& out,
                         const std::string& kind, const std::string& fault) {
    Fail(ctx, EscapedText(out) + " is not a readable " + kind + " (" + fault +
                  "); this rebuild from " + EscapedText(base) +
                  " would replace all of it. --force replaces it.");
    return OutputVerdict::Kept;
}

} // namespace

OutputVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& base, const std::string& out,
                                  const std::vector<kiv::MemberSource>& rewritten,
                                  const std::vector<std::string>& buildsOn) {
    return JudgeArchiveRebuild(
        ctx, lock, base, out, [&] { return kiv::ArchiveRebuildCheck(base, out, rewritten); },
        buildsOn);
}

OutputVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& base, const std::string& out,
                                  const std::function<kiv::ArchiveRebuildReport()>& check,
                                  const std::vector<std::string>& buildsOn) {
    if (!HasOutputToCompare(base, out))
        return OutputVerdict::Write;
    lock.Watch(kiv::StampOf(out));
    const kiv::ArchiveRebuildReport report = check();
    if (!report.Readable)
        return Unreadable(ctx, base, out, "archive", report.Fault);
    if (report.Identical)
        return OutputVerdict::UpToDate;
    if (report.NothingDropped())
        return OutputVerdict::Write;
    return Kept(
        ctx, base, out,
        {Changes(report.Dropped), report.OutsideDiffers ? "changed bytes outside its members" : ""},
        buildsOn);
}

OutputVerdict JudgeSpriteRebuild(const Context& ctx, kiv::OutputLock& lock,
                                 const std::string& source, const std::string& out,
                                 const std::vector<std::int32_t>& rewrittenIcons,
                                 const std::vector<std::string>& buildsOn) {
    if (!HasOutputToCompare(source, out))
        return OutputVerdict::Write;
    lock.Watch(kiv::StampOf(out));
    const kiv::SpriteRebuildReport report = kiv::SpriteRebuildCheck(source, out, rewrittenIcons);
    if (!report.Readable)
        return Unreadable(ctx, source, out, "sprite file", report.Fault);
    if (report.NothingDropped())
        return OutputVerdict::Write;
    std::vector<std::string> icons;
    for (const std::int32_t icon : report.DroppedIcons)
        icons.push_back(std::to_string(icon));
    return Kept(ctx, source, out,
                {Changes(icons, "icon", "icons"), report.CountDiffers ? "another icon count" : "",
                 report.OutsideDiffers ? "changed bytes outside its icons' data" : ""},
                buildsOn);
}

} // namespace kivtool
