#include "sprite/IconEncoder.h"

#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kiv {

namespace {

// The box search starts from 10000, so larger pictures cannot be encoded.
constexpr int kMaxRun = 255;

const char* const kNoMemoryForImage = "Couldn't allocate memory for ne file image";
const char* const kNoMemoryForData = "Couldn't allocate memory for the encoded icon";
const char* const kCannotWriteOutput = "Could not write output file!";
const char* const kSourceChanged =
    "The sprite file changed since it was loaded. Load it again before replacing an icon.";

std::int64_t DataAreaOffset(const TIconTable& table) {
    return 4 + static_cast<std::int64_t>(IconHeaderSize) * table.Count;
}

} // namespace

// The splice below relies on the icons' data lying back to back, in order, up to the end of
// the file, to drop exactly the old data.
std::string ReencodeFileFault(const TIconTable& table) {
    const auto refuse = [](const std::string& why) {
        return "The sprite file cannot be re-encoded: " + why + ".";
    };
    if (table.CountClamped() || table.Count > MaxIcons)
        return refuse("it has more than " + std::to_string(MaxIcons) + " icons");
    if (table.Count < 1)
        return {}; // no icon to re-encode: every index is refused on its own
    std::int64_t expected = table.Headers[0].Starts;
    if (expected < 0)
        return refuse("the data of icon 1 starts before the pixel data area");
    for (int j = 0; j < table.Count; ++j) {
        const TIconHeader& h = table.Headers[j];
        const std::string icon = "icon " + std::to_string(j + 1);
        if (h.Bytes < 0)
            return refuse(icon + " has a negative byte count");
        if (h.Starts != expected)
            return refuse("the data of " + icon + " does not follow the data of the icon before");
        expected += h.Bytes;
    }
    if (DataAreaOffset(table) + expected != table.FileLength)
        return refuse("the file does not end with the data of its last icon");
    return {};
}

std::string ReencodeSizeFault(std::int64_t width, std::int64_t height) {
    if (width < MaxPictureSide && height < MaxPictureSide)
        return {};
    return "The picture is too large to encode: it must be under " +
           std::to_string(MaxPictureSide) + " pixels on each side";
}

std::string ReencodePictureFault(const Image& picture) {
    if (picture.Empty()) // a bitmap of 0 x 0, or a 0-byte file
        return "The picture is empty. Nothing was written.";
    if (std::string fault = ReencodeSizeFault(picture.Width(), picture.Height()); !fault.empty())
        return fault + ".";
    for (int y = 0; y < picture.Height(); ++y) {
        const TColor* row = picture.Row(y);
        if (std::any_of(row, row + picture.Width(), [](TColor c) { return c != BackColor; }))
            return {};
    }
    return "The picture has no icon pixels: every pixel is the background colour. "
           "Nothing was written.";
}

namespace {

struct Box {
    int MinX = MaxPictureSide;
    int MinY = MaxPictureSide;
    int MaxX = 0;
    int MaxY = 0;
    bool Found() const { return MinX <= MaxX && MinY <= MaxY; }
};

Box FindBox(const Image& picture) {
    Box box;
    for (int y = 0; y < picture.Height(); ++y) {
        const TColor* row = picture.Row(y);
        const TColor* end = row + picture.Width();
        const auto isIcon = [](TColor c) { return c != BackColor; };
        const TColor* first = std::find_if(row, end, isIcon);
        if (first == end)
            continue;
        const TColor* last = std::find_if(std::make_reverse_iterator(end),
                                          std::make_reverse_iterator(first + 1), isIcon)
                                 .base() -
                             1;
        box.MinX = std::min(box.MinX, static_cast<int>(first - row));
        box.MaxX = std::max(box.MaxX, static_cast<int>(last - row));
        box.MinY = std::min(box.MinY, y);
        box.MaxY = y;
    }
    return box;
}

// Walks the box in pixel order, one sequence across row ends, and hands each run of at
// most 255 equal colours (compared before packing) to `emit`.
template <typename Emit> void ForEachRun(const Image& picture, const Box& box, Emit emit) {
    bool open = false;
    TColor color = 0;
    int length = 0;
    for (int y = box.MinY; y <= box.MaxY; ++y) {
        const TColor* row = picture.Row(y);
        for (int x = box.MinX; x <= box.MaxX; ++x) {
            if (open && row[x] == color && length < kMaxRun) {
                ++length;
                continue;
            }
            if (open)
                emit(length, color);
            open = true;
            color = row[x];
            length = 1;
        }
    }
    if (open)
        emit(length, color);
}

} // namespace

