#include "KeptReceiver.h"

#include "audio/RecorderKeeper.h"
#include "receiver/untFFSKReceiver.h"

#include <QCoreApplication>

TKeptReceiver::TKeptReceiver() {
    FPreviousHandler = platform::SetExceptionHandler([this](TObject *, std::exception_ptr Error) {
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception &E) {
            FErrors.emplace_back(E.what());
        }
    });
    FKeeper = new TRecorderKeeper(nullptr, [this] { return StartReceiver(); });
    FKeeper->OnRecovered = [this](TObject *) { ++FRecoveries; };
    try {
        FKeeper->Start();
    } catch (...) {
        platform::HandleException(nullptr);
    }
}

TKeptReceiver::~TKeptReceiver() {
    FreeAndNil(FKeeper);
    FreeAndNil(FReceiver);
    platform::SetExceptionHandler(FPreviousHandler);
}

TComponent *TKeptReceiver::StartReceiver() {
    FReceiver = new TFFSKReceiver(nullptr);
    FReceiver->OnInputLevel = [this](TObject *, std::int32_t) { ++FBuffers; };
    FReceiver->OnReceive = [this](TObject *, bool MessIsSMS, const TRxString &Text) {
        FDeliveries.emplace_back(MessIsSMS, Text);
    };
    return FReceiver;
}

bool TKeptReceiver::WaitFor(const std::function<bool()> &Condition,
                            std::chrono::milliseconds Timeout) {
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::optional<std::chrono::milliseconds>
TKeptReceiver::WaitForAudio(std::chrono::milliseconds Timeout) {
    const auto Start = std::chrono::steady_clock::now();
    const unsigned Before = FBuffers;
    if (!WaitFor([&] { return FBuffers > Before; }, Timeout))
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 Start);
}
