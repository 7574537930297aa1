#include "service/MessageOutput.h"

#include "cli/MessageText.h"
#include "output/SignalReportFormat.h"
#include "service/MqttPublisher.h"

#include <QCoreApplication>

#include <chrono>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The reader of stdout gets this long to take the lines still waiting.
constexpr auto OutputFlushTime = 2s;

// Subscribers to sms and loc get only what began as a text or a location.
const char *Subtopic(const TListenedMessage &Message) {
    if (!Message.Headed)
        return "headerless";
    return Message.IsSMS ? "sms" : "loc";
}

} // namespace

TMessageOutput::TMessageOutput(TMessageOutputSettings Settings, TMqttPublisher *Publisher,
                               TReport Report, std::function<void()> OnNoOutput)
    : FSettings(std::move(Settings)), FPublisher(Publisher), FReport(std::move(Report)),
      FOnNoOutput(std::move(OnNoOutput)) {
    if (!FSettings.Quiet)
        FLines.emplace(STDOUT_FILENO, FSettings.Backlog, FReport, [this] { NoMoreOutput(); });
}

void TMessageOutput::Deliver(const TListenedMessage &Message) {
    const std::string Json = ListenedMessageJson(Message, FSettings.Station);
    if (FLines)
        FLines->Push(FSettings.Json ? Json : Line(Message));
    if (FPublisher)
        FPublisher->Publish(FSettings.TopicBase + Subtopic(Message), Json);
}

std::string TMessageOutput::Line(const TListenedMessage &Message) const {
    std::string Line =
        UtcTime(Message.Time) + " " + MessageLine(Message.IsSMS, Message.Headed, Message.Text);
    if (FSettings.Report && Message.Report)
        Line += "\t" + SignalReportText(*Message.Report);
    return Line;
}

void TMessageOutput::Finish() {
    if (FLines)
        FLines->Finish(OutputFlushTime);
}

// On the writing thread.
void TMessageOutput::NoMoreOutput() {
    if (FPublisher) {
        FReport("cannot write the output; messages go on to the broker only");
        return;
    }
    FReport("cannot write the output; stopping");
    QMetaObject::invokeMethod(QCoreApplication::instance(), FOnNoOutput, Qt::QueuedConnection);
}
