#include "cli/DeviceChoice.h"
#include "cli/MessageText.h"
#include "cli/ToolMain.h"
#include "output/LineWriter.h"
#include "output/MqttNames.h"
#include "output/SignalReportFormat.h"
#include "platform/SimulatedWaveIn.h"
#include "recordings/ContainerMagic.h"
#include "recordings/PlainWav.h"
#include "recordings/ReceiverDriver.h"
#include "recordings/SampleSource.h"
#include "service/MqttUrl.h"
#include "service/OutputQueue.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(MessageText, EveryByteValueRoundTrips) {
    std::string All;
    for (int Byte = 0; Byte < 256; ++Byte)
        All += static_cast<char>(Byte);
    const std::string Escaped = EscapeBytes(All);
    for (const char Character : Escaped)
        EXPECT_TRUE(Character >= 0x20 && Character <= 0x7E);
    EXPECT_EQ(UnescapeBytes(Escaped), All);
}

TEST(MessageText, NotationIsExact) {
    EXPECT_EQ(EscapeBytes(std::string("a\\b\0\x7f\xff~ ", 8)), "a\\\\b\\x00\\x7f\\xff~ ");
    EXPECT_EQ(UnescapeBytes("\\x4A\\x4b\\\\x"), "JK\\x");
    for (const char *Bad : {"\\", "a\\x", "\\x4", "\\x4g", "\\n", "\\X41"})
        EXPECT_THROW(UnescapeBytes(Bad), EToolError) << Bad;
}

TEST(MqttUrl, ReadsEveryPartAndTheSchemesPort) {
    const TMqttUrl Full = ParseMqttUrl("mqtts://op%40site:p%3Ass:w@broker.example:9883/radio/zel/");
    EXPECT_TRUE(Full.Tls);
    EXPECT_EQ(Full.User, "op@site");
    EXPECT_TRUE(Full.HasPassword);
    EXPECT_EQ(Full.Password, "p:ss:w");
    EXPECT_EQ(Full.Host, "broker.example");
    EXPECT_EQ(Full.Port, 9883);
    EXPECT_EQ(Full.Prefix, "radio/zel");
    const TMqttUrl Plain = ParseMqttUrl("mqtt://user@[::1]/zel");
    EXPECT_EQ(Plain.User, "user");
    EXPECT_FALSE(Plain.HasPassword);
    EXPECT_EQ(Plain.Host, "::1");
    EXPECT_EQ(Plain.Port, 1883);
    EXPECT_EQ(ParseMqttUrl("mqtts://h/p").Port, 8883);
}

// What a broker refuses in a topic: malformed or overlong UTF-8, surrogates, control
// characters (C0, DEL, C1) and non-characters; wildcards; empty levels.
TEST(MqttNames, TopicsHoldOnlyWhatABrokerTakes) {
    for (const char *Good : {"hilltop", "h\xc3\xbcgel", "\xe2\x82\xac", "\xf0\x9f\x93\xbb", " "})
        EXPECT_TRUE(IsTopicLevel(Good)) << EscapeBytes(Good);
    for (const char *Bad :
         {"", "a/b", "a+", "#", "caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
          "a\tb", "\x7f", "\xc2\x85", "\xef\xbf\xbe", "\xef\xb7\x90"})
        EXPECT_FALSE(IsTopicLevel(Bad)) << EscapeBytes(Bad);
    EXPECT_TRUE(IsTopicName("radio/zel"));
    for (const char *Bad : {"/zel", "radio//zel", "zel/", "radio/+/zel", "zel/\x01"})
        EXPECT_FALSE(IsTopicName(Bad)) << Bad;
}

TEST(MqttNames, AHostNameIsMadeSafeByteForByte) {
    EXPECT_EQ(SafeTopicLevel("h\xc3\xbcgel"), "h\xc3\xbcgel");
    EXPECT_EQ(SafeTopicLevel("b\xff"
                             "d/h+#\x01\xc3"),
              "b_d_h____");
    EXPECT_EQ(SafeTopicLevel(""), "_");
}

