#pragma once

// The first termination signal (TTerminationSignals) turned into a call on the event
// loop of the thread that creates the notifier, so that the program ends the way a
// polite close does.

#include "platform/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>

namespace platform {

class TTerminationNotifier : public QObject {
public:
    // Called once, with the signal's number.
    using TSignalEvent = std::function<void(int Signal)>;

    explicit TTerminationNotifier(TSignalEvent OnSignal);

private:
    TTerminationSignals FSignals{TWaitingCalls::Restart};
    QSocketNotifier FNotifier;
};

} // namespace platform
