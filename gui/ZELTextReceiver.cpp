// ZEL Text Receiver: shows the text messages, locations, bit trace and input level
// that arrive as 1 200-baud FFSK tones at the sound input.

#include "cli/DeviceChoice.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"
#include "gui/DemodulatorSetting.h"
#include "gui/DisplayCheck.h"
#include "gui/Forms.h"
#include "gui/guiZELTextReceiverMain.h"
#include "platform/PreferredWaveIn.h"
#include "platform/PulseLoop.h"
#include "platform/ShortTurns.h"
#include "platform/TerminationNotifier.h"
#include "platform/WaveInService.h"

#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr const char *ProgramName = "ZELTextReceiver";

constexpr const char *Usage =
    "Usage: ZELTextReceiver [--demodulator crossing|matched] [--device NAME] [-h | -V]\n"
    "Listens to the preferred sound input for 1 200-baud FFSK text messages and shows\n"
    "them in one always-on-top window: text messages in a log, the last location in the\n"
    "top strip, the input level as a bar and the last 40 bit symbols at the bottom.\n"
    "  --demodulator crossing|matched\n"
    "                 the bit demodulator for this run: zero crossings, or matched tones,\n"
    "                 which decode weak, noisy and detuned signals. Without the option,\n"
    "                 the one last chosen under Demodulator in the log's context menu\n"
    "                 (right click); zero crossings until one is chosen\n"
    "  --device NAME  record from this input instead: its name as zel-listen\n"
    "                 --list-devices shows it (best), its description, or the start of\n"
    "                 either that fits one input only; waits while it is away\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "Exit status: 2 on bad arguments.\n";

// The program's own options only: Qt's (-reverse, -qwindowtitle, ...) are refused, as
// the program hands Qt its name only.
struct TWindowArguments {
    std::optional<TDemodulatorKind> Demodulator; // for this run only; nothing is saved
    std::optional<std::string> Device;           // none: the preferred input
    TInformationRequest Asked;
};

TWindowArguments ParseArguments(int ArgCount, char **Args) {
    TWindowArguments Result;
    TArgumentReader Reader(ArgCount, Args);
    while (!Reader.AtEnd()) {
        if (Result.Asked.Read(Reader))
            continue;
        if (auto Kind = Reader.Value("--demodulator"))
            Result.Demodulator = ParseDemodulator(*Kind);
        else if (auto Device = Reader.Value("--device"))
            Result.Device = *Device;
        else
            Reader.RefuseCurrent();
    }
    return Result;
}

// The receiver writes nothing to the console, Qt's own warnings included; only what
// ends it (a display that fails in a way not foreseen, say) is told, as the last word
// before the abort, in one line.
void OnlyFatalQtMessage(QtMsgType Type, const QMessageLogContext &, const QString &Message) {
    if (Type == QtFatalMsg)
        std::fprintf(stderr, "ZELTextReceiver: %s\n",
                     qUtf8Printable(Message.section(QLatin1Char('\n'), 0, 0)));
}

} // namespace

int main(int argc, char *argv[]) {
    qInstallMessageHandler(OnlyFatalQtMessage);
    TWindowArguments Arguments;
    if (const int Status = RunTool(ProgramName, [&] {
            Arguments = ParseArguments(argc, argv);
            return 0;
        }))
        return Status;
    if (const auto Status = Arguments.Asked.Answer(ProgramName, Usage))
        return *Status;

    // Outlives the application, whose windows close the sound input when they go. The
    // sound server's audio wakes this thread only, which runs the event loop.
    const auto SoundInput =
        platform::CreatePreferredWaveInService(platform::TSoundServerLoop::ThisThreadsEventLoop());
    // A name that fits no input or several is a bad argument, told before the display
    // is needed.
    std::optional<TChosenDeviceService> ChosenInput;
    if (const int Status = RunTool(ProgramName, [&] {
            if (Arguments.Device)
                ChosenInput.emplace(*SoundInput, *Arguments.Device, "zel-listen --list-devices");
            return 0;
        }))
        return Status;
    platform::SetWaveInService(ChosenInput ? &*ChosenInput : SoundInput.get());
    if (const std::optional<std::string> Reason = WhyNoDisplay()) {
        ReportProblem(ProgramName, "cannot open the display: " + *Reason);
        return 1;
    }

    // Qt's own event loop: the GLib one costs more for every recorded buffer.
    qputenv("QT_NO_GLIB", "1");
    // The window is small: its repaints go to the X server with the request, instead of
    // through shared memory, which makes every repaint wait for the server to answer.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    int QtArgCount = 1; // Qt sees the program name only, none of its own options
    TApplication Application(QtArgCount, argv);
    // Ending the session, `kill` or Ctrl+C close the window as the user would, also while
    // the error box of the start is up and the window is not there yet.
    platform::TTerminationNotifier Signals([&Application](int) { Application.Terminate(); });
    // Its work per buffer is short: the server it wakes waits until that work is done.
    platform::AskForShortTurns();
    // Without a choice on the command line, the user's last choice in the window.
    Application.CreateForm<TfrmZELTextReceiverMain>(
        Arguments.Demodulator.value_or(SavedDemodulator()));
    return Application.Run();
}
