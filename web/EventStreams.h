#pragma once

// The web page's live messages: one server-sent event per message, its id the
// message's, read from the history, so that a stream that starts after a known id (a
// browser reconnecting with Last-Event-ID) gets every message since, none twice.
//
// A stream with nothing to send is suspended, out of the web server's polling; a thread
// of its own resumes the suspended ones when messages arrive, and every heartbeat, when
// each sends a comment line so that a client that has gone is noticed. The receiver's
// side only counts a message under a short lock and notifies: it never waits for a
// client.

#include "service/MessageHistory.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MHD_Connection;
struct MHD_Response;

class TEventStreams {
public:
    TEventStreams(const IMessageHistory &History, std::string Station, std::size_t Limit,
                  std::chrono::milliseconds Heartbeat);
    // Stop first.
    ~TEventStreams();
    TEventStreams(const TEventStreams &) = delete;
    TEventStreams &operator=(const TEventStreams &) = delete;

    // A response streaming the messages after AfterId on Connection, or null when Limit
    // streams are open already.
    MHD_Response *Open(MHD_Connection *Connection, std::int64_t AfterId);
    // Any thread: the history holds new messages.
    void MessagesAdded();
    std::size_t Count() const;
    // Ends every stream; before the web server stops.
    void Stop();

private:
    struct TStream;
    struct TMoment {
        std::uint64_t Messages, Beats;
    };

    static ssize_t Read(void *Stream, std::uint64_t Position, char *Buffer, std::size_t Size);
    static void Close(void *Stream);
    ssize_t Next(TStream &Stream, char *Buffer, std::size_t Size);
    void Fill(TStream &Stream, const TMoment &Now);
    ssize_t Park(TStream &Stream, const TMoment &Seen);
    TMoment Now() const;
    void Wake();
    void ResumeParked(std::unique_lock<std::mutex> &Lock);

    const IMessageHistory &FHistory;
    const std::string FStation;
    const std::size_t FLimit;
    const std::chrono::milliseconds FHeartbeat;

    mutable std::mutex FLock; // guards what follows
    std::condition_variable FChanged;
    TMoment FMoment{0, 0};
    std::size_t FOpen = 0;
    std::vector<MHD_Connection *> FParked;
    bool FStopping = false;

    std::thread FWaker;
};
