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

// "a", "a and b", "a, b and c"
std::string Listed(const std::vector<std::string> &Names) {
    std::string Text;
    for (std::size_t Index = 0; Index < Names.size(); ++Index)
        Text += (Index == 0 ? "" : Index + 1 == Names.size() ? " and " : ", ") + Names[Index];
    return Text;
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
    std::vector<std::string> Elsewhere = FSettings.OtherOutputs;
    if (FPublisher)
        Elsewhere.insert(Elsewhere.begin(), "the broker");
    if (!Elsewhere.empty()) {
        FReport("cannot write the output; messages go on to " + Listed(Elsewhere) + " only");
        return;
    }
    FReport("cannot write the output; stopping");
    QMetaObject::invokeMethod(QCoreApplication::instance(), FOnNoOutput, Qt::QueuedConnection);
}
