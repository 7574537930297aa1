#include "web/StatusReports.h"

#include "output/MessageJson.h"

#include <cstdio>

namespace {

std::string Number(double Value) {
    char Text[32];
    std::snprintf(Text, sizeof Text, "%.6g", Value);
    return Text;
}

std::string Number(const std::optional<double> &Value) {
    return Value ? Number(*Value) : "null";
}

std::string StateJson(bool Up, TStatusSnapshot::TTime Since, const char *Name) {
    return std::string("{\"") + Name + "\":" + (Up ? "true" : "false") + ",\"since\":\"" +
           UtcTime(Since) + "\"}";
}

std::string QueuesJson(const std::vector<TQueueLength> &Queues) {
    std::string Json = "{";
    for (const TQueueLength &Queue : Queues)
        Json += (Json.size() > 1 ? "," : "") + JsonUtf8String(Queue.Name) + ":" +
                std::to_string(Queue.Length);
    return Json + "}";
}

// One metric family: its type, its help and its samples ("name{labels} value" lines).
std::string Family(const char *Name, const char *Type, const char *Help,
                   const std::string &Samples) {
    return std::string("# TYPE ") + Name + " " + Type + "\n# HELP " + Name + " " + Help + "\n" +
           Samples;
}

std::string Sample(const std::string &Name, const std::string &Value) {
    return Name + " " + Value + "\n";
}

} // namespace

std::string StatusJson(const TStatusSnapshot &Status, const std::string &Station) {
    const auto &Location = Status.LastLocation;
    return "{\"station\":" + JsonUtf8String(Station) +
           ",\"input\":" + StateJson(Status.Listening, Status.InputSince, "listening") +
           ",\"broker\":" +
           (Status.BrokerConnected
                ? StateJson(*Status.BrokerConnected, Status.BrokerSince, "connected")
                : "null") +
           ",\"last_location\":" + (Location ? ListenedMessageJson(*Location, Station) : "null") +
           ",\"messages\":{\"sms\":" + std::to_string(Status.Texts) +
           ",\"loc\":" + std::to_string(Status.Locations) +
           ",\"headerless\":" + std::to_string(Status.Headerless) +
           "},\"store_errors\":" + std::to_string(Status.StoreErrors) +
           ",\"level_dbfs\":" + Number(Status.LevelDbfs) + ",\"snr_db\":" + Number(Status.SnrDb) +
           ",\"queues\":" + QueuesJson(Status.Queues) + "}";
}

std::string StatusMetrics(const TStatusSnapshot &Status) {
    std::string Text =
        Family("zel_messages", "counter", "Messages received, by kind.",
               Sample("zel_messages_total{kind=\"sms\"}", std::to_string(Status.Texts)) +
                   Sample("zel_messages_total{kind=\"loc\"}", std::to_string(Status.Locations)) +
                   Sample("zel_messages_total{kind=\"headerless\"}",
                          std::to_string(Status.Headerless))) +
        Family("zel_input_up", "gauge", "1 while the sound input records.",
               Sample("zel_input_up", Status.Listening ? "1" : "0")) +
        Family("zel_store_errors", "counter", "Messages the store could not keep.",
               Sample("zel_store_errors_total", std::to_string(Status.StoreErrors)));
    if (Status.BrokerConnected)
        Text += Family("zel_broker_up", "gauge", "1 while the MQTT broker is connected.",
                       Sample("zel_broker_up", *Status.BrokerConnected ? "1" : "0"));
    if (Status.LevelDbfs)
        Text += Family("zel_last_level_dbfs", "gauge", "Signal level of the last message.",
                       Sample("zel_last_level_dbfs", Number(*Status.LevelDbfs)));
    if (Status.SnrDb)
        Text += Family("zel_last_snr_db", "gauge", "Signal-to-noise ratio of the last message.",
                       Sample("zel_last_snr_db", Number(*Status.SnrDb)));
    std::string Queues;
    for (const TQueueLength &Queue : Status.Queues)
        Queues +=
            Sample("zel_queue_length{queue=\"" + Queue.Name + "\"}", std::to_string(Queue.Length));
    Text += Family("zel_queue_length", "gauge", "Items waiting in each queue.", Queues);
    return Text + "# EOF\n";
}
