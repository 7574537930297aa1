#pragma once

// SIGTERM, SIGINT and SIGHUP (a session ending, `systemctl stop`, `kill`, Ctrl+C, a
// closed terminal), the same for every program: the first asks for a polite end (the
// program finishes what it holds, a message being received included, and exits with
// status 0); a second one while that end is under way ends the process at once, as the
// signal's default would (the shell sees 128 + its number). The handler only notes the
// first signal and writes it to a pipe (TSignalPipe), which an event loop can watch
// (TTerminationNotifier); a loop without one asks Received() between its steps.
// One watcher at a time; the signals' earlier dispositions come back when it goes.

#include "platform/SignalPipe.h"

namespace platform {

class TTerminationSignals {
public:
    explicit TTerminationSignals(TWaitingCalls WaitingCalls);

    // The first signal's number once one has arrived, otherwise 0.
    int Received() const;
    // Readable from the first signal on.
    int Descriptor() const { return FPipe.Descriptor(); }

private:
    TSignalPipe FPipe;
};

} // namespace platform
