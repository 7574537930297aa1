#pragma once

// Silences stderr while it lives. Some sound libraries print their own notes there
// (JACK's ALSA plugin when probed), where the tools promise only their own lines.
class TQuietStderr {
public:
    TQuietStderr();
    ~TQuietStderr();
    TQuietStderr(const TQuietStderr &) = delete;
    TQuietStderr &operator=(const TQuietStderr &) = delete;

private:
    int FSaved;
};
