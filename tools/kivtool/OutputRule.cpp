#include "OutputRule.h"

#include "CommandSupport.h"

#include "archive/ArchiveDiff.h"
#include "image/Bitmap.h"
#include "image/Png.h"
#include "sprite/PictureFiles.h"

namespace kivtool {

bool NotItsInput(const Context& ctx, const std::string& output, const std::string& input,
                 const std::string& what) {
    if (!kiv::SameFile(output, input))
        return true;
    Fail(ctx,
         "Cannot write " + EscapedText(output) + ": that is " + what + "; nothing was written.");
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
    return kiv::IsPngPath(path) ? kiv::EncodePng(picture, kiv::BackKey)
                                : kiv::EncodeBitmap(picture);
}

void SayUpToDate(const Context& ctx, const std::string& path) {
    Err(ctx) << EscapedText(path) << " is up to date; nothing written.\n";
}

bool ShouldWrite(const Context& ctx, kiv::OutputLock& lock, const std::string& path, bool force,
                 const std::function<Existing()>& compare, int& status) {
    status = ExitOk;
    const Existing existing = force ? Existing::Missing : compare();
    if (existing == Existing::Same) {
        SayUpToDate(ctx, path);
        return false;
    }
    if (existing == Existing::Different) {
        // Most likely the user's edit of an earlier output.
        Err(ctx) << "kept changed file " << EscapedText(path) << "; --force overwrites\n";
        status = ExitFailure;
        return false;
    }
    lock.Watch(kiv::StampOf(path));
    return true;
}

int WriteUnderRule(const Context& ctx, kiv::OutputLock& lock, const std::string& path,
                   const std::vector<std::uint8_t>& bytes, bool force) {
    int status = ExitOk;
    if (ShouldWrite(
            ctx, lock, path, force,
            [&] { return CompareExisting(path, bytes.data(), bytes.size()); }, status))
        kiv::WriteWholeFile(path, bytes.data(), bytes.size());
    return status;
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

RebuildVerdict Kept(const Context& ctx, const std::string& base, const std::string& out,
                    std::vector<std::string> changes, const std::vector<std::string>& buildsOn) {
    std::erase(changes, std::string());
    Fail(ctx, EscapedText(out) + " also holds " + Listed(changes) + " that this rebuild from " +
                  EscapedText(base) + " would drop; `" + CommandLine(buildsOn) +
                  "` builds on it, --force replaces it.");
    return RebuildVerdict::Kept;
}

RebuildVerdict Unreadable(const Context& ctx, const std::string& base, const std::string& out,
                          const std::string& kind, const std::string& fault) {
    Fail(ctx, EscapedText(out) + " is not a readable " + kind + " (" + fault +
                  "); this rebuild from " + EscapedText(base) +
                  " would replace all of it. --force replaces it.");
    return RebuildVerdict::Kept;
}

} // namespace

RebuildVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                   const std::string& base, const std::string& out,
                                   const std::vector<kiv::MemberSource>& rewritten,
                                   const std::vector<std::string>& buildsOn) {
    return JudgeArchiveRebuild(
        ctx, lock, base, out, [&] { return kiv::ArchiveRebuildCheck(base, out, rewritten); },
        buildsOn);
}

RebuildVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                   const std::string& base, const std::string& out,
                                   const std::function<kiv::ArchiveRebuildReport()>& check,
                                   const std::vector<std::string>& buildsOn) {
    if (!HasOutputToCompare(base, out))
        return RebuildVerdict::Write;
    lock.Watch(kiv::StampOf(out));
    const kiv::ArchiveRebuildReport report = check();
    if (!report.Readable)
        return Unreadable(ctx, base, out, "archive", report.Fault);
    if (report.Identical)
        return RebuildVerdict::UpToDate;
    if (report.NothingDropped())
        return RebuildVerdict::Write;
    return Kept(
        ctx, base, out,
        {Changes(report.Dropped), report.OutsideDiffers ? "changed bytes outside its members" : ""},
        buildsOn);
}

RebuildVerdict JudgeSpriteRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& source, const std::string& out,
                                  const std::vector<std::int32_t>& rewrittenIcons,
                                  const std::vector<std::string>& buildsOn) {
    if (!HasOutputToCompare(source, out))
        return RebuildVerdict::Write;
    lock.Watch(kiv::StampOf(out));
    const kiv::SpriteRebuildReport report = kiv::SpriteRebuildCheck(source, out, rewrittenIcons);
    if (!report.Readable)
        return Unreadable(ctx, source, out, "sprite file", report.Fault);
    if (report.NothingDropped())
        return RebuildVerdict::Write;
    std::vector<std::string> icons;
    for (const std::int32_t icon : report.DroppedIcons)
        icons.push_back(std::to_string(icon));
    return Kept(ctx, source, out,
                {Changes(icons, "icon", "icons"), report.CountDiffers ? "another icon count" : "",
                 report.OutsideDiffers ? "changed bytes outside its icons' data" : ""},
                buildsOn);
}

} // namespace kivtool
