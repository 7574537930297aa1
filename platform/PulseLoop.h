#pragma once

// What runs libpulse's events for one connection to the sound server: a thread of its
// own, or the Qt event loop of the thread that opened the connection. On the event loop
// the server's audio wakes only the thread that handles it, once per fragment, instead
// of a main-loop thread that then wakes the handling thread.

#include <pulse/mainloop-api.h>

#include <memory>

namespace platform {

class TPulseLoop {
public:
    virtual ~TPulseLoop() = default;

    // The event loop of the calling thread where it asked for it (HandleSoundServerHere),
    // otherwise a thread of its own.
    static std::unique_ptr<TPulseLoop> ForCallingThread();

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

// Connections opened afterwards on the calling thread run on its Qt event loop (or,
// with false, again on threads of their own). Only for a thread that runs that loop
// whenever it waits (a program's main thread): one that waits for notifications
// otherwise would never receive audio.
void HandleSoundServerHere(bool Here = true);

} // namespace platform
