#include "TestRecordings.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

// Every refusal: exit status 2, nothing on stdout, one line on stderr with the
// tool's name in front and, where given, the name of the offending file or value.
void ExpectRefused(const TToolResult &Result, const std::string &Tool,
                   const std::string &Mentioned) {
    EXPECT_EQ(Result.ExitCode, 2);
    EXPECT_EQ(Result.Output, "");
    const std::vector<std::string> Lines = SplitLines(Result.Errors);
    ASSERT_EQ(Lines.size(), 1u) << Result.Errors;
    EXPECT_TRUE(Lines[0].starts_with(Tool + ": ")) << Lines[0];
    EXPECT_NE(Lines[0].find(Mentioned), std::string::npos) << Lines[0];
}

class BadInputTest : public testing::Test {
protected:
    std::string Path(const std::string &Name) { return Scratch.File(Name).string(); }
    void ExpectDecodeRefused(const std::vector<std::string> &Arguments,
                             const std::string &Mentioned, const std::string &Input = "") {
        SCOPED_TRACE(Mentioned);
        ExpectRefused(RunTool(ZEL_DECODE, Arguments, Input), "zel-decode", Mentioned);
    }
    void ExpectEncodeRefused(const std::vector<std::string> &Arguments,
                             const std::string &Mentioned) {
        SCOPED_TRACE(Mentioned);
        ExpectRefused(RunTool(ZEL_ENCODE, Arguments), "zel-encode", Mentioned);
    }
    void ExpectListenRefused(const std::vector<std::string> &Arguments,
                             const std::string &Mentioned) {
        SCOPED_TRACE(Mentioned);
        ExpectRefused(RunTool(ZEL_LISTEN, Arguments), "zel-listen", Mentioned);
    }
    std::string Recording() { return RunTool(ZEL_ENCODE, {"--gap", "0", "SMS>test"}).Output; }

    TScratchDir Scratch;
};

TEST_F(BadInputTest, DecoderRefusesWhatIsNoRecording) {
    Scratch.Write("notes.txt", "Just some text, no sound in here.\n");
    Scratch.Write("cut.wav", Recording().substr(0, 30));
    Scratch.Write("empty.wav", "");
    ExpectDecodeRefused({Path("missing.wav")}, "missing.wav");
    ExpectDecodeRefused({Path("notes.txt")}, "notes.txt");
    ExpectDecodeRefused({Path("cut.wav")}, "cut.wav");
    ExpectDecodeRefused({Path("empty.wav")}, "empty.wav");
    ExpectDecodeRefused({Scratch.File("").string()}, "directory");
    // Escaped like message text: no control character reaches the terminal.
    ExpectDecodeRefused({Path("\x1b[2J.wav")}, "\\x1b[2J.wav");
}

TEST_F(BadInputTest, DecoderRefusesFormatsThatAreNoRecordings) {
    WriteRecording(Scratch.File("dump.sds"), {std::vector<float>(4800)}, 48000,
                   SF_FORMAT_SDS | SF_FORMAT_PCM_16);
    ExpectDecodeRefused({Path("dump.sds")}, "not a WAV");
}

TEST_F(BadInputTest, DecoderRefusesAChannelTheRecordingLacks) {
    Scratch.Write("mono.wav", Recording());
    ExpectDecodeRefused({"--channel", "2", Path("mono.wav")}, "mono.wav");
    ExpectDecodeRefused({"--channel", "2", "-"}, "standard input");
    ExpectDecodeRefused({"--channel", "3", "--channels", "2"}, "--channels 2");
    // A recording names its own layout: one given for raw samples is a mistake.
    ExpectDecodeRefused({"--rate", "22050", "-"}, "leave out --rate", Recording());
    ExpectDecodeRefused({"--channels", "2", Path("mono.wav")}, "mono.wav");
}

TEST_F(BadInputTest, DecoderRefusesBadArguments) {
    ExpectDecodeRefused({"--verbose"}, "--verbose");
    ExpectDecodeRefused({"--channel"}, "--channel");
    ExpectDecodeRefused({"--channel", "0"}, "--channel");
    ExpectDecodeRefused({"--channel", "1x"}, "1x");
    ExpectDecodeRefused({"a.wav", "b.wav"}, "b.wav");
    ExpectDecodeRefused({"--demodulator", "fast"}, "fast");
    ExpectDecodeRefused({"--rate", "0"}, "--rate must be a whole number from 1000 to 1000000");
    ExpectDecodeRefused({"--rate", "abc"}, "'abc'");
    ExpectDecodeRefused({"--station", "hill\xFFtop"}, "--station");
}

