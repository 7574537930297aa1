#pragma once

// The newest messages, kept in memory: the history of a service without a store. A
// message without an id gets the next one (after LastId); one with an id (from the
// store) keeps it. Messages come from any thread; each call holds a lock for a copy at
// most.

#include "service/MessageHistory.h"

#include <deque>
#include <mutex>

class TRecentMessages : public IMessageHistory {
public:
    static constexpr std::size_t DefaultCapacity = 1000;

    explicit TRecentMessages(std::size_t Capacity = DefaultCapacity, std::int64_t LastId = 0);
    // A LastId above every id a run started earlier gave (the milliseconds since 1970: a
    // message takes longer than one), so that a page that reconnects to a restarted
    // service misses none of its messages.
    static std::int64_t LastIdNow();

    // Returns the message's id.
    std::int64_t Add(TListenedMessage Message);
    std::vector<TListenedMessage> Find(const TMessageQuery &Query) const override;

private:
    const std::size_t FCapacity;
    mutable std::mutex FLock;               // guards what follows
    std::deque<TListenedMessage> FMessages; // oldest first
    std::int64_t FLastId = 0;
};
