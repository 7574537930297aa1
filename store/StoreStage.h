#pragma once

// The store in front of everything else that takes a message: each message gets its
// id at once, and a thread of the stage's own commits it to the store and only then
// hands it on, so that a message anyone has seen is in the store. The receiver never
// waits for the disk. A store that cannot be written (full, read-only, locked,
// damaged) is reported once, and once more when it works again; meanwhile messages are
// handed on at once and held in memory (up to a bound) until they can be stored.
// With --keep-days, messages older than that are deleted once an hour.

#include "service/ListenedMessage.h"
#include "store/MessageStore.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TStoreSettings {
    std::string Path;
    TStoreOrigin Origin;
    std::optional<std::chrono::hours> Keep; // none: everything is kept
    std::size_t HoldLimit = 100000;         // unstored messages held, at most
    std::chrono::milliseconds RetryPause = std::chrono::seconds(2);
};

class TStoreStage {
public:
    using THandOn = std::function<void(const TListenedMessage &Message)>;
    using TReport = std::function<void(const std::string &Line)>;

    // Opens the store now: EForeignStore for a file that is not ours, ESqliteError for
    // one that cannot be opened or read. HandOn and Report run on the stage's thread.
    TStoreStage(TStoreSettings Settings, THandOn HandOn, TReport Report);
    // Finishes, unless finished before.
    ~TStoreStage();
    TStoreStage(const TStoreStage &) = delete;
    TStoreStage &operator=(const TStoreStage &) = delete;

    // Gives the message its id and queues it; never waits.
    void Push(TListenedMessage Message);
    // Stores and hands on what waits, tries once more to store what is held, then ends
    // the thread; what still could not be stored is reported.
    void Finish();

    // For metrics, from any thread: failed writes so far, and messages not yet stored.
    std::uint64_t Errors() const { return FErrors; }
    std::size_t Waiting() const { return FWaiting; }

private:
    void Run();
    TMessageStore &Store();
    void Take(std::vector<TListenedMessage> Batch);
    bool TryStore(std::vector<TListenedMessage> &Messages);
    void Hold(std::vector<TListenedMessage> Batch);
    void RetryHeld();
    void DeleteOld();

    const TStoreSettings FSettings;
    const THandOn FHandOn;
    const TReport FReport;
    std::unique_ptr<TMessageStore> FStore; // none after a failure, until opened again

    // Shared with the caller of Push and Finish.
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TListenedMessage> FIncoming;
    std::int64_t FNextId;
    bool FEnding = false;
    std::atomic<std::uint64_t> FErrors = 0;
    std::atomic<std::size_t> FWaiting = 0;

    // The thread's own.
    std::deque<TListenedMessage> FHeld; // handed on, not stored yet
    bool FFailing = false;
    std::size_t FDropped = 0; // in this failure
    std::chrono::steady_clock::time_point FRetryAt, FDeleteAt;

    std::thread FThread;
};
