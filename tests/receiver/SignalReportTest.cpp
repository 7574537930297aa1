// The signal report of delivered messages: as accurate as operators were promised on
// the channel simulator's signals, and without effect on what is decoded.
#include "receiver/untFFSKReceiver.h"
#include "signal/ChannelSimulator.h"
#include "signal/FFSKEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using TSamples = std::vector<std::int16_t>;
constexpr std::size_t BufferSamples = 9600;

struct TDelivery {
    std::string Text;
    std::uint64_t Position;
    std::optional<TSignalReport> Report;
    bool operator==(const TDelivery &Other) const {
        return Text == Other.Text && Position == Other.Position;
    }
};

// Three messages of 2 to 4 frames, as delivered: without header, the last frame padded.
const std::string Texts[] = {"two frames!!", "52.1N 4.3E, 3 frames",
                             "four frames, the longest one"};

// The messages, each after a pause and a preamble at its own phase, as zel-encode sends.
TSamples Traffic(double Level, const TChannelSettings &Channel, std::uint32_t Seed) {
    std::mt19937 Random(Seed);
    TSamples Clean;
    for (const std::string &Message : {"SMS>" + Texts[0], "LOC>" + Texts[1], "SMS>" + Texts[2]}) {
        ffsk::TFFSKEncoder Encoder(Level, 0.1 * double(Random() % 60), ChannelKeying(Channel));
        Encoder.AddSilence(20000 + int(Random() % 9000));
        Encoder.AddPreamble(32);
        Encoder.AddMessage(Message);
        Encoder.AddPreamble(8); // the tail that keeps the last bit
        Clean.insert(Clean.end(), Encoder.Samples().begin(), Encoder.Samples().end());
    }
    return PassThroughChannel(Clean, Level, Channel);
}

std::vector<TDelivery> Decode(TSamples Samples, TDemodulatorKind Kind, bool Reporting) {
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Kind);
    Receiver->SetReporting(Reporting);
    std::vector<TDelivery> Deliveries;
    Receiver->OnReceive = [&](TObject *, bool, const TRxString &Text) {
        Deliveries.push_back(
            {Text, TFFSKReceiverFeed::SamplePosition(*Receiver), Receiver->MessageReport()});
    };
    Samples.resize((Samples.size() / BufferSamples + 3) * BufferSamples, 0);
    for (std::size_t Start = 0; Start < Samples.size(); Start += BufferSamples)
        TFFSKReceiverFeed::Data(*Receiver, Samples.data() + Start, BufferSamples * 2);
    Receiver->Free();
    return Deliveries;
}

TChannelSettings Channel(std::optional<double> Snr, bool Band = false, bool Fm = false,
                         double OffsetHz = 0, double ClockPercent = 0) {
    TChannelSettings Settings;
    Settings.SnrDb = Snr;
    Settings.BandLimitedNoise = Band;
    Settings.Deemphasis = Fm;
    Settings.ToneOffsetHz = OffsetHz;
    Settings.ClockPercent = ClockPercent;
    Settings.Seed = 7;
    return Settings;
}

} // namespace

// Every report within the promised bounds: level 0.5 dB, SNR 1.5 dB, offset 2 Hz, clock
// 300 ppm. The truth for level and SNR is the tones as they arrive: the level reported
// without noise (an FM receiver's de-emphasis changes it). The simulator lays each bit on
// whole samples, which a bit clock that is off bends by up to half a sample: its noise is
// not checked there.
TEST(SignalReport, MeetsItsAccuracyOnSimulatedChannels) {
    using enum TDemodulatorKind;
    const struct {
        TDemodulatorKind Kind;
        double Level;
        TChannelSettings Channel;
    } Rows[] = {
        {Crossing, 0.3, Channel(24)},
        {Crossing, 0.03, Channel(30, true)},
        {Matched, 0.5, Channel(30, false, true)},
        {Crossing, 0.3, Channel(30, false, false, 0, 2)},
        {Matched, 0.3, Channel(8)},
        {Matched, 0.3, Channel(12, true)},
        {Matched, 0.3, Channel(12, false, true)},
        {Matched, 0.01, Channel(30)},
        {Matched, 0.3, Channel(20, false, false, 50)},
        {Matched, 0.3, Channel(20, true, false, -20, -2)},
    };
    for (const auto &Row : Rows) {
        const ffsk::TToneKeying Keying = ChannelKeying(Row.Channel);
        TChannelSettings Quiet = Row.Channel;
        Quiet.SnrDb.reset();
        const auto Clean = Decode(Traffic(Row.Level, Quiet, 3), Row.Kind, true);
        const auto Noisy = Decode(Traffic(Row.Level, Row.Channel, 3), Row.Kind, true);
        ASSERT_EQ(Noisy.size(), 3u) << "SNR " << *Row.Channel.SnrDb;
        ASSERT_EQ(Clean.size(), 3u);
        for (std::size_t Index = 0; Index < Noisy.size(); ++Index) {
            const TSignalReport &Report = Noisy[Index].Report.value();
            const double Arriving = Clean[Index].Report.value().LevelDbfs;
            SCOPED_TRACE("SNR " + std::to_string(*Row.Channel.SnrDb) + ", level " +
                         std::to_string(Row.Level) + ", message " + std::to_string(Index));
            // A wrong bit would spoil the fit.
            ASSERT_EQ(Noisy[Index].Text, Texts[Index]);
            ASSERT_EQ(Clean[Index].Text, Texts[Index]);
            EXPECT_NEAR(Report.LevelDbfs, Arriving, 0.5);
            if (Row.Channel.ClockPercent == 0) {
                EXPECT_NEAR(Report.SnrDb,
                            *Row.Channel.SnrDb + Arriving - 20 * std::log10(Row.Level), 1.5);
            }
            EXPECT_NEAR(Report.OffsetHz, (Keying.ZeroHz - 1200 + Keying.OneHz - 1800) / 2, 2);
            EXPECT_NEAR(Report.ShiftHz, Keying.OneHz - Keying.ZeroHz, 15);
            EXPECT_NEAR(Report.ClockPpm, Row.Channel.ClockPercent * 1e4, 300);
            EXPECT_GT(Report.Confidence, 0.0);
            EXPECT_LE(Report.Confidence, 1.0);
        }
    }
}

