#pragma once

// Lines for a reader that may fall behind: taken without waiting and written to a
// descriptor by a thread of the queue's own, so that a reader that stops reading never
// holds up the caller. When more lines wait than the queue holds, the oldest go; one
// report per episode (from the first line dropped until every waiting line is written)
// says how many.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class TOutputQueue {
public:
    using TReport = std::function<void(const std::string &Line)>;

    // Report and OnRefused run on the writing thread, one at a time. OnRefused is called
    // once, when the descriptor takes no more (its reader gone); later lines are
    // discarded.
    TOutputQueue(int Descriptor, std::size_t Capacity, TReport Report,
                 std::function<void()> OnRefused);
    // Finishes without waiting, unless finished before.
    ~TOutputQueue();
    TOutputQueue(const TOutputQueue &) = delete;
    TOutputQueue &operator=(const TOutputQueue &) = delete;

    // Never waits for the reader.
    void Push(std::string Line);
    // Waits up to Patience for the waiting lines to be written, and takes no more. A
    // writer the reader still holds up is left to the end of the process, and the lines
    // it could not write are reported (on the calling thread).
    void Finish(std::chrono::milliseconds Patience);
    // Lines not written yet; any thread.
    std::size_t Waiting() const;

private:
    struct TState;
    static void Write(const std::shared_ptr<TState> &State);

    std::shared_ptr<TState> FState;
    std::thread FWriter;
};
