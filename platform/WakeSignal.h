#pragma once

// The wake-up of a thread that waits in poll: raised from any thread, cleared by the
// thread that wakes.

namespace platform {

class TWakeSignal {
public:
    TWakeSignal();
    ~TWakeSignal();
    TWakeSignal(const TWakeSignal &) = delete;
    TWakeSignal &operator=(const TWakeSignal &) = delete;

    // Readable while raised.
    int Fd() const { return FFd; }
    void Raise() const;
    void Clear() const;

private:
    int FFd;
};

} // namespace platform
