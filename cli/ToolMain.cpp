#include "cli/ToolMain.h"

#include "cli/MessageText.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

// The report must stay one line whatever a message (or an argument in it) holds, and
// no control character may reach the terminal raw.
std::string OneLine(const std::string &Text) {
    std::string Line;
    for (const char Character : Text) {
        const auto Byte = static_cast<unsigned char>(Character);
        if (Byte < 0x20 || Byte == 0x7F)
            Line += EscapeBytes(std::string(1, Character));
        else
            Line += Character;
    }
    return Line;
}

} // namespace

void ReportProblem(const char *ToolName, const std::string &Message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", ToolName, OneLine(Message).c_str());
}

int RunTool(const char *ToolName, const std::function<int()> &Body) {
    try {
        return Body();
    } catch (const EOutputError &Error) {
        ReportProblem(ToolName, Error.what());
        return OutputFailureExitCode;
    } catch (const std::bad_alloc &) {
        ReportProblem(ToolName, "out of memory");
    } catch (const std::exception &Error) {
        ReportProblem(ToolName, Error.what());
    }
    return ToolFailureExitCode;
}

int ShowUsage(const char *Usage) {
    std::fputs(Usage, stdout);
    return 0;
}

int ShowVersion(const char *ToolName) {
    std::printf("%s %s\n", ToolName, ZEL_VERSION);
    return 0;
}
