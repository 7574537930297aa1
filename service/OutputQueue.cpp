#include "service/OutputQueue.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unistd.h>

// Shared with the writing thread, which may outlive the queue (Finish).
struct TOutputQueue::TState {
    int Descriptor;
    std::size_t Capacity;
    TReport Report;
    std::function<void()> OnRefused;

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::string> Waiting;
    std::size_t Writing = 0; // lines in the write under way
    std::size_t Dropped = 0; // in this episode
    bool Refused = false;
    bool Ending = false;
    bool Ended = false;
    // Given up by Finish: the callbacks may no longer be called.
    bool Abandoned = false;
};

namespace {

bool WriteAll(int Descriptor, const std::string &Text) {
    for (std::size_t Done = 0; Done < Text.size();) {
        const ssize_t Written = write(Descriptor, Text.data() + Done, Text.size() - Done);
        if (Written < 0 && errno != EINTR)
            return false;
        Done += Written > 0 ? std::size_t(Written) : 0;
    }
    return true;
}

std::string Plural(std::size_t Count) {
    return std::to_string(Count) + (Count == 1 ? " line" : " lines");
}

} // namespace

TOutputQueue::TOutputQueue(int Descriptor, std::size_t Capacity, TReport Report,
                           std::function<void()> OnRefused)
    : FState(
          std::make_shared<TState>(Descriptor, Capacity, std::move(Report), std::move(OnRefused))),
      FWriter(Write, FState) {}

TOutputQueue::~TOutputQueue() {
    Finish(std::chrono::milliseconds(0));
}

void TOutputQueue::Push(std::string Line) {
    std::lock_guard Guard(FState->Lock);
    if (FState->Refused || FState->Ending)
        return;
    FState->Waiting.push_back(std::move(Line));
    if (FState->Waiting.size() > FState->Capacity) {
        FState->Waiting.pop_front();
        ++FState->Dropped;
    }
    FState->Changed.notify_all();
}

std::size_t TOutputQueue::Waiting() const {
    std::lock_guard Guard(FState->Lock);
    return FState->Waiting.size() + FState->Writing;
}

// The callbacks run under the lock, so that none runs once Finish has given up.
void TOutputQueue::Write(const std::shared_ptr<TState> &State) {
    std::unique_lock Guard(State->Lock);
    while (true) {
        State->Changed.wait(Guard, [&] { return !State->Waiting.empty() || State->Ending; });
        if (State->Waiting.empty())
            break;
        std::string Lines;
        for (const std::string &Line : State->Waiting)
            Lines += Line + '\n';
        State->Writing = State->Waiting.size();
        State->Waiting.clear();
        Guard.unlock();
        const bool Written = WriteAll(State->Descriptor, Lines);
        Guard.lock();
        State->Writing = 0;
        if (State->Abandoned)
            return;
        if (!Written) {
            State->Refused = true;
            State->Waiting.clear();
            State->OnRefused();
            break;
        }
        if (State->Waiting.empty() && State->Dropped) {
            State->Report("the output was read too slowly: the oldest " + Plural(State->Dropped) +
                          " went unwritten");
            State->Dropped = 0;
        }
    }
    State->Ended = true;
    State->Changed.notify_all();
}

void TOutputQueue::Finish(std::chrono::milliseconds Patience) {
    if (!FWriter.joinable())
        return;
    std::unique_lock Guard(FState->Lock);
    FState->Ending = true;
    FState->Changed.notify_all();
    if (FState->Changed.wait_for(Guard, Patience, [&] { return FState->Ended; })) {
        Guard.unlock();
        FWriter.join();
        return;
    }
    FState->Abandoned = true;
    const std::size_t Unwritten = FState->Waiting.size() + FState->Writing;
    const std::size_t Dropped = FState->Dropped;
    const TReport Report = FState->Report;
    Guard.unlock();
    // Held up in a write that only the reader can end: the end of the process ends it.
    FWriter.detach();
    Report("the output is not read: " +
           (Dropped ? "the oldest " + Plural(Dropped) + " went unwritten, and " : "") +
           Plural(Unwritten) + " more at the end");
}
