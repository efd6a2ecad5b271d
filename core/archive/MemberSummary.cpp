#include "archive/MemberSummary.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/TextConv.h"
#include "sprite/IconDecoder.h"

#include <algorithm>
#include <array>

namespace kiv {

std::string HeaderCellText(const TIconHeader& header, int row) {
    if (row == HeaderRow::Aux)
        return IntToHex(static_cast<std::uint32_t>(header.Aux), 6);
    if (row == HeaderRow::Bytes && header.Bytes > MaxIconBytes)
        return BytesErrorText;
    return IntToStr(header.Word(row));
}

namespace {

// One end of an icon's byte range in the pixel-count sweep.
struct SweepPoint {
    std::int64_t Position;
    std::size_t Icon;
    bool IsEnd;
};

// Sums, for each range [first, end) of `firsts`/`ends`, the bytes at first, first + 3, ...
// below end. All ranges are answered in one pass over the file, so a member whose icons
// all point at the same large block costs one read of that block, not one per icon.
std::vector<std::int64_t> SumEveryThirdByte(InFile& file, const std::vector<std::int64_t>& firsts,
                                            const std::vector<std::int64_t>& ends) {
    std::vector<std::int64_t> sums(firsts.size(), 0);
    std::vector<SweepPoint> points;
    points.reserve(firsts.size() * 2);
    for (std::size_t k = 0; k < firsts.size(); ++k) {
        if (firsts[k] >= ends[k])
            continue;
        points.push_back({firsts[k], k, false});
        points.push_back({ends[k], k, true});
    }
    if (points.empty())
        return sums;
    std::sort(points.begin(), points.end(),
              [](const SweepPoint& a, const SweepPoint& b) { return a.Position < b.Position; });

    // running[r]: sum of the bytes read so far whose position leaves remainder r by 3.
    std::array<std::int64_t, 3> running{};
    std::int64_t position = points.front().Position;
    file.Seek(position);
    std::vector<unsigned char> block(64 * 1024);
    for (const SweepPoint& point : points) {
        while (position < point.Position) {
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(point.Position - position, std::ssize(block)));
            const std::size_t got = file.Read(block.data(), want);
            if (got == 0)
                break; // ranges are cut to the file's length, so this is not reached
            for (std::size_t b = 0; b < got; ++b)
                running[static_cast<std::size_t>((position + static_cast<std::int64_t>(b)) % 3)] +=
                    block[b];
            position += static_cast<std::int64_t>(got);
        }
        const auto residue = static_cast<std::size_t>(firsts[point.Icon] % 3);
        sums[point.Icon] += point.IsEnd ? running[residue] : -running[residue];
    }
    return sums;
}

} // namespace

MemberSummary SummariseMember(const std::string& path, std::uint32_t start) {
    MemberSummary summary;
    auto file = InFile::Open(path);
    if (!file)
        return summary;
    summary.Opened = true;

    file->Seek(start);
    if (!file->ReadInt32(summary.MemberIconCount))
        return summary;
    summary.CountRead = true;
    summary.PixelBase = static_cast<std::int64_t>(start) + 4 +
                        IconHeaderSize * static_cast<std::int64_t>(summary.MemberIconCount);

    // Header pass: headers follow the count directly; stop at the end of the archive.
    unsigned char bytes[IconHeaderSize];
    for (std::int64_t k = 0; k < summary.MemberIconCount; ++k) {
        if (file->Read(bytes, sizeof bytes) != sizeof bytes)
            break;
        summary.Headers.push_back(TIconHeader::FromBytes(bytes));
    }

    // Pixel-count pass. The grid parses each Bytes cell back; an "Error" cell cannot be
    // parsed, and the pass ends there with the conversion error.
    std::size_t counted = 0;
    while (counted < summary.Headers.size() && summary.Headers[counted].Bytes <= MaxIconBytes)
        ++counted;
    if (counted < summary.Headers.size())
        summary.ConversionError = EConvertError::NotAnInteger(BytesErrorText).what();

    // Each icon sums the first byte of every three-byte group while fewer than Bytes bytes
    // were consumed; a group whose first byte lies outside the file adds nothing, and a
    // range that starts before the file reads nothing.
    const std::int64_t length = file->Length();
    std::vector<std::int64_t> firsts(counted), ends(counted);
    for (std::size_t k = 0; k < counted; ++k) {
        const TIconHeader& h = summary.Headers[k];
        const std::int64_t first = summary.PixelBase + h.Starts;
        const std::int64_t groups = h.Bytes > 0 ? (static_cast<std::int64_t>(h.Bytes) + 2) / 3 : 0;
        firsts[k] = first;
        ends[k] = first < 0 || groups == 0 ? first : std::min(first + 3 * groups, length);
    }
    summary.PixCount = SumEveryThirdByte(*file, firsts, ends);
    return summary;
}

TIconTable MemberIconTable(const std::string& path, std::uint32_t start,
                           const MemberSummary& summary) {
    TIconTable table;
    table.Path = path;
    table.Start = start;
    table.StoredCount = summary.MemberIconCount;
    table.Count = static_cast<std::int32_t>(
        std::min<std::size_t>(summary.Headers.size(), static_cast<std::size_t>(MaxIcons)));
    std::copy_n(summary.Headers.begin(), table.Count, table.Headers.begin());
    return table;
}

Image PreviewIcon(InFile& archive, std::int64_t pixelBase, const TIconHeader& header,
                  DecodeStats* stats) {
    return DecodeIcon(archive, pixelBase + header.Starts, header, stats);
}

} // namespace kiv
