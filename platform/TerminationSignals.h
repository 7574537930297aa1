#pragma once

// SIGTERM, SIGINT and SIGHUP (a session ending, `systemctl stop`, `kill`, Ctrl+C, a
// closed terminal), the same for every program: the first asks for a polite end (the
// program finishes what it holds, a message being received included, and exits with
// status 0); a second one while that end is under way ends the process at once, as the
// signal's default would (the shell sees 128 + its number). The handler only notes the
// first signal and writes a byte to a pipe, which an event loop can watch
// (TTerminationNotifier); a loop without one asks Received() between its steps.
// One watcher at a time; the signals' earlier dispositions come back when it goes.

#include <csignal>

namespace platform {

// What a system call that waits (a read of a pipe, say) does when a signal arrives:
// goes on waiting, or returns with EINTR so that its caller sees the request at once.
enum class TWaitingCalls { Restart, Interrupt };

class TTerminationSignals {
public:
    explicit TTerminationSignals(TWaitingCalls WaitingCalls);
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals &) = delete;
    TTerminationSignals &operator=(const TTerminationSignals &) = delete;

    // The first signal's number once one has arrived, otherwise 0.
    int Received() const;
    // Readable from the first signal on.
    int Descriptor() const { return FPipe[0]; }

private:
    int FPipe[2] = {-1, -1};
    struct sigaction FPrevious[3];
};

} // namespace platform