// The same at every start, different for another station or host, and within what
// every broker must take: 1 to 23 letters and digits.
TEST(MqttNames, TheClientIdIsStableAndPlain) {
    const std::string Id = MqttClientId("hilltop north/\xff", "radio1");
    EXPECT_EQ(Id, MqttClientId("hilltop north/\xff", "radio1"));
    EXPECT_TRUE(Id.starts_with("zelhilltopnorth")) << Id;
    EXPECT_LE(Id.size(), 23u);
    EXPECT_EQ(
        Id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
        std::string::npos);
    EXPECT_NE(Id, MqttClientId("hilltop north/\xff", "radio2"));
    EXPECT_NE(Id, MqttClientId("hilltop south", "radio1"));
}

// The short form and the JSON fields of a report: a lower bound and clipping said in
// words, values that round to zero without a minus sign.
TEST(SignalReportFormat, ShowsEveryCaseInWordsAndPlainNumbers) {
    const struct {
        TSignalReport Report;
        const char *Text;
        const char *Json;
    } Rows[] = {
        {{-23.54, 17.2, false, 12.4, 601.3, -350.4, 0.934, false},
         "-23.5 dBFS  SNR 17 dB  +12 Hz  -350 ppm",
         R"("level_dbfs":-23.5,"snr_db":17.2,"snr_lower_bound":false,"offset_hz":12.4,)"
         R"("shift_hz":601.3,"clock_ppm":-350,"confidence":0.93,"clipped":false)"},
        {{-0.04, 30, true, -0.2, 600, -0.3, 1, true},
         "0.0 dBFS  SNR >30 dB  +0 Hz  +0 ppm  clipped",
         R"("level_dbfs":0.0,"snr_db":30.0,"snr_lower_bound":true,"offset_hz":-0.2,)"
         R"("shift_hz":600.0,"clock_ppm":0,"confidence":1.00,"clipped":true)"},
    };
    for (const auto &Row : Rows) {
        EXPECT_EQ(SignalReportText(Row.Report), Row.Text);
        EXPECT_EQ(SignalReportJsonFields(Row.Report), Row.Json);
    }
}

TEST(FormatSamplePosition, RoundsToTheNearestMillisecond) {
    EXPECT_EQ(FormatSamplePosition(0), "0.000");
    EXPECT_EQ(FormatSamplePosition(19200), "0.400");
    EXPECT_EQ(FormatSamplePosition(23), "0.000");
    EXPECT_EQ(FormatSamplePosition(24), "0.001");
    EXPECT_EQ(FormatSamplePosition(48000ull * 3725 + 47999), "3726.000");
}

class LineWriterTest : public testing::Test {
protected:
    ~LineWriterTest() override { std::fclose(Stream); }
    std::string Written() {
        std::rewind(Stream);
        std::string Text;
        for (int Character; (Character = std::fgetc(Stream)) != EOF;)
            Text += static_cast<char>(Character);
        return Text;
    }
    std::FILE *Stream = std::tmpfile();
};

TEST_F(LineWriterTest, TentativeLinesAreKeptOnlyUpToTheLastKeep) {
    TLineWriter Writer(Stream);
    Writer.Line("sure");
    Writer.BeginTentative();
    Writer.Line("a");
    Writer.KeepTentative();
    Writer.Line("b");
    Writer.EndTentative();
    Writer.Line("after");
    Writer.Flush();
    EXPECT_EQ(Written(), "sure\na\nafter\n");
}

// As when a decode ends on an error: what was decoded before it still reaches the output.
TEST_F(LineWriterTest, LinesStillHeldAreWrittenWhenTheWriterGoesButNotUnkeptTentativeOnes) {
    {
        TLineWriter Writer(Stream);
        Writer.Line("decoded");
        Writer.BeginTentative();
        Writer.Line("kept");
        Writer.KeepTentative();
        Writer.Line("dropped");
    }
    EXPECT_EQ(Written(), "decoded\nkept\n");
}

