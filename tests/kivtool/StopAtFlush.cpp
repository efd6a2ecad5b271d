// Loaded into a kivtool run (LD_PRELOAD) with KIV_STOP_AT_FLUSH set, it stops the process
// with SIGSTOP at its first flush of a regular file to the disk: the temporary file is
// complete and locked, the inputs are about to be checked and the rename is still to come.
// With KIV_STOP_AFTER_RENAME set instead, it stops the process right after its first rename
// of a temporary file into place: the new output is in place and nothing else has happened.
// A test then starts another run, changes an input or sends a signal, and lets the stopped
// run go on with SIGCONT, so runs overlap exactly where it matters, with no timing.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

extern "C" int fsync(int fd) {
    static bool stopped = false;
    struct stat st {};
    if (!stopped && std::getenv("KIV_STOP_AT_FLUSH") && ::fstat(fd, &st) == 0 &&
        S_ISREG(st.st_mode)) {
        stopped = true;
        ::raise(SIGSTOP);
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    static bool stopped = false;
    const int result = real(from, to);
    if (!stopped && result == 0 && std::getenv("KIV_STOP_AFTER_RENAME") &&
        std::strstr(from, ".kiv-") != nullptr) {
        stopped = true;
        ::raise(SIGSTOP);
    }
    return result;
}
