#include "receiver/untFFSKReceiver.h"

#include "receiver/SignalEstimator.h"
#include "receiver/untCrossingDemodulator.h"
#include "receiver/untMatchedDemodulator.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::uint32_t BytesPerSample = 2;
constexpr std::uint32_t SamplesPerBuffer = 9600; // 200 ms at 48 000 Hz

constexpr std::uint16_t SyncWord = 0x3B28; // ";("
constexpr const char *SyncBytes = ";(";
constexpr std::size_t PayloadBytes = 8;
constexpr std::size_t HeaderLength = 4;
// Bit periods from the end of a bit to the close of the period that hands it over: the
// matched demodulator decides over the bits after it and confirms a run of them
// (measured on a clean signal: 1 088 samples); the zero-crossing one closes a period a
// few samples after the bit's end (4).
constexpr double MatchedDecisionBits = 27.2, CrossingDecisionBits = 0.1;
// A transmitter stuck on would grow one message without bound: it is delivered,
// as its time-out would, once it holds this many bytes.
constexpr std::size_t MaxMessageLength = 65536;

char SymbolOf(const TCrossingPeriod &Period) {
    return Period.Symbol;
}

char SymbolOf(const TMatchedPeriod &Period) {
    return Period.Bit < 0 ? '-' : char('0' + Period.Bit);
}

// One 80-bit number in two words: the oldest bit leaves at the top.
void ShiftIn(std::uint16_t &High, std::uint64_t &Low, int Bit) {
    High = static_cast<std::uint16_t>((High << 1) | (Low >> 63));
    Low = (Low << 1) | std::uint64_t(Bit);
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
    SetDemodulator(Demodulator);
    FBitTrace.reserve(TraceLength);
}

void TFFSKReceiver::SetDemodulator(TDemodulatorKind Demodulator) {
    FCrossing.reset();
    FMatched.reset();
    if (Demodulator == TDemodulatorKind::Matched)
        FMatched = std::make_unique<TMatchedDemodulator>();
    else
        FCrossing = std::make_unique<TCrossingDemodulator>();
    FShiftLow = 0;
    FShiftHigh = 0;
    if (FEstimator)
        SetReporting(true);
}

void TFFSKReceiver::SetReporting(bool Reporting) {
    FEstimator.reset();
    FMessageReport.reset();
    if (Reporting)
        FEstimator = std::make_unique<TSignalEstimator>(FMatched ? MatchedDecisionBits
                                                                 : CrossingDecisionBits);
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
    if (FEstimator)
        FEstimator->BeginBuffer(Bytes, SampleCount, BufferStart);
    if (FMatched)
        TakePeriods(FMatched->Demodulate(Bytes, SampleCount));
    else
        TakePeriods(FCrossing->Demodulate(Bytes, SampleCount));
    FSamplePosition = BufferStart + SampleCount;
    if (FEstimator)
        FEstimator->EndBuffer();
    CountQuietBuffer(SampleCount);
}

void TFFSKReceiver::RecorderLevel(TObject *, std::int32_t Level) {
    if (OnInputLevel)
        OnInputLevel(this, Level);
}

// The bit, if any, then the symbol of each period, at the sample that closed it.
// Until someone asks for the bit trace, only a completed sync word needs attention
// between periods: the register runs in locals up to it, and the ring takes the
// symbols before it in one go.
template <typename TPeriods> void TFFSKReceiver::TakePeriods(const TPeriods &Periods) {
    const std::uint64_t BufferStart = FSamplePosition;
    std::size_t Next = 0;
    while (Next < Periods.size() && !OnBitReceive) {
        const std::size_t Synced = ShiftUntilSync(Periods, Next);
        TraceSymbols(Periods, Next, Synced);
        if (Synced == Periods.size())
            return;
        FSamplePosition = BufferStart + Periods[Synced].SampleIndex + 1;
        TakeSyncedFrame();
        AddBitSymbol(SymbolOf(Periods[Synced]));
        Next = Synced + 1;
    }
    for (; Next < Periods.size(); ++Next) {
        const auto &Period = Periods[Next];
        FSamplePosition = BufferStart + Period.SampleIndex + 1;
        if (Period.Bit >= 0 && ShiftBit(Period.Bit))
            TakeSyncedFrame();
        AddBitSymbol(SymbolOf(Period));
    }
}

