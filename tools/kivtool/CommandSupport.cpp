#include "CommandSupport.h"

#include "OutputRule.h"

#include "base/Platform.h"
#include "base/TextConv.h"
#include "sprite/SpriteCheck.h"

#include <charconv>
#include <cstring>

namespace kivtool {

namespace {

// The progress line of the command running now, if any (one command runs at a time).
ProgressLine* activeProgress = nullptr;

} // namespace

std::ostream& Err(const Context& ctx) {
    if (activeProgress)
        activeProgress->Clear();
    return ctx.err;
}

int Fail(const Context& ctx, const std::string& message) {
    Err(ctx) << message << '\n';
    return ExitFailure;
}

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + ": " + reason;
}

int FailWrite(const Context& ctx, const std::string& message, const kiv::WriteFault& fault) {
    return Fail(ctx, fault.Path.empty() ? WithReason(message, fault.Reason) : FaultLine(fault));
}

int FailErrorBox(const Context& ctx, const std::exception& error) {
    if (const auto* write = dynamic_cast<const kiv::EWriteError*>(&error);
        write && !write->Fault().Path.empty())
        return Fail(ctx, FaultLine(write->Fault()));
    if (const auto* create = dynamic_cast<const kiv::EFCreateError*>(&error))
        return Fail(ctx, FaultLine(create->Fault()));
    // These say all there is, stop included.
    if (dynamic_cast<const kiv::EOutputBusy*>(&error) ||
        dynamic_cast<const kiv::EInputChanged*>(&error))
        return Fail(ctx, error.what());
    Err(ctx) << error.what() << ".\n";
    return ExitFailure;
}

namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::size_t LastSeparator(const std::string& path) {
#ifdef _WIN32
    // A drive's colon ends a folder name too.
    return path.find_last_of("/\\:");
#else
    return path.find_last_of('/');
#endif
}

} // namespace

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = LastSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
        end = dir.find_first_of(kSeparators, end + 1);
        const std::string part = dir.substr(0, end);
        if (part.empty() || kiv::platform::IsFolder(part))
            continue;
        if (!kiv::platform::MakeFolder(part)) {
            Fail(ctx, WithReason("Cannot create folder " + PrintableName(part),
                                 kiv::platform::LastErrorText()) +
                          ".");
            return false;
        }
    }
    return true;
}

bool ListOrFail(const Context& ctx, const std::string& archive, kiv::ArchiveListing& listing) {
    listing = kiv::ListArchive(archive);
    if (!listing.Opened) {
        Fail(ctx, kiv::MainDataFileNotFound);
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
    Err(ctx) << PrintableName(archive) << " does not look like a sprite archive: " << fault << '\n';
    return false;
}

bool SpriteLooksRight(const Context& ctx, const std::string& name, kiv::InFile& file,
                      std::int64_t start, std::int64_t length) {
    const std::string fault = kiv::SpriteFault(file, start, length);
    if (fault.empty())
        return true;
    Err(ctx) << PrintableName(name) << " does not look like a sprite file: " << fault << '\n';
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
    Fail(ctx, "No member named " + PrintableName(member) + " in the archive.");
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

} // namespace kivtool
