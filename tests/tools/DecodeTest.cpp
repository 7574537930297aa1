#include "TestRecordings.h"
#include "ToolProcess.h"

#include "cli/MessageText.h"
#include "signal/FFSKEncoder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <csignal>
#include <random>

namespace {

std::string RawBytes(const std::vector<std::int16_t> &Samples) {
    std::string Bytes;
    for (const std::int16_t Sample : Samples) {
        Bytes += static_cast<char>(Sample & 0xFF);
        Bytes += static_cast<char>((Sample >> 8) & 0xFF);
    }
    return Bytes;
}

bool WholeMatch(const std::string &Text, const std::string &Pattern) {
    const QString Anchored = QRegularExpression::anchoredPattern(QString::fromStdString(Pattern));
    return QRegularExpression(Anchored).match(QString::fromStdString(Text)).hasMatch();
}

// The interleaved 16-bit samples of a recording, as raw input holds them.
std::string RawBytesOf(const std::string &Path) {
    SF_INFO Info{};
    SNDFILE *Sound = sf_open(Path.c_str(), SFM_READ, &Info);
    EXPECT_NE(Sound, nullptr);
    std::vector<std::int16_t> Samples(Info.frames * Info.channels);
    sf_readf_short(Sound, Samples.data(), Info.frames);
    sf_close(Sound);
    return RawBytes(Samples);
}

// The header a writer that cannot seek back puts before the samples.
std::string StreamingWavHeader() {
    std::string Header = RunTool(ZEL_ENCODE, {"--gap", "0", "SMS>x"}).Output.substr(0, 44);
    for (const std::size_t Size : {4, 40})
        Header.replace(Size, 4, "\xFF\xFF\xFF\xFF");
    return Header;
}

class DecodeTest : public testing::Test {
protected:
    TToolResult Decode(const std::vector<std::string> &Arguments, const std::string &Input = "") {
        TToolResult Result = RunTool(ZEL_DECODE, Arguments, Input);
        EXPECT_EQ(Result.Errors, "");
        EXPECT_EQ(Result.ExitCode, 0);
        return Result;
    }
    std::string Path(const std::string &Name) { return Scratch.File(Name).string(); }

