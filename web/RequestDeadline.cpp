#include "web/RequestDeadline.h"

#include <sys/socket.h>

#include <algorithm>

TRequestDeadline::TRequestDeadline(std::chrono::milliseconds Deadline)
    : FDeadline(Deadline), FWatcher([this] { Watch(); }) {}

TRequestDeadline::~TRequestDeadline() {
    {
        std::lock_guard Guard(FLock);
        FStopping = true;
    }
    FChanged.notify_one();
    FWatcher.join();
}

void TRequestDeadline::Await(int Socket) {
    {
        std::lock_guard Guard(FLock);
        FAwaited[Socket] = TClock::now() + FDeadline;
    }
    FChanged.notify_one();
}

void TRequestDeadline::Arrived(int Socket) {
    std::lock_guard Guard(FLock);
    FAwaited.erase(Socket);
}

void TRequestDeadline::Watch() {
    std::unique_lock Lock(FLock);
    while (!FStopping) {
        if (FAwaited.empty()) {
            FChanged.wait(Lock);
            continue;
        }
        const auto Next = std::min_element(
            FAwaited.begin(), FAwaited.end(),
            [](const auto &First, const auto &Second) { return First.second < Second.second; });
        // A copy: the entry may go while the lock is released.
        const TClock::time_point Due = Next->second;
        if (Due > TClock::now()) {
            FChanged.wait_until(Lock, Due);
            continue;
        }
        shutdown(Next->first, SHUT_RDWR);
        FAwaited.erase(Next);
    }
}
