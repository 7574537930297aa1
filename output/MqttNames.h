#pragma once

// Names that go to an MQTT broker and into JSON. A broker refuses a topic, user name
// or client id holding malformed UTF-8, control characters or non-characters; a topic
// to publish to may hold no wildcard ('+', '#'), and an empty level is a typo.

#include <string>
#include <string_view>

// Well-formed UTF-8 without control characters (C0, DEL, C1) or non-characters.
bool IsPlainUtf8(std::string_view Text);

// Plain UTF-8, not empty, without '/', '+' or '#'.
bool IsTopicLevel(std::string_view Level);
// Levels separated by '/', each one a topic level.
bool IsTopicName(std::string_view Name);

// Name with every byte that keeps it from being a topic level replaced by '_'.
std::string SafeTopicLevel(std::string_view Name);

// A client id that is the same at every start on this host for this station: "zel",
// up to 12 letters and digits of the station, and 8 hex digits of a hash of both. At
// most 23 letters and digits, which every broker must take.
std::string MqttClientId(std::string_view Station, std::string_view Host);