    TScratchDir Scratch;
    const std::vector<std::string> Messages = {"SMS>Hello world", "LOC>52.1N 004.3E", "SMS>x"};
    const std::vector<std::string> Expected = {"SMS Hello world ", "LOC 52.1N 004.3E", "SMS x   "};
};

std::string RandomMessage(std::mt19937 &Random) {
    std::uniform_int_distribution<int> Length(1, 40), Byte(0, 255), Kind(0, 1);
    std::string Message = Kind(Random) ? "SMS>" : "LOC>";
    for (int Count = Length(Random); Count > 0; --Count)
        Message += static_cast<char>(Byte(Random));
    return Message;
}

TEST_F(DecodeTest, RandomMessagesSurviveEncodeAndDecodeExactly) {
    std::mt19937 Random(20261208);
    std::vector<std::string> Arguments{"-o", Path("traffic.wav")}, Expected;
    for (int Index = 0; Index < 25; ++Index) {
        const std::string Message = RandomMessage(Random);
        Arguments.push_back(EscapeBytes(Message));
        Expected.push_back(EscapeBytes(DecodedLine(Message)));
    }
    const TToolResult Encoded = RunTool(ZEL_ENCODE, Arguments);
    ASSERT_EQ(Encoded.ExitCode, 0) << Encoded.Errors;
    EXPECT_EQ(SplitLines(Decode({Path("traffic.wav")}).Output), Expected);
}

// A stored file is written in blocks, a pipe message by message: the bytes are the same.
TEST_F(DecodeTest, AStoredFileAndThePipedSamplesGiveTheSameOutputWithEveryOption) {
    std::vector<std::string> Arguments{"-o", Path("stored.wav")};
    Arguments.insert(Arguments.end(), Messages.begin(), Messages.end());
    ASSERT_EQ(RunTool(ZEL_ENCODE, Arguments).ExitCode, 0);
    const std::string Samples = Scratch.Read("stored.wav").substr(44); // after the header
    for (const std::vector<std::string> &Options : std::vector<std::vector<std::string>>{
             {}, {"--timestamps"}, {"--json"}, {"--events", "--timestamps"}}) {
        std::vector<std::string> FromFile = Options, FromPipe = Options;
        FromFile.push_back(Path("stored.wav"));
        FromPipe.push_back("-");
        const std::string Stored = Decode(FromFile).Output;
        EXPECT_GE(SplitLines(Stored).size(), Messages.size());
        EXPECT_EQ(Stored, Decode(FromPipe, Samples).Output) << FromPipe.front();
    }
}

TEST_F(DecodeTest, MatchedDemodulatorDecodesWhatARadioChannelLeaves) {
    std::vector<std::string> Arguments{
        "-o", Path("radio.wav"), "--snr", "12", "--clock", "-1", "--hum", "-10", "--twist",
        "3",  "--tone-offset",   "30"};
    Arguments.insert(Arguments.end(), Messages.begin(), Messages.end());
    const TToolResult Encoded = RunTool(ZEL_ENCODE, Arguments);
    ASSERT_EQ(Encoded.ExitCode, 0) << Encoded.Errors;
    EXPECT_EQ(SplitLines(Decode({"--demodulator", "matched", Path("radio.wav")}).Output), Expected);
}

TEST_F(DecodeTest, EncoderWritesCompleteWavToAPipe) {
    const TToolResult Encoded = RunTool(ZEL_ENCODE, {"--gap", "0", "--preamble", "0", "SMS>ab"});
    ASSERT_EQ(Encoded.ExitCode, 0);
    Scratch.Write("piped.wav", Encoded.Output);
    SF_INFO Info{};
    SNDFILE *Sound = sf_open(Path("piped.wav").c_str(), SFM_READ, &Info);
    ASSERT_NE(Sound, nullptr);
    sf_close(Sound);
    EXPECT_EQ(Info.samplerate, 48000);
    EXPECT_EQ(Info.channels, 1);
    EXPECT_EQ(Info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(Info.frames, (80 + 8) * 40); // the frame and its tail
}

TEST_F(DecodeTest, EventsFollowTheRecordersBufferOrder) {
    const TToolResult Encoded = RunTool(ZEL_ENCODE, {"-o", Path("hi.wav"), "--gap", "0", "SMS>HI"});
    ASSERT_EQ(Encoded.ExitCode, 0);
    const std::vector<std::string> Lines = SplitLines(Decode({"--events", Path("hi.wav")}).Output);
    // One buffer of signal, then the one silent buffer whose end delivers the message.
    ASSERT_EQ(Lines.size(), 2u + 2 * 240 + 1);
    for (std::size_t Buffer = 0; Buffer < 2; ++Buffer) {
        const std::string &Level = Lines[Buffer * 241];
        ASSERT_TRUE(Level.starts_with("level ")) << Level;
        for (std::size_t Period = 1; Period <= 240; ++Period) {
            const std::string &Bits = Lines[Buffer * 241 + Period];
            ASSERT_TRUE(Bits.starts_with("bits ")) << Bits;
            EXPECT_EQ(Bits.size() - 5, std::min<std::size_t>(40, Buffer * 240 + Period));
        }
    }
    const int FirstLevel = std::stoi(Lines[0].substr(6));
    EXPECT_GE(FirstLevel, 45);
    EXPECT_LE(FirstLevel, 50);
    EXPECT_EQ(Lines[241], "level 0");
    EXPECT_EQ(Lines.back(), "SMS HI  ");
}

TEST_F(DecodeTest, NothingIsAddedAfterTheInputWhenNoMessageIsPending) {
    const std::vector<std::int16_t> Silence(9600 * 3 + 10, 0);
    const std::vector<std::string> Lines =
        SplitLines(Decode({"--events", "-"}, RawBytes(Silence)).Output);
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(), "level 0"), 4);
    EXPECT_EQ(Lines.size(), 4u * 241);
}

