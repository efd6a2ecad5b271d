#include "mod/ZipFile.h"

#include "base/Checksum.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::uint16_t kVersion = 20;                   // 2.0: deflate
constexpr std::uint16_t kDate = (0 << 9) | (1 << 5) | 1; // 1980-01-01, as DOS dates count
// Flags a reader must understand to get the bytes: encryption (bits 0 and 6), and patched
// data (bit 5). Bit 3 (sizes after the data) is fine: the central directory has them.
constexpr std::uint16_t kRefusedFlags = (1 << 0) | (1 << 5) | (1 << 6);
// A central directory holds at most 65535 entries; with names of a sensible length that is
// far below this, and the reader holds it whole.
constexpr std::int64_t kMaxCentralSize = 16 << 20;
constexpr std::size_t kBlock = 64 << 10;

std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(GetInt32LE(p));
}
void Put16(std::vector<unsigned char>& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

[[noreturn]] void Bad(const std::string& why) {
    throw EBadZip(why);
}

} // namespace

// ---- Writing

ZipWriter::ZipWriter(SafeFile& out) : out_(out) {}

ZipWriter::~ZipWriter() = default;

ByteSink ZipWriter::Sink() {
    return [this](const unsigned char* bytes, std::size_t n) { Emit(bytes, n); };
}

void ZipWriter::Emit(const void* data, std::size_t count) {
    if (out_.Size() + static_cast<std::int64_t>(count) > ZipMaxOffset)
        throw EWriteError("The file would pass 4 GiB, more than a zip file without zip64 holds");
    out_.Write(data, count);
}

void ZipWriter::Begin(const std::string& name, ZipMethod method, int level) {
    if (open_ || entries_.size() >= ZipMaxEntries || name.empty() || name.size() > 0xFFFF)
        throw EWriteError("A zip file holds at most 65535 entries, each with a name");
    entries_.push_back({name, method, 0, 0, 0, out_.Size()});
    std::vector<unsigned char> header;
    Put32(header, kLocalSignature);
    Put16(header, kVersion);
    Put16(header, 0); // flags
    Put16(header, static_cast<std::uint16_t>(method));
    Put16(header, 0); // time
    Put16(header, kDate);
    Put32(header, 0); // CRC-32, compressed and uncompressed size: completed by End
    Put32(header, 0);
    Put32(header, 0);
    Put16(header, static_cast<std::uint32_t>(name.size()));
    Put16(header, 0); // extra field
    header.insert(header.end(), name.begin(), name.end());
    Emit(header.data(), header.size());
    if (method == ZipMethod::Deflated)
        deflater_.emplace(DeflateOptions{ZlibFormat::Raw, level});
    open_ = true;
}

void ZipWriter::Write(const void* data, std::size_t count) {
    Written& entry = entries_.back();
    entry.Crc = Crc32(data, count, entry.Crc);
    entry.Size += static_cast<std::int64_t>(count);
    if (entry.Size > ZipMaxOffset)
        throw EWriteError("An entry of a zip file without zip64 holds under 4 GiB");
    if (entry.Method == ZipMethod::Stored) {
        Emit(data, count);
        return;
    }
    deflater_->Feed(data, count, false, Sink());
}

bool ZipWriter::Copy(const InFile& source, std::int64_t offset, std::int64_t count) {
    std::vector<unsigned char> block(
        static_cast<std::size_t>(std::clamp<std::int64_t>(count, 1, 4 * kBlock)));
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, std::ssize(block)));
        if (!source.ReadExactlyAt(offset, block.data(), n))
            return false;
        Write(block.data(), n);
        offset += static_cast<std::int64_t>(n);
        count -= static_cast<std::int64_t>(n);
    }
    return true;
}

