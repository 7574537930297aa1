#include "PrivateBroker.h"

#include <unistd.h>

#include <fstream>

std::string PrivateBrokerPort() {
    std::ifstream PortFile(ZEL_BROKER_DIR "/port");
    std::string Port;
    PortFile >> Port;
    return Port;
}

TMqttSettings PrivateBroker(const std::string &Name) {
    TMqttSettings Settings;
    Settings.Url = ParseMqttUrl("mqtt://127.0.0.1:" + PrivateBrokerPort() + "/zel");
    Settings.ClientId = Name + std::to_string(getpid());
    Settings.StatusTopic = "zel/" + Name + "/status";
    return Settings;
}
