// The receiver as the window keeps it (a receiver started, and started again after a lost
// or missing input, by a keeper, on the sound input the window uses) without the window: one line
// per event on stdout, each with the wall-clock time in milliseconds, for bench/soak.sh:
//   <ms> message <text>     a message was delivered (what the window would show)
//   <ms> error <text>       an error reached the central handler (an error box)
//   <ms> recording          the first buffer of audio after the start or an error
//   <ms> cpu <us>           at the end: the processor time used, all threads included
// Ends on SIGTERM or SIGINT.
#include "audio/RecorderKeeper.h"
#include "platform/PreferredWaveIn.h"
#include "platform/TerminationNotifier.h"
#include "receiver/untFFSKReceiver.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

namespace {

void Report(const std::string &Event) {
    const auto Now = std::chrono::system_clock::now().time_since_epoch();
    std::printf("%lld %s\n", static_cast<long long>(Now / std::chrono::milliseconds(1)),
                Event.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    const auto SoundInput =
        platform::CreatePreferredWaveInService(platform::TSoundServerLoop::OwnThreads());
    platform::SetWaveInService(SoundInput.get());
    QCoreApplication Application(argc, argv);
    platform::TTerminationNotifier Signals([](int) { QCoreApplication::quit(); });

    bool Waiting = true; // for audio, after the start or an error
    platform::SetExceptionHandler([&](TObject *, std::exception_ptr Error) {
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception &E) {
            Report(std::string("error ") + E.what());
        }
        Waiting = true;
    });
    TFFSKReceiver *Receiver = nullptr;
    TRecorderKeeper *Keeper = nullptr;
    Keeper = new TRecorderKeeper(nullptr, [&] {
        Receiver = new TFFSKReceiver(nullptr);
        Receiver->OnInputLevel = [&](TObject *, std::int32_t) {
            // Buffers on their way when the input went are no recovery.
            if (!Waiting || (Keeper->Recorder() && Keeper->Recorder()->Lost()))
                return;
            Report("recording");
            Waiting = false;
        };
        Receiver->OnReceive = [](TObject *, bool, const TRxString &Text) {
            Report("message " + Text.substr(0, Text.find('\0')));
        };
        return Receiver;
    });
    try {
        Keeper->Start();
    } catch (...) {
        platform::HandleException(nullptr);
    }
    const int Result = Application.exec();
    FreeAndNil(Keeper);
    FreeAndNil(Receiver);
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    const auto Microseconds = [](const timeval &Time) {
        return Time.tv_sec * 1000000L + Time.tv_usec;
    };
    Report("cpu " + std::to_string(Microseconds(Usage.ru_utime) + Microseconds(Usage.ru_stime)));
    return Result;
}
