#pragma once

// Each delivered message, at once: to the broker, and queued for stdout, which a slow
// reader may hold up without holding up the sound input.

#include "service/ListenedMessage.h"
#include "service/OutputQueue.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TMqttPublisher;

struct TMessageOutputSettings {
    bool Json = false;   // JSON objects on stdout instead of lines
    bool Quiet = false;  // nothing on stdout
    bool Report = false; // lines end with a tab and the signal report, when there is one
    std::size_t Backlog = 1000;
    std::string Station;
    std::string TopicBase; // "<prefix>/<station>/" with a broker
    // Where messages go besides stdout and the broker ("the store", ...): with any of
    // them, or a broker, a stdout that takes no more does not end the service.
    std::vector<std::string> OtherOutputs;
};

class TMessageOutput {
public:
    using TReport = std::function<void(const std::string &Line)>;

    // With nowhere else to go, a stdout that takes no more (a reader gone) leaves
    // nothing to do: OnNoOutput is called, on the thread of the event loop.
    TMessageOutput(TMessageOutputSettings Settings, TMqttPublisher *Publisher, TReport Report,
                   std::function<void()> OnNoOutput);

    void Deliver(const TListenedMessage &Message);
    // Writes what waits, for a while.
    void Finish();
    // Lines waiting for the reader of stdout; any thread.
    std::size_t Waiting() const { return FLines ? FLines->Waiting() : 0; }

private:
    std::string Line(const TListenedMessage &Message) const;
    void NoMoreOutput();

    TMessageOutputSettings FSettings;
    TMqttPublisher *FPublisher;
    TReport FReport;
    std::function<void()> FOnNoOutput;
    std::optional<TOutputQueue> FLines;
};
