// The web server as a client on the network meets it: what it answers and refuses, the
// headers that keep a message's text inert, the events a reconnecting browser gets, and
// that clients holding every connection cannot keep a normal request out for long.

#include "web/WebServer.h"
#include "web/RecentMessages.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class TClient {
public:
    explicit TClient(int Port) : FSocket(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_port = htons(std::uint16_t(Port));
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connected = connect(FSocket, reinterpret_cast<sockaddr *>(&Address), sizeof Address) == 0;
    }
    ~TClient() { close(FSocket); }
    TClient(const TClient &) = delete;
    TClient &operator=(const TClient &) = delete;

    bool Send(const std::string &Text) {
        return send(FSocket, Text.data(), Text.size(), MSG_NOSIGNAL) == ssize_t(Text.size());
    }
    // What arrives until the server closes, Until appears, or nothing comes for Patience.
    std::string Receive(const std::string &Until = "", std::chrono::milliseconds Patience = 3s) {
        std::string Received;
        pollfd Socket{FSocket, POLLIN, 0};
        char Buffer[4096];
        while (poll(&Socket, 1, int(Patience.count())) == 1) {
            const ssize_t Length = recv(FSocket, Buffer, sizeof Buffer, 0);
            if (Length <= 0)
                break;
            Received.append(Buffer, std::size_t(Length));
            if (!Until.empty() && Received.find(Until) != std::string::npos)
                break;
        }
        return Received;
    }

    // Whether the server has closed the connection (what it sent before is read).
    bool Closed() {
        char Byte;
        return recv(FSocket, &Byte, 1, MSG_DONTWAIT) == 0;
    }

    bool Connected = false;

private:
    int FSocket;
};

std::string Get(const std::string &Path, const std::string &Headers = "") {
    return "GET " + Path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + Headers +
           "\r\n";
}

int StatusOf(const std::string &Response) {
    return Response.size() > 12 ? std::stoi(Response.substr(9, 3)) : 0;
}

TListenedMessage Message(bool IsSMS, const std::string &Text, int Second) {
    TListenedMessage Result;
    Result.Time = std::chrono::system_clock::from_time_t(1796000000 + Second);
    Result.IsSMS = IsSMS;
    Result.Text = Text;
    return Result;
}

class WebServerTest : public testing::Test {
protected:
    WebServerTest() {
        Recent.Add(Message(true, "FIRST", 0));
        Recent.Add(Message(false, "5212N", 10));
        Recent.Add(Message(true, "Caf\xE9 <b>", 20));
        Settings.Address.Port = 0;
        Settings.Station = "test";
        Settings.IdleTimeout = 1s;
        Settings.RequestTime = 2s;
        Settings.Heartbeat = 500ms;
        Server = std::make_unique<TWebServer>(Settings, Recent, Status);
    }

    std::string Ask(const std::string &Request) {
        TClient Client(Server->Port());
        Client.Send(Request);
        return Client.Receive();
    }

    TRecentMessages Recent;
    TServiceStatus Status;
    TWebServerSettings Settings;
    std::unique_ptr<TWebServer> Server;
};

TEST_F(WebServerTest, AnswersWithHeadersThatKeepTextInert) {
    for (const char *Path :
         {"/", "/page.js", "/page.css", "/api/messages", "/api/status", "/metrics", "/nothing"}) {
        const std::string Response = Ask(Get(Path));
        EXPECT_EQ(StatusOf(Response), std::string(Path) == "/nothing" ? 404 : 200) << Path;
        for (const char *Header :
             {"Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
              "connect-src 'self';",
              "X-Content-Type-Options: nosniff", "Referrer-Policy: no-referrer"})
            EXPECT_NE(Response.find(Header), std::string::npos) << Path << ": " << Header;
    }
    EXPECT_NE(Ask(Get("/metrics")).find("zel_messages_total{kind=\"loc\"} 0\n"), std::string::npos);
}