std::int64_t ReducedPixelCount(const Image& picture) {
    const Box box = FindBox(picture);
    std::int64_t changed = 0;
    for (int y = box.MinY; y <= box.MaxY; ++y) {
        const TColor* row = picture.Row(y);
        for (int x = box.MinX; x <= box.MaxX; ++x) {
            if (row[x] == BackColor)
                continue; // background inside the box is a matter of its own
            const std::uint16_t packed = PackPixel(row[x]);
            changed += UnpackPixel(packed & 0xFF, packed >> 8) != (row[x] & 0x00FFFFFF);
        }
    }
    return changed;
}

EncodedIcon EncodeIcon(const Image& picture, bool runLength) {
    const Box box = FindBox(picture);
    if (!box.Found())
        throw std::invalid_argument("a picture without icon pixels has no icon");
    EncodedIcon out;
    TIconHeader& h = out.Header;
    h.Width = box.MaxX - box.MinX + 1;
    h.Height = box.MaxY - box.MinY + 1;
    h.StartX = box.MinX;
    h.StartY = box.MinY;
    h.FWidth = picture.Width();
    h.FHeight = picture.Height();
    h.Compress = runLength ? 1 : 0;

    if (!runLength) {
        out.Data.reserve(static_cast<std::size_t>(2) * h.Width * h.Height);
        for (int y = box.MinY; y <= box.MaxY; ++y)
            for (int x = box.MinX; x <= box.MaxX; ++x) {
                const std::uint16_t packed = PackPixel(picture.Row(y)[x]);
                out.Data.push_back(static_cast<unsigned char>(packed));
                out.Data.push_back(static_cast<unsigned char>(packed >> 8));
            }
        h.Bytes = static_cast<std::int32_t>(out.Data.size());
        return out;
    }

    std::int64_t runs = 0;
    ForEachRun(picture, box, [&](int, TColor) { ++runs; });
    h.Bytes = static_cast<std::int32_t>(3 * runs); // under 3 * 10000 * 10000
    out.Data.resize(static_cast<std::size_t>(h.Bytes));
    unsigned char* p = out.Data.data();
    ForEachRun(picture, box, [&](int length, TColor color) {
        const std::uint16_t packed = PackPixel(color);
        *p++ = static_cast<unsigned char>(length);
        *p++ = static_cast<unsigned char>(packed);
        *p++ = static_cast<unsigned char>(packed >> 8);
    });
    return out;
}

