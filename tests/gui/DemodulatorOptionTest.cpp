// The window program's --demodulator option: taken out of the arguments, the rest kept.
#include "gui/DemodulatorOption.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DemodulatorOption, IsTakenOutOfTheArgumentsAndNamesTheBitSource) {
    struct TCase {
        std::vector<std::string> Arguments;
        std::optional<TDemodulatorKind> Kind;
        std::vector<std::string> Left;
        TDemodulatorKind Default = TDemodulatorKind::Crossing; // the choice kept
    };
    const TCase Cases[] = {
        {{"ZELTextReceiver"}, TDemodulatorKind::Crossing, {"ZELTextReceiver"}},
        {{"Z", "--demodulator", "matched", "-style", "x"},
         TDemodulatorKind::Matched,
         {"Z", "-style", "x"}},
        {{"Z", "--demodulator=crossing"}, TDemodulatorKind::Crossing, {"Z"}},
        {{"Z"}, TDemodulatorKind::Matched, {"Z"}, TDemodulatorKind::Matched},
        {{"Z", "--demodulator", "crossing"},
         TDemodulatorKind::Crossing,
         {"Z"},
         TDemodulatorKind::Matched},
        {{"Z", "--demodulator", "fast"}, std::nullopt, {}},
        {{"Z", "--demodulator"}, std::nullopt, {}},
    };
    for (const TCase &Case : Cases) {
        std::vector<char *> Args;
        std::vector<std::string> Storage = Case.Arguments;
        for (std::string &Argument : Storage)
            Args.push_back(Argument.data());
        Args.push_back(nullptr);
        int Count = int(Storage.size());
        EXPECT_EQ(TakeDemodulatorOption(Count, Args.data(), Case.Default), Case.Kind);
        if (Case.Kind) {
            EXPECT_EQ(std::vector<std::string>(Args.begin(), Args.begin() + Count), Case.Left);
        }
    }
}
