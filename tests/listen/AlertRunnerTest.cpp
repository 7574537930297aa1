// The program run for each message: what it reads, how many run at once, what becomes of
// one that hangs or fails, and what is said about it. Programs are small shell scripts in
// a directory of the test's own.

#include "service/AlertRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdlib.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Long enough for any program here to end, even on a loaded machine.
constexpr auto Patience = 30s;

TListenedMessage Message(const std::string &Text) {
    TListenedMessage Result;
    Result.Time = std::chrono::system_clock::time_point(1500ms);
    Result.Text = Text;
    return Result;
}

std::string MakeDirectory() {
    char Template[] = "/tmp/zel-alerts-XXXXXX";
    return mkdtemp(Template);
}

class AlertRunnerTest : public testing::Test {
protected:
    ~AlertRunnerTest() override { std::filesystem::remove_all(FDirectory); }

    std::string Path(const std::string &Name) const { return FDirectory + "/" + Name; }

    // A program with Script as its body ("$DIR" is the test's directory).
    void Write(const std::string &Script, const std::string &Start = "#!/bin/sh\n") {
        std::ofstream(Settings.Program) << Start << "DIR=" << FDirectory << "\n" << Script;
        std::filesystem::permissions(Settings.Program, std::filesystem::perms::owner_all);
    }

    std::string Read(const std::string &Name) const {
        std::stringstream Text;
        Text << std::ifstream(Path(Name)).rdbuf();
        return Text.str();
    }

    // Runs each text through a runner of Settings, and waits until every program ended.
    void RunAll(const std::vector<std::string> &Texts) {
        TAlertRunner Runner(Settings, [this](const std::string &Line) { Reported(Line); });
        for (const std::string &Text : Texts)
            Runner.Run(Message(Text));
        Runner.Finish(Patience);
    }

    void Reported(const std::string &Line) {
        std::lock_guard Guard(FLock);
        FReports.push_back(Line);
    }
    // Each line of the reports without the program's name in front.
    std::vector<std::string> Reports() {
        std::lock_guard Guard(FLock);
        std::vector<std::string> Result;
        const std::string Front = "alert program '" + Settings.Program + "': ";
        for (const std::string &Line : FReports)
            Result.push_back(Line.starts_with(Front) ? Line.substr(Front.size()) : Line);
        return Result;
    }

    const std::string FDirectory = MakeDirectory();
    TAlertSettings Settings{.Program = FDirectory + "/alert", .Station = "hill"};
    std::mutex FLock;
    std::vector<std::string> FReports;
};

// The bytes of the air as JSON escapes them, also a message larger than a pipe holds.
TEST_F(AlertRunnerTest, GivesTheProgramTheMessageAsOneJsonLine) {
    Write("cat >\"$DIR/got\"\n");
    std::string Large(65536, 'x');
    for (std::size_t At = 0; At < Large.size(); At += 7)
        Large[At] = char(At % 256);
    const struct {
        std::string Text;
        std::string Json;
    } Cases[] = {
        {std::string("A\0\x80\xff\"\\", 6),
         "{\"time\":\"1970-01-01T00:00:01.500Z\",\"kind\":\"SMS\","
         "\"text\":\"A\\u0000\xc2\x80\xc3\xbf\\\"\\\\\","
         "\"station\":\"hill\"}\n"},
        {Large, ListenedMessageJson(Message(Large), "hill") + "\n"},
    };
    for (const auto &Case : Cases) {
        RunAll({Case.Text});
        EXPECT_EQ(Read("got"), Case.Json);
    }
    EXPECT_EQ(Reports(), std::vector<std::string>{});
}

// Six slow programs: four run at once, the others wait their turn.
TEST_F(AlertRunnerTest, RunsAtMostFourAtOnce) {
    Write("date +%s%N >\"$DIR/run.$$\"; sleep 1; date +%s%N >>\"$DIR/run.$$\"\n");
    RunAll({"1", "2", "3", "4", "5", "6"});
    std::vector<std::pair<long long, int>> Changes; // (time, +1 start or -1 end)
    for (const auto &File : std::filesystem::directory_iterator(FDirectory)) {
        std::ifstream Times(File.path());
        long long Start = 0, End = 0;
        if (Times >> Start >> End)
            Changes.insert(Changes.end(), {{Start, 1}, {End, -1}});
    }
    ASSERT_EQ(Changes.size(), 12u);
    std::sort(Changes.begin(), Changes.end());
    int Running = 0, MostRunning = 0;
    for (const auto &Change : Changes)
        MostRunning = std::max(MostRunning, Running += Change.second);
    EXPECT_EQ(MostRunning, 4);
}

