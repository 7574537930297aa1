#pragma once

// What was received, asked for by time, kind and text: from the store, or from the
// newest messages kept in memory when there is no store.

#include "service/ListenedMessage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TMessageQuery {
    std::int64_t AfterId = 0;             // only messages with a greater id
    std::optional<std::int64_t> BeforeId; // only messages with a smaller id
    std::optional<std::chrono::system_clock::time_point> Since, Until;
    std::string Text;          // bytes the text holds; empty: any text
    std::optional<bool> IsSMS; // the kind; none: both
    std::size_t Limit = 100;
    bool OldestFirst = false; // newest first unless catching up
};

class IMessageHistory {
public:
    virtual ~IMessageHistory() = default;
    virtual std::vector<TListenedMessage> Find(const TMessageQuery &Query) const = 0;
};
