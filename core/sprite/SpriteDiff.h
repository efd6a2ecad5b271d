#pragma once
// What differs between two sprite files, icon by icon, and what a rebuild of a sprite file
// from its source would drop from an existing output.
//
// Both files are streamed: headers in blocks, data through two reused buffers, so memory
// stays within a few blocks whatever their size. Only the result grows, with the number of
// icons that differ (and, for a file whose icons' data do not lie in icon order, which no
// writer of this tool makes, with its icon count).

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class InFile;

// One icon present on both sides that differs.
struct IconDiff {
    std::int32_t Icon = 0; // 1-based
    // A header word differs: its box, frame, encoding or Aux. Starts (where its data lie)
    // and Bytes (their length) are not counted here: a Bytes of its own makes Data true.
    bool Header = false;
    bool Data = false; // its data bytes differ, or their length
    bool operator==(const IconDiff&) const = default;
};

struct SpriteDiff {
    // Why a side is not a readable sprite file ("" when it is): its header table or an
    // icon's data lie outside it. Unless both are readable nothing below is filled in.
    std::string FaultA;
    std::string FaultB;
    std::int32_t CountA = 0;
    std::int32_t CountB = 0;
    // Icons 1..min(CountA, CountB) that differ, in icon order. Icons past the smaller count
    // were added (CountB larger) or removed (CountA larger).
    std::vector<IconDiff> Changed;
    // The bytes of the data area that no icon's data cover (gaps, bytes after the last
    // icon's data), taken in file order, differ.
    bool OutsideDiffers = false;
    // The data offset (Starts) of an icon on both sides differs: the data lie elsewhere. It
    // follows from any change in size of an earlier icon; alone it is a rearranged file.
    bool StartsDiffer = false;
    // Each side's data lie in icon order, back to back from the start of the data area to
    // the end of the file: the layout the re-encoder writes.
    bool PackedA = false;
    bool PackedB = false;

    bool Readable() const { return FaultA.empty() && FaultB.empty(); }
    // Byte for byte the same file (for readable sides; unreadable ones are never the same).
    bool Same() const {
        return Readable() && CountA == CountB && Changed.empty() && !OutsideDiffers &&
               !StartsDiffer;
    }
};

// Compares the sprite file of `lengthA` bytes at `startA` of `a` with that at `startB` of
// `b` (a member of an archive, or a whole file). `a` and `b` may be one open file.
SpriteDiff DiffSprites(InFile& a, std::int64_t startA, std::int64_t lengthA, InFile& b,
                       std::int64_t startB, std::int64_t lengthB);
// Whether the sprite file of `length` bytes at `start` of `file` is readable and has the
// layout the re-encoder writes: every icon's data in icon order, back to back from the start
// of the data area to the end, none of negative length. `count` gets its icon count.
bool PackedSprite(InFile& file, std::int64_t start, std::int64_t length, std::int32_t& count);
// Two whole files. Throws EFOpenError when either does not open.
SpriteDiff DiffSprites(const std::string& pathA, const std::string& pathB);

// What re-encoding the icons `rewrittenIcons` (1-based) of `sourcePath` over an existing
// output would lose.
struct SpriteRebuildReport {
    bool SourceReadable = false; // the source opened and is a readable sprite file
    std::string SourceFault;     // why not: "Cannot open file X", or what is wrong
    bool Readable = false;       // the existing output opened and is a readable sprite file
    std::string Fault;           // why not (as above); nothing below is filled in then
    // Icons of either file (1-based, ascending) that the rebuild would not carry over: on
    // both sides with a header word other than Starts or data of their own, or on one side
    // only; icons being rewritten are left out.
    std::vector<std::int32_t> DroppedIcons;
    bool CountDiffers = false;
    bool OutsideDiffers = false; // bytes of the data area outside every icon's data
    // Nothing would be lost.
    bool NothingDropped() const {
        return SourceReadable && Readable && DroppedIcons.empty() && !CountDiffers &&
               !OutsideDiffers;
    }
};

// Reads the existing output once (headers, then data in file order). Whether the existing
// file already holds what the rebuild would write is FileHolds on the re-encoder's bytes.
SpriteRebuildReport SpriteRebuildCheck(const std::string& sourcePath,
                                       const std::string& existingPath,
                                       const std::vector<std::int32_t>& rewrittenIcons);

} // namespace kiv
