#pragma once

// The start every recording test begins with, as the engine starts recording.

#include "WaveInProbe.h"

// Opens the device (the preferred one by default) and records until a buffer has come
// back and gone in again; a failing step fails the test.
void StartRecording(platform::IWaveInService &Service, TRecordingSession &Session,
                    UINT DeviceID = WAVE_MAPPER);
