#include "recordings/WavFile.h"

#include "cli/ToolMain.h"

#include "recordings/SoundLibraries.h"

#include <algorithm>
#include <cstring>

namespace {

// A growable, seekable file in memory for libsndfile's virtual I/O.
struct TMemoryFile {
    std::string Bytes;
    sf_count_t Position = 0;
};

TMemoryFile &FileOf(void *UserData) {
    return *static_cast<TMemoryFile *>(UserData);
}

sf_count_t MemoryLength(void *UserData) {
    return FileOf(UserData).Bytes.size();
}

sf_count_t MemorySeek(sf_count_t Offset, int Whence, void *UserData) {
    TMemoryFile &File = FileOf(UserData);
    const sf_count_t Base = Whence == SEEK_CUR   ? File.Position
                            : Whence == SEEK_END ? sf_count_t(File.Bytes.size())
                                                 : 0;
    File.Position = std::max<sf_count_t>(0, Base + Offset);
    return File.Position;
}

sf_count_t MemoryRead(void *Destination, sf_count_t Count, void *UserData) {
    TMemoryFile &File = FileOf(UserData);
    const sf_count_t Available =
        std::max<sf_count_t>(0, sf_count_t(File.Bytes.size()) - File.Position);
    const sf_count_t Taken = std::min(Count, Available);
    std::memcpy(Destination, File.Bytes.data() + File.Position, Taken);
    File.Position += Taken;
    return Taken;
}

sf_count_t MemoryWrite(const void *Source, sf_count_t Count, void *UserData) {
    TMemoryFile &File = FileOf(UserData);
    if (File.Position + Count > sf_count_t(File.Bytes.size()))
        File.Bytes.resize(File.Position + Count);
    std::memcpy(File.Bytes.data() + File.Position, Source, Count);
    File.Position += Count;
    return Count;
}

sf_count_t MemoryTell(void *UserData) {
    return FileOf(UserData).Position;
}

} // namespace

std::string WavFileBytes(std::span<const std::int16_t> Samples, int SampleRate) {
    SF_VIRTUAL_IO Io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO Info{};
    Info.samplerate = SampleRate;
    Info.channels = 1;
    Info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    TMemoryFile File;
    SNDFILE *Sound = Sndfile().OpenVirtual(&Io, SFM_WRITE, &Info, &File);
    if (!Sound)
        throw EToolError(std::string("cannot create WAV data: ") + Sndfile().StrError(nullptr));
    const sf_count_t Written = Sndfile().WriteShorts(Sound, Samples.data(), Samples.size());
    Sndfile().Close(Sound);
    if (Written != sf_count_t(Samples.size()))
        throw EToolError("cannot create WAV data: samples were not written");
    return File.Bytes;
}
