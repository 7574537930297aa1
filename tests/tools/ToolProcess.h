#pragma once

// Runs the built command-line tools as child processes in a private temporary
// directory and captures what they print.

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

struct TToolResult {
    int ExitCode = -1;  // as the shell tells it: 128 + N when signal N ended the process
    std::string Output; // stdout
    std::string Errors; // stderr
};

// A temporary directory removed with everything in it when the object goes.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir &) = delete;
    TScratchDir &operator=(const TScratchDir &) = delete;

    std::filesystem::path File(const std::string &Name) const { return FPath / Name; }
    void Write(const std::string &Name, const std::string &Bytes) const;
    std::string Read(const std::string &Name) const;

private:
    std::filesystem::path FPath;
};

// Runs Program with Arguments; Input becomes its stdin.
TToolResult RunTool(const std::string &Program, const std::vector<std::string> &Arguments,
                    const std::string &Input = "");

// A tool reading a pipe, as in a live pipeline; its stdout goes to a file.
class TLiveTool {
public:
    TLiveTool(const std::string &Program, const std::vector<std::string> &Arguments);
    ~TLiveTool();
    TLiveTool(const TLiveTool &) = delete;
    TLiveTool &operator=(const TLiveTool &) = delete;

    void Write(const std::string &Bytes);
    // The lines written so far, once there are Count of them (or after 10 s).
    std::vector<std::string> WaitForLines(std::size_t Count) const;
    // Once the tool has read everything written to it, sends Signal; returns the exit
    // status, as TToolResult::ExitCode.
    int Stop(int Signal);
    // As Stop, with both signals arriving before the tool can act on the first.
    int Stop(int First, int Second);
    // Ends the input as a writer that is done does; what the tool wrote once it ended
    // (its stderr is the test's own).
    TToolResult Finish();

private:
    void AwaitReading() const;
    // Waits for the tool to end; its exit status.
    int Ended();

    TScratchDir FStreams;
    pid_t FChild = -1;
    int FInput = -1;
};

std::vector<std::string> SplitLines(const std::string &Text);
