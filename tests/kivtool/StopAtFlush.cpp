// Loaded into a kivtool run (LD_PRELOAD) with KIV_STOP_AT_FLUSH set, it stops the process
// with SIGSTOP at its first flush of a regular file to the disk: the temporary file is
// complete and locked, the inputs are about to be checked and the rename is still to come.
// A test then starts another run, changes an input or sends a signal, and lets the stopped
// run go on with SIGCONT, so runs overlap exactly where it matters, with no timing.

#include <csignal>
#include <cstdlib>
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
