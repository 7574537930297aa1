#include "web/HttpAddress.h"

#include "cli/MessageText.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr int Backlog = 64;

[[noreturn]] void Refuse(const std::string &Text) {
    throw EToolError("--http must be [ADDRESS:]PORT (an IPv6 address in brackets), not '" +
                     EscapeBytes(Text) + "'");
}

std::string Shown(const THttpAddress &Address) {
    const bool Six = Address.Host.find(':') != std::string::npos;
    return (Six ? "[" + Address.Host + "]" : Address.Host) + ":" + std::to_string(Address.Port);
}

using TAddresses = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

TAddresses Resolve(const THttpAddress &Address) {
    addrinfo Hints{};
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo *Found = nullptr;
    const int Result =
        getaddrinfo(Address.Host.c_str(), std::to_string(Address.Port).c_str(), &Hints, &Found);
    if (Result != 0)
        throw EToolError("--http: cannot find the address " + EscapeBytes(Address.Host) + " (" +
                         gai_strerror(Result) + ")");
    return TAddresses(Found, freeaddrinfo);
}

} // namespace

THttpAddress ParseHttpAddress(const std::string &Text) {
    THttpAddress Address;
    std::string Port = Text;
    if (!Text.empty() && Text[0] == '[') {
        const std::size_t Close = Text.find("]:");
        if (Close == std::string::npos || Close == 1)
            Refuse(Text);
        Address.Host = Text.substr(1, Close - 1);
        Port = Text.substr(Close + 2);
    } else if (const std::size_t Colon = Text.find(':'); Colon != std::string::npos) {
        Address.Host = Text.substr(0, Colon);
        Port = Text.substr(Colon + 1);
        if (Address.Host.empty() || Port.find(':') != std::string::npos)
            Refuse(Text);
    }
    Address.Port = int(ParseInteger("--http port", Port, 1, 65535));
    return Address;
}

int ListenOn(const THttpAddress &Address) {
    const TAddresses Found = Resolve(Address);
    const addrinfo &First = *Found;
    const int Socket = socket(First.ai_family, First.ai_socktype | SOCK_CLOEXEC, First.ai_protocol);
    if (Socket < 0)
        throw EToolError(std::string("--http: cannot make a socket (") + std::strerror(errno) +
                         ")");
    // A restarted service takes its port back at once, past connections still closing.
    const int On = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
    if (bind(Socket, First.ai_addr, First.ai_addrlen) != 0 || listen(Socket, Backlog) != 0) {
        const int Error = errno;
        close(Socket);
        throw EToolError("--http: cannot listen on " + EscapeBytes(Shown(Address)) + " (" +
                         std::strerror(Error) + ")");
    }
    return Socket;
}

int ListeningPort(int Socket) {
    sockaddr_storage Address{};
    socklen_t Length = sizeof Address;
    getsockname(Socket, reinterpret_cast<sockaddr *>(&Address), &Length);
    if (Address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(Address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in &>(Address).sin_port);
}
