#pragma once

// A message as the service hands it on: to stdout, the broker, the store and whoever
// else takes messages.

#include "receiver/untFFSKReceiver.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct TListenedMessage {
    std::int64_t Id = 0; // the store's row id; 0 without a store
    std::chrono::system_clock::time_point Time;
    bool IsSMS = true;
    bool Headed = true;
    TRxString Text;
    std::optional<TSignalReport> Report; // none when the receiver could not measure it
};

// "2026-12-08T17:26:40.123Z"
std::string UtcTime(std::chrono::system_clock::time_point Time);

// The message's JSON object, as stdout and the broker carry it: its signal report's
// fields after the others.
std::string ListenedMessageJson(const TListenedMessage &Message, const std::string &Station);
