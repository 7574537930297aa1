#include "service/AlertRunner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace {

std::string Duration(std::chrono::milliseconds Time) {
    const auto Count = Time.count();
    return Count % 1000 ? std::to_string(Count) + " ms" : std::to_string(Count / 1000) + " s";
}

std::string Plural(std::size_t Count, const std::string &Noun) {
    return std::to_string(Count) + " " + Noun + (Count == 1 ? "" : "s");
}

// How an ended program fared, in words; empty when it did its work.
std::string Outcome(int Status) {
    if (WIFEXITED(Status))
        return WEXITSTATUS(Status) ? "exited with status " + std::to_string(WEXITSTATUS(Status))
                                   : "";
    const char *Name = sigabbrev_np(WTERMSIG(Status));
    return "ended by " +
           (Name ? "SIG" + std::string(Name) : "signal " + std::to_string(WTERMSIG(Status)));
}

// The attributes of every run: the program in a process group of its own, so that a
// time limit ends what it started too; with the signals as a fresh program has them,
// none blocked (the runner's thread blocks SIGPIPE) and SIGPIPE not ignored (as
// zel-listen does: that would be inherited).
class TSpawnAttributes {
public:
    TSpawnAttributes() {
        posix_spawnattr_init(&FAttributes);
        sigset_t Signals;
        sigemptyset(&Signals);
        posix_spawnattr_setsigmask(&FAttributes, &Signals);
        sigaddset(&Signals, SIGPIPE);
        posix_spawnattr_setsigdefault(&FAttributes, &Signals);
        posix_spawnattr_setpgroup(&FAttributes, 0);
        posix_spawnattr_setflags(&FAttributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                   POSIX_SPAWN_SETPGROUP);
    }
    ~TSpawnAttributes() { posix_spawnattr_destroy(&FAttributes); }
    TSpawnAttributes(const TSpawnAttributes &) = delete;
    TSpawnAttributes &operator=(const TSpawnAttributes &) = delete;

    const posix_spawnattr_t *Get() const { return &FAttributes; }

private:
    posix_spawnattr_t FAttributes;
};

// The descriptors of a run: Input its standard input, its standard output our standard
// error, and nothing else of ours.
class TSpawnFiles {
public:
    explicit TSpawnFiles(int Input) {
        posix_spawn_file_actions_init(&FActions);
        posix_spawn_file_actions_adddup2(&FActions, Input, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&FActions, STDERR_FILENO, STDOUT_FILENO);
        posix_spawn_file_actions_addclosefrom_np(&FActions, STDERR_FILENO + 1);
    }
    ~TSpawnFiles() { posix_spawn_file_actions_destroy(&FActions); }
    TSpawnFiles(const TSpawnFiles &) = delete;
    TSpawnFiles &operator=(const TSpawnFiles &) = delete;

    const posix_spawn_file_actions_t *Get() const { return &FActions; }

private:
    posix_spawn_file_actions_t FActions;
};

void CloseOnce(int &Fd) {
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
}

} // namespace

// One program at work on one message: its input fed as the pipe takes it, and its end
// watched through a descriptor that poll can wait on.
class TAlertRunner::TRun {
public:
    TRun(std::string Input, TClock::time_point StopAt)
        : FInput(std::move(Input)), FStopAt(StopAt) {}
    ~TRun() {
        CloseOnce(FInputFd);
        CloseOnce(FEndFd);
    }
    TRun(const TRun &) = delete;
    TRun &operator=(const TRun &) = delete;

    // Empty once started, or why the program could not be.
    std::string Start(const std::string &Program) {
        int Pipe[2];
        if (pipe2(Pipe, O_CLOEXEC) < 0)
            return std::string("cannot make its input: ") + std::strerror(errno);
        FInputFd = Pipe[1];
        fcntl(FInputFd, F_SETFL, O_NONBLOCK);
        char *const Arguments[] = {const_cast<char *>(Program.c_str()), nullptr};
        static const TSpawnAttributes Attributes;
        const int Error = posix_spawn(&FPid, Program.c_str(), TSpawnFiles(Pipe[0]).Get(),
                                      Attributes.Get(), Arguments, environ);
        close(Pipe[0]);
        if (Error)
            return std::string("cannot be run: ") + std::strerror(Error);
        // (By number: the C library of Debian 12 declares pidfd_open for C only.)
        FEndFd = int(syscall(SYS_pidfd_open, FPid, 0));
        if (FEndFd < 0) {
            const int Reason = errno;
            Stop(SIGKILL);
            waitpid(FPid, nullptr, 0);
            return std::string("cannot be watched: ") + std::strerror(Reason);
        }
        Feed();
        return "";
    }

