#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {
namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the current watcher's pipe: all a signal handler may touch.
volatile std::sig_atomic_t SignalPipe = -1;

void NoteSignal(int Signal) {
    const int SavedErrno = errno;
    const unsigned char Byte = static_cast<unsigned char>(Signal);
    [[maybe_unused]] ssize_t Written = write(SignalPipe, &Byte, 1);
    errno = SavedErrno;
}

} // namespace

TTerminationSignals::TTerminationSignals(TSignalEvent OnSignal) : FOnSignal(std::move(OnSignal)) {
    if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    SignalPipe = FPipe[1];
    FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadSignals(); });
    struct sigaction Action {};
    Action.sa_handler = NoteSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Index = 0; Index < 3; ++Index)
        sigaction(Signals[Index], &Action, &FPrevious[Index]);
}

TTerminationSignals::~TTerminationSignals() {
    for (int Index = 0; Index < 3; ++Index)
        sigaction(Signals[Index], &FPrevious[Index], nullptr);
    SignalPipe = -1;
    FNotifier.reset();
    close(FPipe[0]);
    close(FPipe[1]);
}

void TTerminationSignals::ReadSignals() {
    unsigned char Byte = 0;
    while (read(FPipe[0], &Byte, 1) == 1)
        if (FOnSignal)
            FOnSignal(Byte);
}

} // namespace platform
