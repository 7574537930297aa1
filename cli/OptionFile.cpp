#include "cli/OptionFile.h"

#include "cli/MessageText.h"
#include "cli/ToolMain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void RefuseFile(const char *Option, const std::string &Path, int Error,
                             const char *Verb = "read") {
    throw EToolError(std::string("cannot ") + Verb + " " + Option + " '" + EscapeBytes(Path) +
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

// A directory passes the test of access(2), and cannot be run.
void RequireRunnableFile(const char *Option, const std::string &Path) {
    struct stat Status;
    if (stat(Path.c_str(), &Status) < 0)
        RefuseFile(Option, Path, errno, "run");
    if (S_ISDIR(Status.st_mode))
        RefuseFile(Option, Path, EISDIR, "run");
    if (access(Path.c_str(), X_OK) < 0)
        RefuseFile(Option, Path, errno, "run");
}
