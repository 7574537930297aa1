#pragma once

// Sends one of the process's output descriptors to /dev/null while it lives. Some sound
// libraries print their own notes on stderr (JACK's ALSA plugin when probed, mpg123) or
// even on stdout (a damaged sample dump), where the tools promise only their own lines.
class TSilencedOutput {
public:
    explicit TSilencedOutput(int Descriptor);
    ~TSilencedOutput();
    TSilencedOutput(const TSilencedOutput &) = delete;
    TSilencedOutput &operator=(const TSilencedOutput &) = delete;

private:
    int FDescriptor;
    int FSaved;
};
