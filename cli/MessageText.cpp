#include "cli/MessageText.h"

#include "cli/ToolMain.h"

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

int HexValue(char Digit) {
    if (Digit >= '0' && Digit <= '9')
        return Digit - '0';
    if (Digit >= 'a' && Digit <= 'f')
        return Digit - 'a' + 10;
    if (Digit >= 'A' && Digit <= 'F')
        return Digit - 'A' + 10;
    return -1;
}

} // namespace

std::string EscapeBytes(const std::string &Bytes) {
    std::string Text;
    Text.reserve(Bytes.size());
    for (const char Character : Bytes) {
        const auto Byte = static_cast<unsigned char>(Character);
        if (Byte == '\\') {
            Text += "\\\\";
        } else if (Byte >= 0x20 && Byte <= 0x7E) {
            Text += Character;
        } else {
            Text += "\\x";
            Text += HexDigits[Byte >> 4];
            Text += HexDigits[Byte & 0x0F];
        }
    }
    return Text;
}

std::string MessageLine(bool MessIsSMS, bool Headed, const std::string &Text) {
    return std::string(Headed ? "" : "headerless ") + (MessIsSMS ? "SMS " : "LOC ") +
           EscapeBytes(Text);
}

std::string UnescapeBytes(const std::string &Text) {
    std::string Bytes;
    for (std::size_t Index = 0; Index < Text.size(); ++Index) {
        if (Text[Index] != '\\') {
            Bytes += Text[Index];
        } else if (Index + 1 < Text.size() && Text[Index + 1] == '\\') {
            Bytes += '\\';
            Index += 1;
        } else if (Index + 3 < Text.size() && Text[Index + 1] == 'x' &&
                   HexValue(Text[Index + 2]) >= 0 && HexValue(Text[Index + 3]) >= 0) {
            Bytes += static_cast<char>(HexValue(Text[Index + 2]) * 16 + HexValue(Text[Index + 3]));
            Index += 3;
        } else {
            throw EToolError("bad escape at position " + std::to_string(Index + 1) +
                             " of message '" + Text + "': use \\\\ or \\xHH");
        }
    }
    return Bytes;
}
