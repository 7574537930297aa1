#pragma once

// SIGTERM, SIGINT and SIGHUP (a session ending, `systemctl stop`, `kill`, Ctrl+C, a
// closed terminal) turned into a call on the event loop of the thread that creates the
// watcher, so that the program ends the way a polite close does. The signal handler
// only writes a byte to a pipe; the work happens when the loop reads it.
// One watcher at a time; the signals' earlier dispositions come back when it goes.

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

namespace platform {

class TTerminationSignals : public QObject {
public:
    // Called once per signal that arrives, with its number.
    using TSignalEvent = std::function<void(int Signal)>;

    explicit TTerminationSignals(TSignalEvent OnSignal);
    ~TTerminationSignals() override;
    TTerminationSignals(const TTerminationSignals &) = delete;
    TTerminationSignals &operator=(const TTerminationSignals &) = delete;

private:
    void ReadSignals();

    TSignalEvent FOnSignal;
    int FPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FPrevious[3];
};

} // namespace platform
