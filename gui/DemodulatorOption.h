#pragma once

// The window program's one option of its own: --demodulator crossing|matched.

#include "receiver/untFFSKReceiver.h"

#include <optional>

// Takes "--demodulator NAME" or "--demodulator=NAME" out of the arguments, leaving the
// rest in order; the bit source to use (Default without the option). An unknown or
// missing name: one line to stderr and no value.
std::optional<TDemodulatorKind>
TakeDemodulatorOption(int &ArgCount, char **Args,
                      TDemodulatorKind Default = TDemodulatorKind::Crossing);
