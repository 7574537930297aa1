#pragma once

// The open devices of a wave-in back-end by handle. Handles are never reused, so a
// stale one is refused instead of reaching a newer device.

#include "platform/WinTypes.h"

#include <map>
#include <memory>
#include <mutex>

namespace platform {

template <class TStream> class TWaveInHandles {
public:
    std::shared_ptr<TStream> Find(HWAVEIN WaveIn) {
        std::lock_guard Guard(FLock);
        auto Found = FStreams.find(WaveIn);
        return Found == FStreams.end() ? nullptr : Found->second;
    }

    HWAVEIN Register(std::shared_ptr<TStream> Stream) {
        std::lock_guard Guard(FLock);
        FStreams.emplace(++FLastHandle, std::move(Stream));
        return FLastHandle;
    }

    // The call on the open device that WaveIn names; MMSYSERR_INVALHANDLE for any other.
    template <class TCall> MMRESULT Call(HWAVEIN WaveIn, TCall Action) {
        std::shared_ptr<TStream> Stream = Find(WaveIn);
        return Stream ? Action(*Stream) : MMSYSERR_INVALHANDLE;
    }

    // The same for a call about one buffer, which must be given.
    template <class TCall> MMRESULT CallWithHeader(HWAVEIN WaveIn, WAVEHDR *Header, TCall Action) {
        return Call(WaveIn, [&](TStream &Stream) {
            return Header ? (Stream.*Action)(*Header) : MMSYSERR_INVALPARAM;
        });
    }

    void Forget(HWAVEIN WaveIn) {
        std::lock_guard Guard(FLock);
        FStreams.erase(WaveIn);
    }

    // Takes the stream out when its BeginClose agrees; the result of BeginClose.
    MMRESULT TakeForClose(HWAVEIN WaveIn, std::shared_ptr<TStream> &Stream) {
        std::lock_guard Guard(FLock);
        auto Found = FStreams.find(WaveIn);
        if (Found == FStreams.end())
            return MMSYSERR_INVALHANDLE;
        if (MMRESULT Result = Found->second->BeginClose())
            return Result;
        Stream = std::move(Found->second);
        FStreams.erase(Found);
        return MMSYSERR_NOERROR;
    }

private:
    std::mutex FLock;
    std::map<HWAVEIN, std::shared_ptr<TStream>> FStreams;
    HWAVEIN FLastHandle = 0;
};

} // namespace platform