TEST_F(DecodeTest, SixteenBitWavAndRawStdinReachTheReceiverAlike) {
    const std::vector<std::int16_t> Samples = Traffic(Messages);
    WriteRecording(Path("s16.wav"), {ToFloat(Samples)}, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const TToolResult FromFile = Decode({"--events", "--timestamps", Path("s16.wav")});
    const TToolResult FromStdin =
        Decode({"--events", "--timestamps", "-"}, RawBytesOf(Path("s16.wav")));
    EXPECT_EQ(FromFile.Output, FromStdin.Output);
    EXPECT_EQ(SplitLines(Decode({}, RawBytes(Samples)).Output), Expected);
}

// How a layout is also piped in, where it decodes as the file does: as raw samples or a
// recording on standard input, or a recording through a pipe given as the FILE.
enum class TPiped { Not, AsRaw, AsRecording, AsFile };

struct TLayout {
    const char *Name;
    int SampleRate;
    int Format;
    int Channels; // the messages are on the last
    TPiped Piped;
};

class DecodeLayoutTest : public DecodeTest, public testing::WithParamInterface<TLayout> {};

TEST_P(DecodeLayoutTest, EveryLayoutDecodesToTheSameMessages) {
    const TLayout &Layout = GetParam();
    std::vector<float> Signal = ToFloat(Traffic(Messages));
    if (Layout.SampleRate != 48000)
        Signal = Resample(Signal, 48000, Layout.SampleRate);
    std::vector<std::vector<float>> Channels(Layout.Channels, std::vector<float>(Signal.size()));
    Channels.back() = Signal;
    WriteRecording(Path("in"), Channels, Layout.SampleRate, Layout.Format);
    const std::string Channel = std::to_string(Layout.Channels);
    EXPECT_EQ(SplitLines(Decode({"--channel", Channel, Path("in")}).Output), Expected);
    if (Layout.Piped == TPiped::Not)
        return;

    std::vector<std::string> FromFile{"--events", "--timestamps", "--channel", Channel};
    std::vector<std::string> FromPipe = FromFile;
    FromFile.push_back(Path("in"));
    const bool Raw = Layout.Piped == TPiped::AsRaw;
    if (Raw)
        FromPipe.insert(FromPipe.end(),
                        {"--rate", std::to_string(Layout.SampleRate), "--channels", Channel});
    FromPipe.push_back(Layout.Piped == TPiped::AsFile ? "/dev/stdin" : "-");
    TLiveTool Piped(ZEL_DECODE, FromPipe);
    Piped.Write(Raw ? RawBytesOf(Path("in")) : Scratch.Read("in"));
    const TToolResult Result = Piped.Finish();
    EXPECT_EQ(Result.ExitCode, 0);
    EXPECT_EQ(Result.Output, Decode(FromFile).Output);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeLayoutTest,
    testing::Values(
        TLayout{"Wav44100Stereo", 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, TPiped::AsRecording},
        TLayout{"Wav22050", 22050, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, TPiped::AsRaw},
        TLayout{"Raw44100Stereo", 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, TPiped::AsRaw},
        TLayout{"Unsigned8Bit", 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, TPiped::Not},
        TLayout{"Float", 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, TPiped::Not},
        TLayout{"Extensible24Bit", 96000, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 1, TPiped::Not},
        TLayout{"Flac", 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, TPiped::AsRecording},
        TLayout{"Ogg", 48000, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, TPiped::AsRecording},
        TLayout{"Caf", 48000, SF_FORMAT_CAF | SF_FORMAT_PCM_16, 1, TPiped::AsFile},
        TLayout{"FlacFile", 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, TPiped::AsFile}),
    [](const testing::TestParamInfo<TLayout> &Info) { return Info.param.Name; });

TEST_F(DecodeTest, EachChannelOfAStereoRecordingDecodesOnItsOwn) {
    const std::vector<float> Left = Resample(ToFloat(Traffic({"SMS>left side"})), 48000, 44100);
    std::vector<float> Right = Resample(ToFloat(Traffic({"LOC>right side"})), 48000, 44100);
    Right.resize(Left.size());
    WriteRecording(Path("stereo.wav"), {Left, Right}, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(Decode({Path("stereo.wav")}).Output, "SMS left side   \n");
    EXPECT_EQ(Decode({"--channel", "2", Path("stereo.wav")}).Output, "LOC right side  \n");
}

TEST_F(DecodeTest, WavWithTheSizesOfAStreamingWriterDecodesToTheEnd) {
    const TToolResult Encoded = RunTool(ZEL_ENCODE, {"SMS>first", "SMS>second"});
    for (const std::uint32_t Size : {0xFFFFFFFFu, 0x7FFFF000u}) {
        std::string Bytes = Encoded.Output;
        const std::size_t Data = Bytes.find("data");
        ASSERT_NE(Data, std::string::npos);
        for (std::size_t Field : {std::size_t(4), Data + 4})
            for (int Byte = 0; Byte < 4; ++Byte)
                Bytes[Field + Byte] = static_cast<char>(Size >> (8 * Byte));
        Scratch.Write("stream.wav", Bytes);
        EXPECT_EQ(SplitLines(Decode({Path("stream.wav")}).Output),
                  (std::vector{DecodedLine("SMS>first"), DecodedLine("SMS>second")}));
        EXPECT_EQ(Decode({"-"}, Bytes).Output, Decode({Path("stream.wav")}).Output);
    }
}

TEST_F(DecodeTest, TimestampsGiveTheDeliveringSample) {
    // The first message ends inside the first buffer and is delivered at the end of
    // the second (0.4 s). The second is delivered by the header of the third, 80 bit
    // periods after the third's preamble begins.
    const std::vector<std::string> Sent = {"SMS>one", "SMS>two", "LOC>three"};
    ffsk::TFFSKEncoder Encoder(0.5);
    Encoder.AddPreamble(32);
    Encoder.AddMessage(Sent[0]);
    Encoder.AddSilence(48000);
    Encoder.AddPreamble(32);
    Encoder.AddMessage(Sent[1]);
    const std::size_t ThirdStart = Encoder.Samples().size();
    Encoder.AddPreamble(32);
    Encoder.AddMessage(Sent[2]);
    const std::vector<std::string> Lines =
        SplitLines(Decode({"--timestamps", "-"}, RawBytes(Encoder.Samples())).Output);
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0], "0.400 SMS one ");
    const double HeaderEnd = (ThirdStart + (32 + 80) * 40) / 48000.0;
    EXPECT_NEAR(std::stod(Lines[1]), HeaderEnd, 0.002);
    EXPECT_TRUE(Lines[1].ends_with(" " + DecodedLine(Sent[1])));
    EXPECT_TRUE(Lines[2].ends_with(" " + DecodedLine(Sent[2])));
}

