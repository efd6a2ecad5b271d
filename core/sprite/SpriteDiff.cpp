#include "sprite/SpriteDiff.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "sprite/S16Format.h"
#include "sprite/SpriteCheck.h"

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

namespace kiv {

namespace {

// Headers come in blocks of this many (160 KiB).
constexpr std::int32_t kHeadersPerBlock = 4096;

// One side of a comparison: a sprite file inside `file`.
struct SpriteRange {
    InFile& File;
    std::int64_t Start = 0;
    std::int64_t Length = 0;
    std::int32_t Count = 0;
    // Offset of the data area from Start.
    std::int64_t Area() const { return 4 + std::int64_t{IconHeaderSize} * Count; }
};

// Reads a sprite file's headers front to back, a block at a time, without moving the file's
// own read position (the data are read through that).
class HeaderCursor {
public:
    explicit HeaderCursor(const SpriteRange& sprite) : sprite_(sprite) {}
    bool Done() const { return next_ >= sprite_.Count; }
    TIconHeader Next() {
        if (next_ >= blockEnd_) {
            const std::int32_t n = std::min(kHeadersPerBlock, sprite_.Count - next_);
            block_.resize(static_cast<std::size_t>(n) * IconHeaderSize);
            // The table was inside the file when it was checked; a file cut short since
            // cannot be compared.
            if (!sprite_.File.ReadExactlyAt(sprite_.Start + 4 +
                                                std::int64_t{IconHeaderSize} * next_,
                                            block_.data(), block_.size()))
                throw EReadError();
            blockStart_ = next_;
            blockEnd_ = next_ + n;
        }
        const auto at = static_cast<std::size_t>(next_ - blockStart_) * IconHeaderSize;
        ++next_;
        return TIconHeader::FromBytes(block_.data() + at);
    }

private:
    const SpriteRange& sprite_;
    std::int32_t next_ = 0;
    std::int32_t blockStart_ = 0;
    std::int32_t blockEnd_ = 0;
    std::vector<unsigned char> block_;
};

// Follows the icons' data offsets in icon order: whether they ascend, and whether they lie
// back to back from the start of the data area to the end of the file.
class LayoutTracker {
public:
    void Add(const TIconHeader& h) {
        if (h.Bytes > 0) {
            ordered_ = ordered_ && h.Starts >= lastStart_;
            lastStart_ = h.Starts;
        }
        packed_ = packed_ && h.Starts == next_;
        next_ = std::int64_t{h.Starts} + h.Bytes;
    }
    bool Ordered() const { return ordered_; }
    bool Packed(const SpriteRange& sprite) const {
        return packed_ && sprite.Area() + next_ == sprite.Length;
    }

private:
    bool ordered_ = true;
    bool packed_ = true;
    std::int64_t lastStart_ = 0;
    std::int64_t next_ = 0;
};

// The stretches of a sprite file's data area that no icon's data cover, in file order
// (offsets from the sprite's start). The covered ranges come straight from the headers when
// the data lie in icon order; otherwise they are gathered and sorted first.
class UncoveredBytes {
public:
    UncoveredBytes(const SpriteRange& sprite, bool ordered)
        : sprite_(sprite), headers_(sprite), ordered_(ordered), position_(sprite.Area()) {
        if (ordered_)
            return;
        HeaderCursor all(sprite);
        while (!all.Done()) {
            const TIconHeader h = all.Next();
            if (h.Bytes > 0)
                sorted_.emplace_back(sprite.Area() + h.Starts, sprite.Area() + h.Starts + h.Bytes);
        }
        std::sort(sorted_.begin(), sorted_.end());
    }

    // The next stretch, never empty; false when there is none left.
    bool Next(std::int64_t& from, std::int64_t& to) {
        std::int64_t start = 0, end = 0;
        while (NextCovered(start, end)) {
            if (start > position_) {
                from = position_;
                to = start;
                position_ = end;
                return true;
            }
            position_ = std::max(position_, end);
        }
        if (position_ >= sprite_.Length)
            return false;
        from = position_;
        to = position_ = sprite_.Length;
        return true;
    }

private:
    bool NextCovered(std::int64_t& start, std::int64_t& end) {
        if (!ordered_) {
            if (next_ >= sorted_.size())
                return false;
            std::tie(start, end) = sorted_[next_++];
            return true;
        }
        while (!headers_.Done()) {
            const TIconHeader h = headers_.Next();
            if (h.Bytes <= 0)
                continue;
            start = sprite_.Area() + h.Starts;
            end = start + h.Bytes;
            return true;
        }
        return false;
    }

