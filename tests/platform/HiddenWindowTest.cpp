#include "TestThreads.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <vector>

using namespace platform;

namespace {

// A hidden window that records what it handles and on which thread.
class TRecordingWindow {
public:
    TRecordingWindow()
        : FWnd(AllocateHWnd([this](TMessage &Message) {
              Handled.push_back(Message);
              Threads.push_back(std::this_thread::get_id());
              if (OnMessage)
                  OnMessage(Message);
          })) {}
    ~TRecordingWindow() { DeallocateHWnd(FWnd); }

    DWORD Wnd() const { return FWnd; }

    std::vector<TMessage> Handled;
    std::vector<std::thread::id> Threads;
    std::function<void(TMessage &)> OnMessage;

private:
    DWORD FWnd;
};

TEST(HiddenWindow, HandlesPostsFromManyThreadsOnItsOwnThreadInOrder) {
    constexpr int Posters = 3, PostsEach = 200;
    TRecordingWindow Window;
    THandle AllHandled = CreateEvent(true, false);
    Window.OnMessage = [&](TMessage &) {
        if (Window.Handled.size() == Posters * PostsEach)
            SetEvent(AllHandled);
    };
    std::vector<std::thread> Threads;
    for (int Poster = 0; Poster < Posters; ++Poster)
        Threads.emplace_back([&, Poster] {
            for (int Index = 0; Index < PostsEach; ++Index)
                ASSERT_TRUE(PostMessage(Window.Wnd(), 0x400 + Poster, 0, Index));
        });
    for (std::thread &Thread : Threads)
        Thread.join();

    ASSERT_EQ(WaitForHandleWithMessages(AllHandled, TestTimeoutMs), WAIT_OBJECT_0);
    std::vector<LPARAM> NextIndex(Posters, 0);
    for (const TMessage &Message : Window.Handled)
        EXPECT_EQ(Message.LParam, NextIndex[Message.Msg - 0x400]++);
    for (std::thread::id Thread : Window.Threads)
        EXPECT_EQ(Thread, std::this_thread::get_id());
}

TEST(HiddenWindow, PostFromItsOwnThreadWaitsForTheEventLoop) {
    TRecordingWindow Window;
    ASSERT_TRUE(PostMessage(Window.Wnd(), 0x401, 7, 8));
    EXPECT_TRUE(Window.Handled.empty());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(Window.Handled.size(), 1u);
    EXPECT_EQ(Window.Handled[0].WParam, 7u);
    EXPECT_EQ(Window.Handled[0].LParam, 8);
}

TEST(HiddenWindow, DeallocatedFromItsOwnMessageDropsTheRestAndRefusesPosts) {
    std::vector<UINT> Handled;
    DWORD Wnd = 0;
    Wnd = AllocateHWnd([&](TMessage &Message) {
        Handled.push_back(Message.Msg);
        DeallocateHWnd(Wnd);
    });
    ASSERT_NE(Wnd, 0u);
    ASSERT_TRUE(PostMessage(Wnd, 0x401, 0, 0));
    ASSERT_TRUE(PostMessage(Wnd, 0x402, 0, 0));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Handled, std::vector<UINT>{0x401});
    EXPECT_FALSE(PostMessage(Wnd, 0x403, 0, 0));
    EXPECT_FALSE(PumpWindowMessage(Wnd, 0));
}

TEST(HiddenWindow, PumpTimesOutWithoutAMessage) {
    TRecordingWindow Window;
    auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PumpWindowMessage(Window.Wnd(), 50));
    EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(50));
    EXPECT_TRUE(Window.Handled.empty());
}

TEST(HiddenWindow, PumpWaitsForAMessageAndHandlesItOnce) {
    TRecordingWindow Window;
    std::thread Poster = PostLater([&] { PostMessage(Window.Wnd(), 0x401, 0, 1); });
    EXPECT_TRUE(PumpWindowMessage(Window.Wnd(), TestTimeoutMs));
    Poster.join();
    QCoreApplication::sendPostedEvents(); // the message's own doorbell finds nothing left
    ASSERT_EQ(Window.Handled.size(), 1u);
    EXPECT_EQ(Window.Threads[0], std::this_thread::get_id());
}

