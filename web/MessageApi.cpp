#include "web/MessageApi.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace {

// A whole number of 0 or more, and nothing else.
std::optional<std::int64_t> Count(const std::string &Text) {
    std::int64_t Value = 0;
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    if (Error != std::errc() || End != Text.data() + Text.size() || Value < 0)
        return std::nullopt;
    return Value;
}

std::chrono::system_clock::time_point ParseTime(const char *Name, const std::string &Text) {
    if (const auto Time = ParseUtcTime(Text))
        return *Time;
    throw EBadParameter(std::string(Name) + " must be a UTC time such as 2026-12-08T17:26:40Z");
}

// The text's characters as the bytes of the same codes: what a message's text holds.
std::string Latin1FromUtf8(const std::string &Text) {
    std::string Bytes;
    for (std::size_t At = 0; At < Text.size(); ++At) {
        const auto Byte = static_cast<unsigned char>(Text[At]);
        if (Byte < 0x80) {
            Bytes += char(Byte);
        } else if ((Byte == 0xC2 || Byte == 0xC3) && At + 1 < Text.size() &&
                   (static_cast<unsigned char>(Text[At + 1]) & 0xC0) == 0x80) {
            Bytes += char(((Byte & 0x03) << 6) | (Text[++At] & 0x3F));
        } else {
            throw EBadParameter("q must be UTF-8 text of characters up to U+00FF");
        }
    }
    return Bytes;
}

std::optional<bool> ParseKind(const std::string &Kind) {
    if (Kind == "sms")
        return true;
    if (Kind == "loc")
        return false;
    if (Kind.empty() || Kind == "any")
        return std::nullopt;
    throw EBadParameter("kind must be sms, loc or any");
}

std::size_t ParseLimit(const std::string &Text) {
    const auto Limit = Count(Text);
    if (!Limit || *Limit < 1 || *Limit > std::int64_t(MostMessagesAsked))
        throw EBadParameter("limit must be 1 to " + std::to_string(MostMessagesAsked));
    return std::size_t(*Limit);
}

} // namespace

std::int64_t ParseMessageId(const char *Name, const std::string &Text) {
    if (const auto Id = Count(Text))
        return *Id;
    throw EBadParameter(std::string(Name) + " must be a message id (0 or more)");
}

std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string &Text) {
    // Digits where digits belong and nothing else: sscanf alone takes signs, spaces and
    // ".5" as 5 ms.
    const std::string_view Shape =
        Text.size() == 20 ? "dddd-dd-ddTdd:dd:ddZ" : "dddd-dd-ddTdd:dd:dd.dddZ";
    if (Text.size() != Shape.size())
        return std::nullopt;
    for (std::size_t At = 0; At < Shape.size(); ++At)
        if (Shape[At] == 'd' ? !std::isdigit(static_cast<unsigned char>(Text[At]))
                             : Text[At] != Shape[At])
            return std::nullopt;
    std::tm Parts{};
    int Milliseconds = 0;
    std::sscanf(Text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &Parts.tm_year, &Parts.tm_mon,
                &Parts.tm_mday, &Parts.tm_hour, &Parts.tm_min, &Parts.tm_sec, &Milliseconds);
    Parts.tm_year -= 1900;
    Parts.tm_mon -= 1;
    // timegm makes 2026-02-30 March the 2nd: a date it changed is no date.
    std::tm Normal = Parts;
    const std::time_t Seconds = timegm(&Normal);
    if (Normal.tm_mon != Parts.tm_mon || Normal.tm_mday != Parts.tm_mday ||
        Normal.tm_hour != Parts.tm_hour || Normal.tm_min != Parts.tm_min ||
        Normal.tm_sec != Parts.tm_sec)
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(Seconds) +
           std::chrono::milliseconds(Milliseconds);
}

TMessageQuery MessageQuery(const TParameters &Parameters) {
    TMessageQuery Query;
    if (const auto After = Parameters("after"))
        Query.AfterId = ParseMessageId("after", *After);
    if (const auto Before = Parameters("before"))
        Query.BeforeId = ParseMessageId("before", *Before);
    if (const auto Since = Parameters("since"))
        Query.Since = ParseTime("since", *Since);
    if (const auto Until = Parameters("until"))
        Query.Until = ParseTime("until", *Until);
    if (const auto Text = Parameters("q"))
        Query.Text = Latin1FromUtf8(*Text);
    if (const auto Kind = Parameters("kind"))
        Query.IsSMS = ParseKind(*Kind);
    if (const auto Limit = Parameters("limit"))
        Query.Limit = ParseLimit(*Limit);
    Query.OldestFirst = Parameters("after") && !Query.BeforeId;
    return Query;
}

std::string MessageWithIdJson(const TListenedMessage &Message, const std::string &Station) {
    return "{\"id\":" + std::to_string(Message.Id) + "," +
           ListenedMessageJson(Message, Station).substr(1);
}

std::string MessagesJson(const std::vector<TListenedMessage> &Messages,
                         const std::string &Station) {
    std::string Json = "{\"messages\":[";
    for (const TListenedMessage &Message : Messages)
        Json += (&Message == Messages.data() ? "" : ",") + MessageWithIdJson(Message, Station);
    return Json + "]}";
}

std::string MessageEvent(const TListenedMessage &Message, const std::string &Station) {
    // The JSON holds no line break (JSON escapes it): one data line.
    return "id: " + std::to_string(Message.Id) + "\ndata: " + MessageWithIdJson(Message, Station) +
           "\n\n";
}
