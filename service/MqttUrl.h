#pragma once

// Where to publish: mqtt://[user[:password]@]host[:port]/prefix, or mqtts:// for
// MQTT over TLS. User and password may carry %HH escapes (for ':', '@' or '/').

#include <string>

struct TMqttUrl {
    bool Tls = false;
    std::string User;
    std::string Password;
    bool HasPassword = false;
    std::string Host;
    int Port = 1883;
    std::string Prefix; // topic prefix, without leading or trailing '/'
};

// EToolError with the reason when Text is not such a URL.
TMqttUrl ParseMqttUrl(const std::string &Text);
