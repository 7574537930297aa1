#include "platform/TerminationNotifier.h"

namespace platform {

TTerminationNotifier::TTerminationNotifier(TSignalEvent OnSignal)
    : FNotifier(FSignals.Descriptor(), QSocketNotifier::Read) {
    // Only the first signal writes to the pipe (a second one ends the process): once
    // is all there is to hear.
    QObject::connect(&FNotifier, &QSocketNotifier::activated, this,
                     [this, OnSignal = std::move(OnSignal)] {
                         FNotifier.setEnabled(false);
                         OnSignal(FSignals.Received());
                     });
}

} // namespace platform
