#pragma once

// The broker's password kept out of the command line, and so out of `ps` and the
// service's options: read from a file, or taken from the environment.

#include "service/MqttUrl.h"

#include <optional>
#include <string>

// Gives Url its password: the first line of PasswordFile (--mqtt-password-file) or the
// URL's own, never both; else ZEL_MQTT_PASSWORD when it is set and not empty.
// EToolError for an unreadable file, two passwords on the command line, or a password
// without a user name in the URL to go with it.
void AddMqttPassword(TMqttUrl &Url, const std::optional<std::string> &PasswordFile);
