#pragma once

// Recognises a recording's container by the exact bytes it starts with, so that raw
// samples on a stream are never mistaken for one by a loose guess.

#include <cstddef>
#include <string_view>

// The most bytes ContainerNamed looks at.
constexpr std::size_t ContainerMagicBytes = 16;

// "WAV", "FLAC", ... for a stream that starts with Head; nullptr for anything else.
const char *ContainerNamed(std::string_view Head);
