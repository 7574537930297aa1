#pragma once

// What the sound server (PulseAudio, or PipeWire through its PulseAudio protocol) offers
// right now, learnt without waiting: a connection of its own, on a thread of its own,
// is kept open to the server and told of every source the server adds or removes.
// While no server answers, the folders where one would make its socket are watched,
// and a connection is made when something listens there. A server that accepts the
// connection but does not answer (stopped, hung) is waited for without cost: the
// moment it answers is known at once. Each change of the answer is passed to OnChange,
// on the watch's thread.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_time_event;
struct pa_io_event;

namespace platform {

enum class TSoundServerState {
    Absent,    // nothing answers: no server, or its socket refuses
    Silent,    // a server took the connection but has not answered (yet)
    Answering, // a server answers
};

struct TSoundServerAnswer {
    TSoundServerState State = TSoundServerState::Absent;
    bool HasSource = false; // it has something to record from
    bool operator==(const TSoundServerAnswer &) const = default;
};

class TSoundServerWatch {
public:
    // Starts watching; throws std::bad_alloc when libpulse cannot.
    explicit TSoundServerWatch(std::function<void()> OnChange);
    ~TSoundServerWatch();
    TSoundServerWatch(const TSoundServerWatch &) = delete;
    TSoundServerWatch &operator=(const TSoundServerWatch &) = delete;

    // The answer now. Until the first connection has been answered, refused or given
    // up on, waits for it until Deadline.
    TSoundServerAnswer Answer(std::chrono::steady_clock::time_point Deadline);
    // The server that seemed to answer did not do what was asked of it: it is asked
    // again, and taken for silent when it does not answer that either. Not on the
    // watch's thread.
    void Doubt();

private:
    // On the watch's thread, with its loop locked.
    void Connect();
    void Release();
    void ScheduleRetry();
    void SetTimer(std::chrono::milliseconds Delay);
    void StopTimer();
    void Look();
    bool WorthConnecting() const;
    bool SomethingListensAtAll() const;
    void WatchFolders();
    bool WatchNearestFolders();
    void StopWatchingFolders();
    void FolderNews();
    void Settle(TSoundServerAnswer Answer);
    void AskSources();
    static void StateChanged(pa_context *Context, void *Self);

    std::function<void()> FOnChange;
    const std::vector<std::string> FSockets;
    int FFolders = -1; // inotify, on the folders of FSockets
    std::chrono::steady_clock::time_point FNewsUntil;
    std::chrono::steady_clock::time_point FLastFullAttempt;
    std::chrono::milliseconds FBackOff; // before asking a server that did not let us in
    pa_threaded_mainloop *FLoop = nullptr;
    pa_context *FContext = nullptr;
    pa_time_event *FTimer = nullptr; // the next look, or the end of patience
    pa_io_event *FFolderEvents = nullptr;
    bool FAsking = false; // for the list of sources
    bool FAskAgain = false;
    unsigned FSourceCount = 0;

    std::mutex FLock;
    std::condition_variable FSettled;
    bool FFirstSettled = false;
    TSoundServerAnswer FAnswer;
};

} // namespace platform
