// libpulse's events on the event loop of the thread that runs the sound-server input:
// descriptors, times and deferred events fire as libpulse's own loop fires them, also
// when they are changed or freed from inside a handler or from another thread.
#include "platform/PulseLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

class PulseEventLoop : public testing::Test {
protected:
    void SetUp() override {
        Loop = platform::TSoundServerLoop::ThisThreadsEventLoop().ForCallingThread();
        Api = Loop->Api();
        ASSERT_TRUE(Loop->Start());
    }
    void TearDown() override {
        Loop->Stop();
        Loop.reset();
    }

    // Runs the event loop for the given time, or until Done holds; Done's answer.
    template <class TDone> static bool RunFor(std::chrono::milliseconds Time, TDone Done) {
        QElapsedTimer Clock;
        Clock.start();
        while (!Done() && Clock.elapsed() < Time.count()) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(1ms);
        }
        return Done();
    }

    // The wall-clock time Delay from now, as libpulse hands times to such a loop.
    static timeval After(std::chrono::milliseconds Delay) {
        timeval Now;
        gettimeofday(&Now, nullptr);
        const long long Micro = Now.tv_usec + std::chrono::microseconds(Delay).count();
        return {Now.tv_sec + time_t(Micro / 1000000), suseconds_t(Micro % 1000000)};
    }

    std::unique_ptr<platform::TPulseLoop> Loop;
    pa_mainloop_api *Api = nullptr;
};

// What the handlers saw.
struct TCounts {
    int Calls = 0, Destroyed = 0;
    int FreeAt = 0; // the call in which the event frees itself; 0: none
};

} // namespace

TEST_F(PulseEventLoop, ADescriptorFiresWhileEnabledUntilItsHandlerFreesIt) {
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    TCounts Counts{.FreeAt = 3};
    pa_io_event *Event = Api->io_new(
        Api, Pipe[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api *Api, pa_io_event *Self, int Descriptor, pa_io_event_flags_t,
           void *Data) {
            auto &Seen = *static_cast<TCounts *>(Data);
            char Byte;
            EXPECT_EQ(read(Descriptor, &Byte, 1), 1) << "called without anything to read";
            if (++Seen.Calls == Seen.FreeAt)
                Api->io_free(Self);
        },
        &Counts);
    Api->io_set_destroy(Event, [](pa_mainloop_api *, pa_io_event *, void *Data) {
        ++static_cast<TCounts *>(Data)->Destroyed;
    });
    const auto Write = [&] { ASSERT_EQ(write(Pipe[1], "x", 1), 1); };

    Write();
    EXPECT_TRUE(RunFor(1s, [&] { return Counts.Calls == 1; }));
    Api->io_enable(Event, PA_IO_EVENT_NULL);
    Write();
    EXPECT_FALSE(RunFor(100ms, [&] { return Counts.Calls > 1; })) << "fired while disabled";
    Api->io_enable(Event, PA_IO_EVENT_INPUT);
    EXPECT_TRUE(RunFor(1s, [&] { return Counts.Calls == 2; }));
    Write();
    EXPECT_TRUE(RunFor(1s, [&] { return Counts.Destroyed == 1; }));
    Write();
    RunFor(100ms, [] { return false; });
    EXPECT_EQ(Counts.Calls, 3) << "fired after it was freed";
    EXPECT_EQ(Counts.Destroyed, 1);
    close(Pipe[0]);
    close(Pipe[1]);
}

TEST_F(PulseEventLoop, ATimeFiresWhenDueAndAgainWhenItsHandlerRestartsIt) {
    struct TSeen {
        int Calls = 0;
        std::chrono::steady_clock::time_point Last;
    } Seen;
    const auto Began = std::chrono::steady_clock::now();
    const timeval When = After(50ms);
    pa_time_event *Event = Api->time_new(
        Api, &When,
        [](pa_mainloop_api *Api, pa_time_event *Self, const timeval *, void *Data) {
            auto &Seen = *static_cast<TSeen *>(Data);
            Seen.Last = std::chrono::steady_clock::now();
            if (++Seen.Calls == 1) {
                const timeval Again = After(50ms);
                Api->time_restart(Self, &Again);
            }
        },
        &Seen);
    EXPECT_TRUE(RunFor(2s, [&] { return Seen.Calls == 2; }));
    EXPECT_GE(Seen.Last - Began, 100ms);
    const timeval Later = After(50ms);
    Api->time_restart(Event, &Later);
    Api->time_restart(Event, nullptr);
    RunFor(150ms, [] { return false; });
    EXPECT_EQ(Seen.Calls, 2) << "fired after it was cleared";
    Api->time_free(Event);
}

TEST_F(PulseEventLoop, ADeferredEventRunsUntilDisabledAndWhenAnotherThreadEnablesIt) {
    TCounts Counts;
    pa_defer_event *Event = Api->defer_new(
        Api,
        [](pa_mainloop_api *Api, pa_defer_event *Self, void *Data) {
            if (++static_cast<TCounts *>(Data)->Calls % 3 == 0)
                Api->defer_enable(Self, 0);
        },
        &Counts);
    EXPECT_TRUE(RunFor(1s, [&] { return Counts.Calls == 3; }));
    RunFor(50ms, [] { return false; });
    EXPECT_EQ(Counts.Calls, 3);
    // Only the loop's own thread runs its events: the change must reach it.
    std::thread([&] {
        Loop->Lock();
        Api->defer_enable(Event, 1);
        Loop->Unlock();
    }).join();
    EXPECT_TRUE(RunFor(1s, [&] { return Counts.Calls == 6; }));
    Api->defer_free(Event);
}
