// ZEL Text Receiver: shows the text messages, locations, bit trace and input level
// that arrive as 1 200-baud FFSK tones at the sound input.

#include "gui/DemodulatorOption.h"
#include "gui/DemodulatorSetting.h"
#include "gui/DisplayCheck.h"
#include "gui/Forms.h"
#include "gui/ProgramOptions.h"
#include "gui/guiZELTextReceiverMain.h"
#include "platform/PreferredWaveIn.h"
#include "platform/PulseLoop.h"
#include "platform/ShortTurns.h"
#include "platform/TerminationNotifier.h"
#include "platform/WaveInService.h"

#include <cstdio>
#include <stdexcept>

namespace {

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
    // The command line's choice is for this run only; without one, the user's last
    // choice in the window.
    const std::optional<TDemodulatorKind> Demodulator =
        TakeDemodulatorOption(argc, argv, SavedDemodulator());
    if (!Demodulator)
        return 2;
    TProgramOptions Options;
    try {
        Options = ParseProgramOptions({argv + 1, argv + argc});
    } catch (const std::invalid_argument &Error) {
        std::fprintf(stderr, "ZELTextReceiver: %s\n", Error.what());
        return 2;
    }
    if (ShowRequestedInformation(Options))
        return 0;
    if (const std::optional<std::string> Reason = WhyNoDisplay()) {
        std::fprintf(stderr, "ZELTextReceiver: cannot open the display: %s\n", Reason->c_str());
        return 1;
    }

    // Outlives the application, whose windows close the sound input when they go. The
    // sound server's audio wakes this thread only, which runs the event loop.
    const auto SoundInput =
        platform::CreatePreferredWaveInService(platform::TSoundServerLoop::ThisThreadsEventLoop());
    platform::SetWaveInService(SoundInput.get());

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
    Application.CreateForm<TfrmZELTextReceiverMain>(*Demodulator);
    return Application.Run();
}
