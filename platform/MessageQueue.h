#pragma once

#include "platform/MessageServices.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace platform {

// A first-in, first-out queue of messages that any thread may post to and the owner
// takes from. Once closed it refuses posts and holds nothing, and a blocked taker
// returns empty-handed.
class TMessageQueue {
public:
    // No deadline: wait as long as it takes.
    using TDeadline = std::optional<std::chrono::steady_clock::time_point>;

    bool Post(const TMessage &Message);
    std::optional<TMessage> Peek() const;
    std::optional<TMessage> TryTake();
    // Blocks until a message is there, the queue is closed or the deadline (if any)
    // has passed.
    std::optional<TMessage> Take(TDeadline Deadline);
    void Close();

private:
    std::optional<TMessage> TakeFrontLocked();

    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TMessage> FMessages;
    bool FClosed = false;
};

// The deadline a time-out in milliseconds sets from now; INFINITE sets none.
TMessageQueue::TDeadline DeadlineAfter(DWORD TimeoutMs);

} // namespace platform