TEST_F(WebServerTest, RefusesWhatItDoesNotServe) {
    const struct {
        std::string Request;
        int Status;
    } Rows[] = {
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"PUT /api/messages HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405},
        {"DELETE /api/messages HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {Get("/", "X-Filler: " + std::string(20000, 'x') + "\r\n"), 431},
        {Get("/api/messages?limit=0"), 400},
        {Get("/api/messages?after=-1"), 400},
        {Get("/api/messages?since=yesterday"), 400},
        {Get("/api/messages?since=2026-11-30T00:53:35.5Z"), 400},
        {Get("/api/messages?since=2026-02-30T00:00:00Z"), 400},
        {Get("/api/messages?until=+2026-11-30T00:53:35Z"), 400},
        {Get("/api/messages?until=2026-11-30T24:00:00Z"), 400},
        {Get("/api/messages?kind=fax"), 400},
        {Get("/api/events", "Last-Event-ID: x\r\n"), 400},
    };
    for (const auto &Row : Rows)
        EXPECT_EQ(StatusOf(Ask(Row.Request)), Row.Status) << Row.Request.substr(0, 60);
    EXPECT_NE(Ask(Rows[0].Request).find("Allow: GET, HEAD"), std::string::npos);
}

TEST_F(WebServerTest, FindsMessagesByIdTimeKindAndText) {
    const struct {
        const char *Query;
        const char *Ids; // as "id": values in the answer, in order
    } Rows[] = {
        {"", "3,2,1"},
        {"?limit=2", "3,2"},
        {"?after=1", "2,3"},
        {"?before=3", "2,1"},
        {"?after=1&before=3", "2"},
        {"?kind=loc", "2"},
        {"?kind=sms", "3,1"},
        {"?q=Caf%C3%A9", "3"},
        {"?q=%C4%80", ""}, // beyond Latin-1: in no message
        {"?since=2026-11-30T00:53:35Z", "3"},
        {"?until=2026-11-30T00:53:35.000Z", "2,1"},
    };
    for (const auto &Row : Rows) {
        const std::string Response = Ask(Get(std::string("/api/messages") + Row.Query));
        std::string Ids;
        for (std::size_t At = 0; (At = Response.find("{\"id\":", At)) != std::string::npos;)
            Ids += (Ids.empty() ? "" : ",") + Response.substr(At += 6, 1);
        EXPECT_EQ(Ids, Row.Ids) << Row.Query;
    }
    EXPECT_NE(Ask(Get("/api/messages?before=4&after=2")).find(R"("text":"Café <b>")"),
              std::string::npos);
}

TEST_F(WebServerTest, EventsCarryOnFromTheLastIdSeen) {
    TClient Browser(Server->Port());
    Browser.Send(Get("/api/events", "Last-Event-ID: 1\r\n"));
    const std::string Missed = Browser.Receive("\"id\":3");
    EXPECT_NE(Missed.find("Content-Type: text/event-stream"), std::string::npos);
    const std::size_t Second = Missed.find("id: 2\ndata: {\"id\":2,");
    EXPECT_NE(Second, std::string::npos) << Missed;
    EXPECT_LT(Second, Missed.find("id: 3\ndata: {\"id\":3,"));
    EXPECT_EQ(Missed.find("id: 1\n"), std::string::npos);

    Recent.Add(Message(true, "NEW", 30));
    Server->MessagesAdded();
    const std::string Next = Browser.Receive("\"id\":4");
    EXPECT_NE(Next.find("id: 4\ndata: {\"id\":4,"), std::string::npos) << Next;
    EXPECT_EQ(Next.find("id: 3\n"), std::string::npos);
    // A stream with nothing to send still shows it is alive.
    EXPECT_NE(Browser.Receive(":\n\n").find(":\n\n"), std::string::npos);
}

// Without a store the ids start again with each run: a page that reconnects with the id
// it saw last, from the run before, must still get the new run's messages.
TEST(RestartedServiceTest, GivesIdsAboveTheRunBefore) {
    TRecentMessages Before(TRecentMessages::DefaultCapacity, TRecentMessages::LastIdNow());
    std::int64_t Seen = 0;
    for (int Second = 0; Second < 3; ++Second)
        Seen = Before.Add(Message(true, "OLD", Second));
    std::this_thread::sleep_for(10ms); // a restart takes longer than a message per ms
    TRecentMessages After(TRecentMessages::DefaultCapacity, TRecentMessages::LastIdNow());
    After.Add(Message(true, "NEW", 10));
    TMessageQuery Missed;
    Missed.AfterId = Seen;
    ASSERT_EQ(After.Find(Missed).size(), 1u);
}

TEST_F(WebServerTest, AnswersWhileSilentAndSlowClientsHoldEveryConnection) {
    std::vector<std::unique_ptr<TClient>> Silent;
    for (unsigned Index = 1; Index < Settings.ConnectionLimit; ++Index)
        Silent.push_back(std::make_unique<TClient>(Server->Port()));
    TClient Slow(Server->Port()); // the last connection the server takes
    const std::string Request = Get("/api/status");
    int Answered = 0;
    bool SlowCutOff = false;
    const auto Deadline = std::chrono::steady_clock::now() + 10s;
    for (std::size_t Sent = 0;
         !(Answered && SlowCutOff) && std::chrono::steady_clock::now() < Deadline; ++Sent) {
        // A byte well within the idle timeout, each time: a few hundred in all.
        std::this_thread::sleep_for(100ms);
        SlowCutOff = SlowCutOff || !Slow.Send(Request.substr(Sent % 2, 1)) || Slow.Closed();
        TClient Normal(Server->Port());
        Normal.Send(Request);
        Answered = std::max(Answered, StatusOf(Normal.Receive("", 300ms)));
    }
    EXPECT_EQ(Answered, 200);
    EXPECT_TRUE(SlowCutOff);
    for (const auto &Client : Silent) // each closed by the server
        EXPECT_EQ(Client->Receive("", 100ms), "");
}

} // namespace
