#pragma once

// Signals that ask a running program for something (SIGUSR1: a summary) rather than
// end it: every arrival becomes a call on the event loop of the thread that creates the
// notifier. While it exists, the signals no longer end the process.

#include "platform/SignalPipe.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <initializer_list>

namespace platform {

class TSignalNotifier : public QObject {
public:
    // Called once per arrival, with the signal's number.
    using TSignalEvent = std::function<void(int Signal)>;

    TSignalNotifier(std::initializer_list<int> Signals, TSignalEvent OnSignal);

private:
    TSignalPipe FPipe;
    QSocketNotifier FNotifier;
};

} // namespace platform
