#include "platform/SignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

namespace platform {
namespace {

// All a handler may touch (lock-free atomics): per signal the write end of its pipe and
// its admission, and how many handlers are running now, on any thread.
struct TSlot {
    std::atomic<int> Pipe{-1};
    std::atomic<TSignalPipe::TAdmit> Admit{nullptr};
};
TSlot Slots[NSIG];
std::atomic<int> RunningHandlers = 0;

void WriteSignal(int Signal) {
    const int SavedErrno = errno;
    ++RunningHandlers;
    const TSlot &Slot = Slots[Signal];
    const TSignalPipe::TAdmit Admit = Slot.Admit;
    if (!Admit || Admit(Signal)) {
        const int Pipe = Slot.Pipe;
        const unsigned char Byte = static_cast<unsigned char>(Signal);
        if (Pipe >= 0) {
            [[maybe_unused]] ssize_t Written = write(Pipe, &Byte, 1);
        }
    }
    --RunningHandlers;
    errno = SavedErrno;
}

} // namespace

TSignalPipe::TSignalPipe(std::initializer_list<int> Signals, TWaitingCalls WaitingCalls,
                         TAdmit Admit)
    : FSignals(Signals), FPrevious(Signals.size()) {
    if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    struct sigaction Action {};
    Action.sa_handler = WriteSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = WaitingCalls == TWaitingCalls::Restart ? SA_RESTART : 0;
    for (std::size_t Index = 0; Index < FSignals.size(); ++Index) {
        Slots[FSignals[Index]].Admit = Admit;
        Slots[FSignals[Index]].Pipe = FPipe[1];
        sigaction(FSignals[Index], &Action, &FPrevious[Index]);
    }
}

// Once the earlier dispositions are back no handler starts, but one that began before
// may still run on another thread. It counts itself before it reads the pipe, and this
// hides the pipe before it counts them: either it sees no pipe, or the pipe closes only
// after it has finished.
TSignalPipe::~TSignalPipe() {
    for (std::size_t Index = 0; Index < FSignals.size(); ++Index) {
        sigaction(FSignals[Index], &FPrevious[Index], nullptr);
        Slots[FSignals[Index]].Pipe = -1;
    }
    while (RunningHandlers != 0)
        std::this_thread::yield();
    close(FPipe[0]);
    close(FPipe[1]);
}

std::vector<int> TSignalPipe::Take() {
    std::vector<int> Taken;
    unsigned char Bytes[64];
    ssize_t Count;
    while ((Count = read(FPipe[0], Bytes, sizeof Bytes)) > 0)
        Taken.insert(Taken.end(), Bytes, Bytes + Count);
    return Taken;
}

} // namespace platform
