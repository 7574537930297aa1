#pragma once

// The message services the engine is written against, with the guarantees of the
// Windows calls they stand for, built on Qt's event loop:
//  - every thread may have one message queue; a thread gets it on its first queue
//    call (PeekMessage, GetMessage, WaitForHandleWithMessages) or when it allocates a
//    hidden window; posting to a thread without one is refused;
//  - a hidden window belongs to the thread that allocated it; what is posted to it
//    is handled on that thread, one message at a time, in the order posted, from
//    that thread's Qt event loop or from a pump of this unit; posting never runs the
//    window procedure on the poster's thread;
//  - WM_QUIT posted to a thread ends its GetMessage loop; posted to the application
//    object's thread, it ends the innermost WaitForHandleWithMessages running there,
//    or else the application's event loop (QCoreApplication::quit).
// Hidden windows and the wait with messages need a thread that runs a Qt event loop:
// the application object's thread, a QThread, or any thread once the application
// object exists.
// Window handles and thread identifiers are non-zero 32-bit values.

#include "platform/Component.h"
#include "platform/WinTypes.h"

#include <exception>
#include <functional>
#include <memory>

namespace platform {

constexpr UINT WM_QUIT = 0x0012;

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LPARAM Result = 0;
};

// Threads.
DWORD GetCurrentThreadId();
bool PostThreadMessage(DWORD ThreadId, UINT Msg, WPARAM WParam, LPARAM LParam);
// Takes the next message of the calling thread's queue without blocking; false when
// there is none. With Remove false the message stays queued.
bool PeekMessage(TMessage &Message, bool Remove);
// Blocks until the calling thread's queue has a message; false when it is WM_QUIT.
bool GetMessage(TMessage &Message);

// Hidden utility windows ("AllocateHWnd"). A window may be deallocated from inside
// one of its own messages; what is still queued for it is dropped.
using TWndMethod = std::function<void(TMessage &Message)>;
DWORD AllocateHWnd(TWndMethod Method);
void DeallocateHWnd(DWORD Wnd);
// False when the window does not exist.
bool PostMessage(DWORD Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
// Dispatches the next message queued for the window, waiting up to TimeoutMs for one
// to arrive (never spinning). Returns false when none came in time. Must be called on
// the window's thread: elsewhere it returns false at once. Exceptions escaping the
// window method go to HandleException, whichever way the message was dispatched.
bool PumpWindowMessage(DWORD Wnd, DWORD TimeoutMs);

// Where a device posts its notifications: a hidden window (CALLBACK_WINDOW) or a
// thread's queue (CALLBACK_THREAD). False when the target does not exist.
bool PostCallbackMessage(DWORD_PTR Callback, DWORD CallbackType, UINT Msg, LPARAM Param);

// Waitable handles: a manual- or auto-reset event, or a thread's end.
class TWaitable;
using THandle = std::shared_ptr<TWaitable>;
THandle CreateEvent(bool ManualReset, bool InitialState);
void SetEvent(const THandle &Handle);
void ResetEvent(const THandle &Handle);

// The class library's thread class: created suspended, started by Resume; the thread
// gets an identifier for posting and a handle that is signalled when it ends (after a
// self-freeing thread has been deleted). An exception escaping Execute goes to
// HandleException. The destructor waits for a running Execute; a derived class whose
// Execute uses its own members must see it ended (Handle) before they go.
class TThread {
public:
    enum class TThreadPriority { tpNormal, tpHigher };

    TThread();
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    void Resume();
    // The thread object deletes itself when Execute returns.
    void SetFreeOnTerminate(bool Value);
    void SetPriority(TThreadPriority Value);
    DWORD ThreadID() const;
    THandle Handle() const;

protected:
    virtual void Execute() = 0;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Waits for the handle while the calling thread's posted messages, timers and
// paint go on being handled; keyboard and mouse input meanwhile is thrown away. A
// WM_QUIT posted to the thread ends the wait and is consumed. Returns WAIT_OBJECT_0,
// WAIT_TIMEOUT, WAIT_FAILED, or WAIT_OBJECT_0 + 1 after a WM_QUIT. TimeoutMs is
// INFINITE for no time-out. Without an application object it is a plain wait.
DWORD WaitForHandleWithMessages(const THandle &Handle, DWORD TimeoutMs);

// The application's central exception handler ("HandleException"): every exception
// that escapes the handling of a message or notification goes there. It may be called
// on any thread (a callback thread runs device notifications, a TThread may raise in
// Execute), so a handler that shows a message box must take it to the main thread
// itself. Without a handler exceptions are dropped silently; an exception from the
// handler itself goes no further.
using TExceptionHandler = std::function<void(TObject *Sender, std::exception_ptr Error)>;
// Installs a handler and returns the one it replaces.
TExceptionHandler SetExceptionHandler(TExceptionHandler Handler);
void HandleException(TObject *Sender, std::exception_ptr Error = std::current_exception());

} // namespace platform