std::uint32_t ZipWriter::End() {
    Written& entry = entries_.back();
    if (entry.Method == ZipMethod::Deflated) {
        deflater_->Feed(nullptr, 0, true, Sink());
        deflater_.reset();
    }
    const std::int64_t dataStart = entry.HeaderOffset + kLocalSize + entry.Name.size();
    entry.Compressed = out_.Size() - dataStart;
    std::vector<unsigned char> sizes;
    Put32(sizes, entry.Crc);
    Put32(sizes, static_cast<std::uint32_t>(entry.Compressed));
    Put32(sizes, static_cast<std::uint32_t>(entry.Size));
    out_.WriteAt(entry.HeaderOffset + 14, sizes.data(), sizes.size());
    open_ = false;
    return entry.Crc;
}

void ZipWriter::Finish() {
    const std::int64_t centralOffset = out_.Size();
    std::vector<unsigned char> central;
    for (const Written& entry : entries_) {
        Put32(central, kCentralSignature);
        Put16(central, kVersion); // made by
        Put16(central, kVersion); // needed
        Put16(central, 0);
        Put16(central, static_cast<std::uint16_t>(entry.Method));
        Put16(central, 0);
        Put16(central, kDate);
        Put32(central, entry.Crc);
        Put32(central, static_cast<std::uint32_t>(entry.Compressed));
        Put32(central, static_cast<std::uint32_t>(entry.Size));
        Put16(central, static_cast<std::uint32_t>(entry.Name.size()));
        Put16(central, 0); // extra field
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, 0); // external attributes
        Put32(central, static_cast<std::uint32_t>(entry.HeaderOffset));
        central.insert(central.end(), entry.Name.begin(), entry.Name.end());
    }
    Emit(central.data(), central.size());
    std::vector<unsigned char> end;
    Put32(end, kEndSignature);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<std::uint32_t>(entries_.size()));
    Put16(end, static_cast<std::uint32_t>(entries_.size()));
    Put32(end, static_cast<std::uint32_t>(central.size()));
    Put32(end, static_cast<std::uint32_t>(centralOffset));
    Put16(end, 0); // comment
    Emit(end.data(), end.size());
}

// ---- Reading

namespace {

struct CentralDirectory {
    std::uint16_t Count = 0;
    std::int64_t Offset = 0;
    std::int64_t Size = 0;
};

// The end record, found from the file's end, and the central directory it places.
CentralDirectory FindCentral(const InFile& file) {
    const std::int64_t length = file.Length();
    if (length < static_cast<std::int64_t>(kEndSize))
        Bad("the file is too short to be a zip file");
    // The end record is the last 22 bytes, unless a comment of up to 65535 bytes follows it.
    const std::int64_t tailLength = std::min<std::int64_t>(length, kEndSize + 0xFFFF);
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailLength));
    if (!file.ReadExactlyAt(length - tailLength, tail.data(), tail.size()))
        Bad("the file cannot be read");
    std::int64_t at = -1;
    for (std::int64_t k = tailLength - static_cast<std::int64_t>(kEndSize); k >= 0; --k) {
        const unsigned char* p = tail.data() + k;
        if (Get32(p) == kEndSignature &&
            k + static_cast<std::int64_t>(kEndSize) + Get16(p + 20) <= tailLength) {
            at = k;
            break;
        }
    }
    if (at < 0)
        Bad("no end of central directory record: not a zip file");
    const unsigned char* end = tail.data() + at;
    const std::int64_t endOffset = length - tailLength + at;
    CentralDirectory central{Get16(end + 10), Get32(end + 16), Get32(end + 12)};
    if (Get16(end + 4) != 0 || Get16(end + 6) != 0 || Get16(end + 8) != central.Count)
        Bad("the zip file is split into parts");
    if (central.Count == 0xFFFF || central.Offset == 0xFFFFFFFF || central.Size == 0xFFFFFFFF)
        Bad("the zip file uses zip64, which is not read here");
    if (central.Offset + central.Size > endOffset)
        Bad("the central directory lies outside the file");
    if (central.Size > kMaxCentralSize)
        Bad("the central directory is larger than 16 MiB");
    return central;
}

