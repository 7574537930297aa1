// Samples per second that the receiver decodes with either demodulator, with every
// handler assigned, and with only the message handler; the matched one also on noise
// and on silence, as a live receiver hears between messages.
#include "receiver/untFFSKReceiver.h"
#include "signal/ChannelSimulator.h"
#include "signal/FFSKEncoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t SamplesPerBuffer = 9600;
constexpr int TrafficBuffers = 50; // 10 s of audio

std::vector<std::uint8_t> PcmBytes(const std::vector<std::int16_t> &Samples) {
    std::vector<std::uint8_t> Bytes;
    for (const std::int16_t Sample : Samples) {
        Bytes.push_back(static_cast<std::uint8_t>(std::uint16_t(Sample) & 0xFF));
        Bytes.push_back(static_cast<std::uint8_t>(std::uint16_t(Sample) >> 8));
    }
    return Bytes;
}

// Back-to-back messages with no pause, cut into whole 200 ms buffers.
std::vector<std::uint8_t> ContinuousTraffic() {
    ffsk::TFFSKEncoder Encoder(0.5, 0.3);
    for (int Index = 0; Encoder.Samples().size() < TrafficBuffers * SamplesPerBuffer; ++Index) {
        Encoder.AddPreamble(16);
        Encoder.AddMessage((Index % 2 ? "SMS>message " : "LOC>52.1N 4.3E ") +
                           std::to_string(Index));
    }
    return PcmBytes(
        {Encoder.Samples().begin(), Encoder.Samples().begin() + TrafficBuffers * SamplesPerBuffer});
}

// White noise as loud as the traffic's tones: the squelch stays shut.
std::vector<std::uint8_t> Noise() {
    TChannelSettings Channel;
    Channel.SnrDb = 0;
    return PcmBytes(PassThroughChannel(std::vector<std::int16_t>(TrafficBuffers * SamplesPerBuffer),
                                       0.5, Channel));
}

enum class TInput { Traffic, Noise, Silence };

void Decode(benchmark::State &State, TDemodulatorKind Demodulator, bool AllHandlers = true,
            TInput Input = TInput::Traffic) {
    const std::vector<std::uint8_t> Traffic =
        Input == TInput::Silence ? std::vector<std::uint8_t>(TrafficBuffers * SamplesPerBuffer * 2)
        : Input == TInput::Noise ? Noise()
                                 : ContinuousTraffic();
    constexpr std::uint32_t BufferBytes = SamplesPerBuffer * 2;
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Demodulator);
    Receiver->OnReceive = [](TObject *, bool, const TRxString &) {};
    if (AllHandlers) {
        Receiver->OnBitReceive = [](TObject *, const TRxString &) {};
        Receiver->OnInputLevel = [](TObject *, std::int32_t) {};
    }
    for (auto _ : State)
        for (std::size_t Offset = 0; Offset < Traffic.size(); Offset += BufferBytes)
            TFFSKReceiverFeed::Data(*Receiver, Traffic.data() + Offset, BufferBytes);
    State.SetItemsProcessed(State.iterations() * TrafficBuffers * SamplesPerBuffer);
    Receiver->Free();
}

void DecodeContinuousTraffic(benchmark::State &State) {
    Decode(State, TDemodulatorKind::Crossing);
}

// As zel-decode runs it: no bit trace asked for.
void DecodeContinuousTrafficMessagesOnly(benchmark::State &State) {
    Decode(State, TDemodulatorKind::Crossing, false);
}

void DecodeContinuousTrafficMatched(benchmark::State &State) {
    Decode(State, TDemodulatorKind::Matched);
}

// A live receiver on a silent input: every sample zero.
void DecodeSilenceMatched(benchmark::State &State) {
    Decode(State, TDemodulatorKind::Matched, true, TInput::Silence);
}

// A live receiver on a radio's noise between messages.
void DecodeNoiseMatched(benchmark::State &State) {
    Decode(State, TDemodulatorKind::Matched, true, TInput::Noise);
}

} // namespace

BENCHMARK(DecodeContinuousTraffic)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeContinuousTrafficMessagesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeContinuousTrafficMatched)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeNoiseMatched)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeSilenceMatched)->Unit(benchmark::kMillisecond);
