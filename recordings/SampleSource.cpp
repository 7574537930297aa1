#include "recordings/SampleSource.h"

#include "cli/MessageText.h"
#include "cli/SilencedOutput.h"
#include "cli/ToolMain.h"
#include "recordings/ContainerMagic.h"
#include "recordings/PlainWav.h"
#include "recordings/Resampler.h"
#include "recordings/StreamIo.h"

#include "recordings/SoundLibraries.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t ChunkSamples = 65536;
// A stream may be live: its samples go on in parts of a tenth of a second or so.
constexpr std::size_t StreamChunkSamples = 4096;
// Raw samples come in reads of this size (262 KiB): fewer system calls, still little
// memory, and a whole number of the receiver's 9 600-sample buffers, so none is copied.
constexpr std::size_t RawReadBytes = 14 * 9600 * sizeof(std::int16_t);
// A pipe this large hands over a whole read at once (the most an unprivileged
// process may ask for).
constexpr int PipeBytes = 1 << 20;

// Decoders behind libsndfile may print on stdout and stderr: both are silenced while
// the library runs.
class TQuietLibrary {
    TSilencedOutput FStdout{STDOUT_FILENO};
    TSilencedOutput FStderr{STDERR_FILENO};
};

// The containers recordings come in; the library's other readers (sample dumps,
// instrument and lab formats) see little use and are the ones damaged files upset.
bool IsRecordingFormat(int Format) {
    switch (Format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_W64:
    case SF_FORMAT_RF64:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_AU:
    case SF_FORMAT_CAF:
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
    case SF_FORMAT_RAW: // only ever where raw samples were declared
        return true;
    default:
        return false;
    }
}

// Reads whole interleaved frames from libsndfile and picks one channel. Stream, if
// any, is what libsndfile reads through.
class TSoundFileSource : public TSampleSource {
public:
    TSoundFileSource(SNDFILE *Sound, const SF_INFO &Info, int Channel,
                     std::unique_ptr<TStreamIo> Stream);
    ~TSoundFileSource() override {
        TQuietLibrary Quiet;
        Sndfile().Close(FSound);
    }
    std::span<const std::int16_t> Next() override;

private:
    // 16-bit recordings at the receiver's rate go through untouched.
    bool Direct() const { return !FResampler && FSixteenBit; }
    std::span<const std::int16_t> NextDirect();
    std::span<const std::int16_t> NextConverted();
    // Reads up to one chunk of the channel as floats; false at the end of the file.
    bool ReadFloats();
    // Reads up to one chunk of interleaved frames with ReadFrames (the short or float
    // reader) and keeps the decoded channel's samples.
    template <typename TSample, typename TReadFrames>
    void ReadChannel(TReadFrames ReadFrames, std::vector<TSample> &Interleaved,
                     std::vector<TSample> &Channel);

    std::unique_ptr<TStreamIo> FStream;
    SNDFILE *FSound;
    int FChannels;
    int FChannel;
    bool FSixteenBit;
    sf_count_t FChunkFrames;
    std::optional<TResampler> FResampler;
    bool FFinished = false;
    std::vector<std::int16_t> FShorts;
    std::vector<float> FFloats;
    std::vector<float> FChannelFloats;
    std::vector<float> FResampled;
    std::vector<std::int16_t> FSamples;
};

