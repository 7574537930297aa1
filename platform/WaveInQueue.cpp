#include "platform/WaveInQueue.h"

#include <algorithm>
#include <cstring>

namespace platform {

bool IsRecordableFormat(const WAVEFORMATEX &Format) {
    const std::uint64_t BlockAlign = Format.nChannels * Format.wBitsPerSample / 8;
    return Format.wFormatTag == WAVE_FORMAT_PCM &&
           (Format.wBitsPerSample == 8 || Format.wBitsPerSample == 16) && Format.nChannels > 0 &&
           Format.nSamplesPerSec > 0 && Format.nBlockAlign == BlockAlign &&
           Format.nAvgBytesPerSec == Format.nSamplesPerSec * BlockAlign;
}

MMRESULT CheckOpenArguments(const WAVEFORMATEX *Format, DWORD Flags) {
    if ((Flags & ~(WAVE_FORMAT_QUERY | CALLBACK_WINDOW | CALLBACK_THREAD)) ||
        CallbackType(Flags) == (CALLBACK_WINDOW | CALLBACK_THREAD))
        return MMSYSERR_INVALFLAG;
    if (!Format)
        return MMSYSERR_INVALPARAM;
    return IsRecordableFormat(*Format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

bool IsWaveMapper(UINT_PTR DeviceID) {
    return DeviceID == WAVE_MAPPER || DeviceID == static_cast<UINT_PTR>(-1);
}

void CopyDeviceName(char (&Target)[MAXPNAMELEN], const std::string &Name) {
    std::size_t Length = std::min<std::size_t>(Name.size(), MAXPNAMELEN - 1);
    if (Length < Name.size())
        while (Length > 0 && (static_cast<unsigned char>(Name[Length]) & 0xC0) == 0x80)
            --Length;
    std::memcpy(Target, Name.data(), Length);
    Target[Length] = '\0';
}

std::span<const TErrorText> WaveInErrorTexts() {
    static constexpr TErrorText Texts[] = {
        {MMSYSERR_NOERROR, "The sound input did what was asked."},
        {MMSYSERR_ERROR, "The sound input failed."},
        {MMSYSERR_BADDEVICEID, "The chosen sound input does not exist."},
        {MMSYSERR_ALLOCATED, "The sound input is in use by another program."},
        {MMSYSERR_INVALHANDLE, "The sound input is not open."},
        {MMSYSERR_NODRIVER, "No sound input was found."},
        {MMSYSERR_NOMEM, "There is not enough memory to record sound."},
        {MMSYSERR_INVALFLAG, "The sound input was given an option it does not know."},
        {MMSYSERR_INVALPARAM, "The sound input was given an invalid value."},
        {WAVERR_BADFORMAT, "The sound input cannot record in this format."},
        {WAVERR_STILLPLAYING, "The sound input still holds recording buffers."},
        {WAVERR_UNPREPARED, "The recording buffer has not been prepared."},
    };
    return Texts;
}

MMRESULT TWaveInQueue::Prepare(WAVEHDR &Header) {
    Header.dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT TWaveInQueue::Unprepare(WAVEHDR &Header) {
    if (Header.dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    Header.dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT TWaveInQueue::Check(const WAVEHDR &Header) const {
    if (!Header.lpData || Capacity(Header) == 0)
        return MMSYSERR_INVALPARAM;
    if (!(Header.dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (Header.dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

MMRESULT TWaveInQueue::Add(WAVEHDR &Header) {
    if (MMRESULT Refused = Check(Header))
        return Refused;
    Header.dwFlags = (Header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    Header.dwBytesRecorded = 0;
    FQueue.push_back(&Header);
    return MMSYSERR_NOERROR;
}

std::size_t TWaveInQueue::Fill(const char *Data, std::size_t Bytes) {
    std::size_t Taken = 0;
    while (Taken < Bytes && !FQueue.empty()) {
        WAVEHDR &Header = *FQueue.front();
        const DWORD Count = static_cast<DWORD>(
            std::min<std::size_t>(Bytes - Taken, Capacity(Header) - Header.dwBytesRecorded));
        std::memcpy(Header.lpData + Header.dwBytesRecorded, Data + Taken, Count);
        Header.dwBytesRecorded += Count;
        Taken += Count;
        if (Header.dwBytesRecorded == Capacity(Header))
            ReturnFront();
    }
    return Taken;
}

void TWaveInQueue::ReturnPartial() {
    if (!FQueue.empty() && FQueue.front()->dwBytesRecorded > 0)
        ReturnFront();
}

void TWaveInQueue::ReturnAll() {
    while (!FQueue.empty())
        ReturnFront();
}

DWORD TWaveInQueue::Capacity(const WAVEHDR &Header) const {
    return Header.dwBufferLength - Header.dwBufferLength % FFormat.nBlockAlign;
}

void TWaveInQueue::Express(std::uint64_t Bytes, MMTIME &Time) const {
    if (Time.wType == TIME_MS) {
        Time.u.ms = static_cast<DWORD>(Bytes * 1000 / FFormat.nAvgBytesPerSec);
    } else if (Time.wType == TIME_SAMPLES) {
        Time.u.sample = static_cast<DWORD>(Bytes / FFormat.nBlockAlign);
    } else {
        Time.wType = TIME_BYTES;
        Time.u.cb = static_cast<DWORD>(Bytes);
    }
}

// The notifications leave in the order the buffers were filled.
void TWaveInQueue::ReturnFront() {
    WAVEHDR *Header = FQueue.front();
    FQueue.pop_front();
    Header->dwFlags = (Header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(MM_WIM_DATA, reinterpret_cast<LPARAM>(Header));
}

} // namespace platform
