// zel-decode: decodes the FFSK messages of a recording with the receiver's own
// decoder, fed exactly as the live sound input feeds it.

#include "cli/MessageText.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"
#include "output/MqttNames.h"
#include "platform/TerminationSignals.h"
#include "recordings/ReceiverDriver.h"
#include "recordings/SampleSource.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *Usage =
    "Usage: zel-decode [OPTION]... [FILE | -]\n"
    "Decodes the 1 200-baud FFSK messages of a recording (WAV, W64, RF64, AIFF, AU, CAF,\n"
    "FLAC, Ogg or MP3) and prints one line per message, 'SMS <text>' or 'LOC <text>'\n"
    "('headerless SMS <text>' for one that did not begin with its header): from a pipe, a\n"
    "terminal or a device as soon as it is decoded, from a stored file in blocks. '-' or\n"
    "no FILE: standard input, a recording if it starts as one (WAV, W64, RF64, AIFF, AU,\n"
    "CAF, FLAC, Ogg, MP3 with an ID3 tag), raw signed 16-bit little-endian samples\n"
    "otherwise (mono 48 000 Hz unless --rate and --channels say otherwise).\n"
    "SIGINT, SIGTERM or SIGHUP ends the decode as the end of the input would; a second\n"
    "one ends it at once.\n"
    "  --events      also print 'level <n>' per 0.2 s buffer (its highest sample, in percent\n"
    "                of full scale) and 'bits <trace>' per bit period (the last 40 symbols)\n"
    "  --timestamps  start each message line with the time in the recording, in seconds,\n"
    "                at the end of the sample that delivered it\n"
    "  --json        print every line as a JSON object: offset (seconds into the recording),\n"
    "                kind ('SMS', 'LOC', 'level' or 'bits'), then text (bytes as Latin-1\n"
    "                characters), percent or trace, and station if one is named; headed:\n"
    "                false for a message that did not begin with its header; then each\n"
    "                message's signal report: level_dbfs, snr_db, snr_lower_bound,\n"
    "                offset_hz, shift_hz, clock_ppm, confidence, clipped\n"
    "  --report      end each message line with a tab and its signal report: level in\n"
    "                dBFS, SNR in 3 kHz, tone offset in Hz, bit clock error in ppm\n"
    "  --station NAME\n"
    "                name the receiving station in each JSON object (by default none)\n"
    "  --channel N   decode channel N (default 1)\n"
    "  --rate HZ     raw input has HZ samples a second (1 000 to 1 000 000; default 48 000)\n"
    "  --channels N  raw input has N interleaved channels (default 1)\n"
    "  --demodulator crossing|matched\n"
    "                count zero crossings (the default), or correlate against the tones:\n"
    "                matched decodes weak, noisy and detuned signals\n"
    "  -h, --help    print this help and exit\n"
    "  -V, --version print the version and exit\n"
    "Exit status: 0 after a complete decode, 1 when the output cannot be written, 2 on bad\n"
    "arguments or input.\n";

constexpr int MaxChannel = 1024;

struct TDecodeArguments {
    TDriverOptions Options;
    int Channel = 1;
    std::optional<TRawLayout> Raw; // when --rate or --channels is given
    std::string File = "-";
    TInformationRequest Asked;
};

// The station goes into JSON strings as it is.
std::string ParseStation(const std::string &Text) {
    if (!IsPlainUtf8(Text))
        throw EToolError("--station must be UTF-8 text without control characters, not '" +
                         EscapeBytes(Text) + "'");
    return Text;
}

TRawLayout &RawLayout(TDecodeArguments &Arguments) {
    if (!Arguments.Raw)
        Arguments.Raw.emplace();
    return *Arguments.Raw;
}

void CheckRawLayout(const TDecodeArguments &Arguments) {
    if (!Arguments.Raw)
        return;
    if (Arguments.File != "-")
        throw EToolError("--rate and --channels are for raw samples on standard input, not for '" +
                         EscapeBytes(Arguments.File) + "'");
    if (Arguments.Channel > Arguments.Raw->Channels)
        throw EToolError("--channel " + std::to_string(Arguments.Channel) +
                         " is beyond --channels " + std::to_string(Arguments.Raw->Channels));
}

