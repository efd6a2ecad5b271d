#pragma once
// Every call this tool makes into the operating system, in one place. The rest of the code
// (core, the windows, kivtool) uses only these functions and standard C++, so another
// system needs one more implementation file beside PlatformPosix.cpp and nothing else.
// Paths are UTF-8. No function here throws; failures come back as values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::platform {

// An open file: a descriptor here, a handle elsewhere.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

struct FileStatus {
    bool Regular = false;    // a plain file (links followed), not a folder, pipe or device
    std::uint32_t Links = 1; // the names the file has (hard links), where the system counts them
    std::uint32_t Mode = 0;  // permission bits, kept when a file is replaced
    std::int64_t Size = 0;
    std::uint64_t Device = 0;
    std::uint64_t Node = 0;    // with Device, names the file itself whatever path led to it
    std::int64_t Modified = 0; // the last change of its bytes, in nanoseconds
    std::uint32_t Owner = 0;   // user and group, where the system has them
    std::uint32_t Group = 0;
};

// The status of what `path` names (links followed); false when nothing is there.
bool StatusOf(const std::string& path, FileStatus& status);
bool StatusOf(FileHandle file, FileStatus& status);

// Opens a regular file for reading; kNoFile when it cannot be opened or is not a regular
// file. Never waits on a pipe that has no writer.
FileHandle OpenForReading(const std::string& path);

enum class CreateOutcome { Created, Exists, Failed };
// Creates `path` for writing, only if nothing is there yet, with permission bits `mode`
// (before the process's mask). On Created, `file` is the new file.
CreateOutcome CreateNew(const std::string& path, std::uint32_t mode, FileHandle& file);
// Gives an open file exactly these permission bits (no mask applied).
void SetMode(FileHandle file, std::uint32_t mode);
// Gives an open file this owner and group, or only the group when the process may not give
// the owner; nothing where files have no such owners or neither may be given.
void SetOwner(FileHandle file, std::uint32_t owner, std::uint32_t group);

// True when `path` itself is a symbolic link, and then `target` is what it points to as it
// is stored (relative to the link's folder unless absolute). Always false where links are
// not followed by this tool.
bool ReadLink(const std::string& path, std::string& target);
// The path with every link and "." or ".." resolved, when the whole path exists; empty
// otherwise.
std::string ResolvedPath(const std::string& path);

// True when `path` names a folder (links followed).
bool IsFolder(const std::string& path);
// Makes one folder; true also when it exists already.
bool MakeFolder(const std::string& path);
// The names of the entries of a folder, "." and ".." left out; false when it cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);

// Opens for reading what `path` itself names, never through a symbolic link and never
// waiting on a pipe: kNoFile unless it is a regular file.
FileHandle OpenEntryForReading(const std::string& path);

// An exclusive lock on a whole open file, taken without waiting: false while another open
// of the file (in this process or another) holds it. The lock lives until the file is
// closed, which the system does for a process however it ends.
bool TryLock(FileHandle file);
enum class LockFileOutcome { Opened, Busy, Failed };
// Opens the file at `path` to lock it, making an empty one when none is there. Busy: the
// name is taken by a lock file that is being removed; try again.
LockFileOutcome OpenLockFile(const std::string& path, FileHandle& file);
void SleepMilliseconds(int milliseconds);
// False when the system reports that earlier writes could not be completed.
bool Close(FileHandle file);
// Waits until the file's bytes are on the disk.
bool FlushToDisk(FileHandle file);
// Waits until the folder's entries (a name just renamed into it) are on the disk. False
// where that fails or the system cannot flush a folder.
bool FlushFolderToDisk(const std::string& folder);
// Puts `from` in the place of `to` in one step; `to` never exists half-written.
bool ReplaceFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

// Reads up to `count` bytes at `offset`. Returns how many were read: 0 at the end, -1 on
// an error. Interrupted calls are retried.
std::int64_t ReadAt(FileHandle file, std::int64_t offset, void* data, std::size_t count);
// Writes all bytes at the current end / at `offset`; false on an error or a full disk.
bool WriteAll(FileHandle file, const void* data, std::size_t count);
bool WriteAllAt(FileHandle file, std::int64_t offset, const void* data, std::size_t count);

