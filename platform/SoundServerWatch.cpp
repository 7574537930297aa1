#include "platform/SoundServerWatch.h"

#include <pulse/pulseaudio.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <sstream>
#include <utility>

namespace platform {
namespace {

using TClock = std::chrono::steady_clock;

// A server that takes the connection and says nothing for this long is taken for one
// that does not answer (stopped or hung); it is still listened to.
constexpr auto Patience = std::chrono::milliseconds(1500);
// While no server answers, the places where one would listen are looked at this often,
// unless their folders are watched; then only this long after news from them, while a
// server that just made its socket begins to listen.
constexpr auto LookInterval = std::chrono::milliseconds(1000);
constexpr auto QuickLook = std::chrono::milliseconds(200);
constexpr auto NewsLasts = std::chrono::seconds(3);
// A connection attempt of libpulse reads its configuration and sets up shared memory:
// half a millisecond. It is made when something listens where a local server would,
// and this often regardless, for a server named where this does not look (the client
// configuration, the X display).
constexpr auto FullAttemptInterval = std::chrono::seconds(30);
constexpr const char *SystemServerSocket = "/var/run/pulse/native";

bool IsConnecting(pa_context_state_t State) {
    return State == PA_CONTEXT_CONNECTING || State == PA_CONTEXT_AUTHORIZING ||
           State == PA_CONTEXT_SETTING_NAME;
}

// Where libpulse would find a local server: the sockets PULSE_SERVER names, else the
// user's runtime directory and the system-wide one. Nothing when PULSE_SERVER names a
// server that is no local socket: only libpulse can tell then.
std::vector<std::string> LocalServerSockets() {
    if (const char *Named = std::getenv("PULSE_SERVER"); Named && *Named) {
        std::vector<std::string> Sockets;
        std::istringstream Servers(Named);
        for (std::string Server; Servers >> Server;) {
            if (Server.front() == '{') // a machine id the server is meant for
                Server.erase(0, Server.find('}') + 1);
            if (Server.starts_with("unix:"))
                Server.erase(0, 5);
            if (!Server.starts_with("/"))
                return {};
            Sockets.push_back(Server);
        }
        return Sockets;
    }
    std::vector<std::string> Sockets;
    // A system-wide server is set up with the machine, its folder with it.
    if (std::filesystem::is_directory(std::filesystem::path(SystemServerSocket).parent_path()))
        Sockets.emplace_back(SystemServerSocket);
    if (const char *Runtime = std::getenv("PULSE_RUNTIME_PATH"); Runtime && *Runtime)
        Sockets.push_back(std::string(Runtime) + "/native");
    else if (const char *User = std::getenv("XDG_RUNTIME_DIR"); User && *User)
        Sockets.push_back(std::string(User) + "/pulse/native");
    return Sockets;
}

// A socket that takes connections, or one whose queue is full (a server that stopped
// taking them): something is there.
bool SomethingListens(const std::string &Path) {
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    if (Path.size() >= sizeof Address.sun_path)
        return true; // libpulse will know
    std::memcpy(Address.sun_path, Path.c_str(), Path.size() + 1);
    const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Socket < 0)
        return true;
    const bool Listens =
        connect(Socket, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) == 0 ||
        errno == EAGAIN || errno == EINPROGRESS;
    close(Socket);
    return Listens;
}

} // namespace

TSoundServerWatch::TSoundServerWatch(std::function<void()> OnChange)
    : FOnChange(std::move(OnChange)), FSockets(LocalServerSockets()), FBackOff(LookInterval),
      FLoop(pa_threaded_mainloop_new()) {
    if (!FLoop)
        throw std::bad_alloc();
    pa_threaded_mainloop_lock(FLoop);
    WatchFolders();
    Connect();
    pa_threaded_mainloop_unlock(FLoop);
    if (pa_threaded_mainloop_start(FLoop) < 0) {
        Release();
        StopWatchingFolders();
        pa_threaded_mainloop_free(FLoop);
        throw std::bad_alloc();
    }
}

// A server that stopped answering keeps its connection: nothing tells of it. Asked
// again, it is silent when it does not answer in time, and heard again when it does.
void TSoundServerWatch::Doubt() {
    pa_threaded_mainloop_lock(FLoop);
    if (FContext && pa_context_get_state(FContext) == PA_CONTEXT_READY && !FTimer) {
        AskSources();
        SetTimer(Patience);
    }
    pa_threaded_mainloop_unlock(FLoop);
}

