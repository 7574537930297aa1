#pragma once

// The sound input as the engine sees it: the semantics of the Windows wave-in calls
// and notifications, whatever back-end serves them. Every back-end guarantees:
//  - open (without WAVE_FORMAT_QUERY) posts MM_WIM_OPEN to the target afterwards;
//    with WAVE_FORMAT_QUERY it only answers whether the format can be recorded;
//  - each added buffer comes back exactly once in MM_WIM_DATA (parameter: the
//    header) with dwBytesRecorded set; buffers are filled in the order added;
//  - stop returns the buffer being filled with its partial count; reset returns every
//    queued buffer (a partly filled one with its count, the others with 0);
//  - close is refused (WAVERR_STILLPLAYING) while buffers are queued, and posts
//    MM_WIM_CLOSE afterwards;
//  - notifications reach the target through PostCallbackMessage and are never
//    handled on the back-end's own thread.

#include "platform/WinTypes.h"

#include <span>
#include <string>
#include <vector>

namespace platform {

// A back-end's own wording for a result code.
struct TErrorText {
    MMRESULT Code;
    const char *Text;
};

// Copies the wording for Code into Text, cut to TextSize: the answer of GetErrorText.
// A code without wording gives an empty text and MMSYSERR_BADERRNUM.
MMRESULT CopyErrorText(std::span<const TErrorText> Texts, MMRESULT Code, char *Text, UINT TextSize);

// An input as people name it: the back-end's lasting name for it (a sound server's
// source name, an ALSA PCM name with its card and device), which stays the same while
// device numbers change as inputs come and go, and its description, both uncut.
struct TInputName {
    std::string Lasting;
    std::string Description;
};

class IWaveInService {
public:
    virtual ~IWaveInService() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) = 0;
    virtual MMRESULT Open(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                          DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) = 0;
    virtual MMRESULT PrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) = 0;
    virtual MMRESULT AddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) = 0;
    virtual MMRESULT Start(HWAVEIN WaveIn) = 0;
    virtual MMRESULT Stop(HWAVEIN WaveIn) = 0;
    virtual MMRESULT Reset(HWAVEIN WaveIn) = 0;
    virtual MMRESULT Close(HWAVEIN WaveIn) = 0;
    virtual MMRESULT GetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) = 0;
    virtual MMRESULT GetErrorText(MMRESULT Code, char *Text, UINT TextSize) = 0;

    // Beyond the Windows calls: inputs by name. The inputs offered now, by device number.
    // By default the capability records' names serve as both names.
    virtual std::vector<TInputName> Inputs();
    // Opens the input whose lasting name is Name as Open opens a device; when none is
    // offered, MMSYSERR_NODRIVER. By default through the device number it has now.
    virtual MMRESULT OpenNamed(HWAVEIN *WaveIn, const std::string &Name, const WAVEFORMATEX *Format,
                               DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags);
};

// The process-wide service the engine uses. The program installs the ALSA back-end;
// tests install others. Returns the service it replaces.
IWaveInService *SetWaveInService(IWaveInService *Service);
IWaveInService &WaveInService();

} // namespace platform

// The Windows call names, forwarding to the current service.
inline UINT waveInGetNumDevs() {
    return platform::WaveInService().GetNumDevs();
}
inline MMRESULT waveInGetDevCapsA(UINT_PTR DeviceID, WAVEINCAPSA *Caps, UINT CapsSize) {
    return platform::WaveInService().GetDevCaps(DeviceID, Caps, CapsSize);
}
inline MMRESULT waveInOpen(HWAVEIN *WaveIn, UINT DeviceID, const WAVEFORMATEX *Format,
                           DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags) {
    return platform::WaveInService().Open(WaveIn, DeviceID, Format, Callback, Instance, Flags);
}
inline MMRESULT waveInPrepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return platform::WaveInService().PrepareHeader(WaveIn, Header, HeaderSize);
}
inline MMRESULT waveInUnprepareHeader(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return platform::WaveInService().UnprepareHeader(WaveIn, Header, HeaderSize);
}
inline MMRESULT waveInAddBuffer(HWAVEIN WaveIn, WAVEHDR *Header, UINT HeaderSize) {
    return platform::WaveInService().AddBuffer(WaveIn, Header, HeaderSize);
}
inline MMRESULT waveInStart(HWAVEIN WaveIn) {
    return platform::WaveInService().Start(WaveIn);
}
inline MMRESULT waveInStop(HWAVEIN WaveIn) {
    return platform::WaveInService().Stop(WaveIn);
}
inline MMRESULT waveInReset(HWAVEIN WaveIn) {
    return platform::WaveInService().Reset(WaveIn);
}
inline MMRESULT waveInClose(HWAVEIN WaveIn) {
    return platform::WaveInService().Close(WaveIn);
}
inline MMRESULT waveInGetPosition(HWAVEIN WaveIn, MMTIME *Time, UINT TimeSize) {
    return platform::WaveInService().GetPosition(WaveIn, Time, TimeSize);
}
inline MMRESULT waveInGetErrorTextA(MMRESULT Code, char *Text, UINT TextSize) {
    return platform::WaveInService().GetErrorText(Code, Text, TextSize);
}
