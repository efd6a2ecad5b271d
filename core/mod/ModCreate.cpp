#include "mod/ModCreate.h"

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveOps.h"
#include "archive/OpenedArchive.h"
#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"
#include "mod/IconCoding.h"
#include "mod/ModReader.h"

#include <algorithm>
#include <map>
#include <optional>

namespace kiv {

namespace {

using Side = OpenedArchive;

// One of the two archives, as the comparison found it.
std::unique_ptr<Side> OpenSide(const std::string& path) {
    auto side = std::make_unique<Side>(path);
    if (!side->Opened())
        throw EFOpenError(path, OpenFault(path));
    if (!side->Fault().empty())
        throw EReadError(); // changed since it was compared
    return side;
}

// The entry that holds every changed icon's new bytes.
constexpr const char* kIconsEntry = "icons.bin";

// A zip entry name for a member's bytes: its row and its name with anything but letters,
// digits, '.', '-' and '_' made '_', so unpacking the mod with other tools never writes
// outside the folder it unpacks into.
std::string EntryName(const std::string& folder, std::int32_t row, const std::string& name) {
    std::string safe;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        safe += plain ? c : '_';
    }
    return folder + "/" + std::to_string(row) + "-" + safe;
}

class Maker {
public:
    Maker(Side& base, Side& next, ZipWriter& zip) : a_(base), b_(next), zip_(zip) {}