TEST_F(LineWriterTest, LongOutputIsNotHeldBackOutsideTentativeMode) {
    TLineWriter Writer(Stream);
    const std::string Line(1000, 'x');
    for (int Count = 0; Count < 100; ++Count)
        Writer.Line(Line);
    EXPECT_GT(Written().size(), 50000u);
}

} // namespace

namespace {

std::string Le(std::uint32_t Value, int Bytes) {
    std::string Text;
    for (int Byte = 0; Byte < Bytes; ++Byte)
        Text += static_cast<char>(Value >> (8 * Byte));
    return Text;
}

std::string Chunk(const std::string &Id, const std::string &Body, std::uint32_t Size) {
    return Id + Le(Size, 4) + Body + (Body.size() % 2 ? std::string(1, '\0') : "");
}

std::string Format(int Tag, int Channels, int Rate, int Bits) {
    const int Block = Channels * Bits / 8;
    return Le(Tag, 2) + Le(Channels, 2) + Le(Rate, 4) + Le(Rate * Block, 4) + Le(Block, 2) +
           Le(Bits, 2);
}

// The bytes and where FindPlainWavData must find the samples (offset 0: nowhere).
struct TWavCase {
    const char *Name;
    std::string Bytes;
    std::uint64_t Offset, Size;
};

std::optional<TPlainWavData> FindIn(const std::string &Bytes) {
    std::FILE *File = std::tmpfile();
    std::fwrite(Bytes.data(), 1, Bytes.size(), File);
    std::fflush(File);
    const auto Found = FindPlainWavData(fileno(File));
    std::fclose(File);
    return Found;
}

} // namespace

TEST(PlainWav, OnlyPlainHeadersAreReadWithoutLibsndfile) {
    const std::string Plain = Chunk("fmt ", Format(1, 1, 48000, 16), 16);
    const std::string Data = Chunk("data", "abcd", 4);
    const auto Riff = [](const std::string &Chunks) { return "RIFF" + Le(4, 4) + "WAVE" + Chunks; };
    const TWavCase Cases[] = {
        {"plain", Riff(Plain + Data), 44, 4},
        {"odd chunk before", Riff(Plain + Chunk("LIST", "abc", 3) + Data), 56, 4},
        {"stereo", Riff(Chunk("fmt ", Format(1, 2, 48000, 16), 16) + Data), 0, 0},
        {"other rate", Riff(Chunk("fmt ", Format(1, 1, 44100, 16), 16) + Data), 0, 0},
        {"float", Riff(Chunk("fmt ", Format(3, 1, 48000, 32), 16) + Data), 0, 0},
        {"samples first", Riff(Data + Plain), 0, 0},
        {"past the end", Riff(Plain + Chunk("data", "abcd", 6)), 0, 0},
        {"streamed", Riff(Plain + Chunk("data", "abcd", 0)), 0, 0},
        {"big-endian", "RIFX" + Riff(Plain + Data).substr(4), 0, 0},
    };
    for (const TWavCase &Case : Cases) {
        const auto Found = FindIn(Case.Bytes);
        EXPECT_EQ(Found ? Found->Offset : 0, Case.Offset) << Case.Name;
        EXPECT_EQ(Found ? Found->Bytes : 0, Case.Size) << Case.Name;
    }
}

// Raw samples that start nearly as a container does stay raw samples.
TEST(ContainerMagic, OnlyTheExactFirstBytesNameAContainer) {
    using namespace std::string_view_literals;
    const std::vector<std::pair<std::string_view, const char *>> Cases = {
        {"RIFF\x24\x08\x00\x00WAVEfmt "sv, "WAV"},
        {"RIFF\x24\x08\x00\x00"
         "AVI LIST"sv,
         nullptr}, // \x00A would be one byte
        {"fLaC\x00\x00\x00\x22"sv, "FLAC"},
        {"fLa"sv, nullptr},
        {"OggS\x00\x02"sv, "Ogg"},
        {"OggS\x01\x02"sv, nullptr},
        {"ID3\x04\x00"sv, "MP3"},
        {"\xFF\xFB\x90\x64"sv, nullptr}, // an MP3 frame, or two raw samples
        {""sv, nullptr},
    };
    for (const auto &[Head, Container] : Cases)
        EXPECT_STREQ(ContainerNamed(Head), Container) << Head;
}

