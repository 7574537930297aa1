// zel-encode: writes FFSK test traffic as a WAV file (16-bit mono 48 000 Hz).

#include "cli/MessageText.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"
#include "recordings/WavFile.h"
#include "signal/ChannelSimulator.h"
#include "signal/FFSKEncoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *UsageStart =
    "Usage: zel-encode [OPTION]... MESSAGE...\n"
    "Writes each MESSAGE (header included, 'SMS>...' or 'LOC>...'; '\\xHH' and '\\\\'\n"
    "stand for any byte) as 1 200-baud FFSK frames after --preamble BITS bits (default\n"
    "32) and before --tail BITS bits (default 8: transmitters key a tail so that the last\n"
    "bit is not lost), followed by --gap MS milliseconds of silence (default 500), at\n"
    "--amplitude 0 < A <= 1 (default 0.5), as a 16-bit mono 48 000 Hz WAV file to -o\n"
    "FILE ('-', the default: stdout; a terminal only with -o - given).\n";
constexpr const char *UsageEnd =
    "  -h, --help        print this help and exit\n"
    "  -V, --version     print the version and exit\n"
    "Exit status: 0 on success, 1 when the output cannot be written, 2 on bad arguments.\n";

std::string Usage() {
    return std::string(UsageStart) + ChannelOptionsUsage + UsageEnd;
}

constexpr long long MaxPreambleBits = 1000000;
constexpr long long MaxGapMilliseconds = 600000;

struct TEncodeArguments {
    std::optional<std::string> Output; // stdout when not given
    double Amplitude = 0.5;
    int PreambleBits = 32;
    int TailBits = 8;
    int GapMilliseconds = 500;
    std::vector<std::string> Messages;
    TChannelSettings Channel;
    TInformationRequest Asked;
};

std::string ParseMessage(const std::string &Argument) {
    std::string Message = UnescapeBytes(Argument);
    if (!Message.starts_with("SMS>") && !Message.starts_with("LOC>"))
        throw EToolError("message '" + Argument + "' must begin with SMS> or LOC>");
    return Message;
}

double ParseAmplitude(const std::string &Text) {
    const double Amplitude = ParseReal("--amplitude", Text);
    if (!(Amplitude > 0.0 && Amplitude <= 1.0))
        throw EToolError("--amplitude must be above 0 and at most 1, not '" + Text + "'");
    return Amplitude;
}

void ParseOption(TArgumentReader &Reader, TEncodeArguments &Result) {
    if (Result.Asked.Read(Reader))
        return;
    if (auto Output = Reader.Value("-o"))
        Result.Output = *Output;
    else if (auto Amplitude = Reader.Value("--amplitude"))
        Result.Amplitude = ParseAmplitude(*Amplitude);
    else if (auto Bits = Reader.Value("--preamble"))
        Result.PreambleBits = int(ParseInteger("--preamble", *Bits, 0, MaxPreambleBits));
    else if (auto Bits = Reader.Value("--tail"))
        Result.TailBits = int(ParseInteger("--tail", *Bits, 0, MaxPreambleBits));
    else if (auto Gap = Reader.Value("--gap"))
        Result.GapMilliseconds = int(ParseInteger("--gap", *Gap, 0, MaxGapMilliseconds));
    else if (ReadChannelOption(Reader, Result.Channel))
        return;
    else
        Reader.RefuseCurrent();
}

TEncodeArguments ParseArguments(int ArgCount, char **Args) {
    TEncodeArguments Result;
    TArgumentReader Reader(ArgCount, Args);
    bool OptionsEnded = false;
    while (!Reader.AtEnd()) {
        if (!OptionsEnded && Reader.Flag("--"))
            OptionsEnded = true;
        else if (!OptionsEnded && Reader.AtOption())
            ParseOption(Reader, Result);
        else
            Result.Messages.push_back(ParseMessage(Reader.Next()));
    }
    if (Result.Messages.empty() && !Result.Asked.Any())
        throw EToolError("no MESSAGE given (see --help)");
    return Result;
}

std::vector<std::int16_t> Render(const TEncodeArguments &Arguments) {
    ffsk::TFFSKEncoder Encoder(Arguments.Amplitude, 0.0, ChannelKeying(Arguments.Channel));
    const int GapSamples = Arguments.GapMilliseconds * (ffsk::SampleRate / 1000);
    for (const std::string &Message : Arguments.Messages) {
        Encoder.AddPreamble(Arguments.PreambleBits);
        Encoder.AddMessage(Message);
        Encoder.AddPreamble(Arguments.TailBits);
        Encoder.AddSilence(GapSamples);
    }
    return PassThroughChannel(Encoder.Samples(), Arguments.Amplitude, Arguments.Channel);
}

// Binary audio on a terminal is noise that can also upset it: only when asked for.
void RefuseTerminal(const TEncodeArguments &Arguments) {
    if (!Arguments.Output && isatty(STDOUT_FILENO))
        throw EToolError("standard output is a terminal: give -o FILE (or -o - to write there "
                         "all the same)");
}

void WriteOutput(const std::string &Path, const std::string &Bytes) {
    const bool ToStdout = Path == "-";
    std::FILE *Stream = ToStdout ? stdout : std::fopen(Path.c_str(), "wb");
    if (!Stream)
        throw EToolError(EscapeBytes(Path) + ": " + std::strerror(errno));
    const bool Written = std::fwrite(Bytes.data(), 1, Bytes.size(), Stream) == Bytes.size();
    const bool Closed = ToStdout ? std::fflush(Stream) == 0 : std::fclose(Stream) == 0;
    if (!Written || !Closed)
        throw EOutputError((ToStdout ? std::string("standard output") : EscapeBytes(Path)) + ": " +
                           std::strerror(errno));
}

int Encode(int ArgCount, char **Args) {
    const TEncodeArguments Arguments = ParseArguments(ArgCount, Args);
    if (const auto Status = Arguments.Asked.Answer("zel-encode", Usage()))
        return *Status;
    RefuseTerminal(Arguments);
    WriteOutput(Arguments.Output.value_or("-"), WavFileBytes(Render(Arguments), ffsk::SampleRate));
    return 0;
}

} // namespace

int main(int ArgCount, char **Args) {
    return RunTool("zel-encode", [&] { return Encode(ArgCount, Args); });
}
