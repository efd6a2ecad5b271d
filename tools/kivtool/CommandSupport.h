#pragma once
// What the commands share: failure lines, member look-up, the progress line.

#include "Commands.h"

#include "archive/ArchiveDirectory.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "image/Image.h"
#include "sprite/SheetRecords.h"

#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace kivtool {

// Runs a command body; an error that escapes it becomes its failure line and the exit
// status `failure` (ExitFailure unless given).
template <typename Body> int Guarded(const Context& ctx, Body&& body, int failure);
template <typename Body> int Guarded(const Context& ctx, Body&& body);
// Guarded, for a command whose output the window reports with `message` when it cannot be
// made ("Could not open output file!"): an output that cannot be made gives that message
// first, then the output and the system's reason.
template <typename Body>
int GuardedOutput(const Context& ctx, const std::string& message, Body&& body);

// The stream for a line on stderr: a progress line that is showing is cleared first, so
// the line starts at the left edge and is not run into the progress text. Every byte that
// could act on the terminal (control characters, invalid UTF-8) is written as \xNN; line ends
// and valid UTF-8 pass as they are.
std::ostream& Err(const Context& ctx);

// A failure the window reports in its message box: the text as it stands, a line end inside
// it written as \xNN too.
int Fail(const Context& ctx, const std::string& message);
// A file that did not open: `message` (the window's text, "Main data file not found."), and
// for a file that is there, why it did not open after it ("(Modgen.dat: it is not a
// regular file)").
int FailOpen(const Context& ctx, const std::string& message, const std::string& path);
// A file that could not be created or written: the line that names the file or folder and
// the system's reason (see FaultLine), or `message` when there is no such file.
int FailWrite(const Context& ctx, const std::string& message, const kiv::WriteFault& fault);
std::string WithReason(const std::string& message, const std::string& reason);
// An error the window's error box shows: its message followed by "."; for a file that could
// not be created or written, the line that names it and the system's reason instead.
int FailErrorBox(const Context& ctx, const std::exception& error);

// Creates the folder and any above it that are missing; false, after a failure line with
// the system's reason, when it cannot be made.
bool MakeFolder(const Context& ctx, const std::string& dir);

// The last part of a path, that part without its extension, and the path with its
// extension replaced.
using kiv::JoinPath;
std::string FileNameOf(const std::string& path);
std::string StemOf(const std::string& path);
std::string WithExtension(const std::string& path, const std::string& extension);

// The archive's listing, or a failure line when it cannot be opened. Warns on `err` when
// the file ends inside the directory.
bool ListOrFail(const Context& ctx, const std::string& archive, kiv::ArchiveListing& listing);

// False, after "ARCHIVE does not look like a sprite archive: <reason>" on stderr, when the
// listed directory cannot be an archive's.
bool ArchiveLooksRight(const Context& ctx, const std::string& archive,
                       const kiv::ArchiveListing& listing);
// "Warning: member N (NAME) ends at ..." on stderr when listing row `row` is a damaged member
// (its bytes do not lie whole inside the file of `fileLength` bytes); true when it is.
bool WarnIfDamaged(const Context& ctx, std::size_t row, const kiv::TArchiveEntry& entry,
                   std::int64_t fileLength);
// The same for every damaged member of the listing; the other members are unaffected.
void WarnDamagedMembers(const Context& ctx, const kiv::ArchiveListing& listing);
// False, after the refusal on stderr, when a member of the archive is damaged: a rebuild
// would carry the damage into every later end word.
bool NoDamagedMember(const Context& ctx, const std::string& archive,
                     const kiv::ArchiveListing& listing);
// False, after "NAME does not look like a sprite file: <reason>" on stderr, when the
// `length` bytes of `file` from `start` on cannot be a sprite file.
bool SpriteLooksRight(const Context& ctx, const std::string& name, kiv::InFile& file,
                      std::int64_t start, std::int64_t length);

// A member by its listed name (the first row with that name) or by "#N", the 1-based row.
struct MemberRef {
    int Row = 0; // 1-based listing row
    kiv::TArchiveEntry Entry;
};
bool FindMember(const Context& ctx, const kiv::ArchiveListing& listing, const std::string& member,
                MemberRef& ref);

// Names on stdout (the listing, test's and verify's lines): control characters as '?'.
using kiv::PrintableName;
// Names in messages on stderr: control bytes and bytes that are not UTF-8 as \xNN.
using kiv::EscapedText;

// Where a sheet's records go: the sheet's path with the extension ".json".
using kiv::SheetRecordsPath;

// "Icon 7 is out of range: the file holds icons 1 to 5." (or "holds no icons").
std::string IconRangeMessage(std::int64_t icon, std::int64_t count);

// A colour given as RRGGBB (hexadecimal, '#' before it allowed); nothing for empty text.
// Throws kiv::Exception for other text.
std::optional<kiv::TColor> ColourOption(const std::string& text);
// RRGGBB of a colour, as ColourOption reads it.
std::string ColourText(kiv::TColor colour);

// "1 icon re-encoded, 31 unchanged" ("2 icons re-encoded" when none is unchanged).
std::string ReencodedCounts(std::size_t reencoded, std::size_t unchanged);

// A line on stderr that counts work done, shown only when the context asks for progress
// and the work has run for a moment; cleared when done.
class ProgressLine {
public:
    ProgressLine(const Context& ctx, std::string label, std::int64_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    void Update(std::int64_t done);
    // Shows the label alone at once (for work that cannot count its steps).
    void ShowNow();
    // Removes the line from the terminal; the next update draws it again.
    void Clear();

private:
    const Context& ctx_;
    std::string label_;
    std::int64_t total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
    bool shown_ = false;
};

template <typename Body> int Guarded(const Context& ctx, Body&& body, int failure) {
    try {
        return body();
    } catch (const kiv::Exception& e) {
        FailErrorBox(ctx, e);
    } catch (const std::bad_alloc&) {
        Fail(ctx, "Out of memory.");
    } catch (const std::exception& e) {
        Fail(ctx, e.what());
    }
    return failure;
}
template <typename Body> int Guarded(const Context& ctx, Body&& body) {
    return Guarded(ctx, std::forward<Body>(body), ExitFailure);
}
template <typename Body>
int GuardedOutput(const Context& ctx, const std::string& message, Body&& body) {
    return Guarded(ctx, [&] {
        try {
            return body();
        } catch (const kiv::EFCreateError& e) {
            return Fail(ctx, kiv::WithFault(message, e.Fault()));
        }
    });
}

} // namespace kivtool