TEST_F(DecodeTest, TheEncodersTailKeepsAFinalOneBitAtEverySampleOffset) {
    // 'G' ends in the 1 bit that a carrier stopping right after it would lose.
    const TToolResult Encoded = RunTool(ZEL_ENCODE, {"--gap", "0", "SMS>ABCG"});
    ASSERT_EQ(Encoded.ExitCode, 0);
    const std::string Samples = Encoded.Output.substr(44); // after the WAV header
    for (int Offset = 0; Offset < 40; ++Offset)
        EXPECT_EQ(Decode({"-"}, std::string(2 * Offset, '\0') + Samples).Output, "SMS ABCG\n")
            << "offset " << Offset;
}

// Raw samples, or a WAV stream as a live recorder writes it.
TEST_F(DecodeTest, LiveDecodingShowsEachMessageAtOnceAndAStopDeliversThePendingOne) {
    for (const auto &[Signal, Header] : std::vector<std::pair<int, std::string>>{
             {SIGINT, ""}, {SIGTERM, StreamingWavHeader()}, {SIGHUP, ""}}) {
        TLiveTool Decoder(ZEL_DECODE, {"-"});
        Decoder.Write(Header + RawBytes(Traffic({"SMS>first"}, 3 * 9600)));
        EXPECT_EQ(Decoder.WaitForLines(1), std::vector{DecodedLine("SMS>first")});
        Decoder.Write(RawBytes(Traffic({"LOC>second"}, 0)));
        EXPECT_EQ(Decoder.Stop(Signal), 0) << "signal " << Signal;
        EXPECT_EQ(Decoder.WaitForLines(2),
                  (std::vector{DecodedLine("SMS>first"), DecodedLine("LOC>second")}));
    }
}

