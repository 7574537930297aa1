#pragma once

// The tests' private MQTT broker (private-broker.sh), as their clients reach it.

#include "service/MqttPublisher.h"

#include <string>

// Its plain MQTT port.
std::string PrivateBrokerPort();
// A publisher's settings: the client id Name and this process's id, its status on
// zel/<Name>/status.
TMqttSettings PrivateBroker(const std::string &Name);