// More messages than may wait: the oldest of the waiting go, and that is said once.
TEST_F(AlertRunnerTest, DropsTheOldestWaitingMessages) {
    Settings.MostAtOnce = 1;
    Settings.Backlog = 2;
    Write("sed 's/.*\"text\":\"\\([^\"]*\\)\".*/\\1/' >>\"$DIR/got\"\n"
          "while [ ! -e \"$DIR/go\" ]; do sleep 0.05; done\n");
    TAlertRunner Runner(Settings, [this](const std::string &Line) { Reported(Line); });
    Runner.Run(Message("1"));
    while (Read("got").empty())
        std::this_thread::sleep_for(10ms);
    for (const char *Text : {"2", "3", "4", "5"})
        Runner.Run(Message(Text));
    std::ofstream(Path("go"));
    Runner.Finish(Patience);
    EXPECT_EQ(Read("got"), "1\n4\n5\n");
    EXPECT_EQ(Reports(), std::vector<std::string>{
                             "too many messages at once: the oldest 2 messages went without it"});
}

// Ended at its time limit, by SIGKILL if it ignores SIGTERM, and reaped; a program that
// never reads its input holds up nothing.
TEST_F(AlertRunnerTest, StopsAProgramThatRunsTooLong) {
    Settings.TimeLimit = 1s;
    Settings.Grace = 500ms;
    for (const std::string Ignored : {"", "trap '' TERM; "}) {
        SCOPED_TRACE(Ignored);
        FReports.clear();
        Write(Ignored + "echo $$ >\"$DIR/pid\"; exec sleep 60\n");
        RunAll({std::string(100000, 'x')});
        EXPECT_EQ(Reports(), std::vector<std::string>{"did not end within 1 s: stopped"});
        EXPECT_EQ(kill(std::stoi(Read("pid")), 0), -1); // a zombie would still take it
        EXPECT_EQ(errno, ESRCH);
    }
}

// One still running when zel-listen ends is stopped, by SIGKILL if it ignores SIGTERM: it
// does not outlive us.
TEST_F(AlertRunnerTest, StopsWhatStillRunsAtTheEnd) {
    Settings.Grace = 200ms;
    Write("trap '' TERM; echo $$ >\"$DIR/pid.new\"; mv \"$DIR/pid.new\" \"$DIR/pid\"; exec sleep "
          "60\n");
    TAlertRunner Runner(Settings, [this](const std::string &Line) { Reported(Line); });
    Runner.Run(Message("LAST"));
    while (!std::filesystem::exists(Path("pid")))
        std::this_thread::sleep_for(5ms);
    Runner.Finish(0ms);
    EXPECT_EQ(kill(std::stoi(Read("pid")), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(Reports(), std::vector<std::string>{"at the end, 1 run still under way stopped and "
                                                  "0 messages left without one"});
}

// Each way of failing is said once for all the runs that fail alike.
TEST_F(AlertRunnerTest, ReportsEachKindOfFailureOnce) {
    const struct {
        std::string Start;
        std::string Script;
        std::string Report;
    } Cases[] = {
        {"#!/bin/sh\n", "exit 3\n", "exited with status 3"},
        {"#!/bin/sh\n", "kill -KILL $$\n", "ended by SIGKILL"},
        {"#!/no/such/shell\n", "", "cannot be run: No such file or directory"},
        {"", "no start line\n", "cannot be run: Exec format error"},
    };
    for (const auto &Case : Cases) {
        SCOPED_TRACE(Case.Report);
        FReports.clear();
        Write(Case.Script, Case.Start);
        RunAll({"1", "2", "3"});
        EXPECT_EQ(Reports(), std::vector<std::string>{Case.Report});
    }
}

// A failure after the program has worked again is a new episode, said again.
TEST_F(AlertRunnerTest, ReportsFailingAgainAfterWorking) {
    Settings.MostAtOnce = 1;
    Write("grep -q WELL || exit 3\n");
    RunAll({"BAD", "BAD", "WELL", "BAD"});
    EXPECT_EQ(Reports(),
              (std::vector<std::string>{"exited with status 3", "works again, after 2 failed runs",
                                        "exited with status 3"}));
}

} // namespace
