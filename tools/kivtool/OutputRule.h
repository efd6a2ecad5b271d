#pragma once
// The rule every file kivtool writes follows: an output is never one of the command's own
// inputs, and an existing output that differs from what the command would write is kept
// (exit 1) unless --force; one that is already the same is left untouched.

#include "Commands.h"

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveRebuild.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Image.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kivtool {

// What became of an existing output, compared with what the command would write.
enum class Existing { Missing, Same, Different };
Existing CompareExisting(const std::string& path, const void* data, std::size_t count);
Existing CompareExisting(const std::string& path, kiv::InFile& source, std::int64_t offset,
                         std::int64_t count);

// What becomes of an output once the file there was weighed: it is written, it is up to date
// already (nothing written), or it is kept (nothing written, exit 1).
enum class OutputVerdict { Write, UpToDate, Kept };

// Bytes a command writes as a whole file.
struct OutputBytes {
    OutputBytes(const std::vector<std::uint8_t>& bytes) : Data(bytes.data()), Size(bytes.size()) {}
    OutputBytes(const std::string& text) : Data(text.data()), Size(text.size()) {}
    const void* Data;
    std::size_t Size;
};

// One output of a command, taken through the rule in its order:
//   1. NotInput: the output is none of the command's inputs;
//   2. Lock: the output is locked, and Watch watches each input read from then on, so a change
//      to the output or to an input before the rename stops the write;
//   3. Compare (or CompareRebuild): what the file there holds is weighed against what would
//      be written;
//   4. the verdict: Write, UpToDate ("X is up to date; nothing written.") or Kept ("kept
//      changed file X; --force overwrites", exit 1). Write() runs 3 and 4 for whole bytes.
// With --force, step 3 finds nothing to keep without reading the file.
class RuledOutput {
public:
    RuledOutput(const Context& ctx, std::string path, bool force);

    const std::string& Path() const { return path_; }

    // False, after "Cannot write OUTPUT: that is WHAT; nothing was written.", when the output
    // names the same file as `input` (links followed).
    bool NotInput(const std::string& input, const std::string& what) const;

    // A dry run, which writes nothing, takes no lock; Watch then does nothing.
    void Lock();
    void Watch(const kiv::FileStamp& stamp);

    // What the file there holds, compared with what would be written (`compare` is not needed
    // with KeepAnyExisting); on Write the file is watched, so a change made to it from now on
    // stops the write.
    OutputVerdict Compare(const std::function<Existing()>& compare = {});
    // A rebuild's check (given the lock), skipped with --force; UpToDate is said here.
    OutputVerdict CompareRebuild(const std::function<OutputVerdict(kiv::OutputLock&)>& check);
    // Compares, and writes the whole file unless it is kept or up to date; the exit status.
    int Write(OutputBytes bytes);

    // An output the command lists itself: up to date, nothing is said.
    void QuietWhenUpToDate() { quiet_ = true; }
    // The file there is read with --force too, so one that holds the output already stays
    // untouched; --force only writes over one that differs.
    void CompareEvenWithForce() { compareAlways_ = true; }
    // Any file there is kept ("kept existing file X; --force overwrites"), whatever it holds:
    // for an output that is made only as it is written.
    void KeepAnyExisting() { keepAny_ = true; }
    // Written over whatever the file there holds, as with --force.
    void WriteOver() { force_ = true; }

private:
    const Context& ctx_;
    std::string path_;
    bool force_;
    bool quiet_ = false;
    bool compareAlways_ = false;
    bool keepAny_ = false;
    std::optional<kiv::OutputLock> lock_;
};

// The exit status a verdict comes to: 1 for a kept output, 0 otherwise.
int StatusOf(OutputVerdict verdict);

// Two outputs that go together (a sheet and its records): both are compared, and when either
// is kept neither is written. Write when either was written, UpToDate when both were already.
OutputVerdict WriteTogether(RuledOutput& first, OutputBytes firstBytes, RuledOutput& second,
                            OutputBytes secondBytes);

// The file a picture output gets: PNG when the path ends in ".png", else a bitmap.
std::vector<std::uint8_t> PictureBytes(const kiv::Image& picture, const std::string& path);

// "X is up to date; nothing written." on stderr.
void SayUpToDate(const Context& ctx, const std::string& path);

// A rebuild's check: a rebuild over an existing output that is not its own input (a rebuild in
// place cannot lose anything): Write when the output is missing, or differs from the base only in
// what the rebuild rewrites; UpToDate when it already is what the rebuild would write (for an
// archive; the sprite rewrite tells that itself); Kept when it holds any other change,
// after "OUT also holds WHAT that this rebuild from BASE would drop; `BUILDS-ON` builds on
// it, --force replaces it." (or, for an output that cannot be compared, why). A compared
// output is watched by `lock`.
OutputVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& base, const std::string& out,
                                  const std::vector<kiv::MemberSource>& rewritten,
                                  const std::vector<std::string>& buildsOn);
// The same with the check of another kind of rebuild (applying mods).
OutputVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& base, const std::string& out,
                                  const std::function<kiv::ArchiveRebuildReport()>& check,
                                  const std::vector<std::string>& buildsOn);
OutputVerdict JudgeSpriteRebuild(const Context& ctx, kiv::OutputLock& lock,
                                 const std::string& source, const std::string& out,
                                 const std::vector<std::int32_t>& rewrittenIcons,
                                 const std::vector<std::string>& buildsOn);

} // namespace kivtool
