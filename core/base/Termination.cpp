#include "base/Termination.h"

#include <csignal>

namespace kiv {

namespace {

volatile std::sig_atomic_t requested = 0;

extern "C" void OnTerminationRequest(int) {
    requested = 1;
}

} // namespace

void CatchTerminationRequests() {
#ifdef _WIN32
    std::signal(SIGINT, OnTerminationRequest);
    std::signal(SIGTERM, OnTerminationRequest);
#else
    struct sigaction action = {};
    action.sa_handler = OnTerminationRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A parent may start us with the requests blocked so that none is lost before this point.
    sigset_t requests;
    sigemptyset(&requests);
    sigaddset(&requests, SIGTERM);
    sigaddset(&requests, SIGINT);
    sigprocmask(SIG_UNBLOCK, &requests, nullptr);
#endif
}

bool TerminationRequested() {
    return requested != 0;
}

} // namespace kiv
