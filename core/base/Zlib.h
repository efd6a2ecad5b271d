#pragma once
// The deflate and inflate streams of every file this tool reads or writes: zlib-format
// (header and Adler-32, as PNG holds them) or raw (as zip entries hold them). Input may come
// in pieces; output goes to a byte vector or to a sink. Inflating takes streams from
// strangers: output is bounded by the caller, and a stream that is damaged, ends early or
// runs on past its end is told apart from one that is whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct z_stream_s;

namespace kiv {

enum class ZlibFormat { Zlib, Raw };

inline constexpr int ZlibBestLevel = 9;
inline constexpr int ZlibDefaultLevel = -1; // zlib's own choice (6)
inline constexpr int ZlibDefaultStrategy = 0;
inline constexpr int ZlibFilteredStrategy = 1;

using ByteSink = std::function<void(const unsigned char* bytes, std::size_t count)>;

struct DeflateOptions {
    ZlibFormat Format = ZlibFormat::Zlib;
    int Level = ZlibBestLevel;
    int Strategy = ZlibDefaultStrategy;
    int MemoryLevel = 8; // 1..9: more memory for a slightly smaller stream
};

// One deflate stream. Throws std::bad_alloc when zlib cannot set it up and EWriteError ("The
// compressor failed") when a call fails.
class Deflater {
public:
    explicit Deflater(const DeflateOptions& options = {});
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // The preset dictionary, before any input (zlib format).
    void SetDictionary(const unsigned char* bytes, std::size_t count);
    // Compresses `count` bytes, the stream's last when `finish`, and hands what comes out to
    // `sink` (or appends it to `out`).
    void Feed(const void* data, std::size_t count, bool finish, const ByteSink& sink);
    void Feed(const void* data, std::size_t count, bool finish, std::vector<unsigned char>& out);

private:
    std::unique_ptr<z_stream_s> zs_;
    std::vector<unsigned char> buffer_;
};

// `count` bytes as one whole stream.
std::vector<unsigned char> Deflate(const void* data, std::size_t count,
                                   const DeflateOptions& options = {});

enum class InflateStatus {
    Ok,             // progress made; more input or output room may be wanted
    End,            // the stream ended, its check value (zlib format) correct
    NeedDictionary, // the stream was made against a preset dictionary: SetDictionary, go on
    Stalled,        // no progress possible: the input ran out, or there was no room
    Damaged,        // not a deflate stream, or its check value is wrong: Message() says
    TooLarge,       // Feed: more output than its limit
};

// One inflate stream. Throws std::bad_alloc when zlib runs out of memory.
class Inflater {
public:
    explicit Inflater(ZlibFormat format = ZlibFormat::Zlib);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    struct Step {
        std::size_t Took = 0; // input bytes used
        std::size_t Made = 0; // output bytes written
        InflateStatus Status = InflateStatus::Ok;
    };
    // One call of the inflater over the input and output room given.
    Step Run(const void* in, std::size_t inCount, void* out, std::size_t outCount);
    // Inflates all `count` bytes given (or up to the stream's end), appending to `out` or
    // handing to `sink`; TooLarge as soon as the stream's output in all would pass `limit`.
    // Ok means every byte was used and the stream goes on.
    InflateStatus Feed(const void* data, std::size_t count, std::vector<unsigned char>& out,
                       std::size_t limit);
    InflateStatus Feed(const void* data, std::size_t count, const ByteSink& sink,
                       std::uint64_t limit);
    // False when the stream was made against another dictionary.
    bool SetDictionary(const unsigned char* bytes, std::size_t count);
    std::uint64_t TotalOut() const;
    // zlib's word on damaged data ("incorrect data check"), or "".
    std::string Message() const;

private:
    std::unique_ptr<z_stream_s> zs_;
};

enum class InflateResult { Ok, Truncated, Damaged, TooLarge, TrailingBytes };

// `count` bytes that must be one whole stream and nothing more, into `out` (replaced), of
// at most `limit` bytes.
InflateResult InflateWhole(const void* data, std::size_t count, std::vector<unsigned char>& out,
                           std::size_t limit, ZlibFormat format = ZlibFormat::Zlib);

} // namespace kiv
