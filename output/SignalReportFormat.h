#pragma once

// A message's signal report as the programs show it: added JSON fields, or a short
// text after a plain message line.

#include "receiver/SignalReport.h"

#include <string>

// "level_dbfs":-23.5,"snr_db":17.0,"snr_lower_bound":false,"offset_hz":12.0,
// "shift_hz":600.0,"clock_ppm":-350,"confidence":0.93,"clipped":false (no braces,
// no leading comma).
std::string SignalReportJsonFields(const TSignalReport &Report);

// "-23.5 dBFS  SNR 17 dB  +12 Hz  -350 ppm", with "SNR >30 dB" for a lower bound and
// "  clipped" after it when samples reached full scale.
std::string SignalReportText(const TSignalReport &Report);
