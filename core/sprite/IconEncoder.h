#pragma once
// Re-encodes a picture into one icon slot of a loaded sprite file and writes the whole
// file again as its twin: the loaded path with its last character replaced by '7'.

#include "base/Errors.h"
#include "image/Image.h"
#include "sprite/S16Format.h"

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

struct ReencodeResult {
    bool Ok = false;
    std::string Message;    // empty on success; otherwise the text the window shows
    WriteFault Fault;       // for a failed create or write: the file or folder, and why
    std::string OutputPath; // the twin's path (also set on failure once known)
    bool UpToDate = false;  // the output held exactly these bytes already: left untouched
};

// The box search starts from this many pixels, so pictures must be smaller on each side.
constexpr int MaxPictureSide = 10000;

// The output file could not be created.
inline constexpr const char* CannotOpenOutputFile = "Could not open output file!";

// Why the loaded file cannot take a re-encoded icon at all, or "" when it can: its count was
// cut to 1000, or its icons' data do not lie back to back, in icon order, up to the end of
// the file.
std::string ReencodeFileFault(const TIconTable& table);

// Why a picture cannot be re-encoded, or "": empty, too large, or no pixel other than
// BackColor.
std::string ReencodePictureFault(const Image& picture);

// Why a picture of width x height is too large to encode, without the closing full stop, or
// "" when it is not.
std::string ReencodeSizeFault(std::int64_t width, std::int64_t height);

// How many icon pixels (those other than BackColor) the re-encoder would store in another
// colour, since 16-bit pixels keep only 5 bits of red and blue and 6 of green.
std::int64_t ReducedPixelCount(const Image& picture);

// An icon's header and pixel data.
struct EncodedIcon {
    TIconHeader Header;
    std::vector<unsigned char> Data;
};

// The icon a picture makes: the box of pixels that differ from BackColor, in runs of at most
// 255 equal colours (run-length) or pixel by pixel (raw). Starts and Aux are 0. Throws
// std::invalid_argument for a picture without icon pixels; callers check
// ReencodePictureFault first.
EncodedIcon EncodeIcon(const Image& picture, bool runLength = true);

// Neither the picture nor the table is changed. The output is written through a
// temporary file, so a failure leaves any earlier twin (or the loaded .s17 itself) intact.
ReencodeResult ReencodeIcon(const Image& picture, int i, const TIconTable& table);

// Re-encodes several icons in one rewrite of the loaded file and writes the result to
// `outPath`. The file written equals re-encoding each (index, picture) in turn, each into
// the file the one before wrote; an index may come more than once. The same checks as
// ReencodeIcon apply, and nothing is written unless every picture encodes. With no edit,
// the output is the loaded file as it stands.
ReencodeResult ReencodeIcons(const std::vector<std::pair<int, const Image*>>& edits,
                             const TIconTable& table, const std::string& outPath);
// The same, with picture k of `indices` made by `load(k)` when its turn comes and released
// once it is encoded, so memory holds the file and one picture however many there are. An
// exception from `load` ends the rewrite with nothing written.
ReencodeResult ReencodeIcons(const std::vector<int>& indices,
                             const std::function<Image(std::size_t)>& load, const TIconTable& table,
                             const std::string& outPath);

} // namespace kiv
