#include "tools/StopSignals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t Requested = 0;

void RequestStop(int) {
    Requested = 1;
}

} // namespace

void CatchStopSignals() {
    struct sigaction Action {};
    Action.sa_handler = RequestStop;
    sigemptyset(&Action.sa_mask);
    // No SA_RESTART: a read waiting for input returns with EINTR.
    Action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
}

bool StopRequested() {
    return Requested != 0;
}
