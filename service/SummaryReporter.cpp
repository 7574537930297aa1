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
    FSummary.Add(Message);
}

void TSummaryReporter::ReportLines() {
    for (const std::string &Line : FSummary.Lines())
        FReport(Line);
}

void TSummaryReporter::PublishNews() {
    if (FSummary.Count() == FPublished)
        return;
    FPublished = FSummary.Count();
    FPublish(FSummary.Json(std::chrono::system_clock::now(), FStation));
}
