// The operating-system calls of Platform.h for Windows: files, folders and locks (programs,
// the environment and termination in PlatformWindowsProcess.cpp). Names arrive as UTF-8 and
// go to the wide-character calls, so every name a Windows folder can hold is reachable.
#include "base/Platform.h"

#include "base/Utf16.h"

#include <windows.h>
// windows.h names one of its own calls ReplaceFile through a macro.
#undef ReplaceFile

#include <cstdio>
#include <io.h>

namespace kiv::platform {

namespace {

HANDLE Handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// The wide name, or an empty one (which no call accepts) for text that is not UTF-8.
std::wstring WideName(const std::string& path) {
    const auto wide = Utf8ToUtf16(path);
    if (!wide)
        return {};
    return {wide->begin(), wide->end()};
}

// Others may read, write, rename or delete the file while it is open here, as they may on
// a POSIX system; replacing an archive the tool is reading stays possible.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenExisting(const std::string& path, DWORD access) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return INVALID_HANDLE_VALUE;
    // Backup semantics open folders too, so that their status can be read.
    return ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool Fill(HANDLE handle, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        status = FileStatus{}; // a console, a pipe or a device
        return true;
    }
    if (!::GetFileInformationByHandle(handle, &info))
        return false;
    status.Regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status.Links = info.nNumberOfLinks;
    status.Mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    status.Size =
        static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    status.Device = info.dwVolumeSerialNumber;
    status.Node = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    // 100-nanosecond ticks.
    status.Modified =
        static_cast<std::int64_t>(((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                   info.ftLastWriteTime.dwLowDateTime) *
                                  100);
    return true;
}

// One call moves at most this many bytes.
constexpr std::size_t kMaxChunk = 1u << 30;

OVERLAPPED At(std::int64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    where.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return where;
}

} // namespace

bool StatusOf(const std::string& path, FileStatus& status) {
    const HANDLE handle = OpenExisting(path, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool filled = Fill(handle, status);
    ::CloseHandle(handle);
    return filled;
}

bool StatusOf(FileHandle file, FileStatus& status) {
    return Fill(Handle(file), status);
}

FileHandle OpenForReading(const std::string& path) {
    const HANDLE handle = OpenExisting(path, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE)
        return kNoFile;
    FileStatus status;
    if (!Fill(handle, status) || !status.Regular) {
        ::CloseHandle(handle);
        return kNoFile;
    }
    return FromHandle(handle);
}

FileHandle OpenEntryForReading(const std::string& path) {
    if (EntryOf(path).Kind != EntryKind::File)
        return kNoFile;
    return OpenForReading(path);
}

CreateOutcome CreateNew(const std::string& path, std::uint32_t, FileHandle& file) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return CreateOutcome::Failed;
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateOutcome::Exists
                                                                           : CreateOutcome::Failed;
    }
    file = FromHandle(handle);
    return CreateOutcome::Created;
}

// Windows files have no permission bits; a new file gets the folder's access rules, and a
// read-only flag is never copied, since the replace that follows could not then overwrite it.
void SetMode(FileHandle, std::uint32_t) {}

// Windows files have access rules, not an owner and group of this kind.
void SetOwner(FileHandle, std::uint32_t, std::uint32_t) {}

// Links are not followed: a link named as an output is replaced, as the system's own
// replace does.
bool ReadLink(const std::string&, std::string&) {
    return false;
}

std::string ResolvedPath(const std::string& path) {
    const HANDLE handle = OpenExisting(path, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::wstring wide(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, wide.data(), static_cast<DWORD>(wide.size()), 0);
    ::CloseHandle(handle);
    if (length == 0 || length >= wide.size())
        return {};
    wide.resize(length);
    // The name comes back in its long form, "\\?\C:\...".
    if (wide.rfind(L"\\\\?\\", 0) == 0)
        wide.erase(0, 4);
    const auto utf8 = Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
    return utf8 ? *utf8 : std::string();
}

bool IsFolder(const std::string& path) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::string& path) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return false;
    if (::CreateDirectoryW(wide.c_str(), nullptr))
        return true;
    const DWORD error = ::GetLastError();
    if (IsFolder(path))
        return true;
    ::SetLastError(error);
    return false;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
    std::string pattern = folder.empty() ? std::string(".") : folder;
    if (pattern.back() != '/' && pattern.back() != '\\')
        pattern += '\\';
    const std::wstring wide = WideName(pattern + "*");
    if (wide.empty())
        return false;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(wide.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    names.clear();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (const auto utf8 = Utf16ToUtf8(std::u16string(name.begin(), name.end())))
            names.push_back(*utf8);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return true;
}

// Locks on Windows bind every other handle, even for reading, so the lock covers one byte
// far past any real data: it excludes other lockers and no reader.
bool TryLock(FileHandle file) {
    OVERLAPPED where = At(std::int64_t{1} << 62);
    return ::LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &where) != 0;
}

LockFileOutcome OpenLockFile(const std::string& path, FileHandle& file) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return LockFileOutcome::Failed;
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    const DWORD error = ::GetLastError();
    // Another user's lock file may be read-only for us; a lock needs no write access.
    if (handle == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED)
        handle = ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        file = FromHandle(handle);
        return LockFileOutcome::Opened;
    }
    // A removed file lingers, and cannot be opened, until its last handle is closed; a
    // folder that refuses a new file has no such name in it.
    bool lingering = false;
    if (error == ERROR_ACCESS_DENIED &&
        ::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD why = ::GetLastError();
        lingering = why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND;
    }
    ::SetLastError(error);
    return lingering ? LockFileOutcome::Busy : LockFileOutcome::Failed;
}

