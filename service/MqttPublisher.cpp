#include "service/MqttPublisher.h"

#include "cli/MessageText.h"
#include "cli/ToolMain.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto FirstRetryDelay = 1s;
constexpr auto LongestRetryDelay = 30s;
constexpr int KeepAliveSeconds = 30;
// Often enough for the keep-alive (a ping goes out at most a quarter late) without
// waking the program every second: a message or a stop wakes the poll at once.
constexpr int PollMilliseconds = KeepAliveSeconds * 1000 / 4;
// Messages sent but not yet acknowledged; more wait in the queue.
constexpr std::size_t InFlightLimit = 20;
constexpr int QoS = 1;
constexpr auto ThreadEndGrace = 1s;

struct TQueued {
    std::string Topic;
    std::string Payload;
    bool Retain = false;
    int Mid = 0; // set while in flight
};

struct TMosquittoDeleter {
    void operator()(mosquitto *Client) const { mosquitto_destroy(Client); }
};
using TClient = std::unique_ptr<mosquitto, TMosquittoDeleter>;

void InitialiseLibrary() {
    static std::once_flag Once;
    std::call_once(Once, [] { mosquitto_lib_init(); });
}

std::string Reason(int Code) {
    return Code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(Code);
}

// Errors that pass with the connection (or with a moment's shortage of memory); any
// other publish error is the message's own and comes back every time it is tried.
bool PassesWithTheConnection(int Code) {
    switch (Code) {
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_CONN_REFUSED:
    case MOSQ_ERR_ERRNO:
    case MOSQ_ERR_KEEPALIVE:
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_NOMEM:
        return true;
    default:
        return false;
    }
}

// EToolError when the library refused a setting of the client.
void Require(int Code, const std::string &What) {
    if (Code != MOSQ_ERR_SUCCESS)
        throw EToolError("cannot " + What + ": " + Reason(Code));
}

// A wake-up the network thread polls alongside the broker's socket.
class TWakeUp {
public:
    TWakeUp() : FHandle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (FHandle < 0)
            throw EToolError(std::string("cannot create an event: ") + std::strerror(errno));
    }
    ~TWakeUp() { close(FHandle); }
    TWakeUp(const TWakeUp &) = delete;
    TWakeUp &operator=(const TWakeUp &) = delete;

    void Signal() {
        const std::uint64_t One = 1;
        [[maybe_unused]] auto Written = write(FHandle, &One, sizeof One);
    }
    void Drain() {
        std::uint64_t Count;
        [[maybe_unused]] auto Read = read(FHandle, &Count, sizeof Count);
    }
    int Handle() const { return FHandle; }

private:
    int FHandle;
};

} // namespace

// Shared by the publisher and its network thread, so that a thread stuck in a
// connection attempt can be left behind safely.
class TMqttPublisher::TSession {
public:
    TSession(const TMqttSettings &Settings, TMqttReport Report)
        : FSettings(Settings), FReport(std::move(Report)) {
        InitialiseLibrary();
        NewClient(); // refuses unusable settings here, not later on the thread
    }

    void Start(std::shared_ptr<TSession> Self) {
        FThread = std::thread([Self = std::move(Self)] { Self->Run(); });
    }

    void Publish(TQueued Message) {
        {
            std::lock_guard Lock(FLock);
            while (!FQueue.empty() && !Fits(Message))
                DropOldest();
            FQueuedBytes += Message.Payload.size();
            FQueue.push_back(std::move(Message));
        }
        FWakeUp.Signal();
    }

    std::size_t Waiting() {
        std::lock_guard Lock(FLock);
        return FQueue.size();
    }

    bool Close(std::chrono::milliseconds Timeout) {
        const auto Deadline = std::chrono::steady_clock::now() + Timeout;
        Publish({FSettings.StatusTopic, "offline", true});
        bool Delivered;
        {
            std::unique_lock Lock(FLock);
            Delivered = FChanged.wait_until(Lock, Deadline, [this] { return FQueue.empty(); });
        }
        Stop(Delivered);
        return Delivered;
    }

