#include "service/ReceptionSummary.h"

#include "output/MessageJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

enum TKindIndex { Sms, Loc, Headerless };
// As lines show them, and as JSON and the topics name them.
constexpr const char *Names[] = {"SMS", "LOC", "headerless"};
constexpr const char *Keys[] = {"sms", "loc", "headerless"};

// Headerless messages apart: they may be noise, which would spoil the others' figures.
TKindIndex KindOf(const TListenedMessage &Message) {
    if (!Message.Headed)
        return Headerless;
    return Message.IsSMS ? Sms : Loc;
}

// Tenths, as the signal report gives them.
std::string Decimal(double Value) {
    char Text[32];
    std::snprintf(Text, sizeof Text, "%.1f", Value);
    return Text;
}

} // namespace

void TReceptionSummary::TRange::Add(double Value) {
    if (!std::isfinite(Value)) // JSON has no infinity
        return;
    Lowest = Count ? std::min(Lowest, Value) : Value;
    Highest = Count ? std::max(Highest, Value) : Value;
    Last = Value;
    Sum += Value;
    ++Count;
}

std::string TReceptionSummary::TRange::Text(const char *Unit) const {
    return Decimal(Last) + " " + Unit + " (lowest " + Decimal(Lowest) + ", highest " +
           Decimal(Highest) + ", mean " + Decimal(Mean()) + ")";
}

std::string TReceptionSummary::TRange::Json() const {
    return "{\"last\":" + Decimal(Last) + ",\"lowest\":" + Decimal(Lowest) +
           ",\"highest\":" + Decimal(Highest) + ",\"mean\":" + Decimal(Mean()) + "}";
}

TReceptionSummary::TReceptionSummary(TTime Start) : FStart(Start) {}

void TReceptionSummary::Add(const TListenedMessage &Message) {
    TKind &Kind = FKinds[KindOf(Message)];
    ++Kind.Count;
    ++FCount;
    Kind.Last = Message.Time;
    if (const auto &Report = Message.Report) {
        Kind.Level.Add(Report->LevelDbfs);
        Kind.Snr.Add(Report->SnrDb);
    }
}

std::vector<std::string> TReceptionSummary::Lines() const {
    std::string Totals = "since " + UtcTime(FStart) + ":";
    for (std::size_t Index = 0; Index < FKinds.size(); ++Index)
        Totals +=
            (Index == 0 ? " " : ", ") + std::to_string(FKinds[Index].Count) + " " + Names[Index];
    std::vector<std::string> Lines{Totals};
    for (std::size_t Index = 0; Index < FKinds.size(); ++Index)
        if (FKinds[Index].Count > 0)
            Lines.push_back(KindLine(Names[Index], FKinds[Index]));
    return Lines;
}

std::string TReceptionSummary::KindLine(const char *Name, const TKind &Kind) {
    std::string Line = std::string(Name) + ": " + std::to_string(Kind.Count) + ", the last at " +
                       UtcTime(Kind.Last);
    if (Kind.Level.Count == 0 && Kind.Snr.Count == 0)
        return Line + "; no signal report";
    if (Kind.Level.Count > 0)
        Line += "; level " + Kind.Level.Text("dBFS");
    if (Kind.Snr.Count > 0)
        Line += "; SNR " + Kind.Snr.Text("dB");
    return Line;
}

std::string TReceptionSummary::Json(TTime Now, const std::string &Station) const {
    std::string Json = "{\"time\":\"" + UtcTime(Now) + "\",\"since\":\"" + UtcTime(FStart) +
                       "\",\"station\":" + JsonUtf8String(Station);
    for (std::size_t Index = 0; Index < FKinds.size(); ++Index)
        Json += ",\"" + std::string(Keys[Index]) + "\":" + KindJson(FKinds[Index]);
    return Json + "}";
}

std::string TReceptionSummary::KindJson(const TKind &Kind) {
    std::string Json = "{\"count\":" + std::to_string(Kind.Count);
    if (Kind.Count > 0)
        Json += ",\"last\":\"" + UtcTime(Kind.Last) + "\"";
    if (Kind.Level.Count > 0)
        Json += ",\"level_dbfs\":" + Kind.Level.Json();
    if (Kind.Snr.Count > 0)
        Json += ",\"snr_db\":" + Kind.Snr.Json();
    return Json + "}";
}
