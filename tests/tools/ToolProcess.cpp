#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

TScratchDir::TScratchDir() {
    std::string Template = (fs::temp_directory_path() / "zel-tools-XXXXXX").string();
    if (!mkdtemp(Template.data()))
        throw std::runtime_error("cannot create a temporary directory");
    FPath = Template;
}

TScratchDir::~TScratchDir() {
    std::error_code Ignored;
    fs::remove_all(FPath, Ignored);
}

void TScratchDir::Write(const std::string &Name, const std::string &Bytes) const {
    std::ofstream(File(Name), std::ios::binary) << Bytes;
}

std::string TScratchDir::Read(const std::string &Name) const {
    std::ifstream Stream(File(Name), std::ios::binary);
    std::ostringstream Contents;
    Contents << Stream.rdbuf();
    return Contents.str();
}

namespace {

void Redirect(const fs::path &Path, int Flags, int Target) {
    const int Descriptor = open(Path.c_str(), Flags, 0600);
    if (Descriptor < 0 || dup2(Descriptor, Target) < 0)
        _exit(127);
    close(Descriptor);
}

// Starts Program with Arguments; Redirect runs in the child before the program.
pid_t Spawn(const std::string &Program, const std::vector<std::string> &Arguments,
            const std::function<void()> &Redirect) {
    std::vector<char *> Argv{const_cast<char *>(Program.c_str())};
    for (const std::string &Argument : Arguments)
        Argv.push_back(const_cast<char *>(Argument.c_str()));
    Argv.push_back(nullptr);
    const pid_t Child = fork();
    if (Child == 0) {
        Redirect();
        execv(Program.c_str(), Argv.data());
        _exit(127);
    }
    return Child;
}

int ExitCodeOf(pid_t Child) {
    int Status = 0;
    waitpid(Child, &Status, 0);
    if (WIFSIGNALED(Status))
        return 128 + WTERMSIG(Status);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

} // namespace

TToolResult RunTool(const std::string &Program, const std::vector<std::string> &Arguments,
                    const std::string &Input) {
    TScratchDir Streams;
    Streams.Write("in", Input);
    const pid_t Child = Spawn(Program, Arguments, [&] {
        Redirect(Streams.File("in"), O_RDONLY, 0);
        Redirect(Streams.File("out"), O_WRONLY | O_CREAT | O_TRUNC, 1);
        Redirect(Streams.File("err"), O_WRONLY | O_CREAT | O_TRUNC, 2);
    });
    TToolResult Result;
    Result.ExitCode = ExitCodeOf(Child);
    Result.Output = Streams.Read("out");
    Result.Errors = Streams.Read("err");
    return Result;
}

TLiveTool::TLiveTool(const std::string &Program, const std::vector<std::string> &Arguments) {
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    FChild = Spawn(Program, Arguments, [&] {
        dup2(Pipe[0], 0);
        Redirect(FStreams.File("out"), O_WRONLY | O_CREAT | O_TRUNC, 1);
    });
    close(Pipe[0]);
    FInput = Pipe[1];
}

TLiveTool::~TLiveTool() {
    if (FInput >= 0)
        Stop(SIGKILL);
}

void TLiveTool::Write(const std::string &Bytes) {
    for (std::size_t Done = 0; Done < Bytes.size();) {
        const ssize_t Written = write(FInput, Bytes.data() + Done, Bytes.size() - Done);
        if (Written <= 0)
            throw std::runtime_error("cannot write to the tool");
        Done += std::size_t(Written);
    }
}

std::vector<std::string> TLiveTool::WaitForLines(std::size_t Count) const {
    std::vector<std::string> Lines;
    for (int Wait = 0; Wait < 1000 && Lines.size() < Count; ++Wait, usleep(10000))
        Lines = SplitLines(FStreams.Read("out"));
    return Lines;
}

int TLiveTool::Stop(int Signal) {
    AwaitReading();
    kill(FChild, Signal);
    return Ended();
}

int TLiveTool::Stop(int First, int Second) {
    AwaitReading();
    // A stopped process takes its signals once it continues.
    kill(FChild, SIGSTOP);
    kill(FChild, First);
    kill(FChild, Second);
    kill(FChild, SIGCONT);
    return Ended();
}

void TLiveTool::AwaitReading() const {
    int Unread = 0;
    for (int Wait = 0; Wait < 1000 && ioctl(FInput, FIONREAD, &Unread) == 0 && Unread > 0; ++Wait)
        usleep(10000);
}

int TLiveTool::Ended() {
    close(FInput);
    FInput = -1;
    return ExitCodeOf(FChild);
}

TToolResult TLiveTool::Finish() {
    TToolResult Result;
    Result.ExitCode = Ended();
    Result.Output = FStreams.Read("out");
    return Result;
}

std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> Lines;
    std::istringstream Stream(Text);
    for (std::string Line; std::getline(Stream, Line);)
        Lines.push_back(Line);
    return Lines;
}