TEST_F(DecodeTest, ASecondSignalBeforeTheStopIsDoneEndsTheDecodeAtOnce) {
    const std::pair<int, int> Rows[] = {{SIGINT, SIGTERM}, {SIGTERM, SIGHUP}, {SIGHUP, SIGINT}};
    for (const auto &[First, Second] : Rows) {
        TLiveTool Decoder(ZEL_DECODE, {"-"});
        Decoder.Write(RawBytes(Traffic({"SMS>first"}, 0)));
        // Whichever is taken second ends it, as that signal's default would.
        const int ExitCode = Decoder.Stop(First, Second);
        EXPECT_TRUE(ExitCode == 128 + First || ExitCode == 128 + Second)
            << "signals " << First << ", " << Second << ": exit status " << ExitCode;
    }
}

QJsonObject ParsedObject(const std::string &Line) {
    QJsonParseError Error;
    const QJsonDocument Document = QJsonDocument::fromJson(QByteArray::fromStdString(Line), &Error);
    EXPECT_EQ(Error.error, QJsonParseError::NoError) << Line;
    EXPECT_TRUE(Document.isObject()) << Line;
    return Document.object();
}

// Each object says what it is and holds what the plain line holds.
TEST_F(DecodeTest, WithJsonEveryLineIsAnObjectOfTheNamedStation) {
    ASSERT_EQ(RunTool(ZEL_ENCODE, {"-o", Path("hi.wav"), "--gap", "0", "SMS>HI"}).ExitCode, 0);
    const std::vector<std::string> Plain = SplitLines(Decode({"--events", Path("hi.wav")}).Output);
    const std::vector<std::string> Lines =
        SplitLines(Decode({"--json", "--events", "--station", "hill top", Path("hi.wav")}).Output);
    ASSERT_EQ(Lines.size(), Plain.size());
    for (std::size_t Index = 0; Index < Lines.size(); ++Index) {
        const QJsonObject Object = ParsedObject(Lines[Index]);
        EXPECT_EQ(Object["station"].toString(), "hill top");
        EXPECT_TRUE(Object["offset"].isDouble()) << Lines[Index];
        const std::string Kind = Object["kind"].toString().toStdString();
        const QJsonValue Value = Kind == "level"  ? Object["percent"]
                                 : Kind == "bits" ? Object["trace"]
                                                  : Object["text"];
        const std::string Text =
            Value.isDouble() ? std::to_string(Value.toInt()) : Value.toString().toStdString();
        EXPECT_EQ(Kind + " " + Text, Plain[Index]);
    }
}

