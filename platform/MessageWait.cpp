#include "platform/MessageWait.h"

#include "platform/MessageTargets.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace platform {
namespace {

using TClock = std::chrono::steady_clock;

// Qt timers take at most INT_MAX milliseconds; a longer wait rearms the alarm.
std::chrono::milliseconds AlarmInterval(TClock::duration Remaining) {
    constexpr std::chrono::milliseconds Longest{std::numeric_limits<int>::max()};
    return std::min(std::chrono::ceil<std::chrono::milliseconds>(Remaining), Longest);
}

bool IsInputEvent(QEvent::Type Type) {
    switch (Type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
        return true;
    default:
        return false;
    }
}

// Throws away keyboard and mouse input of the application's thread while installed.
// Input meant for a modal loop that a handled message opens (an error box) still
// gets through: that loop runs one event-loop level deeper.
class TInputDropper final : public QObject {
public:
    TInputDropper() : FLoopLevel(QThread::currentThread()->loopLevel()) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~TInputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *Event) override {
        return IsInputEvent(Event->type()) && QThread::currentThread()->loopLevel() == FLoopLevel;
    }

private:
    const int FLoopLevel;
};

DWORD WaitInEventLoop(TWaitable &Event, DWORD TimeoutMs) {
    QEventLoop Loop; // gives the thread an event dispatcher if it has none yet
    QObject &Doorbell = CurrentDoorbell();
    TQuitWatch Quit;
    std::optional<TInputDropper> Dropper;
    if (IsApplicationThread())
        Dropper.emplace();
    TWakerRegistration Registration(Event, [&Doorbell] { Wake(Doorbell); });
    const TMessageQueue::TDeadline Deadline = DeadlineAfter(TimeoutMs);
    QTimer Alarm; // only makes the event loop return at the deadline
    Alarm.setSingleShot(true);
    Alarm.setTimerType(Qt::PreciseTimer);
    for (;;) {
        if (Quit.QuitReceived())
            return WAIT_OBJECT_0 + 1;
        if (Event.TryAcquire())
            return WAIT_OBJECT_0;
        if (Deadline) {
            auto Remaining = *Deadline - TClock::now();
            if (Remaining <= TClock::duration::zero())
                return WAIT_TIMEOUT;
            if (!Alarm.isActive())
                Alarm.start(AlarmInterval(Remaining));
        }
        Loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace

DWORD WaitWithMessages(TWaitable &Event, DWORD TimeoutMs) {
    CurrentThreadQueue();
    if (!QCoreApplication::instance())
        return Event.WaitFor(DeadlineAfter(TimeoutMs)) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    return WaitInEventLoop(Event, TimeoutMs);
}

} // namespace platform
