#include "CommandSupport.h"

#include "OutputRule.h"

#include "base/PathName.h"
#include "base/Platform.h"
#include "base/TextConv.h"
#include "sprite/SpriteCheck.h"

#include <charconv>
#include <cstring>
#include <streambuf>

namespace kivtool {

namespace {

// The progress line of the command running now, if any (one command runs at a time).
ProgressLine* activeProgress = nullptr;

// Passes text on to another stream buffer with every byte that could act on a terminal
// written as \xNN (EscapedText), line ends kept: whatever a message quotes from a file reaches
// the terminal as text. A UTF-8 sequence split across writes is held until it is whole, and
// the text goes on an output operation at a time (stderr is unbuffered: a write per character
// would cost a system call each).
class EscapingBuffer : public std::streambuf {
public:
    void SetTarget(std::streambuf* target) {
        if (target != target_) {
            Release();
            Pass();
        }
        target_ = target;
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const auto byte = static_cast<unsigned char>(c);
        if (!pending_.empty() && (byte & 0xC0) != 0x80)
            Release();
        if (pending_.empty() && byte < 0x80) {
            if (byte == '\n') {
                line_ += '\n';
                Pass();
            } else if (byte >= 0x20 && byte < 0x7F) {
                line_ += static_cast<char>(byte);
            } else {
                line_ += kiv::EscapedText(std::string(1, static_cast<char>(byte)));
            }
            return c;
        }
        pending_ += static_cast<char>(byte);
        const auto lead = static_cast<unsigned char>(pending_[0]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (pending_.size() >= length)
            Release();
        return c;
    }
    int sync() override {
        Release();
        Pass();
        return target_ ? target_->pubsync() : 0;
    }

private:
    void Release() {
        if (!pending_.empty())
            Write(kiv::EscapedText(pending_));
        pending_.clear();
    }
    void Write(const std::string& text) { line_ += text; }
    // Hands the line so far to the target.
    void Pass() {
        if (target_ && !line_.empty())
            target_->sputn(line_.data(), static_cast<std::streamsize>(line_.size()));
        line_.clear();
    }

    std::streambuf* target_ = nullptr;
    std::string pending_;
    std::string line_;
};

} // namespace

std::ostream& Err(const Context& ctx) {
    if (activeProgress)
        activeProgress->Clear();
    static EscapingBuffer buffer;
    // Each output operation is passed on whole when it ends, so nothing waits for a line end.
    static std::ostream stream(&buffer);
    stream.setf(std::ios::unitbuf);
    buffer.SetTarget(ctx.err.rdbuf());
    return stream;
}

int Fail(const Context& ctx, const std::string& message) {
    // Escaped here too, so a line end inside a quoted name cannot split the message.
    Err(ctx) << kiv::EscapedText(message) << '\n';
    return ExitFailure;
}

int FailOpen(const Context& ctx, const std::string& message, const std::string& path) {
    kiv::platform::FileStatus status;
    if (!kiv::platform::StatusOf(path, status))
        return Fail(ctx, message); // nothing there: the text says it all
    return Fail(ctx, kiv::WithFault(message, {path, false, kiv::OpenFault(path)}));
}

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + ": " + reason;
}

int FailWrite(const Context& ctx, const std::string& message, const kiv::WriteFault& fault) {
    return Fail(ctx, kiv::WithFault(message, fault));
}

int FailErrorBox(const Context& ctx, const std::exception& error) {
    // These say all there is, stop included.
    if (dynamic_cast<const kiv::EOutputBusy*>(&error) ||
        dynamic_cast<const kiv::EInputChanged*>(&error))
        return Fail(ctx, error.what());
    Err(ctx) << kiv::EscapedText(kiv::ErrorText(error)) << ".\n";
    return ExitFailure;
}

std::string FileNameOf(const std::string& path) {
    return kiv::PathFileName(path);
}

std::string StemOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const std::size_t dot = name.find_last_of('.');
    // A leading dot starts a hidden name, not an extension.
    return dot == std::string::npos || dot == 0 || name == ".." ? name : name.substr(0, dot);
}

std::string WithExtension(const std::string& path, const std::string& extension) {
    const std::string name = FileNameOf(path);
    return path.substr(0, path.size() - name.size()) + StemOf(path) + extension;
}

bool MakeFolder(const Context& ctx, const std::string& dir) {
    // Each missing folder on the way, from the top down.
    for (std::size_t end = 0; end != std::string::npos;) {
        end = kiv::NextSeparator(dir, end + 1);
        const std::string part = dir.substr(0, end);
        if (part.empty() || kiv::platform::IsFolder(part))
            continue;
        if (!kiv::platform::MakeFolder(part)) {
            Fail(ctx,
                 WithReason("Cannot create folder " + part, kiv::platform::LastErrorText()) + ".");
            return false;
        }
    }
    return true;
}

bool ListOrFail(const Context& ctx, const std::string& archive, kiv::ArchiveListing& listing) {
    listing = kiv::ListArchive(archive);
    if (!listing.Opened) {
        FailOpen(ctx, kiv::MainDataFileNotFound, archive);
        return false;
    }
    if (listing.Truncated)
        Err(ctx) << "Warning: the archive ends inside its directory; " << listing.Entries.size()
                 << " of " << listing.StoredCount << " entries listed.\n";
    return true;
}