    // Writes what the pipe takes now; a program that closed its input has what it wanted.
    void Feed() {
        while (FInputFd >= 0 && FWritten < FInput.size()) {
            const ssize_t Written =
                write(FInputFd, FInput.data() + FWritten, FInput.size() - FWritten);
            if (Written < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            if (Written < 0)
                break;
            FWritten += std::size_t(Written);
        }
        CloseOnce(FInputFd);
    }

    void Watch(std::vector<pollfd> &Descriptors) const {
        Descriptors.push_back({FEndFd, POLLIN, 0});
        Descriptors.push_back({FInputFd, POLLOUT, 0});
    }

    TClock::time_point Deadline() const { return FStopAt; }

    // SIGTERM at the time limit, SIGKILL a grace later.
    void Enforce(TClock::time_point Now, std::chrono::milliseconds Grace) {
        if (Now < FStopAt)
            return;
        Stop(FOverran ? SIGKILL : SIGTERM);
        CloseOnce(FInputFd);
        FStopAt = FOverran ? TClock::time_point::max() : Now + Grace;
        FOverran = true;
    }
    void Stop(int Signal) const { kill(-FPid, Signal); }
    // At once, and reaped.
    void Kill() {
        Stop(SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

    // Once the program has ended: nothing, or what went wrong.
    std::optional<std::string> Ended(std::chrono::milliseconds TimeLimit) {
        int Status = 0;
        if (waitpid(FPid, &Status, WNOHANG) != FPid)
            return std::nullopt;
        FPid = -1;
        return FOverran ? "did not end within " + Duration(TimeLimit) + ": stopped"
                        : Outcome(Status);
    }

private:
    pid_t FPid = -1;
    int FInputFd = -1;
    int FEndFd = -1; // readable once the program has ended
    std::string FInput;
    std::size_t FWritten = 0;
    TClock::time_point FStopAt;
    bool FOverran = false; // stopped at its time limit
};

TAlertRunner::TAlertRunner(TAlertSettings Settings, TReport Report)
    : FSettings(std::move(Settings)), FReport(std::move(Report)), FWorker([this] { Work(); }) {}

TAlertRunner::~TAlertRunner() {
    Finish(std::chrono::milliseconds(0));
}

void TAlertRunner::Run(const TListenedMessage &Message) {
    std::string Json = ListenedMessageJson(Message, FSettings.Station) + '\n';
    {
        std::lock_guard Guard(FLock);
        if (FEnding)
            return;
        FWaiting.push_back(std::move(Json));
        if (FWaiting.size() > FSettings.Backlog) {
            FWaiting.pop_front();
            ++FDropped;
        }
    }
    FWake.Raise();
}

void TAlertRunner::Finish(std::chrono::milliseconds Patience) {
    {
        std::lock_guard Guard(FLock);
        if (FEnding)
            return;
        FEnding = true;
        FEndBy = TClock::now() + Patience;
    }
    FWake.Raise();
    FWorker.join();
}

void TAlertRunner::Work() {
    // A program that ends without reading all its input must not end us: the write
    // fails instead (the signal stays pending on this thread, harmless).
    sigset_t BrokenPipe;
    sigemptyset(&BrokenPipe);
    sigaddset(&BrokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &BrokenPipe, nullptr);
    std::vector<std::unique_ptr<TRun>> Runs;
    while (true) {
        StartWaiting(Runs);
        const TClock::time_point Now = TClock::now();
        if (Done(Runs, Now))
            break;
        for (const auto &Run : Runs)
            Run->Enforce(Now, FSettings.Grace);
        Await(Runs, Now);
        for (const auto &Run : Runs)
            Run->Feed();
        Reap(Runs);
    }
    LeaveAtEnd(Runs);
}

void TAlertRunner::StartWaiting(std::vector<std::unique_ptr<TRun>> &Runs) {
    std::unique_lock Guard(FLock);
    while (Runs.size() < FSettings.MostAtOnce && !FWaiting.empty()) {
        std::string Input = std::move(FWaiting.front());
        FWaiting.pop_front();
        const std::size_t Dropped = FWaiting.empty() ? std::exchange(FDropped, 0) : 0;
        Guard.unlock();
        if (Dropped)
            Report("too many messages at once: the oldest " + Plural(Dropped, "message") +
                   " went without it");
        auto Run = std::make_unique<TRun>(std::move(Input), TClock::now() + FSettings.TimeLimit);
        const std::string Failure = Run->Start(FSettings.Program);
        if (Failure.empty())
            Runs.push_back(std::move(Run));
        else
            Count(Failure);
        Guard.lock();
    }
}

bool TAlertRunner::Done(const std::vector<std::unique_ptr<TRun>> &Runs, TClock::time_point Now) {
    std::lock_guard Guard(FLock);
    return FEnding && ((Runs.empty() && FWaiting.empty()) || Now >= FEndBy);
}

// Until a program ends, its input takes more, a time limit passes or a message comes.
void TAlertRunner::Await(const std::vector<std::unique_ptr<TRun>> &Runs, TClock::time_point Now) {
    std::vector<pollfd> Descriptors{{FWake.Fd(), POLLIN, 0}};
    TClock::time_point Until = TClock::time_point::max();
    for (const auto &Run : Runs) {
        Run->Watch(Descriptors);
        Until = std::min(Until, Run->Deadline());
    }
    {
        std::lock_guard Guard(FLock);
        if (FEnding)
            Until = std::min(Until, FEndBy);
    }
    int Timeout = -1;
    if (Until != TClock::time_point::max())
        Timeout = int(std::chrono::ceil<std::chrono::milliseconds>(
                          std::max(Until - Now, TClock::duration::zero()))
                          .count());
    poll(Descriptors.data(), Descriptors.size(), Timeout);
    FWake.Clear();
}

void TAlertRunner::Reap(std::vector<std::unique_ptr<TRun>> &Runs) {
    for (auto Run = Runs.begin(); Run != Runs.end();) {
        const std::optional<std::string> Failure = (*Run)->Ended(FSettings.TimeLimit);
        if (!Failure) {
            ++Run;
            continue;
        }
        Run = Runs.erase(Run);
        if (!Failure->empty())
            Count(*Failure);
        else if (FFailures)
            Report("works again, after " + Plural(std::exchange(FFailures, 0), "failed run"));
    }
}

// The first failure of an episode is reported; the rest only counted.
void TAlertRunner::Count(const std::string &Failure) {
    if (FFailures++ == 0)
        Report(Failure);
}

// SIGTERM, and SIGKILL a grace later: a program that ignores SIGTERM does not outlive us.
void TAlertRunner::LeaveAtEnd(std::vector<std::unique_ptr<TRun>> &Runs) {
    const std::size_t Stopped = Runs.size();
    for (const auto &Run : Runs)
        Run->Stop(SIGTERM);
    const TClock::time_point KillAt = TClock::now() + FSettings.Grace;
    while (true) {
        std::erase_if(Runs, [&](const auto &Run) { return Run->Ended(FSettings.TimeLimit); });
        if (Runs.empty() || TClock::now() >= KillAt)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const auto &Run : Runs)
        Run->Kill();
    std::lock_guard Guard(FLock);
    const std::size_t Unrun = FWaiting.size() + FDropped;
    if (!Stopped && !Unrun)
        return;
    Report("at the end, " + Plural(Stopped, "run") + " still under way stopped and " +
           Plural(Unrun, "message") + " left without one");
}

void TAlertRunner::Report(const std::string &Line) const {
    FReport("alert program '" + FSettings.Program + "': " + Line);
}
