#pragma once

// Received messages as one-line JSON objects. The text is a byte string: each byte
// becomes the character of the same code (Latin-1), so any JSON reader gets every byte
// back, NUL included.

#include "receiver/untFFSKReceiver.h"

#include <optional>

#include <string>
#include <string_view>

// When a message was delivered: "time" with a quoted wall-clock time, or "offset"
// with seconds into a recording.
struct TMessageWhen {
    std::string_view Key;
    std::string Value; // already JSON
};

// {"<when>":...,"kind":"SMS"|"LOC","text":"...","station":"..."}, no station when
// Station is empty, and "headed":false for a message that did not begin with its
// header frame, then the fields of its signal report, if any. A normal message's
// object starts as it always did, for readers that know no "headed".
std::string MessageJson(const TMessageWhen &When, bool MessIsSMS, bool Headed,
                        const TRxString &Text, const std::string &Station,
                        const std::optional<TSignalReport> &Report = std::nullopt);
// {"<when>":...,"kind":"<Kind>","<Key>":<Value>,"station":"..."} for what the receiver
// reports besides messages; Value is already JSON.
std::string EventJson(const TMessageWhen &When, std::string_view Kind, std::string_view Key,
                      const std::string &Value, const std::string &Station);

// The station of a message when none is named: this computer's host name, with every
// byte that JSON text or a topic level cannot hold made '_'.
std::string DefaultStation();

// A JSON string of Bytes read as Latin-1, quotes included.
std::string JsonLatin1String(std::string_view Bytes);
// A JSON string of UTF-8 text, quotes included; control characters escaped.
std::string JsonUtf8String(std::string_view Text);
