#pragma once

// Keeps a recorder recording, unattended: when its input is lost, or when it could not
// be started, it is closed and started again, at growing intervals of up to two seconds
// and at once whenever the sound input announces a change (a sound server that answers,
// a new source), until the input is back. The user hears of the first failure only
// (the recorder reports a loss once; a failed first start is thrown to the caller); the
// attempts after it stay quiet. The recorder's own contract is untouched: the keeper
// only sets Active, as any owner may, and listens to OnLost. While the recorder records,
// the keeper does nothing at all.
//
// The keeper lives on the thread that activates the recorder and needs that thread's
// event loop. It never outlives the recorder it watches: free it first.

#include "audio/WaveIO.h"
#include "platform/InputChanges.h"

#include <QTimer>

#include <chrono>
#include <functional>

class TRecorderKeeper : public TComponent {
public:
    // Makes whatever records and starts it, as a first start does; returns the
    // component that owns the recorder (or the recorder itself). Throws when the
    // input is missing.
    using TStartEvent = std::function<TComponent *()>;

    TRecorderKeeper(TComponent *AOwner, TStartEvent Start);

    // The first start: a failure is thrown to the caller, and starting is tried again
    // later, quietly, until it succeeds.
    void Start();
    TWaveAudioIO *Recorder() const { return FRecorder; }

    // Called, with the keeper as sender, when a recorder that lost its input records again.
    std::function<void(TObject *Sender)> OnRecovered;
    // Called, with the keeper as sender, when the keeper finds its recorder's input lost.
    std::function<void(TObject *Sender)> OnLostInput;

protected:
    ~TRecorderKeeper() override;

private:
    void Check();
    void TryStart();
    void Reactivate();
    void SetActiveQuietly(bool Value);
    void Retry();
    // Any thread: a look on the keeper's own thread, as soon as its loop runs.
    void CheckSoon();
    void InputChanged();
    void ListenForLoss(bool Listening);
    static TWaveAudioIO *FindRecorder(TComponent *Owner);

    TStartEvent FStart;
    TWaveAudioIO *FRecorder = nullptr;
    QTimer FTimer;
    std::chrono::milliseconds FBackOff;
    bool FLost = false;
    // After the timer, which it posts to.
    platform::TInputChangeListener FInputChanges;
};
