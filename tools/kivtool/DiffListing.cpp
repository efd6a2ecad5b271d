#include "DiffListing.h"

#include "base/TextConv.h"

#include <algorithm>

namespace kivtool {

namespace {

std::string Icons(std::int32_t first, std::int32_t last) {
    if (first == last)
        return "icon " + std::to_string(first);
    return "icons " + std::to_string(first) + " to " + std::to_string(last);
}

const char* What(const kiv::IconDiff& icon) {
    if (icon.Header && icon.Data)
        return "header and pixels";
    return icon.Header ? "header" : "pixels";
}

// "(not a sprite file in the first: <why>)" for a changed member whose icons cannot be
// compared.
std::string Unreadable(const kiv::SpriteDiff& diff, const DiffSides& sides) {
    if (!diff.FaultA.empty() && !diff.FaultB.empty())
        return " (not a sprite file on either side)";
    const bool inA = !diff.FaultA.empty();
    return " (not a sprite file in " + (inA ? sides.A : sides.B) + ": " +
           kiv::PrintableName(inA ? diff.FaultA : diff.FaultB) + ")";
}

std::string Rows(const kiv::MemberDiff& m) {
    return "row " + std::to_string(m.RowA) + " -> row " + std::to_string(m.RowB);
}

} // namespace

void PrintSpriteDiff(std::ostream& out, const kiv::SpriteDiff& diff, const std::string& indent,
                     const DiffSides& sides) {
    if (!diff.Readable()) {
        out << indent << "not comparable icon by icon:" << Unreadable(diff, sides) << '\n';
        return;
    }
    // Runs of neighbouring icons that changed in the same way share a line.
    const auto& changed = diff.Changed;
    for (std::size_t k = 0; k < changed.size();) {
        std::size_t end = k + 1;
        while (end < changed.size() &&
               std::int64_t{changed[end].Icon} == std::int64_t{changed[end - 1].Icon} + 1 &&
               changed[end].Header == changed[k].Header && changed[end].Data == changed[k].Data)
            ++end;
        out << indent << Icons(changed[k].Icon, changed[end - 1].Icon) << ": " << What(changed[k])
            << '\n';
        k = end;
    }
    const std::int32_t common = std::min(diff.CountA, diff.CountB);
    if (diff.CountB > common)
        out << indent << Icons(common + 1, diff.CountB) << ": added\n";
    if (diff.CountA > common)
        out << indent << Icons(common + 1, diff.CountA) << ": removed\n";
    if (diff.OutsideDiffers)
        out << indent << "bytes outside the icons' data differ\n";
    // A file whose icons are all the same but lie elsewhere says so, rather than nothing.
    if (changed.empty() && diff.CountA == diff.CountB && !diff.OutsideDiffers && diff.StartsDiffer)
        out << indent << "the icons' data lie in another order\n";
}

void PrintMemberDiff(std::ostream& out, const kiv::MemberDiff& m, const DiffSides& sides) {
    const std::string label = kiv::MemberLabel(m);
    if (m.Added()) {
        out << "added " << label << '\n';
        return;
    }
    if (m.Removed()) {
        out << "removed " << label << '\n';
        return;
    }
    if (!m.Changed) {
        out << "moved " << label << ": " << Rows(m) << '\n';
        return;
    }
    out << "changed " << label;
    if (m.Moved)
        out << " (moved: " << Rows(m) << ")";
    if (m.Icons && !m.Icons->Readable()) {
        out << Unreadable(*m.Icons, sides) << '\n';
        return;
    }
    out << '\n';
    if (m.Icons)
        PrintSpriteDiff(out, *m.Icons, "  ", sides);
}

void PrintArchiveDiff(std::ostream& out, const kiv::ArchiveDiff& diff, const DiffSides& sides) {
    for (const kiv::MemberDiff& m : diff.Members)
        PrintMemberDiff(out, m, sides);
    if (diff.GapDiffers)
        out << "gap before the first member differs\n";
    if (diff.TailDiffers)
        out << "bytes after the last member differ\n";
    if (diff.NameFieldsDiffer)
        out << "bytes after a name in the directory differ\n";
}

} // namespace kivtool
