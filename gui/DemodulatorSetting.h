#pragma once

// The demodulator the user last chose in the window, kept in the user's configuration
// folder for the next start.

#include "receiver/untFFSKReceiver.h"

// Zero crossing when no choice was kept, or the kept one cannot be read; says nothing
// and writes nothing.
TDemodulatorKind SavedDemodulator();

// Keeps the choice; where it cannot be written, nothing else changes.
void SaveDemodulator(TDemodulatorKind Demodulator);
