#include "output/SignalReportFormat.h"

#include <cstdio>

namespace {

std::string Printed(const char *Format, double Value) {
    char Text[32];
    std::snprintf(Text, sizeof Text, Format, Value);
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
           ",\"clock_ppm\":" + Printed("%.0f", Report.ClockPpm) +
           ",\"confidence\":" + Printed("%.2f", Report.Confidence) +
           ",\"clipped\":" + Boolean(Report.Clipped);
}

std::string SignalReportText(const TSignalReport &Report) {
    std::string Text = Printed("%.1f dBFS", Report.LevelDbfs);
    Text += Report.SnrLowerBound ? Printed("  SNR >%.0f dB", Report.SnrDb)
                                 : Printed("  SNR %.0f dB", Report.SnrDb);
    Text += Printed("  %+.0f Hz", Report.OffsetHz) + Printed("  %+.0f ppm", Report.ClockPpm);
    if (Report.Clipped)
        Text += "  clipped";
    return Text;
}
