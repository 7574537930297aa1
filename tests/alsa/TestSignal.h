#pragma once

// Test traffic for recordings: FFSK messages played into the private sound server, and
// a receiver that decodes what was recorded.

#include "platform/WinTypes.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TFFSKReceiver;

// The messages as FFSK, each after a preamble, with quiet gaps around them.
std::vector<std::int16_t> MessageSignal(const std::vector<std::string> &Messages);

// Plays samples (48 000 Hz mono) with paplay into the server's sink, in the background.
class TPlayback {
public:
    explicit TPlayback(const std::vector<std::int16_t> &Samples);
    ~TPlayback();
    TPlayback(const TPlayback &) = delete;
    TPlayback &operator=(const TPlayback &) = delete;

    // True once paplay has ended.
    bool Finished();
    // Waits for paplay to end; true when it played everything.
    bool Wait();

private:
    std::string FPath;
    bool Reap(int Options);

    pid_t FPlayer = -1;
    int FExitCode = -1;
};

using TDelivery = std::pair<bool, std::string>; // MessIsSMS, text

// What the receiver delivers for a sent message: no header, the last frame space-padded.
TDelivery ExpectedDelivery(const std::string &Message);

class TDecoder {
public:
    TDecoder();
    ~TDecoder();
    TDecoder(const TDecoder &) = delete;
    TDecoder &operator=(const TDecoder &) = delete;

    void Feed(const char *Buffer, DWORD Bytes);
    const std::vector<TDelivery> &Deliveries() const { return FDeliveries; }

private:
    TFFSKReceiver *FReceiver;
    std::vector<TDelivery> FDeliveries;
};
