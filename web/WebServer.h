#pragma once

// The station's web page and its read-only API, served by libmicrohttpd on threads of
// its own:
//   /              the page (its /page.css and /page.js built into the program)
//   /api/messages  the history as JSON (see MessageApi.h for the parameters)
//   /api/events    the messages as server-sent events
//   /api/status    the service's status as JSON
//   /metrics       the status as OpenMetrics text
// Only GET and HEAD are answered (others: 405). The server bounds what clients can
// take: connections (beyond the limit a new one is closed at once: the library cannot
// close an older one instead), the bytes of a request, the time a connection may stay
// silent and the time a request may take to arrive. Nothing here ever makes the receiver wait: the
// receiver's side only calls MessagesAdded.

#include "service/ServiceStatus.h"
#include "web/EventStreams.h"
#include "web/HttpAddress.h"
#include "web/RequestDeadline.h"

#include <chrono>
#include <memory>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

struct TWebServerSettings {
    THttpAddress Address;
    std::string Station;
    unsigned ConnectionLimit = 64;
    // Event streams leave the rest for the page and the API.
    std::size_t EventStreamLimit = 56;
    // A connection silent this long (a request not finished, or no new one) is closed,
    // and so is one whose request has not arrived whole this long after it was awaited.
    std::chrono::seconds IdleTimeout{10};
    std::chrono::milliseconds RequestTime{10000};
    // The memory of one connection, and so the longest request it takes.
    std::size_t RequestBytes = 16 * 1024;
    std::chrono::milliseconds Heartbeat{15000};
};

class TWebServer {
public:
    // Listens at once; EToolError when it cannot.
    TWebServer(const TWebServerSettings &Settings, const IMessageHistory &History,
               const TServiceStatus &Status);
    ~TWebServer();
    TWebServer(const TWebServer &) = delete;
    TWebServer &operator=(const TWebServer &) = delete;

    int Port() const { return FPort; }
    // Any thread: the history holds new messages. Never waits for a client.
    void MessagesAdded() { FStreams.MessagesAdded(); }
    std::size_t EventStreams() const { return FStreams.Count(); }

private:
    struct TCallbacks;
    friend struct TCallbacks;
    // The response to a request, with its status.
    struct TAnswer {
        unsigned Status;
        MHD_Response *Response;
    };
    TAnswer Respond(MHD_Connection *Connection, const std::string &Path, const std::string &Method);
    TAnswer Route(MHD_Connection *Connection, const std::string &Path);
    TAnswer Messages(MHD_Connection *Connection);
    TAnswer Events(MHD_Connection *Connection);
    std::int64_t NewestId() const;

    const TWebServerSettings FSettings;
    const IMessageHistory &FHistory;
    const TServiceStatus &FStatus;
    TEventStreams FStreams;
    TRequestDeadline FDeadline;
    int FPort = 0;
    MHD_Daemon *FDaemon = nullptr;
};
