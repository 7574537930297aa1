#pragma once

#include "platform/MessageQueue.h"

#include <functional>
#include <vector>

namespace platform {

// What a THandle points to: an event that is signalled or not. A manual-reset event
// stays signalled until reset and releases every waiter; an auto-reset event
// releases one waiter and resets itself. A thread's end is a manual-reset event.
class TWaitable {
public:
    // Called, under the event's lock, each time the event becomes signalled; it must
    // only wake its waiter, never touch the event.
    using TWaker = std::function<void()>;

    TWaitable(bool ManualReset, bool Signalled);

    void Set();
    void Reset();
    // True when signalled; takes the signal of an auto-reset event.
    bool TryAcquire();
    // Blocks until acquired (true) or until the deadline (if any) has passed.
    bool WaitFor(TMessageQueue::TDeadline Deadline);

    void AddWaker(const TWaker *Waker);
    void RemoveWaker(const TWaker *Waker);

private:
    bool AcquireLocked();

    std::mutex FLock;
    std::condition_variable FSignalled;
    const bool FManualReset;
    bool FState;
    std::vector<const TWaker *> FWakers;
};

// Keeps a waker registered with an event for as long as it lives.
class TWakerRegistration {
public:
    TWakerRegistration(TWaitable &Event, TWaitable::TWaker Waker);
    ~TWakerRegistration();
    TWakerRegistration(const TWakerRegistration &) = delete;
    TWakerRegistration &operator=(const TWakerRegistration &) = delete;

private:
    TWaitable &FEvent;
    const TWaitable::TWaker FWaker;
};

} // namespace platform
