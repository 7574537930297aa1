#pragma once

// What a delivered message looked like on air, measured on the audio of its frames
// against the ideal FFSK of the bits that were decided.

struct TSignalReport {
    double LevelDbfs = 0;       // the tones' amplitude, dB against a full-scale sine
    double SnrDb = 0;           // tone power against the noise in 3 kHz
    bool SnrLowerBound = false; // SnrDb is a floor: the noise is too weak to measure
    double OffsetHz = 0;        // mean offset of the tones from 1 200 and 1 800 Hz
    double ShiftHz = 600;       // distance between the tones
    double ClockPpm = 0;        // the sender's bit clock against 1 200 baud
    double Confidence = 1;      // 0..1: how clear the closest bit decision was
    bool Clipped = false;       // samples of the message reached full scale
};