// A pipe hands over samples split anywhere, even inside one.
TEST(RawSampleSource, SamplesSplitByThePipeComeOutWhole) {
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    TRawSampleSource Source(Pipe[0], "pipe", UINT64_MAX, true);
    std::vector<std::int16_t> Received;
    const auto Take = [&] {
        const auto Samples = Source.Next();
        Received.insert(Received.end(), Samples.begin(), Samples.end());
    };
    for (const std::string &Piece : {std::string("\x01\x02\x03", 3), std::string("\x04\x05", 2),
                                     std::string("\x06\x07\x08", 3)}) {
        ASSERT_EQ(write(Pipe[1], Piece.data(), Piece.size()), ssize_t(Piece.size()));
        Take();
    }
    ASSERT_EQ(write(Pipe[1], "\x09", 1), 1);
    close(Pipe[1]);
    Take();
    EXPECT_TRUE(Source.Next().empty());
    EXPECT_EQ(Received, (std::vector<std::int16_t>{0x0201, 0x0403, 0x0605, 0x0807}));
}

namespace {

using TOffered = std::vector<platform::TInputName>;

// Two inputs described alike are told apart by their lasting names, whole or begun; a
// whole name wins over one it begins; a name for several inputs finds them all.
TEST(DeviceChoice, NamesFindTheirInputs) {
    const TOffered Monitors = {{"radio.monitor", "Monitor of Null Output"},
                               {"spare.monitor", "Monitor of Null Output"},
                               {"hw:CARD=Radio,DEV=0", "USB Radio, USB Audio"},
                               {"plughw:CARD=Radio,DEV=0", "USB Radio, USB Audio"}};
    const struct {
        std::string Given;
        std::vector<std::string> Found;
    } Cases[] = {
        {"spare.monitor", {"spare.monitor"}},
        {"radio", {"radio.monitor"}},
        {"Monitor of Null Output", {"radio.monitor", "spare.monitor"}},
        {"Monitor of", {"radio.monitor", "spare.monitor"}},
        {"hw:CARD=Radio,DEV=0", {"hw:CARD=Radio,DEV=0"}},
        {"USB Radio", {"hw:CARD=Radio,DEV=0", "plughw:CARD=Radio,DEV=0"}},
        {"Monitor of Null Output 2", {}},
        {"monitor", {}},
    };
    for (const auto &Case : Cases) {
        std::vector<std::string> Found;
        for (const platform::TInputName &Input : MatchingInputs(Monitors, Case.Given))
            Found.push_back(Input.Lasting);
        EXPECT_EQ(Found, Case.Found) << Case.Given;
    }
}

// A sound input whose device list changes between opens, as a sound server's does when
// it restarts or inputs come and go. Each step offers inputs and tells the description
// the preferred input reaches then; "" for a missing input.
TEST(DeviceChoice, TheNameIsLookedUpAtEveryOpen) {
    struct TStep {
        TOffered Offered;
        std::string Reached;
    };
    const TOffered Usb = {{"usb", "USB radio"}}, BuiltIn = {{"builtin", "Built-in Audio"}};
    const struct {
        std::string Given;
        std::vector<TStep> Steps;
    } Cases[] = {
        {"USB radio",
         {{{}, ""}, // no sound server yet: waited for
          {{BuiltIn[0], Usb[0]}, "USB radio"},
          {Usb, "USB radio"}, // another back-end, another number
          {BuiltIn, ""},      // unplugged
          {{{"cam", "Webcam"}, BuiltIn[0], Usb[0]}, "USB radio"},
          {{Usb[0], {"usb2", "USB radio"}}, "USB radio"}}}, // named twice now: the one found
        {"usb", {{{{"usb2", "USB radio 2"}, Usb[0]}, "USB radio"}}},
        // Once found, a name is never taken for another input it begins.
        {"usb",
         {{Usb, "USB radio"},
          {{{"usb.2", "USB radio 2"}}, ""}, // a second card of the make, the first away
          {{{"usb.2", "USB radio 2"}, Usb[0]}, "USB radio"}}},
    };
    platform::TSimulatedWaveInService Base;
    const auto Offer = [&](const TOffered &Inputs) {
        std::vector<platform::TSimulatedWaveInService::TDevice> Devices(Inputs.size());
        for (std::size_t Index = 0; Index < Inputs.size(); ++Index) {
            Devices[Index].Lasting = Inputs[Index].Lasting;
            Devices[Index].Name = Inputs[Index].Description;
        }
        Base.SetDevices(Devices);
    };
    const WAVEFORMATEX Format{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 0};
    for (const auto &Case : Cases) {
        Offer(Case.Steps.front().Offered);
        TChosenDeviceService Chosen(Base, Case.Given, "--list-devices");
        for (const TStep &Step : Case.Steps) {
            SCOPED_TRACE(Case.Given + " among " + std::to_string(Step.Offered.size()));
            Offer(Step.Offered);
            WAVEINCAPSA Caps{};
            const MMRESULT Listed = Chosen.GetDevCaps(WAVE_MAPPER, &Caps, sizeof Caps);
            EXPECT_EQ(Listed ? "" : std::string(Caps.szPname), Step.Reached);
            EXPECT_EQ(Chosen.Open(nullptr, WAVE_MAPPER, &Format, 0, 0, WAVE_FORMAT_QUERY),
                      Step.Reached.empty() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR);
        }
    }
}

// A pipe whose reader has stopped reading: full to the brim, so that every write waits.
class OutputQueue : public testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(pipe(FPipe), 0);
        const int Flags = fcntl(FPipe[1], F_GETFL);
        fcntl(FPipe[1], F_SETFL, Flags | O_NONBLOCK);
        const std::string Block(4096, '\n');
        while (write(FPipe[1], Block.data(), Block.size()) > 0)
            ;
        fcntl(FPipe[1], F_SETFL, Flags);
    }
    void TearDown() override {
        close(FPipe[1]);
        if (FPipe[0] >= 0)
            close(FPipe[0]);
    }

    int FPipe[2] = {-1, -1};
    std::vector<std::string> FReports;
    TOutputQueue::TReport Report = [this](const std::string &Line) { FReports.push_back(Line); };
};

// At the end the lines waiting for a reader that never reads are given up after a while;
// the writer held up in its write calls nobody once its reader goes.
TEST_F(OutputQueue, TheEndWaitsForAStoppedReaderOnlyAWhile) {
    TOutputQueue Queue(FPipe[1], 10, Report, [] { ADD_FAILURE() << "refused"; });
    Queue.Push("line 1");
    Queue.Finish(std::chrono::milliseconds(100));
    EXPECT_EQ(FReports, std::vector<std::string>{"the output is not read: 1 line more at the end"});
    close(FPipe[0]);
    FPipe[0] = -1;
}

TEST_F(OutputQueue, AReaderGoneIsToldOnce) {
    close(FPipe[0]);
    FPipe[0] = -1;
    int Refusals = 0;
    TOutputQueue Queue(FPipe[1], 10, Report, [&] { ++Refusals; });
    for (int Line = 1; Line <= 3; ++Line)
        Queue.Push("line " + std::to_string(Line));
    Queue.Finish(std::chrono::seconds(10));
    EXPECT_EQ(Refusals, 1);
    EXPECT_TRUE(FReports.empty());
}

} // namespace
