// The receiver's hookup to the sound input, apart from the decoder so that programs
// that only decode recordings need no sound or event-loop libraries.
#include "receiver/untFFSKReceiver.h"

#include "audio/WaveRecorders.h"

TFFSKReceiver::TFFSKReceiver(TComponent *AOwner, TDemodulatorKind Demodulator)
    : TFFSKReceiver(AOwner, TOffline{}, Demodulator) {
    // Configured before it is activated: an open recorder refuses a format change.
    FRecorder = new TLiveAudioRecorder(this);
    FRecorder->SetAsync(false);
    FRecorder->SetBufferCount(2);
    FRecorder->SetBufferLength(200);
    FRecorder->SetPCMFormat(Mono16bit48000Hz);
    FRecorder->OnLevel = [this](TObject *Sender, std::int32_t Level) {
        RecorderLevel(Sender, Level);
    };
    FRecorder->OnData = [this](TObject *Sender, const void *Buffer, DWORD BufferSize,
                               bool &FreeIt) { RecorderData(Sender, Buffer, BufferSize, FreeIt); };
    FCloseRecorder = [this] {
        FRecorder->SetActive(false);
        FreeAndNil(FRecorder);
    };
    // A missing input or a refused format throws out of here; a busy device does not.
    FRecorder->SetActive(true);
}
