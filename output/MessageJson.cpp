#include "output/MessageJson.h"

#include "output/MqttNames.h"
#include "output/SignalReportFormat.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Appends Byte to Json inside a string, escaped where JSON requires it.
void AppendAscii(std::string &Json, unsigned char Byte) {
    switch (Byte) {
    case '"':
        Json += "\\\"";
        break;
    case '\\':
        Json += "\\\\";
        break;
    case '\n':
        Json += "\\n";
        break;
    default:
        if (Byte < 0x20 || Byte == 0x7F) {
            char Escape[8];
            std::snprintf(Escape, sizeof Escape, "\\u%04x", Byte);
            Json += Escape;
        } else {
            Json += static_cast<char>(Byte);
        }
    }
}

} // namespace

std::string JsonLatin1String(std::string_view Bytes) {
    std::string Json = "\"";
    for (const char Character : Bytes) {
        const auto Byte = static_cast<unsigned char>(Character);
        if (Byte < 0x80) {
            AppendAscii(Json, Byte);
        } else { // U+0080..U+00FF in UTF-8
            Json += static_cast<char>(0xC0 | (Byte >> 6));
            Json += static_cast<char>(0x80 | (Byte & 0x3F));
        }
    }
    return Json + "\"";
}

std::string JsonUtf8String(std::string_view Text) {
    std::string Json = "\"";
    for (const char Character : Text) {
        const auto Byte = static_cast<unsigned char>(Character);
        if (Byte < 0x80)
            AppendAscii(Json, Byte);
        else
            Json += Character;
    }
    return Json + "\"";
}

std::string DefaultStation() {
    char Name[256] = {};
    if (gethostname(Name, sizeof Name - 1) != 0 || Name[0] == '\0')
        return "localhost";
    return SafeTopicLevel(Name);
}

std::string MessageJson(const TMessageWhen &When, bool MessIsSMS, bool Headed,
                        const TRxString &Text, const std::string &Station,
                        const std::optional<TSignalReport> &Report) {
    std::string Json =
        EventJson(When, MessIsSMS ? "SMS" : "LOC", "text", JsonLatin1String(Text), Station);
    Json.pop_back(); // the closing brace, for the fields after the others
    if (!Headed)
        Json += ",\"headed\":false";
    if (Report)
        Json += "," + SignalReportJsonFields(*Report);
    return Json + "}";
}

std::string EventJson(const TMessageWhen &When, std::string_view Kind, std::string_view Key,
                      const std::string &Value, const std::string &Station) {
    std::string Json = "{\"";
    Json.append(When.Key);
    Json += "\":" + When.Value + ",\"kind\":\"";
    Json.append(Kind);
    Json += "\",\"";
    Json.append(Key);
    Json += "\":" + Value;
    if (!Station.empty())
        Json += ",\"station\":" + JsonUtf8String(Station);
    return Json + "}";
}
