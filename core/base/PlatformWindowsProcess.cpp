// The operating-system calls of Platform.h for Windows: the environment, started programs
// and the end of this one (files and folders in PlatformWindows.cpp). Text arrives as UTF-8
// and goes to the wide-character calls.
#include "base/Platform.h"

#include "base/Utf16.h"

#include <windows.h>
// After windows.h, which they take for granted.
#include <objbase.h>
#include <shellapi.h>

#include <mutex>

namespace kiv::platform {

namespace {

HANDLE Handle(ProcessHandle process) {
    return reinterpret_cast<HANDLE>(process);
}

// The wide name, or an empty one (which no call accepts) for text that is not UTF-8.
std::wstring WideName(const std::string& path) {
    const auto wide = Utf8ToUtf16(path);
    if (!wide)
        return {};
    return {wide->begin(), wide->end()};
}

std::string Utf8Of(const std::wstring& wide) {
    const auto utf8 = Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
    return utf8 ? *utf8 : std::string();
}

} // namespace

std::string TempFolder() {
    std::wstring wide(MAX_PATH + 2, L'\0');
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(wide.size()), wide.data());
    if (length == 0 || length >= wide.size())
        return ".";
    wide.resize(length);
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/'))
        wide.pop_back();
    return Utf8Of(wide);
}

bool GetEnvironment(const std::string& name, std::string& value) {
    const std::wstring wide = WideName(name);
    if (wide.empty())
        return false;
    const DWORD needed = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (needed == 0)
        return false; // not set (an empty value still needs room for its end)
    std::wstring text(needed, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(wide.c_str(), text.data(), needed);
    if (length >= needed)
        return false;
    text.resize(length);
    value = Utf8Of(text);
    return true;
}

namespace {

// One argument as the C runtime of the started program splits its command line back.
std::wstring QuotedArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, L'\\');
    return quoted + L'"';
}

} // namespace

StartOutcome StartProgram(const std::vector<std::string>& words, ProcessHandle& process) {
    if (words.empty() || words[0].empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return StartOutcome::NotFound;
    }
    std::wstring line;
    for (const std::string& word : words) {
        const auto wide = Utf8ToUtf16(word);
        if (!wide) {
            ::SetLastError(ERROR_INVALID_NAME);
            return StartOutcome::Failed;
        }
        if (!line.empty())
            line += L' ';
        line += QuotedArgument(std::wstring(wide->begin(), wide->end()));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // No application name: the system finds the first word as it finds commands.
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? StartOutcome::NotFound
                   : StartOutcome::Failed;
    }
    ::CloseHandle(info.hThread);
    process = reinterpret_cast<ProcessHandle>(info.hProcess);
    return StartOutcome::Started;
}

StartOutcome OpenWithDefaultApplication(const std::string& path, ProcessHandle& process,
                                        std::string& opener) {
    opener = "the default application";
    process = kNoProcess;
    const std::wstring wide = WideName(path);
    if (wide.empty()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return StartOutcome::Failed;
    }
    // Some handlers of the file association are COM objects; a thread that has COM already
    // keeps it as it is.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    request.lpFile = wide.c_str();
    request.nShow = SW_SHOWNORMAL;
    const BOOL opened = ::ShellExecuteExW(&request);
    const DWORD error = ::GetLastError();
    if (SUCCEEDED(com))
        ::CoUninitialize();
    if (!opened) {
        ::SetLastError(error);
        return error == ERROR_NO_ASSOCIATION ? StartOutcome::NoApplication : StartOutcome::Failed;
    }
    // The file is handed on; the application's own end does not end the editing.
    if (request.hProcess)
        ::CloseHandle(request.hProcess);
    return StartOutcome::Started;
}

bool ProcessEnded(ProcessHandle process, int milliseconds, int& status) {
    const HANDLE handle = Handle(process);
    if (::WaitForSingleObject(handle, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    status = ::GetExitCodeProcess(handle, &code) ? static_cast<int>(code) : 0;
    ::CloseHandle(handle);
    return true;
}

void ReleaseProcess(ProcessHandle process) {
    if (process != kNoProcess)
        ::CloseHandle(Handle(process));
}

bool ProcessRunning(std::uint64_t number) {
    const HANDLE handle = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(number));
    if (!handle)
        return ::GetLastError() == ERROR_ACCESS_DENIED; // another user's, running
    const bool running = ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    ::CloseHandle(handle);
    return running;
}

namespace {

// The console's requests arrive on a thread of their own, so the list is guarded.
constexpr int kRemoveSlots = 64;
std::mutex removeGuard;
std::wstring toRemove[kRemoveSlots];
bool used[kRemoveSlots] = {};
// From the commit point on, a request is kept back (see HoldTerminationRequests).
bool holding = false;
bool held = false;

// Called with removeGuard locked; it stays locked until the process ends.
void EndNow() {
    for (int k = 0; k < kRemoveSlots; ++k)
        if (used[k])
            ::DeleteFileW(toRemove[k].c_str());
    ::ExitProcess(130);
}

BOOL WINAPI OnEndRequest(DWORD) {
    removeGuard.lock(); // held until the process ends: nothing more is registered
    if (holding) {
        held = true;
        removeGuard.unlock();
        return TRUE;
    }
    EndNow();
    return TRUE;
}

} // namespace

int RemoveOnTermination(const std::string& path) {
    const std::wstring wide = WideName(path);
    if (wide.empty())
        return -1;
    const std::lock_guard<std::mutex> hold(removeGuard);
    for (int k = 0; k < kRemoveSlots; ++k) {
        if (!used[k]) {
            toRemove[k] = wide;
            used[k] = true;
            return k;
        }
    }
    return -1;
}

void DropRemoveOnTermination(int token) {
    if (token < 0 || token >= kRemoveSlots)
        return;
    const std::lock_guard<std::mutex> hold(removeGuard);
    used[token] = false;
    toRemove[token].clear();
}

void HoldTerminationRequests() {
    const std::lock_guard<std::mutex> hold(removeGuard);
    holding = true;
}

void ReleaseTerminationRequests() {
    removeGuard.lock();
    holding = false;
    if (held)
        EndNow();
    removeGuard.unlock();
}

void EndOnTerminationRequests() {
    ::SetConsoleCtrlHandler(OnEndRequest, TRUE);
}

} // namespace kiv::platform
