#include "base/Zlib.h"

#include "base/Errors.h"

#include <algorithm>
#include <new>

#include <zlib.h>

namespace kiv {

namespace {

// zlib counts in 32 bits: longer runs are given in steps.
constexpr std::size_t kStep = std::size_t{1} << 30;
constexpr std::size_t kOutBlock = 64 << 10;

int WindowBits(ZlibFormat format) {
    return format == ZlibFormat::Raw ? -MAX_WBITS : MAX_WBITS;
}

} // namespace

Deflater::Deflater(const DeflateOptions& options) : zs_(std::make_unique<z_stream>()) {
    if (deflateInit2(zs_.get(), options.Level, Z_DEFLATED, WindowBits(options.Format),
                     options.MemoryLevel, options.Strategy) != Z_OK)
        throw std::bad_alloc();
    buffer_.resize(kOutBlock);
}

Deflater::~Deflater() {
    deflateEnd(zs_.get());
}

void Deflater::SetDictionary(const unsigned char* bytes, std::size_t count) {
    if (count > 0 &&
        deflateSetDictionary(zs_.get(), bytes, static_cast<uInt>(std::min(count, kStep))) != Z_OK)
        throw EWriteError("The compressor failed");
}

void Deflater::Feed(const void* data, std::size_t count, bool finish, const ByteSink& sink) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    do {
        const std::size_t n = std::min(count, kStep);
        const bool last = finish && n == count;
        zs_->next_in = const_cast<Bytef*>(bytes);
        zs_->avail_in = static_cast<uInt>(n);
        int status = Z_OK;
        do {
            zs_->next_out = buffer_.data();
            zs_->avail_out = static_cast<uInt>(buffer_.size());
            status = deflate(zs_.get(), last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR)
                throw EWriteError("The compressor failed");
            if (const std::size_t made = buffer_.size() - zs_->avail_out; made > 0)
                sink(buffer_.data(), made);
        } while (status != Z_STREAM_END &&
                 (zs_->avail_out == 0 || zs_->avail_in > 0 || (last && status == Z_OK)));
        bytes += n;
        count -= n;
    } while (count > 0);
}

void Deflater::Feed(const void* data, std::size_t count, bool finish,
                    std::vector<unsigned char>& out) {
    Feed(data, count, finish, [&out](const unsigned char* bytes, std::size_t n) {
        out.insert(out.end(), bytes, bytes + n);
    });
}

std::vector<unsigned char> Deflate(const void* data, std::size_t count,
                                   const DeflateOptions& options) {
    std::vector<unsigned char> out;
    Deflater(options).Feed(data, count, true, out);
    return out;
}

Inflater::Inflater(ZlibFormat format) : zs_(std::make_unique<z_stream>()) {
    if (inflateInit2(zs_.get(), WindowBits(format)) != Z_OK)
        throw std::bad_alloc();
}

Inflater::~Inflater() {
    inflateEnd(zs_.get());
}

Inflater::Step Inflater::Run(const void* in, std::size_t inCount, void* out, std::size_t outCount) {
    zs_->next_in = static_cast<Bytef*>(const_cast<void*>(in));
    zs_->avail_in = static_cast<uInt>(std::min(inCount, kStep));
    zs_->next_out = static_cast<Bytef*>(out);
    zs_->avail_out = static_cast<uInt>(std::min(outCount, kStep));
    const uInt inGiven = zs_->avail_in;
    const uInt outGiven = zs_->avail_out;
    const int status = inflate(zs_.get(), Z_NO_FLUSH);
    Step step;
    step.Took = inGiven - zs_->avail_in;
    step.Made = outGiven - zs_->avail_out;
    switch (status) {
    case Z_OK:
        step.Status = InflateStatus::Ok;
        break;
    case Z_STREAM_END:
        step.Status = InflateStatus::End;
        break;
    case Z_NEED_DICT:
        step.Status = InflateStatus::NeedDictionary;
        break;
    case Z_BUF_ERROR:
        step.Status = InflateStatus::Stalled;
        break;
    case Z_MEM_ERROR:
        throw std::bad_alloc();
    default:
        step.Status = InflateStatus::Damaged;
        break;
    }
    return step;
}

InflateStatus Inflater::Feed(const void* data, std::size_t count, const ByteSink& sink,
                             std::uint64_t limit) {
    const auto* in = static_cast<const unsigned char*>(data);
    unsigned char block[16384];
    for (;;) {
        const Step step = Run(in, count, block, sizeof block);
        in += step.Took;
        count -= step.Took;
        if (step.Made > 0) {
            if (TotalOut() > limit)
                return InflateStatus::TooLarge;
            sink(block, step.Made);
        }
        if (step.Status != InflateStatus::Ok && step.Status != InflateStatus::Stalled)
            return step.Status;
        if (count == 0 && (step.Made < sizeof block || step.Status == InflateStatus::Stalled))
            return InflateStatus::Ok;
        if (step.Status == InflateStatus::Stalled)
            return InflateStatus::Stalled;
    }
}

InflateStatus Inflater::Feed(const void* data, std::size_t count, std::vector<unsigned char>& out,
                             std::size_t limit) {
    return Feed(
        data, count,
        [&out](const unsigned char* bytes, std::size_t n) {
            out.insert(out.end(), bytes, bytes + n);
        },
        limit);
}

bool Inflater::SetDictionary(const unsigned char* bytes, std::size_t count) {
    return inflateSetDictionary(zs_.get(), bytes, static_cast<uInt>(std::min(count, kStep))) ==
           Z_OK;
}

std::uint64_t Inflater::TotalOut() const {
    return zs_->total_out;
}

std::string Inflater::Message() const {
    return zs_->msg ? zs_->msg : "";
}

InflateResult InflateWhole(const void* data, std::size_t count, std::vector<unsigned char>& out,
                           std::size_t limit, ZlibFormat format) {
    out.clear();
    Inflater inflater(format);
    const auto* in = static_cast<const unsigned char*>(data);
    unsigned char block[16384];
    for (;;) {
        const Inflater::Step step = inflater.Run(in, count, block, sizeof block);
        in += step.Took;
        count -= step.Took;
        if (step.Made > limit - out.size())
            return InflateResult::TooLarge;
        out.insert(out.end(), block, block + step.Made);
        switch (step.Status) {
        case InflateStatus::End:
            return count == 0 ? InflateResult::Ok : InflateResult::TrailingBytes;
        case InflateStatus::Ok:
            if (count > 0 || step.Made == sizeof block)
                continue;
            return InflateResult::Truncated;
        case InflateStatus::Stalled:
            return InflateResult::Truncated;
        default:
            return InflateResult::Damaged;
        }
    }
}

} // namespace kiv