    // Ends the thread; a graceful stop says goodbye to the broker, otherwise the broker
    // sees the connection drop and publishes the last will.
    void Stop(bool Graceful) {
        if (!FThread.joinable())
            return;
        {
            std::lock_guard Lock(FLock);
            FStopping = true;
            FGraceful = Graceful;
        }
        FChanged.notify_all();
        FWakeUp.Signal();
        if (FThreadEnded.wait_for(ThreadEndGrace) == std::future_status::ready)
            FThread.join();
        else
            FThread.detach(); // holds its own reference to this session
    }

private:
    void NewClient() {
        // A lasting session: when a new connection takes it over from an old one, the
        // broker drops the old one without publishing its will. (With a clean session
        // it would publish "offline" just before the new "online".)
        FClient.reset(mosquitto_new(FSettings.ClientId.c_str(), false, this));
        if (!FClient)
            throw EToolError("cannot create an MQTT client with the id '" +
                             EscapeBytes(FSettings.ClientId) + "': " + std::strerror(errno));
        mosquitto *Client = FClient.get();
        mosquitto_int_option(Client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        const TMqttUrl &Url = FSettings.Url;
        if (!Url.User.empty())
            Require(mosquitto_username_pw_set(Client, Url.User.c_str(),
                                              Url.HasPassword ? Url.Password.c_str() : nullptr),
                    "use the MQTT user name");
        if (Url.Tls)
            ConfigureTls(Client);
        Require(mosquitto_will_set(Client, FSettings.StatusTopic.c_str(), 7, "offline", QoS, true),
                "set the last will on " + EscapeBytes(FSettings.StatusTopic));
        mosquitto_connect_callback_set(Client, [](mosquitto *, void *Self, int Code) {
            static_cast<TSession *>(Self)->Connected(Code);
        });
        mosquitto_publish_callback_set(Client, [](mosquitto *, void *Self, int Mid) {
            static_cast<TSession *>(Self)->Acknowledged(Mid);
        });
    }

    void ConfigureTls(mosquitto *Client) {
        const int Result = FSettings.CaFile.empty()
                               ? mosquitto_int_option(Client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                               : mosquitto_tls_set(Client, FSettings.CaFile.c_str(), nullptr,
                                                   nullptr, nullptr, nullptr);
        if (Result != MOSQ_ERR_SUCCESS)
            throw EToolError(
                "cannot use the certificates" +
                (FSettings.CaFile.empty() ? std::string() : " of '" + FSettings.CaFile + "'") +
                ": " + Reason(Result));
    }

    void Run() {
        auto Delay = std::chrono::seconds(FirstRetryDelay);
        while (!Stopping()) {
            int Result = Connect();
            if (Result == MOSQ_ERR_SUCCESS)
                Result = Serve();
            const bool WasConnected = Disconnected();
            if (WasConnected && FSettings.OnConnection)
                FSettings.OnConnection(false);
            // A fresh client for every attempt: no message survives inside the library,
            // the queue alone decides what is sent again.
            FClient.reset();
            if (Stopping())
                break;
            ReportLoss(WasConnected, Result);
            if (WasConnected)
                Delay = FirstRetryDelay;
            std::unique_lock Lock(FLock);
            FChanged.wait_for(Lock, Delay, [this] { return FStopping; });
            Delay = std::min(Delay * 2, std::chrono::seconds(LongestRetryDelay));
        }
        FThreadDone.set_value();
    }

    int Connect() {
        try {
            if (!FClient)
                NewClient();
        } catch (const std::exception &) {
            return MOSQ_ERR_NOMEM; // worked at the start: only memory can be short now
        }
        return mosquitto_connect(FClient.get(), FSettings.Url.Host.c_str(), FSettings.Url.Port,
                                 KeepAliveSeconds);
    }

    // Runs the connection until it fails or the session stops.
    int Serve() {
        mosquitto *Client = FClient.get();
        for (;;) {
            if (Stopping()) {
                if (Graceful()) {
                    mosquitto_disconnect(Client);
                    mosquitto_loop_write(Client, 1);
                }
                return MOSQ_ERR_SUCCESS;
            }
            const int Socket = mosquitto_socket(Client);
            if (Socket < 0)
                return MOSQ_ERR_NO_CONN;
            pollfd Handles[2] = {
                {Socket, short(POLLIN | (mosquitto_want_write(Client) ? POLLOUT : 0)), 0},
                {FWakeUp.Handle(), POLLIN, 0}};
            if (poll(Handles, 2, PollMilliseconds) < 0 && errno != EINTR)
                return MOSQ_ERR_ERRNO;
            int Result = MOSQ_ERR_SUCCESS;
            if (Handles[0].revents & (POLLIN | POLLERR | POLLHUP))
                Result = mosquitto_loop_read(Client, 1);
            if (Result == MOSQ_ERR_SUCCESS && (Handles[0].revents & POLLOUT))
                Result = mosquitto_loop_write(Client, 1);
            if (Result == MOSQ_ERR_SUCCESS)
                Result = mosquitto_loop_misc(Client);
            if (Result != MOSQ_ERR_SUCCESS)
                return Result;
            if (Handles[1].revents & POLLIN)
                FWakeUp.Drain();
            SendQueued();
        }
    }

    void Connected(int Code) {
        if (Code != 0) {
            FRefusal = mosquitto_connack_string(Code);
            return;
        }
        const int Status = mosquitto_publish(FClient.get(), nullptr, FSettings.StatusTopic.c_str(),
                                             6, "online", QoS, true);
        if (Status != MOSQ_ERR_SUCCESS && !PassesWithTheConnection(Status))
            ReportOnce("cannot publish the status 'online' to " +
                       EscapeBytes(FSettings.StatusTopic) + " (" + Reason(Status) + ")");
        std::size_t Waiting;
        {
            std::lock_guard Lock(FLock);
            FConnected = true;
            FRefusal.clear();
            Waiting = FQueue.size();
        }
        if (FSettings.OnConnection)
            FSettings.OnConnection(true);
        if (FLost)
            FReport("MQTT broker " + Address() + " is back" +
                    (Waiting ? ", sending " + std::to_string(Waiting) + " waiting messages" : ""));
        FLost = false;
        SendQueued();
    }

    void Acknowledged(int Mid) {
        {
            std::lock_guard Lock(FLock);
            const auto InFlight = FQueue.begin() + std::ptrdiff_t(FSent);
            const auto Found = std::find_if(
                FQueue.begin(), InFlight, [Mid](const TQueued &Entry) { return Entry.Mid == Mid; });
            if (Found == InFlight)
                return;
            Erase(Found);
            --FSent;
            if (FQueue.empty())
                FOverflowing = false; // the next overflow is news again
        }
        FChanged.notify_all();
    }

    // On the network thread, connected: sends the next queued messages, up to the
    // in-flight limit.
    void SendQueued() {
        std::lock_guard Lock(FLock);
        while (FConnected && FSent < FQueue.size() && FSent < InFlightLimit) {
            TQueued &Entry = FQueue[FSent];
            const int Result = mosquitto_publish(FClient.get(), &Entry.Mid, Entry.Topic.c_str(),
                                                 int(Entry.Payload.size()), Entry.Payload.data(),
                                                 QoS, Entry.Retain);
            if (Result == MOSQ_ERR_SUCCESS) {
                ++FSent;
            } else if (PassesWithTheConnection(Result)) {
                break; // the connection is going; it is sent again after the reconnect
            } else {   // it could never go: it must not hold up those after it
                ReportOnce("dropped a message to " + EscapeBytes(Entry.Topic) +
                           " that the MQTT broker can never take (" + Reason(Result) +
                           "); others like it are dropped too, without another line");
                Erase(FQueue.begin() + std::ptrdiff_t(FSent));
            }
        }
    }

    // On the network thread: a failure that comes again and again is news only once.
    void ReportOnce(const std::string &Line) {
        if (FReported.insert(Line).second)
            FReport(Line);
    }

    // Under the lock, as what follows.
    bool Fits(const TQueued &Message) const {
        return FQueue.size() < FSettings.QueueLimit &&
               FQueuedBytes + Message.Payload.size() <= FSettings.QueueByteLimit;
    }

    void DropOldest() {
        if (!FOverflowing)
            FReport("MQTT queue full (" + std::to_string(FQueue.size()) +
                    " messages): dropping the oldest until the broker takes them");
        FOverflowing = true;
        Erase(FQueue.begin());
        if (FSent > 0)
            --FSent;
    }

    void Erase(std::deque<TQueued>::iterator Entry) {
        FQueuedBytes -= Entry->Payload.size();
        FQueue.erase(Entry);
    }

    // Returns whether the connection had been up; what was in flight goes again.
    bool Disconnected() {
        std::lock_guard Lock(FLock);
        const bool WasConnected = FConnected;
        FConnected = false;
        FSent = 0;
        return WasConnected;
    }

    void ReportLoss(bool WasConnected, int Result) {
        if (FLost)
            return;
        FLost = true;
        const std::string Why = FRefusal.empty() ? Reason(Result) : FRefusal;
        FReport((WasConnected ? "lost the MQTT broker " : "cannot reach the MQTT broker ") +
                Address() + " (" + Why + "); messages wait until it is back");
    }

    std::string Address() const {
        return FSettings.Url.Host + ":" + std::to_string(FSettings.Url.Port);
    }

    bool Stopping() {
        std::lock_guard Lock(FLock);
        return FStopping;
    }
    bool Graceful() {
        std::lock_guard Lock(FLock);
        return FGraceful;
    }

    const TMqttSettings FSettings;
    const TMqttReport FReport;
    TWakeUp FWakeUp;
    std::thread FThread;
    std::promise<void> FThreadDone;
    std::future<void> FThreadEnded = FThreadDone.get_future();

    // Network thread only.
    TClient FClient;
    bool FLost = false;
    std::string FRefusal;
    std::set<std::string> FReported; // failures of the status and of messages

    std::mutex FLock; // guards what follows
    std::condition_variable FChanged;
    std::deque<TQueued> FQueue;
    std::size_t FQueuedBytes = 0; // of the payloads
    std::size_t FSent = 0;        // the first FSent entries are in flight
    bool FConnected = false;
    bool FOverflowing = false;
    bool FStopping = false;
    bool FGraceful = false;
};

TMqttPublisher::TMqttPublisher(const TMqttSettings &Settings, TMqttReport Report)
    : FSession(std::make_shared<TSession>(Settings, std::move(Report))) {
    FSession->Start(FSession);
}

TMqttPublisher::~TMqttPublisher() {
    FSession->Stop(false);
}

void TMqttPublisher::Publish(const std::string &Topic, const std::string &Payload, bool Retain) {
    FSession->Publish({Topic, Payload, Retain});
}

bool TMqttPublisher::Close(std::chrono::milliseconds Timeout) {
    return FSession->Close(Timeout);
}

std::size_t TMqttPublisher::Waiting() const {
    return FSession->Waiting();
}
