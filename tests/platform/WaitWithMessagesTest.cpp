#include "TestThreads.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

using namespace platform;

namespace {

// Counts the events it receives, by type.
class TEventRecorder : public QObject {
public:
    std::vector<QEvent::Type> Received;

protected:
    bool event(QEvent *Event) override {
        Received.push_back(Event->type());
        return true;
    }
};

// Drains WM_QUITs that an earlier test may have left in the main thread's queue.
void EmptyThreadQueue() {
    TMessage Message;
    while (PeekMessage(Message, true)) {
    }
}

TEST(WaitWithMessages, ReturnsWhenAnotherThreadSetsTheEvent) {
    THandle Event = CreateEvent(false, false);
    std::thread Setter = PostLater([&] { SetEvent(Event); });
    EXPECT_EQ(WaitForHandleWithMessages(Event, TestTimeoutMs), WAIT_OBJECT_0);
    Setter.join();
    EXPECT_EQ(WaitForHandleWithMessages(Event, 0), WAIT_TIMEOUT) << "auto-reset took the signal";
}

TEST(WaitWithMessages, ManualResetEventStaysSignalledUntilReset) {
    THandle Event = CreateEvent(true, true);
    EXPECT_EQ(WaitForHandleWithMessages(Event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForHandleWithMessages(Event, 0), WAIT_OBJECT_0);
    ResetEvent(Event);
    EXPECT_EQ(WaitForHandleWithMessages(Event, 0), WAIT_TIMEOUT);
}

TEST(WaitWithMessages, TimesOutAndFailsOnNoHandle) {
    THandle Event = CreateEvent(true, false);
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForHandleWithMessages(Event, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(50));
    EXPECT_EQ(WaitForHandleWithMessages(nullptr, 0), WAIT_FAILED);
}

std::atomic<int> QtMessages{0};

TEST(WaitWithMessages, TakesTheLongestFiniteTimeOutQuietly) {
    QtMessageHandler Previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &) { ++QtMessages; });
    THandle Event = CreateEvent(true, false);
    std::thread Setter = PostLater([&] { SetEvent(Event); });
    EXPECT_EQ(WaitForHandleWithMessages(Event, INFINITE - 1), WAIT_OBJECT_0);
    Setter.join();
    qInstallMessageHandler(Previous);
    EXPECT_EQ(QtMessages, 0);
}

TEST(WaitWithMessages, HandlesPostedMessagesAndTimersButDropsInput) {
    THandle Event = CreateEvent(true, false);
    TEventRecorder Recorder;
    bool TimerFired = false;
    DWORD Wnd = AllocateHWnd([&](TMessage &) { SetEvent(Event); });
    QCoreApplication::postEvent(&Recorder, new QEvent(QEvent::KeyPress));
    QCoreApplication::postEvent(&Recorder, new QEvent(QEvent::MouseButtonPress));
    QCoreApplication::postEvent(&Recorder, new QEvent(QEvent::User));
    QTimer::singleShot(0, [&] {
        TimerFired = true;
        PostMessage(Wnd, 0x401, 0, 0);
    });

    EXPECT_EQ(WaitForHandleWithMessages(Event, TestTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(TimerFired);
    EXPECT_EQ(Recorder.Received, std::vector<QEvent::Type>{QEvent::User});

    QCoreApplication::postEvent(&Recorder, new QEvent(QEvent::KeyPress));
    QCoreApplication::sendPostedEvents(&Recorder);
    EXPECT_EQ(Recorder.Received.back(), QEvent::KeyPress) << "input flows again after the wait";
    DeallocateHWnd(Wnd);
}

TEST(WaitWithMessages, InputStillReachesAModalLoopOpenedByAHandledMessage) {
    THandle Event = CreateEvent(true, false);
    TEventRecorder Recorder;
    DWORD Wnd = AllocateHWnd([&](TMessage &) {
        // Stands for an error box: a modal loop one level deeper than the wait.
        QEventLoop Modal;
        QCoreApplication::postEvent(&Recorder, new QEvent(QEvent::KeyPress));
        QTimer::singleShot(0, &Modal, &QEventLoop::quit);
        Modal.exec();
        SetEvent(Event);
    });
    PostMessage(Wnd, 0x401, 0, 0);
    EXPECT_EQ(WaitForHandleWithMessages(Event, TestTimeoutMs), WAIT_OBJECT_0);
    EXPECT_EQ(Recorder.Received, std::vector<QEvent::Type>{QEvent::KeyPress});
    DeallocateHWnd(Wnd);
}

TEST(WaitWithMessages, KeepsTheWindowsOfAnotherThreadRunning) {
    THandle WindowReady = CreateEvent(true, false), Handled = CreateEvent(true, false);
    DWORD Wnd = 0;
    std::thread::id HandledOn;
    std::thread Worker([&] {
        Wnd = AllocateHWnd([&](TMessage &) {
            HandledOn = std::this_thread::get_id();
            SetEvent(Handled);
        });
        SetEvent(WindowReady);
        WaitForHandleWithMessages(Handled, TestTimeoutMs);
        DeallocateHWnd(Wnd);
    });
    ASSERT_EQ(WaitForHandleWithMessages(WindowReady, TestTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(PostMessage(Wnd, 0x401, 0, 0));
    std::thread::id WorkerId = Worker.get_id();
    Worker.join();
    EXPECT_EQ(HandledOn, WorkerId);
}

TEST(WaitWithMessages, RunsReentrantlyInsideAHandledMessage) {
    THandle Outer = CreateEvent(true, false), Inner = CreateEvent(true, false);
    std::vector<int> Steps;
    DWORD Wnd = AllocateHWnd([&](TMessage &Message) {
        if (Message.LParam == 1) {
            Steps.push_back(1);
            EXPECT_EQ(WaitForHandleWithMessages(Inner, TestTimeoutMs), WAIT_OBJECT_0);
            Steps.push_back(-1);
            SetEvent(Outer);
        } else {
            Steps.push_back(2);
            SetEvent(Inner);
        }
    });
    PostMessage(Wnd, 0x401, 0, 1);
    std::thread Poster = PostLater([&] { PostMessage(Wnd, 0x401, 0, 2); });
    EXPECT_EQ(WaitForHandleWithMessages(Outer, TestTimeoutMs), WAIT_OBJECT_0);
    Poster.join();
    EXPECT_EQ(Steps, (std::vector<int>{1, 2, -1}));
    DeallocateHWnd(Wnd);
}

TEST(WaitWithMessages, QuitEndsTheWaitAndIsConsumed) {
    EmptyThreadQueue();
    THandle Event = CreateEvent(true, false);
    DWORD Main = GetCurrentThreadId();
    std::thread Poster = PostLater([&] { PostThreadMessage(Main, WM_QUIT, 0, 0); });
    EXPECT_EQ(WaitForHandleWithMessages(Event, TestTimeoutMs), WAIT_OBJECT_0 + 1);
    Poster.join();

    // Had the quit survived, the event loop below would end before its timer.
    bool TimerFired = false;
    QTimer::singleShot(10, [&] {
        TimerFired = true;
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(TimerFired);
}

TEST(WaitWithMessages, QuitOutsideAWaitEndsTheApplicationLoop) {
    EmptyThreadQueue();
    DWORD Main = GetCurrentThreadId();
    QTimer GiveUp;
    GiveUp.callOnTimeout([] { QCoreApplication::exit(1); });
    GiveUp.start(TestTimeoutMs);
    std::thread Poster = PostLater([&] { PostThreadMessage(Main, WM_QUIT, 0, 0); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    Poster.join();
}

} // namespace