// The index of the period whose bit completes a sync word, or the number of periods.
template <typename TPeriods>
std::size_t TFFSKReceiver::ShiftUntilSync(const TPeriods &Periods, std::size_t From) {
    std::uint64_t Low = FShiftLow;
    std::uint16_t High = FShiftHigh;
    std::size_t Index = From;
    for (; Index < Periods.size(); ++Index) {
        if (Periods[Index].Bit < 0)
            continue;
        ShiftIn(High, Low, Periods[Index].Bit);
        if (High == SyncWord)
            break;
    }
    FShiftLow = Low;
    FShiftHigh = High;
    return Index;
}

// Only the newest TraceLength symbols can still be seen.
template <typename TPeriods>
void TFFSKReceiver::TraceSymbols(const TPeriods &Periods, std::size_t From, std::size_t To) {
    for (std::size_t Index = std::max(From, To - std::min(To, TraceLength)); Index < To; ++Index)
        TraceSymbol(SymbolOf(Periods[Index]));
}

void TFFSKReceiver::TraceSymbol(char Symbol) {
    FTraceRing[FTraceNext++] = Symbol;
    if (FTraceNext == TraceLength) {
        FTraceNext = 0;
        FTraceFull = true;
    }
}

void TFFSKReceiver::AddBitSymbol(char Symbol) {
    TraceSymbol(Symbol);
    if (!OnBitReceive)
        return;
    // Oldest first: the part after the newest symbol, then the part up to it.
    FBitTrace.assign(FTraceRing + FTraceNext, FTraceFull ? TraceLength - FTraceNext : 0);
    FBitTrace.append(FTraceRing, FTraceNext);
    OnBitReceive(this, FBitTrace);
}

// True when the register then holds a sync word and a frame.
bool TFFSKReceiver::ShiftBit(int Bit) {
    ShiftIn(FShiftHigh, FShiftLow, Bit);
    return FShiftHigh == SyncWord;
}

void TFFSKReceiver::TakeSyncedFrame() {
    FFrameText.clear();
    for (std::size_t Index = PayloadBytes; Index-- > 0;)
        FFrameText.push_back(static_cast<char>(FShiftLow >> (8 * Index)));
    FShiftLow = 0;
    FShiftHigh = 0;
    TakeFrame();
    if (FEstimator)
        FEstimator->TakeFrame(FSamplePosition, SyncBytes + FFrameText);
    FMessagePending = true;
    FQuietSamples = 0;
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
        BeginMessage();
        (IsSMSHeader ? FSMSText : FLOCText) = FFrameText;
        FMessIsSMS = IsSMSHeader;
        FMessageHeaded = true;
    } else {
        if (!FMessagePending) {
            BeginMessage();
            FMessageHeaded = false;
        }
        (FMessIsSMS ? FSMSText : FLOCText) += FFrameText;
    }
}

void TFFSKReceiver::BeginMessage() {
    if (FEstimator)
        FEstimator->BeginMessage();
}

void TFFSKReceiver::FlushMessage() {
    TRxString &Text = FMessIsSMS ? FSMSText : FLOCText;
    Text.erase(0, HeaderLength); // whatever the first 4 characters are
    if (FEstimator)
        FMessageReport = FEstimator->Estimate();
    if (OnReceive)
        OnReceive(this, FMessIsSMS, Text);
    Text.clear();
}

// A message ends at the second buffer end without a new frame (the buffer of its last
// frame counts as the first). A short buffer, as the last one when recording stops,
// counts only for the samples it holds: a frame completed after it still joins its
// message instead of starting one without a header.
void TFFSKReceiver::CountQuietBuffer(std::uint32_t SampleCount) {
    if (!FMessagePending)
        return;
    FQuietSamples += SampleCount;
    if (FQuietSamples >= 2 * SamplesPerBuffer) {
        FMessagePending = false;
        FlushMessage();
    }
}
