#include "output/SignalReportFormat.h"

#include <cmath>
#include <cstdio>

namespace {

// Value rounded to Decimals places, as Format with that many shows it; one that rounds
// to zero shows no minus sign.
std::string Printed(const char *Format, double Value, int Decimals = 1) {
    const double Scale = std::pow(10.0, Decimals);
    char Text[32];
    std::snprintf(Text, sizeof Text, Format, std::round(Value * Scale) / Scale + 0.0);
    return Text;
}

const char *Boolean(bool Value) {
    return Value ? "true" : "false";
}

} // namespace

std::string SignalReportJsonFields(const TSignalReport &Report) {
    return "\"level_dbfs\":" + Printed("%.1f", Report.LevelDbfs) +
           ",\"snr_db\":" + Printed("%.1f", Report.SnrDb) +
           ",\"snr_lower_bound\":" + Boolean(Report.SnrLowerBound) +
           ",\"offset_hz\":" + Printed("%.1f", Report.OffsetHz) +
           ",\"shift_hz\":" + Printed("%.1f", Report.ShiftHz) +
           ",\"clock_ppm\":" + Printed("%.0f", Report.ClockPpm, 0) +
           ",\"confidence\":" + Printed("%.2f", Report.Confidence, 2) +
           ",\"clipped\":" + Boolean(Report.Clipped);
}

std::string SignalReportText(const TSignalReport &Report) {
    std::string Text = Printed("%.1f dBFS", Report.LevelDbfs);
    Text += Report.SnrLowerBound ? Printed("  SNR >%.0f dB", Report.SnrDb, 0)
                                 : Printed("  SNR %.0f dB", Report.SnrDb, 0);
    Text += Printed("  %+.0f Hz", Report.OffsetHz, 0) + Printed("  %+.0f ppm", Report.ClockPpm, 0);
    if (Report.Clipped)
        Text += "  clipped";
    return Text;
}