TEST_F(BadInputTest, EncoderRefusesBadArguments) {
    ExpectEncodeRefused({}, "MESSAGE");
    ExpectEncodeRefused({"HELLO"}, "HELLO");
    ExpectEncodeRefused({"SMS>a\\q"}, "escape");
    ExpectEncodeRefused({"SMS>a\\x4"}, "escape");
    ExpectEncodeRefused({"SMS>a\\"}, "escape");
    ExpectEncodeRefused({"--amplitude", "0", "SMS>a"}, "--amplitude");
    ExpectEncodeRefused({"--amplitude", "1.01", "SMS>a"}, "--amplitude");
    ExpectEncodeRefused({"--amplitude", "loud", "SMS>a"}, "loud");
    ExpectEncodeRefused({"--preamble", "-1", "SMS>a"}, "--preamble");
    ExpectEncodeRefused({"--gap", "5s", "SMS>a"}, "--gap");
    ExpectEncodeRefused({"--speed", "2", "SMS>a"}, "--speed");
    ExpectEncodeRefused({"--snr", "weak", "SMS>a"}, "weak");
    ExpectEncodeRefused({"--clock", "50", "SMS>a"}, "--clock");
    ExpectEncodeRefused({"SMS>a", "-o"}, "-o");
    ExpectEncodeRefused({"-o", Path("no/such/dir.wav"), "SMS>a"}, "dir.wav");
}

TEST_F(BadInputTest, ListenerRefusesBadArgumentsBeforeListening) {
    ExpectListenRefused({"--verbose"}, "--verbose");
    ExpectListenRefused({"--station"}, "--station");
    ExpectListenRefused({"--station", "a/b"}, "a/b");
    ExpectListenRefused({"--station", ""}, "--station");
    ExpectListenRefused({"--quiet"}, "--mqtt");
    ExpectListenRefused({"--mqtt", "http://host/zel"}, "http://host/zel");
    ExpectListenRefused({"--mqtt", "mqtt://host"}, "prefix");
    ExpectListenRefused({"--mqtt", "mqtt://host/a/#"}, "prefix");
    ExpectListenRefused({"--mqtt", "mqtt://host:0/zel"}, "port");
    ExpectListenRefused({"--mqtt", "mqtt://host:1883x/zel"}, "1883x");
    ExpectListenRefused({"--mqtt", "mqtt://:1883/zel"}, "no host");
    ExpectListenRefused({"--mqtt", "mqtt://u%zz@host/zel"}, "escape");
    ExpectListenRefused({"--mqtt", "mqtt://host/zel", "--cafile", Path("ca.pem")}, "mqtts://");
    ExpectListenRefused({"--mqtt", "mqtts://host/zel", "--cafile", Path("none.pem")},
                        "cannot read --cafile '" + Path("none.pem") + "': No such file");
    ExpectListenRefused({"--device", ""}, "--device");
    ExpectListenRefused({"--demodulator", "fast"}, "fast");
    // A program for --exec that cannot be run now will not be later either.
    Scratch.Write("plain.txt", "not a program\n");
    ExpectListenRefused({"--exec"}, "--exec");
    ExpectListenRefused({"--exec", Path("none")},
                        "cannot run --exec '" + Path("none") + "': No such file");
    ExpectListenRefused({"--exec", Path("plain.txt")}, "plain.txt': Permission denied");
    ExpectListenRefused({"--exec", "."}, "cannot run --exec '.': Is a directory");
}

// Names no broker takes, and brokers that cannot be there, are refused before listening,
// never retried for ever nor sent to be refused message by message.
TEST_F(BadInputTest, ListenerRefusesNamesAndBrokersThatCannotWork) {
    const struct {
        std::vector<std::string> Arguments;
        std::string Mentioned;
    } Cases[] = {
        {{"--station", "caf\xe9"}, "'caf\\xe9'"},
        {{"--station", "tab\tbed"}, "'tab\\x09bed'"},
        {{"--station", "a+b"}, "'a+b'"},
        {{"--station", "#"}, "'#'"},
        {{"--mqtt", "mqtt://host/zel\xff"}, "topic prefix"},
        {{"--mqtt", "mqtt://host/zel/\x7f"}, "topic prefix"},
        {{"--mqtt", "mqtt://host//zel"}, "empty levels"},
        {{"--mqtt", "mqtt://host/a//zel"}, "empty levels"},
        {{"--mqtt", "mqtt://127.0.0.1:1883:1883/zel"}, "'127.0.0.1:1883'"},
        {{"--mqtt", "mqtt://local host/zel"}, "'local host'"},
        {{"--mqtt", "mqtt://::1/zel"}, "IPv6"},
        {{"--mqtt", "mqtt://[::g]/zel"}, "IPv6"},
        {{"--mqtt", "mqtt://host:/zel"}, "port"},
        {{"--mqtt", "mqtt://host: 1883/zel"}, "port"},
        {{"--mqtt", "mqtt://host:65536/zel"}, "65536"},
        {{"--mqtt", "mqtt://%ff@host/zel"}, "user name"},
        {{"--mqtt", "mqtt://host/zel", "--client-id", ""}, "--client-id"},
        {{"--mqtt", "mqtt://host/zel", "--client-id", "a\x01"}, "'a\\x01'"},
        {{"--client-id", "zel1"}, "--mqtt"},
        {{"--mqtt", "mqtt://host/zel", "--station", std::string(65530, 's')}, "65535 bytes"},
        {{"--station", std::string(70000, '+')}, "'" + std::string(60, '+') + "...'"},
        {{"--mqtt-password-file", "pw"}, "--mqtt"},
        {{"--mqtt", "mqtt://u@host/zel", "--mqtt-password-file", "none"},
         "cannot read --mqtt-password-file 'none': No such file"},
        {{"--mqtt", "mqtts://host/zel", "--cafile", "."}, "'.': Is a directory"},
        {{"--mqtt", "mqtt://u:p@host/zel", "--mqtt-password-file", "none"}, "give only one"},
        {{"--mqtt", "mqtt://host/zel", "--mqtt-password-file", "none"}, "needs a user name"},
    };
    for (const auto &Case : Cases)
        ExpectListenRefused(Case.Arguments, Case.Mentioned);
}