// A server that starts makes its socket: the folders that would hold one are watched,
// so that nothing needs to be looked at while none is there.
void TSoundServerWatch::WatchFolders() {
    FFolders = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFolders < 0 || FSockets.empty() || !WatchNearestFolders())
        return StopWatchingFolders();
    pa_mainloop_api *Api = pa_threaded_mainloop_get_api(FLoop);
    FFolderEvents = Api->io_new(
        Api, FFolders, PA_IO_EVENT_INPUT,
        [](pa_mainloop_api *, pa_io_event *, int Folders, pa_io_event_flags_t, void *Self) {
            alignas(inotify_event) char Events[4096];
            while (read(Folders, Events, sizeof Events) > 0) {
            }
            static_cast<TSoundServerWatch *>(Self)->FolderNews();
        },
        this);
}

// The folder of each socket, or while that is missing (a server that never ran in this
// session), the nearest one above it that exists, where the missing one will be made.
bool TSoundServerWatch::WatchNearestFolders() {
    for (const std::string &Socket : FSockets) {
        std::filesystem::path Folder = std::filesystem::path(Socket).parent_path();
        std::error_code Error;
        while (Folder.has_relative_path() && !std::filesystem::is_directory(Folder, Error))
            Folder = Folder.parent_path();
        if (inotify_add_watch(FFolders, Folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0)
            return false;
    }
    return true;
}

void TSoundServerWatch::StopWatchingFolders() {
    if (FFolderEvents)
        pa_threaded_mainloop_get_api(FLoop)->io_free(FFolderEvents);
    FFolderEvents = nullptr;
    if (FFolders >= 0)
        close(FFolders);
    FFolders = -1;
}

// Something was made where a server's socket would be: if no server answers yet, a
// look comes soon, and again until the news is old.
void TSoundServerWatch::FolderNews() {
    WatchNearestFolders();
    FNewsUntil = TClock::now() + NewsLasts;
    // A context that failed waits for the next look to be given up.
    if (!FContext || !PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
        SetTimer(QuickLook);
}

TSoundServerWatch::~TSoundServerWatch() {
    pa_threaded_mainloop_lock(FLoop);
    StopTimer();
    Release();
    StopWatchingFolders();
    pa_threaded_mainloop_unlock(FLoop);
    pa_threaded_mainloop_stop(FLoop);
    pa_threaded_mainloop_free(FLoop);
}

TSoundServerAnswer TSoundServerWatch::Answer(std::chrono::steady_clock::time_point Deadline) {
    std::unique_lock Guard(FLock);
    FSettled.wait_until(Guard, Deadline, [this] { return FFirstSettled; });
    return FAnswer;
}

void TSoundServerWatch::Connect() {
    FLastFullAttempt = TClock::now();
    pa_mainloop_api *Api = pa_threaded_mainloop_get_api(FLoop);
    FContext = pa_context_new(Api, "ZEL Text Receiver");
    if (FContext) {
        pa_context_set_state_callback(FContext, &TSoundServerWatch::StateChanged, this);
        pa_context_set_subscribe_callback(
            FContext,
            [](pa_context *, pa_subscription_event_type_t Event, uint32_t, void *Self) {
                // A source that changes (its volume, its state) changes nothing here.
                if ((Event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
                    static_cast<TSoundServerWatch *>(Self)->AskSources();
            },
            this);
    }
    // A server that is not running is not started for us: then there is none.
    if (!FContext || pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Release();
        Settle({});
        return ScheduleRetry();
    }
    // Whatever the server does, the timer fires: a retry after a refusal, or the end of
    // patience with a server that stays silent.
    if (!FTimer)
        ScheduleRetry();
}

void TSoundServerWatch::Release() {
    if (!FContext)
        return;
    pa_context_set_state_callback(FContext, nullptr, nullptr);
    pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
    pa_context_disconnect(FContext);
    pa_context_unref(FContext);
    FContext = nullptr;
    FAsking = false;
}

// One timer serves both: while connecting it ends patience, otherwise it looks again.
void TSoundServerWatch::ScheduleRetry() {
    if (FContext && IsConnecting(pa_context_get_state(FContext)))
        return SetTimer(Patience);
    if (TClock::now() < FNewsUntil)
        return SetTimer(QuickLook);
    if (!FFolderEvents)
        return SetTimer(LookInterval);
    // The watched folders tell of a server that starts. One that listens but did not
    // let us in is asked again, less and less often.
    if (!SomethingListensAtAll())
        return SetTimer(FullAttemptInterval);
    SetTimer(FBackOff);
    FBackOff = std::min<std::chrono::milliseconds>(FBackOff * 2, FullAttemptInterval);
}

void TSoundServerWatch::StopTimer() {
    if (FTimer)
        pa_threaded_mainloop_get_api(FLoop)->time_free(FTimer);
    FTimer = nullptr;
}

void TSoundServerWatch::SetTimer(std::chrono::milliseconds Delay) {
    StopTimer();
    pa_mainloop_api *Api = pa_threaded_mainloop_get_api(FLoop);
    timeval When{};
    pa_gettimeofday(&When);
    pa_timeval_add(&When, std::chrono::duration_cast<std::chrono::microseconds>(Delay).count());
    FTimer = Api->time_new(
        Api, &When,
        [](pa_mainloop_api *Api, pa_time_event *Event, const timeval *, void *Data) {
            auto &This = *static_cast<TSoundServerWatch *>(Data);
            Api->time_free(Event);
            This.FTimer = nullptr;
            This.Look();
        },
        this);
}

// With a connection under way, or a question the server has not answered, the server
// is silent; its answer, when it comes, counts then.
void TSoundServerWatch::Look() {
    if (FContext && PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
        return Settle({TSoundServerState::Silent, false});
    Release();
    if (WorthConnecting())
        return Connect();
    ScheduleRetry();
}

bool TSoundServerWatch::WorthConnecting() const {
    return TClock::now() - FLastFullAttempt >= FullAttemptInterval || SomethingListensAtAll();
}

bool TSoundServerWatch::SomethingListensAtAll() const {
    return std::ranges::any_of(FSockets, SomethingListens);
}

void TSoundServerWatch::StateChanged(pa_context *Context, void *Self) {
    auto &This = *static_cast<TSoundServerWatch *>(Self);
    const pa_context_state_t State = pa_context_get_state(Context);
    if (State == PA_CONTEXT_READY) {
        This.FBackOff = LookInterval;
        This.StopTimer();
        pa_operation *Subscribing =
            pa_context_subscribe(Context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr);
        if (Subscribing)
            pa_operation_unref(Subscribing);
        return This.AskSources();
    }
    if (PA_CONTEXT_IS_GOOD(State))
        return;
    // The context is given up by the next look, outside its own callback. libpulse
    // gives up on a silent server after half a minute; it is still there, and the
    // moment it answers is not to be missed.
    if (pa_context_errno(Context) == PA_ERR_TIMEOUT) {
        This.Settle({TSoundServerState::Silent, false});
        return This.SetTimer(QuickLook);
    }
    This.Settle({});
    This.ScheduleRetry();
}

// The server's answer counts once its sources are known. One question at a time: news
// that comes while one is asked asks again when it is answered.
void TSoundServerWatch::AskSources() {
    if (std::exchange(FAsking, true)) {
        FAskAgain = true;
        return;
    }
    FAskAgain = false;
    FSourceCount = 0;
    pa_operation *Question = pa_context_get_source_info_list(
        FContext,
        [](pa_context *, const pa_source_info *Info, int EndOfList, void *Self) {
            auto &This = *static_cast<TSoundServerWatch *>(Self);
            if (EndOfList == 0) {
                This.FSourceCount += Info != nullptr;
                return;
            }
            This.FAsking = false;
            if (This.FAskAgain)
                return This.AskSources();
            if (EndOfList > 0) {
                This.StopTimer();
                This.Settle({TSoundServerState::Answering, This.FSourceCount > 0});
            }
        },
        this);
    if (Question)
        pa_operation_unref(Question);
    else
        FAsking = false;
}

void TSoundServerWatch::Settle(TSoundServerAnswer Answer) {
    bool Changed = false;
    {
        std::lock_guard Guard(FLock);
        Changed = !FFirstSettled || !(FAnswer == Answer);
        FAnswer = Answer;
        FFirstSettled = true;
    }
    FSettled.notify_all();
    if (Changed && FOnChange)
        FOnChange();
}

} // namespace platform
