#include "service/MqttPublisher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

TMqttSettings PrivateBroker() {
    std::ifstream PortFile(ZEL_BROKER_DIR "/port");
    std::string Port;
    PortFile >> Port;
    TMqttSettings Settings;
    Settings.Url = ParseMqttUrl("mqtt://127.0.0.1:" + Port + "/zel");
    Settings.ClientId = "zelpublishertest" + std::to_string(getpid() % 10000);
    Settings.StatusTopic = "zel/publisher-test/status";
    return Settings;
}

// A message whose topic no broker takes (malformed UTF-8) is reported once and dropped:
// the ones after it are delivered (a Close that delivers everything in time).
TEST(MqttPublisher, AMessageNoBrokerTakesHoldsUpNoOther) {
    std::mutex Lock;
    std::vector<std::string> Reports;
    TMqttPublisher Publisher(PrivateBroker(), [&](const std::string &Line) {
        std::lock_guard Guard(Lock);
        Reports.push_back(Line);
    });
    Publisher.Publish("zel/caf\xe9/sms", "never sent");
    Publisher.Publish("zel/publisher-test/sms", "sent");
    Publisher.Publish("zel/caf\xe9/sms", "never sent either");
    EXPECT_TRUE(Publisher.Close(5s));
    std::lock_guard Guard(Lock);
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_NE(Reports[0].find("zel/caf\\xe9/sms"), std::string::npos) << Reports[0];
    EXPECT_NE(Reports[0].find("UTF-8"), std::string::npos) << Reports[0];
}

} // namespace
