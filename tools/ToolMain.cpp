#include "tools/ToolMain.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

// The report must stay one line whatever a message (or a file name in it) holds.
std::string OneLine(std::string Text) {
    for (char &Character : Text)
        if (Character == '\n' || Character == '\r')
            Character = ' ';
    return Text;
}

void Report(const char *ToolName, const std::string &Message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", ToolName, OneLine(Message).c_str());
}

} // namespace

int RunTool(const char *ToolName, const std::function<int()> &Body) {
    try {
        return Body();
    } catch (const std::bad_alloc &) {
        Report(ToolName, "out of memory");
    } catch (const std::exception &Error) {
        Report(ToolName, Error.what());
    }
    return ToolFailureExitCode;
}