TSoundFileSource::TSoundFileSource(SNDFILE *Sound, const SF_INFO &Info, int Channel,
                                   std::unique_ptr<TStreamIo> Stream)
    : FStream(std::move(Stream)), FSound(Sound), FChannels(Info.channels), FChannel(Channel - 1),
      FSixteenBit((Info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16),
      FChunkFrames(
          std::max<sf_count_t>(1, (FStream ? StreamChunkSamples : ChunkSamples) / Info.channels)) {
    if (Info.samplerate != ReceiverSampleRate)
        FResampler.emplace(Info.samplerate, ReceiverSampleRate);
}

std::span<const std::int16_t> TSoundFileSource::Next() {
    return Direct() ? NextDirect() : NextConverted();
}

template <typename TSample, typename TReadFrames>
void TSoundFileSource::ReadChannel(TReadFrames ReadFrames, std::vector<TSample> &Interleaved,
                                   std::vector<TSample> &Channel) {
    Interleaved.resize(FChunkFrames * FChannels);
    TQuietLibrary Quiet;
    const sf_count_t Frames = ReadFrames(FSound, Interleaved.data(), FChunkFrames);
    if (FStream)
        FStream->ThrowIfFailed();
    Channel.resize(std::max<sf_count_t>(0, Frames));
    for (std::size_t Frame = 0; Frame < Channel.size(); ++Frame)
        Channel[Frame] = Interleaved[Frame * FChannels + FChannel];
}

std::span<const std::int16_t> TSoundFileSource::NextDirect() {
    ReadChannel(Sndfile().ReadShorts, FShorts, FSamples);
    return FSamples;
}

bool TSoundFileSource::ReadFloats() {
    ReadChannel(Sndfile().ReadFloats, FFloats, FChannelFloats);
    return !FChannelFloats.empty();
}

// Loops because the resampler may hold a whole chunk back for its filter.
std::span<const std::int16_t> TSoundFileSource::NextConverted() {
    FResampled.clear();
    while (FResampled.empty() && !FFinished) {
        if (!ReadFloats()) {
            FFinished = true;
            if (FResampler)
                FResampler->Finish(FResampled);
        } else if (FResampler) {
            FResampler->Process(FChannelFloats, FResampled);
        } else {
            FResampled.swap(FChannelFloats);
        }
    }
    FSamples.resize(FResampled.size());
    for (std::size_t Index = 0; Index < FSamples.size(); ++Index)
        FSamples[Index] = FloatToSample16(FResampled[Index]);
    return FSamples;
}

std::string Plural(int Count, const char *Noun) {
    return std::to_string(Count) + " " + Noun + (Count == 1 ? "" : "s");
}

void CheckRecording(const SF_INFO &Info, int Channel) {
    if (!IsRecordingFormat(Info.format))
        throw EToolError("not a WAV, W64, RF64, AIFF, AU, CAF, FLAC, Ogg or MP3 recording");
    if (Info.samplerate < MinimumSampleRate || Info.samplerate > MaximumSampleRate)
        throw EToolError("unsupported sample rate of " + std::to_string(Info.samplerate) + " Hz");
    if (Info.channels < 1)
        throw EToolError("the recording has no channels");
    if (Channel > Info.channels)
        throw EToolError("the recording has " + Plural(Info.channels, "channel") + ", no channel " +
                         std::to_string(Channel));
}

int OpenReadable(const std::string &Path) {
    const int Descriptor = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Descriptor < 0)
        throw EToolError(std::strerror(errno));
    struct stat Status {};
    if (fstat(Descriptor, &Status) == 0 && S_ISDIR(Status.st_mode)) {
        close(Descriptor);
        throw EToolError("is a directory");
    }
    return Descriptor;
}

bool IsRegularFile(int Descriptor) {
    struct stat Status {};
    return fstat(Descriptor, &Status) == 0 && S_ISREG(Status.st_mode);
}

// A recording is read once from start to end: a file's read-ahead can go further, and
// a pipe holds more per read. Where either is refused, reading works as before.
void PrepareSequentialReading(int Descriptor) {
    struct stat Status {};
    if (fstat(Descriptor, &Status) != 0)
        return;
    if (S_ISREG(Status.st_mode))
        posix_fadvise(Descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    else if (S_ISFIFO(Status.st_mode))
        fcntl(Descriptor, F_SETPIPE_SZ, PipeBytes);
}

EToolError Unreadable() {
    return EToolError(std::string("not a readable recording (") + Sndfile().StrError(nullptr) +
                      ")");
}

// Channel Channel of the recording libsndfile has opened as Sound, which is closed if
// that fails. Stream, if any, is what libsndfile reads through.
std::unique_ptr<TSampleSource> TakeRecording(SNDFILE *Sound, const SF_INFO &Info, int Channel,
                                             std::unique_ptr<TStreamIo> Stream) {
    try {
        CheckRecording(Info, Channel);
        return std::make_unique<TSoundFileSource>(Sound, Info, Channel, std::move(Stream));
    } catch (...) {
        TQuietLibrary Quiet;
        Sndfile().Close(Sound);
        throw;
    }
}

// The bytes that tell a container, from the start of a stream: fewer only at its end.
std::string ReadHead(int Descriptor) {
    std::string Head(ContainerMagicBytes, '\0');
    std::size_t Filled = 0;
    while (Filled < Head.size()) {
        const ssize_t Got = read(Descriptor, Head.data() + Filled, Head.size() - Filled);
        if (Got < 0 && errno != EINTR)
            throw EToolError(std::strerror(errno));
        if (Got <= 0) // a stop signal ends the input as its end would
            break;
        Filled += std::size_t(Got);
    }
    Head.resize(Filled);
    return Head;
}

// A recording in a container, or raw samples not at the receiver's own layout,
// through libsndfile.
std::unique_ptr<TSampleSource> OpenStreamRecording(std::unique_ptr<TStreamIo> Stream, SF_INFO Info,
                                                   int Channel) {
    SNDFILE *const Sound = [&] {
        TQuietLibrary Quiet;
        return Sndfile().OpenVirtual(&TStreamIo::Callbacks(), SFM_READ, &Info, Stream.get());
    }();
    if (!Sound && Stream->Error())
        throw EToolError(std::strerror(Stream->Error()));
    if (!Sound)
        throw Unreadable();
    return TakeRecording(Sound, Info, Channel, std::move(Stream));
}

std::unique_ptr<TSampleSource> OpenSoundFileOrThrow(const std::string &Path, int Channel) {
    const int Descriptor = OpenReadable(Path);
    // A pipe or a device: libsndfile's own reading of one loses the start of a FLAC
    // stream and every sample of a CAF one.
    if (!IsRegularFile(Descriptor))
        return OpenStreamRecording(std::make_unique<TStreamIo>(Descriptor, Path, "", true),
                                   SF_INFO{}, Channel);
    if (const auto Plain = FindPlainWavData(Descriptor);
        Plain && Channel == 1 && lseek(Descriptor, off_t(Plain->Offset), SEEK_SET) >= 0)
        return std::make_unique<TRawSampleSource>(Descriptor, Path, Plain->Bytes, true);
    SF_INFO Info{};
    SNDFILE *const Sound = [&] {
        TQuietLibrary Quiet;
        return Sndfile().OpenFd(Descriptor, SFM_READ, &Info, SF_TRUE);
    }();
    if (!Sound) {
        close(Descriptor);
        throw Unreadable();
    }
    return TakeRecording(Sound, Info, Channel, nullptr);
}

std::unique_ptr<TSampleSource> OpenRawStream(int Descriptor, const std::string &Name,
                                             std::string Head, const TRawLayout &Raw, int Channel) {
    if (Channel > Raw.Channels)
        throw EToolError("raw input has " + Plural(Raw.Channels, "channel") + ", no channel " +
                         std::to_string(Channel));
    if (Raw.Rate != ReceiverSampleRate || Raw.Channels != 1) {
        SF_INFO Info{};
        Info.samplerate = Raw.Rate;
        Info.channels = Raw.Channels;
        Info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
        return OpenStreamRecording(std::make_unique<TStreamIo>(Descriptor, Name, std::move(Head)),
                                   Info, Channel);
    }
    auto Source = std::make_unique<TRawSampleSource>(Descriptor, Name);
    Source->HandOutFirst(std::move(Head));
    return Source;
}

std::unique_ptr<TSampleSource> OpenSoundStreamOrThrow(int Descriptor, const std::string &Name,
                                                      const std::optional<TRawLayout> &Raw,
                                                      int Channel) {
    std::string Head = ReadHead(Descriptor);
    const char *const Container = ContainerNamed(Head);
    if (!Container)
        return OpenRawStream(Descriptor, Name, std::move(Head), Raw.value_or(TRawLayout{}),
                             Channel);
    if (Raw)
        throw EToolError(
            std::string("a ") + Container +
            " recording gives its own rate and channels: leave out --rate and --channels");
    return OpenStreamRecording(std::make_unique<TStreamIo>(Descriptor, Name, std::move(Head)),
                               SF_INFO{}, Channel);
}

} // namespace

