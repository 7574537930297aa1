#pragma once

// The live receiver of a program without a window: recording from the preferred sound
// input, started as soon as there is one. A missing input at the start is reported
// once and then looked for again every few seconds.

#include "receiver/untFFSKReceiver.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

class TLiveInput : public QObject {
public:
    using TReport = std::function<void(const std::string &Line)>;

    TLiveInput(TDemodulatorKind Demodulator, TDataReiceiveEvent OnReceive, TReport Report);
    // Frees the receiver: the buffers the input still returns are decoded first.
    ~TLiveInput() override;

    // Stops recording (what the input still returns is decoded) and delivers a message
    // still pending.
    void Stop();

private:
    void TryStart();

    TDemodulatorKind FDemodulator;
    TDataReiceiveEvent FOnReceive;
    TReport FReport;
    TFFSKReceiver *FReceiver = nullptr;
    QTimer FRetry;
    bool FWaiting = false;
};
