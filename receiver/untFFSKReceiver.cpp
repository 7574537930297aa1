#include "receiver/untFFSKReceiver.h"

#include "audio/WaveRecorders.h"
#include "receiver/untMatchedDemodulator.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::uint32_t BytesPerSample = 2;
constexpr std::uint32_t SamplesPerBuffer = 9600; // 200 ms at 48 000 Hz
constexpr std::int32_t BitPeriod = 40;           // samples per bit at 1 200 baud
// Crossings closer than this belong to frequencies above 2 400 Hz.
constexpr std::int32_t MinCrossingSpacing = 10;
// A crossing this early in a period pulls the period's end towards it.
constexpr std::int32_t PhaseAdvanceClock = 7;
// After mirroring a sample to the awaited side, its high byte must exceed this.
constexpr std::uint8_t CandidateThreshold = 128;
constexpr std::size_t TraceLength = 40;

constexpr std::uint8_t FirstSyncByte = 0x3B;  // ';'
constexpr std::uint8_t SecondSyncByte = 0x28; // '('
constexpr std::size_t ShiftRegBytes = 10;
constexpr std::size_t PayloadBytes = 8;
constexpr std::size_t HeaderLength = 4;
// A transmitter stuck on would grow one message without bound: it is delivered,
// as its time-out would, once it holds this many bytes.
constexpr std::size_t MaxMessageLength = 65536;

// What a bit period's crossing count means: the bit (or none), the trace symbol and
// the count the next period starts from.
struct TPeriodDecision {
    int Bit; // -1: no bit
    char Symbol;
    std::int32_t Carry;
};

TPeriodDecision DecidePeriod(std::int32_t Crossings) {
    switch (Crossings) {
    case 4: // a 1 whose last crossing already belongs to the next period
        return {1, '^', 1};
    case 3:
        return {1, '1', 0};
    case 2:
        return {0, '0', 0};
    case 1: // a 0 whose second crossing falls into the next period
        return {0, '_', -1};
    default:
        return {-1, '-', 0};
    }
}

bool HasHeader(const TRxString &Text, const char *Header) {
    return Text.compare(0, HeaderLength, Header) == 0;
}

} // namespace

std::optional<TDemodulatorKind> DemodulatorNamed(std::string_view Name) {
    if (Name == "crossing")
        return TDemodulatorKind::Crossing;
    if (Name == "matched")
        return TDemodulatorKind::Matched;
    return std::nullopt;
}

TFFSKReceiver::TFFSKReceiver(TComponent *AOwner, TDemodulatorKind Demodulator)
    : TFFSKReceiver(AOwner, TOffline{}, Demodulator) {
    // Configured before it is activated: an open recorder refuses a format change.
    FRecorder = new TLiveAudioRecorder(this);
    FRecorder->SetAsync(false);
    FRecorder->SetBufferCount(2);
    FRecorder->SetBufferLength(200);
    FRecorder->SetPCMFormat(Mono16bit48000Hz);
    FRecorder->OnLevel = [this](TObject *Sender, std::int32_t Level) {
        RecorderLevel(Sender, Level);
    };
    FRecorder->OnData = [this](TObject *Sender, const void *Buffer, DWORD BufferSize,
                               bool &FreeIt) { RecorderData(Sender, Buffer, BufferSize, FreeIt); };
    // A missing input or a refused format throws out of here; a busy device does not.
    FRecorder->SetActive(true);
}

TFFSKReceiver::TFFSKReceiver(TComponent *AOwner, TOffline, TDemodulatorKind Demodulator)
    : TComponent(AOwner) {
    if (Demodulator == TDemodulatorKind::Matched)
        FMatched = std::make_unique<TMatchedDemodulator>();
    // One spare character: the newest symbol is appended before the oldest goes.
    FBitTrace.reserve(TraceLength + 1);
}

TFFSKReceiver::~TFFSKReceiver() {
    if (!FRecorder)
        return;
    // The buffers the device hands back while it closes are still decoded, so the
    // fields stay intact until the recorder is gone.
    FRecorder->SetActive(false);
    FreeAndNil(FRecorder);
}

void TFFSKReceiver::RecorderData(TObject *, const void *Buffer, std::uint32_t BufferSize, bool &) {
    // A partly recorded buffer is decoded only as far as it was recorded: the rest
    // of its storage still holds an older buffer's samples.
    const std::uint32_t SampleCount =
        Buffer ? std::min(BufferSize / BytesPerSample, SamplesPerBuffer) : 0;
    const auto *Bytes = static_cast<const std::uint8_t *>(Buffer);
    const std::uint64_t BufferStart = FSamplePosition;
    if (FMatched)
        DemodulateMatched(Bytes, SampleCount);
    else
        for (std::uint32_t Index = 0; Index < SampleCount; ++Index) {
            // Little-endian: the second byte of each sample is its high byte.
            if (DemodulateSample(Bytes[Index * BytesPerSample + 1])) {
                FSamplePosition = BufferStart + Index + 1;
                EndBitPeriod();
            }
        }
    FSamplePosition = BufferStart + SampleCount;
    CountQuietBuffer();
}

