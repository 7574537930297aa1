#include "cli/SilencedOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

TSilencedOutput::TSilencedOutput(int Descriptor)
    : FDescriptor(Descriptor), FSaved(dup(Descriptor)) {
    // What the program itself wrote so far still goes out.
    std::fflush(nullptr);
    const int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (Null >= 0) {
        dup2(Null, FDescriptor);
        close(Null);
    }
}

TSilencedOutput::~TSilencedOutput() {
    std::fflush(nullptr); // what the library printf'ed goes to /dev/null too
    if (FSaved >= 0) {
        dup2(FSaved, FDescriptor);
        close(FSaved);
    }
}
