#pragma once

// The reception summary (TReceptionSummary) where people and monitors look for it: its
// lines, one report each, when SIGUSR1 asks (`kill -USR1`, or `systemctl --user kill -s
// USR1 zel-listen` and the journal), and its JSON published once a period while
// messages arrive: a period without a new message publishes nothing. While it exists,
// SIGUSR1 does not end the program.

#include "platform/SignalNotifier.h"
#include "service/ReceptionSummary.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

class TSummaryReporter : public QObject {
public:
    using TReport = std::function<void(const std::string &Line)>;
    using TPublish = std::function<void(const std::string &Json)>;

    // Publish empty: nothing is published. Reports and publications come from the event
    // loop of the thread that creates it.
    TSummaryReporter(std::string Station, TReport Report, TPublish Publish,
                     std::chrono::milliseconds Period = std::chrono::minutes(1));

    // From any thread: with a store, messages come from its thread.
    void Add(const TListenedMessage &Message);

private:
    void ReportLines();
    void PublishNews();

    std::mutex FLock; // guards the summary and the count published
    TReceptionSummary FSummary{std::chrono::system_clock::now()};
    std::size_t FPublished = 0; // messages the last publication counted
    std::string FStation;
    TReport FReport;
    TPublish FPublish;
    QTimer FTimer;
    platform::TSignalNotifier FAsked;
};
