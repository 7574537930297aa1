#pragma once

// The sound input through a sound server (PulseAudio, or PipeWire through its PulseAudio
// protocol): the wave-in service served by libpulse. WAVE_MAPPER is the server's default
// source; devices 0..n-1 are its sources, whose lasting names are the server's own. Each open
// device has a connection of its own whose events (TPulseLoop: a thread of its own, or the opening
// thread's event loop) fill the queued buffers and post the notifications; they never call the
// engine. No call waits for the server longer than a short time-out, so a server that hangs cannot
// hang the program.

#include "platform/PulseLoop.h"
#include "platform/WaveInHandles.h"
#include "platform/WaveInService.h"

#include <chrono>

namespace platform {

class TPulseCaptureStream;

// The name desktop volume controls show for the program that records ("ZEL Text
// Receiver" unless set). Set before any input is listed or opened.
void SetRecordingProgramName(const std::string &Name);

class TPulseWaveInService final : public IWaveInService {
public:
    explicit TPulseWaveInService(TSoundServerLoop Loop) : FLoop(Loop) {}

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) override;
    MMRESULT Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format, DWORD_PTR Callback,
                  DWORD_PTR Instance, DWORD Flags) override;
    MMRESULT PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) override;
    MMRESULT Start(HWAVEIN WaveIn) override;
    MMRESULT Stop(HWAVEIN WaveIn) override;
    MMRESULT Reset(HWAVEIN WaveIn) override;
    MMRESULT Close(HWAVEIN WaveIn) override;
    MMRESULT GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) override;
    MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) override;
    std::vector<TInputName> Inputs() override;
    MMRESULT OpenNamed(HWAVEIN *WaveIn, const std::string &Name, const WAVEFORMATEX *Format,
                       DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) override;

private:
    TSoundServerLoop FLoop;
    // A record stream from Source ("": the server's default).
    MMRESULT OpenStream(HWAVEIN *WaveIn, const std::string &Source, const WAVEFORMATEX &Format,
                        DWORD_PTR Callback, DWORD Flags,
                        std::chrono::steady_clock::time_point Deadline);

    TWaveInHandles<TPulseCaptureStream> FStreams;
};

} // namespace platform
