#include "web/WebServer.h"

#include "cli/ToolMain.h"
#include "output/MessageJson.h"
#include "web/MessageApi.h"
#include "web/StatusReports.h"
#include "web/WebFiles.h"

#include <microhttpd.h>

#include <unistd.h>

#include <cstring>

namespace {

// Nothing but the page's own files, and no framing, referrer or sniffing: a message
// that slipped into markup still could not run, load or send anything.
constexpr const char *ContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr const char *JsonType = "application/json";

MHD_Response *Text(const std::string &Body, const char *Type) {
    MHD_Response *Response = MHD_create_response_from_buffer(
        Body.size(), const_cast<char *>(Body.data()), MHD_RESPMEM_MUST_COPY);
    if (Response)
        MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, Type);
    return Response;
}

MHD_Response *Problem(const std::string &Why) {
    return Text("{\"error\":" + JsonUtf8String(Why) + "}", JsonType);
}

// The request's parameter Name, whole even when it holds a NUL.
std::optional<std::string> Parameter(MHD_Connection *Connection, const char *Name) {
    const char *Value = nullptr;
    std::size_t Length = 0;
    if (MHD_lookup_connection_value_n(Connection, MHD_GET_ARGUMENT_KIND, Name, std::strlen(Name),
                                      &Value, &Length) != MHD_YES ||
        !Value)
        return std::nullopt;
    return std::string(Value, Length);
}

void AddSafetyHeaders(MHD_Response *Response) {
    MHD_add_response_header(Response, "Content-Security-Policy", ContentSecurityPolicy);
    MHD_add_response_header(Response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(Response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(Response, "Cache-Control", "no-store");
}

int SocketOf(MHD_Connection *Connection) {
    return MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
}

} // namespace

struct TWebServer::TCallbacks {
    static void Connection(void *Self, MHD_Connection *Connection, void **,
                           MHD_ConnectionNotificationCode Code) {
        auto &Deadline = static_cast<TWebServer *>(Self)->FDeadline;
        if (Code == MHD_CONNECTION_NOTIFY_STARTED)
            Deadline.Await(SocketOf(Connection));
        else
            Deadline.Arrived(SocketOf(Connection));
    }

    // A connection kept open awaits its next request.
    static void Completed(void *Self, MHD_Connection *Connection, void **,
                          MHD_RequestTerminationCode) {
        static_cast<TWebServer *>(Self)->FDeadline.Await(SocketOf(Connection));
    }

    static MHD_Result Answer(void *Self, MHD_Connection *Connection, const char *Url,
                             const char *Method, const char *, const char *, std::size_t *,
                             void **) {
        auto &Server = *static_cast<TWebServer *>(Self);
        Server.FDeadline.Arrived(SocketOf(Connection));
        const TAnswer Answer = Server.Respond(Connection, Url, Method);
        if (!Answer.Response)
            return MHD_NO; // out of memory: the connection closes
        AddSafetyHeaders(Answer.Response);
        const MHD_Result Queued = MHD_queue_response(Connection, Answer.Status, Answer.Response);
        MHD_destroy_response(Answer.Response);
        return Queued;
    }
};

TWebServer::TWebServer(const TWebServerSettings &Settings, const IMessageHistory &History,
                       const TServiceStatus &Status)
    : FSettings(Settings), FHistory(History), FStatus(Status),
      FStreams(History, Settings.Station, Settings.EventStreamLimit, Settings.Heartbeat),
      FDeadline(Settings.RequestTime) {
    const int Socket = ListenOn(Settings.Address);
    FPort = ListeningPort(Socket);
    FDaemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr,
        nullptr, &TCallbacks::Answer, this, MHD_OPTION_LISTEN_SOCKET, Socket,
        MHD_OPTION_CONNECTION_LIMIT, Settings.ConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(Settings.IdleTimeout.count()), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        Settings.RequestBytes, MHD_OPTION_NOTIFY_CONNECTION, &TCallbacks::Connection, this,
        MHD_OPTION_NOTIFY_COMPLETED, &TCallbacks::Completed, this, MHD_OPTION_END);
    if (!FDaemon) {
        close(Socket);
        FStreams.Stop();
        throw EToolError("--http: cannot start the web server");
    }
}

