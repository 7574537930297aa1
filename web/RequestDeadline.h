#pragma once

// Each request must arrive whole within a deadline, counted from the connection's
// start or the end of its previous request. The web server's idle timeout alone lets a
// client that sends a byte now and then hold a connection for hours; this cuts it off
// (its socket is shut down, and the server closes the connection). A thread of its own
// wakes only while a request is awaited, at the next deadline.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

class TRequestDeadline {
public:
    explicit TRequestDeadline(std::chrono::milliseconds Deadline);
    ~TRequestDeadline();
    TRequestDeadline(const TRequestDeadline &) = delete;
    TRequestDeadline &operator=(const TRequestDeadline &) = delete;

    // A request is awaited on Socket from now.
    void Await(int Socket);
    // The request has arrived, or the connection is closing: before its socket closes.
    void Arrived(int Socket);

private:
    using TClock = std::chrono::steady_clock;
    void Watch();

    const std::chrono::milliseconds FDeadline;
    std::mutex FLock; // guards what follows; a socket is shut down under it, so never
                      // after Arrived, when its number may be another connection's
    std::condition_variable FChanged;
    std::map<int, TClock::time_point> FAwaited; // the deadline of each socket
    bool FStopping = false;
    std::thread FWatcher;
};
