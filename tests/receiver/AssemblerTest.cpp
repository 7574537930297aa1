// Frames in the bit stream, messages from frames, and when messages are delivered.
#include "ReceiverProbe.h"

#include <gtest/gtest.h>

#include <bitset>

#include <string>
#include <utility>
#include <vector>

namespace {

using TDelivery = std::pair<bool, std::string>; // MessIsSMS, RxString
using TDeliveries = std::vector<TDelivery>;

TDeliveries DeliveriesOf(const TReceiverProbe &Probe) {
    TDeliveries Result;
    for (const TEventRecord &Message : Probe.Messages())
        Result.emplace_back(Message.MessIsSMS, Message.Text);
    return Result;
}

// The frames, then silence until the message times out.
TDeliveries Receive(std::initializer_list<std::string> Payloads) {
    TReceiverProbe Probe;
    Probe.FeedStream(FramesSignal(Payloads));
    Probe.FeedQuietBuffers(1);
    return DeliveriesOf(Probe);
}

constexpr std::uint64_t BufferEnd(int Buffers) {
    return std::uint64_t(Buffers) * SamplesPerBuffer;
}

} // namespace

TEST(Assembler, WorkedExampleIsDeliveredAtTheEndOfTheSecondQuietBuffer) {
    TReceiverProbe Probe;
    Probe.FeedStream(FramesSignal({"SMS>ABCD"})); // the bytes 3B 28 'SMS>ABCD'
    EXPECT_TRUE(Probe.Messages().empty());
    Probe.FeedQuietBuffers(1);

    ASSERT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "ABCD"}}));
    // After every OnBitReceive of that buffer: it is the very last event.
    ASSERT_EQ(Probe.Events.size(), 2u * PeriodsPerBuffer + 1);
    EXPECT_EQ(Probe.Events.back().Kind, TEventRecord::TKind::Receive);
    EXPECT_EQ(Probe.Events.back().Position, BufferEnd(2));
    for (const TEventRecord &Event : Probe.Events)
        EXPECT_EQ(Event.Sender, Probe.Receiver);

    EXPECT_EQ(Receive({"LOC>ABCD"}), (TDeliveries{{false, "ABCD"}}));
}

TEST(Assembler, FramesJoinIntoMessagesOfTheKindTheirHeaderNames) {
    EXPECT_EQ(Receive({"SMS>ABCD", "EFGHIJKL"}), (TDeliveries{{true, "ABCDEFGHIJKL"}}));
    // A header while a message is pending delivers that message first.
    EXPECT_EQ(Receive({"SMS>ABCD", "SMS>EFGH"}), (TDeliveries{{true, "ABCD"}, {true, "EFGH"}}));
    EXPECT_EQ(Receive({"LOC>1234", "SMS>ABCD", "LOC>5678"}),
              (TDeliveries{{false, "1234"}, {true, "ABCD"}, {false, "5678"}}));
}

TEST(Assembler, OnlyAnExactHeaderAtTheStartOfAPayloadIsAHeader) {
    EXPECT_EQ(Receive({"SMS>ABCD", "sms>EFGH", "xLOC>IJK"}),
              (TDeliveries{{true, "ABCDsms>EFGHxLOC>IJK"}}));
    // Before any header the kind is LOC, and the first 4 characters go regardless.
    EXPECT_EQ(Receive({"ABCDEFGH"}), (TDeliveries{{false, "EFGH"}}));
}

TEST(Assembler, EveryByteValueIsKept) {
    const std::string Payload("SMS>\0\xFF\x80\0", 8);
    EXPECT_EQ(Receive({Payload}), (TDeliveries{{true, Payload.substr(4)}}));
}

TEST(Assembler, KindAndClearedTextSurviveADeliveryWithoutHandlers) {
    TReceiverProbe Probe(false);
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    Wave.AddFrame("SMS>LOST");
    Wave.PadToBuffer();
    Wave.AddQuietPeriods(PeriodsPerBuffer);
    Probe.FeedStream(Wave.TakeSamples()); // delivered to nobody

    Probe.AssignHandlers();
    Wave.AddFrame("12345678");
    Probe.FeedStream(Wave.TakeSamples());
    Probe.FeedQuietBuffers(1);
    EXPECT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "5678"}}));
}

TEST(Assembler, AFrameBetweenTheTwoBufferEndsRestartsTheCount) {
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    Wave.AddFrame("SMS>ABCD");
    Wave.PadToBuffer();
    Wave.AddFrame("EFGHIJKL");
    Wave.PadToBuffer();
    TReceiverProbe Probe;
    Probe.FeedStream(Wave.TakeSamples());
    EXPECT_TRUE(Probe.Messages().empty());
    Probe.FeedQuietBuffers(1);
    ASSERT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "ABCDEFGHIJKL"}}));
    EXPECT_EQ(Probe.Messages()[0].Position, BufferEnd(3));
}

TEST(Assembler, AFrameMaySpanTwoBuffers) {
    TSquareWave Wave;
    Wave.AddQuietPeriods(PeriodsPerBuffer - 40);
    Wave.AddFrame("LOC>SPLT");
    TReceiverProbe Probe;
    Probe.FeedStream(Wave.TakeSamples());
    Probe.FeedQuietBuffers(1);
    ASSERT_EQ(DeliveriesOf(Probe), (TDeliveries{{false, "SPLT"}}));
    EXPECT_EQ(Probe.Messages()[0].Position, BufferEnd(3));
}