    const SpriteRange& sprite_;
    HeaderCursor headers_;
    bool ordered_;
    std::vector<std::pair<std::int64_t, std::int64_t>> sorted_;
    std::size_t next_ = 0;
    std::int64_t position_;
};

bool SameOutside(const SpriteRange& a, bool orderedA, const SpriteRange& b, bool orderedB,
                 RangeComparer& compare) {
    UncoveredBytes outsideA(a, orderedA), outsideB(b, orderedB);
    std::int64_t fromA = 0, toA = 0, fromB = 0, toB = 0;
    for (;;) {
        const bool moreA = fromA < toA || outsideA.Next(fromA, toA);
        const bool moreB = fromB < toB || outsideB.Next(fromB, toB);
        if (!moreA || !moreB)
            return moreA == moreB;
        const std::int64_t n = std::min(toA - fromA, toB - fromB);
        if (!compare.Equal(a.File, a.Start + fromA, b.File, b.Start + fromB, n))
            return false;
        fromA += n;
        fromB += n;
    }
}

bool SameHeaderWords(const TIconHeader& a, const TIconHeader& b) {
    for (int j = 1; j <= 10; ++j)
        if (j != HeaderRow::Starts && j != HeaderRow::Bytes && a.Word(j) != b.Word(j))
            return false;
    return true;
}

std::int32_t CountOf(const InFile& file, std::int64_t start) {
    unsigned char word[4];
    if (!file.ReadExactlyAt(start, word, sizeof word))
        throw EReadError();
    return GetInt32LE(word);
}

} // namespace

SpriteDiff DiffSprites(InFile& a, std::int64_t startA, std::int64_t lengthA, InFile& b,
                       std::int64_t startB, std::int64_t lengthB) {
    SpriteDiff diff;
    diff.FaultA = SpriteFault(a, startA, lengthA);
    diff.FaultB = SpriteFault(b, startB, lengthB);
    if (!diff.Readable())
        return diff;
    const SpriteRange sideA{a, startA, lengthA, CountOf(a, startA)};
    const SpriteRange sideB{b, startB, lengthB, CountOf(b, startB)};
    diff.CountA = sideA.Count;
    diff.CountB = sideB.Count;

    HeaderCursor headersA(sideA), headersB(sideB);
    LayoutTracker layoutA, layoutB;
    RangeComparer compare;
    for (std::int32_t i = 0; !headersA.Done() || !headersB.Done(); ++i) {
        if (headersA.Done()) {
            layoutB.Add(headersB.Next());
            continue;
        }
        if (headersB.Done()) {
            layoutA.Add(headersA.Next());
            continue;
        }
        const TIconHeader ha = headersA.Next(), hb = headersB.Next();
        layoutA.Add(ha);
        layoutB.Add(hb);
        diff.StartsDiffer = diff.StartsDiffer || ha.Starts != hb.Starts;
        IconDiff icon{i + 1, !SameHeaderWords(ha, hb), false};
        icon.Data =
            ha.Bytes != hb.Bytes || !compare.Equal(a, startA + sideA.Area() + ha.Starts, b,
                                                   startB + sideB.Area() + hb.Starts, ha.Bytes);
        if (icon.Header || icon.Data)
            diff.Changed.push_back(icon);
    }
    diff.PackedA = layoutA.Packed(sideA);
    diff.PackedB = layoutB.Packed(sideB);
    diff.OutsideDiffers = !SameOutside(sideA, layoutA.Ordered(), sideB, layoutB.Ordered(), compare);
    return diff;
}

bool PackedSprite(InFile& file, std::int64_t start, std::int64_t length, std::int32_t& count) {
    if (!SpriteFault(file, start, length).empty())
        return false;
    const SpriteRange sprite{file, start, length, CountOf(file, start)};
    HeaderCursor headers(sprite);
    LayoutTracker layout;
    bool sized = true;
    while (!headers.Done()) {
        const TIconHeader h = headers.Next();
        sized = sized && h.Bytes >= 0;
        layout.Add(h);
    }
    count = sprite.Count;
    return sized && layout.Packed(sprite);
}

SpriteDiff DiffSprites(const std::string& pathA, const std::string& pathB) {
    const std::unique_ptr<InFile> a = InFile::Open(pathA);
    if (!a)
        throw EFOpenError(pathA, OpenFault(pathA));
    const std::unique_ptr<InFile> b = InFile::Open(pathB);
    if (!b)
        throw EFOpenError(pathB, OpenFault(pathB));
    return DiffSprites(*a, 0, a->Length(), *b, 0, b->Length());
}

SpriteRebuildReport SpriteRebuildCheck(const std::string& sourcePath,
                                       const std::string& existingPath,
                                       const std::vector<std::int32_t>& rewrittenIcons) {
    SpriteRebuildReport report;
    const std::unique_ptr<InFile> source = InFile::Open(sourcePath);
    const std::unique_ptr<InFile> existing = InFile::Open(existingPath);
    if (!source)
        report.SourceFault = ErrorText(EFOpenError(sourcePath, OpenFault(sourcePath)));
    if (!existing)
        report.Fault = ErrorText(EFOpenError(existingPath, OpenFault(existingPath)));
    if (!source || !existing)
        return report;

    const SpriteDiff diff =
        DiffSprites(*source, 0, source->Length(), *existing, 0, existing->Length());
    report.SourceFault = diff.FaultA;
    report.Fault = diff.FaultB;
    report.SourceReadable = diff.FaultA.empty();
    report.Readable = diff.FaultB.empty();
    if (!diff.Readable())
        return report;

    const std::set<std::int32_t> rewritten(rewrittenIcons.begin(), rewrittenIcons.end());
    for (const IconDiff& icon : diff.Changed)
        if (!rewritten.contains(icon.Icon))
            report.DroppedIcons.push_back(icon.Icon);
    // Icons on one side only: added to the existing file, or removed from it.
    for (std::int32_t i = std::min(diff.CountA, diff.CountB) + 1;
         i <= std::max(diff.CountA, diff.CountB); ++i)
        if (!rewritten.contains(i))
            report.DroppedIcons.push_back(i);
    report.CountDiffers = diff.CountA != diff.CountB;
    report.OutsideDiffers = diff.OutsideDiffers;
    return report;
}

} // namespace kiv
