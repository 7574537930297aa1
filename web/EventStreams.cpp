#include "web/EventStreams.h"

#include "web/MessageApi.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

namespace {

// Messages read from the history at a time, for a stream that catches up.
constexpr std::size_t MessagesPerRead = 100;
constexpr std::size_t BlockSize = 4096;
// A browser that loses the stream tries again after a second, not its default three.
constexpr const char *StreamStart = "retry: 1000\n\n";

} // namespace

struct TEventStreams::TStream {
    TEventStreams *Owner;
    MHD_Connection *Connection;
    std::int64_t LastId;
    std::uint64_t Beats;
    std::string Pending = StreamStart;
};

TEventStreams::TEventStreams(const IMessageHistory &History, std::string Station, std::size_t Limit,
                             std::chrono::milliseconds Heartbeat)
    : FHistory(History), FStation(std::move(Station)), FLimit(Limit), FHeartbeat(Heartbeat),
      FWaker([this] { Wake(); }) {}

TEventStreams::~TEventStreams() {
    Stop();
}

MHD_Response *TEventStreams::Open(MHD_Connection *Connection, std::int64_t AfterId) {
    {
        std::lock_guard Guard(FLock);
        if (FOpen >= FLimit || FStopping)
            return nullptr;
        ++FOpen;
    }
    auto *Stream = new TStream{this, Connection, AfterId, Now().Beats};
    MHD_Response *Response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, BlockSize, Read, Stream, Close);
    if (!Response)
        Close(Stream);
    return Response;
}

void TEventStreams::MessagesAdded() {
    {
        std::lock_guard Guard(FLock);
        ++FMoment.Messages;
    }
    FChanged.notify_one();
}

std::size_t TEventStreams::Count() const {
    std::lock_guard Guard(FLock);
    return FOpen;
}

void TEventStreams::Stop() {
    {
        std::lock_guard Guard(FLock);
        FStopping = true;
    }
    FChanged.notify_one();
    if (FWaker.joinable())
        FWaker.join();
}

ssize_t TEventStreams::Read(void *Stream, std::uint64_t, char *Buffer, std::size_t Size) {
    auto &Self = *static_cast<TStream *>(Stream);
    return Self.Owner->Next(Self, Buffer, Size);
}

void TEventStreams::Close(void *Stream) {
    const auto *Self = static_cast<TStream *>(Stream);
    {
        std::lock_guard Guard(Self->Owner->FLock);
        --Self->Owner->FOpen;
    }
    delete Self;
}

// On the web server's thread.
ssize_t TEventStreams::Next(TStream &Stream, char *Buffer, std::size_t Size) {
    if (Stream.Pending.empty()) {
        const TMoment Seen = Now();
        Fill(Stream, Seen);
        if (Stream.Pending.empty())
            return Park(Stream, Seen);
    }
    const std::size_t Length = std::min(Size, Stream.Pending.size());
    std::memcpy(Buffer, Stream.Pending.data(), Length);
    Stream.Pending.erase(0, Length);
    return ssize_t(Length);
}

void TEventStreams::Fill(TStream &Stream, const TMoment &Now) {
    TMessageQuery Query;
    Query.AfterId = Stream.LastId;
    Query.OldestFirst = true;
    Query.Limit = MessagesPerRead;
    try {
        for (const TListenedMessage &Message : FHistory.Find(Query)) {
            Stream.Pending += MessageEvent(Message, FStation);
            Stream.LastId = Message.Id;
        }
    } catch (const std::exception &) {
        // The store cannot be read now: the next message or heartbeat tries again.
    }
    if (Stream.Beats != Now.Beats && Stream.Pending.empty())
        Stream.Pending = ":\n\n"; // a comment: the client ignores it, a gone one fails it
    Stream.Beats = Now.Beats;
}

// Suspends the stream until the next message or heartbeat, unless one came while the
// history was read (then the server asks again at once).
ssize_t TEventStreams::Park(TStream &Stream, const TMoment &Seen) {
    std::lock_guard Guard(FLock);
    if (FStopping)
        return MHD_CONTENT_READER_END_OF_STREAM;
    if (FMoment.Messages != Seen.Messages || FMoment.Beats != Seen.Beats)
        return 0;
    FParked.push_back(Stream.Connection);
    MHD_suspend_connection(Stream.Connection);
    return 0;
}

TEventStreams::TMoment TEventStreams::Now() const {
    std::lock_guard Guard(FLock);
    return FMoment;
}

void TEventStreams::Wake() {
    std::unique_lock Lock(FLock);
    while (!FStopping) {
        const std::uint64_t Seen = FMoment.Messages;
        if (!FChanged.wait_for(Lock, FHeartbeat,
                               [&] { return FStopping || FMoment.Messages != Seen; }))
            ++FMoment.Beats;
        ResumeParked(Lock);
    }
    ResumeParked(Lock);
}

// A parked connection stays suspended, and so alive, until it is resumed here.
void TEventStreams::ResumeParked(std::unique_lock<std::mutex> &Lock) {
    std::vector<MHD_Connection *> Parked;
    Parked.swap(FParked);
    Lock.unlock();
    for (MHD_Connection *Connection : Parked)
        MHD_resume_connection(Connection);
    Lock.lock();
}
