#include "service/ListenedMessage.h"

#include "output/MessageJson.h"

#include <cstdio>
#include <ctime>

std::string UtcTime(std::chrono::system_clock::time_point Time) {
    const auto Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
    const std::time_t Seconds = std::time_t(Milliseconds / 1000);
    std::tm Parts{};
    gmtime_r(&Seconds, &Parts);
    char Text[40];
    const std::size_t Length = std::strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%S", &Parts);
    std::snprintf(Text + Length, sizeof Text - Length, ".%03dZ", int(Milliseconds % 1000));
    return Text;
}

std::string ListenedMessageJson(const TListenedMessage &Message, const std::string &Station) {
    return MessageJson({"time", "\"" + UtcTime(Message.Time) + "\""}, Message.IsSMS, Message.Headed,
                       Message.Text, Station, Message.Report);
}
