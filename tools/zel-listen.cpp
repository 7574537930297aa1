// zel-listen: the receiver as a service. Listens to the sound input exactly as the
// window does and writes each message as it is delivered: a timestamped line or a
// JSON object on stdout, JSON to an MQTT broker, and to a program of the user's; with
// a store, each message is committed to it before anything shows it.

#include "cli/DeviceChoice.h"
#include "cli/MessageText.h"
#include "cli/OptionFile.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"
#include "output/MessageJson.h"
#include "output/MqttNames.h"
#include "platform/MessageServices.h"
#include "platform/PreferredWaveIn.h"
#include "platform/PulseLoop.h"
#include "platform/PulseWaveIn.h"
#include "platform/ShortTurns.h"
#include "platform/TerminationNotifier.h"
#include "platform/WaveInService.h"
#include "service/AlertRunner.h"
#include "service/ListenedMessage.h"
#include "service/LiveInput.h"
#include "service/MessageOutput.h"
#include "service/MqttPassword.h"
#include "service/MqttPublisher.h"
#include "service/ServiceStatus.h"
#include "service/SummaryReporter.h"
#include "store/StoreStage.h"
#include "store/StoredHistory.h"
#include "web/RecentMessages.h"
#include "web/WebServer.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char *ToolName = "zel-listen";

constexpr const char *Usage =
    "Usage: zel-listen [OPTION]...\n"
    "Listens to the sound input for 1 200-baud FFSK messages and writes each one as it\n"
    "arrives, one line on stdout: '2026-12-08T17:26:40.123Z SMS <text>' (UTC), or\n"
    "'... headerless SMS <text>' for one that did not begin with its header: its frames\n"
    "may be noise or other data.\n"
    "  --json           write JSON objects instead: time, kind, text, station (and\n"
    "                   headed: false for one without its header), then the signal\n"
    "                   report: level_dbfs, snr_db, snr_lower_bound, offset_hz,\n"
    "                   shift_hz, clock_ppm, confidence, clipped\n"
    "  --report         end each line with a tab and the signal report: level in dBFS,\n"
    "                   SNR in 3 kHz, tone offset in Hz, bit clock error in ppm\n"
    "  --quiet          write nothing on stdout (with --mqtt, --store, --http or --exec)\n"
    "  --backlog LINES  lines kept for a reader of stdout that falls behind (default\n"
    "                   1000); beyond that the oldest go, and one line on stderr says\n"
    "                   how many when the reader has caught up\n"
    "  --station NAME   the station name in JSON and topics: UTF-8 without control\n"
    "                   characters, '/', '+' or '#' (default: the host name, with any\n"
    "                   byte against these rules made '_')\n"
    "  --mqtt URL       also publish each message's JSON with QoS 1 to\n"
    "                   <prefix>/<station>/sms or .../loc (.../headerless for one\n"
    "                   without its header), 'online'/'offline' to\n"
    "                   <prefix>/<station>/status (retained), and once a minute while\n"
    "                   messages arrive the summary to .../summary (retained); URL is\n"
    "                   mqtt://[user[:password]@]host[:port]/prefix or mqtts://...;\n"
    "                   the prefix is UTF-8 without control characters, '+', '#' or\n"
    "                   empty levels\n"
    "  --mqtt-password-file FILE\n"
    "                   the password of the URL's user: the file's first line, out of\n"
    "                   sight of ps; without it and without one in the URL, the\n"
    "                   environment's ZEL_MQTT_PASSWORD (a password in the URL and\n"
    "                   this option together are refused)\n"
    "  --client-id ID   the client id at the broker (default: made from the station and\n"
    "                   the host name, the same at every start, so that a new connection\n"
    "                   takes over an old one); two zel-listen on one host with one\n"
    "                   station need different ones, or they push each other off\n"
    "  --cafile FILE    the certificate authorities for mqtts:// (default: the system's)\n"
    "  --store FILE     keep every message in FILE, an SQLite database (created when\n"
    "                   missing): each is stored and synced before it is written or\n"
    "                   published, so that none shown is lost to a crash; a store\n"
    "                   that cannot be written is reported, and messages go on and\n"
    "                   are stored when it can\n"
    "  --keep-days N    delete stored messages older than N days, once an hour, but\n"
    "                   the newest, so that ids go on from it (default: keep all)\n"
    "  --exec PROGRAM   also run PROGRAM (a path, without arguments) for each message,\n"
    "                   with its JSON object and a newline on PROGRAM's stdin and\n"
    "                   PROGRAM's output on stderr; 4 at once at most (the next 1000\n"
    "                   wait), each stopped after 30 s\n"
    "  --http [ADDRESS:]PORT\n"
    "                   serve a web page of the station at http://ADDRESS:PORT/: its\n"
    "                   input, broker and last location, and its messages, live and\n"
    "                   searchable (the last 1000, or the store), with their JSON under\n"
    "                   /api/ and metrics at /metrics; ADDRESS is 127.0.0.1 unless given\n"
    "                   (any other address shows the messages to whoever reaches it); a\n"
    "                   port that cannot be listened on ends it at the start\n"
    "  --demodulator matched|crossing\n"
    "                   correlate against the tones (the default: it copes with weak,\n"
    "                   noisy and detuned radios), or count zero crossings as the window\n"
    "                   does by default\n"
    "  --device NAME    record from this input: its name as --list-devices shows it\n"
    "                   (best), its description, or the start of either that fits one\n"
    "                   input only; waits while it is away\n"
    "  --list-devices   list the sound inputs, one a line: the name that stays the\n"
    "                   same (the sound server's source, or the ALSA card and device),\n"
    "                   a tab, the description; exits with status 1 when there is none\n"
    "  -h, --help       print this help and exit\n"
    "  -V, --version    print the version and exit\n"
    "SIGUSR1 writes a summary on stderr: per kind, the messages since the start, the\n"
    "time of the last, and their last, lowest, highest and mean level and SNR.\n"
    "Runs until SIGTERM, SIGINT or SIGHUP, then exits with status 0 (a second one ends\n"
    "it at once); 1 when stdout takes no more and messages have nowhere else to go\n"
    "(a broker, a store, a web page or an alert program); 2 on bad arguments and on\n"
    "what cannot start (a port for --http in use).\n";