namespace {

// Encodes the picture as the new icon replacing `old`, or gives the refusal's text.
std::string EncodePicture(const Image& picture, const TIconHeader& old, EncodedIcon& out) {
    if (std::string fault = ReencodePictureFault(picture); !fault.empty())
        return fault;
    try {
        out = EncodeIcon(picture);
    } catch (const std::bad_alloc&) {
        return kNoMemoryForData;
    }
    out.Header.Starts = old.Starts;
    out.Header.Aux = old.Aux;
    return {};
}

// Reads exactly `count` bytes at `offset`; false when the file no longer holds them.
bool ReadExactly(const InFile& file, std::int64_t offset, unsigned char* into, std::int64_t count) {
    return count <= 0 || file.ReadExactlyAt(offset, into, static_cast<std::size_t>(count));
}

// The loaded file must still be the one the table describes: same length, same count word,
// same header table.
bool MatchesTable(const unsigned char* image, const TIconTable& table) {
    if (GetInt32LE(image) != table.Count)
        return false;
    for (int j = 0; j < table.Count; ++j)
        if (TIconHeader::FromBytes(image + 4 + IconHeaderSize * j) != table.Headers[j])
            return false;
    return true;
}

// Whether the Starts word of every icon after i still fits once moved by d.
bool MovedStartsFit(const TIconTable& table, int i, std::int64_t d) {
    for (int j = i + 1; j < table.Count; ++j) {
        const std::int64_t moved = table.Headers[j].Starts + d;
        if (moved > std::numeric_limits<std::int32_t>::max())
            return false;
    }
    return true;
}

// Writes the new header of icon i and moves the Starts word of every later icon by d.
void PatchHeaders(unsigned char* image, const TIconTable& table, int i, const TIconHeader& header,
                  std::int64_t d) {
    header.ToBytes(image + 4 + IconHeaderSize * i);
    for (int j = i + 1; j < table.Count; ++j)
        PutInt32LE(image + 4 + IconHeaderSize * j + 24,
                   static_cast<std::int32_t>(table.Headers[j].Starts + d));
}

ReencodeResult Fail(ReencodeResult result, std::string message) {
    result.Ok = false;
    result.Message = std::move(message);
    return result;
}

std::string IconName(int i) {
    return "Icon " + std::to_string(static_cast<long long>(i) + 1);
}

std::string IndexFault(int i, const TIconTable& table) {
    if (i < 0 || i >= table.Count || i >= MaxIcons)
        return IconName(i) + " is not in the loaded sprite file.";
    return {};
}

// The new file as one block: the loaded file's bytes up to icon i's data, the new data,
// then the loaded file's bytes from icon i+1's data to the end.
std::string BuildImage(const TIconTable& table, int i, const EncodedIcon& icon,
                       std::vector<unsigned char>& image, FileStamp& source) {
    const TIconHeader& old = table.Headers[i];
    const std::int64_t d = static_cast<std::int64_t>(icon.Header.Bytes) - old.Bytes;
    if (!MovedStartsFit(table, i, d))
        return "The new sprite file would be too large.";
    const std::int64_t length = table.FileLength + d;
    const std::int64_t head = DataAreaOffset(table) + old.Starts;
    const std::int64_t tailFrom = head + old.Bytes;
    const std::int64_t tail = table.FileLength - tailFrom;
    try {
        image.assign(static_cast<std::size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        return kNoMemoryForImage;
    }

    auto file = InFile::Open(table.Path);
    if (!file)
        return CannotOpenSpriteFile;
    if (file->Length() != table.FileLength)
        return kSourceChanged;
    source = file->Stamp();
    unsigned char* out = image.data();
    if (!ReadExactly(*file, 0, out, head) || !MatchesTable(out, table))
        return kSourceChanged;
    std::copy(icon.Data.begin(), icon.Data.end(), out + head);
    if (!ReadExactly(*file, tailFrom, out + head + icon.Header.Bytes, tail))
        return kSourceChanged;
    file.reset();

    PatchHeaders(out, table, i, icon.Header, d);
    return {};
}

// Replaces icon i of a whole file image held in memory and moves the table along with it,
// so the next edit sees the file as a reload of this result would.
std::string SpliceInMemory(TIconTable& table, int i, const EncodedIcon& icon,
                           std::vector<unsigned char>& image) {
    const TIconHeader old = table.Headers[i];
    const std::int64_t d = static_cast<std::int64_t>(icon.Header.Bytes) - old.Bytes;
    if (!MovedStartsFit(table, i, d))
        return "The new sprite file would be too large.";
    const std::int64_t head = DataAreaOffset(table) + old.Starts;
    const std::int64_t tailFrom = head + old.Bytes;
    std::vector<unsigned char> next;
    try {
        next.assign(static_cast<std::size_t>(table.FileLength + d), 0);
    } catch (const std::bad_alloc&) {
        return kNoMemoryForImage;
    }
    auto out = std::copy(image.begin(), image.begin() + head, next.begin());
    out = std::copy(icon.Data.begin(), icon.Data.end(), out);
    std::copy(image.begin() + tailFrom, image.end(), out);
    PatchHeaders(next.data(), table, i, icon.Header, d);

    table.Headers[i] = icon.Header;
    for (int j = i + 1; j < table.Count; ++j)
        table.Headers[j].Starts += static_cast<std::int32_t>(d);
    table.FileLength += d;
    image.swap(next);
    return {};
}

// Writes the image unless the output holds exactly these bytes already. `source` is the
// loaded file as it was read: a change to it since then refuses the write.
void WriteOutput(const std::string& path, const std::vector<unsigned char>& image,
                 const FileStamp& source, ReencodeResult& result) {
    std::optional<SafeFile> out;
    try {
        out.emplace(path);
    } catch (const EFCreateError& e) {
        result.Message = CannotOpenOutputFile;
        result.Fault = e.Fault();
        return;
    } catch (const EOutputBusy& e) {
        result.Message = e.what();
        return;
    }
    try {
        // Compared under the output's lock, so no other run writes it in between.
        if (FileHolds(path, image.data(), image.size())) {
            out->Discard();
            result.UpToDate = true;
        } else {
            out->WatchInput(source);
            out->Write(image.data(), image.size());
            out->Commit();
        }
    } catch (const EWriteError& e) {
        result.Message = kCannotWriteOutput;
        result.Fault = e.Fault();
        return;
    } catch (const EInputChanged& e) {
        result.Message = e.what();
        return;
    }
    result.Ok = true;
}

} // namespace

ReencodeResult ReencodeIcon(const Image& picture, int i, const TIconTable& table) {
    ReencodeResult result;
    result.OutputPath = TwinName(table.Path);

    if (std::string fault = IndexFault(i, table); !fault.empty())
        return Fail(result, fault);
    if (std::string fault = ReencodeFileFault(table); !fault.empty())
        return Fail(result, fault);
    EncodedIcon icon;
    if (std::string fault = EncodePicture(picture, table.Headers[i], icon); !fault.empty())
        return Fail(result, fault);

    std::vector<unsigned char> image;
    FileStamp source;
    if (std::string fault = BuildImage(table, i, icon, image, source); !fault.empty())
        return Fail(result, fault);
    icon.Data = {};

    WriteOutput(result.OutputPath, image, source, result);
    return result;
}

namespace {

// The rewrite of several icons; picture k of `indices` is `picture(k, scratch)`, which may
// load it into `scratch`.
ReencodeResult ReencodeEach(const std::vector<int>& indices,
                            const std::function<const Image*(std::size_t, Image&)>& picture,
                            const TIconTable& table, const std::string& outPath) {
    ReencodeResult result;
    result.OutputPath = outPath;
    for (const int i : indices)
        if (std::string fault = IndexFault(i, table); !fault.empty())
            return Fail(result, fault);
    if (std::string fault = ReencodeFileFault(table); !fault.empty())
        return Fail(result, fault);

    std::vector<unsigned char> image;
    try {
        image.assign(static_cast<std::size_t>(table.FileLength), 0);
    } catch (const std::bad_alloc&) {
        return Fail(result, kNoMemoryForImage);
    }
    FileStamp source;
    {
        auto file = InFile::Open(table.Path);
        if (!file)
            return Fail(result, CannotOpenSpriteFile);
        if (file->Length() != table.FileLength ||
            !ReadExactly(*file, 0, image.data(), table.FileLength) ||
            !MatchesTable(image.data(), table))
            return Fail(result, kSourceChanged);
        source = file->Stamp();
    }

    auto working = std::make_unique<TIconTable>(table);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        const int i = indices[k];
        EncodedIcon icon;
        {
            Image scratch;
            const Image* shown = picture(k, scratch);
            if (!shown)
                return Fail(result, IconName(i) + " has no picture.");
            if (std::string fault = EncodePicture(*shown, working->Headers[i], icon);
                !fault.empty())
                return Fail(result, IconName(i) + ": " + fault);
        }
        if (std::string fault = SpliceInMemory(*working, i, icon, image); !fault.empty())
            return Fail(result, fault);
    }
    WriteOutput(outPath, image, source, result);
    return result;
}

} // namespace

ReencodeResult ReencodeIcons(const std::vector<std::pair<int, const Image*>>& edits,
                             const TIconTable& table, const std::string& outPath) {
    // Refused edit by edit, in order, as the rewrite itself refuses them.
    for (const auto& [i, picture] : edits) {
        if (!IndexFault(i, table).empty())
            break;
        if (!picture) {
            ReencodeResult result;
            result.OutputPath = outPath;
            return Fail(result, IconName(i) + " has no picture.");
        }
    }
    std::vector<int> indices;
    for (const auto& edit : edits)
        indices.push_back(edit.first);
    return ReencodeEach(
        indices, [&edits](std::size_t k, Image&) { return edits[k].second; }, table, outPath);
}

ReencodeResult ReencodeIcons(const std::vector<int>& indices,
                             const std::function<Image(std::size_t)>& load, const TIconTable& table,
                             const std::string& outPath) {
    return ReencodeEach(
        indices,
        [&load](std::size_t k, Image& scratch) {
            scratch = load(k);
            return &scratch;
        },
        table, outPath);
}

} // namespace kiv
