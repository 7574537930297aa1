#pragma once

// The command-line reader of every program, the window included: options with values
// ("--gap 500" or "--gap=500"), flags, and the remaining operands, with strict number
// parsing. Every program says the same words for the same problem.

#include <optional>
#include <string>
#include <vector>

class TArgumentReader {
public:
    TArgumentReader(int ArgCount, char **Args);

    bool AtEnd() const { return FIndex >= FArgs.size(); }
    // True when the current argument looks like an option ("-x", "--xy"; not "-").
    bool AtOption() const;
    // Consumes the current argument if it is exactly Name (or its short form, "-h" for
    // "--help").
    bool Flag(const char *Name, const char *ShortName = nullptr);
    // Consumes "Name VALUE" or "Name=VALUE" and returns VALUE; EToolError
    // "Name needs a value" when the value is missing.
    std::optional<std::string> Value(const char *Name);
    // EToolError for the current argument, which no option of the program reads.
    [[noreturn]] void RefuseCurrent() const;
    // Consumes and returns the current argument.
    std::string Next();
    // The current argument, for error messages.
    const std::string &Current() const { return FArgs.at(FIndex); }

private:
    std::vector<std::string> FArgs;
    std::size_t FIndex = 0;
};

// -h/--help and -V/--version: every program takes both, and ends once it has answered.
struct TInformationRequest {
    bool Help = false;
    bool Version = false;

    // Consumes -h, --help, -V or --version; false for any other argument.
    bool Read(TArgumentReader &Reader);
    bool Any() const { return Help || Version; }
    // Prints Usage, or "<ProgramName> <version>", on stdout and gives exit status 0;
    // nothing when neither was asked for.
    std::optional<int> Answer(const char *ProgramName, const std::string &Usage) const;
};

// Whole-text parsing: no sign or garbage tolerated beyond what the type allows.
// EToolError naming Option when Text is not a number in [Minimum, Maximum].
long long ParseInteger(const std::string &Option, const std::string &Text, long long Minimum,
                       long long Maximum);
double ParseReal(const std::string &Option, const std::string &Text);

enum class TDemodulatorKind;
// "crossing" or "matched"; EToolError naming --demodulator otherwise.
TDemodulatorKind ParseDemodulator(const std::string &Text);
