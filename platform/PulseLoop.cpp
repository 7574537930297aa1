#include "platform/PulseLoop.h"

#include <pulse/thread-mainloop.h>

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace platform {
namespace {

class TThreadLoop final : public TPulseLoop {
public:
    TThreadLoop() : FLoop(pa_threaded_mainloop_new()) {
        if (!FLoop)
            throw std::bad_alloc();
    }
    ~TThreadLoop() override { pa_threaded_mainloop_free(FLoop); }
    TThreadLoop(const TThreadLoop &) = delete;
    TThreadLoop &operator=(const TThreadLoop &) = delete;

    pa_mainloop_api *Api() override { return pa_threaded_mainloop_get_api(FLoop); }
    bool Start() override { return pa_threaded_mainloop_start(FLoop) >= 0; }
    void Stop() override { pa_threaded_mainloop_stop(FLoop); }
    void Lock() override { pa_threaded_mainloop_lock(FLoop); }
    void Unlock() override { pa_threaded_mainloop_unlock(FLoop); }
    void Wait() override { pa_threaded_mainloop_wait(FLoop); }
    void Signal() override { pa_threaded_mainloop_signal(FLoop, 0); }

private:
    pa_threaded_mainloop *FLoop;
};

// libpulse's main-loop interface served by the Qt event loop of the thread that made it:
// descriptors are watched by socket notifiers, times by one timer, and deferred events
// run after every event handled, until none is enabled. Nothing else is polled and no
// pipe wakes the loop, so a fragment of audio costs the wake-up and the reads that take
// it. A change made on another thread (with the lock held) reaches the notifiers through
// the loop's own thread.
class TEventLoopApi final : public QObject {
public:
    TEventLoopApi() {
        FApi.userdata = this;
        FApi.io_new = &IoNew;
        FApi.io_enable = [](pa_io_event *Event, pa_io_event_flags_t Flags) {
            TIo &Io = Of<TIo>(Event);
            Io.Flags = Flags;
            Io.Loop->Changed();
        };
        FApi.io_free = &Free<TIo>;
        FApi.io_set_destroy = &SetDestroy<TIo>;
        FApi.time_new = &TimeNew;
        FApi.time_restart = [](pa_time_event *Event, const timeval *When) {
            Of<TTime>(Event).Set(When);
            Of<TTime>(Event).Loop->Changed();
        };
        FApi.time_free = &Free<TTime>;
        FApi.time_set_destroy = &SetDestroy<TTime>;
        FApi.defer_new = &DeferNew;
        FApi.defer_enable = [](pa_defer_event *Event, int Enabled) {
            Of<TDefer>(Event).Enabled = Enabled != 0;
            Of<TDefer>(Event).Loop->Changed();
        };
        FApi.defer_free = &Free<TDefer>;
        FApi.defer_set_destroy = &SetDestroy<TDefer>;
        FApi.quit = [](pa_mainloop_api *, int) {};
        FTimer.setSingleShot(true);
        connect(&FTimer, &QTimer::timeout, this, [this] { Dispatch([] {}); });
        // Readiness a blocking round took away since the loop last polled is checked.
        if (QAbstractEventDispatcher *Dispatcher = QAbstractEventDispatcher::instance())
            connect(Dispatcher, &QAbstractEventDispatcher::awake, this,
                    [this] { FDoubtful = false; });
    }

    // The connection's events are gone by now; what is left is released as libpulse's
    // own loop releases it.
    ~TEventLoopApi() override {
        std::lock_guard Guard(FLock);
        FWatching = false;
        KillAll(FIos);
        KillAll(FTimes);
        KillAll(FDefers);
        Sweep();
    }
    TEventLoopApi(const TEventLoopApi &) = delete;
    TEventLoopApi &operator=(const TEventLoopApi &) = delete;

    pa_mainloop_api *Api() { return &FApi; }
    std::recursive_mutex &Lock() { return FLock; }

    void Start() {
        std::lock_guard Guard(FLock);
        FWatching = true;
        Changed();
    }

    // Descriptors the connection closed are no longer watched once this returns; on
    // another thread, once the loop's own thread runs again.
    void Stop() {
        std::lock_guard Guard(FLock);
        FWatching = false;
        Changed();
    }

    // Locked: one round that waits for a descriptor, a time or a deferred event.
    void Wait() {
        FDoubtful = true;
        std::vector<pollfd> Descriptors;
        std::vector<TIo *> Watched;
        for (const auto &Io : FIos)
            if (!Io->Dead && Io->Flags != PA_IO_EVENT_NULL) {
                Descriptors.push_back({Io->Descriptor, PollEvents(Io->Flags), 0});
                Watched.push_back(Io.get());
            }
        if (::poll(Descriptors.data(), Descriptors.size(), WaitMilliseconds()) < 0)
            return;
        Dispatch([&] {
            for (std::size_t Index = 0; Index < Watched.size(); ++Index)
                if (Descriptors[Index].revents != 0)
                    Watched[Index]->Call(IoFlags(Descriptors[Index].revents));
        });
    }

private:
    using TClock = std::chrono::steady_clock;

    // What every kind of event has: its handlers and their data, and whether it was freed.
    template <class TCallback, class TDestroy> struct TEvent {
        TEventLoopApi *Loop;
        TCallback Callback;
        void *UserData;
        TDestroy Destroy = nullptr;
        bool Dead = false;
    };

    struct TIo : TEvent<pa_io_event_cb_t, pa_io_event_destroy_cb_t> {
        int Descriptor;
        pa_io_event_flags_t Flags;
        QSocketNotifier *Notifiers[2] = {}; // read, write; the loop's children
        void Call(int Ready) {
            const auto Reported =
                pa_io_event_flags_t(Ready & (Flags | PA_IO_EVENT_HANGUP | PA_IO_EVENT_ERROR));
            if (!Dead && Reported)
                Callback(&Loop->FApi, AsHandle(this), Descriptor, Reported, UserData);
        }
        // On the loop's thread; a notifier may be the one whose news is being handled.
        ~TIo() {
            for (QSocketNotifier *Notifier : Notifiers)
                if (Notifier) {
                    Notifier->setEnabled(false);
                    Notifier->deleteLater();
                }
        }
    };

    struct TTime : TEvent<pa_time_event_cb_t, pa_time_event_destroy_cb_t> {
        timeval When{};
        std::optional<TClock::time_point> Due; // none: not set
        // When is on the wall clock, as libpulse gives it to loops other than its own.
        void Set(const timeval *At) {
            Due.reset();
            if (!At)
                return;
            When = *At;
            const auto Left = std::chrono::seconds(When.tv_sec) +
                              std::chrono::microseconds(When.tv_usec) -
                              std::chrono::system_clock::now().time_since_epoch();
            Due = TClock::now() + std::chrono::duration_cast<TClock::duration>(Left);
        }
    };

    struct TDefer : TEvent<pa_defer_event_cb_t, pa_defer_event_destroy_cb_t> {
        bool Enabled = true;
    };

    template <class TKind> static TKind &Of(auto *Handle) {
        return *reinterpret_cast<TKind *>(Handle);
    }
    static pa_io_event *AsHandle(TIo *Io) { return reinterpret_cast<pa_io_event *>(Io); }
    static pa_time_event *AsHandle(TTime *Time) { return reinterpret_cast<pa_time_event *>(Time); }
    static pa_defer_event *AsHandle(TDefer *Defer) {
        return reinterpret_cast<pa_defer_event *>(Defer);
    }
    static TEventLoopApi &Of(pa_mainloop_api *Api) {
        return *static_cast<TEventLoopApi *>(Api->userdata);
    }

    static pa_io_event *IoNew(pa_mainloop_api *Api, int Descriptor, pa_io_event_flags_t Flags,
                              pa_io_event_cb_t Callback, void *UserData) {
        auto Io = Made<TIo>(Api, Callback, UserData);
        Io->Descriptor = Descriptor, Io->Flags = Flags;
        return AsHandle(Of(Api).Add(Of(Api).FIos, std::move(Io)));
    }

    static pa_time_event *TimeNew(pa_mainloop_api *Api, const timeval *When,
                                  pa_time_event_cb_t Callback, void *UserData) {
        auto Time = Made<TTime>(Api, Callback, UserData);
        Time->Set(When);
        return AsHandle(Of(Api).Add(Of(Api).FTimes, std::move(Time)));
    }

    static pa_defer_event *DeferNew(pa_mainloop_api *Api, pa_defer_event_cb_t Callback,
                                    void *UserData) {
        return AsHandle(Of(Api).Add(Of(Api).FDefers, Made<TDefer>(Api, Callback, UserData)));
    }

    template <class TKind>
    static std::unique_ptr<TKind> Made(pa_mainloop_api *Api, auto Callback, void *UserData) {
        auto Event = std::make_unique<TKind>();
        Event->Loop = &Of(Api), Event->Callback = Callback, Event->UserData = UserData;
        return Event;
    }

    template <class TKind>
    TKind *Add(std::vector<std::unique_ptr<TKind>> &Events, std::unique_ptr<TKind> Event) {
        Events.push_back(std::move(Event));
        Changed();
        return Events.back().get();
    }

    // Freed events stay until no handler runs; their destroy handlers are called then.
    template <class TKind> static void Free(auto *Handle) {
        TKind &Event = Of<TKind>(Handle);
        Event.Dead = true;
        Event.Loop->Changed();
    }

    template <class TKind> static void SetDestroy(auto *Handle, auto Destroy) {
        Of<TKind>(Handle).Destroy = Destroy;
    }

    template <class TKind> static void KillAll(std::vector<std::unique_ptr<TKind>> &Events) {
        for (const auto &Event : Events)
            Event->Dead = true;
    }

    // Runs handlers: Handlers, then the time events that are due and the deferred ones.
    // Afterwards the watch is brought up to date.
    template <class THandlers> void Dispatch(THandlers Handlers) {
        std::lock_guard Guard(FLock);
        ++FDepth;
        Handlers();
        RunDueTimes();
        RunDeferred();
        if (--FDepth == 0 && OnLoopThread())
            Sweep();
        Changed();
    }

    bool OnLoopThread() const { return QThread::currentThread() == thread(); }

    void RunDueTimes() {
        const TClock::time_point Now = TClock::now();
        for (std::size_t Index = 0; Index < FTimes.size(); ++Index) {
            TTime &Time = *FTimes[Index];
            if (Time.Dead || !Time.Due || *Time.Due > Now)
                continue;
            Time.Due.reset();
            Time.Callback(&FApi, AsHandle(&Time), &Time.When, Time.UserData);
        }
    }

    // A deferred event that stays enabled gets the loop back at once, not in a spin.
    void RunDeferred() {
        constexpr int MostRounds = 16;
        for (int Round = 0; Round < MostRounds && AnyDeferred(); ++Round)
            for (std::size_t Index = 0; Index < FDefers.size(); ++Index) {
                TDefer &Defer = *FDefers[Index];
                if (!Defer.Dead && Defer.Enabled)
                    Defer.Callback(&FApi, AsHandle(&Defer), Defer.UserData);
            }
    }

    bool AnyDeferred() const {
        return std::any_of(FDefers.begin(), FDefers.end(),
                           [](const auto &Defer) { return !Defer->Dead && Defer->Enabled; });
    }

    void Sweep() {
        SweepKind(FIos);
        SweepKind(FTimes);
        SweepKind(FDefers);
    }

    template <class TKind> void SweepKind(std::vector<std::unique_ptr<TKind>> &Events) {
        // A destroy handler may free or make events: the list is walked by position.
        for (std::size_t Index = 0; Index < Events.size(); ++Index)
            if (TKind &Event = *Events[Index]; Event.Dead && Event.Destroy)
                std::exchange(Event.Destroy, nullptr)(&FApi, AsHandle(&Event), Event.UserData);
        std::erase_if(Events, [](const auto &Event) { return Event->Dead; });
    }

    // Locked. The notifiers and the timer follow the events on the loop's thread; a
    // change elsewhere, or inside a handler, is applied there afterwards.
    void Changed() {
        if (!OnLoopThread()) {
            if (!FWatchPosted.exchange(true))
                QMetaObject::invokeMethod(
                    this, [this] { Dispatch([] {}); }, Qt::QueuedConnection);
        } else if (FDepth == 0) {
            Watch();
        }
    }

    void Watch() {
        FWatchPosted = false;
        for (const auto &Io : FIos)
            for (int Kind = 0; Kind < 2; ++Kind)
                WatchDescriptor(*Io, Kind);
        const int Timeout = FWatching ? WaitMilliseconds() : -1;
        if (Timeout < 0)
            FTimer.stop();
        else
            FTimer.start(Timeout);
    }

    // Kind 0 reads, 1 writes.
    void WatchDescriptor(TIo &Io, int Kind) {
        const pa_io_event_flags_t Flag = Kind == 0 ? PA_IO_EVENT_INPUT : PA_IO_EVENT_OUTPUT;
        const bool Wanted = FWatching && !Io.Dead && (Io.Flags & Flag);
        QSocketNotifier *&Notifier = Io.Notifiers[Kind];
        if (!Notifier && Wanted) {
            Notifier = new QSocketNotifier(
                Io.Descriptor, Kind == 0 ? QSocketNotifier::Read : QSocketNotifier::Write, this);
            connect(Notifier, &QSocketNotifier::activated, this,
                    [this, &Io, Flag] { Dispatch([&] { Ready(Io, Flag); }); });
        } else if (Notifier && Notifier->isEnabled() != Wanted) {
            Notifier->setEnabled(Wanted);
        }
    }

    // A notifier's news may be older than a blocking round that took the readiness away.
    void Ready(TIo &Io, int Flags) {
        if (FDoubtful) {
            pollfd Descriptor{Io.Descriptor, PollEvents(Flags), 0};
            if (::poll(&Descriptor, 1, 0) <= 0)
                return;
            Flags = IoFlags(Descriptor.revents);
        }
        Io.Call(Flags);
    }

    // Until the first time event is due; 0 with a deferred event; -1 without either.
    int WaitMilliseconds() const {
        if (AnyDeferred())
            return 0;
        std::optional<TClock::time_point> First;
        for (const auto &Time : FTimes)
            if (!Time->Dead && Time->Due && (!First || *Time->Due < *First))
                First = Time->Due;
        if (!First)
            return -1;
        const auto Left = std::chrono::ceil<std::chrono::milliseconds>(*First - TClock::now());
        return int(std::clamp<std::chrono::milliseconds::rep>(Left.count(), 0, INT_MAX));
    }

    static short PollEvents(int Flags) {
        return short(((Flags & PA_IO_EVENT_INPUT) ? POLLIN : 0) |
                     ((Flags & PA_IO_EVENT_OUTPUT) ? POLLOUT : 0));
    }

    static int IoFlags(short Events) {
        return ((Events & POLLIN) ? PA_IO_EVENT_INPUT : 0) |
               ((Events & POLLOUT) ? PA_IO_EVENT_OUTPUT : 0) |
               ((Events & POLLHUP) ? PA_IO_EVENT_HANGUP : 0) |
               ((Events & (POLLERR | POLLNVAL)) ? PA_IO_EVENT_ERROR : 0);
    }

    pa_mainloop_api FApi{};
    std::recursive_mutex FLock;
    bool FWatching = false;
    int FDepth = 0; // handlers running
    std::atomic<bool> FDoubtful = false;
    std::atomic<bool> FWatchPosted = false;
    std::vector<std::unique_ptr<TIo>> FIos;
    std::vector<std::unique_ptr<TTime>> FTimes;
    std::vector<std::unique_ptr<TDefer>> FDefers;
    QTimer FTimer;
};

class TEventLoop final : public TPulseLoop {
public:
    TEventLoop() : FWatch(new TEventLoopApi) {}
    // The watch goes on its own thread, where its notifiers live.
    ~TEventLoop() override {
        if (QThread::currentThread() == FWatch->thread())
            delete FWatch;
        else
            FWatch->deleteLater();
    }
    TEventLoop(const TEventLoop &) = delete;
    TEventLoop &operator=(const TEventLoop &) = delete;

    pa_mainloop_api *Api() override { return FWatch->Api(); }
    bool Start() override {
        FWatch->Start();
        return true;
    }
    void Stop() override { FWatch->Stop(); }
    void Lock() override { FWatch->Lock().lock(); }
    void Unlock() override { FWatch->Lock().unlock(); }
    void Wait() override { FWatch->Wait(); }
    void Signal() override {}

private:
    TEventLoopApi *FWatch;
};

} // namespace

std::unique_ptr<TPulseLoop> TSoundServerLoop::ForCallingThread() const {
    if (FEventLoopThread == std::this_thread::get_id() &&
        QThread::currentThread()->eventDispatcher())
        return std::make_unique<TEventLoop>();
    return std::make_unique<TThreadLoop>();
}

} // namespace platform