TEST_F(DecodeTest, JsonGivesEveryByteBackToAJsonReader) {
    std::string AllBytes;
    for (int Byte = 0; Byte < 256; ++Byte)
        AllBytes += static_cast<char>(Byte);
    Scratch.Write("all.wav",
                  RunTool(ZEL_ENCODE, {"SMS>" + EscapeBytes(AllBytes), "LOC>1\"2"}).Output);
    const std::vector<std::string> Lines = SplitLines(Decode({"--json", Path("all.wav")}).Output);
    ASSERT_EQ(Lines.size(), 2u);
    const std::vector<std::pair<QString, std::string>> Sent = {{"SMS", AllBytes}, {"LOC", "1\"2"}};
    for (std::size_t Index = 0; Index < Lines.size(); ++Index) {
        const QJsonObject Message = ParsedObject(Lines[Index]);
        EXPECT_EQ(Message["kind"].toString(), Sent[Index].first);
        EXPECT_TRUE(
            Message["text"].toString().toLatin1().toStdString().starts_with(Sent[Index].second));
        EXPECT_GT(Message["offset"].toDouble(), 0.0);
        EXPECT_FALSE(Message.contains("station")); // none was named
    }
}

// What a user sees of a transmitter 25 Hz off at 20 dB: each JSON object carries the
// report after the fields it always had, as numbers and booleans a JSON reader takes;
// --report shows the same on the plain line.
TEST_F(DecodeTest, EachMessageCarriesItsSignalReport) {
    ASSERT_EQ(RunTool(ZEL_ENCODE, {"-o", Path("off.wav"), "--snr", "20", "--tone-offset", "25",
                                   "SMS>a report rides along", "LOC>52.1N 4.3E"})
                  .ExitCode,
              0);
    const std::vector<std::string> Lines =
        SplitLines(Decode({"--json", "--demodulator", "matched", Path("off.wav")}).Output);
    ASSERT_EQ(Lines.size(), 2u);
    for (const std::string &Line : Lines) {
        const QJsonObject Object = ParsedObject(Line);
        EXPECT_EQ(Object.keys().size(), 11) << Line;
        EXPECT_TRUE(Line.starts_with("{\"offset\":")) << Line;
        EXPECT_NEAR(Object["level_dbfs"].toDouble(), -6.0, 0.5);
        EXPECT_NEAR(Object["snr_db"].toDouble(), 20.0, 1.5);
        EXPECT_FALSE(Object["snr_lower_bound"].toBool(true));
        EXPECT_NEAR(Object["offset_hz"].toDouble(), 25.0, 2.0);
        EXPECT_NEAR(Object["shift_hz"].toDouble(), 600.0, 15.0);
        EXPECT_NEAR(Object["clock_ppm"].toDouble(), 0.0, 300.0);
        EXPECT_GT(Object["confidence"].toDouble(), 0.5);
        EXPECT_FALSE(Object["clipped"].toBool(true));
    }
    const std::vector<std::string> Plain =
        SplitLines(Decode({"--report", "--demodulator", "matched", Path("off.wav")}).Output);
    ASSERT_EQ(Plain.size(), 2u);
    EXPECT_TRUE(WholeMatch(Plain[0], "SMS a report rides along\t-6\\.[0-9] dBFS  SNR "
                                     "(19|20|21) dB  \\+(2[3-7]) Hz  [-+][0-9]+ ppm"))
        << Plain[0];
}

// A recording's objects name no station unless --station does: not this computer's,
// even with a host name that is no UTF-8 text (set in a user namespace of the test's own).
TEST_F(DecodeTest, JsonNamesNoStationWhateverTheHostName) {
    Scratch.Write("one.wav", RunTool(ZEL_ENCODE, {"SMS>hi"}).Output);
    const TToolResult Result =
        RunTool("/usr/bin/unshare",
                {"--user", "--map-root-user", "--uts", "sh", "-c",
                 "printf 'b\\377d/h\\001' >/proc/sys/kernel/hostname && exec \"$0\" --json \"$1\"",
                 ZEL_DECODE, Path("one.wav")});
    if (Result.ExitCode != 0 && Result.Output.empty())
        GTEST_SKIP() << "no user namespace to set a host name in: " << Result.Errors;
    EXPECT_EQ(Result.Errors, "");
    EXPECT_NE(Result.Output.find("\"kind\":\"SMS\""), std::string::npos) << Result.Output;
    EXPECT_EQ(Result.Output.find("station"), std::string::npos) << Result.Output;
}

