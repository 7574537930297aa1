#pragma once

// The ready-to-use recorder: a wave-in device that hands every recorded buffer to
// OnData, after OnLevel for the same buffer.

#include "audio/WaveIn.h"

class TLiveAudioRecorder : public TWaveAudioIn {
public:
    using TWaveAudioIn::TWaveAudioIn;

    // Once per returned buffer that holds recorded data, also while the recorder is
    // being destroyed. FreeIt comes in True: left so, the block is reused and must not
    // be touched after the handler returns; set False, the handler owns the block and
    // frees it with std::free.
    TWaveAudioDataReadyEvent OnData;

protected:
    void DoDataReady(const void *Buffer, DWORD BufferSize, bool &FreeIt) override;
};