TBlockMemory::TBlockMemory(std::size_t Bytes)
    : FSize(Bytes),
      FBytes(static_cast<char *>(mmap(nullptr, Bytes, PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0))) {
    if (FBytes == MAP_FAILED)
        throw std::bad_alloc();
}

TBlockMemory::~TBlockMemory() {
    munmap(FBytes, FSize);
}

TRawSampleSource::TRawSampleSource(int Descriptor, std::string Name, std::uint64_t Limit,
                                   bool Owned)
    : FDescriptor(Descriptor), FName(std::move(Name)), FRemaining(Limit), FOwned(Owned),
      FBlock(RawReadBytes) {
    PrepareSequentialReading(FDescriptor);
}

TRawSampleSource::~TRawSampleSource() {
    if (FOwned)
        close(FDescriptor);
}

// One read: a pipe hands over what it has rather than keep the decoder waiting.
std::span<const std::int16_t> TRawSampleSource::Next() {
    char *Bytes = FBlock.Bytes();
    std::size_t Filled = FCarried.copy(Bytes, RawReadBytes);
    FCarried.clear();
    for (std::size_t Got = 1; Filled < sizeof(std::int16_t) && Got > 0; Filled += Got)
        Got = Read(Bytes + Filled, RawReadBytes - Filled);
    if (Filled % 2)
        FCarried.assign(1, Bytes[--Filled]);
    return {reinterpret_cast<const std::int16_t *>(Bytes), Filled / 2};
}

std::size_t TRawSampleSource::Read(char *Bytes, std::size_t Count) {
    Count = std::min<std::uint64_t>(Count, FRemaining);
    const ssize_t Got = Count ? read(FDescriptor, Bytes, Count) : 0;
    if (Got < 0 && errno == EINTR) // a stop signal ends the input as its end would
        return 0;
    if (Got < 0)
        throw EToolError(FName + ": " + std::strerror(errno));
    FRemaining -= std::uint64_t(Got);
    return std::size_t(Got);
}

std::unique_ptr<TSampleSource> OpenSoundFile(const std::string &Path, int Channel) {
    try {
        return OpenSoundFileOrThrow(Path, Channel);
    } catch (const EToolError &Error) {
        throw EToolError(EscapeBytes(Path) + ": " + Error.Message());
    }
}

std::unique_ptr<TSampleSource> OpenSoundStream(int Descriptor, const std::string &Name,
                                               const std::optional<TRawLayout> &Raw, int Channel) {
    try {
        return OpenSoundStreamOrThrow(Descriptor, Name, Raw, Channel);
    } catch (const EToolError &Error) {
        throw EToolError(Name + ": " + Error.Message());
    }
}

std::int16_t FloatToSample16(float Value) {
    if (std::isnan(Value))
        return 0;
    const double Scaled = std::round(double(Value) * 32768.0);
    return static_cast<std::int16_t>(std::clamp(Scaled, -32768.0, 32767.0));
}