// A frame whose header frame was lost, after a text and before a location: delivered
// as a text, marked in every form of output; each message's signal report after it.
TEST_F(DecodeTest, AMessageWithoutItsHeaderIsMarked) {
    ffsk::TFFSKEncoder Encoder(0.5);
    Encoder.AddPreamble(32);
    Encoder.AddMessage("SMS>Hi");
    Encoder.AddSilence(24000);
    Encoder.AddPreamble(32);
    Encoder.AddBytes(";(HEADLESS");
    Encoder.AddMessage("LOC>52N");
    const std::string Samples = RawBytes(Encoder.Samples());
    const auto Json = [](std::string Kind, std::string Text, std::string Headed = "") {
        return R"(\{"offset":[0-9.]+,"kind":")" + Kind + R"(","text":")" + Text +
               R"(","station":"hill")" + Headed + R"(,"level_dbfs":[^}]+\})";
    };
    const struct {
        std::vector<std::string> Options;
        std::vector<std::string> Lines; // patterns
    } Rows[] = {
        {{}, {"SMS Hi  ", "headerless SMS LESS", "LOC 52N "}},
        {{"--timestamps"}, {"[0-9.]+ SMS Hi  ", "[0-9.]+ headerless SMS LESS", "[0-9.]+ LOC 52N "}},
        {{"--report"}, {"SMS Hi  \t.+ dBFS  SNR .+", "headerless SMS LESS\t.+", "LOC 52N \t.+"}},
        {{"--json", "--station", "hill"},
         {Json("SMS", "Hi  "), Json("SMS", "LESS", R"(,"headed":false)"), Json("LOC", "52N ")}},
    };
    for (const auto &Row : Rows) {
        std::vector<std::string> Arguments = Row.Options;
        Arguments.push_back("-");
        const std::vector<std::string> Lines = SplitLines(Decode(Arguments, Samples).Output);
        ASSERT_EQ(Lines.size(), Row.Lines.size());
        for (std::size_t Index = 0; Index < Lines.size(); ++Index)
            EXPECT_TRUE(WholeMatch(Lines[Index], Row.Lines[Index])) << Lines[Index];
    }
}

} // namespace

// The samples of a plain WAV file are read straight from the file: chunks around them,
// odd sizes and a stray last byte on stdin must not shift or add a sample.
TEST_F(DecodeTest, ChunksAroundTheSamplesAndStrayBytesLeaveTheSamplesAlone) {
    const std::string Samples = RawBytes(Traffic(Messages));
    const auto Size = [](std::size_t Value) {
        std::string Bytes;
        for (int Byte = 0; Byte < 4; ++Byte)
            Bytes += static_cast<char>(Value >> (8 * Byte));
        return Bytes;
    };
    const std::string Before = std::string("LIST") + Size(3) + "abc" + '\0';
    const std::string After = "note" + Size(2) + "xy";
    Scratch.Write("chunks.wav", "RIFF" +
                                    Size(36 + 8 + Before.size() + Samples.size() + After.size()) +
                                    "WAVEfmt " + Size(16) + std::string("\1\0\1\0", 4) +
                                    Size(48000) + Size(96000) + std::string("\2\0\20\0", 4) +
                                    Before + "data" + Size(Samples.size()) + Samples + After);
    const std::string FromStdin = Decode({"--events", "-"}, Samples + "\x7F").Output;
    EXPECT_EQ(Decode({"--events", Path("chunks.wav")}).Output, FromStdin);
    EXPECT_EQ(SplitLines(Decode({Path("chunks.wav")}).Output), Expected);
}