// Entry `k` (from 0) of the central directory, at `p` of its bytes (moved past it), checked
// against its local header.
ZipEntry CentralEntry(const InFile& file, const std::vector<unsigned char>& central,
                      std::int64_t centralOffset, std::uint16_t k, std::size_t& p) {
    const std::string which = "entry " + std::to_string(k + 1);
    if (central.size() - p < kCentralSize || Get32(central.data() + p) != kCentralSignature)
        Bad("the central directory ends before " + which);
    const unsigned char* h = central.data() + p;
    const std::size_t nameLength = Get16(h + 28);
    const std::size_t extraLength = Get16(h + 30);
    const std::size_t commentLength = Get16(h + 32);
    if (central.size() - p - kCentralSize < nameLength + extraLength + commentLength)
        Bad("the central directory ends inside " + which);
    ZipEntry entry;
    entry.Name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
    const std::uint16_t flags = Get16(h + 8);
    const std::uint16_t method = Get16(h + 10);
    entry.Crc = Get32(h + 16);
    entry.CompressedSize = Get32(h + 20);
    entry.Size = Get32(h + 24);
    const std::int64_t headerOffset = Get32(h + 42);
    p += kCentralSize + nameLength + extraLength + commentLength;

    if (flags & kRefusedFlags)
        Bad(which + " is encrypted");
    if (method != 0 && method != 8)
        Bad(which + " uses compression method " + std::to_string(method) +
            "; only stored and deflated entries are read");
    entry.Method = static_cast<ZipMethod>(method);
    if (entry.CompressedSize == 0xFFFFFFFF || entry.Size == 0xFFFFFFFF ||
        headerOffset == 0xFFFFFFFF || Get16(h + 34) != 0)
        Bad(which + " uses zip64, which is not read here");
    if (entry.Method == ZipMethod::Stored && entry.CompressedSize != entry.Size)
        Bad(which + " is stored, yet its two sizes differ");

    unsigned char local[kLocalSize];
    if (headerOffset + static_cast<std::int64_t>(kLocalSize) > centralOffset ||
        !file.ReadExactlyAt(headerOffset, local, kLocalSize) || Get32(local) != kLocalSignature)
        Bad("the local header of " + which + " is missing");
    const std::size_t localName = Get16(local + 26);
    const std::size_t localExtra = Get16(local + 28);
    entry.DataOffset =
        headerOffset + static_cast<std::int64_t>(kLocalSize + localName + localExtra);
    if (entry.DataOffset + entry.CompressedSize > centralOffset)
        Bad("the data of " + which + " run into the central directory");
    std::string name(localName, '\0');
    if (localName != nameLength ||
        !file.ReadExactlyAt(headerOffset + kLocalSize, name.data(), name.size()) ||
        name != entry.Name)
        Bad("the local header of " + which + " names another entry");
    return entry;
}

} // namespace

ZipReader::ZipReader(const InFile& file) {
    const CentralDirectory directory = FindCentral(file);
    std::vector<unsigned char> central(static_cast<std::size_t>(directory.Size));
    if (!file.ReadExactlyAt(directory.Offset, central.data(), central.size()))
        Bad("the central directory cannot be read");
    entries_.reserve(directory.Count);
    std::size_t p = 0;
    for (std::uint16_t k = 0; k < directory.Count; ++k) {
        ZipEntry entry = CentralEntry(file, central, directory.Offset, k, p);
        if (!index_.emplace(entry.Name, entries_.size()).second)
            Bad("two entries are named alike");
        entries_.push_back(std::move(entry));
    }
}

const ZipEntry* ZipReader::Find(const std::string& name) const {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &entries_[found->second];
}