void SleepMilliseconds(int milliseconds) {
    ::Sleep(static_cast<DWORD>(milliseconds));
}

bool Close(FileHandle file) {
    return ::CloseHandle(Handle(file)) != 0;
}

bool FlushToDisk(FileHandle file) {
    return ::FlushFileBuffers(Handle(file)) != 0;
}

// ReplaceFile writes the new name through to the disk itself; no folder needs a flush.
bool FlushFolderToDisk(const std::string&) {
    return true;
}

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    if (code == 0)
        return {};
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason(text ? text : "", length);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    const std::wstring wideFrom = WideName(from);
    const std::wstring wideTo = WideName(to);
    if (wideFrom.empty() || wideTo.empty())
        return false;
    // Write-through: the call returns only once the new name is on the disk.
    return ::MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
    const std::wstring wide = WideName(path);
    return !wide.empty() && ::DeleteFileW(wide.c_str()) != 0;
}

std::int64_t ReadAt(FileHandle file, std::int64_t offset, void* data, std::size_t count) {
    OVERLAPPED where = At(offset);
    DWORD got = 0;
    const auto want = static_cast<DWORD>(count < kMaxChunk ? count : kMaxChunk);
    if (!::ReadFile(Handle(file), data, want, &got, &where))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool WriteAll(FileHandle file, const void* data, std::size_t count) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        DWORD put = 0;
        const auto want = static_cast<DWORD>(count < kMaxChunk ? count : kMaxChunk);
        if (!::WriteFile(Handle(file), bytes, want, &put, nullptr) || put == 0)
            return false;
        bytes += put;
        count -= put;
    }
    return true;
}

bool WriteAllAt(FileHandle file, std::int64_t offset, const void* data, std::size_t count) {
    // A write at an offset moves the file pointer here, unlike pwrite; the appends that
    // follow must still go to where they were going.
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(Handle(file), zero, &position, FILE_CURRENT))
        return false;
    auto* bytes = static_cast<const unsigned char*>(data);
    bool written = true;
    while (count > 0 && written) {
        OVERLAPPED where = At(offset);
        DWORD put = 0;
        const auto want = static_cast<DWORD>(count < kMaxChunk ? count : kMaxChunk);
        written = ::WriteFile(Handle(file), bytes, want, &put, &where) && put > 0;
        bytes += put;
        offset += put;
        count -= put;
    }
    return ::SetFilePointerEx(Handle(file), position, nullptr, FILE_BEGIN) && written;
}

// The cache manager offers no request to forget one file's pages.
void DropCachedPages(const std::string&) {}

// No copy inside the kernel between two open files here: the caller reads and writes.
std::int64_t KernelCopy(FileHandle, std::int64_t, FileHandle, std::int64_t) {
    return kCopyUnsupported;
}

std::uint64_t ProcessNumber() {
    return ::GetCurrentProcessId();
}

// '*' any run of characters, '?' one, '[...]' one of a set ('!' or '^' first negates,
// 'a-z' a range), '\' takes the next character as it is; byte by byte, like the POSIX call.
bool NameMatches(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        bool matched = false;
        std::size_t next = p;
        if (p < pattern.size()) {
            const char c = pattern[p];
            if (c == '*') {
                starP = ++p;
                starN = n;
                continue;
            }
            if (c == '?') {
                matched = true;
                next = p + 1;
            } else if (c == '[') {
                std::size_t q = p + 1;
                const bool negate = q < pattern.size() && (pattern[q] == '!' || pattern[q] == '^');
                if (negate)
                    ++q;
                bool inSet = false;
                bool closed = false;
                for (bool first = true; q < pattern.size(); first = false) {
                    if (pattern[q] == ']' && !first) {
                        closed = true;
                        break;
                    }
                    const auto low = static_cast<unsigned char>(pattern[q]);
                    auto high = low;
                    if (q + 2 < pattern.size() && pattern[q + 1] == '-' && pattern[q + 2] != ']') {
                        high = static_cast<unsigned char>(pattern[q + 2]);
                        q += 2;
                    }
                    const auto ch = static_cast<unsigned char>(name[n]);
                    inSet = inSet || (ch >= low && ch <= high);
                    ++q;
                }
                if (closed) {
                    matched = inSet != negate;
                    next = q + 1;
                } else { // an unclosed '[' stands for itself
                    matched = name[n] == '[';
                    next = p + 1;
                }
            } else {
                if (c == '\\' && p + 1 < pattern.size())
                    ++p;
                matched = pattern[p] == name[n];
                next = p + 1;
            }
        }
        if (matched) {
            p = next;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool ErrorStreamIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

EntryStatus EntryOf(const std::string& path) {
    EntryStatus entry;
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return entry;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return entry;
    // Junctions and symbolic links are both reparse points; neither is followed.
    entry.Kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Link
                 : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::Folder
                                                             : EntryKind::File;
    entry.Mine = true; // the temporary folder is the user's own
    return entry;
}

CreateOutcome MakeNewFolder(const std::string& path) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return CreateOutcome::Failed;
    if (::CreateDirectoryW(wide.c_str(), nullptr))
        return CreateOutcome::Created;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? CreateOutcome::Exists : CreateOutcome::Failed;
}

bool RemoveFolder(const std::string& path) {
    const std::wstring wide = WideName(path);
    return !wide.empty() && ::RemoveDirectoryW(wide.c_str()) != 0;
}

} // namespace kiv::platform
