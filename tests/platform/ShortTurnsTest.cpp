#include "platform/ShortTurns.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

// The calling thread's turn as the kernel reports it, in nanoseconds; 0 if it does not.
long long TurnNanoseconds() {
    std::ifstream Sched("/proc/thread-self/sched");
    for (std::string Line; std::getline(Sched, Line);)
        if (Line.rfind("se.slice", 0) == 0)
            return std::stoll(Line.substr(Line.find(':') + 1));
    return 0;
}

bool KernelGrantsTurns() {
    utsname Names{};
    int Major = 0, Minor = 0;
    return uname(&Names) == 0 && std::sscanf(Names.release, "%d.%d", &Major, &Minor) == 2 &&
           (Major > 6 || (Major == 6 && Minor >= 12));
}

} // namespace

// Runs on a thread of its own: the turn and the nice value stay with that thread.
TEST(ShortTurns, AreTheCallingThreadsAloneAndItsNiceValueStays) {
    if (!KernelGrantsTurns() || TurnNanoseconds() == 0)
        GTEST_SKIP() << "this kernel does not set the length of a thread's turns";
    bool Granted = false;
    long long Turn = 0, UsualTurn = TurnNanoseconds(), LaterThreadsTurn = 0;
    int Nice = 0;
    std::thread([&] {
        if (setpriority(PRIO_PROCESS, gettid(), 7) != 0)
            return;
        Granted = platform::AskForShortTurns();
        Turn = TurnNanoseconds();
        Nice = getpriority(PRIO_PROCESS, gettid());
        std::thread([&] { LaterThreadsTurn = TurnNanoseconds(); }).join();
    }).join();
    if (!Granted)
        GTEST_SKIP() << "the request was refused here (a container's system-call filter?)";
    EXPECT_EQ(Turn, 100'000);
    EXPECT_EQ(Nice, 7);
    EXPECT_EQ(LaterThreadsTurn, UsualTurn);
}
