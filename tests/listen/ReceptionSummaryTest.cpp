// The reception summary: its figures per kind, and its publication to the private
// broker, retained, once a period while messages arrive.

#include "PrivateBroker.h"
#include "service/SummaryReporter.h"

#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TTime = std::chrono::system_clock::time_point;

// 2026-12-09T17:00:00.000Z
const TTime Start{std::chrono::seconds(1796835600)};

TListenedMessage Message(bool IsSMS, bool Headed, std::chrono::milliseconds After,
                         std::optional<TSignalReport> Report) {
    TListenedMessage Message;
    Message.Time = Start + After;
    Message.IsSMS = IsSMS;
    Message.Headed = Headed;
    Message.Report = Report;
    return Message;
}

TSignalReport Report(double LevelDbfs, double SnrDb) {
    TSignalReport Report;
    Report.LevelDbfs = LevelDbfs;
    Report.SnrDb = SnrDb;
    return Report;
}

// Headerless messages apart; one without a report counts, but adds no figures.
TEST(ReceptionSummary, TellsEachKindApartWithItsLevelAndSnr) {
    TReceptionSummary Summary(Start);
    Summary.Add(Message(true, true, 1000ms, Report(-6, 30)));
    Summary.Add(Message(true, false, 2000ms, std::nullopt));
    Summary.Add(Message(true, true, 3500ms, Report(-20, 12.5)));
    Summary.Add(Message(true, true, 4000ms, Report(-10, 20)));
    Summary.Add(Message(true, true, 4250ms, std::nullopt));
    EXPECT_EQ(Summary.Count(), 5u);
    EXPECT_EQ(Summary.Lines(),
              (std::vector<std::string>{
                  "since 2026-12-09T17:00:00.000Z: 4 SMS, 0 LOC, 1 headerless",
                  "SMS: 4, the last at 2026-12-09T17:00:04.250Z; level -10.0 dBFS (lowest -20.0, "
                  "highest -6.0, mean -12.0); SNR 20.0 dB (lowest 12.5, highest 30.0, mean 20.8)",
                  "headerless: 1, the last at 2026-12-09T17:00:02.000Z; no signal report"}));
    EXPECT_EQ(Summary.Json(Start + 60s, "hill \"top\""),
              "{\"time\":\"2026-12-09T17:01:00.000Z\",\"since\":\"2026-12-09T17:00:00.000Z\","
              "\"station\":\"hill \\\"top\\\"\",\"sms\":{\"count\":4,\"last\":\"2026-12-09T17:00:"
              "04.250Z\",\"level_dbfs\":{\"last\":-10.0,\"lowest\":-20.0,\"highest\":-6.0,"
              "\"mean\":-12.0},\"snr_db\":{\"last\":20.0,\"lowest\":12.5,\"highest\":30.0,"
              "\"mean\":20.8}},\"loc\":{\"count\":0},\"headerless\":{\"count\":1,\"last\":"
              "\"2026-12-09T17:00:02.000Z\"}}");
}

// What a subscriber that comes later gets on Topic: the retained message.
std::string Retained(const std::string &Topic) {
    const std::string Command = "mosquitto_sub -h 127.0.0.1 -p " + PrivateBrokerPort() + " -t '" +
                                Topic + "' -C 1 -W 5 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE *)> Subscriber(popen(Command.c_str(), "r"), pclose);
    std::string Received;
    char Buffer[4096];
    while (Subscriber && std::fgets(Buffer, sizeof Buffer, Subscriber.get()))
        Received += Buffer;
    return Received;
}

// A period is a tenth of a second here; a minute in zel-listen.
TEST(SummaryReporter, PublishesRetainedOncePerPeriodOnlyAfterNewMessages) {
    constexpr auto Period = 100ms;
    const std::string Topic = "zel/summary-test" + std::to_string(getpid()) + "/summary";
    TMqttPublisher Publisher(PrivateBroker("summary-test"), [](const std::string &) {});
    std::vector<std::string> Published;
    TSummaryReporter Reporter(
        "summary-test", {},
        [&](const std::string &Json) {
            Published.push_back(Json);
            Publisher.Publish(Topic, Json, true);
        },
        Period);
    const auto Quiet = [&] {
        QTest::qWait(int(3 * Period.count()));
        return Published.size();
    };
    const auto PublishedAgain = [&](std::size_t Before) {
        return QTest::qWaitFor([&] { return Published.size() > Before; }, 10000);
    };

    EXPECT_EQ(Quiet(), 0u);
    Reporter.Add(Message(true, true, 0ms, Report(-6, 30)));
    ASSERT_TRUE(PublishedAgain(0));
    EXPECT_EQ(Quiet(), 1u);
    Reporter.Add(Message(false, true, 0ms, Report(-20, 10)));
    Reporter.Add(Message(true, true, 0ms, Report(-8, 28)));
    ASSERT_TRUE(PublishedAgain(1));
    EXPECT_EQ(Quiet(), 2u);
    EXPECT_NE(Published[1].find("\"sms\":{\"count\":2,"), std::string::npos) << Published[1];
    EXPECT_NE(Published[1].find("\"loc\":{\"count\":1,"), std::string::npos) << Published[1];

    ASSERT_TRUE(Publisher.Close(5s));
    EXPECT_EQ(Retained(Topic), Published[1] + "\n");
}

} // namespace
