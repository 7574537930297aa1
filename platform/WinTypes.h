#pragma once

// The Windows multimedia types, constants and kernel helpers that the audio engine is
// written against, defined here because the Windows headers do not exist on Linux.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using MMRESULT = UINT;
using HWAVEIN = std::uintptr_t; // 0: no device

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes, packed");
using PWaveFormatEx = WAVEFORMATEX *;

constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEHDR {
    char *lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR *lpNext;
    DWORD_PTR reserved;
};
using PWaveHdr = WAVEHDR *;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy, pad[2];
        } smpte;
    } u;
};

constexpr UINT TIME_MS = 0x1;
constexpr UINT TIME_SAMPLES = 0x2;
constexpr UINT TIME_BYTES = 0x4;
constexpr UINT TIME_SMPTE = 0x8;

constexpr int MAXPNAMELEN = 32;
struct WAVEINCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};

// Format bits of WAVEINCAPSA::dwFormats.
constexpr DWORD WAVE_FORMAT_1M08 = 0x001, WAVE_FORMAT_1S08 = 0x002, WAVE_FORMAT_1M16 = 0x004,
                WAVE_FORMAT_1S16 = 0x008, WAVE_FORMAT_2M08 = 0x010, WAVE_FORMAT_2S08 = 0x020,
                WAVE_FORMAT_2M16 = 0x040, WAVE_FORMAT_2S16 = 0x080, WAVE_FORMAT_4M08 = 0x100,
                WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFF; // the preferred input device

// waveInOpen flags.
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_THREAD = 0x00020000;

// Result codes, with the Windows values.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr UINT MAXERRORLENGTH = 256;

// Device notifications.
constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

// Wait results.
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;

// Number * Numerator / Denominator with a 64-bit intermediate, rounded to the
// nearest integer with halves away from zero; -1 when Denominator is 0 or the
// result does not fit 32 bits, as the Windows call does.
constexpr int MulDiv(int Number, int Numerator, int Denominator) {
    if (Denominator == 0)
        return -1;
    std::int64_t Product = static_cast<std::int64_t>(Number) * Numerator;
    std::int64_t Magnitude = Product < 0 ? -Product : Product;
    std::int64_t Divisor = Denominator < 0 ? -static_cast<std::int64_t>(Denominator) : Denominator;
    std::int64_t Quotient = (Magnitude + Divisor / 2) / Divisor;
    bool Negative = (Product < 0) != (Denominator < 0);
    std::int64_t Result = Negative ? -Quotient : Quotient;
    if (Result > INT32_MAX || Result < INT32_MIN)
        return -1;
    return static_cast<int>(Result);
}
