#pragma once

// The window program's own command line. Qt's options (-reverse, -qwindowtitle, ...)
// are not among them: the program hands Qt its name only.

#include <string>
#include <vector>

struct TProgramOptions {
    bool Help = false;
    bool Version = false;
};

// The arguments after the program name, --demodulator already taken out. std::invalid_argument,
// naming the argument, for anything that is not an option of the program.
TProgramOptions ParseProgramOptions(const std::vector<std::string> &Args);

// Prints what --help or --version asks for, on stdout; true when it printed, and the
// program ends there.
bool ShowRequestedInformation(const TProgramOptions &Options);