    void Gap(ModManifest& manifest);
    void Tail(ModManifest& manifest);
    // False, with nothing done, for a member changed icon by icon: Icons() takes it later,
    // when the entry of every icon's new bytes is open.
    bool Member(const MemberDiff& m, ModManifest& manifest);
    void Fields(ModManifest& manifest);
    // Placing members: the nearest member before row `rowB` of the new archive that is in
    // both archives and kept its place.
    void Placed(std::int32_t rowB, ModChange& change) const;
    void Standing(const ArchiveDiff& diff);

private:
    MemberKey KeyOf(const Side& side, std::int32_t row) const {
        MemberKey key;
        key.Name = side.Entry(row).Name;
        key.Copy = side.Occurrence(row);
        key.Repeated = a_.Listed(key.Name) > 1 || b_.Listed(key.Name) > 1;
        return key;
    }
    ByteSum Whole(const std::string& name, const Side& side, std::int64_t from, std::int64_t to);

public:
    void Icons(const MemberDiff& m, std::vector<ModChange>& changes);

private:
    Side& a_;
    Side& b_;
    ZipWriter& zip_;
    std::vector<bool> standing_; // new rows in both archives that kept their place
};

// The new bytes of [from, to) of `side` as one deflated entry.
ByteSum Maker::Whole(const std::string& name, const Side& side, std::int64_t from,
                     std::int64_t to) {
    zip_.Begin(name, ZipMethod::Deflated, ZlibDefaultLevel);
    if (!zip_.Copy(side.File(), from, to - from))
        throw EReadError();
    return {to - from, zip_.End()};
}

void Maker::Gap(ModManifest& manifest) {
    ModChange c;
    c.Kind = ModChangeKind::Gap;
    c.Base = RangeSum(a_.File(), a_.DirectoryEnd(), a_.MembersStart());
    c.File = "gap.bin";
    c.Result = Whole(c.File, b_, b_.DirectoryEnd(), b_.MembersStart());
    manifest.Changes.push_back(std::move(c));
}

void Maker::Tail(ModManifest& manifest) {
    ModChange c;
    c.Kind = ModChangeKind::Tail;
    c.Base = RangeSum(a_.File(), a_.MembersEnd(), a_.Length());
    c.File = "tail.bin";
    c.Result = Whole(c.File, b_, b_.MembersEnd(), b_.Length());
    manifest.Changes.push_back(std::move(c));
}

void Maker::Standing(const ArchiveDiff& diff) {
    standing_.assign(static_cast<std::size_t>(b_.Rows()) + 1, true);
    for (const MemberDiff& m : diff.Members)
        if (m.RowB > 0 && (m.Added() || m.Moved))
            standing_[static_cast<std::size_t>(m.RowB)] = false;
}

void Maker::Placed(std::int32_t rowB, ModChange& change) const {
    std::int32_t before = rowB - 1;
    while (before > 0 && !standing_[static_cast<std::size_t>(before)])
        --before;
    change.First = before == 0;
    if (!change.First)
        change.After = KeyOf(b_, before); // a member both hold is named alike in both
}

// The changed icons of a member, each compressed against its old bytes into the one entry
// that holds every icon's new bytes.
void Maker::Icons(const MemberDiff& m, std::vector<ModChange>& changes) {
    const SpriteDiff& icons = *m.Icons;
    for (const IconDiff& icon : icons.Changed) {
        ModChange c;
        c.Kind = ModChangeKind::Icon;
        c.Member = KeyOf(a_, m.RowA);
        c.Icon = icon.Icon;
        c.Header = icon.Header;
        c.Data = icon.Data;
        const TIconHeader was = StoredHeader(a_.File(), m.InA.Start, icon.Icon);
        const TIconHeader now = StoredHeader(b_.File(), m.InB.Start, icon.Icon);
        c.Base = IconSum(a_.File(), m.InA.Start, icons.CountA, was);
        c.Result = IconSum(b_.File(), m.InB.Start, icons.CountB, now);
        c.File = kIconsEntry;
        c.At = zip_.EntrySize();
        const CompressedIcon made = CompressIcon(
            IconOf(a_.File(), m.InA.Start, icons.CountA, was), c.Base.Size,
            IconOf(b_.File(), m.InB.Start, icons.CountB, now), c.Result.Size,
            [this](const unsigned char* bytes, std::size_t n) { zip_.Write(bytes, n); });
        c.Length = made.Length;
        c.Coding = made.Coding;
        changes.push_back(std::move(c));
    }
}

bool Maker::Member(const MemberDiff& m, ModManifest& manifest) {
    ModChange c;
    c.RowA = m.RowA;
    c.RowB = m.RowB;
    if (m.Added()) {
        c.Kind = ModChangeKind::Add;
        c.Member.Name = m.Name;
        Placed(m.RowB, c);
        const std::string field = b_.FieldText(m.RowB);
        if (field != (m.Name + std::string(ArchiveNameSize, '\0')).substr(0, ArchiveNameSize))
            c.NameField = field;
        c.File = EntryName("added", m.RowB, m.Name);
        c.Result = Whole(c.File, b_, m.InB.Start, m.InB.Finish);
        manifest.Changes.push_back(std::move(c));
        return true;
    }
    c.Member = KeyOf(a_, m.RowA);
    if (m.Removed()) {
        c.Kind = ModChangeKind::Remove;
        c.Base = RangeSum(a_.File(), m.InA.Start, m.InA.Finish);
        manifest.Changes.push_back(std::move(c));
        return true;
    }
    if (m.Moved) {
        ModChange move = c;
        move.Kind = ModChangeKind::Move;
        Placed(m.RowB, move);
        manifest.Changes.push_back(std::move(move));
    }
    // Icon by icon only where the icons alone make up the member on both sides.
    const bool byIcon = m.Icons && m.Icons->Readable() && m.Icons->PackedA && m.Icons->PackedB &&
                        m.Icons->CountA == m.Icons->CountB && !m.Icons->OutsideDiffers;
    if (!m.Changed || byIcon)
        return !m.Changed;
    c.Kind = ModChangeKind::Member;
    c.Base = RangeSum(a_.File(), m.InA.Start, m.InA.Finish);
    c.File = EntryName("members", m.RowA, m.Name);
    c.Result = Whole(c.File, b_, m.InB.Start, m.InB.Finish);
    c.Icons = m.Icons;
    manifest.Changes.push_back(std::move(c));
    return true;
}

// Other bytes after a name in the directory: the members both archives hold, paired by name
// and place among their name as the comparison pairs them.
void Maker::Fields(ModManifest& manifest) {
    const std::vector<std::int32_t> rowInA = a_.PairedRows(b_);
    for (std::int32_t rb = 1; rb <= b_.Rows(); ++rb) {
        const std::int32_t ra = rowInA[static_cast<std::size_t>(rb)];
        if (ra == 0 || a_.Field(ra) == b_.Field(rb))
            continue;
        ModChange c;
        c.Kind = ModChangeKind::Field;
        c.Member = KeyOf(a_, ra);
        c.NameField = b_.FieldText(rb);
        c.RowA = ra;
        c.RowB = rb;
        manifest.Changes.push_back(std::move(c));
    }
}

ModCreated Failed(std::string message) {
    ModCreated result;
    result.Ok = false;
    result.Message = std::move(message);
    return result;
}

ModCreated WriteFailed(std::string message, const WriteFault& fault) {
    ModCreated result = Failed(std::move(message));
    result.WriteFailed = true;
    result.Fault = fault;
    return result;
}

// Compares the two archives; a failure when no mod can be made of them.
ModCreated Compare(const std::string& basePath, const std::string& newPath,
                   const std::string& outPath, ArchiveDiff& diff) {
    try {
        diff = DiffArchives(basePath, newPath);
    } catch (const EFOpenError& e) {
        return Failed(ErrorText(e));
    } catch (const EReadError&) {
        return Failed("Could not read " + PrintableName(basePath) + " or " +
                      PrintableName(newPath) + ".");
    }
    if (!diff.Readable()) {
        const bool base = !diff.FaultA.empty();
        return Failed(
            PrintableName(base ? basePath : newPath) +
            " does not look like a sprite archive: " + (base ? diff.FaultA : diff.FaultB));
    }
    if (diff.Same()) {
        ModCreated same = Failed(PrintableName(basePath) + " and " + PrintableName(newPath) +
                                 " hold the same bytes; no mod was written.");
        same.Same = true;
        return same;
    }
    if (SameFile(outPath, basePath) || SameFile(outPath, newPath))
        return Failed("Cannot write the mod to " + PrintableName(outPath) +
                      ": that is an archive it is made from.");
    return {};
}

// Every change into the manifest, and the new bytes into the zip, in the new archive's order.
void AddChanges(Maker& maker, ZipWriter& zip, const ArchiveDiff& diff, ModManifest& manifest) {
    if (diff.GapDiffers)
        maker.Gap(manifest);
    // Members changed icon by icon get their place in the manifest now and their icons after
    // the other entries, all in one entry.
    std::vector<std::pair<std::size_t, const MemberDiff*>> byIcon;
    for (const MemberDiff& m : diff.Members)
        if (!maker.Member(m, manifest))
            byIcon.emplace_back(manifest.Changes.size(), &m);
    if (!byIcon.empty()) {
        std::vector<ModChange> changes;
        zip.Begin(kIconsEntry, ZipMethod::Stored);
        std::size_t inserted = 0;
        for (const auto& [place, m] : byIcon) {
            changes.clear();
            maker.Icons(*m, changes);
            const auto at = static_cast<std::ptrdiff_t>(place + inserted);
            manifest.Changes.insert(manifest.Changes.begin() + at, changes.begin(), changes.end());
            inserted += changes.size();
        }
        zip.End();
    }
    if (diff.NameFieldsDiffer)
        maker.Fields(manifest);
    if (diff.TailDiffers)
        maker.Tail(manifest);
}

// The manifest, of at most ModMaxManifest bytes; "" when even without the icon summaries
// (for listings only: a mod works without them) it would be larger.
std::string FittingManifest(ModManifest& manifest) {
    std::string json = ManifestJson(manifest);
    if (std::ssize(json) > ModMaxManifest) {
        for (ModChange& c : manifest.Changes)
            c.Icons.reset();
        json = ManifestJson(manifest);
    }
    return std::ssize(json) > ModMaxManifest ? std::string() : json;
}

// Writes the mod into `out` and commits it.
ModCreated WriteMod(const std::string& basePath, const std::string& newPath,
                    const std::string& outPath, const ModMetadata& metadata,
                    const ArchiveDiff& diff, SafeFile& out) {
    ModCreated result;
    const std::unique_ptr<Side> sideA = OpenSide(basePath);
    const std::unique_ptr<Side> sideB = OpenSide(newPath);
    out.WatchInput(sideA->File());
    out.WatchInput(sideB->File());
    ZipWriter zip(out);
    Maker maker(*sideA, *sideB, zip);
    maker.Standing(diff);

    ModManifest manifest;
    manifest.Title = metadata.Title;
    manifest.Author = metadata.Author;
    manifest.Note = metadata.Note;
    manifest.BaseSize = sideA->Length();
    manifest.BaseMembers = sideA->Rows();
    AddChanges(maker, zip, diff, manifest);
    const std::string json = FittingManifest(manifest);
    if (json.empty())
        return Failed("The changes are too many for one mod: its manifest would pass 8 MiB.");
    zip.Begin(ModManifestName, ZipMethod::Deflated);
    zip.Write(json.data(), json.size());
    zip.End();
    zip.Finish();
    result.Changes = std::ssize(manifest.Changes);
    result.Size = out.Size();
    // Read back as `mod apply` and `mod info` read it, with their checks: a mod they would
    // refuse is never put in place.
    try {
        const ModReader check(out.TemporaryPath(), outPath);
    } catch (const EBadMod& e) {
        return Failed(std::string(e.what()) + "; `mod apply` would refuse it, so no mod was "
                                              "written.");
    }
    sideA->Close();
    sideB->Close();
    out.Commit();
    return result;
}

} // namespace

ModCreated CreateMod(const std::string& basePath, const std::string& newPath,
                     const std::string& outPath, const ModMetadata& metadata) {
    ArchiveDiff diff;
    if (ModCreated refused = Compare(basePath, newPath, outPath, diff); !refused.Ok)
        return refused;
    std::optional<SafeFile> out;
    try {
        out.emplace(outPath);
    } catch (const EFCreateError& e) {
        return WriteFailed(e.what(), e.Fault());
    } catch (const EOutputBusy& e) {
        return Failed(e.what());
    }
    try {
        return WriteMod(basePath, newPath, outPath, metadata, diff, *out);
    } catch (const EReadError&) {
        return Failed("Could not read " + PrintableName(basePath) + " or " +
                      PrintableName(newPath) + " as they were compared.");
    } catch (const EWriteError& e) {
        return WriteFailed("Cannot write file " + PrintableName(outPath), e.Fault());
    } catch (const EInputChanged& e) {
        return Failed(e.what());
    }
}

} // namespace kiv
