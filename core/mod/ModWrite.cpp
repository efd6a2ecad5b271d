#include "mod/ModApply.h"

#include "base/Checksum.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"
#include "mod/IconCoding.h"
#include "mod/ModPlanState.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteDiff.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <set>
#include <tuple>

namespace kiv {

using namespace modplan;

namespace {

using NameField = std::array<unsigned char, ArchiveNameSize>;
using Edit = MemberSource::Edit;

// Headers are read and written in blocks of this many (160 KiB).
constexpr std::int32_t kHeadersPerBlock = 4096;
constexpr std::size_t kCopyBlock = 256 << 10;

} // namespace

namespace {

// Streams a zip entry of the new bytes into the output.
std::string WriteEntry(const ModPlanState& st, const Chosen& chosen, SafeFile& out) {
    const ModReader& reader = st.Reader(chosen);
    ZipEntryReader entry(reader.File(), reader.Entry(st.Change(chosen).File));
    std::vector<unsigned char> block(kCopyBlock);
    for (;;) {
        const std::size_t n = entry.Read(block.data(), block.size());
        if (n == 0)
            return {};
        out.Write(block.data(), n);
    }
}

std::string CopyBase(const ModPlanState& st, std::int64_t from, std::int64_t to, SafeFile& out) {
    if (to > from && out.CopyFrom(st.Base(), from, to - from) != to - from)
        return ReadFailure(st);
    return {};
}

// A member changed icon by icon: its count, its header table with the changed headers put in
// and every data offset moved by the change in size before it, then its data with the new
// icons' data put in; the base's bytes are copied as they stand, the new ones inflated.
std::string WriteIcons(const ModPlanState& st, std::int32_t row, const PlannedMember& pm,
                       SafeFile& out) {
    const std::int64_t start = st.Entry(row).Start;
    const std::int32_t count = pm.IconCount;
    std::string failure = CopyBase(st, start, start + 4, out);
    if (!failure.empty())
        return failure;
    std::int64_t shift = 0;
    auto next = pm.Icons.begin();
    std::vector<unsigned char> block;
    for (std::int32_t j0 = 0; j0 < count; j0 += kHeadersPerBlock) {
        const std::int32_t n = std::min(kHeadersPerBlock, count - j0);
        block.resize(static_cast<std::size_t>(n) * IconHeaderSize);
        if (!st.Base().ReadExactlyAt(start + 4 + std::int64_t{IconHeaderSize} * j0, block.data(),
                                     block.size()))
            return ReadFailure(st);
        for (std::int32_t j = 0; j < n; ++j) {
            unsigned char* bytes = block.data() + static_cast<std::size_t>(j) * IconHeaderSize;
            TIconHeader header = TIconHeader::FromBytes(bytes);
            const std::int64_t starts = header.Starts + shift;
            if (next != pm.Icons.end() && next->first == j0 + j + 1) {
                header = next->second.NewHeader;
                shift += std::int64_t{header.Bytes} - next->second.BaseHeader.Bytes;
                ++next;
            }
            if (starts > std::numeric_limits<std::int32_t>::max())
                return "The new " + PrintableName(st.Entry(row).Name) +
                       " would be larger than its data offsets can address.";
            header.Starts = static_cast<std::int32_t>(starts);
            header.ToBytes(bytes);
        }
        out.Write(block.data(), block.size());
    }
    const std::int64_t area = start + 4 + std::int64_t{IconHeaderSize} * count;
    std::int64_t cursor = area;
    for (const auto& [number, icon] : pm.Icons) {
        const std::int64_t at = area + icon.BaseHeader.Starts;
        if (failure = CopyBase(st, cursor, at, out); !failure.empty())
            return failure;
        std::int64_t done = 0;
        ExpandPlanned(st, row, count, icon, [&](const unsigned char* bytes, std::size_t n) {
            const std::int64_t skip =
                std::clamp<std::int64_t>(IconHeaderSize - done, 0, static_cast<std::int64_t>(n));
            out.Write(bytes + skip, n - static_cast<std::size_t>(skip));
            done += static_cast<std::int64_t>(n);
        });
        cursor = at + icon.BaseHeader.Bytes;
    }
    return CopyBase(st, cursor, st.Entry(row).Finish, out);
}

// The writer of a member's new bytes, wherever it goes.
std::function<std::string(SafeFile&)> MemberWriter(const ModPlanState& st, std::int32_t row,
                                                   const PlannedMember* pm) {
    const PlannedMember::Content what = pm ? pm->What : PlannedMember::Content::Base;
    if (what == PlannedMember::Content::Whole)
        return [&st, pm](SafeFile& out) { return WriteEntry(st, pm->Whole, out); };
    if (what == PlannedMember::Content::Icons)
        return [&st, row, pm](SafeFile& out) { return WriteIcons(st, row, *pm, out); };
    return [&st, row](SafeFile& out) {
        return CopyBase(st, st.Entry(row).Start, st.Entry(row).Finish, out);
    };
}

NameField FieldOf(const ModChange& c) {
    NameField field{};
    const std::string& bytes = c.NameField.empty() ? c.Member.Name : c.NameField;
    std::copy_n(bytes.begin(), std::min(bytes.size(), field.size()), field.begin());
    return field;
}

// The rebuild's sources, in the order of the new archive.
std::vector<MemberSource> Sources(const ModPlanState& st) {
    std::vector<MemberSource> sources;
    const std::int32_t rows = st.Rows();
    if (st.Gap) {
        MemberSource gap{0, st.DirectoryEnd(), st.FirstStart(), {}, st.Change(*st.Gap).Result.Size};
        gap.Kind = Edit::Gap;
        gap.Write = [&st](SafeFile& out) { return WriteEntry(st, *st.Gap, out); };
        sources.push_back(std::move(gap));
    }

    // New and moved members, by the row they go before, in the order of the mods and of
    // their changes.
    struct Placed {
        std::int32_t Before;
        std::size_t Mod;
        const ModChange* Change;
        std::int32_t Row; // a moved member's row; 0 for a new one
    };
    std::vector<Placed> placed;
    const auto before = [&](const ModChange& c) { return c.First ? 1 : st.RowOf(c.After) + 1; };
    for (const Chosen& add : st.Adds)
        placed.push_back({before(st.Change(add)), add.Mod, add.Change, 0});
    for (const auto& [row, pm] : st.Members)
        if (pm.Move)
            placed.push_back({before(st.Change(*pm.Move)), pm.Move->Mod, pm.Move->Change, row});
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return std::tie(a.Before, a.Mod, a.Change) < std::tie(b.Before, b.Mod, b.Change);
    });

