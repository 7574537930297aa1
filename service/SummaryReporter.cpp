#include "service/SummaryReporter.h"

#include <csignal>

TSummaryReporter::TSummaryReporter(std::string Station, TReport Report, TPublish Publish,
                                   std::chrono::milliseconds Period)
    : FStation(std::move(Station)), FReport(std::move(Report)), FPublish(std::move(Publish)),
      FAsked({SIGUSR1}, [this](int) { ReportLines(); }) {
    if (!FPublish)
        return;
    connect(&FTimer, &QTimer::timeout, this, &TSummaryReporter::PublishNews);
    FTimer.start(Period);
}

void TSummaryReporter::Add(const TListenedMessage &Message) {
    std::lock_guard Guard(FLock);
    FSummary.Add(Message);
}

void TSummaryReporter::ReportLines() {
    std::unique_lock Guard(FLock);
    const std::vector<std::string> Lines = FSummary.Lines();
    Guard.unlock();
    for (const std::string &Line : Lines)
        FReport(Line);
}

void TSummaryReporter::PublishNews() {
    std::unique_lock Guard(FLock);
    if (FSummary.Count() == FPublished)
        return;
    FPublished = FSummary.Count();
    const std::string Json = FSummary.Json(std::chrono::system_clock::now(), FStation);
    Guard.unlock();
    FPublish(Json);
}
