#include "platform/MessageServices.h"

#include "platform/MessageTargets.h"

#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace platform {

struct TThread::TImpl {
    const DWORD Id = NewTargetNumber();
    const THandle Finished = CreateEvent(true, false);
    // Held by Resume while it stores the thread, and by priority changes, so the new
    // thread neither sees a half-stored std::thread nor a half-applied priority.
    std::mutex Lock;
    std::thread Worker;
    bool FreeOnTerminate = false;
    TThreadPriority Priority = TThreadPriority::tpNormal;
    pid_t KernelId = 0; // 0 until the thread runs
    int NormalNice = 0;

    void ApplyPriority() {
        if (KernelId == 0)
            return;
        int Nice = NormalNice - (Priority == TThreadPriority::tpHigher ? 1 : 0);
        // Raising needs a privilege the process may lack; the thread then runs at
        // normal priority, which is all that is lost.
        setpriority(PRIO_PROCESS, static_cast<id_t>(KernelId), Nice);
    }
};

TThread::TThread() : FImpl(std::make_unique<TImpl>()) {}

TThread::~TThread() {
    if (!FImpl->Worker.joinable())
        return;
    if (FImpl->Worker.get_id() == std::this_thread::get_id())
        FImpl->Worker.detach(); // freed by its own thread on termination
    else
        FImpl->Worker.join();
}

void TThread::Resume() {
    std::lock_guard Guard(FImpl->Lock);
    if (FImpl->Worker.joinable())
        return;
    FImpl->Worker = std::thread([this] {
        {
            std::lock_guard Started(FImpl->Lock);
            FImpl->KernelId = gettid();
            FImpl->NormalNice = getpriority(PRIO_PROCESS, 0);
            FImpl->ApplyPriority();
        }
        AdoptThreadNumber(FImpl->Id);
        try {
            Execute();
        } catch (...) {
            HandleException(nullptr, std::current_exception());
        }
        // The end is signalled only after a self-freeing thread is gone, so whoever
        // waits for it may rely on the destructor having run.
        THandle Finished = FImpl->Finished;
        bool FreeItself;
        {
            std::lock_guard Guard(FImpl->Lock);
            FreeItself = FImpl->FreeOnTerminate;
        }
        if (FreeItself)
            delete this;
        SetEvent(Finished);
    });
}

void TThread::SetFreeOnTerminate(bool Value) {
    std::lock_guard Guard(FImpl->Lock);
    FImpl->FreeOnTerminate = Value;
}

void TThread::SetPriority(TThreadPriority Value) {
    std::lock_guard Guard(FImpl->Lock);
    FImpl->Priority = Value;
    FImpl->ApplyPriority();
}

DWORD TThread::ThreadID() const {
    return FImpl->Id;
}

THandle TThread::Handle() const {
    return FImpl->Finished;
}

} // namespace platform
