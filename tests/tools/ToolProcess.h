#pragma once

// Runs the built command-line tools as child processes in a private temporary
// directory and captures what they print.

#include <filesystem>
#include <string>
#include <vector>

struct TToolResult {
    int ExitCode = -1;  // -1 when the process did not exit normally (a signal)
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

std::vector<std::string> SplitLines(const std::string &Text);
