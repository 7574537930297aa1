#pragma once

// The live receiver of a program without a window: recording from the preferred sound
// input, kept recording through losses of the input, each message with its signal
// report. A missing input at the start is reported once, and the receiver starts when
// the input appears.

#include "receiver/untFFSKReceiver.h"

#include <QObject>

#include <functional>
#include <string>

class TRecorderKeeper;

class TLiveInput : public QObject {
public:
    using TReport = std::function<void(const std::string &Line)>;
    // Called with true when the input records (at the start too), false when it is
    // missing or lost.
    using TListening = std::function<void(bool Listening)>;

    TLiveInput(TDemodulatorKind Demodulator, TDataReiceiveEvent OnReceive, TReport Report,
               TListening OnListening = {});
    // Frees the receiver: the buffers the input still returns are decoded first.
    ~TLiveInput() override;

    // Stops recording (what the input still returns is decoded) and delivers a message
    // still pending.
    void Stop();

private:
    TComponent *StartReceiver();

    TDemodulatorKind FDemodulator;
    TDataReiceiveEvent FOnReceive;
    TReport FReport;
    TListening FOnListening;
    TRecorderKeeper *FKeeper = nullptr;
    TFFSKReceiver *FReceiver = nullptr;
    bool FWaiting = false;
};
