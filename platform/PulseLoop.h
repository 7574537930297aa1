#pragma once

// What runs libpulse's events for one connection to the sound server: a thread of its
// own, or the Qt event loop of the thread that opened the connection. On the event loop
// the server's audio wakes only the thread that handles it, once per fragment, instead
// of a main-loop thread that then wakes the handling thread.

#include <pulse/mainloop-api.h>

#include <memory>
#include <optional>
#include <thread>

namespace platform {

class TPulseLoop {
public:
    virtual ~TPulseLoop() = default;

    virtual pa_mainloop_api *Api() = 0;
    // Events are handled from here on, until Stop.
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    // Anything that touches the connection holds the lock.
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // Locked: lets events be handled until something may have changed (a Signal, or
    // one round of events). A time event bounds the wait.
    virtual void Wait() = 0;
    // From an event handler: a Wait may end.
    virtual void Signal() = 0;
};

// Where the connections of a sound-server input run their events: each on a thread of
// its own, or, for those opened on the thread that chose so once it runs a Qt event
// loop, on that loop. The event loop only for a thread that runs it whenever it waits
// (a program's main thread): one that waits for notifications otherwise would never
// receive audio. Connections opened on other threads still have threads of their own.
class TSoundServerLoop {
public:
    static TSoundServerLoop OwnThreads() { return TSoundServerLoop(std::nullopt); }
    static TSoundServerLoop ThisThreadsEventLoop() {
        return TSoundServerLoop(std::this_thread::get_id());
    }

    // The loop for a connection opened on the calling thread.
    std::unique_ptr<TPulseLoop> ForCallingThread() const;

private:
    explicit TSoundServerLoop(std::optional<std::thread::id> EventLoopThread)
        : FEventLoopThread(EventLoopThread) {}

    std::optional<std::thread::id> FEventLoopThread;
};

} // namespace platform
