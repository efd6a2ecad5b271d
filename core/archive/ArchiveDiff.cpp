#include "archive/ArchiveDiff.h"

#include "archive/ArchiveRebuild.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>

namespace kiv {

namespace {

using NameField = std::array<unsigned char, ArchiveNameSize>;

// One archive being compared: its listing, its name fields as stored, and the place of each
// member among the members of its name.
struct ArchiveSide {
    std::unique_ptr<InFile> File;
    ArchiveListing Listing;
    std::string Fault;
    std::uint32_t FirstStart = 0;
    std::vector<NameField> Fields;
    std::vector<std::int32_t> Occurrence;      // per row, from 1
    std::map<std::string, std::int32_t> Named; // members listed under each name

    std::int64_t DirectoryEnd() const { return 8 + std::int64_t{ArchiveEntrySize} * Rows(); }
    std::int32_t Rows() const { return static_cast<std::int32_t>(Listing.Entries.size()); }
    const TArchiveEntry& Entry(std::int32_t row) const {
        return Listing.Entries[static_cast<std::size_t>(row - 1)];
    }
    // Where the members end: the last one's end, or for none the first start, kept within the
    // file.
    std::int64_t MembersEnd() const {
        const std::int64_t end = Rows() > 0 ? std::int64_t{Entry(Rows()).Finish} : FirstStart;
        return std::clamp(end, DirectoryEnd(), File->Length());
    }
};

// Opens and lists one side; the fault says why it is not a readable archive.
ArchiveSide OpenSide(const std::string& path) {
    ArchiveSide side;
    side.File = InFile::Open(path);
    if (!side.File) {
        side.Fault = ErrorText(EFOpenError(path, OpenFault(path)));
        return side;
    }
    side.Listing = ListArchive(path);
    side.Fault = side.Listing.Opened ? ArchiveFault(side.Listing)
                                     : ErrorText(EFOpenError(path, OpenFault(path)));
    if (side.Fault.empty())
        side.Fault = FirstDamagedMember(side.Listing); // members are compared whole
    if (!side.Fault.empty())
        return side;
    // The directory was inside the file when it was listed; read it again for the bytes the
    // listing drops (the first start, and what follows each name's NUL).
    std::vector<unsigned char> directory(static_cast<std::size_t>(side.DirectoryEnd()));
    if (!side.File->ReadExactlyAt(0, directory.data(), directory.size()))
        throw EReadError();
    side.FirstStart = static_cast<std::uint32_t>(GetInt32LE(directory.data() + 4));
    side.Fields.resize(side.Listing.Entries.size());
    side.Occurrence.resize(side.Listing.Entries.size());
    for (std::size_t i = 0; i < side.Fields.size(); ++i) {
        std::copy_n(directory.data() + 8 + ArchiveEntrySize * i, ArchiveNameSize,
                    side.Fields[i].begin());
        side.Occurrence[i] = ++side.Named[side.Listing.Entries[i].Name];
    }
    return side;
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

ArchiveDiff Compare(ArchiveSide& a, ArchiveSide& b, const ArchiveDiffOptions& options,
                    const RewrittenRows& rewritten) {
    ArchiveDiff diff;
    diff.FaultA = a.Fault;
    diff.FaultB = b.Fault;
    diff.CountA = a.Listing.StoredCount;
    diff.CountB = b.Listing.StoredCount;
    if (!diff.Readable())
        return diff;

    // Pair the members by name and place among their name.
    std::map<std::pair<std::string, std::int32_t>, std::int32_t> rowInA;
    for (std::int32_t r = 1; r <= a.Rows(); ++r)
        rowInA[{a.Entry(r).Name, a.Occurrence[static_cast<std::size_t>(r - 1)]}] = r;
    std::vector<std::int32_t> pairOfA(static_cast<std::size_t>(a.Rows()) + 1, 0);
    std::vector<std::int32_t> pairOfB(static_cast<std::size_t>(b.Rows()) + 1, 0);
    std::vector<std::int32_t> commonInB; // A rows of the pairs, in B's order
    for (std::int32_t r = 1; r <= b.Rows(); ++r) {
        const auto found =
            rowInA.find({b.Entry(r).Name, b.Occurrence[static_cast<std::size_t>(r - 1)]});
        if (found == rowInA.end())
            continue;
        pairOfB[static_cast<std::size_t>(r)] = found->second;
        pairOfA[static_cast<std::size_t>(found->second)] = r;
        commonInB.push_back(found->second);
    }
    rowInA.clear();
    std::vector<bool> movedOfA(pairOfA.size(), false);
    const std::vector<bool> moved = MovedPairs(commonInB);
    for (std::size_t k = 0; k < commonInB.size(); ++k)
        movedOfA[static_cast<std::size_t>(commonInB[k])] = moved[k];

    // Compare the pairs' bytes in A's order, so A is read front to back (and B too, unless
    // its members were moved).
    RangeComparer compare;
    std::map<std::int32_t, MemberDiff> changes; // by A row: only those that differ
    for (std::int32_t ra = 1; ra <= a.Rows(); ++ra) {
        const std::int32_t rb = pairOfA[static_cast<std::size_t>(ra)];
        if (rb == 0)
            continue;
        const TArchiveEntry& ea = a.Entry(ra);
        const TArchiveEntry& eb = b.Entry(rb);
        const std::int64_t sizeA = std::int64_t{ea.Finish} - ea.Start;
        const std::int64_t sizeB = std::int64_t{eb.Finish} - eb.Start;
        MemberDiff m;
        if (const auto own = rewritten.find(ra); own != rewritten.end())
            m.Changed = !HoldsFile(*b.File, eb.Start, sizeB, own->second, compare);
        else
            m.Changed =
                sizeA != sizeB || !compare.Equal(*a.File, ea.Start, *b.File, eb.Start, sizeA);
        if (m.Changed && options.Icons && !rewritten.contains(ra))
            m.Icons = DiffSprites(*a.File, ea.Start, sizeA, *b.File, eb.Start, sizeB);
        m.Moved = movedOfA[static_cast<std::size_t>(ra)];
        diff.NameFieldsDiffer =
            diff.NameFieldsDiffer || a.Fields[static_cast<std::size_t>(ra - 1)] !=
                                         b.Fields[static_cast<std::size_t>(rb - 1)];
        if (m.Changed || m.Moved)
            changes.emplace(ra, std::move(m));
    }

    const auto fill = [&](MemberDiff& m, std::int32_t ra, std::int32_t rb) {
        const ArchiveSide& side = ra > 0 ? a : b;
        const std::int32_t row = ra > 0 ? ra : rb;
        m.Name = side.Entry(row).Name;
        m.Occurrence = side.Occurrence[static_cast<std::size_t>(row - 1)];
        const auto named = [&m](const ArchiveSide& s) {
            const auto found = s.Named.find(m.Name);
            return found == s.Named.end() ? 0 : found->second;
        };
        m.Repeated = named(a) > 1 || named(b) > 1;
        m.RowA = ra;
        m.RowB = rb;
        if (ra > 0)
            m.InA = a.Entry(ra);
        if (rb > 0)
            m.InB = b.Entry(rb);
        diff.Members.push_back(std::move(m));
    };
    // B's order, each removed member before the first member that followed it in A and kept
    // its place.
    std::int32_t nextA = 1;
    const auto removedBefore = [&](std::int32_t ra) {
        for (; nextA < ra; ++nextA)
            if (pairOfA[static_cast<std::size_t>(nextA)] == 0) {
                MemberDiff removed;
                fill(removed, nextA, 0);
            }
    };
    for (std::int32_t rb = 1; rb <= b.Rows(); ++rb) {
        const std::int32_t ra = pairOfB[static_cast<std::size_t>(rb)];
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

    // The gap: its length (the first-start word) and its bytes; then the tail.
    const std::int64_t gapA = std::int64_t{a.FirstStart} - a.DirectoryEnd();
    const std::int64_t gapB = std::int64_t{b.FirstStart} - b.DirectoryEnd();
    const std::int64_t storedGap =
        std::min(std::max<std::int64_t>(gapA, 0), a.File->Length() - a.DirectoryEnd());
    diff.GapDiffers = gapA != gapB || !compare.Equal(*a.File, a.DirectoryEnd(), *b.File,
                                                     b.DirectoryEnd(), storedGap);
    const std::int64_t tailA = a.File->Length() - a.MembersEnd();
    const std::int64_t tailB = b.File->Length() - b.MembersEnd();
    diff.TailDiffers =
        tailA != tailB || !compare.Equal(*a.File, a.MembersEnd(), *b.File, b.MembersEnd(), tailA);
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
    ArchiveSide a = OpenSide(pathA);
    if (!a.File)
        throw EFOpenError(pathA, OpenFault(pathA));
    ArchiveSide b = OpenSide(pathB);
    if (!b.File)
        throw EFOpenError(pathB, OpenFault(pathB));
    return Compare(a, b, options, {});
}

ArchiveRebuildReport ArchiveRebuildCheck(const std::string& basePath,
                                         const std::string& existingPath,
                                         const std::vector<MemberSource>& rewritten) {
    ArchiveRebuildReport report;
    ArchiveSide base = OpenSide(basePath);
    ArchiveSide existing = OpenSide(existingPath);
    report.BaseFault = base.Fault;
    report.Fault = existing.Fault;
    report.BaseReadable = base.Fault.empty();
    report.Readable = existing.Fault.empty();
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
