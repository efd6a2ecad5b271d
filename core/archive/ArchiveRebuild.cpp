#include "archive/ArchiveRebuild.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "base/TextConv.h"

#include <algorithm>

namespace kiv {

std::string CannotOpenTwin(const std::string& path) {
    return "Could not open modified s16 file (" + path + ")";
}

std::string CannotOpenArchive(const std::string& path) {
    return "Could not open Main Data (" + path + ")";
}

std::string CannotOpenNewArchive(const std::string& path) {
    return "Could not open New Data file (" + path + ")";
}

std::string CannotReadArchive(const std::string& path) {
    return "Could not read Main Data (" + path + ")";
}

std::string CannotWriteNewArchive(const std::string& path) {
    return "Could not write New Data file (" + path + ")";
}

std::string ArchiveLengthRefusal(std::int64_t newLength) {
    if (newLength <= MaxArchiveLength)
        return std::string();
    return "The new archive would be " + std::to_string(newLength) +
           " bytes long; its end words hold at most " + std::to_string(MaxArchiveLength) +
           ". Nothing was written.";
}

namespace {

using Edit = MemberSource::Edit;

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

// The largest offset an end word holds.
constexpr std::int64_t kLargestOffset = 0xFFFFFFFFLL;

const char* const kNotPlain =
    "The archive's directory is not a plain one; it cannot take new members.";

OpResult TooLarge() {
    return OpFailed("The new archive would be larger than its 32-bit offsets can address.");
}

// The entries of a directory written anew, gathered a block at a time: the sources' entries
// put in and taken out, and end words that add up the new sizes from the new first start.
// Sources come in the order of the new archive: the gap, then per row the insertions before
// it and its own change; the insertions after the last row, the tail.
class DirectoryWriter {
public:
    DirectoryWriter(const std::vector<MemberSource>& sources, std::int64_t firstStart)
        : next_(sources.begin()), last_(sources.end()), end_(firstStart) {}

    // The inserted members that come before row `row`'s own.
    void InsertUpTo(std::int64_t row) {
        for (; next_ != last_ &&
               (next_->Row < row || (next_->Row == row && next_->Kind == Edit::Insert));
             ++next_)
            if (next_->Kind == Edit::Insert)
                Entry(next_->NameField.data(), next_->Length);
    }

    // Row `row`'s own entry, `field` as the archive stores it and `length` bytes long, as
    // its source (if it has one) changes it.
    void Row(std::int64_t row, const unsigned char* field, std::int64_t length) {
        const unsigned char* name = field;
        bool kept = true;
        for (; next_ != last_ && next_->Row == row && next_->Kind != Edit::Tail; ++next_) {
            kept = next_->Kind != Edit::Remove;
            length = next_->Length;
            if (next_->SetsField)
                name = next_->NameField.data();
        }
        if (kept)
            Entry(name, length);
    }

    bool TooLarge() const { return end_ > kLargestOffset; }

    // Writes the entries gathered since the last time.
    void Flush(SafeFile& out) {
        out.Write(entries_.data(), entries_.size());
        entries_.clear();
    }

private:
    void Entry(const unsigned char* nameField, std::int64_t length) {
        end_ += length;
        entries_.insert(entries_.end(), nameField, nameField + ArchiveNameSize);
        unsigned char word[4];
        PutInt32LE(word, static_cast<std::int32_t>(static_cast<std::uint32_t>(end_)));
        entries_.insert(entries_.end(), word, word + 4);
    }

    std::vector<MemberSource>::const_iterator next_;
    std::vector<MemberSource>::const_iterator last_;
    std::int64_t end_;
    std::vector<unsigned char> entries_;
};

// The header and directory of a rebuild that inserts or removes members or changes the gap:
// the archive's own entries, read in blocks, with the sources' entries put in and taken out.
OpResult WriteDirectory(const InFile& archive, SafeFile& out,
                        const std::vector<MemberSource>& sources, std::int32_t memberCount,
                        const std::function<OpResult()>& readFailure) {
    unsigned char head[8];
    if (!archive.ReadExactlyAt(0, head, sizeof head))
        return readFailure();
    const std::int64_t rows = memberCount;
    const std::int64_t directoryEnd = DirectoryEnd(rows);
    const std::int64_t firstStart = static_cast<std::uint32_t>(GetInt32LE(head + 4));
    if (GetInt32LE(head) != memberCount || firstStart < directoryEnd)
        return OpFailed(kNotPlain);

    std::int64_t count = rows;
    std::int64_t gap = firstStart - directoryEnd;
    for (const MemberSource& source : sources) {
        count += source.Kind == Edit::Insert ? 1 : source.Kind == Edit::Remove ? -1 : 0;
        if (source.Kind == Edit::Gap)
            gap = source.Length;
    }
    const std::int64_t newFirstStart = DirectoryEnd(count) + gap;
    if (newFirstStart > kLargestOffset)
        return TooLarge();
    PutInt32LE(head, static_cast<std::int32_t>(count));
    PutInt32LE(head + 4, static_cast<std::int32_t>(static_cast<std::uint32_t>(newFirstStart)));
    out.Write(head, sizeof head);

    DirectoryWriter writer(sources, newFirstStart);
    std::vector<unsigned char> block;
    std::int64_t start = firstStart;
    for (std::int64_t r0 = 1; r0 <= rows; r0 += kRowsPerBlock) {
        const std::int64_t r1 = std::min(rows, r0 + kRowsPerBlock - 1);
        block.resize(static_cast<std::size_t>((r1 - r0 + 1) * ArchiveEntrySize));
        if (!archive.ReadExactlyAt(DirectoryEnd(r0 - 1), block.data(), block.size()))
            return readFailure();
        for (std::int64_t r = r0; r <= r1; ++r) {
            const unsigned char* field = block.data() + (r - r0) * ArchiveEntrySize;
            const std::int64_t finish =
                static_cast<std::uint32_t>(GetInt32LE(field + ArchiveNameSize));
            if (finish < start)
                return OpFailed(kNotPlain);
            writer.InsertUpTo(r);
            writer.Row(r, field, finish - start);
            start = finish;
        }
        if (writer.TooLarge())
            return TooLarge();
        writer.Flush(out);
    }
    writer.InsertUpTo(rows + 1);
    if (writer.TooLarge())
        return TooLarge();
    writer.Flush(out);
    return {};
}

} // namespace

OpResult CopyRebuilt(const std::string& archivePath, InFile& archive, SafeFile& out,
                     const std::vector<MemberSource>& sources, std::int32_t memberCount,
                     const std::function<void(std::int64_t)>& written) {
    const auto readFailure = [&] { return OpFailed(CannotReadArchive(archivePath)); };
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
        cursor = DirectoryEnd(memberCount);
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
                return OpFailed(failure);
            if (out.Size() - before != source.Length)
                return OpFailed(
                    "The new bytes of a member came out at another length than planned.");
            if (written)
                written(out.Size());
        } else if (source.Kind != Edit::Remove) {
            auto file = InFile::Open(source.Path);
            if (!file || file->Length() != source.Length || !copy(*file, 0, source.Length))
                return OpFailed("Could not read modified s16 file (" + source.Path + ")");
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

} // namespace kiv
