#pragma once

// A sound input device of the platform's wave-in service: opens in a PCM format,
// keeps BufferCount buffers of BufferLength milliseconds circulating, hands each
// filled buffer to the level, raw-data and data events and queues it again, pauses,
// resumes and closes.

#include "audio/WaveIO.h"

class TWaveAudioIn : public TWaveAudioIO {
public:
    explicit TWaveAudioIn(TComponent *AOwner);

    // Changes only while the device is not open.
    TPCMFormat PCMFormat() const { return FPCMFormat; }
    void SetPCMFormat(TPCMFormat Value);

    UINT GetNumDevs() override;
    std::string GetDeviceName() override;
    TPCMFormats GetDeviceFormats() override;
    DWORD GetPosition() override;
    std::string GetErrorText(MMRESULT Code) override;
    MMRESULT ValidateDeviceID(DWORD ID) override;
    bool IsFormatSupported(const WAVEFORMATEX *pWaveFormat) override;
    // Queues a caller's block once; with FreeIt the engine frees it (std::free) when
    // done. When it comes back it is replaced by a block of the engine's.
    virtual bool AddUserBuffer(char *Buffer, DWORD BufferSize, bool FreeIt);

    // Supplies the format when PCMFormat is nonePCM (see WaveIO.h for the record's memory).
    TWaveAudioGetFormatEvent OnFormat;

protected:
    void WimOpen() override;
    void WimClose() override;
    void WimData(PWaveHdr Header) override;
    bool GetPaused() override { return FPaused; }
    void GetWaveFormat(PWaveFormatEx &pWaveFormat, bool &FreeIt) override;
    bool InternalOpen() override;
    bool InternalClose() override;
    bool InternalPause() override;
    bool InternalResume() override;
    bool IsDeviceOpen() override { return FWaveIn != 0; }
    void QueueBuffers() override;
    virtual bool QueueHeader(PWaveHdr Header);
    virtual void DoDataReady(const void *Buffer, DWORD BufferSize, bool &FreeIt);

private:
    bool OpenDevice(const WAVEFORMATEX &WaveFormat);
    bool CloseDevice();
    bool ResetAndClose();
    void HandleReturnedBuffer(PWaveHdr &Header);
    void DeliverBuffer(WAVEHDR &Header);
    bool Requeue(PWaveHdr &Header);
    void CloseIfDrained();
    void Unprepare(PWaveHdr Header);

    std::atomic<HWAVEIN> FWaveIn = 0;
    std::atomic<bool> FPaused = false;
    TPCMFormat FPCMFormat = Mono16bit8000Hz;
};