TWebServer::~TWebServer() {
    FStreams.Stop();
    MHD_stop_daemon(FDaemon);
}

TWebServer::TAnswer TWebServer::Respond(MHD_Connection *Connection, const std::string &Path,
                                        const std::string &Method) {
    if (Method != MHD_HTTP_METHOD_GET && Method != MHD_HTTP_METHOD_HEAD) {
        MHD_Response *Response = Problem("the server only reads: GET or HEAD");
        if (Response)
            MHD_add_response_header(Response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
        return {MHD_HTTP_METHOD_NOT_ALLOWED, Response};
    }
    try {
        return Route(Connection, Path);
    } catch (const std::exception &Error) { // the store cannot be read
        return {MHD_HTTP_SERVICE_UNAVAILABLE,
                Problem(std::string("cannot read the messages: ") + Error.what())};
    }
}

TWebServer::TAnswer TWebServer::Route(MHD_Connection *Connection, const std::string &Path) {
    if (const TWebFile *File = FindWebFile(Path)) {
        MHD_Response *Response = MHD_create_response_from_buffer(
            File->Body.size(), const_cast<char *>(File->Body.data()), MHD_RESPMEM_PERSISTENT);
        if (Response)
            MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, File->Type);
        return {MHD_HTTP_OK, Response};
    }
    if (Path == "/api/messages")
        return Messages(Connection);
    if (Path == "/api/events")
        return Events(Connection);
    if (Path == "/api/status")
        return {MHD_HTTP_OK, Text(StatusJson(FStatus.Snapshot(), FSettings.Station), JsonType)};
    if (Path == "/metrics")
        return {MHD_HTTP_OK, Text(StatusMetrics(FStatus.Snapshot()),
                                  "application/openmetrics-text; version=1.0.0; charset=utf-8")};
    return {MHD_HTTP_NOT_FOUND, Problem("nothing here")};
}

TWebServer::TAnswer TWebServer::Messages(MHD_Connection *Connection) {
    try {
        const TMessageQuery Query =
            MessageQuery([Connection](const char *Name) { return Parameter(Connection, Name); });
        return {MHD_HTTP_OK, Text(MessagesJson(FHistory.Find(Query), FSettings.Station), JsonType)};
    } catch (const EBadParameter &Error) {
        return {MHD_HTTP_BAD_REQUEST, Problem(Error.what())};
    }
}

// From the id the browser saw last (Last-Event-ID, as it reconnects), the one the page
// asks after, or else from now on.
TWebServer::TAnswer TWebServer::Events(MHD_Connection *Connection) {
    std::optional<std::string> Seen;
    if (const char *Header =
            MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Last-Event-ID"))
        Seen = Header;
    else
        Seen = Parameter(Connection, "after");
    std::int64_t AfterId = 0;
    try {
        AfterId = Seen ? ParseMessageId("Last-Event-ID or after", *Seen) : NewestId();
    } catch (const EBadParameter &Error) {
        return {MHD_HTTP_BAD_REQUEST, Problem(Error.what())};
    }
    MHD_Response *Response = FStreams.Open(Connection, AfterId);
    if (!Response)
        return {MHD_HTTP_SERVICE_UNAVAILABLE, Problem("too many event streams open; try later")};
    MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    return {MHD_HTTP_OK, Response};
}

std::int64_t TWebServer::NewestId() const {
    TMessageQuery Newest;
    Newest.Limit = 1;
    const auto Found = FHistory.Find(Newest);
    return Found.empty() ? 0 : Found.front().Id;
}
