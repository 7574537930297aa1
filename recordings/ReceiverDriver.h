#pragma once

// Feeds a stream of 48 000 Hz samples to an offline FFSK receiver exactly as the
// live recorder does, and prints what the receiver reports as lines.

#include "output/LineWriter.h"
#include "output/MessageJson.h"
#include "receiver/untFFSKReceiver.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

struct TDriverOptions {
    bool Events = false;     // also "level" and "bits" lines
    bool Timestamps = false; // message lines start with their time in the recording
    TDemodulatorKind Demodulator = TDemodulatorKind::Crossing;
    bool Json = false; // every line is a JSON object, with the time as "offset"
    // Each message's signal report: as fields of its JSON object, or after its plain
    // line when Report is set.
    bool Report = false;
    std::string Station; // named in each JSON object, unless empty
    // Each message line is written as soon as it is decoded, for someone watching a
    // decode that waits for its input; otherwise lines are written in blocks.
    bool FlushEachMessage = true;
};

class TReceiverDriver {
public:
    TReceiverDriver(const TDriverOptions &Options, TLineWriter &Output);
    ~TReceiverDriver();
    TReceiverDriver(const TReceiverDriver &) = delete;
    TReceiverDriver &operator=(const TReceiverDriver &) = delete;

    void Feed(std::span<const std::int16_t> Samples);
    // Decodes the last, partial buffer padded with silence, then as much silence as
    // it takes for a pending message to be delivered.
    void Finish();

    static constexpr std::size_t SamplesPerBuffer = 9600;

private:
    void AttachHandlers(const TDriverOptions &Options);
    void ReceiverMessage(bool MessIsSMS, bool Headed, const TRxString &Text);
    // The receiver's current sample position, as "offset" of a JSON object.
    TMessageWhen Offset() const;
    void DecodeFilledBuffer();
    void DecodeBuffer(std::span<const std::int16_t, SamplesPerBuffer> Samples);

    TLineWriter &FOutput;
    TFFSKReceiver *FReceiver;
    bool FTimestamps;
    bool FJson;
    bool FReport;
    bool FFlushEachMessage;
    std::string FStation;
    std::array<std::int16_t, SamplesPerBuffer> FBuffer{};
    std::size_t FFill = 0;
    std::uint64_t FMessageCount = 0;
};

// Seconds as "S.mmm", rounded to the nearest millisecond.
std::string FormatSamplePosition(std::uint64_t SamplePosition);