void TFFSKReceiver::RecorderLevel(TObject *, std::int32_t Level) {
    if (OnInputLevel)
        OnInputLevel(this, Level);
}

// The per-sample step; true when the sample ends a bit period.
bool TFFSKReceiver::DemodulateSample(std::uint8_t HighByte) {
    // Saturates: only "at least MinCrossingSpacing" matters, and digital silence
    // must not overflow it.
    if (FSinceCrossing < MinCrossingSpacing)
        ++FSinceCrossing;
    // Mirroring turns "high byte below 127" (awaiting the non-negative side) into
    // "above 128", so one comparison serves both sides.
    const std::uint8_t Mirrored = FPolarity ? 0xFF - HighByte : HighByte;
    if (Mirrored > CandidateThreshold)
        DoCrossing();
    return ++FBitClock >= BitPeriod;
}

void TFFSKReceiver::DoCrossing() {
    if (FSinceCrossing >= MinCrossingSpacing) {
        ++FCrossings;
        FSinceCrossing = 0;
        FPolarity = !FPolarity;
    }
    // Even a rejected crossing shows where the bit boundary lies.
    if (FBitClock < PhaseAdvanceClock)
        FBitClock = PhaseAdvanceClock;
}

void TFFSKReceiver::EndBitPeriod() {
    FBitClock = 0;
    const TPeriodDecision Decision = DecidePeriod(FCrossings);
    if (Decision.Bit >= 0)
        PushBit(Decision.Bit);
    AddBitSymbol(Decision.Symbol);
    FCrossings = Decision.Carry;
}

// The same events as the zero-crossing periods give: the bit, if any, then the symbol.
void TFFSKReceiver::DemodulateMatched(const std::uint8_t *Bytes, std::uint32_t Count) {
    const std::uint64_t BufferStart = FSamplePosition;
    for (const TMatchedPeriod &Period : FMatched->Demodulate(Bytes, Count)) {
        FSamplePosition = BufferStart + Period.SampleIndex + 1;
        if (Period.Bit >= 0)
            PushBit(Period.Bit);
        AddBitSymbol(Period.Bit < 0 ? '-' : char('0' + Period.Bit));
    }
}

void TFFSKReceiver::AddBitSymbol(char Symbol) {
    FBitTrace.push_back(Symbol);
    if (FBitTrace.size() > TraceLength)
        FBitTrace.erase(0, 1);
    if (OnBitReceive)
        OnBitReceive(this, FBitTrace);
}

void TFFSKReceiver::PushBit(int Bit) {
    // One 80-bit number, byte 9 most significant: the oldest bit leaves at the top.
    for (std::size_t Index = ShiftRegBytes - 1; Index > 0; --Index)
        FShiftReg[Index] =
            static_cast<std::uint8_t>((FShiftReg[Index] << 1) | (FShiftReg[Index - 1] >> 7));
    FShiftReg[0] = static_cast<std::uint8_t>((FShiftReg[0] << 1) | Bit);

    if (FShiftReg[9] != FirstSyncByte || FShiftReg[8] != SecondSyncByte)
        return;
    FFrameText.clear();
    for (std::size_t Index = PayloadBytes; Index-- > 0;)
        FFrameText.push_back(static_cast<char>(FShiftReg[Index]));
    std::fill(std::begin(FShiftReg), std::end(FShiftReg), 0);
    TakeFrame();
    FMessagePending = true;
    FQuietBuffers = 0;
    if ((FMessIsSMS ? FSMSText : FLOCText).size() >= HeaderLength + MaxMessageLength) {
        FMessagePending = false;
        FlushMessage();
    }
}

void TFFSKReceiver::TakeFrame() {
    const bool IsSMSHeader = HasHeader(FFrameText, "SMS>");
    if (IsSMSHeader || HasHeader(FFrameText, "LOC>")) {
        if (FMessagePending)
            FlushMessage();
        (IsSMSHeader ? FSMSText : FLOCText) = FFrameText;
        FMessIsSMS = IsSMSHeader;
    } else {
        (FMessIsSMS ? FSMSText : FLOCText) += FFrameText;
    }
}

void TFFSKReceiver::FlushMessage() {
    TRxString &Text = FMessIsSMS ? FSMSText : FLOCText;
    Text.erase(0, HeaderLength); // whatever the first 4 characters are
    if (OnReceive)
        OnReceive(this, FMessIsSMS, Text);
    Text.clear();
}

// A message ends once two buffer ends have passed without a new frame.
void TFFSKReceiver::CountQuietBuffer() {
    if (!FMessagePending)
        return;
    ++FQuietBuffers;
    if (FQuietBuffers > 1) {
        FMessagePending = false;
        FlushMessage();
    }
}
