#include "service/MqttUrl.h"

#include "cli/MessageText.h"
#include "cli/ToolArguments.h"
#include "cli/ToolMain.h"
#include "output/MqttNames.h"

#include <arpa/inet.h>

namespace {

constexpr int PlainPort = 1883;
constexpr int TlsPort = 8883;

[[noreturn]] void Refuse(const std::string &Url, const std::string &Reason) {
    throw EToolError("--mqtt: " + Reason + " in '" + EscapeBytes(Url) +
                     "' (expected mqtt[s]://[user[:password]@]host[:port]/prefix)");
}

std::string PercentDecoded(const std::string &Url, const std::string &Text) {
    std::string Result;
    for (std::size_t Index = 0; Index < Text.size(); ++Index) {
        if (Text[Index] != '%') {
            Result += Text[Index];
            continue;
        }
        const std::string Hex = Text.substr(Index + 1, 2);
        if (Hex.size() != 2 || Hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            Refuse(Url, "bad %-escape");
        Result += static_cast<char>(std::stoi(Hex, nullptr, 16));
        Index += 2;
    }
    return Result;
}

void ParseUserInfo(const std::string &Url, const std::string &UserInfo, TMqttUrl &Result) {
    const std::size_t Colon = UserInfo.find(':');
    Result.User = PercentDecoded(Url, UserInfo.substr(0, Colon));
    if (Result.User.empty())
        Refuse(Url, "empty user name");
    if (!IsPlainUtf8(Result.User))
        Refuse(Url, "the user name must be UTF-8 text without control characters");
    if (Colon != std::string::npos) {
        Result.Password = PercentDecoded(Url, UserInfo.substr(Colon + 1));
        Result.HasPassword = true;
    }
}

// Letters, digits, '-', '.' and '_': what a resolver can look up (no spaces, no second
// port).
bool IsHostName(const std::string &Host) {
    return Host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789-._") == std::string::npos;
}

// An IPv6 address, with a zone ("%eth0") or without.
bool IsIpv6Address(const std::string &Host) {
    in6_addr Address;
    return inet_pton(AF_INET6, Host.substr(0, Host.find('%')).c_str(), &Address) == 1;
}

// host, host:port, [v6 address] or [v6 address]:port
void ParseHostPort(const std::string &Url, const std::string &HostPort, TMqttUrl &Result) {
    std::size_t HostEnd = HostPort.rfind(':');
    if (HostPort.starts_with('[')) {
        const std::size_t Bracket = HostPort.find(']');
        if (Bracket == std::string::npos)
            Refuse(Url, "unclosed '['");
        Result.Host = HostPort.substr(1, Bracket - 1);
        HostEnd = Bracket + 1 < HostPort.size() ? Bracket + 1 : std::string::npos;
        if (HostEnd != std::string::npos && HostPort[HostEnd] != ':')
            Refuse(Url, "garbage after ']'");
        if (!IsIpv6Address(Result.Host))
            Refuse(Url, "no IPv6 address in [ ]");
    } else {
        Result.Host = HostPort.substr(0, HostEnd);
        if (!IsHostName(Result.Host))
            Refuse(Url, "the host '" + EscapeBytes(Result.Host) +
                            "' is no name or address (an IPv6 address goes in [ ])");
    }
    if (Result.Host.empty())
        Refuse(Url, "no host");
    if (HostEnd == std::string::npos)
        return;
    const std::string Port = HostPort.substr(HostEnd + 1);
    const char *PortRule = "the port must be a whole number from 1 to 65535";
    if (Port.find_first_not_of("0123456789") != std::string::npos)
        Refuse(Url, PortRule);
    try {
        Result.Port = int(ParseInteger("--mqtt port", Port, 1, 65535));
    } catch (const EToolError &) {
        Refuse(Url, PortRule);
    }
}

} // namespace

TMqttUrl ParseMqttUrl(const std::string &Url) {
    TMqttUrl Result;
    std::string Rest;
    if (Url.starts_with("mqtt://")) {
        Rest = Url.substr(7);
    } else if (Url.starts_with("mqtts://")) {
        Rest = Url.substr(8);
        Result.Tls = true;
    } else {
        Refuse(Url, "unknown scheme");
    }
    Result.Port = Result.Tls ? TlsPort : PlainPort;
    const std::size_t Slash = Rest.find('/');
    if (Slash == std::string::npos)
        Refuse(Url, "no topic prefix");
    std::string Authority = Rest.substr(0, Slash);
    Result.Prefix = Rest.substr(Slash + 1);
    while (Result.Prefix.ends_with('/'))
        Result.Prefix.pop_back();
    if (!IsTopicName(Result.Prefix))
        Refuse(Url, "the topic prefix must be UTF-8 text without control characters, '+', '#' "
                    "or empty levels");
    const std::size_t At = Authority.rfind('@');
    if (At != std::string::npos) {
        ParseUserInfo(Url, Authority.substr(0, At), Result);
        Authority.erase(0, At + 1);
    }
    ParseHostPort(Url, Authority, Result);
    return Result;
}
