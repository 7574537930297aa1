#include "output/MqttNames.h"

#include <cstdint>
#include <cstdio>

namespace {

// The bytes of a character with this lead byte; 0 for a byte that leads none.
std::size_t SequenceLength(unsigned char Lead) {
    if (Lead < 0x80)
        return 1;
    if (Lead < 0xC0)
        return 0; // a continuation byte
    if (Lead < 0xE0)
        return 2;
    if (Lead < 0xF0)
        return 3;
    return Lead < 0xF8 ? 4 : 0;
}

// The length of the plain UTF-8 character Text starts with; 0 when it starts with none.
std::size_t PlainCharacterLength(std::string_view Text) {
    const auto Lead = static_cast<unsigned char>(Text[0]);
    const std::size_t Length = SequenceLength(Lead);
    if (Length == 0 || Text.size() < Length)
        return 0;
    char32_t Code = Length == 1 ? Lead : Lead & (0x7F >> Length);
    for (std::size_t Index = 1; Index < Length; ++Index) {
        const auto Byte = static_cast<unsigned char>(Text[Index]);
        if ((Byte & 0xC0) != 0x80)
            return 0;
        Code = Code << 6 | (Byte & 0x3F);
    }
    constexpr char32_t Shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool Overlong = Code < Shortest[Length];
    const bool Control = Code < 0x20 || (Code >= 0x7F && Code <= 0x9F);
    const bool Surrogate = Code >= 0xD800 && Code <= 0xDFFF;
    const bool NonCharacter = (Code >= 0xFDD0 && Code <= 0xFDEF) || (Code & 0xFFFE) == 0xFFFE;
    return Overlong || Control || Surrogate || NonCharacter || Code > 0x10FFFF ? 0 : Length;
}

bool IsWildcardOrSeparator(char Character) {
    return Character == '/' || Character == '+' || Character == '#';
}

bool IsAsciiLetterOrDigit(char Character) {
    return (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
           (Character >= '0' && Character <= '9');
}

std::uint32_t Fnv1a(std::string_view Bytes) {
    std::uint32_t Hash = 2166136261u;
    for (const char Byte : Bytes)
        Hash = (Hash ^ static_cast<unsigned char>(Byte)) * 16777619u;
    return Hash;
}

} // namespace

bool IsPlainUtf8(std::string_view Text) {
    while (!Text.empty()) {
        const std::size_t Length = PlainCharacterLength(Text);
        if (Length == 0)
            return false;
        Text.remove_prefix(Length);
    }
    return true;
}

bool IsTopicLevel(std::string_view Level) {
    return !Level.empty() && IsPlainUtf8(Level) &&
           Level.find_first_of("/+#") == std::string_view::npos;
}

bool IsTopicName(std::string_view Name) {
    for (std::size_t Slash; (Slash = Name.find('/')) != std::string_view::npos;
         Name.remove_prefix(Slash + 1))
        if (!IsTopicLevel(Name.substr(0, Slash)))
            return false;
    return IsTopicLevel(Name);
}

std::string SafeTopicLevel(std::string_view Name) {
    std::string Safe;
    while (!Name.empty()) {
        std::size_t Length = PlainCharacterLength(Name);
        if (Length == 0 || IsWildcardOrSeparator(Name[0])) {
            Safe += '_';
            Length = 1;
        } else {
            Safe.append(Name.substr(0, Length));
        }
        Name.remove_prefix(Length);
    }
    return Safe.empty() ? "_" : Safe;
}

std::string MqttClientId(std::string_view Station, std::string_view Host) {
    std::string Id = "zel";
    for (const char Character : Station)
        if (IsAsciiLetterOrDigit(Character) && Id.size() < 15)
            Id += Character;
    std::string Both(Host);
    Both += '\0';
    Both += Station;
    char Hash[9];
    std::snprintf(Hash, sizeof Hash, "%08x", unsigned(Fnv1a(Both)));
    return Id + Hash;
}
