#include "archive/ArchiveOps.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace kiv {

namespace {

// Offsets in the listing are 32-bit words shown in hexadecimal.
std::int64_t ParseOffset(const std::string& text) {
    return static_cast<std::uint32_t>(StrToInt("$" + text));
}

OpResult Fail(std::string message) {
    OpResult result;
    result.Ok = false;
    result.Message = std::move(message);
    return result;
}

// A file that could not be created or written: a failure of the system, with its reason.
OpResult WriteFailed(std::string message, const WriteFault& fault) {
    OpResult result = Fail(std::move(message));
    result.WriteFailed = true;
    result.Fault = fault;
    return result;
}

// Another run, or a change of an input, stopped the write: a refusal, not a failure.
OpResult Stopped(const Exception& e) {
    return Fail(e.what());
}

// Rows of end words handled per directory block during Replace's fix-up.
constexpr std::int64_t kRowsPerBlock = 1 << 16;

// Moves the end words of rows firstRow..lastRow by delta, reading each from the archive
// (not the listing, so a stale listing cannot corrupt later members) and writing it at the
// same offset of the output. Rows beyond the archive's count word, the end of the archive or
// the end of the output are left as they are. The first `sharedPrefix` bytes of the output are the
// archive's own, so the part of a block below it goes back in one write; words past it are written
// one by one. Returns false when the archive could not be read where its length said it could.
bool ShiftEndWords(const InFile& archive, SafeFile& out, std::int64_t firstRow,
                   std::int64_t lastRow, std::int64_t delta, std::int64_t sharedPrefix) {
    const std::int64_t limit = std::min(archive.Length(), out.Size());
    // Rows past the archive's own directory hold member bytes, not end words: a listing
    // that no longer fits the archive must not rewrite them.
    unsigned char countWord[4];
    if (limit < 8 || !archive.ReadExactlyAt(0, countWord, sizeof countWord))
        return true;
    lastRow = std::min<std::int64_t>(lastRow, GetInt32LE(countWord));
    // Row r's word occupies [17r + 4, 17r + 8).
    lastRow = std::min(lastRow, (limit - 8) / ArchiveEntrySize);
    const auto shift = static_cast<std::uint32_t>(delta);
    std::vector<unsigned char> block;
    for (std::int64_t r0 = firstRow; r0 <= lastRow; r0 += kRowsPerBlock) {
        const std::int64_t r1 = std::min(lastRow, r0 + kRowsPerBlock - 1);
        const std::int64_t from = EndWordOffset(r0);
        const std::int64_t to = EndWordOffset(r1) + 4;
        block.resize(static_cast<std::size_t>(to - from));
        if (!archive.ReadExactlyAt(from, block.data(), block.size()))
            return false;
        for (std::int64_t r = r0; r <= r1; ++r) {
            unsigned char* word = block.data() + (r - r0) * ArchiveEntrySize;
            PutInt32LE(word, static_cast<std::int32_t>(
                                 static_cast<std::uint32_t>(GetInt32LE(word)) + shift));
        }
        const std::int64_t whole = std::min(to, sharedPrefix) - from;
        if (whole > 0)
            out.WriteAt(from, block.data(), static_cast<std::size_t>(whole));
        for (std::int64_t r = r0; r <= r1; ++r) {
            const std::int64_t at = EndWordOffset(r);
            if (at + 4 > from + std::max<std::int64_t>(whole, 0))
                out.WriteAt(at, block.data() + (at - from), 4);
        }
    }
    return true;
}

// The listing's texts are trusted only while the archive still holds them: the number of
// rows a fresh listing would give, and row `rowIndex`'s name, start and end words. A copy put
// over the archive since it was listed would otherwise be cut at the listed offsets. Returns
// "" when they agree, else the message that asks for the archive to be listed again.
std::string StaleListingMessage(const InFile& archive, const std::string& archivePath,
                                const ArchiveRow& row, std::int64_t start, std::int64_t finish,
                                std::int32_t rowIndex, std::int32_t memberCount) {
    unsigned char count[4];
    // Rows the file can hold: a directory cut short by the end of the file lists only those.
    const std::int64_t present = std::max<std::int64_t>(archive.Length() - 8, 0) / ArchiveEntrySize;
    const std::int64_t listed =
        archive.ReadExactlyAt(0, count, sizeof count)
            ? std::min<std::int64_t>(std::max<std::int32_t>(GetInt32LE(count), 0), present)
            : 0;
    // The entry of row r is its 13-byte name and end word; the word before it is its start.
    unsigned char entry[4 + ArchiveEntrySize];
    bool same = listed == memberCount && rowIndex >= 1 && rowIndex <= listed &&
                archive.ReadExactlyAt(EndWordOffset(rowIndex - 1), entry, sizeof entry);
    if (same) {
        const auto* name = entry + 4;
        const void* nul = std::memchr(name, 0, ArchiveNameSize);
        const std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - name)
                : static_cast<std::size_t>(ArchiveNameSize);
        same = static_cast<std::uint32_t>(GetInt32LE(entry)) == start &&
               static_cast<std::uint32_t>(GetInt32LE(entry + 4 + ArchiveNameSize)) == finish &&
               row.Name == std::string(reinterpret_cast<const char*>(name), length);
    }
    if (same)
        return std::string();
    return "The archive " + archivePath +
           " has changed since it was listed. Load it again and retry; nothing was written.";
}

} // namespace

