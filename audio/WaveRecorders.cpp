#include "audio/WaveRecorders.h"

void TLiveAudioRecorder::DoDataReady(const void *Buffer, DWORD BufferSize, bool &FreeIt) {
    if (OnData)
        OnData(this, Buffer, BufferSize, FreeIt);
}