TEST(Assembler, APeriodWithoutABitDoesNotBreakAFrame) {
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    Wave.AddBytes(";(SM");
    Wave.AddQuietPeriods(1);
    Wave.AddBytes("S>ABCD");
    TReceiverProbe Probe;
    Probe.FeedStream(Wave.TakeSamples());
    Probe.FeedQuietBuffers(1);
    EXPECT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "ABCD"}}));
}

TEST(Assembler, TheRegisterIsClearedAfterAFrame) {
    // The two zero bits that begin ';' are already in the cleared register, so the
    // next frame is complete 78 bits later ('G' ends in two 1 bits that must be gone).
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    Wave.AddFrame("SMS>ABCG");
    Wave.AddBits("11101100101000");
    Wave.AddBytes("LOC>WXYZ");
    TReceiverProbe Probe;
    Probe.FeedStream(Wave.TakeSamples());
    Probe.FeedQuietBuffers(1);
    EXPECT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "ABCG"}, {false, "WXYZ"}}));
}

TEST(Assembler, AFreshRegisterCompletesAFrameAfter79Or78Bits) {
    // ';' begins with two 0 bits, which an empty register already holds.
    std::string Bits;
    for (const char Byte : std::string(";(SMS>ABCD"))
        Bits += std::bitset<8>(static_cast<unsigned char>(Byte)).to_string();
    for (const std::size_t Dropped : {1u, 2u}) {
        TSquareWave Wave;
        Wave.AddQuietPeriods(2);
        Wave.AddBits(Bits.substr(Dropped));
        TReceiverProbe Probe;
        Probe.FeedStream(Wave.TakeSamples());
        Probe.FeedQuietBuffers(1);
        EXPECT_EQ(DeliveriesOf(Probe), (TDeliveries{{true, "ABCD"}})) << Dropped;
    }
}

TEST(Assembler, OnReceiveComesBeforeTheOnBitReceiveOfTheSamePeriod) {
    TReceiverProbe Probe;
    Probe.FeedStream(FramesSignal({"SMS>ABCD", "SMS>EFGH"}));
    const auto &Events = Probe.Events;
    const auto Delivery = std::find_if(Events.begin(), Events.end(), [](const TEventRecord &E) {
        return E.Kind == TEventRecord::TKind::Receive;
    });
    ASSERT_NE(Delivery, Events.end());
    EXPECT_EQ(Delivery->Text, "ABCD");
    EXPECT_EQ(Delivery->Position, (2 + 160) * 40u); // the last bit of the second frame
    ASSERT_NE(Delivery + 1, Events.end());
    EXPECT_EQ((Delivery + 1)->Kind, TEventRecord::TKind::Bits);
    EXPECT_EQ((Delivery + 1)->Position, Delivery->Position);
    EXPECT_EQ((Delivery - 1)->Position + SamplesPerPeriod, Delivery->Position);
}

// Without a trace handler the trace is kept in bulk; one attached on a delivery in the
// middle of a buffer still sees every trace as one attached all along, at the same samples.
TEST(Assembler, ATraceHandlerAttachedOnADeliverySeesTheTracesItWouldHaveSeen) {
    const TSamples Signal = FramesSignal({"SMS>ABCD", "SMS>EFGH", "EFGHIJKL"});
    TReceiverProbe Always;
    Always.FeedStream(Signal);
    TReceiverProbe Late(false);
    Late.Receiver->OnReceive = [&Late](TObject *, bool, const TRxString &) {
        Late.Receiver->OnBitReceive = [&Late](TObject *, const TRxString &Bits) {
            Late.Events.push_back(
                {TEventRecord::TKind::Bits, nullptr, false, Bits, 0, Late.SamplePosition()});
        };
    };
    Late.FeedStream(Signal);

    std::vector<std::pair<std::string, std::uint64_t>> Expected, Seen;
    bool Delivered = false;
    for (const TEventRecord &Event : Always.Events) {
        Delivered = Delivered || Event.Kind == TEventRecord::TKind::Receive;
        if (Delivered && Event.Kind == TEventRecord::TKind::Bits)
            Expected.emplace_back(Event.Text, Event.Position);
    }
    for (const TEventRecord &Event : Late.Events)
        Seen.emplace_back(Event.Text, Event.Position);
    ASSERT_GT(Expected.size(), 100u);
    EXPECT_EQ(Seen, Expected);
}

TEST(Assembler, AMessageIsDeliveredWithoutWaitingOnceItHolds65536Bytes) {
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    Wave.AddFrame("SMS>ABCD");
    for (int Frame = 0; Frame < 65536 / 8; ++Frame)
        Wave.AddFrame("EFGHIJKL");
    Wave.AddFrame("MNOPQRST");
    TReceiverProbe Probe;
    Probe.FeedStream(Wave.TakeSamples());
    // Delivered by the frame that took it past the limit; what follows starts anew, as
    // after a time-out.
    ASSERT_EQ(Probe.Messages().size(), 1u);
    EXPECT_EQ(Probe.Messages()[0].Text.size(), 65540u);
    Probe.FeedQuietBuffers(1);
    EXPECT_EQ(DeliveriesOf(Probe).back(), (TDelivery{true, "QRST"}));
}