std::string UnsafeNameReason(const std::string& name) {
    if (name.empty())
        return "the name is empty";
    if (name == "." || name == "..")
        return "the name stands for a folder";
    if (name[0] == '/' || name[0] == '\\')
        return "the name is an absolute path";
    if (name.find_first_of("/\\") != std::string::npos)
        return "the name contains a path separator";
    const auto first = static_cast<unsigned char>(name[0]);
    if (name.size() >= 2 && name[1] == ':' &&
        ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')))
        return "the name begins with a drive prefix";
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "the name contains a control character";
    return std::string();
}

std::string UnsafeNameRefusal(const std::string& name) {
    const std::string reason = UnsafeNameReason(name);
    if (reason.empty())
        return reason;
    return "Cannot extract member \"" + name + "\": " + reason + ".";
}

std::string ExtractTargetRefusal(const std::string& archivePath, std::int64_t archiveLength,
                                 const std::string& name, std::int64_t start, std::int64_t finish,
                                 const std::string& target) {
    if (SameFile(archivePath, target))
        return "Cannot extract member \"" + name + "\" to " + target +
               ": that is the archive it is read from.";
    if (finish > start && finish > archiveLength)
        return "Member \"" + name + "\" runs past the end of the archive: it ends at " +
               OffsetText(static_cast<std::uint32_t>(finish)) + ", the archive at " +
               IntToHex(static_cast<std::uint32_t>(archiveLength), 6) + ". Nothing was extracted.";
    return std::string();
}

OpResult ExtractMember(const std::string& archivePath, const ArchiveRow& row,
                       const std::string& outPath, std::int32_t rowIndex,
                       std::int32_t memberCount) {
    const std::int64_t start = ParseOffset(row.StartText);
    const std::int64_t finish = ParseOffset(row.FinishText);

    auto archive = InFile::Open(archivePath);
    if (!archive)
        return Fail(MainDataFileNotFound);
    if (rowIndex > 0) {
        const std::string stale =
            StaleListingMessage(*archive, archivePath, row, start, finish, rowIndex, memberCount);
        if (!stale.empty())
            return Fail(stale);
    }

    // A name taken from the archive must not lead outside the current folder; a path the
    // user chose is theirs.
    const std::string target = outPath.empty() ? row.Name : outPath;
    std::string refusal = outPath.empty() ? UnsafeNameRefusal(row.Name) : std::string();
    if (refusal.empty())
        refusal =
            ExtractTargetRefusal(archivePath, archive->Length(), row.Name, start, finish, target);
    if (!refusal.empty())
        return Fail(std::move(refusal));

    const std::int64_t size = finish > start ? finish - start : 0;
    try {
        SafeFile out(target);
        out.WatchInput(*archive);
        out.DropTargetCache(); // the target is not the archive: refused above
        if (size > 0 && out.CopyFrom(*archive, start, size) != size)
            return Fail("Could not read member \"" + row.Name + "\" from the archive.");
        out.Commit();
    } catch (const EFCreateError& e) {
        return WriteFailed("Cannot create file " + target, e.Fault());
    } catch (const EWriteError& e) {
        return WriteFailed("Cannot write file " + target, e.Fault());
    } catch (const EOutputBusy& e) {
        return Stopped(e);
    } catch (const EInputChanged& e) {
        return Stopped(e);
    }
    return {};
}

std::string CannotOpenTwin(const std::string& path) {
    return "Could not open modified s16 file (" + path + ")";
}

std::string CannotOpenArchive(const std::string& path) {
    return "Could not open Main Data (" + path + ")";
}

std::string CannotOpenNewArchive(const std::string& path) {
    return "Could not open New Data file (" + path + ")";
}

std::string ArchiveLengthRefusal(std::int64_t newLength) {
    if (newLength <= MaxArchiveLength)
        return std::string();
    return "The new archive would be " + std::to_string(newLength) +
           " bytes long; its end words hold at most " + std::to_string(MaxArchiveLength) +
           ". Nothing was written.";
}

OpResult ReplaceMember(const ReplaceRequest& request) {
    std::string twinPath = request.TwinPath;
    if (twinPath.empty()) {
        const std::string reason = UnsafeNameReason(request.Row.Name);
        if (!reason.empty())
            return Fail("Cannot form the modified file's name from member \"" + request.Row.Name +
                        "\": " + reason + ".");
        twinPath = TwinName(request.Row.Name);
    }

    auto twin = InFile::Open(twinPath);
    if (!twin)
        return Fail(CannotOpenTwin(twinPath));
    auto archive = InFile::Open(request.ArchivePath);
    if (!archive)
        return Fail(CannotOpenArchive(request.ArchivePath));
    // The output may be the archive itself: it is written beside it and renamed over it only
    // once every byte needed from the archive and the twin has been read.

    std::optional<SafeFile> out;
    try {
        out.emplace(request.OutPath);
    } catch (const EFCreateError& e) {
        return WriteFailed(CannotOpenNewArchive(request.OutPath), e.Fault());
    } catch (const EOutputBusy& e) {
        return Stopped(e);
    }

    // Parsed only now, with every file open; a conversion error discards the output.
    const std::int64_t start = ParseOffset(request.Row.StartText);
    const std::int64_t finish = ParseOffset(request.Row.FinishText);

    if (request.RowIndex < 1)
        return Fail("No member is selected.");
    const std::string stale = StaleListingMessage(*archive, request.ArchivePath, request.Row, start,
                                                  finish, request.RowIndex, request.MemberCount);
    if (!stale.empty())
        return Fail(stale);
    const std::int64_t length = archive->Length();
    if (start > length)
        return Fail("Member \"" + request.Row.Name +
                    "\" starts past the end of the archive: it starts at " +
                    OffsetText(static_cast<std::uint32_t>(start)) + ", the archive ends at " +
                    IntToHex(static_cast<std::uint32_t>(length), 6) + ".");
    // Bytes from Finish on follow the twin; a member running past the end has none.
    const std::int64_t tail = finish < length ? length - finish : 0;
    if (std::string refusal = ArchiveLengthRefusal(start + twin->Length() + tail); !refusal.empty())
        return Fail(std::move(refusal));

    try {
        const OpResult copied = CopyRebuilt(
            request.ArchivePath, *archive, *out,
            {{request.RowIndex, start, finish, twinPath, twin->Length()}}, request.MemberCount);
        if (!copied.Ok)
            return copied;
        // Nothing more is read: the inputs are closed before one of them may be replaced.
        archive.reset();
        twin.reset();
        out->Commit();
    } catch (const EWriteError& e) {
        return WriteFailed("Could not write New Data file (" + request.OutPath + ")", e.Fault());
    } catch (const EInputChanged& e) {
        return Stopped(e);
    }
    return {};
}

namespace {

using Edit = MemberSource::Edit;

// The header and directory of a rebuild that inserts or removes members or changes the gap:
// the archive's own entries, read in blocks, with the sources' entries put in and taken out,
// and end words that add up the new sizes from the new first start.
OpResult WriteDirectory(const InFile& archive, SafeFile& out,
                        const std::vector<MemberSource>& sources, std::int32_t memberCount,
                        const std::function<OpResult()>& readFailure) {
    unsigned char head[8];
    if (!archive.ReadExactlyAt(0, head, sizeof head))
        return readFailure();
    const std::int64_t rows = memberCount;
    const std::int64_t directoryEnd = 8 + ArchiveEntrySize * rows;
    const std::int64_t firstStart = static_cast<std::uint32_t>(GetInt32LE(head + 4));
    if (GetInt32LE(head) != memberCount || firstStart < directoryEnd)
        return Fail("The archive's directory is not a plain one; it cannot take new members.");

    std::int64_t count = rows;
    std::int64_t gap = firstStart - directoryEnd;
    for (const MemberSource& source : sources) {
        count += source.Kind == Edit::Insert ? 1 : source.Kind == Edit::Remove ? -1 : 0;
        if (source.Kind == Edit::Gap)
            gap = source.Length;
    }
    std::int64_t end = 8 + ArchiveEntrySize * count + gap; // the new first start
    const auto tooLarge = [] {
        return Fail("The new archive would be larger than its 32-bit offsets can address.");
    };
    if (end > 0xFFFFFFFFLL)
        return tooLarge();
    PutInt32LE(head, static_cast<std::int32_t>(count));
    PutInt32LE(head + 4, static_cast<std::int32_t>(static_cast<std::uint32_t>(end)));
    out.Write(head, sizeof head);

    std::vector<unsigned char> block, entries;
    const auto entry = [&](const unsigned char* nameField, std::int64_t length) {
        end += length;
        entries.insert(entries.end(), nameField, nameField + ArchiveNameSize);
        unsigned char word[4];
        PutInt32LE(word, static_cast<std::int32_t>(static_cast<std::uint32_t>(end)));
        entries.insert(entries.end(), word, word + 4);
    };
    // Sources come in the order of the new archive: the gap, then per row the insertions
    // before it and its own change; the insertions after the last row, the tail.
    auto next = sources.begin();
    const auto insertUpTo = [&](std::int64_t row) {
        for (; next != sources.end() &&
               (next->Row < row || (next->Row == row && next->Kind == Edit::Insert));
             ++next)
            if (next->Kind == Edit::Insert)
                entry(next->NameField.data(), next->Length);
    };
    std::int64_t start = firstStart;
    for (std::int64_t r0 = 1; r0 <= rows; r0 += kRowsPerBlock) {
        const std::int64_t r1 = std::min(rows, r0 + kRowsPerBlock - 1);
        block.resize(static_cast<std::size_t>((r1 - r0 + 1) * ArchiveEntrySize));
        if (!archive.ReadExactlyAt(8 + (r0 - 1) * ArchiveEntrySize, block.data(), block.size()))
            return readFailure();
        entries.clear();
        for (std::int64_t r = r0; r <= r1; ++r) {
            const unsigned char* field = block.data() + (r - r0) * ArchiveEntrySize;
            const std::int64_t finish =
                static_cast<std::uint32_t>(GetInt32LE(field + ArchiveNameSize));
            if (finish < start)
                return Fail("The archive's directory is not a plain one; it cannot take new "
                            "members.");
            insertUpTo(r);
            std::int64_t length = finish - start;
            const unsigned char* name = field;
            bool kept = true;
            for (; next != sources.end() && next->Row == r && next->Kind != Edit::Tail; ++next) {
                kept = next->Kind != Edit::Remove;
                length = next->Length;
                if (next->SetsField)
                    name = next->NameField.data();
            }
            if (kept)
                entry(name, length);
            start = finish;
        }
        if (end > 0xFFFFFFFFLL)
            return tooLarge();
        out.Write(entries.data(), entries.size());
    }
    entries.clear();
    insertUpTo(rows + 1);
    if (end > 0xFFFFFFFFLL)
        return tooLarge();
    out.Write(entries.data(), entries.size());
    return {};
}

} // namespace

OpResult CopyRebuilt(const std::string& archivePath, InFile& archive, SafeFile& out,
                     const std::vector<MemberSource>& sources, std::int32_t memberCount,
                     const std::function<void(std::int64_t)>& written) {
    const auto readFailure = [&] { return Fail("Could not read Main Data (" + archivePath + ")"); };
    const auto copy = [&](InFile& from, std::int64_t offset, std::int64_t count) {
        const bool whole = count <= 0 || out.CopyFrom(from, offset, count) == count;
        if (written)
            written(out.Size());
        return whole;
    };
    // The file replaced may be one of the inputs (a rebuild of the archive itself): then its
    // cached pages are still wanted.
    const bool targetIsInput =
        SameFile(out.Target(), archivePath) ||
        std::any_of(sources.begin(), sources.end(), [&out](const MemberSource& source) {
            return !source.Path.empty() && SameFile(out.Target(), source.Path);
        });
    if (!targetIsInput)
        out.DropTargetCache();
    const bool newDirectory =
        std::any_of(sources.begin(), sources.end(), [](const MemberSource& source) {
            return source.Kind == Edit::Insert || source.Kind == Edit::Remove ||
                   source.Kind == Edit::Gap || source.SetsField;
        });
    out.WatchInput(archive);
    const std::int64_t length = archive.Length();
    std::int64_t cursor = 0; // the archive's bytes before this are done with
    if (newDirectory) {
        const OpResult head = WriteDirectory(archive, out, sources, memberCount, readFailure);
        if (!head.Ok)
            return head;
        cursor = 8 + std::int64_t{ArchiveEntrySize} * memberCount;
    }
    std::vector<std::int64_t> deltas;
    deltas.reserve(sources.size());
    for (const MemberSource& source : sources) {
        if (!copy(archive, cursor, source.Start - cursor))
            return readFailure();
        if (source.Write) {
            const std::int64_t before = out.Size();
            const std::string failure = source.Write(out);
            if (!failure.empty())
                return Fail(failure);
            if (out.Size() - before != source.Length)
                return Fail("The new bytes of a member came out at another length than planned.");
            if (written)
                written(out.Size());
        } else if (source.Kind != Edit::Remove) {
            auto file = InFile::Open(source.Path);
            if (!file || file->Length() != source.Length || !copy(*file, 0, source.Length))
                return Fail("Could not read modified s16 file (" + source.Path + ")");
            out.WatchInput(*file);
        }
        deltas.push_back(source.Length - (source.Finish - source.Start));
        cursor = source.Finish;
    }
    // Bytes from the last Finish on follow; a member running past the end has none.
    if (cursor < length && !copy(archive, cursor, length - cursor))
        return readFailure();
    if (newDirectory)
        return {};

    // Up to the first replaced member the output is the archive's own bytes.
    const std::int64_t sharedPrefix = sources.empty() ? 0 : sources.front().Start;
    std::int64_t shift = 0;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        shift += deltas[k];
        const std::int64_t lastRow =
            k + 1 < sources.size() ? std::min<std::int64_t>(sources[k + 1].Row - 1, memberCount)
                                   : memberCount;
        if (!ShiftEndWords(archive, out, sources[k].Row, lastRow, shift, sharedPrefix))
            return readFailure();
    }
    return {};
}

