#pragma once

// The web API's view of the history: a query from the parameters of
// /api/messages and /api/events, and messages as JSON and as server-sent events.

#include "service/MessageHistory.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

// A parameter the API cannot take; its text says which and why.
class EBadParameter : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The value of a parameter of the request (percent-decoded), or none.
using TParameters = std::function<std::optional<std::string>(const char *Name)>;

constexpr std::size_t MostMessagesAsked = 1000;

// after, before (ids), since, until ("2026-12-08T17:26:40.123Z"), q (UTF-8 text of
// Latin-1 characters), kind (sms|loc), limit (1..1000). With after and without before,
// the oldest first: the messages that follow a known one.
TMessageQuery MessageQuery(const TParameters &Parameters);

// A message id (0 or more); EBadParameter naming Name otherwise.
std::int64_t ParseMessageId(const char *Name, const std::string &Text);

// Parses "2026-12-08T17:26:40Z", with or without milliseconds.
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string &Text);

// The message's JSON with its id first.
std::string MessageWithIdJson(const TListenedMessage &Message, const std::string &Station);
// {"messages":[...]}
std::string MessagesJson(const std::vector<TListenedMessage> &Messages, const std::string &Station);
// "id: <id>\ndata: <json>\n\n"
std::string MessageEvent(const TListenedMessage &Message, const std::string &Station);
