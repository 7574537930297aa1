#include "cli/ToolArguments.h"

#include "cli/ToolMain.h"
#include "receiver/untFFSKReceiver.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

TArgumentReader::TArgumentReader(int ArgCount, char **Args) {
    for (int Index = 1; Index < ArgCount; ++Index)
        FArgs.emplace_back(Args[Index]);
}

bool TArgumentReader::AtOption() const {
    return !AtEnd() && Current().size() > 1 && Current()[0] == '-';
}

bool TArgumentReader::Flag(const char *Name) {
    if (AtEnd() || Current() != Name)
        return false;
    ++FIndex;
    return true;
}

std::optional<std::string> TArgumentReader::Value(const char *Name) {
    if (AtEnd())
        return std::nullopt;
    const std::string Joined = std::string(Name) + "=";
    if (Current().starts_with(Joined))
        return Next().substr(Joined.size());
    if (Current() != Name)
        return std::nullopt;
    ++FIndex;
    if (AtEnd())
        throw EToolError(std::string("option ") + Name + " needs a value");
    return Next();
}

std::string TArgumentReader::Next() {
    return FArgs.at(FIndex++);
}

long long ParseInteger(const std::string &Option, const std::string &Text, long long Minimum,
                       long long Maximum) {
    char *End = nullptr;
    errno = 0;
    const long long Value = std::strtoll(Text.c_str(), &End, 10);
    if (Text.empty() || *End != '\0' || errno == ERANGE || Value < Minimum || Value > Maximum)
        throw EToolError(Option + " must be a whole number from " + std::to_string(Minimum) +
                         " to " + std::to_string(Maximum) + ", not '" + Text + "'");
    return Value;
}

double ParseReal(const std::string &Option, const std::string &Text) {
    char *End = nullptr;
    errno = 0;
    const double Value = std::strtod(Text.c_str(), &End);
    if (Text.empty() || *End != '\0' || errno == ERANGE || !std::isfinite(Value))
        throw EToolError(Option + " must be a number, not '" + Text + "'");
    return Value;
}

TDemodulatorKind ParseDemodulator(const std::string &Text) {
    if (const auto Kind = DemodulatorNamed(Text))
        return *Kind;
    throw EToolError("--demodulator must be 'crossing' or 'matched', not '" + Text + "'");
}
