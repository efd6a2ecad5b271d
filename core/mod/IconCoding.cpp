#include "mod/IconCoding.h"

#include "base/Checksum.h"
#include "base/FileStream.h"
#include "base/Zlib.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <vector>

namespace kiv {

namespace {

[[noreturn]] void Bad(const std::string& why) {
    throw EBadMod(why);
}

} // namespace

TIconHeader StoredHeader(const InFile& file, std::int64_t start, std::int32_t icon) {
    unsigned char bytes[IconHeaderSize];
    if (!file.ReadExactlyAt(start + 4 + std::int64_t{IconHeaderSize} * (icon - 1), bytes,
                            sizeof bytes))
        throw EReadError();
    return TIconHeader::FromBytes(bytes);
}

namespace {

std::array<unsigned char, IconHeaderSize> ComparedHeader(const TIconHeader& stored) {
    TIconHeader header = stored;
    header.Starts = 0; // where the data lie follows from the icons before
    std::array<unsigned char, IconHeaderSize> bytes;
    header.ToBytes(bytes.data());
    return bytes;
}

std::int64_t DataOf(std::int64_t start, std::int32_t count, const TIconHeader& stored) {
    return start + 4 + std::int64_t{IconHeaderSize} * count + stored.Starts;
}

} // namespace

IconBytes IconOf(const InFile& file, std::int64_t start, std::int32_t count,
                 const TIconHeader& stored) {
    const auto head = ComparedHeader(stored);
    const std::int64_t data = DataOf(start, count, stored);
    const InFile* source = &file;
    return [head, data, source](std::int64_t from, std::size_t n, unsigned char* into) {
        for (; n > 0 && from < IconHeaderSize; --n)
            *into++ = head[static_cast<std::size_t>(from++)];
        if (n > 0 && !source->ReadExactlyAt(data + from - IconHeaderSize, into, n))
            throw EReadError();
    };
}

ByteSum IconSum(const InFile& file, std::int64_t start, std::int32_t count,
                const TIconHeader& stored) {
    const auto head = ComparedHeader(stored);
    std::uint32_t crc = SumOf(head.data(), head.size()).Crc;
    if (!Crc32Of(file, DataOf(start, count, stored), stored.Bytes, crc))
        throw EReadError();
    return {IconHeaderSize + std::int64_t{stored.Bytes}, crc};
}

namespace {

// The base bytes that piece k of a result is compressed against.
void PieceDictionary(const IconBytes& base, std::int64_t baseSize, std::int64_t piece,
                     std::vector<unsigned char>& dictionary) {
    const std::int64_t from = std::clamp<std::int64_t>((piece - 1) * ModIconPiece, 0, baseSize);
    const std::int64_t to = std::clamp<std::int64_t>((piece + 1) * ModIconPiece, 0, baseSize);
    dictionary.resize(static_cast<std::size_t>(to - from));
    if (to > from)
        base(from, dictionary.size(), dictionary.data());
}

} // namespace

namespace {

using Sink = std::function<void(const unsigned char*, std::size_t)>;

// Each stream of an icon's coding: zlib format at the best compression.
constexpr DeflateOptions kIconStream{ZlibFormat::Zlib, ZlibBestLevel, ZlibDefaultStrategy, 9};

// The icon's new bytes XOR the base bytes at the same place: [from, from + n) of them.
void XorPiece(const IconBytes& base, std::int64_t baseSize, std::int64_t from,
              std::vector<unsigned char>& bytes, std::vector<unsigned char>& was) {
    const auto n =
        static_cast<std::size_t>(std::clamp<std::int64_t>(baseSize - from, 0, std::ssize(bytes)));
    was.resize(n);
    if (n > 0)
        base(from, n, was.data());
    for (std::size_t k = 0; k < n; ++k)
        bytes[k] ^= was[k];
}

// `write`, counting into `written` what it is handed.
ByteSink Counted(const Sink& write, std::int64_t& written) {
    return [&write, &written](const unsigned char* bytes, std::size_t n) {
        write(bytes, n);
        written += static_cast<std::int64_t>(n);
    };
}

// The pieces coding of an icon, or false, with what was written so far, as soon as it passes
// `limit` bytes.
bool Pieces(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
            std::int64_t resultSize, std::int64_t limit, std::int64_t& written, const Sink& write) {
    std::vector<unsigned char> dictionary, input;
    for (std::int64_t piece = 0; piece * ModIconPiece < resultSize; ++piece) {
        const std::int64_t from = piece * ModIconPiece;
        input.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        result(from, input.size(), input.data());
        PieceDictionary(base, baseSize, piece, dictionary);
        Deflater deflater(kIconStream);
        deflater.SetDictionary(dictionary.data(), dictionary.size());
        deflater.Feed(input.data(), input.size(), true, Counted(write, written));
        if (written > limit)
            return false;
    }
    return true;
}

// The xor coding of an icon, or false, with what was written so far, as soon as it passes
// `limit` bytes.
bool Xor(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
         std::int64_t resultSize, std::int64_t limit, std::int64_t& written, const Sink& write) {
    std::vector<unsigned char> input, was;
    Deflater deflater(kIconStream);
    for (std::int64_t from = 0; from < resultSize; from += std::ssize(input)) {
        input.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        result(from, input.size(), input.data());
        XorPiece(base, baseSize, from, input, was);
        deflater.Feed(input.data(), input.size(), from + std::ssize(input) == resultSize,
                      Counted(write, written));
        if (written > limit)
            return false;
    }
    return true;
}

} // namespace

namespace {

// An icon's compressed bytes, `length` of them taken from its entry as inflate asks.
class IconInput {
public:
    IconInput(ZipEntryReader& stream, std::int64_t length) : stream_(stream), left_(length) {}

