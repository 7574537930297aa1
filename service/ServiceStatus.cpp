#include "service/ServiceStatus.h"

namespace {

TStatusSnapshot::TTime Now() {
    return std::chrono::system_clock::now();
}

} // namespace

TServiceStatus::TServiceStatus() {
    FState.InputSince = Now();
}

void TServiceStatus::SetListening(bool Listening) {
    std::lock_guard Guard(FLock);
    FState.Listening = Listening;
    FState.InputSince = Now();
}

void TServiceStatus::UseBroker() {
    std::lock_guard Guard(FLock);
    FState.BrokerConnected = false;
    FState.BrokerSince = Now();
}

void TServiceStatus::SetBrokerConnected(bool Connected) {
    std::lock_guard Guard(FLock);
    FState.BrokerConnected = Connected;
    FState.BrokerSince = Now();
}

void TServiceStatus::Count(const TListenedMessage &Message) {
    std::lock_guard Guard(FLock);
    if (!Message.Headed)
        ++FState.Headerless;
    else if (Message.IsSMS)
        ++FState.Texts;
    else
        ++FState.Locations;
    if (Message.Headed && !Message.IsSMS)
        FState.LastLocation = Message;
    if (Message.Report) {
        FState.LevelDbfs = Message.Report->LevelDbfs;
        FState.SnrDb = Message.Report->SnrDb;
    }
}

void TServiceStatus::WatchStoreErrors(std::function<std::uint64_t()> Errors) {
    std::lock_guard Guard(FLock);
    FStoreErrors = std::move(Errors);
}

void TServiceStatus::AddQueue(std::string Name, std::function<std::size_t()> Length) {
    std::lock_guard Guard(FLock);
    FQueues.push_back({std::move(Name), std::move(Length)});
}

TStatusSnapshot TServiceStatus::Snapshot() const {
    std::vector<TQueue> Queues;
    std::function<std::uint64_t()> StoreErrors;
    TStatusSnapshot Result;
    {
        std::lock_guard Guard(FLock);
        Result = FState;
        Queues = FQueues;
        StoreErrors = FStoreErrors;
    }
    // Outside the lock: a queue takes a lock of its own.
    if (StoreErrors)
        Result.StoreErrors = StoreErrors();
    for (const TQueue &Queue : Queues)
        Result.Queues.push_back({Queue.Name, Queue.Length()});
    return Result;
}
