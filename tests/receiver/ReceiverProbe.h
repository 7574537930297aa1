#pragma once

#include "receiver/untFFSKReceiver.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using TSamples = std::vector<std::int16_t>;

constexpr int SamplesPerBuffer = 9600;
constexpr int SamplesPerPeriod = 40;
constexpr int PeriodsPerBuffer = SamplesPerBuffer / SamplesPerPeriod;

// One event as the receiver fired it, with the sample position at that moment.
struct TEventRecord {
    enum class TKind { Receive, Bits, Level };
    TKind Kind;
    TObject *Sender;
    bool MessIsSMS;
    std::string Text; // message text or bit trace
    std::int32_t Level;
    std::uint64_t Position;
};

// An offline receiver that records every event it fires, in order.
class TReceiverProbe {
public:
    explicit TReceiverProbe(bool WithHandlers = true,
                            TDemodulatorKind Demodulator = TDemodulatorKind::Crossing);
    ~TReceiverProbe();
    TReceiverProbe(const TReceiverProbe &) = delete;
    TReceiverProbe &operator=(const TReceiverProbe &) = delete;

    void AssignHandlers();
    // One buffer of exactly these samples, reported with its own size.
    void FeedBuffer(const TSamples &Samples);
    // Whole buffers; the last is filled up with its final sample.
    void FeedStream(const TSamples &Samples);
    // Buffers holding the level last fed, so nothing crosses zero.
    void FeedQuietBuffers(int Count);

    std::vector<TEventRecord> Messages() const;
    // The newest symbol of every trace, in order: one per bit period.
    std::string Symbols() const;
    std::uint64_t SamplePosition() const;

    TFFSKReceiver *Receiver;
    std::vector<TEventRecord> Events;

private:
    std::int16_t FLastSample = 0;
};

// Little-endian 16-bit samples, as the sound input delivers them.
std::vector<std::uint8_t> PcmBytes(const TSamples &Samples);

// A square wave whose level flips exactly where a test wants a zero crossing.
class TSquareWave {
public:
    // One 40-sample period; the level flips at each given offset into it.
    void AddPeriod(const std::vector<int> &FlipOffsets);
    void AddQuietPeriods(int Count);
    // Bit periods well clear of the phase-advance window: 3 crossings for a 1, 2 for a 0.
    void AddBit(int Bit);
    void AddBits(const std::string &Digits); // "0" and "1" characters
    void AddBytes(const std::string &Bytes);
    void AddFrame(const std::string &Payload) { AddBytes(";(" + Payload); }
    // Quiet periods up to the next buffer boundary.
    void PadToBuffer();

    // The samples so far; the wave then goes on from where it stood.
    TSamples TakeSamples();

private:
    std::int16_t FLevel = 8000;
    TSamples FSamples;
};

// Two quiet periods, then one frame per payload, back to back.
TSamples FramesSignal(std::initializer_list<std::string> Payloads);
