#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

namespace platform {
namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

// All a signal handler may touch (lock-free atomics): the first signal, the write end
// of the current watcher's pipe, and how many handlers are running now, on any thread.
std::atomic<int> FirstSignal = 0;
std::atomic<int> SignalPipe = -1;
std::atomic<int> RunningHandlers = 0;

// The signal's default disposition, raised again: it is blocked while its handler runs,
// and ends the process as soon as the handler returns.
void EndAtOnce(int Signal) {
    struct sigaction Default {};
    Default.sa_handler = SIG_DFL;
    sigemptyset(&Default.sa_mask);
    sigaction(Signal, &Default, nullptr);
    raise(Signal);
}

void NoteSignal(int Signal) {
    const int SavedErrno = errno;
    ++RunningHandlers;
    int None = 0;
    if (FirstSignal.compare_exchange_strong(None, Signal)) {
        const int Pipe = SignalPipe.load();
        const unsigned char Byte = static_cast<unsigned char>(Signal);
        if (Pipe >= 0) {
            [[maybe_unused]] ssize_t Written = write(Pipe, &Byte, 1);
        }
    } else {
        EndAtOnce(Signal);
    }
    --RunningHandlers;
    errno = SavedErrno;
}

} // namespace

TTerminationSignals::TTerminationSignals(TWaitingCalls WaitingCalls) {
    if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    FirstSignal = 0;
    SignalPipe = FPipe[1];
    struct sigaction Action {};
    Action.sa_handler = NoteSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = WaitingCalls == TWaitingCalls::Restart ? SA_RESTART : 0;
    for (int Index = 0; Index < 3; ++Index)
        sigaction(Signals[Index], &Action, &FPrevious[Index]);
}

// Once the earlier dispositions are back no handler starts, but one that began before
// may still run on another thread. It counts itself before it reads the pipe, and this
// hides the pipe before it counts them: either it sees no pipe, or the pipe closes only
// after it has finished.
TTerminationSignals::~TTerminationSignals() {
    for (int Index = 0; Index < 3; ++Index)
        sigaction(Signals[Index], &FPrevious[Index], nullptr);
    SignalPipe = -1;
    while (RunningHandlers != 0)
        std::this_thread::yield();
    close(FPipe[0]);
    close(FPipe[1]);
}

int TTerminationSignals::Received() const {
    return FirstSignal;
}

} // namespace platform
