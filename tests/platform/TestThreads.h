#pragma once

#include "platform/MessageServices.h"

#include <functional>
#include <thread>

// A thread whose work is given as a function. Tests wait for its Handle() before it
// goes out of scope.
class TTestThread : public platform::TThread {
public:
    explicit TTestThread(std::function<void()> Work) : FWork(std::move(Work)) {}

protected:
    void Execute() override { FWork(); }

private:
    std::function<void()> FWork;
};

// Generous bound for anything that should take a moment, so a fault fails the test
// instead of hanging it.
constexpr DWORD TestTimeoutMs = 10000;

inline std::thread PostLater(std::function<void()> Post) {
    return std::thread([Post = std::move(Post)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Post();
    });
}
