#include "service/LiveInput.h"

#include "audio/RecorderKeeper.h"

#include <array>
#include <cstdint>
#include <exception>
#include <utility>

namespace {

// A pending message goes out at the second buffer end without a new frame.
constexpr int QuietBuffersToDeliver = 2;
constexpr std::size_t SamplesPerBuffer = 9600;

} // namespace

TLiveInput::TLiveInput(TDemodulatorKind Demodulator, TDataReiceiveEvent OnReceive, TReport Report,
                       TListening OnListening)
    : FDemodulator(Demodulator), FOnReceive(std::move(OnReceive)), FReport(std::move(Report)),
      FOnListening(OnListening ? std::move(OnListening) : [](bool) {}) {
    FKeeper = new TRecorderKeeper(nullptr, [this] { return StartReceiver(); });
    FKeeper->OnRecovered = [this](TObject *) {
        FReport("sound input back; listening");
        FOnListening(true);
    };
    FKeeper->OnLostInput = [this](TObject *) { FOnListening(false); };
    try {
        FKeeper->Start();
        FOnListening(true);
    } catch (const std::exception &Error) {
        FReport(std::string("no sound input (") + Error.what() + "); waiting for one");
        FWaiting = true;
        FOnListening(false);
    }
}

TLiveInput::~TLiveInput() {
    FreeAndNil(FKeeper);
    FreeAndNil(FReceiver);
}

TComponent *TLiveInput::StartReceiver() {
    FReceiver = new TFFSKReceiver(nullptr, FDemodulator);
    // Every message is measured: a summary may be asked for at any time.
    FReceiver->SetReporting(true);
    FReceiver->OnReceive = FOnReceive;
    if (std::exchange(FWaiting, false)) {
        FReport("sound input found; listening");
        FOnListening(true);
    }
    return FReceiver;
}

void TLiveInput::Stop() {
    if (!FKeeper)
        return;
    // The keeper goes first, so that it does not start again what is stopped here.
    TWaveAudioIO *Recorder = FKeeper->Recorder();
    FreeAndNil(FKeeper);
    if (!FReceiver)
        return;
    if (Recorder)
        Recorder->SetActive(false);
    static const std::array<std::int16_t, SamplesPerBuffer> Silence{};
    for (int Buffer = 0; Buffer < QuietBuffersToDeliver; ++Buffer)
        TFFSKReceiverFeed::Data(*FReceiver, Silence.data(), sizeof Silence);
}
