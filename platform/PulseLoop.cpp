#include "platform/PulseLoop.h"

#include <pulse/mainloop.h>
#include <pulse/thread-mainloop.h>

#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <poll.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace platform {
namespace {

thread_local bool HandledHere = false;

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

// A plain libpulse main loop whose descriptors and next time-out are watched by the Qt
// event loop of the thread that made it. When one is ready, a round polls without
// waiting and handles what is ready; later rounds only learn what the loop waits for
// now (the poll function records it) and handle time and deferred events, until one
// has nothing to do. Then the watch is set to what the loop waits for. A descriptor
// that became ready meanwhile is still ready for the watch, so nothing is missed.
class TEventLoopWatch final : public QObject {
public:
    TEventLoopWatch() : FLoop(pa_mainloop_new()) {
        if (!FLoop)
            throw std::bad_alloc();
        pa_mainloop_set_poll_func(FLoop, &TEventLoopWatch::Poll, this);
        FTimer.setSingleShot(true);
        connect(&FTimer, &QTimer::timeout, this, &TEventLoopWatch::Handle);
    }
    ~TEventLoopWatch() override {
        FNotifiers.clear();
        pa_mainloop_free(FLoop);
    }
    TEventLoopWatch(const TEventLoopWatch &) = delete;
    TEventLoopWatch &operator=(const TEventLoopWatch &) = delete;

    pa_mainloop_api *Api() { return pa_mainloop_get_api(FLoop); }
    std::recursive_mutex &Lock() { return FLock; }

    void Start() {
        {
            std::lock_guard Guard(FLock);
            FWatching = true;
        }
        Handle();
    }

    // Descriptors the connection closed are no longer watched once this returns; on
    // another thread the watch ends when its own thread deletes it.
    void Stop() {
        std::lock_guard Guard(FLock);
        FWatching = false;
        if (QThread::currentThread() == thread()) {
            FNotifiers.clear();
            FTimer.stop();
        }
    }

    void Wait() {
        FPolling = Blocking;
        pa_mainloop_iterate(FLoop, 1, nullptr);
    }

private:
    struct TNotifier {
        int Descriptor;
        QSocketNotifier::Type Type;
        std::unique_ptr<QSocketNotifier> Notifier;
    };

    enum TPolling { Blocking, Ready, WantedOnly };

    static int Poll(pollfd *Descriptors, unsigned long Count, int Timeout, void *Self) {
        auto &This = *static_cast<TEventLoopWatch *>(Self);
        This.FWanted.assign(Descriptors, Descriptors + Count);
        This.FTimeout = Timeout;
        if (This.FPolling == WantedOnly) {
            std::for_each(Descriptors, Descriptors + Count,
                          [](pollfd &Entry) { Entry.revents = 0; });
            return 0;
        }
        return ::poll(Descriptors, Count, This.FPolling == Blocking ? Timeout : 0);
    }

    void Handle() {
        std::lock_guard Guard(FLock);
        if (!FWatching)
            return;
        // A round that found something may have changed what the loop waits for.
        constexpr int MostRounds = 16;
        FPolling = Ready;
        for (int Round = 0; Round < MostRounds; ++Round) {
            if (pa_mainloop_prepare(FLoop, -1) < 0)
                return;
            // A failed poll leaves nothing to dispatch; the watch tries again.
            if (pa_mainloop_poll(FLoop) < 0)
                break;
            const int Handled = pa_mainloop_dispatch(FLoop);
            if (FPolling == WantedOnly && Handled <= 0)
                break;
            FPolling = WantedOnly;
            FTimeout = 0; // still busy after the last round: come back at once
        }
        Watch();
    }

    bool Wanted(int Descriptor, QSocketNotifier::Type Type) const {
        const short Events = Type == QSocketNotifier::Read ? POLLIN : POLLOUT;
        return std::any_of(FWanted.begin(), FWanted.end(), [&](const pollfd &Entry) {
            return Entry.fd == Descriptor && (Entry.events & Events);
        });
    }

    void Watch() {
        std::erase_if(FNotifiers, [this](const TNotifier &Entry) {
            return !Wanted(Entry.Descriptor, Entry.Type);
        });
        for (const pollfd &Entry : FWanted)
            for (QSocketNotifier::Type Type : {QSocketNotifier::Read, QSocketNotifier::Write})
                if (Wanted(Entry.fd, Type) && !Watched(Entry.fd, Type))
                    AddNotifier(Entry.fd, Type);
        if (FTimeout < 0)
            FTimer.stop();
        else
            FTimer.start(FTimeout);
    }

    bool Watched(int Descriptor, QSocketNotifier::Type Type) const {
        return std::any_of(FNotifiers.begin(), FNotifiers.end(), [&](const TNotifier &Entry) {
            return Entry.Descriptor == Descriptor && Entry.Type == Type;
        });
    }

    void AddNotifier(int Descriptor, QSocketNotifier::Type Type) {
        auto Notifier = std::make_unique<QSocketNotifier>(Descriptor, Type);
        connect(Notifier.get(), &QSocketNotifier::activated, this, &TEventLoopWatch::Handle);
        FNotifiers.push_back({Descriptor, Type, std::move(Notifier)});
    }

    pa_mainloop *FLoop;
    std::recursive_mutex FLock;
    bool FWatching = false;
    TPolling FPolling = Ready;
    std::vector<pollfd> FWanted;
    int FTimeout = -1;
    std::vector<TNotifier> FNotifiers;
    QTimer FTimer;
};

class TEventLoop final : public TPulseLoop {
public:
    TEventLoop() : FWatch(new TEventLoopWatch) {}
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
    TEventLoopWatch *FWatch;
};

} // namespace

std::unique_ptr<TPulseLoop> TPulseLoop::ForCallingThread() {
    if (HandledHere && QThread::currentThread()->eventDispatcher())
        return std::make_unique<TEventLoop>();
    return std::make_unique<TThreadLoop>();
}

void HandleSoundServerHere(bool Here) {
    HandledHere = Here;
}

} // namespace platform
