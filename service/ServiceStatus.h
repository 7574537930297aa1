#pragma once

// What the service is doing, as the web page and the metrics show it: the input, the
// broker, the last location and the messages by kind. Fed from any thread (the event
// loop, the broker's thread, the store's thread) and read from the web server's; each
// call holds a lock for a copy at most.

#include "service/ListenedMessage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct TQueueLength {
    std::string Name;
    std::size_t Length = 0;
};

struct TStatusSnapshot {
    using TTime = std::chrono::system_clock::time_point;

    bool Listening = false;
    TTime InputSince;                    // when the input was last found or lost
    std::optional<bool> BrokerConnected; // none: no broker
    TTime BrokerSince;                   //
    std::optional<TListenedMessage> LastLocation;
    std::uint64_t Texts = 0, Locations = 0, Headerless = 0;
    std::uint64_t StoreErrors = 0;
    std::optional<double> LevelDbfs, SnrDb; // of the last message that had them
    std::vector<TQueueLength> Queues;
};

class TServiceStatus {
public:
    TServiceStatus();

    void SetListening(bool Listening);
    // A broker is used: not connected until told otherwise.
    void UseBroker();
    void SetBrokerConnected(bool Connected);
    // Counts it, and keeps its level and SNR when it has a report.
    void Count(const TListenedMessage &Message);
    // Errors is asked for at every snapshot, on the reader's thread.
    void WatchStoreErrors(std::function<std::uint64_t()> Errors);
    // Length is asked for at every snapshot, on the reader's thread.
    void AddQueue(std::string Name, std::function<std::size_t()> Length);

    TStatusSnapshot Snapshot() const;

private:
    struct TQueue {
        std::string Name;
        std::function<std::size_t()> Length;
    };

    mutable std::mutex FLock; // guards what follows
    TStatusSnapshot FState;
    std::vector<TQueue> FQueues;
    std::function<std::uint64_t()> FStoreErrors;
};
