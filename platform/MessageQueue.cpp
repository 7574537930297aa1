#include "platform/MessageQueue.h"

namespace platform {

bool TMessageQueue::Post(const TMessage &Message) {
    {
        std::lock_guard Guard(FLock);
        if (FClosed)
            return false;
        FMessages.push_back(Message);
    }
    FArrived.notify_all();
    return true;
}

std::optional<TMessage> TMessageQueue::Peek() const {
    std::lock_guard Guard(FLock);
    if (FMessages.empty())
        return std::nullopt;
    return FMessages.front();
}

std::optional<TMessage> TMessageQueue::TryTake() {
    std::lock_guard Guard(FLock);
    return TakeFrontLocked();
}

std::optional<TMessage> TMessageQueue::Take(TDeadline Deadline) {
    std::unique_lock Guard(FLock);
    auto Ready = [this] { return FClosed || !FMessages.empty(); };
    if (Deadline)
        FArrived.wait_until(Guard, *Deadline, Ready);
    else
        FArrived.wait(Guard, Ready);
    return TakeFrontLocked();
}

TMessageQueue::TDeadline DeadlineAfter(DWORD TimeoutMs) {
    if (TimeoutMs == INFINITE)
        return std::nullopt;
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
}

void TMessageQueue::Close() {
    {
        std::lock_guard Guard(FLock);
        FClosed = true;
        FMessages.clear();
    }
    FArrived.notify_all();
}

std::optional<TMessage> TMessageQueue::TakeFrontLocked() {
    if (FMessages.empty())
        return std::nullopt;
    TMessage Front = FMessages.front();
    FMessages.pop_front();
    return Front;
}

} // namespace platform
