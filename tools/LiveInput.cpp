#include "tools/LiveInput.h"

#include "audio/WaveRecorders.h"

#include <array>
#include <cstdint>
#include <exception>

namespace {

constexpr int RetryMilliseconds = 2000;
// A pending message goes out at the second buffer end without a new frame.
constexpr int QuietBuffersToDeliver = 2;
constexpr std::size_t SamplesPerBuffer = 9600;

} // namespace

TLiveInput::TLiveInput(TDemodulatorKind Demodulator, TDataReiceiveEvent OnReceive, TReport Report)
    : FDemodulator(Demodulator), FOnReceive(std::move(OnReceive)), FReport(std::move(Report)) {
    FRetry.setSingleShot(true);
    FRetry.setInterval(RetryMilliseconds);
    connect(&FRetry, &QTimer::timeout, this, &TLiveInput::TryStart);
    TryStart();
}

TLiveInput::~TLiveInput() {
    FreeAndNil(FReceiver);
}

void TLiveInput::TryStart() {
    try {
        FReceiver = new TFFSKReceiver(nullptr, FDemodulator);
    } catch (const std::exception &Error) {
        if (!FWaiting)
            FReport(std::string("no sound input (") + Error.what() + "); waiting for one");
        FWaiting = true;
        FRetry.start();
        return;
    }
    FReceiver->OnReceive = FOnReceive;
    if (FWaiting)
        FReport("sound input found; listening");
    FWaiting = false;
}

void TLiveInput::Stop() {
    FRetry.stop();
    if (!FReceiver)
        return;
    // The recorder is the receiver's own component; closing it leaves the receiver whole.
    for (int Index = 0; Index < FReceiver->ComponentCount(); ++Index)
        if (auto *Recorder = dynamic_cast<TLiveAudioRecorder *>(FReceiver->Components(Index)))
            Recorder->SetActive(false);
    static const std::array<std::int16_t, SamplesPerBuffer> Silence{};
    for (int Buffer = 0; Buffer < QuietBuffersToDeliver; ++Buffer)
        TFFSKReceiverFeed::Data(*FReceiver, Silence.data(), sizeof Silence);
}
