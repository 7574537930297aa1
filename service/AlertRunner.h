#pragma once

// Runs a program of the user's for each message, with the message's JSON object and a
// newline on its standard input: a few at once, each for a limited time, from a thread
// of the runner's own, so that a program that fails, hangs or never reads its input
// never holds up the receiver. The program's standard output and error go to our
// standard error: our standard output carries the messages. A program that fails is
// reported once, until it has worked again.

#include "platform/WakeSignal.h"
#include "service/ListenedMessage.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TAlertSettings {
    std::string Program; // a path, run without arguments
    std::string Station; // in the JSON
    std::size_t MostAtOnce = 4;
    // Messages waiting for a free run; beyond that the oldest go without one.
    std::size_t Backlog = 1000;
    // A program still running after TimeLimit gets SIGTERM, after Grace more SIGKILL
    // (its whole process group).
    std::chrono::milliseconds TimeLimit = std::chrono::seconds(30);
    std::chrono::milliseconds Grace = std::chrono::seconds(5);
};

class TAlertRunner {
public:
    using TReport = std::function<void(const std::string &Line)>;

    // Report runs on the runner's thread.
    TAlertRunner(TAlertSettings Settings, TReport Report);
    // Finishes without waiting, unless finished before.
    ~TAlertRunner();
    TAlertRunner(const TAlertRunner &) = delete;
    TAlertRunner &operator=(const TAlertRunner &) = delete;

    // From any thread; never waits for a program.
    void Run(const TListenedMessage &Message);
    // Takes no more messages, and waits up to Patience for the waiting ones to be run and
    // every program to end; those still running then get SIGTERM, and one report says
    // what was left undone.
    void Finish(std::chrono::milliseconds Patience);

private:
    class TRun;
    using TClock = std::chrono::steady_clock;

    void Work();
    void StartWaiting(std::vector<std::unique_ptr<TRun>> &Runs);
    bool Done(const std::vector<std::unique_ptr<TRun>> &Runs, TClock::time_point Now);
    void Await(const std::vector<std::unique_ptr<TRun>> &Runs, TClock::time_point Now);
    void Reap(std::vector<std::unique_ptr<TRun>> &Runs);
    void Count(const std::string &Failure);
    void LeaveAtEnd(std::vector<std::unique_ptr<TRun>> &Runs);
    void Report(const std::string &Line) const;

    const TAlertSettings FSettings;
    const TReport FReport;
    const platform::TWakeSignal FWake;

    std::mutex FLock; // guards what Run and Finish share with the thread
    std::deque<std::string> FWaiting;
    std::size_t FDropped = 0; // in this episode
    bool FEnding = false;
    TClock::time_point FEndBy;

    std::size_t FFailures = 0; // since the program last worked; the thread's own
    std::thread FWorker;
};