TDecodeArguments ParseArguments(int ArgCount, char **Args) {
    TDecodeArguments Result;
    TArgumentReader Reader(ArgCount, Args);
    bool HaveFile = false, OptionsEnded = false;
    while (!Reader.AtEnd()) {
        if (!OptionsEnded && Reader.AtOption()) {
            if (Result.Asked.Read(Reader))
                continue;
            if (Reader.Flag("--events"))
                Result.Options.Events = true;
            else if (Reader.Flag("--timestamps"))
                Result.Options.Timestamps = true;
            else if (Reader.Flag("--report"))
                Result.Options.Report = true;
            else if (Reader.Flag("--json"))
                Result.Options.Json = true;
            else if (Reader.Flag("--"))
                OptionsEnded = true;
            else if (auto Kind = Reader.Value("--demodulator"))
                Result.Options.Demodulator = ParseDemodulator(*Kind);
            else if (auto Channel = Reader.Value("--channel"))
                Result.Channel = int(ParseInteger("--channel", *Channel, 1, MaxChannel));
            else if (auto Rate = Reader.Value("--rate"))
                RawLayout(Result).Rate =
                    int(ParseInteger("--rate", *Rate, MinimumSampleRate, MaximumSampleRate));
            else if (auto Channels = Reader.Value("--channels"))
                RawLayout(Result).Channels =
                    int(ParseInteger("--channels", *Channels, 1, MaxChannel));
            else if (auto Station = Reader.Value("--station"))
                Result.Options.Station = ParseStation(*Station);
            else
                Reader.RefuseCurrent();
        } else if (HaveFile) {
            throw EToolError("more than one input file given: '" + EscapeBytes(Reader.Current()) +
                             "'");
        } else {
            Result.File = Reader.Next();
            HaveFile = true;
        }
    }
    CheckRawLayout(Result);
    return Result;
}

std::unique_ptr<TSampleSource> OpenInput(const TDecodeArguments &Arguments) {
    if (Arguments.File == "-")
        return OpenSoundStream(STDIN_FILENO, "standard input", Arguments.Raw, Arguments.Channel);
    return OpenSoundFile(Arguments.File, Arguments.Channel);
}

// A stored file is decoded at full speed and its lines are written in blocks; only a
// decode that waits for its input (a pipe, a terminal, a device) is watched live.
bool InputMayWait(const std::string &File) {
    struct stat Status {};
    const int Result = File == "-" ? fstat(STDIN_FILENO, &Status) : stat(File.c_str(), &Status);
    return Result != 0 || !S_ISREG(Status.st_mode);
}

int Decode(int ArgCount, char **Args) {
    const TDecodeArguments Arguments = ParseArguments(ArgCount, Args);
    if (const auto Status = Arguments.Asked.Answer("zel-decode", Usage))
        return *Status;
    const std::unique_ptr<TSampleSource> Input = OpenInput(Arguments);
    TDriverOptions Options = Arguments.Options;
    Options.FlushEachMessage = InputMayWait(Arguments.File);
    TLineWriter Output(stdout);
    TReceiverDriver Driver(Options, Output);
    // Stopped by a signal, the decode ends as at the end of the input: a pending
    // message is still delivered and everything written. A read waiting for input
    // returns at once.
    const platform::TTerminationSignals Signals(platform::TWaitingCalls::Interrupt);
    for (auto Samples = Input->Next(); !Samples.empty(); Samples = Input->Next()) {
        Driver.Feed(Samples);
        if (Signals.Received())
            break;
    }
    Driver.Finish();
    Output.Flush();
    return 0;
}

} // namespace

int main(int ArgCount, char **Args) {
    return RunTool("zel-decode", [&] { return Decode(ArgCount, Args); });
}
