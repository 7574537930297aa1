#include "store/StoreStage.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

constexpr auto DeletionInterval = 1h;
// Old messages go in steps this large, so that new ones never wait long behind them.
constexpr std::size_t DeletionStep = 10000;

std::string Messages(std::size_t Count) {
    return std::to_string(Count) + (Count == 1 ? " message" : " messages");
}

} // namespace

TStoreStage::TStoreStage(TStoreSettings Settings, THandOn HandOn, TReport Report)
    : FSettings(std::move(Settings)), FHandOn(std::move(HandOn)), FReport(std::move(Report)),
      FStore(std::make_unique<TMessageStore>(FSettings.Path, FSettings.Origin)),
      FNextId(FStore->LastId() + 1), FDeleteAt(std::chrono::steady_clock::now()) {
    FThread = std::thread([this] { Run(); });
}

TStoreStage::~TStoreStage() {
    Finish();
}

void TStoreStage::Push(TListenedMessage Message) {
    std::lock_guard Guard(FLock);
    Message.Id = FNextId++;
    FIncoming.push_back(std::move(Message));
    ++FWaiting;
    FChanged.notify_all();
}

void TStoreStage::Finish() {
    {
        std::lock_guard Guard(FLock);
        FEnding = true;
        FChanged.notify_all();
    }
    if (FThread.joinable())
        FThread.join();
}

void TStoreStage::Run() {
    std::unique_lock Guard(FLock);
    while (true) {
        const auto Due = FFailing ? FRetryAt : FDeleteAt;
        const auto Ready = [this] { return !FIncoming.empty() || FEnding; };
        if (FFailing || FSettings.Keep)
            FChanged.wait_until(Guard, Due, Ready);
        else
            FChanged.wait(Guard, Ready);
        std::vector<TListenedMessage> Batch;
        Batch.swap(FIncoming);
        const bool Ending = FEnding;
        Guard.unlock();
        if (!Batch.empty())
            Take(std::move(Batch));
        const auto Now = std::chrono::steady_clock::now();
        if (FFailing && (Now >= FRetryAt || Ending))
            RetryHeld();
        if (!FFailing && FSettings.Keep && Now >= FDeleteAt)
            DeleteOld();
        Guard.lock();
        if (Ending && FIncoming.empty())
            break;
    }
    if (!FHeld.empty())
        FReport("the store " + FSettings.Path + " still cannot be written: the last " +
                Messages(FHeld.size()) + " were not stored");
}

// Stored first, then handed on; handed on at once while the store fails.
void TStoreStage::Take(std::vector<TListenedMessage> Batch) {
    const bool Stored = !FFailing && TryStore(Batch);
    for (const TListenedMessage &Message : Batch)
        FHandOn(Message);
    if (Stored)
        FWaiting -= Batch.size();
    else
        Hold(std::move(Batch));
}

// Opened afresh after a failure: the file may have been mended or replaced.
TMessageStore &TStoreStage::Store() {
    if (!FStore)
        FStore = std::make_unique<TMessageStore>(FSettings.Path, FSettings.Origin);
    return *FStore;
}

// Messages takes the ids stored: another zel-listen on the file may have taken theirs.
bool TStoreStage::TryStore(std::vector<TListenedMessage> &Messages) {
    try {
        const std::int64_t Shift =
            Store().Store(Messages) - (Messages.empty() ? 0 : Messages.front().Id);
        for (TListenedMessage &Message : Messages)
            Message.Id += Shift;
        if (Shift) {
            std::lock_guard Guard(FLock);
            FNextId = std::max(FNextId, Messages.back().Id + 1);
        }
        return true;
    } catch (const std::exception &Error) {
        ++FErrors;
        FStore.reset();
        if (!FFailing)
            FReport("cannot write the store " + FSettings.Path + ": " + Error.what() +
                    "; messages go on, and wait in memory to be stored");
        FFailing = true;
        FRetryAt = std::chrono::steady_clock::now() + FSettings.RetryPause;
        return false;
    }
}

void TStoreStage::Hold(std::vector<TListenedMessage> Batch) {
    for (TListenedMessage &Message : Batch)
        FHeld.push_back(std::move(Message));
    if (FHeld.size() <= FSettings.HoldLimit)
        return;
    const std::size_t Over = FHeld.size() - FSettings.HoldLimit;
    if (FDropped == 0)
        FReport("more than " + Messages(FSettings.HoldLimit) +
                " wait for the store: the oldest are dropped unstored");
    FHeld.erase(FHeld.begin(), FHeld.begin() + std::ptrdiff_t(Over));
    FDropped += Over;
    FWaiting -= Over;
}

void TStoreStage::RetryHeld() {
    std::vector<TListenedMessage> Held(FHeld.begin(), FHeld.end());
    if (!TryStore(Held))
        return;
    FReport("the store " + FSettings.Path + " is written again: " + Messages(Held.size()) +
            " stored again" +
            (FDropped ? ", " + Messages(FDropped) + " dropped unstored" : std::string()));
    FWaiting -= Held.size();
    FHeld.clear();
    FFailing = false;
    FDropped = 0;
}

void TStoreStage::DeleteOld() {
    FDeleteAt = std::chrono::steady_clock::now() + DeletionInterval;
    const auto Before = std::chrono::system_clock::now() - *FSettings.Keep;
    try {
        while (Store().DeleteBefore(Before, DeletionStep) == DeletionStep) {
            std::lock_guard Guard(FLock);
            if (!FIncoming.empty() || FEnding) {
                // The rest after the new messages.
                FDeleteAt = std::chrono::steady_clock::now();
                return;
            }
        }
    } catch (const std::exception &Error) {
        ++FErrors;
        FStore.reset();
        FReport("cannot delete old messages from the store " + FSettings.Path + ": " +
                Error.what());
    }
}
