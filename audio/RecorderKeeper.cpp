#include "audio/RecorderKeeper.h"

#include <algorithm>
#include <exception>
#include <utility>

using namespace std::chrono_literals;

namespace {

// How often a recording recorder is looked at: a loss is noticed within this time.
constexpr auto WatchInterval = 500ms;
// The first retry comes soon; each failure doubles the wait, up to the longest. An
// attempt through ALSA's sound server plugin costs one to two milliseconds of processor
// time, so waiting costs under a thousandth of a core, and an input that comes back
// records again within three seconds.
constexpr auto FirstRetry = 250ms;
constexpr auto LongestRetry = 2500ms;

} // namespace

TRecorderKeeper::TRecorderKeeper(TComponent *AOwner, TStartEvent Start)
    : TComponent(AOwner), FStart(std::move(Start)), FBackOff(FirstRetry) {
    FTimer.setSingleShot(true);
    FTimer.callOnTimeout([this] { Check(); });
}

void TRecorderKeeper::Start() {
    try {
        FRecorder = FindRecorder(FStart());
    } catch (...) {
        Retry();
        throw;
    }
    Check();
}

void TRecorderKeeper::Check() {
    if (!FRecorder)
        return TryStart();
    if (FRecorder->Active() && FRecorder->Lost()) {
        FLost = true;
        // Closing it takes a notification in window mode: the next look opens it again.
        SetActiveQuietly(false);
        return Retry();
    }
    if (!FRecorder->Active())
        return Reactivate();
    FBackOff = FirstRetry;
    Watch();
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

void TRecorderKeeper::Watch() {
    FTimer.start(WatchInterval);
}

TWaveAudioIO *TRecorderKeeper::FindRecorder(TComponent *Owner) {
    if (auto *Recorder = dynamic_cast<TWaveAudioIO *>(Owner))
        return Recorder;
    for (int Index = 0; Owner && Index < Owner->ComponentCount(); ++Index)
        if (auto *Recorder = dynamic_cast<TWaveAudioIO *>(Owner->Components(Index)))
            return Recorder;
    return nullptr;
}
