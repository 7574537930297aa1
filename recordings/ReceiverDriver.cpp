#include "recordings/ReceiverDriver.h"

#include "audio/WaveUtils.h"
#include "cli/MessageText.h"
#include "output/SignalReportFormat.h"
#include "recordings/SampleSource.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "the receiver takes little-endian samples straight from memory");

namespace {

// A message still pending when the input ends is delivered at the second buffer end
// without a new frame; one buffer more covers a frame completed by the bit period
// that straddles the end of the input.
constexpr int MaxTrailingBuffers = 3;

} // namespace

TReceiverDriver::TReceiverDriver(const TDriverOptions &Options, TLineWriter &Output)
    : FOutput(Output),
      FReceiver(new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Options.Demodulator)),
      FTimestamps(Options.Timestamps), FJson(Options.Json), FReport(Options.Report),
      FFlushEachMessage(Options.FlushEachMessage), FStation(Options.Station) {
    AttachHandlers(Options);
}

TReceiverDriver::~TReceiverDriver() {
    FReceiver->Free();
}

void TReceiverDriver::AttachHandlers(const TDriverOptions &Options) {
    FReceiver->SetReporting(FJson || FReport);
    FReceiver->OnReceive = [this](TObject *, bool MessIsSMS, const TRxString &Text) {
        ReceiverMessage(MessIsSMS, FReceiver->MessageHeaded(), Text);
    };
    if (!Options.Events)
        return;
    FReceiver->OnInputLevel = [this](TObject *, std::int32_t Level) {
        FOutput.Line(FJson
                         ? EventJson(Offset(), "level", "percent", std::to_string(Level), FStation)
                         : "level " + std::to_string(Level));
    };
    FReceiver->OnBitReceive = [this](TObject *, const TRxString &Bits) {
        FOutput.Line(FJson ? EventJson(Offset(), "bits", "trace", JsonLatin1String(Bits), FStation)
                           : "bits " + EscapeBytes(Bits));
    };
}

TMessageWhen TReceiverDriver::Offset() const {
    return {"offset", FormatSamplePosition(TFFSKReceiverFeed::SamplePosition(*FReceiver))};
}

void TReceiverDriver::ReceiverMessage(bool MessIsSMS, bool Headed, const TRxString &Text) {
    ++FMessageCount;
    const TMessageWhen When = Offset();
    std::string Line;
    if (FJson) {
        Line = MessageJson(When, MessIsSMS, Headed, Text, FStation, FReceiver->MessageReport());
    } else {
        if (FTimestamps)
            Line = When.Value + " ";
        Line += MessageLine(MessIsSMS, Headed, Text);
        if (FReport && FReceiver->MessageReport())
            Line += '\t' + SignalReportText(*FReceiver->MessageReport()); // never in the text
    }
    // Messages are rare and someone may be watching a live decode for them.
    if (FFlushEachMessage)
        FOutput.UrgentLine(Line);
    else
        FOutput.Line(Line);
}

void TReceiverDriver::Feed(std::span<const std::int16_t> Samples) {
    // Whole buffers straight from the caller's memory; only the remainder is copied.
    for (; FFill == 0 && Samples.size() >= SamplesPerBuffer;
         Samples = Samples.subspan(SamplesPerBuffer))
        DecodeBuffer(Samples.first<SamplesPerBuffer>());
    while (!Samples.empty()) {
        const std::size_t Taken = std::min(Samples.size(), SamplesPerBuffer - FFill);
        std::copy_n(Samples.begin(), Taken, FBuffer.begin() + FFill);
        FFill += Taken;
        Samples = Samples.subspan(Taken);
        if (FFill == SamplesPerBuffer)
            DecodeFilledBuffer();
    }
}

void TReceiverDriver::Finish() {
    if (FFill > 0)
        DecodeFilledBuffer();
    // Silence after the input only counts if it delivers something.
    FOutput.BeginTentative();
    for (int Buffer = 0; Buffer < MaxTrailingBuffers; ++Buffer) {
        const std::uint64_t MessagesBefore = FMessageCount;
        DecodeFilledBuffer();
        if (FMessageCount != MessagesBefore)
            FOutput.KeepTentative();
    }
    FOutput.EndTentative();
}

// The part of the buffer not filled is silence.
void TReceiverDriver::DecodeFilledBuffer() {
    std::fill(FBuffer.begin() + FFill, FBuffer.end(), 0);
    FFill = 0;
    DecodeBuffer(FBuffer);
}

// Level first, then the data, as the recorder hands over each buffer; the level is
// measured only for someone who shows it.
void TReceiverDriver::DecodeBuffer(std::span<const std::int16_t, SamplesPerBuffer> Samples) {
    constexpr DWORD BufferBytes = SamplesPerBuffer * sizeof(std::int16_t);
    if (FReceiver->OnInputLevel) {
        WAVEFORMATEX Format{};
        PCMFormatToWaveFormat(Format, Mono16bit48000Hz);
        TFFSKReceiverFeed::Level(*FReceiver, WavePeakLevel(Samples.data(), BufferBytes, Format));
    }
    TFFSKReceiverFeed::Data(*FReceiver, Samples.data(), BufferBytes);
}

std::string FormatSamplePosition(std::uint64_t SamplePosition) {
    const std::uint64_t Milliseconds =
        (SamplePosition * 1000 + ReceiverSampleRate / 2) / ReceiverSampleRate;
    char Text[32];
    std::snprintf(Text, sizeof Text, "%llu.%03llu",
                  static_cast<unsigned long long>(Milliseconds / 1000),
                  static_cast<unsigned long long>(Milliseconds % 1000));
    return Text;
}