    auto next = placed.begin();
    for (std::int32_t r = 1; r <= rows + 1; ++r) {
        const std::int64_t here = r <= rows ? std::int64_t{st.Entry(r).Start} : st.MembersEnd();
        for (; next != placed.end() && next->Before == r; ++next) {
            MemberSource insert{r, here, here, {}, 0};
            insert.Kind = Edit::Insert;
            if (next->Row == 0) {
                const ModChange& c = *next->Change;
                insert.Length = c.Result.Size;
                insert.NameField = FieldOf(c);
                const Chosen chosen{next->Mod, next->Change};
                insert.Write = [&st, chosen](SafeFile& out) { return WriteEntry(st, chosen, out); };
            } else {
                const PlannedMember& pm = st.Members.at(next->Row);
                insert.Length = NewSize(st, next->Row, pm);
                insert.NameField =
                    pm.Field ? FieldOf(st.Change(*pm.Field)) : st.Archive->Field(next->Row);
                insert.Write = MemberWriter(st, next->Row, &pm);
            }
            sources.push_back(std::move(insert));
        }
        if (r > rows)
            break;
        const auto found = st.Members.find(r);
        if (found == st.Members.end())
            continue;
        const PlannedMember& pm = found->second;
        MemberSource own{r, st.Entry(r).Start, st.Entry(r).Finish, {}, 0};
        if (pm.Move || pm.What == PlannedMember::Content::Removed) {
            own.Kind = Edit::Remove;
        } else if (pm.What != PlannedMember::Content::Base || pm.Field) {
            own.Length = NewSize(st, r, pm);
            own.Write = MemberWriter(st, r, &pm);
            if (pm.Field) {
                own.SetsField = true;
                own.NameField = FieldOf(st.Change(*pm.Field));
            }
        } else {
            continue;
        }
        sources.push_back(std::move(own));
    }
    if (st.Tail) {
        MemberSource tail{
            rows + 1, st.MembersEnd(), st.Base().Length(), {}, st.Change(*st.Tail).Result.Size};
        tail.Kind = Edit::Tail;
        tail.Write = [&st](SafeFile& out) { return WriteEntry(st, *st.Tail, out); };
        sources.push_back(std::move(tail));
    }
    return sources;
}

// The existing output's own changes to a member the mods rewrite, where the mods write other
// bytes there: icon by icon for a member the mods change only so, else the member whole.
void NoteReplaced(const ModPlan& plan, const MemberDiff& m, const std::string& existingPath,
                  std::vector<ArchiveRebuildReport::Replacement>& replaced) {
    const ModPlanState& st = *plan.State;
    const auto found = st.Members.find(m.RowA);
    if (!m.Changed || found == st.Members.end())
        return;
    const PlannedMember& pm = found->second;
    const auto existing = InFile::Open(existingPath);
    if (!existing)
        return;
    const auto holds = [&](std::int64_t start, std::int64_t size, const ByteSum& result) {
        std::uint32_t crc = 0;
        return Crc32Of(*existing, start, size, crc) && ByteSum{size, crc} == result;
    };
    if (plan.RewrittenIcons.count(m.RowA)) {
        for (const IconDiff& icon : m.Icons->Changed) {
            const auto planned = pm.Icons.find(icon.Icon);
            if (planned == pm.Icons.end())
                continue;
            bool same = false;
            try {
                const TIconHeader stored = StoredHeader(*existing, m.InB.Start, icon.Icon);
                same = IconSum(*existing, m.InB.Start, m.Icons->CountB, stored) ==
                       st.Change(planned->second.From).Result;
            } catch (const EReadError&) {
            }
            if (!same)
                replaced.push_back({MemberLabel(m) + " icon " + std::to_string(icon.Icon),
                                    st.Label(planned->second.From)});
        }
        return;
    }
    std::optional<Chosen> by;
    if (pm.What == PlannedMember::Content::Whole || pm.What == PlannedMember::Content::Removed)
        by = pm.Whole;
    else if (pm.What == PlannedMember::Content::Icons)
        by = pm.Icons.begin()->second.From;
    else
        by = pm.Move ? pm.Move : pm.Field;
    if (!by ||
        (pm.What == PlannedMember::Content::Whole &&
         holds(m.InB.Start, std::int64_t{m.InB.Finish} - m.InB.Start, st.Change(pm.Whole).Result)))
        return;
    replaced.push_back({MemberLabel(m), st.Label(*by)});
}

} // namespace