// The kernel's copy of up to `count` bytes from `source` at `offset` to the current end of
// `target`, without passing them through this process. Returns how many were copied (0 when
// the source ended), -1 on an error, and kCopyUnsupported when this system or these files
// cannot be copied that way (the caller then reads and writes).
inline constexpr std::int64_t kCopyUnsupported = -2;
std::int64_t KernelCopy(FileHandle source, std::int64_t offset, FileHandle target,
                        std::int64_t count);

// Lets the system drop the file's pages from its memory cache; the file itself is not
// touched. Does nothing where the system offers no such request.
void DropCachedPages(const std::string& path);

// The system's own words for why the latest failed call failed ("No space left on
// device"); empty when it gave none.
std::string LastErrorText();

// A number that differs between processes running at the same time.
std::uint64_t ProcessNumber();

// Shell-style file-name matching: '*', '?' and bracket sets, over the whole name.
bool NameMatches(const std::string& pattern, const std::string& name);

// True when the standard error stream is shown on a terminal (not a file or a pipe).
bool ErrorStreamIsTerminal();

// What a path names itself, links not followed: a link is a Link whatever it points to.
enum class EntryKind { Missing, File, Folder, Link, Other };
struct EntryStatus {
    EntryKind Kind = EntryKind::Missing;
    bool Mine = false; // owned by the user this process runs as (always, where files have no owner)
};
EntryStatus EntryOf(const std::string& path);
// Makes a folder only this user may enter, only if nothing is there yet.
CreateOutcome MakeNewFolder(const std::string& path);
// Removes an empty folder.
bool RemoveFolder(const std::string& path);
// The system's folder for temporary files, without a trailing separator.
std::string TempFolder();

// The value of an environment variable; false when it is not set.
bool GetEnvironment(const std::string& name, std::string& value);

// A program this process started: a process id here, a process handle elsewhere.
using ProcessHandle = std::intptr_t;
inline constexpr ProcessHandle kNoProcess = -1;

enum class StartOutcome { Started, NotFound, NoApplication, Failed };
// Starts words[0] with the other words as its arguments, no shell between: no word is ever
// taken apart or expanded. A name without a folder is looked for as the system looks for
// commands (the PATH). The program shares this process's standard streams and folder.
// NotFound: no such program; Failed: it exists but cannot be started (LastErrorText says why).
StartOutcome StartProgram(const std::vector<std::string>& words, ProcessHandle& process);
// Hands `path` to the desktop's default application for its kind of file, as a double click
// in a file manager does. `process` is the opener to wait for where there is one (xdg-open:
// its exit status says whether it found an application), else kNoProcess; `opener` names it.
// NoApplication: the system knows no application for the file.
StartOutcome OpenWithDefaultApplication(const std::string& path, ProcessHandle& process,
                                        std::string& opener);
// True once the process has ended, waiting for that up to `milliseconds`; `status` is then its
// exit status (128 + the signal's number when a signal ended it). Each process is reported
// ended once; after that its handle is gone.
bool ProcessEnded(ProcessHandle process, int milliseconds, int& status);
// Lets go of a process that has not been reported ended; it goes on running on its own.
void ReleaseProcess(ProcessHandle process);
// True while the process with this number (ProcessNumber's) is running.
bool ProcessRunning(std::uint64_t number);

// Files removed if a termination request ends the process: each registered name until it
// is dropped again. Register returns a token for Drop, or -1 when the list is full.
int RemoveOnTermination(const std::string& path);
void DropRemoveOnTermination(int token);
// From now on an interrupt, a termination or a hang-up request (on Windows Ctrl+C,
// Ctrl+Break and closing the console) removes the registered files and ends the process
// with status 128 + the signal's number (130 on Windows).
void EndOnTerminationRequests();
// The commit point of an output: from a call of Hold on, a request that arrives is kept
// back instead of ending the process, so a run that has renamed its output into place
// finishes with its own status. Release acts on a request kept back meanwhile (and ends the
// process then), or lets later requests end it at once again.
void HoldTerminationRequests();
void ReleaseTerminationRequests();

} // namespace kiv::platform