TEST(HiddenWindow, PumpRunsLaterMessagesInsideAHandler) {
    TRecordingWindow Window;
    std::vector<LPARAM> Order;
    Window.OnMessage = [&](TMessage &Message) {
        Order.push_back(Message.LParam);
        if (Message.LParam == 1) {
            EXPECT_TRUE(PumpWindowMessage(Window.Wnd(), TestTimeoutMs));
        }
        Order.push_back(-Message.LParam);
    };
    PostMessage(Window.Wnd(), 0x401, 0, 1);
    PostMessage(Window.Wnd(), 0x401, 0, 2);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Order, (std::vector<LPARAM>{1, 2, -2, -1}));
}

TEST(HiddenWindow, PumpIsRefusedOnAnotherThread) {
    TRecordingWindow Window;
    PostMessage(Window.Wnd(), 0x401, 0, 0);
    bool Pumped = true;
    std::thread([&] { Pumped = PumpWindowMessage(Window.Wnd(), 0); }).join();
    EXPECT_FALSE(Pumped);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Window.Handled.size(), 1u);
}

TEST(HiddenWindow, EscapingExceptionReachesTheCentralHandler) {
    std::vector<std::string> Reported;
    TExceptionHandler Previous =
        SetExceptionHandler([&](TObject *Sender, std::exception_ptr Error) {
            EXPECT_EQ(Sender, nullptr);
            try {
                std::rethrow_exception(Error);
            } catch (const std::exception &E) {
                Reported.push_back(E.what());
            }
        });
    TRecordingWindow Window;
    Window.OnMessage = [](TMessage &Message) {
        if (Message.LParam == 1)
            throw std::runtime_error("handler failed");
    };
    PostMessage(Window.Wnd(), 0x401, 0, 1);
    PostMessage(Window.Wnd(), 0x401, 0, 2);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Reported, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(Window.Handled.size(), 2u);
    SetExceptionHandler(Previous);
}

TEST(ExceptionHandler, IsReplacedAndNeverLetsAnExceptionEscape) {
    int Calls = 0;
    TExceptionHandler Previous = SetExceptionHandler([&](TObject *, std::exception_ptr) {
        ++Calls;
        throw std::runtime_error("handler itself failed");
    });
    EXPECT_NO_THROW(HandleException(nullptr, std::make_exception_ptr(std::runtime_error("x"))));
    EXPECT_EQ(Calls, 1);
    EXPECT_TRUE(static_cast<bool>(SetExceptionHandler(nullptr)));
    EXPECT_NO_THROW(HandleException(nullptr, std::make_exception_ptr(std::runtime_error("y"))));
    EXPECT_EQ(Calls, 1);
    SetExceptionHandler(Previous);
}

TEST(CallbackMessage, GoesToAWindowOrAThreadByType) {
    TRecordingWindow Window;
    EXPECT_TRUE(PostCallbackMessage(Window.Wnd(), CALLBACK_WINDOW, MM_WIM_DATA, 42));
    EXPECT_FALSE(PostCallbackMessage(Window.Wnd(), CALLBACK_THREAD, MM_WIM_DATA, 42));
    EXPECT_FALSE(PostCallbackMessage(Window.Wnd(), 0, MM_WIM_DATA, 42));
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(Window.Handled.size(), 1u);
    EXPECT_EQ(Window.Handled[0].Msg, MM_WIM_DATA);
    EXPECT_EQ(Window.Handled[0].WParam, 0u);
    EXPECT_EQ(Window.Handled[0].LParam, 42);

    TMessage Message;
    while (PeekMessage(Message, true)) {
    }
    EXPECT_TRUE(PostCallbackMessage(GetCurrentThreadId(), CALLBACK_THREAD, MM_WIM_OPEN, 5));
    ASSERT_TRUE(PeekMessage(Message, false));
    ASSERT_TRUE(PeekMessage(Message, true)) << "the first peek left it queued";
    EXPECT_EQ(Message.Msg, MM_WIM_OPEN);
    EXPECT_EQ(Message.LParam, 5);
    EXPECT_FALSE(PeekMessage(Message, true));
}

} // namespace
