#include "gui/ProgramOptions.h"

#include <cstdio>
#include <stdexcept>

namespace {

constexpr const char *Usage =
    "Usage: ZELTextReceiver [--demodulator crossing|matched] [--help | --version]\n"
    "Listens to the preferred sound input for 1 200-baud FFSK text messages and shows\n"
    "them in one always-on-top window: text messages in a log, the last location in the\n"
    "top strip, the input level as a bar and the last 40 bit symbols at the bottom.\n"
    "  --demodulator crossing|matched\n"
    "             the bit demodulator for this run: zero crossings, or matched tones,\n"
    "             which decode weak, noisy and detuned signals. Without the option, the\n"
    "             one last chosen under Demodulator in the log's context menu (right\n"
    "             click); zero crossings until one is chosen\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

} // namespace

TProgramOptions ParseProgramOptions(const std::vector<std::string> &Args) {
    TProgramOptions Result;
    for (const std::string &Arg : Args) {
        if (Arg == "--help")
            Result.Help = true;
        else if (Arg == "--version")
            Result.Version = true;
        else
            throw std::invalid_argument("unknown option '" + Arg + "' (see --help)");
    }
    return Result;
}

bool ShowRequestedInformation(const TProgramOptions &Options) {
    if (Options.Help)
        std::fputs(Usage, stdout);
    else if (Options.Version)
        std::printf("ZELTextReceiver %s\n", ZEL_VERSION);
    return Options.Help || Options.Version;
}
