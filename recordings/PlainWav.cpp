#include "recordings/PlainWav.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t PcmFormatTag = 1;
constexpr std::uint32_t PlainRate = 48000;
constexpr std::size_t ChunkHeaderBytes = 8;
constexpr std::size_t PcmFormatBytes = 16;

std::uint32_t Little(const unsigned char *Bytes, int Count) {
    std::uint32_t Value = 0;
    for (int Index = Count; Index-- > 0;)
        Value = Value << 8 | Bytes[Index];
    return Value;
}

bool ReadAt(int Descriptor, void *Bytes, std::size_t Count, std::uint64_t Offset) {
    return pread(Descriptor, Bytes, Count, off_t(Offset)) == ssize_t(Count);
}

bool IsPlainFormat(int Descriptor, std::uint64_t Offset, std::uint32_t Size) {
    unsigned char Format[PcmFormatBytes];
    if (Size != PcmFormatBytes || !ReadAt(Descriptor, Format, sizeof Format, Offset))
        return false;
    return Little(Format, 2) == PcmFormatTag && Little(Format + 2, 2) == 1 &&
           Little(Format + 4, 4) == PlainRate && Little(Format + 12, 2) == 2 &&
           Little(Format + 14, 2) == 16;
}

} // namespace

std::optional<TPlainWavData> FindPlainWavData(int Descriptor) {
    struct stat Status {};
    unsigned char Riff[12];
    if (fstat(Descriptor, &Status) != 0 || !S_ISREG(Status.st_mode) ||
        !ReadAt(Descriptor, Riff, sizeof Riff, 0) || std::memcmp(Riff, "RIFF", 4) != 0 ||
        std::memcmp(Riff + 8, "WAVE", 4) != 0)
        return std::nullopt;
    const auto FileBytes = std::uint64_t(Status.st_size);
    bool PlainFormat = false;
    // Anything unusual (no format before the samples, a size past the end) is left
    // to libsndfile.
    for (std::uint64_t Position = sizeof Riff; Position + ChunkHeaderBytes <= FileBytes;) {
        unsigned char Header[ChunkHeaderBytes];
        if (!ReadAt(Descriptor, Header, sizeof Header, Position))
            return std::nullopt;
        const std::uint32_t Size = Little(Header + 4, 4);
        const std::uint64_t Body = Position + ChunkHeaderBytes;
        if (std::memcmp(Header, "fmt ", 4) == 0) {
            if (PlainFormat || !IsPlainFormat(Descriptor, Body, Size))
                return std::nullopt;
            PlainFormat = true;
        } else if (std::memcmp(Header, "data", 4) == 0) {
            if (!PlainFormat || Size == 0 || Body + Size > FileBytes)
                return std::nullopt;
            return TPlainWavData{Body, Size};
        }
        Position = Body + Size + (Size & 1);
    }
    return std::nullopt;
}
