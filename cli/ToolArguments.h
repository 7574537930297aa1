#pragma once

// A small command-line reader: options with values ("--gap 500" or "--gap=500"),
// flags, and the remaining operands, with strict number parsing.

#include <optional>
#include <string>
#include <vector>

class TArgumentReader {
public:
    TArgumentReader(int ArgCount, char **Args);

    bool AtEnd() const { return FIndex >= FArgs.size(); }
    // True when the current argument looks like an option ("-x", "--xy"; not "-").
    bool AtOption() const;
    // Consumes the current argument if it is exactly Name.
    bool Flag(const char *Name);
    // Consumes "Name VALUE" or "Name=VALUE" and returns VALUE; EToolError when the
    // value is missing.
    std::optional<std::string> Value(const char *Name);
    // Consumes and returns the current argument.
    std::string Next();
    // The current argument, for error messages.
    const std::string &Current() const { return FArgs.at(FIndex); }

private:
    std::vector<std::string> FArgs;
    std::size_t FIndex = 0;
};

// Whole-text parsing: no sign or garbage tolerated beyond what the type allows.
// EToolError naming Option when Text is not a number in [Minimum, Maximum].
long long ParseInteger(const std::string &Option, const std::string &Text, long long Minimum,
                       long long Maximum);
double ParseReal(const std::string &Option, const std::string &Text);

enum class TDemodulatorKind;
// "crossing" or "matched"; EToolError naming --demodulator otherwise.
TDemodulatorKind ParseDemodulator(const std::string &Text);
