#include "PrivateBroker.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A message whose topic no broker takes (malformed UTF-8) is reported once and dropped:
// the ones after it are delivered (a Close that delivers everything in time).
TEST(MqttPublisher, AMessageNoBrokerTakesHoldsUpNoOther) {
    std::mutex Lock;
    std::vector<std::string> Reports;
    TMqttPublisher Publisher(PrivateBroker("publisher-test"), [&](const std::string &Line) {
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
