#include "receiver/untFFSKReceiver.h"

#include "receiver/untCrossingDemodulator.h"
#include "receiver/untMatchedDemodulator.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::uint32_t BytesPerSample = 2;
constexpr std::uint32_t SamplesPerBuffer = 9600; // 200 ms at 48 000 Hz

constexpr std::uint16_t SyncWord = 0x3B28; // ";("
constexpr std::size_t PayloadBytes = 8;
constexpr std::size_t HeaderLength = 4;
// A transmitter stuck on would grow one message without bound: it is delivered,
// as its time-out would, once it holds this many bytes.
constexpr std::size_t MaxMessageLength = 65536;

char SymbolOf(const TCrossingPeriod &Period) {
    return Period.Symbol;
}

char SymbolOf(const TMatchedPeriod &Period) {
    return Period.Bit < 0 ? '-' : char('0' + Period.Bit);
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

TFFSKReceiver::TFFSKReceiver(TComponent *AOwner, TOffline, TDemodulatorKind Demodulator)
    : TComponent(AOwner) {
    if (Demodulator == TDemodulatorKind::Matched)
        FMatched = std::make_unique<TMatchedDemodulator>();
    else
        FCrossing = std::make_unique<TCrossingDemodulator>();
    FBitTrace.reserve(TraceLength);
}

TFFSKReceiver::~TFFSKReceiver() {
    // The buffers the device hands back while it closes are still decoded, so the
    // fields stay intact until the recorder is gone.
    if (FCloseRecorder)
        FCloseRecorder();
}

void TFFSKReceiver::RecorderData(TObject *, const void *Buffer, std::uint32_t BufferSize, bool &) {
    // A partly recorded buffer is decoded only as far as it was recorded: the rest
    // of its storage still holds an older buffer's samples.
    const std::uint32_t SampleCount =
        Buffer ? std::min(BufferSize / BytesPerSample, SamplesPerBuffer) : 0;
    const auto *Bytes = static_cast<const std::uint8_t *>(Buffer);
    const std::uint64_t BufferStart = FSamplePosition;
    if (FMatched)
        TakePeriods(FMatched->Demodulate(Bytes, SampleCount));
    else
        TakePeriods(FCrossing->Demodulate(Bytes, SampleCount));
    FSamplePosition = BufferStart + SampleCount;
    CountQuietBuffer();
}

void TFFSKReceiver::RecorderLevel(TObject *, std::int32_t Level) {
    if (OnInputLevel)
        OnInputLevel(this, Level);
}

// The bit, if any, then the symbol of each period, at the sample that closed it.
template <typename TPeriods> void TFFSKReceiver::TakePeriods(const TPeriods &Periods) {
    const std::uint64_t BufferStart = FSamplePosition;
    for (const auto &Period : Periods) {
        FSamplePosition = BufferStart + Period.SampleIndex + 1;
        if (Period.Bit >= 0)
            PushBit(Period.Bit);
        AddBitSymbol(SymbolOf(Period));
    }
}

void TFFSKReceiver::AddBitSymbol(char Symbol) {
    FTraceRing[FTraceNext++] = Symbol;
    if (FTraceNext == TraceLength) {
        FTraceNext = 0;
        FTraceFull = true;
    }
    if (!OnBitReceive)
        return;
    // Oldest first: the part after the newest symbol, then the part up to it.
    FBitTrace.assign(FTraceRing + FTraceNext, FTraceFull ? TraceLength - FTraceNext : 0);
    FBitTrace.append(FTraceRing, FTraceNext);
    OnBitReceive(this, FBitTrace);
}

void TFFSKReceiver::PushBit(int Bit) {
    // One 80-bit number: the oldest bit leaves at the top.
    FShiftHigh = static_cast<std::uint16_t>((FShiftHigh << 1) | (FShiftLow >> 63));
    FShiftLow = (FShiftLow << 1) | std::uint64_t(Bit);
    if (FShiftHigh != SyncWord)
        return;
    FFrameText.clear();
    for (std::size_t Index = PayloadBytes; Index-- > 0;)
        FFrameText.push_back(static_cast<char>(FShiftLow >> (8 * Index)));
    FShiftLow = 0;
    FShiftHigh = 0;
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
