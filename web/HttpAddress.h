#pragma once

// Where the web page listens: [ADDR:]PORT, the loopback address unless the user names
// another (an IPv6 address in brackets: [::1]:8080).

#include <string>

struct THttpAddress {
    std::string Host = "127.0.0.1";
    int Port = 0; // 0: any free port (tests)
};

// EToolError naming --http when Text is no such address.
THttpAddress ParseHttpAddress(const std::string &Text);

// A socket listening on Address, or EToolError saying why there is none (the port in
// use, not allowed, an address this computer does not have).
int ListenOn(const THttpAddress &Address);

// The port a listening socket was given.
int ListeningPort(int Socket);
