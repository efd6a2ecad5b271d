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
#include <string>
#include <vector>

namespace kivtool {

// False, after "Cannot write OUTPUT: that is WHAT; nothing was written.", when `output`
// names the same file as `input` (links followed). `what` reads "the sprite file it is read
// from" and the like.
bool NotItsInput(const Context& ctx, const std::string& output, const std::string& input,
                 const std::string& what);

// What became of an existing output, compared with what the command would write.
enum class Existing { Missing, Same, Different };
Existing CompareExisting(const std::string& path, const void* data, std::size_t count);
Existing CompareExisting(const std::string& path, kiv::InFile& source, std::int64_t offset,
                         std::int64_t count);

// Whether to write: with `force` at once, without reading the existing file; otherwise after
// `compare`, when it finds the output Missing. Same reports "X is up to date; nothing
// written." (status 0), Different "kept changed file X; --force overwrites" (status 1). A
// file to be replaced is watched by `lock`, so a change made to it from now on stops the
// write.
bool ShouldWrite(const Context& ctx, kiv::OutputLock& lock, const std::string& path, bool force,
                 const std::function<Existing()>& compare, int& status);

// Writes a whole file under the rule above; returns the exit status.
int WriteUnderRule(const Context& ctx, kiv::OutputLock& lock, const std::string& path,
                   const std::vector<std::uint8_t>& bytes, bool force);

// The file a picture output gets: PNG when the path ends in ".png", else a bitmap.
std::vector<std::uint8_t> PictureBytes(const kiv::Image& picture, const std::string& path);

// "X is up to date; nothing written." on stderr.
void SayUpToDate(const Context& ctx, const std::string& path);

// A rebuild over an existing output that is not its own input (a rebuild in place cannot
// lose anything): Write when the output is missing, or differs from the base only in what
// the rebuild rewrites; UpToDate when it already is what the rebuild would write (for an
// archive; the sprite rewrite tells that itself); Kept when it holds any other change,
// after "OUT also holds WHAT that this rebuild from BASE would drop; `BUILDS-ON` builds on
// it, --force replaces it." (or, for an output that cannot be compared, why). A compared
// output is watched by `lock`.
enum class RebuildVerdict { Write, UpToDate, Kept };
RebuildVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                   const std::string& base, const std::string& out,
                                   const std::vector<kiv::MemberSource>& rewritten,
                                   const std::vector<std::string>& buildsOn);
// The same with the check of another kind of rebuild (applying mods).
RebuildVerdict JudgeArchiveRebuild(const Context& ctx, kiv::OutputLock& lock,
                                   const std::string& base, const std::string& out,
                                   const std::function<kiv::ArchiveRebuildReport()>& check,
                                   const std::vector<std::string>& buildsOn);
RebuildVerdict JudgeSpriteRebuild(const Context& ctx, kiv::OutputLock& lock,
                                  const std::string& source, const std::string& out,
                                  const std::vector<std::int32_t>& rewrittenIcons,
                                  const std::vector<std::string>& buildsOn);

} // namespace kivtool
