#include "gui/DemodulatorOption.h"

#include <cstdio>
#include <string_view>

std::optional<TDemodulatorKind> TakeDemodulatorOption(int &ArgCount, char **Args,
                                                      TDemodulatorKind Default) {
    constexpr std::string_view Option = "--demodulator";
    std::optional<TDemodulatorKind> Kind = Default;
    int Kept = 1;
    for (int Index = 1; Index < ArgCount; ++Index) {
        const std::string_view Argument = Args[Index];
        std::string_view Name;
        if (Argument == Option && Index + 1 < ArgCount)
            Name = Args[++Index];
        else if (Argument.starts_with(Option) && Argument.substr(Option.size()).starts_with('='))
            Name = Argument.substr(Option.size() + 1);
        else if (Argument != Option) {
            Args[Kept++] = Args[Index];
            continue;
        }
        Kind = DemodulatorNamed(Name);
        if (!Kind) {
            std::fprintf(stderr,
                         "ZELTextReceiver: --demodulator must be 'crossing' or 'matched'\n");
            return std::nullopt;
        }
    }
    ArgCount = Kept;
    Args[Kept] = nullptr;
    return Kind;
}
