// zel-decode: decodes the FFSK messages of a recording with the receiver's own
// decoder, fed exactly as the live sound input feeds it.

#include "platform/TerminationSignals.h"
#include "tools/MessageText.h"
#include "tools/ReceiverDriver.h"
#include "tools/SampleSource.h"
#include "tools/ToolArguments.h"
#include "tools/ToolMain.h"

#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *Usage =
    "Usage: zel-decode [OPTION]... [FILE | -]\n"
    "Decodes the 1 200-baud FFSK messages of a recording (WAV, W64, RF64, AIFF, AU, CAF,\n"
    "FLAC, Ogg or MP3; '-' or no FILE: raw signed 16-bit little-endian mono 48 000 Hz on\n"
    "stdin) and prints one line per message, 'SMS <text>' or 'LOC <text>' ('headerless\n"
    "SMS <text>' for one that did not begin with its header): from a pipe, a terminal or\n"
    "a device as soon as it is decoded, from a stored file in blocks.\n"
    "SIGINT, SIGTERM or SIGHUP ends the decode as the end of the input would; a second\n"
    "one ends it at once.\n"
    "  --events      also print 'level <n>' per buffer and 'bits <trace>' per bit period\n"
    "  --timestamps  start each message line with the time in the recording, in seconds,\n"
    "                at the end of the sample that delivered it\n"
    "  --json        print each message as a JSON object: offset (seconds into the\n"
    "                recording), kind, text (bytes as Latin-1 characters), station;\n"
    "                headed: false for one that did not begin with its header\n"
    "  --channel N   decode channel N (default 1)\n"
    "  --demodulator crossing|matched\n"
    "                count zero crossings (the default), or correlate against the tones:\n"
    "                matched decodes weak, noisy and detuned signals\n"
    "  --help        print this help and exit\n"
    "  --version     print the version and exit\n"
    "Exit status: 0 after a complete decode, 1 when the output cannot be written, 2 on bad\n"
    "arguments or input.\n";

constexpr int MaxChannel = 1024;

struct TDecodeArguments {
    TDriverOptions Options;
    int Channel = 1;
    std::string File = "-";
    bool Help = false;
    bool Version = false;
};

TDecodeArguments ParseArguments(int ArgCount, char **Args) {
    TDecodeArguments Result;
    TArgumentReader Reader(ArgCount, Args);
    bool HaveFile = false, OptionsEnded = false;
    while (!Reader.AtEnd()) {
        if (!OptionsEnded && Reader.AtOption()) {
            if (Reader.Flag("--help"))
                Result.Help = true;
            else if (Reader.Flag("--version"))
                Result.Version = true;
            else if (Reader.Flag("--events"))
                Result.Options.Events = true;
            else if (Reader.Flag("--timestamps"))
                Result.Options.Timestamps = true;
            else if (Reader.Flag("--json"))
                Result.Options.Json = true;
            else if (Reader.Flag("--"))
                OptionsEnded = true;
            else if (auto Kind = Reader.Value("--demodulator"))
                Result.Options.Demodulator = ParseDemodulator(*Kind);
            else if (auto Channel = Reader.Value("--channel"))
                Result.Channel = int(ParseInteger("--channel", *Channel, 1, MaxChannel));
            else
                throw EToolError("unknown option '" + Reader.Current() + "' (see --help)");
        } else if (HaveFile) {
            throw EToolError("more than one input file given: '" + EscapeBytes(Reader.Current()) +
                             "'");
        } else {
            Result.File = Reader.Next();
            HaveFile = true;
        }
    }
    return Result;
}

std::unique_ptr<TSampleSource> OpenInput(const TDecodeArguments &Arguments) {
    if (Arguments.File != "-")
        return OpenSoundFile(Arguments.File, Arguments.Channel);
    if (Arguments.Channel != 1)
        throw EToolError("standard input: raw input has 1 channel, no channel " +
                         std::to_string(Arguments.Channel));
    return std::make_unique<TRawSampleSource>(STDIN_FILENO, "standard input");
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
    if (Arguments.Help)
        return ShowUsage(Usage);
    if (Arguments.Version)
        return ShowVersion("zel-decode");
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
