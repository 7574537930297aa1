#include "audio/RecorderKeeper.h"

#include <algorithm>
#include <exception>
#include <utility>

using namespace std::chrono_literals;

namespace {

// The first retry comes soon; each failure doubles the wait, up to the longest. While
// nothing answers, an attempt costs about half a millisecond of processor time, the
// wake-up included (the sound input knows beforehand that there is nothing): under
// three hundredths of a percent of a core. An input that returns without announcing
// itself (a sound card plugged back) records again within this time and a buffer.
constexpr auto FirstRetry = 250ms;
constexpr auto LongestRetry = 2000ms;

} // namespace

TRecorderKeeper::TRecorderKeeper(TComponent *AOwner, TStartEvent Start)
    : TComponent(AOwner), FStart(std::move(Start)), FBackOff(FirstRetry), FInputChanges([this] {
          QMetaObject::invokeMethod(
              &FTimer, [this] { InputChanged(); }, Qt::QueuedConnection);
      }) {
    FTimer.setSingleShot(true);
    FTimer.callOnTimeout([this] { Check(); });
}

TRecorderKeeper::~TRecorderKeeper() {
    ListenForLoss(false);
}

void TRecorderKeeper::Start() {
    try {
        FRecorder = FindRecorder(FStart());
    } catch (...) {
        Retry();
        throw;
    }
    ListenForLoss(true);
    Check();
}

// Handlers of an active recorder are set under its lock.
void TRecorderKeeper::ListenForLoss(bool Listening) {
    if (!FRecorder)
        return;
    FRecorder->Lock();
    if (Listening)
        FRecorder->OnLost = [this](TObject *) { CheckSoon(); };
    else
        FRecorder->OnLost = nullptr;
    FRecorder->Unlock();
}

void TRecorderKeeper::CheckSoon() {
    QMetaObject::invokeMethod(
        &FTimer, [this] { FTimer.start(0); }, Qt::QueuedConnection);
}

// Only a keeper that waits for the next attempt makes it now.
void TRecorderKeeper::InputChanged() {
    if (!FTimer.isActive())
        return;
    FTimer.stop();
    Check();
}

void TRecorderKeeper::Check() {
    if (!FRecorder)
        return TryStart();
    if (FRecorder->Active() && FRecorder->Lost()) {
        if (!std::exchange(FLost, true) && OnLostInput)
            OnLostInput(this);
        // Closing it takes a notification in window mode: the next look opens it again.
        SetActiveQuietly(false);
        return Retry();
    }
    if (!FRecorder->Active())
        return Reactivate();
    FBackOff = FirstRetry;
}

void TRecorderKeeper::TryStart() {
    try {
        Start();
    } catch (const std::exception &) {
    }
}

// The user heard of the failure already.
void TRecorderKeeper::SetActiveQuietly(bool Value) {
    try {
        FRecorder->SetActive(Value);
    } catch (const std::exception &) {
    }
}

void TRecorderKeeper::Reactivate() {
    SetActiveQuietly(true);
    if (!FRecorder->Active() || FRecorder->Lost())
        return Retry();
    if (std::exchange(FLost, false) && OnRecovered)
        OnRecovered(this);
    Check();
}

void TRecorderKeeper::Retry() {
    FTimer.start(FBackOff);
    FBackOff = std::min<std::chrono::milliseconds>(FBackOff * 2, LongestRetry);
}

TWaveAudioIO *TRecorderKeeper::FindRecorder(TComponent *Owner) {
    if (auto *Recorder = dynamic_cast<TWaveAudioIO *>(Owner))
        return Recorder;
    for (int Index = 0; Owner && Index < Owner->ComponentCount(); ++Index)
        if (auto *Recorder = dynamic_cast<TWaveAudioIO *>(Owner->Components(Index)))
            return Recorder;
    return nullptr;
}
