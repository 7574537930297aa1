// The test-signal generator, and messages encoded with it and decoded back.
#include "ReceiverProbe.h"
#include "signal/FFSKEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace {

using TDelivery = std::pair<bool, std::string>;

// A header, then 1 to 40 random bytes of any value.
std::string RandomMessage(std::mt19937 &Random) {
    std::string Message = Random() % 2 ? "SMS>" : "LOC>";
    const std::size_t Length = 1 + Random() % 40;
    while (Message.size() < 4 + Length)
        Message += static_cast<char>(Random() % 256);
    return Message;
}

// What the receiver delivers for a message: no header, the last frame space-padded.
TDelivery Expected(const std::string &Message) {
    std::string Text = Message.substr(4);
    Text.resize((Message.size() + 7) / 8 * 8 - 4, ' ');
    return {Message.starts_with("SMS>"), Text};
}

} // namespace

TEST(FFSKEncoder, SplitsMessagesIntoSpacePaddedFrames) {
    EXPECT_EQ(ffsk::MessageFrames("SMS>HELLO"),
              (std::vector<std::string>{";(SMS>HELL", ";(O       "}));
    EXPECT_EQ(ffsk::MessageFrames("LOC>1234"), (std::vector<std::string>{";(LOC>1234"}));
    EXPECT_TRUE(ffsk::MessageFrames("").empty());
}

TEST(FFSKEncoder, KeepsThePhaseContinuousAcrossBitsAndSilence) {
    ffsk::TFFSKEncoder Encoder(1.0, std::numbers::pi / 2);
    Encoder.AddBytes("\x5A\xC3");
    const TSamples &Samples = Encoder.Samples();
    ASSERT_EQ(Samples.size(), 16u * ffsk::SamplesPerBit);
    EXPECT_EQ(Samples[0], 32767); // full scale, clamped
    // The steepest step of an unbroken 1 800 Hz sine at full scale.
    const double MaxStep = 32768 * 2 * std::numbers::pi * 1800 / ffsk::SampleRate + 1;
    for (std::size_t Index = 1; Index < Samples.size(); ++Index)
        EXPECT_LE(std::abs(Samples[Index] - Samples[Index - 1]), MaxStep) << Index;

    ffsk::TFFSKEncoder Paused(1.0, std::numbers::pi / 2);
    Paused.AddByte(0x5A);
    Paused.AddSilence(25);
    Paused.AddByte(0xC3);
    TSamples Resumed(Paused.Samples().begin() + 8 * ffsk::SamplesPerBit + 25,
                     Paused.Samples().end());
    EXPECT_EQ(Resumed, TSamples(Samples.begin() + 8 * ffsk::SamplesPerBit, Samples.end()));
}

TEST(FFSKEncoder, RejectsMeaninglessSettings) {
    EXPECT_THROW(ffsk::TFFSKEncoder(0.0), std::invalid_argument);
    EXPECT_THROW(ffsk::TFFSKEncoder(1.5), std::invalid_argument);
    EXPECT_THROW(ffsk::TFFSKEncoder(NAN), std::invalid_argument);
    EXPECT_THROW(ffsk::TFFSKEncoder(0.5, INFINITY), std::invalid_argument);
    ffsk::TFFSKEncoder Encoder;
    EXPECT_THROW(Encoder.AddBit(2), std::invalid_argument);
    EXPECT_THROW(Encoder.AddPreamble(-1), std::invalid_argument);
    EXPECT_THROW(Encoder.AddSilence(-1), std::invalid_argument);
    EXPECT_TRUE(Encoder.Samples().empty());
}

TEST(RoundTrip, RandomMessagesAreDecodedExactly) {
    std::mt19937 Random(20261208);
    for (double Amplitude : {0.05, 0.3, 0.9, 1.0}) {
        for (double Phase : {0.0, 1.0, 2.5, 4.0, 5.5}) {
            SCOPED_TRACE(testing::Message() << Amplitude << " " << Phase);
            ffsk::TFFSKEncoder Encoder(Amplitude, Phase);
            std::vector<TDelivery> Sent;
            for (int Index = 0; Index < 3; ++Index) {
                const std::string Message = RandomMessage(Random);
                Encoder.AddSilence(static_cast<int>(Random() % 30000));
                Encoder.AddPreamble(16);
                Encoder.AddMessage(Message);
                Sent.push_back(Expected(Message));
            }
            TReceiverProbe Probe;
            Probe.FeedStream(Encoder.Samples());
            Probe.FeedQuietBuffers(1);

            std::vector<TDelivery> Received;
            for (const TEventRecord &Message : Probe.Messages())
                Received.emplace_back(Message.MessIsSMS, Message.Text);
            EXPECT_EQ(Received, Sent);
        }
    }
}
