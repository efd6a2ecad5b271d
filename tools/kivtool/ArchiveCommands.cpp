// The browser's operations: listing, member selection, preview, Extract, Replace, Test.

#include "CommandSet.h"
#include "CommandSupport.h"
#include "OutputRule.h"
#include "SpriteSupport.h"

#include "archive/ArchiveRebuild.h"
#include "archive/ArchiveVerify.h"
#include "archive/MemberExtract.h"
#include "archive/MemberReplace.h"
#include "archive/MemberSummary.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "image/Png.h"
#include "sprite/IconDecoder.h"
#include "sprite/PictureFiles.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>

namespace kivtool {

namespace {

// Archives above this size show a progress line while Replace copies them.
constexpr std::int64_t LargeArchive = 8 * 1024 * 1024;

const char* const kIconCountPastEnd = "The member's icon count lies beyond the end of the archive.";

// The start of the commands that write a member or a new archive: the archive is listed,
// refused when it does not look like one, and the member found.
bool FindMemberToWrite(const Context& ctx, const std::string& archive, const std::string& member,
                       kiv::ArchiveListing& listing, MemberRef& ref) {
    return ListOrFail(ctx, archive, listing) && ArchiveLooksRight(ctx, archive, listing) &&
           FindMember(ctx, listing, member, ref);
}

} // namespace

int ListCommand(const Context& ctx, const std::string& archive) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing))
            return ExitFailure;
        // Warnings: the listing goes on.
        if (ArchiveLooksRight(ctx, archive, listing))
            WarnDamagedMembers(ctx, listing);
        ctx.out << listing.StoredCount << " Files\n";
        for (const kiv::TArchiveEntry& entry : listing.Entries)
            ctx.out << PrintableName(entry.Name) << '\t' << kiv::OffsetText(entry.Start) << '\t'
                    << kiv::OffsetText(entry.Finish) << '\n';
        return ExitOk;
    });
}

int HeadersCommand(const Context& ctx, const std::string& archive, const std::string& member) {
    return Guarded(ctx, [&] {
        // With no member the file is a sprite file of its own, as show takes it.
        std::uint32_t start = 0;
        if (member.empty()) {
            std::string archiveFault, spriteFault;
            if (kiv::ClassifyFile(archive, archiveFault, spriteFault) == kiv::VerifiedKind::Archive)
                return Fail(ctx, EscapedText(archive) +
                                     " is an archive: name one of its members, such as "
                                     "`kivtool headers " +
                                     EscapedText(archive) + " hero.s16`.");
            if (!SpriteFileLooksRight(ctx, archive))
                return ExitFailure;
        } else {
            kiv::ArchiveListing listing;
            MemberRef ref;
            if (!ListOrFail(ctx, archive, listing) || !FindMember(ctx, listing, member, ref))
                return ExitFailure;
            // Warnings: the grid is shown anyway, from what the archive holds.
            const bool damaged = WarnIfDamaged(ctx, static_cast<std::size_t>(ref.Row), ref.Entry,
                                               listing.FileLength);
            if (auto file = kiv::InFile::Open(archive); file && !damaged)
                SpriteLooksRight(ctx, ref.Entry.Name, *file, ref.Entry.Start,
                                 std::int64_t{ref.Entry.Finish} - ref.Entry.Start);
            start = ref.Entry.Start;
        }
        const kiv::MemberSummary summary = kiv::SummariseMember(archive, start);
        if (!summary.Opened)
            return member.empty() ? Fail(ctx, "Could not open " + EscapedText(archive))
                                  : FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        if (!summary.CountRead)
            return Fail(ctx, kIconCountPastEnd);

        ctx.out << "Icons: " << summary.MemberIconCount << '\n';
        for (int row = kiv::HeaderRow::Width; row <= kiv::HeaderRow::PixCount; ++row) {
            ctx.out << kiv::HeaderRowLabel(row);
            for (std::size_t k = 0; k < summary.Headers.size(); ++k) {
                ctx.out << '\t';
                if (row != kiv::HeaderRow::PixCount)
                    ctx.out << kiv::HeaderCellText(summary.Headers[k], row);
                else if (k < summary.PixCount.size())
                    ctx.out << summary.PixCount[k];
            }
            ctx.out << '\n';
        }
        ctx.out.flush();

        if (std::ssize(summary.Headers) < summary.MemberIconCount)
            Err(ctx) << "Warning: only " << summary.Headers.size() << " of "
                     << summary.MemberIconCount << " icon headers lie inside the "
                     << (member.empty() ? "file.\n" : "archive.\n");
        if (!summary.ConversionError.empty())
            return Fail(ctx, summary.ConversionError + ".");
        return ExitOk;
    });
}

int ExtractCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   const std::string& outPath, bool force) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        MemberRef ref;
        if (!FindMemberToWrite(ctx, archive, member, listing, ref))
            return ExitFailure;
        // A name taken from the archive must not lead outside the current folder.
        const std::string target = outPath.empty() ? ref.Entry.Name : outPath;
        if (const std::string refusal =
                outPath.empty() ? kiv::UnsafeNameRefusal(ref.Entry.Name) : std::string();
            !refusal.empty())
            return Fail(ctx, refusal);
        auto file = kiv::InFile::Open(archive);
        if (!file)
            return FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        if (const std::string refusal = kiv::ExtractTargetRefusal(
                archive, file->Length(), ref.Entry.Name, ref.Entry.Start, ref.Entry.Finish, target);
            !refusal.empty())
            return Fail(ctx, refusal);

        RuledOutput out(ctx, target, force);
        out.Lock();
        const std::int64_t size =
            std::max<std::int64_t>(std::int64_t{ref.Entry.Finish} - ref.Entry.Start, 0);
        if (const OutputVerdict verdict =
                out.Compare([&] { return CompareExisting(target, *file, ref.Entry.Start, size); });
            verdict != OutputVerdict::Write)
            return StatusOf(verdict);
        file.reset();
        const kiv::OpResult result =
            kiv::ExtractMember(archive, kiv::ArchiveRow::FromEntry(ref.Entry), target);
        return result.Ok ? ExitOk : FailWrite(ctx, result.Message, result.Fault);
    });
}

int ReplaceCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   const std::string& twin, const std::string& outPath, bool force) {
    const std::string out = outPath.empty() ? std::string(kiv::NewArchiveName) : outPath;
    return GuardedOutput(ctx, kiv::CannotOpenNewArchive(out), [&] {
        // Held before the archive is listed: a run that waited for another one then lists
        // the archive that run wrote, and builds on it.
        RuledOutput output(ctx, out, force);
        output.Lock();
        kiv::ArchiveListing listing;
        MemberRef ref;
        if (!FindMemberToWrite(ctx, archive, member, listing, ref) ||
            !NoDamagedMember(ctx, archive, listing))
            return ExitFailure;
        kiv::ReplaceRequest request;
        request.ArchivePath = archive;
        request.Row = kiv::ArchiveRow::FromEntry(ref.Entry);
        request.RowIndex = ref.Row;
        // Rows the listing could not read lie beyond the end of the file: no end word to move.
        request.MemberCount = static_cast<std::int32_t>(listing.Entries.size());
        request.TwinPath = twin;
        request.OutPath = out;
        const std::string twinPath = twin.empty() && kiv::UnsafeNameReason(ref.Entry.Name).empty()
                                         ? kiv::TwinName(ref.Entry.Name)
                                         : twin;
        if (!twinPath.empty() && !output.NotInput(twinPath, "the twin it is read from"))
            return ExitFailure;

        if (!twinPath.empty() && kiv::StampOf(twinPath).Exists) {
            std::vector<std::string> buildsOn{"replace", request.OutPath, member};
            if (!twin.empty())
                buildsOn.insert(buildsOn.end(), {"--twin", twin});
            if (request.OutPath != kiv::NewArchiveName)
                buildsOn.insert(buildsOn.end(), {"-o", request.OutPath});
            const kiv::MemberSource rewritten{ref.Row, ref.Entry.Start, ref.Entry.Finish, twinPath,
                                              0};
            if (const OutputVerdict verdict = output.CompareRebuild([&](kiv::OutputLock& lock) {
                    return JudgeArchiveRebuild(ctx, lock, archive, out, {rewritten}, buildsOn);
                });
                verdict != OutputVerdict::Write)
                return StatusOf(verdict);
        }
        ProgressLine progress(ctx, "Writing " + request.OutPath, 0);
        if (auto file = kiv::InFile::Open(archive); file && file->Length() > LargeArchive)
            progress.ShowNow();
        const kiv::OpResult result = kiv::ReplaceMember(request);
        return result.Ok ? ExitOk : FailWrite(ctx, result.Message, result.Fault);
    });
}