    // Inflates into `output` whole and, when `end`, to the end of the stream: one byte more
    // than the output holds shows a stream that runs on. A stream asking for a preset
    // dictionary gets `dictionary`, or is refused when there is none.
    void Fill(Inflater& inflater, std::vector<unsigned char>& output, bool end,
              const std::vector<unsigned char>* dictionary, const std::string& piece = {}) {
        std::size_t made = 0; // a byte past the output shows in `made` too
        InflateStatus status = InflateStatus::Ok;
        while (made < output.size() || (end && status != InflateStatus::End)) {
            if (status == InflateStatus::End)
                Bad("an icon's compressed data are damaged");
            if (size_ == 0 && left_ > 0) {
                start_ = 0;
                size_ = static_cast<std::size_t>(std::min<std::int64_t>(left_, std::ssize(in_)));
                stream_.ReadExactly(in_.data(), size_);
                left_ -= static_cast<std::int64_t>(size_);
            }
            unsigned char spare;
            const bool full = made >= output.size();
            unsigned char* to = full ? &spare : output.data() + made;
            const std::size_t room = full ? 1 : output.size() - made;
            Inflater::Step step = inflater.Run(in_.data() + start_, size_, to, room);
            if (step.Status == InflateStatus::NeedDictionary) {
                if (!dictionary || dictionary->empty())
                    Bad(piece.empty() ? std::string("the xor coding's stream asks for a preset "
                                                    "dictionary, which it has none of")
                                      : piece + " asks for a preset dictionary where the base "
                                                "bytes around it are empty");
                if (!inflater.SetDictionary(dictionary->data(), dictionary->size()))
                    Bad(piece + " was compressed against another preset dictionary than these " +
                        "base bytes (pieces count from 0)");
                const Inflater::Step more =
                    inflater.Run(in_.data() + start_ + step.Took, size_ - step.Took, to + step.Made,
                                 room - step.Made);
                step = {step.Took + more.Took, step.Made + more.Made, more.Status};
            }
            status = step.Status;
            start_ += step.Took;
            size_ -= step.Took;
            made += step.Made;
            if (made > output.size() ||
                (status != InflateStatus::Ok && status != InflateStatus::End &&
                 !(status == InflateStatus::Stalled && step.Took > 0)))
                Bad("an icon's compressed data are damaged");
        }
    }
    void Finish() const {
        if (size_ != 0 || left_ != 0)
            Bad("an icon's compressed data do not fill their place");
    }

private:
    ZipEntryReader& stream_;
    std::int64_t left_; // compressed bytes not yet taken from the entry
    std::array<unsigned char, 4096> in_;
    std::size_t start_ = 0, size_ = 0;
};

} // namespace

namespace {

void ExpandPieces(const IconBytes& base, std::int64_t baseSize, IconInput& input,
                  std::int64_t resultSize, const Sink& emit) {
    std::vector<unsigned char> dictionary, output;
    for (std::int64_t from = 0; from < resultSize; from += ModIconPiece) {
        output.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        const std::int64_t piece = from / ModIconPiece;
        PieceDictionary(base, baseSize, piece, dictionary);
        const std::int64_t low = std::clamp<std::int64_t>(from - ModIconPiece, 0, baseSize);
        Inflater inflater;
        input.Fill(inflater, output, true, &dictionary,
                   "piece " + std::to_string(piece) + " (its dictionary: base bytes " +
                       std::to_string(low) + " to " + std::to_string(low + std::ssize(dictionary)) +
                       ")");
        emit(output.data(), output.size());
    }
}

void ExpandXor(const IconBytes& base, std::int64_t baseSize, IconInput& input,
               std::int64_t resultSize, const Sink& emit) {
    std::vector<unsigned char> output, was;
    Inflater whole; // one stream for the whole icon
    for (std::int64_t from = 0; from < resultSize; from += ModIconPiece) {
        output.resize(static_cast<std::size_t>(std::min(ModIconPiece, resultSize - from)));
        input.Fill(whole, output, from + std::ssize(output) == resultSize, nullptr);
        XorPiece(base, baseSize, from, output, was);
        emit(output.data(), output.size());
    }
}

// The codings. Each compresses, stopping once its output passes a limit, and expands. The
// first is the default: the manifest leaves it unnamed, and it is used when every coding
// passes the bound below.
struct Coding {
    IconCoding Id;
    const char* Name;
    bool (*Compress)(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                     std::int64_t resultSize, std::int64_t limit, std::int64_t& written,
                     const Sink& write);
    void (*Expand)(const IconBytes& base, std::int64_t baseSize, IconInput& input,
                   std::int64_t resultSize, const Sink& emit);
};

constexpr Coding kCodings[] = {
    {IconCoding::Pieces, "pieces", Pieces, ExpandPieces},
    {IconCoding::Xor, "xor", Xor, ExpandXor},
};

const Coding& CodingOf(IconCoding id) {
    for (const Coding& coding : kCodings)
        if (coding.Id == id)
            return coding;
    return kCodings[0];
}

// Compressed bytes kept while the codings are compared: an icon whose every coding passes
// this is coded in the default one straight away.
constexpr std::int64_t kCompareBound = 1 << 20;

} // namespace

const char* IconCodingName(IconCoding coding) {
    return coding == kCodings[0].Id ? nullptr : CodingOf(coding).Name;
}

bool IconCodingNamed(const std::string& name, IconCoding& coding) {
    for (const Coding& entry : kCodings)
        if (entry.Id != kCodings[0].Id && name == entry.Name) {
            coding = entry.Id;
            return true;
        }
    return false;
}

CompressedIcon CompressIcon(const IconBytes& base, std::int64_t baseSize, const IconBytes& result,
                            std::int64_t resultSize, const Sink& write) {
    // Each coding in turn, kept while no longer than the best so far (a later one wins a tie).
    std::vector<unsigned char> best, bytes;
    std::optional<IconCoding> chosen;
    for (const Coding& coding : kCodings) {
        bytes.clear();
        std::int64_t length = 0;
        const std::int64_t limit = chosen ? std::ssize(best) : kCompareBound;
        if (coding.Compress(base, baseSize, result, resultSize, limit, length,
                            [&bytes](const unsigned char* data, std::size_t n) {
                                bytes.insert(bytes.end(), data, data + n);
                            })) {
            best.swap(bytes);
            chosen = coding.Id;
        }
    }
    CompressedIcon made;
    if (!chosen) {
        kCodings[0].Compress(base, baseSize, result, resultSize,
                             std::numeric_limits<std::int64_t>::max(), made.Length, write);
        made.Coding = kCodings[0].Id;
        return made;
    }
    write(best.data(), best.size());
    made.Length = std::ssize(best);
    made.Coding = *chosen;
    return made;
}

void ExpandIcon(const IconBytes& base, std::int64_t baseSize, ZipEntryReader& stream,
                std::int64_t length, std::int64_t resultSize, IconCoding coding, const Sink& emit) {
    IconInput input(stream, length);
    CodingOf(coding).Expand(base, baseSize, input, resultSize, emit);
    input.Finish();
}

} // namespace kiv
