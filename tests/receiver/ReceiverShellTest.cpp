// The receiver's entry points: levels, buffer sizes and the sample count.
#include "ReceiverProbe.h"
#include "signal/FFSKEncoder.h"

#include <gtest/gtest.h>

namespace {

void Feed(TReceiverProbe &Probe, const std::vector<std::uint8_t> &Bytes, std::uint32_t Size) {
    TFFSKReceiverFeed::Data(*Probe.Receiver, Bytes.data(), Size);
}

// A full buffer of storage: silence where it was recorded, a tone in the stale rest.
std::vector<std::uint8_t> PartlyRecorded(int RecordedSamples) {
    ffsk::TFFSKEncoder Encoder;
    for (int Period = 0; Period < PeriodsPerBuffer; ++Period)
        Encoder.AddBit(1);
    TSamples Samples = Encoder.Samples();
    std::fill_n(Samples.begin(), RecordedSamples, 0);
    return PcmBytes(Samples);
}

} // namespace

TEST(ReceiverShell, LevelsArePassedOnUnchangedWithTheReceiverAsSender) {
    TReceiverProbe Probe;
    for (std::int32_t Level : {0, 100, 57, -1})
        TFFSKReceiverFeed::Level(*Probe.Receiver, Level);
    ASSERT_EQ(Probe.Events.size(), 4u);
    EXPECT_EQ(Probe.Events[0].Level, 0);
    EXPECT_EQ(Probe.Events[1].Level, 100);
    EXPECT_EQ(Probe.Events[2].Level, 57);
    EXPECT_EQ(Probe.Events[3].Level, -1);
    for (const TEventRecord &Event : Probe.Events) {
        EXPECT_EQ(Event.Kind, TEventRecord::TKind::Level);
        EXPECT_EQ(Event.Sender, Probe.Receiver);
    }
}

TEST(ReceiverShell, WithoutHandlersNothingIsReported) {
    TReceiverProbe Probe(false);
    TFFSKReceiverFeed::Level(*Probe.Receiver, 50);
    Probe.FeedStream(FramesSignal({"SMS>ABCD"}));
    Probe.FeedQuietBuffers(1);
    EXPECT_TRUE(Probe.Events.empty());
    EXPECT_EQ(Probe.SamplePosition(), 2u * SamplesPerBuffer);
}

TEST(ReceiverShell, AShortBufferIsDecodedOnlyAsFarAsItWasRecorded) {
    TReceiverProbe Probe;
    Feed(Probe, PartlyRecorded(2000), 2 * 2000 + 1); // the odd byte is no sample
    EXPECT_EQ(Probe.Symbols(), std::string(50, '-'));
    EXPECT_EQ(Probe.SamplePosition(), 2000u);
}

TEST(ReceiverShell, AShortBufferCountsAsQuietOnlyForTheSamplesItHolds) {
    TReceiverProbe Probe;
    Probe.FeedStream(FramesSignal({"SMS>ABCD"}));
    Probe.FeedBuffer(TSamples(100, 8000));
    EXPECT_TRUE(Probe.Messages().empty());
    Probe.FeedQuietBuffers(1);
    ASSERT_EQ(Probe.Messages().size(), 1u);
    EXPECT_EQ(Probe.Messages()[0].Position, 2u * SamplesPerBuffer + 100u);
}

// As recording stops right after a message: whole buffers, a short last one of a few
// samples, then the silence a stop feeds. The frames decided after the short buffer
// still belong to the message.
TEST(ReceiverShell, AMessageBeforeAShortLastBufferIsDeliveredWhole) {
    for (const auto Demodulator : {TDemodulatorKind::Crossing, TDemodulatorKind::Matched}) {
        for (const int LastSamples : {1, 7, 300}) {
            ffsk::TFFSKEncoder Encoder;
            Encoder.AddPreamble(32);
            Encoder.AddMessage("SMS>SENT WHOLE, 3 FRAMES");
            TSamples Signal(3 * SamplesPerBuffer - Encoder.Samples().size());
            Signal.insert(Signal.end(), Encoder.Samples().begin(), Encoder.Samples().end());
            TReceiverProbe Probe(true, Demodulator);
            Probe.FeedStream(Signal);
            Probe.FeedBuffer(TSamples(LastSamples));
            Probe.FeedQuietBuffers(2);
            ASSERT_EQ(Probe.Messages().size(), 1u) << LastSamples;
            EXPECT_EQ(Probe.Messages()[0].Text, "SENT WHOLE, 3 FRAMES") << LastSamples;
        }
    }
}

TEST(ReceiverShell, ALongBufferIsDecodedAsItsFirst9600Samples) {
    TReceiverProbe Probe;
    Feed(Probe, PcmBytes(TSamples(SamplesPerBuffer, 0)), 4 * SamplesPerBuffer);
    EXPECT_EQ(Probe.Symbols().size(), std::size_t(PeriodsPerBuffer));
    EXPECT_EQ(Probe.SamplePosition(), std::uint64_t(SamplesPerBuffer));
}

TEST(ReceiverShell, AMissingBufferHasNoSamples) {
    TReceiverProbe Probe;
    TFFSKReceiverFeed::Data(*Probe.Receiver, nullptr, 2 * SamplesPerBuffer);
    EXPECT_TRUE(Probe.Events.empty());
    EXPECT_EQ(Probe.SamplePosition(), 0u);
}

TEST(ReceiverShell, DestroyingTheReceiverDeliversNoPendingMessage) {
    int Deliveries = 0;
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{});
    Receiver->OnReceive = [&](TObject *, bool, const TRxString &) { ++Deliveries; };
    const std::vector<std::uint8_t> Bytes = PcmBytes(FramesSignal({"SMS>ABCD"}));
    TFFSKReceiverFeed::Data(*Receiver, Bytes.data(), std::uint32_t(Bytes.size()));
    Receiver->Free();
    EXPECT_EQ(Deliveries, 0);
}

TEST(ReceiverShell, AnotherBitSourceTakesOverAtTheNextBufferAndTheTraceGoesOn) {
    TReceiverProbe Probe;
    ffsk::TFFSKEncoder Ones;
    for (int Period = 0; Period < PeriodsPerBuffer; ++Period)
        Ones.AddBit(1);
    Probe.FeedBuffer(Ones.Samples());
    const std::string Before = Probe.Events.back().Text;
    ASSERT_EQ(Before, std::string(40, '1'));
    const std::size_t Switched = Probe.Events.size();
    Probe.Receiver->SetDemodulator(TDemodulatorKind::Matched);
    Probe.FeedBuffer(Ones.Samples());
    ASSERT_GT(Probe.Events.size(), Switched);
    // The same tone: the matched demodulator, new, settles first, after the old bits.
    EXPECT_EQ(Probe.Events[Switched].Text, Before.substr(1) + "-");
    EXPECT_EQ(Probe.Events.back().Text.back(), '1');
}