int TestCommand(const Context& ctx, const std::string& archive) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        if (!ListOrFail(ctx, archive, listing) || !ArchiveLooksRight(ctx, archive, listing))
            return ExitFailure;
        std::vector<kiv::ArchiveRow> rows;
        rows.reserve(listing.Entries.size());
        for (const kiv::TArchiveEntry& entry : listing.Entries)
            rows.push_back(kiv::ArchiveRow::FromEntry(entry));
        const std::vector<std::string> bad =
            kiv::TestArchive(archive, rows, static_cast<std::int32_t>(rows.size()));
        for (const std::string& line : bad)
            ctx.out << PrintableName(line) << '\n';
        return bad.empty() ? ExitOk : ExitFailure;
    });
}

int PreviewCommand(const Context& ctx, const std::string& archive, const std::string& member,
                   std::int64_t icon, const std::string& outPath, bool force) {
    return Guarded(ctx, [&] {
        kiv::ArchiveListing listing;
        MemberRef ref;
        RuledOutput out(ctx, outPath, force);
        if (!ListOrFail(ctx, archive, listing) || !FindMember(ctx, listing, member, ref) ||
            !out.NotInput(archive, "the archive it is read from"))
            return ExitFailure;
        out.Lock();
        auto file = kiv::InFile::Open(archive);
        if (!file)
            return FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        out.Watch(file->Stamp());
        // The member as the browser shows it, then the icon of its column.
        const kiv::MemberSummary summary = kiv::SummariseMember(archive, ref.Entry.Start);
        if (!summary.Opened)
            return FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        if (!summary.CountRead)
            return Fail(ctx, kIconCountPastEnd);
        if (icon < 1 || icon > summary.MemberIconCount)
            return Fail(ctx, IconRangeMessage(icon, summary.MemberIconCount));
        if (icon > std::ssize(summary.Headers))
            return Fail(ctx, "The header of icon " + std::to_string(icon) +
                                 " lies beyond the end of the archive.");
        kiv::DecodeStats stats;
        const kiv::Image frame = kiv::PreviewIcon(
            *file, summary.PixelBase, summary.Headers[static_cast<std::size_t>(icon - 1)], &stats);
        file.reset();
        if (stats.EndedEarly)
            Err(ctx) << kiv::EndedEarlyWarning(icon) << '\n';
        return out.Write(PictureBytes(frame, outPath));
    });
}

} // namespace kivtool

namespace kivtool {

int VerifyCommand(const Context& ctx, const std::string& path) {
    return Guarded(ctx, [&] {
        const std::string shown = PrintableName(path);
        const kiv::VerifyResult result = kiv::VerifyFile(path, [&](const std::string& line) {
            ctx.out << shown << ": " << PrintableName(line) << '\n';
        });
        ctx.out.flush();
        switch (result.Kind) {
        case kiv::VerifiedKind::Missing:
            return Fail(ctx, "Could not open " + shown);
        case kiv::VerifiedKind::Neither:
            return Fail(ctx, shown +
                                 " does not look like a sprite archive or a sprite file: as an "
                                 "archive, " +
                                 result.ArchiveFault + "; as a sprite file, " + result.SpriteFault);
        case kiv::VerifiedKind::Archive:
        case kiv::VerifiedKind::Sprite:
            break;
        }
        const std::string what =
            result.Kind == kiv::VerifiedKind::Archive
                ? "an archive of " + std::to_string(result.Members) + " members, " +
                      std::to_string(result.Icons) + " icons"
                : "a sprite file of " + std::to_string(result.Icons) + " icons";
        if (result.Problems > 0)
            return Fail(ctx, shown + ": " + std::to_string(result.Problems) +
                                 (result.Problems == 1 ? " problem in " : " problems in ") + what +
                                 ".");
        ctx.out << shown << ": " << what << ": no problems.\n";
        return ExitOk;
    });
}

} // namespace kivtool

