#pragma once

// A receiver kept listening on the current wave-in service the way the window keeps it,
// with what a user would see: the messages it delivers and the error boxes.

#include "TestSignal.h"

#include "platform/MessageServices.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TComponent;
class TRecorderKeeper;
class TFFSKReceiver;

class TKeptReceiver {
public:
    // Starts at once; a failed first start counts as the error box it would show.
    TKeptReceiver();
    ~TKeptReceiver();
    TKeptReceiver(const TKeptReceiver &) = delete;
    TKeptReceiver &operator=(const TKeptReceiver &) = delete;

    // Runs the event loop until Condition holds; false after Timeout.
    static bool WaitFor(const std::function<bool()> &Condition,
                        std::chrono::milliseconds Timeout = std::chrono::seconds(20));
    // Waits until a buffer of audio arrives; how long that took, or nothing.
    std::optional<std::chrono::milliseconds> WaitForAudio(std::chrono::milliseconds Timeout);

    const std::vector<std::string> &Errors() const { return FErrors; }
    const std::vector<TDelivery> &Deliveries() const { return FDeliveries; }
    unsigned Buffers() const { return FBuffers; }
    unsigned Recoveries() const { return FRecoveries; }

private:
    TComponent *StartReceiver();

    platform::TExceptionHandler FPreviousHandler;
    TRecorderKeeper *FKeeper = nullptr;
    TFFSKReceiver *FReceiver = nullptr;
    std::vector<std::string> FErrors;
    std::vector<TDelivery> FDeliveries;
    unsigned FBuffers = 0;
    unsigned FRecoveries = 0;
};
