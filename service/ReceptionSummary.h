#pragma once

// What zel-listen has received since it started, for a look at a station that runs
// unattended: per kind of message (SMS, LOC, and headerless ones apart, as they may be
// noise), how many came, when the last did, and the level and signal-to-noise ratio of
// the last one, the lowest, the highest and the mean. A message without a signal report
// counts, but adds nothing to the level and SNR; an SNR too high to measure counts as
// the floor its report gives.

#include "service/ListenedMessage.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

class TReceptionSummary {
public:
    using TTime = std::chrono::system_clock::time_point;

    explicit TReceptionSummary(TTime Start);

    void Add(const TListenedMessage &Message);
    // Messages added so far.
    std::size_t Count() const { return FCount; }

    // "since 2026-12-09T17:00:00.000Z: 3 SMS, 1 LOC, 0 headerless", then for each kind
    // received "SMS: 3, the last at 2026-12-09T17:26:40.123Z; level -23.5 dBFS (lowest
    // -30.1, highest -20.0, mean -24.2); SNR 17.0 dB (lowest 12.0, highest 25.0, mean
    // 18.3)" or "...; no signal report".
    std::vector<std::string> Lines() const;
    // {"time":"<Now>","since":"<start>","station":"<Station>","sms":{"count":3,"last":"<time>",
    // "level_dbfs":{"last":-23.5,"lowest":-30.1,"highest":-20.0,"mean":-24.2},"snr_db":{...}},
    // "loc":{"count":0},"headerless":{"count":0}}, the level and SNR only when reported.
    std::string Json(TTime Now, const std::string &Station) const;

private:
    // One measure's last, lowest, highest and mean.
    struct TRange {
        std::size_t Count = 0;
        double Last = 0, Lowest = 0, Highest = 0, Sum = 0;

        void Add(double Value);
        double Mean() const { return Sum / double(Count); }
        // "-23.5 dBFS (lowest -30.1, highest -20.0, mean -24.2)"
        std::string Text(const char *Unit) const;
        // {"last":-23.5,"lowest":-30.1,"highest":-20.0,"mean":-24.2}
        std::string Json() const;
    };
    struct TKind {
        std::size_t Count = 0;
        TTime Last;
        TRange Level, Snr;
    };

    static std::string KindLine(const char *Name, const TKind &Kind);
    static std::string KindJson(const TKind &Kind);

    TTime FStart;
    std::size_t FCount = 0;
    std::array<TKind, 3> FKinds; // SMS, LOC, headerless
};