// The four programs read their command lines alike, the window program too (before it
// needs a display): the same short and long words for help and version, on stdout, and
// the same line and exit status for each kind of mistake.
TEST(CommandLine, EveryProgramTakesTheSameWordsAndNamesTheSameMistakesAlike) {
    struct TProgram {
        const char *Path;
        std::string Name;
        std::string ValueOption; // one of its options that takes a value
        std::string BadValueLine;
    };
    const std::string Demodulators = "must be 'crossing' or 'matched', not 'x'";
    const TProgram Programs[] = {
        {ZEL_DECODE, "zel-decode", "--demodulator", "--demodulator " + Demodulators},
        {ZEL_ENCODE, "zel-encode", "--gap",
         "--gap must be a whole number from 0 to 600000, not 'x'"},
        {ZEL_LISTEN, "zel-listen", "--demodulator", "--demodulator " + Demodulators},
        {ZEL_RECEIVER, "ZELTextReceiver", "--demodulator", "--demodulator " + Demodulators},
    };
    for (const TProgram &Program : Programs) {
        SCOPED_TRACE(Program.Name);
        for (const char *Help : {"-h", "--help"}) {
            const TToolResult Result = RunTool(Program.Path, {Help});
            EXPECT_EQ(Result.ExitCode, 0);
            EXPECT_TRUE(Result.Output.starts_with("Usage: " + Program.Name + " ")) << Result.Output;
            EXPECT_EQ(Result.Errors, "");
        }
        for (const char *Version : {"-V", "--version"}) {
            const TToolResult Result = RunTool(Program.Path, {Version});
            EXPECT_EQ(Result.ExitCode, 0);
            EXPECT_EQ(Result.Output, Program.Name + " " ZEL_VERSION "\n");
        }
        const struct {
            std::vector<std::string> Arguments;
            std::string Line;
        } Mistakes[] = {
            {{"-x"}, "unknown option '-x' (see --help)"},
            {{Program.ValueOption}, Program.ValueOption + " needs a value"},
            {{Program.ValueOption, "x"}, Program.BadValueLine},
            {{Program.ValueOption + "=x"}, Program.BadValueLine},
        };
        for (const auto &Mistake : Mistakes) {
            const TToolResult Result = RunTool(Program.Path, Mistake.Arguments);
            EXPECT_EQ(Result.ExitCode, 2);
            EXPECT_EQ(Result.Output, "");
            EXPECT_EQ(Result.Errors, Program.Name + ": " + Mistake.Line + "\n");
        }
    }
    // The window hands Qt nothing, so Qt's own options are mistakes too.
    EXPECT_EQ(RunTool(ZEL_RECEIVER, {"-reverse"}).Errors,
              "ZELTextReceiver: unknown option '-reverse' (see --help)\n");
}

// Audio goes to a terminal only when -o - asks for it; `script` gives the encoder one.
TEST(CommandLine, EncoderWritesAudioToATerminalOnlyWhenToldTo) {
    const auto OnTerminal = [](const std::string &Arguments) {
        return RunTool("/usr/bin/script",
                       {"-qec", std::string("'" ZEL_ENCODE "' ") + Arguments, "/dev/null"});
    };
    const TToolResult Refused = OnTerminal("'SMS>x'");
    EXPECT_EQ(Refused.ExitCode, 2);
    EXPECT_EQ(SplitLines(Refused.Output),
              std::vector<std::string>{"zel-encode: standard output is a terminal: give -o FILE "
                                       "(or -o - to write there all the same)\r"});
    const TToolResult Asked = OnTerminal("-o - 'SMS>x'");
    EXPECT_EQ(Asked.ExitCode, 0);
    EXPECT_TRUE(Asked.Output.starts_with("RIFF"));
}

} // namespace
