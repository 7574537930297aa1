#include "tools/StopSignalNotifier.h"

#include "tools/ToolMain.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

int SignalPipe[2] = {-1, -1};

void SignalArrived(int) {
    const int SavedErrno = errno;
    const char Byte = 1;
    [[maybe_unused]] auto Written = write(SignalPipe[1], &Byte, 1);
    errno = SavedErrno;
}

void Install(int Signal, void (*Handler)(int)) {
    struct sigaction Action {};
    Action.sa_handler = Handler;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    sigaction(Signal, &Action, nullptr);
}

} // namespace

TStopSignalNotifier::TStopSignalNotifier(std::function<void()> OnStop)
    : FOnStop(std::move(OnStop)) {
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EToolError(std::string("cannot watch for signals: ") + std::strerror(errno));
    FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char Bytes[16];
        while (read(SignalPipe[0], Bytes, sizeof Bytes) > 0) {
        }
        if (!FStopping) {
            FStopping = true;
            FOnStop();
        }
    });
    Install(SIGTERM, SignalArrived);
    Install(SIGINT, SignalArrived);
}

TStopSignalNotifier::~TStopSignalNotifier() {
    Install(SIGTERM, SIG_DFL);
    Install(SIGINT, SIG_DFL);
    close(SignalPipe[0]);
    close(SignalPipe[1]);
}
