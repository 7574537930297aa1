#pragma once

// The sound input a program listens through, chosen afresh at every open: the sound
// server's when one answers and has a source; ALSA's, straight from the hardware, when
// no server is there and the machine has a sound card; otherwise there is none
// (MMSYSERR_NODRIVER). A program started before its sound server therefore records
// through the server once it is there, and asking costs nothing while it is not: a
// watch on the server knows the answer beforehand and announces every change
// (AnnounceInputChange). Each open device stays with the back-end that opened it.

#include "platform/AlsaWaveIn.h"
#include "platform/PulseWaveIn.h"
#include "platform/SoundServerWatch.h"
#include "platform/WaveInService.h"

#include <map>
#include <memory>
#include <mutex>

namespace platform {

class TPreferredWaveInService final : public IWaveInService {
public:
    explicit TPreferredWaveInService(TSoundServerLoop Loop);

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
    struct TOpenDevice {
        IWaveInService *BackEnd;
        HWAVEIN Handle;
    };

    // The back-end to use now; nullptr when there is nothing to record from.
    IWaveInService *Choose();
    // Calls Action(back-end, its handle) for the open device WaveIn names.
    template <class TCall> MMRESULT Route(HWAVEIN WaveIn, TCall Action);
    // Opens a device with Opening(back-end, its handle), through the back-end of the moment.
    template <class TOpen>
    MMRESULT OpenThrough(HWAVEIN *WaveIn, const WAVEFORMATEX *Format, DWORD Flags, TOpen Opening);

    TPulseWaveInService FServer;
    TAlsaWaveInService FHardware;
    TSoundServerWatch FWatch;
    std::mutex FLock;
    std::map<HWAVEIN, TOpenDevice> FDevices;
    HWAVEIN FLastHandle = 0;
};

std::unique_ptr<IWaveInService> CreatePreferredWaveInService(TSoundServerLoop Loop);

} // namespace platform
