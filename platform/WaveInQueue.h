#pragma once

// What the wave-in back-ends share: the checks of a format and a device number, the
// device name cut to the capability record, the error wording, and the buffers queued
// at an open device with the rules of the wave-in calls.

#include "platform/MessageServices.h"
#include "platform/WaveInService.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>

namespace platform {

bool IsRecordableFormat(const WAVEFORMATEX &Format);
// The checks of an open's flags and format that need no device.
MMRESULT CheckOpenArguments(const WAVEFORMATEX *Format, DWORD Flags);
inline DWORD CallbackType(DWORD Flags) {
    return Flags & (CALLBACK_WINDOW | CALLBACK_THREAD);
}
bool IsWaveMapper(UINT_PTR DeviceID);
// Cuts at a character boundary, so that a UTF-8 name never ends in half a character.
void CopyDeviceName(char (&Target)[MAXPNAMELEN], const std::string &Name);
// Every format bit the capability record knows.
constexpr DWORD AllFormatBits = 0xFFF;
// The sound inputs' wording of every result code.
std::span<const TErrorText> WaveInErrorTexts();

struct TCallbackTarget {
    DWORD_PTR Callback;
    DWORD Type;

    // Without a target (no callback flag) nothing is posted, and that is no failure.
    bool Post(UINT Msg, LPARAM Param) const {
        return Type == 0 || PostCallbackMessage(Callback, Type, Msg, Param);
    }
};

// The buffers of one open device, filled in the order added; each leaves through
// MM_WIM_DATA exactly once. Not locked: its owner guards it.
class TWaveInQueue {
public:
    TWaveInQueue(const WAVEFORMATEX &Format, TCallbackTarget Target)
        : FFormat(Format), FTarget(Target) {}

    bool Notify(UINT Msg, LPARAM Param) const { return FTarget.Post(Msg, Param); }

    MMRESULT Prepare(WAVEHDR &Header);
    MMRESULT Unprepare(WAVEHDR &Header);
    // What Add would refuse the buffer for, without adding it.
    MMRESULT Check(const WAVEHDR &Header) const;
    MMRESULT Add(WAVEHDR &Header);
    // Copies as much as the queued buffers take, returning each one filled; the number
    // of bytes taken.
    std::size_t Fill(const char *Data, std::size_t Bytes);
    // The buffer being filled comes back with what it holds.
    void ReturnPartial();
    void ReturnAll();

    bool Empty() const { return FQueue.empty(); }
    // Whole frames only.
    DWORD Capacity(const WAVEHDR &Header) const;
    DWORD FrontCapacity() const { return FQueue.empty() ? 0 : Capacity(*FQueue.front()); }
    // Bytes as the unit that Time asks for (bytes when it asks for an unknown one).
    void Express(std::uint64_t Bytes, MMTIME &Time) const;

private:
    void ReturnFront();

    const WAVEFORMATEX FFormat;
    const TCallbackTarget FTarget;
    std::deque<WAVEHDR *> FQueue;
};

} // namespace platform