// Sent messages leave the queue at most this long after a stop is asked for.
constexpr auto MqttFlushTime = 5s;
// The programs for the last messages get this long to end.
constexpr auto AlertFinishTime = 5s;
// About as many lines as the pipe to a reader holds by itself.
constexpr long long DefaultBacklog = 1000;
constexpr long long MaxBacklog = 1000000;
constexpr long long MaxKeepDays = 100000;

struct TListenArguments {
    bool Json = false;
    bool Report = false;
    bool Quiet = false;
    std::size_t Backlog = DefaultBacklog;
    bool ListDevices = false;
    TInformationRequest Asked;
    std::string Station;                                      // given, or the host name
    TDemodulatorKind Demodulator = TDemodulatorKind::Matched; // made for real radios
    std::optional<std::string> Device;                        // none: the preferred input
    std::optional<TMqttUrl> Mqtt;
    std::optional<std::string> PasswordFile;
    std::string CaFile;
    std::optional<std::string> ClientId; // none: made from the station and the host name
    std::optional<std::string> Store;
    std::optional<long long> KeepDays; // none: everything is kept
    std::optional<std::string> Exec;   // the program run for each message
    std::optional<THttpAddress> Http;
};

// MQTT strings (a client id, a topic) are at most this long.
constexpr std::size_t LongestMqttString = 65535;
// The longest subtopic a message or the status goes to, with the slashes around the station.
constexpr std::size_t LongestSubtopic = std::char_traits<char>::length("//headerless");
// Of a refused name, the error line shows this much: a name may be megabytes long.
constexpr std::size_t ShownNameBytes = 60;

[[noreturn]] void RefuseName(const char *Option, const char *Rule, const std::string &Name) {
    const bool Cut = Name.size() > ShownNameBytes;
    throw EToolError(std::string(Option) + " must be " + Rule + ", not '" +
                     EscapeBytes(Name.substr(0, ShownNameBytes)) + (Cut ? "...'" : "'"));
}

// The station is a topic level and a JSON string.
void CheckNames(const TListenArguments &Arguments) {
    if (!IsTopicLevel(Arguments.Station))
        RefuseName("--station", "UTF-8 text without control characters, '/', '+' or '#'",
                   Arguments.Station);
    const auto &Id = Arguments.ClientId;
    if (Id && (Id->empty() || Id->size() > LongestMqttString || !IsPlainUtf8(*Id)))
        RefuseName("--client-id", "UTF-8 text of 1 to 65535 bytes without control characters", *Id);
}

