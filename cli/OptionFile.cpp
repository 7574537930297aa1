#include "cli/OptionFile.h"

#include "cli/MessageText.h"
#include "cli/ToolMain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void RefuseFile(const char *Option, const std::string &Path, int Error) {
    throw EToolError(std::string("cannot read ") + Option + " '" + EscapeBytes(Path) +
                     "': " + std::strerror(Error));
}

} // namespace

// Reading, not only opening, is the test: a directory opens and cannot be read.
std::string FirstLineOfFile(const char *Option, const std::string &Path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> File(std::fopen(Path.c_str(), "rb"),
                                                                std::fclose);
    if (!File)
        RefuseFile(Option, Path, errno);
    std::string Line;
    int Character;
    while ((Character = std::fgetc(File.get())) != EOF && Character != '\n')
        Line += char(Character);
    if (std::ferror(File.get()))
        RefuseFile(Option, Path, errno);
    if (!Line.empty() && Line.back() == '\r')
        Line.pop_back();
    return Line;
}

void RequireReadableFile(const char *Option, const std::string &Path) {
    FirstLineOfFile(Option, Path);
}
