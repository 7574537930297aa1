#include "TestThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace platform;

namespace {

// A worker that makes its queue, reports ready, then takes messages until WM_QUIT.
struct TMessageLoop {
    THandle Ready = CreateEvent(true, false);
    std::vector<TMessage> Received;
    DWORD IdSeenInside = 0;

    void Run() {
        TMessage Message;
        PeekMessage(Message, false);
        IdSeenInside = GetCurrentThreadId();
        SetEvent(Ready);
        while (GetMessage(Message))
            Received.push_back(Message);
    }
};

TEST(ThreadMessages, WorkerLoopTakesPostsInOrderUntilQuit) {
    TMessageLoop Loop;
    TTestThread Worker([&] { Loop.Run(); });
    EXPECT_NE(Worker.ThreadID(), 0u);
    EXPECT_FALSE(PostThreadMessage(Worker.ThreadID(), 0x401, 0, 0)) << "no queue yet";

    Worker.Resume();
    ASSERT_EQ(WaitForHandleWithMessages(Loop.Ready, TestTimeoutMs), WAIT_OBJECT_0);
    for (LPARAM Index = 0; Index < 100; ++Index)
        ASSERT_TRUE(PostThreadMessage(Worker.ThreadID(), 0x401, 1, Index));
    ASSERT_TRUE(PostThreadMessage(Worker.ThreadID(), WM_QUIT, 0, 0));
    ASSERT_EQ(WaitForHandleWithMessages(Worker.Handle(), TestTimeoutMs), WAIT_OBJECT_0);

    EXPECT_EQ(Loop.IdSeenInside, Worker.ThreadID());
    EXPECT_NE(Loop.IdSeenInside, GetCurrentThreadId());
    ASSERT_EQ(Loop.Received.size(), 100u);
    for (LPARAM Index = 0; Index < 100; ++Index)
        EXPECT_EQ(Loop.Received[Index].LParam, Index);
}

TEST(ThreadMessages, PostsToUnknownOrEndedThreadsAreRefused) {
    EXPECT_FALSE(PostThreadMessage(0, 0x401, 0, 0));
    EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, 0x401, 0, 0));

    TMessageLoop Loop;
    TTestThread Worker([&] { Loop.Run(); });
    Worker.Resume();
    WaitForHandleWithMessages(Loop.Ready, TestTimeoutMs);
    PostThreadMessage(Worker.ThreadID(), WM_QUIT, 0, 0);
    WaitForHandleWithMessages(Worker.Handle(), TestTimeoutMs);
    // The queue goes with the thread; give the thread time to finish unwinding.
    bool Refused = false;
    for (int Try = 0; Try < 1000 && !Refused; ++Try) {
        Refused = !PostThreadMessage(Worker.ThreadID(), 0x401, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(Refused);
}

// Reports its destruction, so the test can tell it freed itself.
class TSelfFreeingThread : public TThread {
public:
    explicit TSelfFreeingThread(std::atomic<bool> &Destroyed) : FDestroyed(Destroyed) {}
    ~TSelfFreeingThread() override { FDestroyed = true; }

protected:
    void Execute() override {}

private:
    std::atomic<bool> &FDestroyed;
};

TEST(Thread, FreeOnTerminateDeletesItselfBeforeItsHandleIsSignalled) {
    std::atomic<bool> Destroyed{false};
    auto *Worker = new TSelfFreeingThread(Destroyed);
    Worker->SetFreeOnTerminate(true);
    Worker->SetPriority(TThread::TThreadPriority::tpHigher);
    THandle Finished = Worker->Handle();
    Worker->Resume();
    ASSERT_EQ(WaitForHandleWithMessages(Finished, TestTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(Destroyed);
}

TEST(Thread, ExceptionFromExecuteReachesTheCentralHandler) {
    std::atomic<int> Reported{0};
    TExceptionHandler Previous =
        SetExceptionHandler([&](TObject *, std::exception_ptr) { ++Reported; });
    {
        TTestThread Worker([] { throw std::runtime_error("worker failed"); });
        Worker.Resume();
        EXPECT_EQ(WaitForHandleWithMessages(Worker.Handle(), TestTimeoutMs), WAIT_OBJECT_0);
    }
    EXPECT_EQ(Reported, 1);
    SetExceptionHandler(Previous);
}

} // namespace