// Without noise: the exact level and tones, SNR only as a lower bound, every decision
// clear. Samples at full scale are told apart from samples just under it.
TEST(SignalReport, ShowsACleanSignalAndClipping) {
    for (const TDemodulatorKind Kind : {TDemodulatorKind::Crossing, TDemodulatorKind::Matched}) {
        for (const TDelivery &Delivery :
             Decode(Traffic(0.3, Channel(std::nullopt), 5), Kind, true)) {
            const TSignalReport &Report = Delivery.Report.value();
            EXPECT_NEAR(Report.LevelDbfs, 20 * std::log10(0.3), 0.05);
            EXPECT_TRUE(Report.SnrLowerBound);
            EXPECT_EQ(Report.SnrDb, 30);
            EXPECT_NEAR(Report.OffsetHz, 0, 0.1);
            EXPECT_NEAR(Report.ShiftHz, 600, 1);
            EXPECT_NEAR(Report.ClockPpm, 0, 50);
            EXPECT_GT(Report.Confidence, 0.95);
            EXPECT_FALSE(Report.Clipped);
        }
        const auto Loud = Decode(Traffic(1.0, Channel(25), 5), Kind, true);
        ASSERT_FALSE(Loud.empty());
        EXPECT_TRUE(Loud.front().Report.value().Clipped);
    }
}

// The same messages at the same samples whether reports are made or not; none is made
// unless asked for.
TEST(SignalReport, ChangesNoDecision) {
    for (const TDemodulatorKind Kind : {TDemodulatorKind::Crossing, TDemodulatorKind::Matched})
        for (const double Snr : {14.0, 24.0}) {
            const TSamples Samples = Traffic(0.3, Channel(Snr, true), 11);
            const auto Plain = Decode(Samples, Kind, false);
            EXPECT_EQ(Decode(Samples, Kind, true), Plain) << Snr;
            for (const TDelivery &Delivery : Plain)
                EXPECT_FALSE(Delivery.Report.has_value());
        }
}

// A message of one frame is measured too; reporting stays on when the demodulator is
// changed, and comes on between buffers for the messages after.
TEST(SignalReport, KeepsToTheReceiversSettings) {
    ffsk::TFFSKEncoder Encoder(0.3);
    for (int Message = 0; Message < 2; ++Message) {
        Encoder.AddSilence(30000);
        Encoder.AddPreamble(32);
        Encoder.AddMessage("LOC>52N");
        Encoder.AddPreamble(8);
    }
    TSamples Samples = Encoder.Samples();
    Samples.resize(10 * BufferSamples, 0);
    auto *Receiver = new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{});
    std::vector<std::optional<TSignalReport>> Reports;
    Receiver->OnReceive = [&](TObject *, bool, const TRxString &) {
        Reports.push_back(Receiver->MessageReport());
    };
    for (std::size_t Buffer = 0; Buffer < 10; ++Buffer) {
        if (Buffer == 5) {
            Receiver->SetReporting(true);
            Receiver->SetDemodulator(TDemodulatorKind::Matched);
        }
        TFFSKReceiverFeed::Data(*Receiver, Samples.data() + Buffer * BufferSamples,
                                BufferSamples * 2);
    }
    Receiver->Free();
    ASSERT_EQ(Reports.size(), 2u);
    EXPECT_FALSE(Reports[0].has_value());
    ASSERT_TRUE(Reports[1].has_value());
    EXPECT_NEAR(Reports[1]->LevelDbfs, 20 * std::log10(0.3), 0.1);
    EXPECT_NEAR(Reports[1]->OffsetHz, 0, 1);
}
