// Time the window takes to show a short message after a long one: trimming the long
// one's surplus rows from the log must stay well inside one 200 ms buffer.
#include "gui/guiZELTextReceiverMain.h"
#include "platform/SimulatedWaveIn.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <string>

class TfrmZELTextReceiverMainProbe {
public:
    static TFFSKReceiver *Receiver(const TfrmZELTextReceiverMain &Form) { return Form.FReceiver; }
};

namespace {

// The offscreen platform's notes (it cannot raise windows) are not results.
void DiscardQtMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

QApplication &Application() {
    qInstallMessageHandler(DiscardQtMessage);
    static int ArgCount = 1;
    static char Name[] = "bench_window";
    static char *Args[] = {Name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication App(ArgCount, Args);
    return App;
}

void ShortMessageAfterALongOne(benchmark::State &State) {
    Application();
    platform::TSimulatedWaveInService SoundInput;
    platform::TSimulatedWaveInService::TDevice Device;
    Device.Presence = platform::TSimulatedWaveInService::TPresence::Busy;
    SoundInput.SetDevices({Device});
    platform::IWaveInService *Previous = platform::SetWaveInService(&SoundInput);
    auto *Form = new TfrmZELTextReceiverMain(nullptr);
    Form->show();
    TFFSKReceiver *Receiver = TfrmZELTextReceiverMainProbe::Receiver(*Form);

    std::string Long;
    while (Long.size() < std::size_t(State.range(0)))
        Long += "WORD" + std::to_string(Long.size() % 97) + " ";
    for (auto _ : State) {
        State.PauseTiming();
        Receiver->OnReceive(Receiver, true, Long);
        State.ResumeTiming();
        Receiver->OnReceive(Receiver, true, "NEXT");
    }
    Form->Free();
    platform::SetWaveInService(Previous);
}

} // namespace

BENCHMARK(ShortMessageAfterALongOne)->Arg(16000)->Arg(24000)->Unit(benchmark::kMillisecond);
