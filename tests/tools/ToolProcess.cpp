#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

TScratchDir::TScratchDir() {
    std::string Template = (fs::temp_directory_path() / "zel-tools-XXXXXX").string();
    if (!mkdtemp(Template.data()))
        throw std::runtime_error("cannot create a temporary directory");
    FPath = Template;
}

TScratchDir::~TScratchDir() {
    std::error_code Ignored;
    fs::remove_all(FPath, Ignored);
}

void TScratchDir::Write(const std::string &Name, const std::string &Bytes) const {
    std::ofstream(File(Name), std::ios::binary) << Bytes;
}

std::string TScratchDir::Read(const std::string &Name) const {
    std::ifstream Stream(File(Name), std::ios::binary);
    std::ostringstream Contents;
    Contents << Stream.rdbuf();
    return Contents.str();
}

namespace {

void Redirect(const fs::path &Path, int Flags, int Target) {
    const int Descriptor = open(Path.c_str(), Flags, 0600);
    if (Descriptor < 0 || dup2(Descriptor, Target) < 0)
        _exit(127);
    close(Descriptor);
}

} // namespace

TToolResult RunTool(const std::string &Program, const std::vector<std::string> &Arguments,
                    const std::string &Input) {
    TScratchDir Streams;
    Streams.Write("in", Input);
    std::vector<char *> Argv{const_cast<char *>(Program.c_str())};
    for (const std::string &Argument : Arguments)
        Argv.push_back(const_cast<char *>(Argument.c_str()));
    Argv.push_back(nullptr);
    const pid_t Child = fork();
    if (Child == 0) {
        Redirect(Streams.File("in"), O_RDONLY, 0);
        Redirect(Streams.File("out"), O_WRONLY | O_CREAT | O_TRUNC, 1);
        Redirect(Streams.File("err"), O_WRONLY | O_CREAT | O_TRUNC, 2);
        execv(Program.c_str(), Argv.data());
        _exit(127);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    TToolResult Result;
    Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    Result.Output = Streams.Read("out");
    Result.Errors = Streams.Read("err");
    return Result;
}

std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> Lines;
    std::istringstream Stream(Text);
    for (std::string Line; std::getline(Stream, Line);)
        Lines.push_back(Line);
    return Lines;
}
