#include "platform/TerminationSignals.h"

#include <atomic>

namespace platform {
namespace {

// The first signal, as the handler notes it.
std::atomic<int> FirstSignal = 0;

// The signal's default disposition, raised again: it is blocked while its handler runs,
// and ends the process as soon as the handler returns.
void EndAtOnce(int Signal) {
    struct sigaction Default {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    sigaction(Signal, &Default, nullptr);
    raise(Signal);
}

// In the handler: only the first signal goes to the pipe.
bool AdmitFirst(int Signal) {
    int None = 0;
    if (FirstSignal.compare_exchange_strong(None, Signal))
        return true;
    EndAtOnce(Signal);
    return false;
}

// A new watcher has heard no signal yet.
TSignalPipe::TAdmit AdmitFirstFromNowOn() {
    FirstSignal = 0;
    return AdmitFirst;
}

} // namespace

TTerminationSignals::TTerminationSignals(TWaitingCalls WaitingCalls)
    : FPipe({SIGTERM, SIGINT, SIGHUP}, WaitingCalls, AdmitFirstFromNowOn()) {}

int TTerminationSignals::Received() const {
    return FirstSignal;
}

} // namespace platform