void CheckCombination(const TListenArguments &Arguments) {
    if (!Arguments.CaFile.empty() && !(Arguments.Mqtt && Arguments.Mqtt->Tls))
        throw EToolError("--cafile needs an mqtts:// URL");
    if (Arguments.ClientId && !Arguments.Mqtt)
        throw EToolError("--client-id needs --mqtt");
    if (Arguments.PasswordFile && !Arguments.Mqtt)
        throw EToolError("--mqtt-password-file needs --mqtt");
    if (Arguments.KeepDays && !Arguments.Store)
        throw EToolError("--keep-days needs --store");
    if (Arguments.Quiet && !Arguments.Mqtt && !Arguments.Store && !Arguments.Http &&
        !Arguments.Exec)
        throw EToolError(
            "--quiet without --mqtt, --store, --http or --exec leaves nothing to write");
    if (Arguments.Mqtt &&
        Arguments.Mqtt->Prefix.size() + Arguments.Station.size() + LongestSubtopic >
            LongestMqttString)
        throw EToolError("the topic prefix and --station make topics longer than the 65535 "
                         "bytes MQTT allows");
}

// The files are read now: one that cannot be read is a bad argument.
void CheckFiles(TListenArguments &Arguments) {
    if (!Arguments.CaFile.empty())
        RequireReadableFile("--cafile", Arguments.CaFile);
    if (Arguments.Exec)
        RequireRunnableFile("--exec", *Arguments.Exec);
    if (Arguments.Mqtt)
        AddMqttPassword(*Arguments.Mqtt, Arguments.PasswordFile);
}

TListenArguments ParseArguments(int ArgCount, char **Args) {
    TListenArguments Result;
    Result.Station = DefaultStation();
    TArgumentReader Reader(ArgCount, Args);
    while (!Reader.AtEnd()) {
        if (Result.Asked.Read(Reader))
            continue;
        if (Reader.Flag("--json"))
            Result.Json = true;
        else if (Reader.Flag("--report"))
            Result.Report = true;
        else if (Reader.Flag("--quiet"))
            Result.Quiet = true;
        else if (Reader.Flag("--list-devices"))
            Result.ListDevices = true;
        else if (auto Lines = Reader.Value("--backlog"))
            Result.Backlog = std::size_t(ParseInteger("--backlog", *Lines, 1, MaxBacklog));
        else if (auto Station = Reader.Value("--station"))
            Result.Station = *Station;
        else if (auto Kind = Reader.Value("--demodulator"))
            Result.Demodulator = ParseDemodulator(*Kind);
        else if (auto Device = Reader.Value("--device"))
            Result.Device = *Device;
        else if (auto Url = Reader.Value("--mqtt"))
            Result.Mqtt = ParseMqttUrl(*Url);
        else if (auto PasswordFile = Reader.Value("--mqtt-password-file"))
            Result.PasswordFile = *PasswordFile;
        else if (auto CaFile = Reader.Value("--cafile"))
            Result.CaFile = *CaFile;
        else if (auto ClientId = Reader.Value("--client-id"))
            Result.ClientId = *ClientId;
        else if (auto Store = Reader.Value("--store"))
            Result.Store = *Store;
        else if (auto Days = Reader.Value("--keep-days"))
            Result.KeepDays = ParseInteger("--keep-days", *Days, 1, MaxKeepDays);
        else if (auto Program = Reader.Value("--exec"))
            Result.Exec = *Program;
        else if (auto Http = Reader.Value("--http"))
            Result.Http = ParseHttpAddress(*Http);
        else
            Reader.RefuseCurrent();
    }
    CheckNames(Result);
    CheckCombination(Result);
    CheckFiles(Result);
    return Result;
}

void Report(const std::string &Line) {
    ReportProblem(ToolName, Line);
}

// Errors raised while recording reach the user once each, not once per buffer. (The
// handler is called through copies: what it remembers lives outside it.)
// Each recording error once, not once per retry; returns what ends an episode (the input
// is back), so that the same error in the next episode is reported again.
std::function<void()> ReportRecordingErrors() {
    auto Last = std::make_shared<std::string>();
    platform::SetExceptionHandler([Last](TObject *, std::exception_ptr Error) {
        std::string Message = "unknown error";
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception &Exception) {
            Message = Exception.what();
        } catch (...) {
        }
        if (Message != *Last)
            Report(Message);
        *Last = Message;
    });
    return [Last] { Last->clear(); };
}

