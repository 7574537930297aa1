#include "platform/MessageServices.h"

#include "platform/MessageTargets.h"
#include "platform/MessageWait.h"

#include <mutex>

namespace platform {
namespace {

TMessage MakeMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    TMessage Message;
    Message.Msg = Msg;
    Message.WParam = WParam;
    Message.LParam = LParam;
    return Message;
}

std::mutex ExceptionHandlerLock;
TExceptionHandler ExceptionHandler;

} // namespace

DWORD GetCurrentThreadId() {
    return CurrentThreadNumber();
}

bool PostThreadMessage(DWORD ThreadId, UINT Msg, WPARAM WParam, LPARAM LParam) {
    return PostToThread(ThreadId, MakeMessage(Msg, WParam, LParam));
}

bool PeekMessage(TMessage &Message, bool Remove) {
    TMessageQueue &Queue = CurrentThreadQueue();
    std::optional<TMessage> Next = Remove ? Queue.TryTake() : Queue.Peek();
    if (!Next)
        return false;
    Message = *Next;
    return true;
}

bool GetMessage(TMessage &Message) {
    // The queue is only closed when its thread ends, so this always gets a message.
    Message = CurrentThreadQueue().Take(std::nullopt).value_or(MakeMessage(WM_QUIT, 0, 0));
    return Message.Msg != WM_QUIT;
}

DWORD AllocateHWnd(TWndMethod Method) {
    return CreateHiddenWindow(std::move(Method));
}

void DeallocateHWnd(DWORD Wnd) {
    DestroyHiddenWindow(Wnd);
}

bool PostMessage(DWORD Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    return PostToWindow(Wnd, MakeMessage(Msg, WParam, LParam));
}

bool PumpWindowMessage(DWORD Wnd, DWORD TimeoutMs) {
    return PumpWindow(Wnd, DeadlineAfter(TimeoutMs));
}

bool PostCallbackMessage(DWORD_PTR Callback, DWORD CallbackType, UINT Msg, LPARAM Param) {
    if (Callback > 0xFFFFFFFFu)
        return false;
    auto Target = static_cast<DWORD>(Callback);
    switch (CallbackType) {
    case CALLBACK_WINDOW:
        return PostMessage(Target, Msg, 0, Param);
    case CALLBACK_THREAD:
        return PostThreadMessage(Target, Msg, 0, Param);
    default:
        return false;
    }
}

THandle CreateEvent(bool ManualReset, bool InitialState) {
    return std::make_shared<TWaitable>(ManualReset, InitialState);
}

void SetEvent(const THandle &Handle) {
    if (Handle)
        Handle->Set();
}

void ResetEvent(const THandle &Handle) {
    if (Handle)
        Handle->Reset();
}

DWORD WaitForHandleWithMessages(const THandle &Handle, DWORD TimeoutMs) {
    if (!Handle)
        return WAIT_FAILED;
    return WaitWithMessages(*Handle, TimeoutMs);
}

TExceptionHandler SetExceptionHandler(TExceptionHandler Handler) {
    std::lock_guard Guard(ExceptionHandlerLock);
    std::swap(ExceptionHandler, Handler);
    return Handler;
}

void HandleException(TObject *Sender, std::exception_ptr Error) {
    if (!Error)
        return;
    TExceptionHandler Handler;
    {
        std::lock_guard Guard(ExceptionHandlerLock);
        Handler = ExceptionHandler;
    }
    if (!Handler)
        return;
    try {
        Handler(Sender, Error);
    } catch (...) {
        // The last resort has nowhere further to report to.
    }
}

} // namespace platform
