#pragma once

// Where messages go: the queues of threads and the hidden windows, each known by a
// non-zero 32-bit number. Windows and threads draw from one series of numbers, so a
// thread identifier is never mistaken for a window handle.
//
// A thread that runs a Qt event loop gets a doorbell: a QObject living in that thread
// to which every post to one of the thread's targets also posts a Qt event. The
// doorbell's handler takes one message from the target's queue and handles it, so
// messages are handled from the thread's own event loop, in order, and a message that
// a pump took first is not handled twice.

#include "platform/MessageQueue.h"

class QObject;

namespace platform {

// True on the thread that runs the application object's event loop.
bool IsApplicationThread();

// The calling thread's identifier; numbered on first use.
DWORD CurrentThreadNumber();
// Gives the calling thread a number drawn before it started.
void AdoptThreadNumber(DWORD Number);
DWORD NewTargetNumber();

// The calling thread's queue, created and registered on first use.
TMessageQueue &CurrentThreadQueue();
bool PostToThread(DWORD ThreadId, const TMessage &Message);

// The calling thread's doorbell, created on first use; the thread must run a Qt
// event loop for its messages to be handled.
QObject &CurrentDoorbell();
// Posts a doorbell event that handles nothing: it only makes the thread's event loop
// return from waiting.
void Wake(QObject &Doorbell);

DWORD CreateHiddenWindow(TWndMethod Method);
void DestroyHiddenWindow(DWORD Wnd);
bool PostToWindow(DWORD Wnd, const TMessage &Message);
bool PumpWindow(DWORD Wnd, TMessageQueue::TDeadline Deadline);

// Marks a wait with messages that runs on the calling thread; while it lives, a
// WM_QUIT reaching the thread's doorbell ends the innermost such wait instead of the
// thread's event loop.
class TQuitWatch {
public:
    TQuitWatch();
    ~TQuitWatch();
    TQuitWatch(const TQuitWatch &) = delete;
    TQuitWatch &operator=(const TQuitWatch &) = delete;

    bool QuitReceived() const { return FQuitReceived; }
    void QuitArrived() { FQuitReceived = true; }

private:
    bool FQuitReceived = false;
};

} // namespace platform