TMessageOutputSettings OutputSettings(const TListenArguments &Arguments) {
    TMessageOutputSettings Settings;
    Settings.Json = Arguments.Json;
    Settings.Report = Arguments.Report;
    Settings.Quiet = Arguments.Quiet;
    Settings.Backlog = Arguments.Backlog;
    Settings.Station = Arguments.Station;
    if (Arguments.Mqtt)
        Settings.TopicBase = Arguments.Mqtt->Prefix + "/" + Arguments.Station + "/";
    if (Arguments.Store)
        Settings.OtherOutputs.push_back("the store");
    if (Arguments.Http)
        Settings.OtherOutputs.push_back("the web page");
    if (Arguments.Exec)
        Settings.OtherOutputs.push_back("the alert program");
    return Settings;
}

int ListDevices(platform::IWaveInService &Service) {
    const auto Inputs = OfferedInputs(Service);
    for (const platform::TInputName &Input : Inputs)
        std::printf("%s\t%s\n", Input.Lasting.c_str(), Input.Description.c_str());
    if (Inputs.empty())
        Report("no sound input found");
    return Inputs.empty() ? 1 : 0;
}

// The summary goes, retained, where the station's messages go.
TSummaryReporter::TPublish SummaryPublication(TMqttPublisher *Publisher,
                                              const TListenArguments &Arguments) {
    if (!Publisher)
        return {};
    const std::string Topic = Arguments.Mqtt->Prefix + "/" + Arguments.Station + "/summary";
    return [Publisher, Topic](const std::string &Json) { Publisher->Publish(Topic, Json, true); };
}

std::unique_ptr<TMqttPublisher> ConnectBroker(const TListenArguments &Arguments,
                                              TServiceStatus &Status) {
    if (!Arguments.Mqtt)
        return nullptr;
    Status.UseBroker();
    TMqttSettings Settings;
    Settings.OnConnection = [&Status](bool Connected) { Status.SetBrokerConnected(Connected); };
    Settings.Url = *Arguments.Mqtt;
    Settings.CaFile = Arguments.CaFile;
    Settings.ClientId =
        Arguments.ClientId.value_or(MqttClientId(Arguments.Station, DefaultStation()));
    Settings.StatusTopic = Arguments.Mqtt->Prefix + "/" + Arguments.Station + "/status";
    return std::make_unique<TMqttPublisher>(Settings, Report);
}

// Refuses a file that is not a store of ours, or cannot be opened, before listening.
std::unique_ptr<TStoreStage> OpenStore(const TListenArguments &Arguments,
                                       TStoreStage::THandOn HandOn) {
    if (!Arguments.Store)
        return nullptr;
    TStoreSettings Settings;
    Settings.Path = *Arguments.Store;
    Settings.Origin = {Arguments.Station,
                       Arguments.Demodulator == TDemodulatorKind::Matched ? "matched" : "crossing"};
    if (Arguments.KeepDays)
        Settings.Keep = std::chrono::hours(24 * *Arguments.KeepDays);
    try {
        return std::make_unique<TStoreStage>(Settings, std::move(HandOn), Report);
    } catch (const ESqliteError &Error) {
        throw EToolError("cannot open the store " + Settings.Path + ": " + Error.what());
    }
}

std::unique_ptr<TWebServer> StartWebServer(const TListenArguments &Arguments,
                                           const IMessageHistory &History,
                                           const TServiceStatus &Status) {
    if (!Arguments.Http)
        return nullptr;
    TWebServerSettings Settings;
    Settings.Address = *Arguments.Http;
    Settings.Station = Arguments.Station;
    return std::make_unique<TWebServer>(Settings, History, Status);
}