namespace kivtool {

namespace {

struct ArchiveArgs {
    std::string Archive;
};
struct MemberArgs {
    std::string Archive;
    std::string Member; // headers: empty when the file is a sprite file
};
struct ExtractArgs {
    std::string Archive;
    std::string Member;
    std::string Out;
    bool Force = false;
};
struct ReplaceArgs {
    std::string Archive;
    std::string Member;
    std::string Twin;
    std::string Out;
    bool Force = false;
};
struct PreviewArgs {
    std::string Archive;
    std::string Member;
    std::int64_t Icon = 0;
    std::string Out;
    bool Force = false;
};

void RegisterList(CommandSet& set) {
    auto a = std::make_shared<ArchiveArgs>();
    CLI::App* sub = set.Add(
        "list",
        "List the archive's members: '<N> Files', then NAME<TAB>START<TAB>FINISH per member, "
        "offsets in hexadecimal.",
        "kivtool list Modgen.dat", [a](const Context& c) { return ListCommand(c, a->Archive); });
    AddArchive(sub, a->Archive);
}

void RegisterHeaders(CommandSet& set) {
    auto a = std::make_shared<MemberArgs>();
    CLI::App* sub =
        set.Add("headers",
                "Show the icon headers of an archive's member, or of a sprite file, as the "
                "browser's header grid: 'Icons: <count>', then one line per row (Width ... "
                "Pix Count) with one cell per icon.",
                "kivtool headers Modgen.dat hero.s16",
                [a](const Context& c) { return HeadersCommand(c, a->Archive, a->Member); });
    sub->add_option("FILE", a->Archive, "The data archive, such as Modgen.dat, or a sprite file")
        ->required();
    sub->add_option("MEMBER", a->Member,
                    "A member's name as listed, or #N for listing row N; left out when FILE is "
                    "a sprite file");
}

void RegisterExtract(CommandSet& set) {
    auto a = std::make_shared<ExtractArgs>();
    CLI::App* sub = set.Add(
        "extract", "Copy a member's bytes to a file (default: its own name in the current folder).",
        "kivtool extract Modgen.dat hero.s16 -o hero.s16", [a](const Context& c) {
            return ExtractCommand(c, a->Archive, a->Member, a->Out, a->Force);
        });
    AddArchive(sub, a->Archive);
    AddMember(sub, a->Member);
    sub->add_option("-o,--output", a->Out, "Output file");
    AddForce(sub, a->Force, kForceFile);
}

void RegisterReplace(CommandSet& set) {
    auto a = std::make_shared<ReplaceArgs>();
    CLI::App* sub = set.Add(
        "replace",
        "Write a new archive with one member replaced by its modified twin; the end offsets of "
        "that member and every later one move by the change in size. The output may be the "
        "archive itself, so 'kivtool replace Newgen.dat ...' keeps building on earlier changes.",
        "kivtool replace Modgen.dat hero.s16 --twin hero.s17 -o Newgen.dat", [a](const Context& c) {
            return ReplaceCommand(c, a->Archive, a->Member, a->Twin, a->Out, a->Force);
        });
    AddArchive(sub, a->Archive);
    AddMember(sub, a->Member);
    sub->add_option("--twin", a->Twin,
                    "The member's new bytes (default: the member's name with its last "
                    "character changed to '7')");
    sub->add_option("-o,--output", a->Out, "The new archive (default: Newgen.dat)");
    AddForce(sub, a->Force, kForceRebuild);
}

void RegisterTestAndVerify(CommandSet& set) {
    auto test = std::make_shared<ArchiveArgs>();
    CLI::App* sub = set.Add(
        "test",
        "Check every member: prints '<name> at <start> is bad!' for each member whose header "
        "area does not end in a zero byte; exit status 1 when any is bad.",
        "kivtool test Modgen.dat",
        [test](const Context& c) { return TestCommand(c, test->Archive); });
    AddArchive(sub, test->Archive);

    auto verify = std::make_shared<ArchiveArgs>();
    sub = set.Add("verify",
                  "Check an archive or a sprite file (told apart by their structure) deeply: the "
                  "directory, and every icon of every member: its header, where its data lie, "
                  "and that it decodes within its data and its box. One line per problem and "
                  "exit status 1; otherwise one summary line.",
                  "kivtool verify Modgen.dat",
                  [verify](const Context& c) { return VerifyCommand(c, verify->Archive); });
    sub->add_option("FILE", verify->Archive, "A data archive or an S16/S17 sprite file")
        ->required();
}

void RegisterPreview(CommandSet& set) {
    auto a = std::make_shared<PreviewArgs>();
    CLI::App* sub =
        set.Add("preview",
                "Decode one icon of a member, as the browser previews it, into a Windows bitmap.",
                "kivtool preview Modgen.dat hero.s16 3 -o hero3.bmp", [a](const Context& c) {
                    return PreviewCommand(c, a->Archive, a->Member, a->Icon, a->Out, a->Force);
                });
    AddArchive(sub, a->Archive);
    AddMember(sub, a->Member);
    AddIcon(sub, a->Icon);
    AddPictureOutput(sub, a->Out);
    AddForce(sub, a->Force, kForceFile);
}

} // namespace

void RegisterArchiveCommands(CommandSet& set) {
    RegisterList(set);
    RegisterHeaders(set);
    RegisterExtract(set);
    RegisterReplace(set);
    RegisterTestAndVerify(set);
    RegisterPreview(set);
}

} // namespace kivtool