bool ArchiveLooksRight(const Context& ctx, const std::string& archive,
                       const kiv::ArchiveListing& listing) {
    const std::string fault = kiv::ArchiveFault(listing);
    if (fault.empty())
        return true;
    Err(ctx) << kiv::EscapedText(archive) << " does not look like a sprite archive: " << fault
             << '\n';
    return false;
}

bool WarnIfDamaged(const Context& ctx, std::size_t row, const kiv::TArchiveEntry& entry,
                   std::int64_t fileLength) {
    const std::string fault = kiv::MemberFault(entry, fileLength);
    if (!fault.empty())
        Err(ctx) << "Warning: member " << row << " (" << kiv::EscapedText(entry.Name) << ") "
                 << fault << ".\n";
    return !fault.empty();
}

void WarnDamagedMembers(const Context& ctx, const kiv::ArchiveListing& listing) {
    for (std::size_t k = 0; k < listing.Entries.size(); ++k)
        WarnIfDamaged(ctx, k + 1, listing.Entries[k], listing.FileLength);
}

bool NoDamagedMember(const Context& ctx, const std::string& archive,
                     const kiv::ArchiveListing& listing) {
    const std::string damaged = kiv::FirstDamagedMember(listing);
    if (damaged.empty())
        return true;
    Fail(ctx, "Cannot rebuild " + archive + ": its " + damaged + ". Nothing was written.");
    return false;
}

bool SpriteLooksRight(const Context& ctx, const std::string& name, kiv::InFile& file,
                      std::int64_t start, std::int64_t length) {
    const std::string fault = kiv::SpriteFault(file, start, length);
    if (fault.empty())
        return true;
    Err(ctx) << kiv::EscapedText(name) << " does not look like a sprite file: " << fault << '\n';
    return false;
}

bool FindMember(const Context& ctx, const kiv::ArchiveListing& listing, const std::string& member,
                MemberRef& ref) {
    const auto& entries = listing.Entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Name == member) {
            ref.Row = static_cast<int>(i) + 1;
            ref.Entry = entries[i];
            return true;
        }
    }
    if (member.size() > 1 && member[0] == '#') {
        long long row = 0;
        const char* first = member.data() + 1;
        const char* last = member.data() + member.size();
        const auto [end, ec] = std::from_chars(first, last, row);
        if (ec == std::errc() && end == last) {
            if (row >= 1 && row <= std::ssize(entries)) {
                ref.Row = static_cast<int>(row);
                ref.Entry = entries[static_cast<std::size_t>(row - 1)];
                return true;
            }
            Fail(ctx, "No member " + member + ": the archive lists " +
                          std::to_string(entries.size()) + " members.");
            return false;
        }
    }
    Fail(ctx, "No member named " + member + " in the archive.");
    return false;
}

std::string IconRangeMessage(std::int64_t icon, std::int64_t count) {
    if (count < 1)
        return "Icon " + std::to_string(icon) + " is out of range: the file holds no icons.";
    return "Icon " + std::to_string(icon) + " is out of range: the file holds icons 1 to " +
           std::to_string(count) + ".";
}

ProgressLine::ProgressLine(const Context& ctx, std::string label, std::int64_t total)
    : ctx_(ctx), label_(std::move(label)), total_(total), start_(std::chrono::steady_clock::now()),
      last_(start_) {
    activeProgress = this;
}

ProgressLine::~ProgressLine() {
    Clear();
    if (activeProgress == this)
        activeProgress = nullptr;
}

void ProgressLine::Clear() {
    if (shown_)
        ctx_.err << "\r\033[K" << std::flush;
    shown_ = false;
}

void ProgressLine::ShowNow() {
    if (!ctx_.progress)
        return;
    ctx_.err << '\r' << label_ << "..." << std::flush;
    shown_ = true;
}

void ProgressLine::Update(std::int64_t done) {
    if (!ctx_.progress)
        return;
    using namespace std::chrono_literals;
    const auto now = std::chrono::steady_clock::now();
    // Short work shows nothing; long work updates a few times a second.
    if (now - start_ < 300ms || (shown_ && now - last_ < 100ms))
        return;
    last_ = now;
    ctx_.err << '\r' << label_ << ' ' << done << '/' << total_;
    if (total_ > 0)
        ctx_.err << " (" << done * 100 / total_ << "%)";
    ctx_.err << "\033[K" << std::flush;
    shown_ = true;
}

std::string ReencodedCounts(std::size_t reencoded, std::size_t unchanged) {
    std::string text =
        std::to_string(reencoded) + (reencoded == 1 ? " icon re-encoded" : " icons re-encoded");
    if (unchanged > 0)
        text += ", " + std::to_string(unchanged) + " unchanged";
    return text;
}

std::optional<kiv::TColor> ColourOption(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    const std::string digits = text[0] == '#' ? text.substr(1) : text;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.size() != 6 || ec != std::errc() || end != digits.data() + digits.size())
        throw kiv::Exception("A colour is six hexadecimal digits, RRGGBB (such as FFFFFF for "
                             "white), not " +
                             kiv::EscapedText(text));
    return kiv::RGB(value >> 16, (value >> 8) & 0xFF, value & 0xFF);
}

std::string ColourText(kiv::TColor colour) {
    static const char* const hex = "0123456789ABCDEF";
    std::string text;
    for (const unsigned part : {kiv::RedOf(colour), kiv::GreenOf(colour), kiv::BlueOf(colour)}) {
        text += hex[part >> 4];
        text += hex[part & 15];
    }
    return text;
}

} // namespace kivtool