ZipEntryReader::ZipEntryReader(const InFile& file, const ZipEntry& entry)
    : file_(file), entry_(entry) {
    if (entry_.Method == ZipMethod::Deflated) {
        inflater_.emplace(ZlibFormat::Raw);
        in_.resize(
            static_cast<std::size_t>(std::clamp<std::int64_t>(entry_.CompressedSize, 1, kBlock)));
    }
    if (entry_.Size == 0)
        Check();
}

bool ZipEntryReader::Fill() {
    const std::int64_t left = entry_.CompressedSize - consumed_;
    if (left <= 0)
        return false;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, std::ssize(in_)));
    if (!file_.ReadExactlyAt(entry_.DataOffset + consumed_, in_.data(), n))
        Bad("entry " + entry_.Name + " cannot be read");
    consumed_ += static_cast<std::int64_t>(n);
    inStart_ = 0;
    inSize_ = n;
    return true;
}

std::size_t ZipEntryReader::Read(void* data, std::size_t count) {
    auto* out = static_cast<unsigned char*>(data);
    count = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(count), entry_.Size - produced_));
    std::size_t done = 0;
    if (entry_.Method == ZipMethod::Stored) {
        if (count > 0 && !file_.ReadExactlyAt(entry_.DataOffset + produced_, out, count))
            Bad("entry " + entry_.Name + " cannot be read");
        done = count;
    }
    while (entry_.Method == ZipMethod::Deflated && done < count) {
        if (inSize_ == 0)
            Fill();
        const Inflater::Step step =
            inflater_->Run(in_.data() + inStart_, inSize_, out + done, count - done);
        inStart_ += step.Took;
        inSize_ -= step.Took;
        done += step.Made;
        if (step.Status == InflateStatus::End) {
            ended_ = true;
            if (done < count)
                Bad("entry " + entry_.Name + " is shorter than its size says");
        } else {
            Stalled(step.Status, step.Took + step.Made);
        }
    }
    crc_ = Crc32(out, done, crc_);
    produced_ += static_cast<std::int64_t>(done);
    if (produced_ == entry_.Size && done > 0)
        Check();
    return done;
}

void ZipEntryReader::ReadExactly(void* data, std::size_t count) {
    if (Read(data, count) != count)
        Bad("entry " + entry_.Name + " ends early");
}

void ZipEntryReader::Skip(std::int64_t count) {
    if (entry_.Method == ZipMethod::Stored && count > 0) {
        if (count > entry_.Size - produced_)
            Bad("entry " + entry_.Name + " ends early");
        produced_ += count;
        skipped_ = true;
        return;
    }
    unsigned char scratch[4096];
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, sizeof scratch));
        ReadExactly(scratch, n);
        count -= static_cast<std::int64_t>(n);
    }
}

// After an inflate call that did not end the stream: damaged data, or no progress at all
// (the compressed bytes ran out).
void ZipEntryReader::Stalled(InflateStatus status, std::size_t progress) {
    if (status != InflateStatus::Ok && status != InflateStatus::Stalled)
        Bad("entry " + entry_.Name + " holds damaged compressed data");
    if (progress == 0)
        Bad("entry " + entry_.Name + " ends early");
}

// All bytes are out: a deflate stream must end here, and the checksum must agree.
void ZipEntryReader::Check() {
    while (entry_.Method == ZipMethod::Deflated && !ended_) {
        if (inSize_ == 0)
            Fill();
        unsigned char extra;
        const Inflater::Step step = inflater_->Run(in_.data() + inStart_, inSize_, &extra, 1);
        inStart_ += step.Took;
        inSize_ -= step.Took;
        if (step.Made > 0)
            Bad("entry " + entry_.Name + " is longer than its size says");
        if (step.Status == InflateStatus::End)
            ended_ = true;
        else
            Stalled(step.Status, step.Took);
    }
    if (!skipped_ && crc_ != entry_.Crc)
        Bad("entry " + entry_.Name + " is damaged: its checksum does not match");
}

} // namespace kiv
