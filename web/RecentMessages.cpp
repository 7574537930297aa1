#include "web/RecentMessages.h"

#include <algorithm>

namespace {

bool Matches(const TListenedMessage &Message, const TMessageQuery &Query) {
    if (Message.Id <= Query.AfterId || (Query.BeforeId && Message.Id >= *Query.BeforeId))
        return false;
    if ((Query.Since && Message.Time < *Query.Since) ||
        (Query.Until && Message.Time > *Query.Until))
        return false;
    if (Query.IsSMS && Message.IsSMS != *Query.IsSMS)
        return false;
    return Message.Text.find(Query.Text) != TRxString::npos;
}

template <typename TIterator>
std::vector<TListenedMessage> Collect(TIterator First, TIterator Last, const TMessageQuery &Query) {
    std::vector<TListenedMessage> Found;
    for (; First != Last && Found.size() < Query.Limit; ++First)
        if (Matches(*First, Query))
            Found.push_back(*First);
    return Found;
}

} // namespace

TRecentMessages::TRecentMessages(std::size_t Capacity, std::int64_t LastId)
    : FCapacity(Capacity), FLastId(LastId) {}

std::int64_t TRecentMessages::LastIdNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t TRecentMessages::Add(TListenedMessage Message) {
    std::lock_guard Guard(FLock);
    if (Message.Id <= 0)
        Message.Id = FLastId + 1;
    FLastId = std::max(FLastId, Message.Id);
    if (FMessages.size() == FCapacity)
        FMessages.pop_front();
    FMessages.push_back(std::move(Message));
    return FMessages.back().Id;
}

std::vector<TListenedMessage> TRecentMessages::Find(const TMessageQuery &Query) const {
    std::lock_guard Guard(FLock);
    if (Query.OldestFirst)
        return Collect(FMessages.begin(), FMessages.end(), Query);
    return Collect(FMessages.rbegin(), FMessages.rend(), Query);
}