int Listen(int ArgCount, char **Args) {
    const TListenArguments Arguments = ParseArguments(ArgCount, Args);
    if (const auto Status = Arguments.Asked.Answer(ToolName, Usage))
        return *Status;
    // A summary asked for while the service starts, before there is one, ends nothing.
    std::signal(SIGUSR1, SIG_IGN);
    // Told apart from the window in the volume control.
    platform::SetRecordingProgramName("ZEL Text Receiver (service)");
    // Outlives everything that records: the sound input closes before it goes. The sound
    // server's audio wakes this thread only, which runs the event loop.
    const auto SoundInput =
        platform::CreatePreferredWaveInService(platform::TSoundServerLoop::ThisThreadsEventLoop());
    if (Arguments.ListDevices)
        return ListDevices(*SoundInput);
    std::optional<TChosenDeviceService> ChosenInput;
    if (Arguments.Device)
        ChosenInput.emplace(*SoundInput, *Arguments.Device, "--list-devices");
    platform::SetWaveInService(ChosenInput ? &*ChosenInput : SoundInput.get());
    std::signal(SIGPIPE, SIG_IGN);

    // Qt's own event loop: the GLib one costs more for every recorded buffer.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication Application(ArgCount, Args);
    // Its work per buffer is short: the server it wakes waits until that work is done.
    platform::AskForShortTurns();
    const std::function<void()> EndErrorEpisode = ReportRecordingErrors();
    // Watched before the broker is told "online": a stop asked for the moment it shows
    // is a polite one too. The event loop, where the input runs, handles it.
    TLiveInput *Running = nullptr;
    platform::TTerminationNotifier Signals([&](int) {
        if (Running)
            Running->Stop();
        Application.quit();
    });
    // What the web page shows: fed from here and from the broker's and the store's threads.
    TServiceStatus Status;
    // Everything that takes each message, in this order. With a store, they are called
    // on its thread after the commit; a file that is not ours is refused before the
    // broker hears of us.
    std::vector<std::function<void(const TListenedMessage &)>> Consumers;
    const auto HandOn = [&](const TListenedMessage &Message) {
        for (const auto &Consumer : Consumers)
            Consumer(Message);
    };
    const std::unique_ptr<TStoreStage> Store = OpenStore(Arguments, HandOn);
    // The web page searches the store, or else the last messages kept in memory.
    TRecentMessages Recent(TRecentMessages::DefaultCapacity, TRecentMessages::LastIdNow());
    const std::unique_ptr<IMessageHistory> Stored =
        Store ? std::make_unique<TStoredHistory>(*Arguments.Store) : nullptr;
    const std::unique_ptr<TWebServer> Web =
        StartWebServer(Arguments, Stored ? *Stored : Recent, Status);
    const std::unique_ptr<TMqttPublisher> Publisher = ConnectBroker(Arguments, Status);
    TSummaryReporter Summary(Arguments.Station, Report,
                             SummaryPublication(Publisher.get(), Arguments));
    int ExitCode = 0;
    TMessageOutput Output(OutputSettings(Arguments), Publisher.get(), Report, [&] {
        ExitCode = OutputFailureExitCode;
        Application.quit();
    });
    Consumers.push_back([&](const TListenedMessage &Message) { Output.Deliver(Message); });
    Consumers.push_back([&](const TListenedMessage &Message) { Summary.Add(Message); });
    std::optional<TAlertRunner> Alerts;
    if (Arguments.Exec) {
        Alerts.emplace(TAlertSettings{.Program = *Arguments.Exec, .Station = Arguments.Station},
                       Report);
        Consumers.push_back([&](const TListenedMessage &Message) { Alerts->Run(Message); });
    }
    if (Web) {
        Status.AddQueue("stdout", [&] { return Output.Waiting(); });
        if (Publisher)
            Status.AddQueue("mqtt", [&] { return Publisher->Waiting(); });
        if (Store) {
            Status.AddQueue("store", [&] { return Store->Waiting(); });
            Status.WatchStoreErrors([&] { return Store->Errors(); });
        }
        Consumers.push_back([&](const TListenedMessage &Message) {
            Status.Count(Message);
            if (!Store)
                Recent.Add(Message);
            Web->MessagesAdded();
        });
    }
    {
        TLiveInput Input(
            Arguments.Demodulator,
            [&](TObject *Sender, bool MessIsSMS, const TRxString &Text) {
                // The receiver is the sender of its events.
                const auto &Receiver = static_cast<const TFFSKReceiver &>(*Sender);
                TListenedMessage Message;
                Message.Time = std::chrono::system_clock::now();
                Message.IsSMS = MessIsSMS;
                Message.Headed = Receiver.MessageHeaded();
                Message.Text = Text;
                Message.Report = Receiver.MessageReport();
                if (Store)
                    Store->Push(std::move(Message));
                else
                    HandOn(Message);
            },
            [&](const std::string &Line) {
                EndErrorEpisode();
                Report(Line);
            },
            [&](bool Listening) { Status.SetListening(Listening); });
        Running = &Input;
        Application.exec();
        Running = nullptr;
    }
    if (Store)
        Store->Finish();
    Output.Finish();
    if (Alerts)
        Alerts->Finish(AlertFinishTime);
    if (Publisher && !Publisher->Close(MqttFlushTime))
        Report("the MQTT broker did not take every message in time; the rest are lost");
    return ExitCode;
}

} // namespace

int main(int ArgCount, char **Args) {
    return RunTool(ToolName, [&] { return Listen(ArgCount, Args); });
}
