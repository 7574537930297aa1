#include "recordings/ContainerMagic.h"

using namespace std::string_view_literals;

namespace {

struct TMagic {
    const char *Container;
    std::string_view Start;
    std::string_view AtEight; // the form type after a size, where the container has one
};

// The containers libsndfile reads from a stream. MP3 is known only by its ID3 tag: a
// bare frame sync is two bytes that raw samples often start with.
constexpr TMagic Magics[] = {
    {"WAV", "RIFF", "WAVE"},
    {"WAV", "RIFX", "WAVE"},
    {"RF64", "RF64", "WAVE"},
    {"W64", "riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\x00\x00"sv, ""},
    {"AIFF", "FORM", "AIFF"},
    {"AIFF", "FORM", "AIFC"},
    {"AU", ".snd", ""},
    {"AU", "dns.", ""},
    {"CAF", "caff\x00\x01\x00\x00"sv, ""},
    {"FLAC", "fLaC", ""},
    {"Ogg", "OggS\x00"sv, ""},
    {"MP3", "ID3\x02"sv, ""},
    {"MP3", "ID3\x03"sv, ""},
    {"MP3", "ID3\x04"sv, ""},
};

bool Holds(std::string_view Head, std::size_t Offset, std::string_view Bytes) {
    return Bytes.empty() || (Head.size() >= Offset && Head.substr(Offset).starts_with(Bytes));
}

} // namespace

const char *ContainerNamed(std::string_view Head) {
    for (const TMagic &Magic : Magics)
        if (Holds(Head, 0, Magic.Start) && Holds(Head, 8, Magic.AtEight))
            return Magic.Container;
    return nullptr;
}
