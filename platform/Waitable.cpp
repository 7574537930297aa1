#include "platform/Waitable.h"

#include <algorithm>

namespace platform {

TWaitable::TWaitable(bool ManualReset, bool Signalled)
    : FManualReset(ManualReset), FState(Signalled) {}

void TWaitable::Set() {
    {
        std::lock_guard Guard(FLock);
        FState = true;
        for (const TWaker *Waker : FWakers)
            (*Waker)();
    }
    FSignalled.notify_all();
}

void TWaitable::Reset() {
    std::lock_guard Guard(FLock);
    FState = false;
}

bool TWaitable::TryAcquire() {
    std::lock_guard Guard(FLock);
    return AcquireLocked();
}

bool TWaitable::WaitFor(TMessageQueue::TDeadline Deadline) {
    std::unique_lock Guard(FLock);
    auto Signalled = [this] { return FState; };
    if (Deadline)
        FSignalled.wait_until(Guard, *Deadline, Signalled);
    else
        FSignalled.wait(Guard, Signalled);
    return AcquireLocked();
}

void TWaitable::AddWaker(const TWaker *Waker) {
    std::lock_guard Guard(FLock);
    FWakers.push_back(Waker);
}

void TWaitable::RemoveWaker(const TWaker *Waker) {
    std::lock_guard Guard(FLock);
    FWakers.erase(std::remove(FWakers.begin(), FWakers.end(), Waker), FWakers.end());
}

bool TWaitable::AcquireLocked() {
    if (!FState)
        return false;
    if (!FManualReset)
        FState = false;
    return true;
}

TWakerRegistration::TWakerRegistration(TWaitable &Event, TWaitable::TWaker Waker)
    : FEvent(Event), FWaker(std::move(Waker)) {
    FEvent.AddWaker(&FWaker);
}

TWakerRegistration::~TWakerRegistration() {
    FEvent.RemoveWaker(&FWaker);
}

} // namespace platform
