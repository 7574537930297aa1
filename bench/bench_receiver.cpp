// Samples per second that the receiver decodes with either demodulator, with every
// handler assigned, and with only the message handler.
#include "receiver/untFFSKReceiver.h"
#include "tools/FFSKEncoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t SamplesPerBuffer = 9600;
constexpr int TrafficBuffers = 50; // 10 s of audio

// Back-to-back messages with no pause, cut into whole 200 ms buffers.
std::vector<std::uint8_t> ContinuousTraffic() {
    ffsk::TFFSKEncoder Encoder(0.5, 0.3);
    for (int Index = 0; Encoder.Samples().size() < TrafficBuffers * SamplesPerBuffer; ++Index) {
        Encoder.AddPreamble(16);
        Encoder.AddMessage((Index % 2 ? "SMS>message " : "LOC>52.1N 4.3E ") +
                           std::to_string(Index));
    }
    std::vector<std::uint8_t> Bytes;
    for (std::size_t Index = 0; Index < TrafficBuffers * SamplesPerBuffer; ++Index) {
        const auto Sample = static_cast<std::uint16_t>(Encoder.Samples()[Index]);
        Bytes.push_back(static_cast<std::uint8_t>(Sample & 0xFF));
        Bytes.push_back(static_cast<std::uint8_t>(Sample >> 8));
    }
    return Bytes;
}

void Decode(benchmark::State &State, TDemodulatorKind Demodulator, bool AllHandlers = true,
            bool Silent = false) {
    const std::vector<std::uint8_t> Traffic =
        Silent ? std::vector<std::uint8_t>(TrafficBuffers * SamplesPerBuffer * 2)
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
    Decode(State, TDemodulatorKind::Matched, true, true);
}

} // namespace

BENCHMARK(DecodeContinuousTraffic)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeContinuousTrafficMessagesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeContinuousTrafficMatched)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeSilenceMatched)->Unit(benchmark::kMillisecond);
