#include "platform/MessageTargets.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <atomic>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

class TDoorbellEvent final : public QEvent {
public:
    enum class TTarget { Nothing, ThreadQueue, Window };

    TDoorbellEvent(TTarget Target, DWORD Wnd) : QEvent(Type()), FTarget(Target), FWnd(Wnd) {}
    static QEvent::Type Type() {
        static const auto Registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return Registered;
    }
    TTarget Target() const { return FTarget; }
    DWORD Wnd() const { return FWnd; }

private:
    TTarget FTarget;
    DWORD FWnd;
};

class TDoorbell final : public QObject {
public:
    bool event(QEvent *Event) override;
};

struct TThreadContext {
    explicit TThreadContext(DWORD AId) : Id(AId) {}
    const DWORD Id;
    TMessageQueue Queue;
    TDoorbell *Doorbell = nullptr; // written by the owner under the registry's lock
};
using PThreadContext = std::shared_ptr<TThreadContext>;

struct THiddenWindow {
    THiddenWindow(PThreadContext AOwner, TWndMethod AMethod)
        : Owner(std::move(AOwner)), Method(std::move(AMethod)) {}
    const PThreadContext Owner;
    const TWndMethod Method;
    TMessageQueue Queue;
};
using PHiddenWindow = std::shared_ptr<THiddenWindow>;

// Every live thread queue and window. Doorbell events are posted under its lock, so a
// doorbell is never posted to after its thread has deregistered and deleted it.
class TRegistry {
public:
    void AddThread(const PThreadContext &Context);
    void RemoveThread(const PThreadContext &Context);
    void SetDoorbell(TThreadContext &Context, TDoorbell *Doorbell);
    bool PostToThread(DWORD ThreadId, const TMessage &Message);

    void AddWindow(DWORD Wnd, const PHiddenWindow &Window);
    PHiddenWindow RemoveWindow(DWORD Wnd);
    PHiddenWindow FindWindow(DWORD Wnd);
    bool PostToWindow(DWORD Wnd, const TMessage &Message);

private:
    static void Ring(TDoorbell *Doorbell, TDoorbellEvent::TTarget Target, DWORD Wnd);

    std::mutex FLock;
    std::unordered_map<DWORD, PThreadContext> FThreads;
    std::unordered_map<DWORD, PHiddenWindow> FWindows;
};

TRegistry &Registry() {
    // Never destroyed: detached threads may still post while the process exits.
    static auto *Instance = new TRegistry;
    return *Instance;
}

void TRegistry::AddThread(const PThreadContext &Context) {
    std::lock_guard Guard(FLock);
    FThreads.emplace(Context->Id, Context);
}

void TRegistry::RemoveThread(const PThreadContext &Context) {
    std::vector<PHiddenWindow> Orphans;
    {
        std::lock_guard Guard(FLock);
        FThreads.erase(Context->Id);
        for (auto It = FWindows.begin(); It != FWindows.end();) {
            if (It->second->Owner == Context) {
                Orphans.push_back(It->second);
                It = FWindows.erase(It);
            } else
                ++It;
        }
        delete Context->Doorbell;
        Context->Doorbell = nullptr;
    }
    Context->Queue.Close();
    for (const PHiddenWindow &Window : Orphans)
        Window->Queue.Close();
}

void TRegistry::SetDoorbell(TThreadContext &Context, TDoorbell *Doorbell) {
    std::lock_guard Guard(FLock);
    Context.Doorbell = Doorbell;
}

bool TRegistry::PostToThread(DWORD ThreadId, const TMessage &Message) {
    std::lock_guard Guard(FLock);
    auto Found = FThreads.find(ThreadId);
    if (Found == FThreads.end() || !Found->second->Queue.Post(Message))
        return false;
    Ring(Found->second->Doorbell, TDoorbellEvent::TTarget::ThreadQueue, 0);
    return true;
}

void TRegistry::AddWindow(DWORD Wnd, const PHiddenWindow &Window) {
    std::lock_guard Guard(FLock);
    FWindows.emplace(Wnd, Window);
}

PHiddenWindow TRegistry::RemoveWindow(DWORD Wnd) {
    std::lock_guard Guard(FLock);
    auto Found = FWindows.find(Wnd);
    if (Found == FWindows.end())
        return nullptr;
    PHiddenWindow Window = Found->second;
    FWindows.erase(Found);
    return Window;
}

PHiddenWindow TRegistry::FindWindow(DWORD Wnd) {
    std::lock_guard Guard(FLock);
    auto Found = FWindows.find(Wnd);
    return Found == FWindows.end() ? nullptr : Found->second;
}

bool TRegistry::PostToWindow(DWORD Wnd, const TMessage &Message) {
    std::lock_guard Guard(FLock);
    auto Found = FWindows.find(Wnd);
    if (Found == FWindows.end() || !Found->second->Queue.Post(Message))
        return false;
    Ring(Found->second->Owner->Doorbell, TDoorbellEvent::TTarget::Window, Wnd);
    return true;
}

