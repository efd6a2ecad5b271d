#include "archive/ArchiveDiff.h"

#include "archive/ArchiveOps.h"
#include "archive/OpenedArchive.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>

namespace kiv {

namespace {

// Why a side is not a readable archive, or "".
std::string SideFault(const OpenedArchive& side) {
    if (!side.Opened() || !side.Listing().Opened)
        return ErrorText(EFOpenError(side.Path(), OpenFault(side.Path())));
    return side.Fault();
}

// Rows of the first side whose bytes are compared with a file of their own instead of the
// second side's member: a rebuild gives them new bytes.
using RewrittenRows = std::map<std::int32_t, std::string>;

// Whether `count` bytes at `offset` of `file` are the whole of the file at `path`.
bool HoldsFile(InFile& file, std::int64_t offset, std::int64_t count, const std::string& path,
               RangeComparer& compare) {
    const std::unique_ptr<InFile> other = InFile::Open(path);
    return other && other->Length() == count && compare.Equal(file, offset, *other, 0, count);
}

// Rows of the pairs (in B's order, by their row in A) that must move so that the rest keep
// their order: all but a longest ascending run of A rows.
std::vector<bool> MovedPairs(const std::vector<std::int32_t>& rowsA) {
    const std::size_t n = rowsA.size();
    std::vector<std::size_t> tails;        // tails[k]: index ending an ascending run of k + 1
    std::vector<std::size_t> before(n, n); // the index before each one in its run
    for (std::size_t i = 0; i < n; ++i) {
        const auto at =
            std::lower_bound(tails.begin(), tails.end(), rowsA[i],
                             [&](std::size_t t, std::int32_t row) { return rowsA[t] < row; });
        if (at != tails.begin())
            before[i] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> moved(n, true);
    for (std::size_t i = tails.empty() ? n : tails.back(); i < n; i = before[i])
        moved[i] = false;
    return moved;
}

// The members both sides hold, paired by name and place among their name.
struct Pairs {
    std::vector<std::int32_t> OfA; // per row of A (index 1 on), its row in B, or 0
    std::vector<std::int32_t> OfB; // per row of B, its row in A, or 0
    std::vector<bool> MovedOfA;    // per row of A: among the fewest that moving reorders
};

Pairs PairMembers(const OpenedArchive& a, const OpenedArchive& b) {
    Pairs pairs;
    pairs.OfB = a.PairedRows(b);
    pairs.OfA.assign(static_cast<std::size_t>(a.Rows()) + 1, 0);
    std::vector<std::int32_t> commonInB; // A rows of the pairs, in B's order
    for (std::int32_t r = 1; r <= b.Rows(); ++r) {
        const std::int32_t ra = pairs.OfB[static_cast<std::size_t>(r)];
        if (ra == 0)
            continue;
        pairs.OfA[static_cast<std::size_t>(ra)] = r;
        commonInB.push_back(ra);
    }
    pairs.MovedOfA.assign(pairs.OfA.size(), false);
    const std::vector<bool> moved = MovedPairs(commonInB);
    for (std::size_t k = 0; k < commonInB.size(); ++k)
        pairs.MovedOfA[static_cast<std::size_t>(commonInB[k])] = moved[k];
    return pairs;
}

// The pairs that differ, by A row, their bytes compared in A's order, so A is read front to
// back (and B too, unless its members were moved).
std::map<std::int32_t, MemberDiff> ComparePairs(OpenedArchive& a, OpenedArchive& b,
                                                const Pairs& pairs,
                                                const ArchiveDiffOptions& options,
                                                const RewrittenRows& rewritten,
                                                RangeComparer& compare, ArchiveDiff& diff) {
    std::map<std::int32_t, MemberDiff> changes;
    for (std::int32_t ra = 1; ra <= a.Rows(); ++ra) {
        const std::int32_t rb = pairs.OfA[static_cast<std::size_t>(ra)];
        if (rb == 0)
            continue;
        const TArchiveEntry& ea = a.Entry(ra);
        const TArchiveEntry& eb = b.Entry(rb);
        const std::int64_t sizeA = a.Size(ra);
        const std::int64_t sizeB = b.Size(rb);
        MemberDiff m;
        if (const auto own = rewritten.find(ra); own != rewritten.end())
            m.Changed = !HoldsFile(b.File(), eb.Start, sizeB, own->second, compare);
        else
            m.Changed =
                sizeA != sizeB || !compare.Equal(a.File(), ea.Start, b.File(), eb.Start, sizeA);
        if (m.Changed && options.Icons && !rewritten.contains(ra))
            m.Icons = DiffSprites(a.File(), ea.Start, sizeA, b.File(), eb.Start, sizeB);
        m.Moved = pairs.MovedOfA[static_cast<std::size_t>(ra)];
        diff.NameFieldsDiffer = diff.NameFieldsDiffer || a.Field(ra) != b.Field(rb);
        if (m.Changed || m.Moved)
            changes.emplace(ra, std::move(m));
    }
    return changes;
}

// Lists the members that differ in B's order, each removed member before the first member
// that followed it in A and kept its place.
void ListMembers(const OpenedArchive& a, const OpenedArchive& b, const Pairs& pairs,
                 std::map<std::int32_t, MemberDiff>& changes, ArchiveDiff& diff) {
    const auto fill = [&](MemberDiff& m, std::int32_t ra, std::int32_t rb) {
        const OpenedArchive& side = ra > 0 ? a : b;
        const std::int32_t row = ra > 0 ? ra : rb;
        m.Name = side.Entry(row).Name;
        m.Occurrence = side.Occurrence(row);
        m.Repeated = a.Listed(m.Name) > 1 || b.Listed(m.Name) > 1;
        m.RowA = ra;
        m.RowB = rb;
        if (ra > 0)
            m.InA = a.Entry(ra);
        if (rb > 0)
            m.InB = b.Entry(rb);
        diff.Members.push_back(std::move(m));
    };
    std::int32_t nextA = 1;
    const auto removedBefore = [&](std::int32_t ra) {
        for (; nextA < ra; ++nextA)
            if (pairs.OfA[static_cast<std::size_t>(nextA)] == 0) {
                MemberDiff removed;
                fill(removed, nextA, 0);
            }
    };
    for (std::int32_t rb = 1; rb <= b.Rows(); ++rb) {
        const std::int32_t ra = pairs.OfB[static_cast<std::size_t>(rb)];
        if (ra == 0) {
            MemberDiff added;
            fill(added, 0, rb);
            continue;
        }
        const auto change = changes.find(ra);
        const bool moved = change != changes.end() && change->second.Moved;
        // Members that moved are out of place: only the others mark where A's members were.
        if (!moved) {
            removedBefore(ra);
            nextA = std::max(nextA, ra + 1);
        }
        if (change != changes.end())
            fill(change->second, ra, rb);
    }
    removedBefore(a.Rows() + 1);
}

ArchiveDiff Compare(OpenedArchive& a, OpenedArchive& b, const ArchiveDiffOptions& options,
                    const RewrittenRows& rewritten) {
    ArchiveDiff diff;
    diff.FaultA = SideFault(a);
    diff.FaultB = SideFault(b);
    diff.CountA = a.Listing().StoredCount;
    diff.CountB = b.Listing().StoredCount;
    if (!diff.Readable())
        return diff;

    const Pairs pairs = PairMembers(a, b);
    RangeComparer compare;
    auto changes = ComparePairs(a, b, pairs, options, rewritten, compare, diff);
    ListMembers(a, b, pairs, changes, diff);

    // The gap: its length (the first-start word) and its bytes; then the tail.
    const std::int64_t gapA = std::int64_t{a.FirstStart()} - a.DirectoryEnd();
    const std::int64_t gapB = std::int64_t{b.FirstStart()} - b.DirectoryEnd();
    diff.GapDiffers =
        gapA != gapB || !compare.Equal(a.File(), a.DirectoryEnd(), b.File(), b.DirectoryEnd(),
                                       a.MembersStart() - a.DirectoryEnd());
    const std::int64_t tailA = a.Length() - a.MembersEnd();
    const std::int64_t tailB = b.Length() - b.MembersEnd();
    diff.TailDiffers =
        tailA != tailB || !compare.Equal(a.File(), a.MembersEnd(), b.File(), b.MembersEnd(), tailA);
    return diff;
}

std::string Ordinal(std::int32_t n) {
    const std::int32_t lastTwo = n % 100;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        if (n % 10 == 1)
            suffix = "st";
        else if (n % 10 == 2)
            suffix = "nd";
        else if (n % 10 == 3)
            suffix = "rd";
    }
    return std::to_string(n) + suffix;
}

} // namespace

std::string MemberLabel(const MemberDiff& member) {
    const std::string name = PrintableName(member.Name);
    return member.Repeated ? name + " (" + Ordinal(member.Occurrence) + ")" : name;
}

ArchiveDiff DiffArchives(const std::string& pathA, const std::string& pathB,
                         const ArchiveDiffOptions& options) {
    OpenedArchive a(pathA);
    if (!a.Opened())
        throw EFOpenError(pathA, OpenFault(pathA));
    OpenedArchive b(pathB);
    if (!b.Opened())
        throw EFOpenError(pathB, OpenFault(pathB));
    return Compare(a, b, options, {});
}

ArchiveRebuildReport ArchiveRebuildCheck(const std::string& basePath,
                                         const std::string& existingPath,
                                         const std::vector<MemberSource>& rewritten) {
    ArchiveRebuildReport report;
    OpenedArchive base(basePath);
    OpenedArchive existing(existingPath);
    report.BaseFault = SideFault(base);
    report.Fault = SideFault(existing);
    report.BaseReadable = report.BaseFault.empty();
    report.Readable = report.Fault.empty();
    if (!report.BaseReadable || !report.Readable)
        return report;

    RewrittenRows rows;
    for (const MemberSource& source : rewritten)
        rows[source.Row] = source.Path;
    const ArchiveDiff diff = Compare(base, existing, {false}, rows);
    bool rewrittenDiffer = false;
    for (const MemberDiff& m : diff.Members) {
        if (!m.Added() && rows.contains(m.RowA)) {
            // Its bytes are the rebuild's to write; its place is not.
            rewrittenDiffer = true;
            if (!m.Moved)
                continue;
        }
        report.Dropped.push_back(MemberLabel(m));
    }
    report.OutsideDiffers = diff.GapDiffers || diff.TailDiffers || diff.NameFieldsDiffer;
    report.Identical = report.NothingDropped() && !rewrittenDiffer;
    return report;
}

} // namespace kiv
