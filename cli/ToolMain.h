#pragma once

// What every program's command line shares: failures reported as a single line on
// stderr with the program's name in front, and exit status 2 (1 for an output that
// takes no more).

#include "platform/Exceptions.h"

#include <functional>
#include <string>

class EToolError : public Exception {
public:
    using Exception::Exception;
};

// An output that takes no more (its reader gone, a full disk): not the user's arguments.
class EOutputError : public EToolError {
public:
    using EToolError::EToolError;
};

constexpr int ToolFailureExitCode = 2;
constexpr int OutputFailureExitCode = 1;

// Writes "<ToolName>: <message>" as one line on stderr, after what stdout holds.
void ReportProblem(const char *ToolName, const std::string &Message);

// Runs Body and returns its exit status; any exception becomes one line
// "<ToolName>: <message>" on stderr and ToolFailureExitCode (OutputFailureExitCode for
// EOutputError).
int RunTool(const char *ToolName, const std::function<int()> &Body);

// What --help and --version print, on stdout; both return exit status 0.
int ShowUsage(const char *Usage);
int ShowVersion(const char *ToolName);