void TRegistry::Ring(TDoorbell *Doorbell, TDoorbellEvent::TTarget Target, DWORD Wnd) {
    if (Doorbell)
        QCoreApplication::postEvent(Doorbell, new TDoorbellEvent(Target, Wnd));
}

// Deregisters the thread's queue and windows when the thread ends.
class TThreadContextHolder {
public:
    ~TThreadContextHolder() {
        if (FContext)
            Registry().RemoveThread(FContext);
    }
    TThreadContext &Get() {
        if (!FContext) {
            FContext = std::make_shared<TThreadContext>(CurrentThreadNumber());
            Registry().AddThread(FContext);
            if (IsApplicationThread())
                CurrentDoorbell();
        }
        return *FContext;
    }
    const PThreadContext &Shared() {
        Get();
        return FContext;
    }

private:
    PThreadContext FContext;
};

thread_local TThreadContextHolder ThreadContext;
thread_local DWORD ThreadNumber = 0;
thread_local std::vector<TQuitWatch *> QuitWatches;

void DispatchWindowMessage(const THiddenWindow &Window, TMessage Message) {
    try {
        Window.Method(Message);
    } catch (...) {
        HandleException(nullptr, std::current_exception());
    }
}

void HandleNextWindowMessage(DWORD Wnd) {
    PHiddenWindow Window = Registry().FindWindow(Wnd);
    if (!Window)
        return;
    if (std::optional<TMessage> Message = Window->Queue.TryTake())
        DispatchWindowMessage(*Window, *Message);
}

void QuitEventLoop() {
    if (IsApplicationThread())
        QCoreApplication::quit();
    else
        QThread::currentThread()->quit();
}

// A thread message has no window to go to; only WM_QUIT means something here.
void HandleNextThreadMessage() {
    std::optional<TMessage> Message = CurrentThreadQueue().TryTake();
    if (!Message || Message->Msg != WM_QUIT)
        return;
    if (QuitWatches.empty())
        QuitEventLoop();
    else
        QuitWatches.back()->QuitArrived();
}

bool TDoorbell::event(QEvent *Event) {
    if (Event->type() != TDoorbellEvent::Type())
        return QObject::event(Event);
    auto *Ring = static_cast<TDoorbellEvent *>(Event);
    switch (Ring->Target()) {
    case TDoorbellEvent::TTarget::Window:
        HandleNextWindowMessage(Ring->Wnd());
        break;
    case TDoorbellEvent::TTarget::ThreadQueue:
        HandleNextThreadMessage();
        break;
    case TDoorbellEvent::TTarget::Nothing:
        break;
    }
    return true;
}

} // namespace

bool IsApplicationThread() {
    // The application object lives in the process's first thread, whose kernel
    // thread id is the process id.
    return QCoreApplication::instance() && gettid() == getpid();
}

DWORD NewTargetNumber() {
    static std::atomic<DWORD> Last{0};
    DWORD Number;
    do
        Number = ++Last;
    while (Number == 0);
    return Number;
}

DWORD CurrentThreadNumber() {
    if (ThreadNumber == 0)
        ThreadNumber = NewTargetNumber();
    return ThreadNumber;
}

void AdoptThreadNumber(DWORD Number) {
    ThreadNumber = Number;
}

TMessageQueue &CurrentThreadQueue() {
    return ThreadContext.Get().Queue;
}

bool PostToThread(DWORD ThreadId, const TMessage &Message) {
    return Registry().PostToThread(ThreadId, Message);
}

QObject &CurrentDoorbell() {
    TThreadContext &Context = ThreadContext.Get();
    if (!Context.Doorbell)
        Registry().SetDoorbell(Context, new TDoorbell);
    return *Context.Doorbell;
}

void Wake(QObject &Doorbell) {
    QCoreApplication::postEvent(&Doorbell, new TDoorbellEvent(TDoorbellEvent::TTarget::Nothing, 0));
}

DWORD CreateHiddenWindow(TWndMethod Method) {
    CurrentDoorbell();
    auto Window = std::make_shared<THiddenWindow>(ThreadContext.Shared(), std::move(Method));
    DWORD Wnd = NewTargetNumber();
    Registry().AddWindow(Wnd, Window);
    return Wnd;
}

void DestroyHiddenWindow(DWORD Wnd) {
    if (PHiddenWindow Window = Registry().RemoveWindow(Wnd))
        Window->Queue.Close();
}

bool PostToWindow(DWORD Wnd, const TMessage &Message) {
    return Registry().PostToWindow(Wnd, Message);
}

bool PumpWindow(DWORD Wnd, TMessageQueue::TDeadline Deadline) {
    PHiddenWindow Window = Registry().FindWindow(Wnd);
    if (!Window || Window->Owner != ThreadContext.Shared())
        return false;
    std::optional<TMessage> Message = Window->Queue.Take(Deadline);
    if (!Message)
        return false;
    DispatchWindowMessage(*Window, *Message);
    return true;
}

TQuitWatch::TQuitWatch() {
    QuitWatches.push_back(this);
}

TQuitWatch::~TQuitWatch() {
    QuitWatches.pop_back();
}

} // namespace platform