void TestArchive(const std::string& archivePath, const std::vector<ArchiveRow>& rows,
                 std::int32_t memberCount, const std::function<void(const std::string&)>& report) {
    auto archive = InFile::Open(archivePath);
    if (!archive)
        return;
    const std::int64_t length = archive->Length();
    const std::int64_t last = std::min<std::int64_t>(memberCount, std::ssize(rows));
    for (std::int64_t r = 1; r <= last; ++r) {
        const ArchiveRow& row = rows[static_cast<std::size_t>(r - 1)];
        const std::int64_t start = ParseOffset(row.StartText);
        const std::int64_t finish = ParseOffset(row.FinishText);
        // A member is sound only when its bytes are there: its end lies inside the file and
        // not before its start, and its count word and the tested byte can be read.
        unsigned char word[4];
        unsigned char tested = 1;
        if (finish >= start && finish <= length && archive->ReadExactlyAt(start, word, 4) &&
            archive->ReadExactlyAt(start + 40 * std::int64_t{GetInt32LE(word)} + 3, &tested, 1) &&
            tested == 0)
            continue;
        report(row.Name + " at " + IntToHex(static_cast<std::uint32_t>(start), 6) + " is bad!");
    }
}

std::vector<std::string> TestArchive(const std::string& archivePath,
                                     const std::vector<ArchiveRow>& rows,
                                     std::int32_t memberCount) {
    std::vector<std::string> messages;
    TestArchive(archivePath, rows, memberCount,
                [&messages](const std::string& message) { messages.push_back(message); });
    return messages;
}

} // namespace kiv