ArchiveRebuildReport ModRebuildCheck(const ModPlan& plan, const std::string& existingPath) {
    ArchiveRebuildReport report;
    const ModPlanState& st = *plan.State;
    const ArchiveDiff diff = DiffArchives(st.BasePath, existingPath);
    report.BaseFault = diff.FaultA;
    report.Fault = diff.FaultB;
    report.BaseReadable = diff.FaultA.empty();
    report.Readable = diff.FaultB.empty();
    if (!diff.Readable())
        return report;
    std::set<std::string> added;
    for (const Chosen& add : st.Adds)
        added.insert(st.Change(add).Member.Name);
    const std::set<std::int32_t> rewritten(plan.RewrittenRows.begin(), plan.RewrittenRows.end());
    const auto kept = [&](const MemberDiff& m) {
        if (m.Added())
            return added.count(m.Name) > 0;
        if (rewritten.count(m.RowA))
            return true;
        const auto icons = plan.RewrittenIcons.find(m.RowA);
        if (icons == plan.RewrittenIcons.end() || m.Moved || !m.Icons || !m.Icons->Readable() ||
            m.Icons->CountA != m.Icons->CountB || m.Icons->OutsideDiffers)
            return false;
        return std::all_of(m.Icons->Changed.begin(), m.Icons->Changed.end(),
                           [&](const IconDiff& icon) { // the icons are in ascending order
                               return std::binary_search(icons->second.begin(), icons->second.end(),
                                                         icon.Icon);
                           });
    };
    for (const MemberDiff& m : diff.Members)
        if (!kept(m))
            report.Dropped.push_back(MemberLabel(m));
        else if (!m.Added())
            NoteReplaced(plan, m, existingPath, report.Replaced);
    const bool fields = std::any_of(st.Members.begin(), st.Members.end(),
                                    [](const auto& row) { return row.second.Field.has_value(); });
    report.OutsideDiffers = (diff.GapDiffers && !st.Gap) || (diff.TailDiffers && !st.Tail) ||
                            (diff.NameFieldsDiffer && !fields);
    return report;
}

ModResult WriteModded(const ModPlan& plan, const std::string& outPath,
                      const std::function<void(std::int64_t)>& written) {
    ModResult result;
    result.Ok = false;
    if (plan.Blocked() || !plan.State) {
        result.Message = "The mods cannot be applied; nothing was written.";
        return result;
    }
    ModPlanState& st = *plan.State;
    std::optional<SafeFile> out;
    try {
        out.emplace(outPath);
    } catch (const EFCreateError& e) {
        result.Message = CannotOpenNewArchive(outPath);
        result.WriteFailed = true;
        result.Fault = e.Fault();
        return result;
    } catch (const EOutputBusy& e) {
        result.Message = e.what();
        return result;
    }
    try {
        for (const LoadedMod& mod : st.Mods)
            out->WatchInput(mod.Reader->File());
        const OpResult copied =
            CopyRebuilt(st.BasePath, st.Base(), *out, Sources(st), st.Rows(), written);
        if (!copied.Ok)
            return ModResult::Of(copied);
        // Nothing more is read: the inputs are closed before the base may be replaced.
        st.Archive->Close();
        st.Mods.clear();
        out->Commit();
    } catch (const EWriteError& e) {
        result.Message = "Could not write New Data file (" + outPath + ")";
        result.WriteFailed = true;
        result.Fault = e.Fault();
        return result;
    } catch (const EInputChanged& e) {
        result.Message = e.what();
        return result;
    } catch (const EReadError&) {
        result.Message = ReadFailure(st);
        return result;
    } catch (const EBadMod& e) {
        result.Message = std::string("A mod is damaged: ") + e.what() + "; nothing was written.";
        return result;
    } catch (const EBadZip& e) {
        result.Message = std::string("A mod is damaged: ") + e.what() + "; nothing was written.";
        return result;
    }
    return {};
}

} // namespace kiv
