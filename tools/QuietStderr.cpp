#include "tools/QuietStderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

TQuietStderr::TQuietStderr() : FSaved(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (Null >= 0) {
        dup2(Null, STDERR_FILENO);
        close(Null);
    }
}

TQuietStderr::~TQuietStderr() {
    if (FSaved >= 0) {
        dup2(FSaved, STDERR_FILENO);
        close(FSaved);
    }
}
