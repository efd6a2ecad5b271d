#include "base/SafeFile.h"

#include "base/Errors.h"
#include "base/FileStream.h"

#include <algorithm>
#include <atomic>

namespace kiv {

namespace {

std::atomic<unsigned> tempCounter{0};

// The block of the buffered copy: small enough to stay in the processor's cache between the
// read and the write.
constexpr std::size_t kCopyBlock = 256 << 10;

} // namespace

SafeFile::SafeFile(std::string target) : target_(std::move(target)) {
    platform::FileStatus st;
    // Only a regular file is ever replaced: renaming over a device or a pipe would replace
    // the node itself (as root, /dev/null), and over a folder it fails.
    const bool replacing = !target_.empty() && platform::StatusOf(target_, st);
    if (target_.empty() || (replacing && !st.Regular))
        throw EFCreateError(target_);

#ifdef _WIN32
    // Windows ends a folder name with either slash, or with the colon of a drive.
    const auto slash = target_.find_last_of("/\\:");
#else
    const auto slash = target_.find_last_of('/');
#endif
    const std::string folder =
        slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (base.empty())
        throw EFCreateError(target_);

    // A new file gets the usual mode; a replaced one keeps its own.
    const std::uint32_t mode = replacing ? st.Mode : 0666;
    for (int attempt = 0; attempt < 100 && file_ == platform::kNoFile; ++attempt) {
        tempPath_ = folder + "." + base + ".kiv-" + std::to_string(platform::ProcessNumber()) +
                    "-" + std::to_string(tempCounter++);
        if (platform::CreateNew(tempPath_, mode, file_) == platform::CreateOutcome::Failed)
            break;
    }
    if (file_ == platform::kNoFile) {
        tempPath_.clear();
        throw EFCreateError(target_, platform::LastErrorText());
    }
    // Creation applied the umask; a replaced file keeps exactly its mode (0666 included).
    if (replacing)
        platform::SetMode(file_, mode);
}

SafeFile::~SafeFile() {
    if (!committed_)
        Discard();
}

void SafeFile::Discard() {
    if (file_ != platform::kNoFile) {
        platform::Close(file_);
        file_ = platform::kNoFile;
    }
    if (!tempPath_.empty() && !committed_) {
        platform::RemoveFile(tempPath_);
        tempPath_.clear();
    }
}

void SafeFile::CloseTemporary() {
    if (file_ != platform::kNoFile) {
        platform::Close(file_);
        file_ = platform::kNoFile;
    }
}

void SafeFile::Failed(const std::string& message) {
    // Taken before Discard: its own calls must not replace the reason.
    std::string reason = platform::LastErrorText();
    Discard();
    throw EWriteError(message, std::move(reason));
}

void SafeFile::Write(const void* data, std::size_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (!platform::WriteAll(file_, data, count))
        Failed();
    size_ += static_cast<std::int64_t>(count);
}

void SafeFile::WriteAt(std::int64_t offset, const void* data, std::size_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (!platform::WriteAllAt(file_, offset, data, count))
        Failed();
}

std::int64_t SafeFile::CopyFrom(InFile& source, std::int64_t offset, std::int64_t count) {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    if (offset < 0 || count <= 0)
        return 0;
    // Only bytes the source really has are copied.
    const std::int64_t available = source.Length() > offset ? source.Length() - offset : 0;
    std::int64_t left = std::min(count, available);
    std::int64_t copied = 0;
    std::int64_t in = offset;

    // The kernel's copy, whatever the offsets: it moves each byte once inside the kernel, with
    // no page faults. Where the source and output offsets differ within a page it costs about
    // 1.4 times the aligned copy, yet about half of what reads and writes through a buffer
    // cost. Reads and writes only where the kernel cannot copy between these two files.
    bool kernelCopy = true;
    while (left > 0 && kernelCopy) {
        const std::int64_t got = platform::KernelCopy(source.Handle(), in, file_, left);
        if (got == platform::kCopyUnsupported) {
            kernelCopy = false;
            break;
        }
        if (got < 0)
            Failed();
        if (got == 0)
            break; // the source ended early
        in += got;
        left -= got;
        copied += got;
    }
    if (!kernelCopy && !CopyBuffered(source, in, left, copied))
        Failed();
    size_ += copied;
    return copied;
}

bool SafeFile::CopyBuffered(InFile& source, std::int64_t& in, std::int64_t& left,
                            std::int64_t& copied) {
    // A short range needs no more buffer than its own length.
    const auto need = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyBlock));
    if (buffer_.size() < need)
        buffer_.resize(need);
    while (left > 0) {
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(left, std::ssize(buffer_)));
        const std::int64_t got = platform::ReadAt(source.Handle(), in, buffer_.data(), want);
        if (got <= 0)
            break; // the source ended early or cannot be read: the caller sees the count
        if (!platform::WriteAll(file_, buffer_.data(), static_cast<std::size_t>(got)))
            return false;
        in += got;
        left -= got;
        copied += got;
    }
    return true;
}

void SafeFile::Commit() {
    if (file_ == platform::kNoFile)
        throw EWriteError();
    const platform::FileHandle file = file_;
    file_ = platform::kNoFile;
    // The bytes reach the disk before the name does: renamed first, a power cut could leave
    // an empty or partial file where the earlier good one was.
    const bool flushed = platform::FlushToDisk(file);
    if (!platform::Close(file) || !flushed)
        Failed();
    if (!platform::ReplaceFile(tempPath_, target_))
        Failed("Cannot create file " + target_);
    committed_ = true;
    // The new name is an entry of the folder, flushed so that it survives a power cut too.
    // The file is in place by now whatever happens, so a folder that cannot be flushed (some
    // file systems refuse) is no failure.
    const auto slash = target_.find_last_of('/');
    platform::FlushFolderToDisk(slash == std::string::npos ? std::string(".")
                                                           : target_.substr(0, slash + 1));
}

void WriteWholeFile(const std::string& target, const void* data, std::size_t count) {
    SafeFile out(target);
    out.Write(data, count);
    out.Commit();
}

} // namespace kiv
