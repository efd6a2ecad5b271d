#pragma once
// What differs between two archives, member by member, and what a rebuild of an archive from
// a base would drop from an existing output.
//
// Members are told apart by name and, for a name listed more than once, by their place
// among the members of that name (the second "tile.s16" of one archive pairs with the second
// of the other). Both files are streamed: each member is compared through two reused
// buffers, in the order the first archive lists them, so memory stays within a few blocks
// beyond the two directories whatever the members' sizes.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveRebuild.h" // MemberSource
#include "sprite/SpriteDiff.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// A member that differs: on one side only, or on both with other bytes or another place.
struct MemberDiff {
    std::string Name;
    std::int32_t Occurrence = 1; // 1 for the first member of this name on its side, 2 for the next
    bool Repeated = false;       // the name is listed more than once on either side
    std::int32_t RowA = 0;       // listing rows (1-based); 0 where the member is not
    std::int32_t RowB = 0;
    TArchiveEntry InA; // its entries, where it is listed
    TArchiveEntry InB;
    // On both sides, but the order of the members both sides hold changed, and this one is
    // among the fewest members that moving puts the first order into the second.
    bool Moved = false;
    bool Changed = false; // on both sides, with other bytes
    // For a changed member that is a readable sprite file on both sides (when asked for),
    // which icons changed; for one that is not, the faults say which side is not.
    std::optional<SpriteDiff> Icons;

    bool Added() const { return RowA == 0; }
    bool Removed() const { return RowB == 0; }
};

// How a listing shows a member: its printable name, followed for a name listed more than
// once by its place among them: "tile.s16 (2nd)".
std::string MemberLabel(const MemberDiff& member);

struct ArchiveDiff {
    // Why a side is not a readable archive ("" when it is); unless both are, nothing below
    // is filled in.
    std::string FaultA;
    std::string FaultB;
    std::int32_t CountA = 0;
    std::int32_t CountB = 0;
    // Every member that differs: B's members in B's order, each removed member before the
    // first member that followed it in A and did not move.
    std::vector<MemberDiff> Members;
    // The bytes between the directory and the first member (with the first-start word
    // itself), and those after the last member.
    bool GapDiffers = false;
    bool TailDiffers = false;
    // A name field holds other bytes after its name's NUL (bytes nothing reads).
    bool NameFieldsDiffer = false;

    bool Readable() const { return FaultA.empty() && FaultB.empty(); }
    // Byte for byte the same file (for readable sides).
    bool Same() const {
        return Readable() && Members.empty() && !GapDiffers && !TailDiffers && !NameFieldsDiffer;
    }
};

struct ArchiveDiffOptions {
    // Compare the icons of changed members that are sprite files on both sides (reading
    // those members a second time); off, only members are compared.
    bool Icons = true;
};

// Throws EFOpenError when either file does not open.
ArchiveDiff DiffArchives(const std::string& pathA, const std::string& pathB,
                         const ArchiveDiffOptions& options = {});

// What rebuilding `basePath` with the members of `rewritten` (listing rows of the base, each
// with the file of its new bytes; Start, Finish and Length are not used) would lose from an
// existing output.
struct ArchiveRebuildReport {
    bool BaseReadable = false; // the base opened and is a readable archive
    std::string BaseFault;     // why not: "Cannot open file X", or what is wrong
    bool Readable = false;     // the existing output opened and is a readable archive
    std::string Fault;         // why not (as above); nothing below is filled in then
    // Members whose changes in the existing output (against the base) the rebuild would
    // not carry over, by MemberLabel, in the order DiffArchives lists them: changed, added,
    // removed or moved members, except the rewritten ones' bytes (a rewritten member that
    // moved still counts).
    std::vector<std::string> Dropped;
    // The gap before the first member, the bytes after the last, or bytes after a name in
    // the directory differ.
    bool OutsideDiffers = false;
    // The existing output already holds, byte for byte, what the rebuild would write.
    bool Identical = false;
    // Changes of the existing output (against the base) in what the rebuild rewrites, that
    // it writes over with other bytes: what ("hero.s16 icon 3", "coins.s16") and the file
    // whose change takes its place. Only applying mods fills it in.
    struct Replacement {
        std::string What;
        std::string By;
    };
    std::vector<Replacement> Replaced;

    bool NothingDropped() const {
        return BaseReadable && Readable && Dropped.empty() && !OutsideDiffers;
    }
};

// Reads each member of the existing output once (against the base's, or against its new
// file when rewritten), then the gap and the tail; of the directories only their bytes.
ArchiveRebuildReport ArchiveRebuildCheck(const std::string& basePath,
                                         const std::string& existingPath,
                                         const std::vector<MemberSource>& rewritten);

} // namespace kiv
