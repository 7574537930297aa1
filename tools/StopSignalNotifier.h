#pragma once

// SIGTERM and SIGINT as a request to stop, handled on the event loop's thread: the
// signal handler only writes to a pipe that the loop watches.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TStopSignalNotifier : public QObject {
public:
    // Installs the handlers; OnStop runs once, from the event loop, at the first signal.
    explicit TStopSignalNotifier(std::function<void()> OnStop);
    ~TStopSignalNotifier() override;

private:
    std::function<void()> FOnStop;
    QSocketNotifier *FNotifier;
    bool FStopping = false;
};
