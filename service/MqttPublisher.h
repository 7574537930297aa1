#pragma once

// Publishes messages to an MQTT broker with QoS 1, in order, through every loss of
// the broker: what cannot go out waits in a bounded queue, the connection is retried
// with a growing pause, and a message leaves the queue only when the broker has
// acknowledged it. The status topic holds "online" (retained) while connected, and
// "offline" after Close or, through the broker's last will, after the connection is
// lost. The client id stays the same from connection to connection: a new connection
// takes over the session of an old one the broker still holds (its socket half open)
// without the old one's last will. The network work runs on a thread of its own;
// reports (one line each for a lost and a regained broker, never a flood) come from
// that thread.

#include "service/MqttUrl.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct TMqttSettings {
    TMqttUrl Url;
    std::string ClientId;
    std::string CaFile;                     // mqtts:// only; empty: the system's certificate store
    std::string StatusTopic;                // "online" / "offline", retained
    std::size_t QueueLimit = 10000;         // messages waiting, at most,
    std::size_t QueueByteLimit = 64u << 20; // and bytes of them
    // Called on the network thread when the connection comes up (true) or goes (false).
    std::function<void(bool Connected)> OnConnection;
};

using TMqttReport = std::function<void(const std::string &Line)>;

class TMqttPublisher {
public:
    // EToolError when the settings cannot work at all (an unreadable CA file, a status
    // topic the library refuses).
    TMqttPublisher(const TMqttSettings &Settings, TMqttReport Report);
    // Stops at once; what is still queued is lost (Close first to deliver it).
    ~TMqttPublisher();
    TMqttPublisher(const TMqttPublisher &) = delete;
    TMqttPublisher &operator=(const TMqttPublisher &) = delete;

    // Queues Payload for Topic with QoS 1; never blocks. Retained, the broker keeps it
    // for every subscriber to come, until the next retained one on the topic.
    void Publish(const std::string &Topic, const std::string &Payload, bool Retain = false);
    // Delivers what is queued and the "offline" status, waiting at most Timeout, then
    // disconnects. True when everything went out.
    bool Close(std::chrono::milliseconds Timeout);
    // Messages queued or in flight; any thread.
    std::size_t Waiting() const;

    class TSession;

private:
    std::shared_ptr<TSession> FSession;
};
