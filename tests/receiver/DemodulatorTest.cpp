// Bit periods, crossings and symbols: what the demodulator makes of the samples.
#include "ReceiverProbe.h"
#include "signal/FFSKEncoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::string SymbolsOf(const TSamples &Samples) {
    TReceiverProbe Probe;
    Probe.FeedBuffer(Samples);
    return Probe.Symbols();
}

std::string ToneSymbols(int Bit, double StartPhase) {
    ffsk::TFFSKEncoder Encoder(0.5, StartPhase);
    for (int Period = 0; Period < PeriodsPerBuffer; ++Period)
        Encoder.AddBit(Bit);
    return SymbolsOf(Encoder.Samples());
}

// 1 200 Hz: 10 samples High, then 20 Low, 20 High and so on; it flips at the 11th
// and 31st sample of each bit period, well clear of the phase-advance window.
TSamples SquareWave(std::int16_t High, std::int16_t Low) {
    TSamples Samples;
    for (int Index = 0; Index < SamplesPerBuffer; ++Index)
        Samples.push_back(((Index + 10) / 20) % 2 ? Low : High);
    return Samples;
}

// Where the first bit period ends when the only early sample below zero is the k-th.
std::uint64_t FirstPeriodEndWithCandidateAt(std::initializer_list<int> SampleNumbers) {
    TSamples Samples(SamplesPerPeriod * 2, 0);
    for (int Number : SampleNumbers)
        Samples[Number - 1] = -1000;
    TReceiverProbe Probe;
    Probe.FeedBuffer(Samples);
    return Probe.Events.front().Position;
}

} // namespace

TEST(Demodulator, SilenceYieldsNoBitsAndFillsTheTraceWithDashes) {
    TReceiverProbe Probe;
    Probe.FeedBuffer(TSamples(SamplesPerBuffer, 0));
    EXPECT_EQ(Probe.Symbols(), std::string(PeriodsPerBuffer, '-'));
    EXPECT_EQ(Probe.Events.back().Text, std::string(40, '-'));
    EXPECT_TRUE(Probe.Messages().empty());
}

TEST(Demodulator, SteadyTonesGiveOneSymbolPerPeriodAtAnyStartingPhase) {
    for (double Phase : {0.0, 0.4, 1.3, 2.2, 3.1, 3.9, 4.8, 5.9}) {
        SCOPED_TRACE(Phase);
        const std::string Low = ToneSymbols(0, Phase).substr(2);
        EXPECT_TRUE(Low == std::string(Low.size(), '0') || Low == std::string(Low.size(), '_'))
            << Low;
        const std::string High = ToneSymbols(1, Phase).substr(2);
        EXPECT_EQ(High, std::string(High.size(), '1'));
    }
}

TEST(Demodulator, ConstantNegativeInputCrossesOnceAtTheTenthSample) {
    TReceiverProbe Probe;
    Probe.FeedBuffer(TSamples(SamplesPerBuffer, -1000));
    const std::string Symbols = Probe.Symbols();
    EXPECT_EQ(Symbols, "_" + std::string(Symbols.size() - 1, '-'));
    // The rejected first sample pulled the clock forward: the first period is 33 long.
    EXPECT_EQ(Probe.Events[0].Position, 33u);
    EXPECT_EQ(Probe.Events[1].Position, 73u);
}

TEST(Demodulator, SamplesWithin256OfFullScaleAreNeverCrossings) {
    const std::string NoCrossings(PeriodsPerBuffer, '-');
    const std::string Zeros(PeriodsPerBuffer, '0');
    EXPECT_EQ(SymbolsOf(SquareWave(32767, -32768)), NoCrossings);
    EXPECT_EQ(SymbolsOf(SquareWave(32512, -32513)), NoCrossings);
    EXPECT_EQ(SymbolsOf(SquareWave(32511, -32512)), Zeros);

    // A clipped square wave crosses only at its transitional samples.
    TSamples Clipped = SquareWave(32767, -32768);
    for (std::size_t Index = 9; Index < Clipped.size(); Index += 20)
        Clipped[Index] = Clipped[Index] > 0 ? -100 : 100;
    EXPECT_EQ(SymbolsOf(Clipped), Zeros);
}

TEST(Demodulator, AnEarlyCandidateAdvancesTheBitClockEvenWhenRejected) {
    for (int Number = 1; Number <= 7; ++Number)
        EXPECT_EQ(FirstPeriodEndWithCandidateAt({Number}), Number + 32u) << Number;
    EXPECT_EQ(FirstPeriodEndWithCandidateAt({8}), 40u);
    // Only the first candidate of a period moves the clock.
    EXPECT_EQ(FirstPeriodEndWithCandidateAt({2, 5}), 34u);
}

TEST(Demodulator, AnEarlyAcceptedCrossingAdvancesTheBitClock) {
    TSamples Samples(2 * SamplesPerPeriod + 3, 0);
    Samples.resize(SamplesPerBuffer, -1000); // first below zero: the 4th of period 3
    TReceiverProbe Probe;
    Probe.FeedBuffer(Samples);
    EXPECT_EQ(Probe.Symbols().substr(0, 4), "--_-");
    EXPECT_EQ(Probe.Events[2].Position, 2u * SamplesPerPeriod + 4 + 32);
}

TEST(Demodulator, CrossingCountsAndCarriesDecideTheSymbols) {
    const std::vector<std::pair<std::vector<int>, char>> Periods = {
        {{}, '-'},
        {{8, 18, 28, 38}, '^'}, // its last crossing is carried into the next period
        {{10, 30}, '1'},
        {{15}, '_'}, // one crossing is owed by the next period
        {{8, 20, 32}, '0'},
        {{15}, '_'},
        {{10, 30}, '_'},
        {{}, '-'},
        {{8, 18, 28, 38}, '^'},
        {{8, 18, 28, 38}, '-'}, // 5 with the carry
        {{}, '-'},
        {{19, 39}, '0'}, // a crossing at the last sample counts where it falls
        {{19, 39}, '0'},
        {{10, 19, 20}, '_'}, // back across zero after 9 samples is too soon to count
        {{}, '-'},
    };
    TSquareWave Wave;
    std::string Expected;
    for (const auto &[Flips, Symbol] : Periods) {
        Wave.AddPeriod(Flips);
        Expected += Symbol;
    }
    EXPECT_EQ(SymbolsOf(Wave.TakeSamples()), Expected);
}

TEST(Demodulator, TraceHoldsTheLast40SymbolsOldestFirst) {
    TSquareWave Wave;
    Wave.AddBytes("ZEL text traces");
    TReceiverProbe Probe;
    Probe.FeedBuffer(Wave.TakeSamples());
    const std::string Symbols = Probe.Symbols();
    ASSERT_EQ(Symbols.size(), 120u);
    for (std::size_t Period = 0; Period < Symbols.size(); ++Period) {
        const std::size_t Length = std::min<std::size_t>(Period + 1, 40);
        EXPECT_EQ(Probe.Events[Period].Text, Symbols.substr(Period + 1 - Length, Length));
    }
}
