#include "platform/SignalNotifier.h"

namespace platform {

TSignalNotifier::TSignalNotifier(std::initializer_list<int> Signals, TSignalEvent OnSignal)
    : FPipe(Signals, TWaitingCalls::Restart), FNotifier(FPipe.Descriptor(), QSocketNotifier::Read) {
    QObject::connect(&FNotifier, &QSocketNotifier::activated, this,
                     [this, OnSignal = std::move(OnSignal)] {
                         for (const int Signal : FPipe.Take())
                             OnSignal(Signal);
                     });
}

} // namespace platform
