// Two strangers' files compared: as archives (with what a rebuild from the first would drop
// from the second) and as sprite files, and the sheet of their changed icons. The input is
// the length of the first file in two bytes, then the first file, then the second.
// Whatever the bytes, two readable files compare the same exactly when they are byte for
// byte the same.

#include "FuzzSupport.h"

#include "archive/ArchiveDiff.h"
#include "archive/DiffSheet.h"
#include "base/Errors.h"
#include "sprite/SpriteDiff.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace {

// Sheets up to this many pixels are drawn; larger ones are only laid out.
constexpr std::int64_t kSheetPixels = std::int64_t{1} << 20;

void CheckSheet(const std::string& a, const std::string& b,
                const std::function<kiv::DiffSheet()>& layOut) {
    try {
        const kiv::DiffSheet sheet = layOut();
        for (const kiv::DiffSheetPair& pair : sheet.Pairs)
            for (const kiv::SheetRect& cell : {pair.Before, pair.After})
                if (cell.X < 0 || cell.Y < 0 || cell.X + cell.Width > sheet.Width ||
                    cell.Y + cell.Height > sheet.Height)
                    kivfuzz::Fail("a sheet cell lies outside the sheet");
        if (std::int64_t{sheet.Width} * sheet.Height <= kSheetPixels)
            kiv::DrawDiffSheet(a, b, sheet);
    } catch (const kiv::EFrameTooLarge&) {
    } catch (const kiv::Exception& e) {
        if (std::string(e.what()).find("too large") == std::string::npos)
            throw;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    kivfuzz::ClearScratch();
    const std::size_t lengthA = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    const std::uint8_t* bytesA = data + 2;
    const std::uint8_t* bytesB = bytesA + lengthA;
    const std::size_t lengthB = size - 2 - lengthA;
    const bool identical = lengthA == lengthB && std::equal(bytesA, bytesA + lengthA, bytesB);
    const std::string pathA = kivfuzz::ScratchFile("a.dat");
    const std::string pathB = kivfuzz::ScratchFile("b.dat");
    kivfuzz::WriteBytes(pathA, bytesA, lengthA);
    kivfuzz::WriteBytes(pathB, bytesB, lengthB);

    const kiv::ArchiveDiff archiveDiff = kiv::DiffArchives(pathA, pathB);
    if (archiveDiff.Readable() && archiveDiff.Same() != identical)
        kivfuzz::Fail(identical ? "identical archives compare different"
                                : "different archives compare the same");
    for (const kiv::MemberDiff& m : archiveDiff.Members)
        if (m.RowA < 0 || m.RowA > archiveDiff.CountA || m.RowB < 0 ||
            m.RowB > archiveDiff.CountB || (m.Added() && m.Removed()))
            kivfuzz::Fail("a member difference names rows that are not there");
    const kiv::ArchiveRebuildReport report = kiv::ArchiveRebuildCheck(pathA, pathB, {});
    if (report.BaseReadable && report.Readable && report.Identical != identical)
        kivfuzz::Fail("the rebuild check misjudges whether the output is the base");
    CheckSheet(pathA, pathB, [&] { return kiv::LayOutDiffSheet(pathA, pathB, archiveDiff); });

    const kiv::SpriteDiff spriteDiff = kiv::DiffSprites(pathA, pathB);
    if (spriteDiff.Readable() && spriteDiff.Same() != identical)
        kivfuzz::Fail(identical ? "identical sprite files compare different"
                                : "different sprite files compare the same");
    CheckSheet(pathA, pathB, [&] { return kiv::LayOutDiffSheet(pathA, pathB, spriteDiff); });
    return 0;
}
