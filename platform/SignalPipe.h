#pragma once

// Signals turned into bytes on a pipe, the one thing a signal handler can safely do:
// each arrival writes the signal's number, which an event loop can watch (a
// QSocketNotifier on Descriptor(), as TSignalNotifier does) or a loop without one can
// poll. One pipe per signal at a time; the signals' earlier dispositions come back when
// it goes.

#include <csignal>
#include <initializer_list>
#include <vector>

namespace platform {

// What a system call that waits (a read of a pipe, say) does when a signal arrives:
// goes on waiting, or returns with EINTR so that its caller sees the request at once.
enum class TWaitingCalls { Restart, Interrupt };

class TSignalPipe {
public:
    // Asked inside the handler whether this arrival is written; it may do only what a
    // handler may (lock-free atomics, write, raise).
    using TAdmit = bool (*)(int Signal);

    // Admit null: every arrival is written.
    TSignalPipe(std::initializer_list<int> Signals, TWaitingCalls WaitingCalls,
                TAdmit Admit = nullptr);
    ~TSignalPipe();
    TSignalPipe(const TSignalPipe &) = delete;
    TSignalPipe &operator=(const TSignalPipe &) = delete;

    // Readable while an arrival waits.
    int Descriptor() const { return FPipe[0]; }
    // The signals written since the last call, oldest first; never waits.
    std::vector<int> Take();

private:
    std::vector<int> FSignals;
    std::vector<struct sigaction> FPrevious;
    int FPipe[2] = {-1, -1};
};

} // namespace platform
