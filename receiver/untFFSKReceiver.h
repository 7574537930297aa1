#pragma once

#include "platform/Component.h"
#include "receiver/SignalReport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TLiveAudioRecorder;
class TCrossingDemodulator;
class TMatchedDemodulator;
class TSignalEstimator;

// Received text: bytes as they came, NUL included, never converted.
using TRxString = std::string;

// The receiver's events; the receiver passes itself as Sender.
using TDataReiceiveEvent =
    std::function<void(TObject *Sender, bool MessIsSMS, const TRxString &RxString)>;
using TBitReiceiveEvent = std::function<void(TObject *Sender, const TRxString &Bits)>;
using TAudioLevelEvent = std::function<void(TObject *Sender, std::int32_t Level)>;

// The bit source a receiver is made with: counting zero crossings (the default) or
// correlating against the tones, which holds up in noise and on detuned signals.
enum class TDemodulatorKind { Crossing, Matched };
// "crossing" or "matched", as the programs' --demodulator option names them.
std::optional<TDemodulatorKind> DemodulatorNamed(std::string_view Name);

// Turns 1 200-baud FFSK in 16-bit, 48 000 Hz mono sample buffers into messages.
class TFFSKReceiver : public TComponent {
public:
    // Starts receiving from the preferred sound input before it returns.
    explicit TFFSKReceiver(TComponent *AOwner,
                           TDemodulatorKind Demodulator = TDemodulatorKind::Crossing);

    // Decodes only what is handed to it: opens no sound input (tools and tests).
    struct TOffline {};
    TFFSKReceiver(TComponent *AOwner, TOffline,
                  TDemodulatorKind Demodulator = TDemodulatorKind::Crossing);

    // Decodes with the other bit source from the next buffer on; call it between
    // buffers, on the thread that hands them over. A frame that is being received is
    // lost: no frame joins the bits of two sources.
    void SetDemodulator(TDemodulatorKind Demodulator);

    TAudioLevelEvent OnInputLevel;
    TBitReiceiveEvent OnBitReceive;
    TDataReiceiveEvent OnReceive;

    // Asked by an OnReceive handler: whether the message began with its "SMS>" or
    // "LOC>" frame. One that did not (its header was lost, or noise or other data made
    // its frames) is delivered all the same, as the kind before it and without its
    // first four characters, but may well be no message at all.
    bool MessageHeaded() const { return FMessageHeaded; }

    // Measures each delivered message on air (off by default: it then costs nothing).
    // Call it between buffers, as SetDemodulator; a message being received when it is
    // switched on is measured on its frames from then on.
    void SetReporting(bool Reporting);
    // Asked by an OnReceive handler: the signal report of the message, when reporting
    // is on and its audio could be fitted.
    const std::optional<TSignalReport> &MessageReport() const { return FMessageReport; }

protected:
    ~TFFSKReceiver() override;

private:
    friend class TFFSKReceiverFeed; // the seam through which tools and tests feed it

    void RecorderData(TObject *Sender, const void *Buffer, std::uint32_t BufferSize, bool &FreeIt);
    void RecorderLevel(TObject *Sender, std::int32_t Level);

    // The bits and trace symbols of a buffer's closed bit periods, in order.
    template <typename TPeriods> void TakePeriods(const TPeriods &Periods);
    template <typename TPeriods>
    std::size_t ShiftUntilSync(const TPeriods &Periods, std::size_t From);
    template <typename TPeriods>
    void TraceSymbols(const TPeriods &Periods, std::size_t From, std::size_t To);
    void TraceSymbol(char Symbol);
    void AddBitSymbol(char Symbol);
    bool ShiftBit(int Bit);
    void TakeSyncedFrame();
    void TakeFrame();
    void BeginMessage();
    void FlushMessage();
    void CountQuietBuffer(std::uint32_t SampleCount);

    TLiveAudioRecorder *FRecorder = nullptr;
    // Set with the recorder: stops and frees it.
    std::function<void()> FCloseRecorder;
    // Exactly one of the bit sources is set.
    std::unique_ptr<TCrossingDemodulator> FCrossing;
    std::unique_ptr<TMatchedDemodulator> FMatched;
    // Set while reporting is on.
    std::unique_ptr<TSignalEstimator> FEstimator;
    std::optional<TSignalReport> FMessageReport; // of the message being delivered
    bool FMessagePending = false;
    bool FMessIsSMS = false;
    bool FMessageHeaded = false; // of the message being built
    // The last 80 bits received, newest in bit 0 of FShiftLow.
    std::uint64_t FShiftLow = 0;
    std::uint16_t FShiftHigh = 0;
    // Samples of the buffers that ended since the last frame, its own included.
    std::uint64_t FQuietSamples = 0;
    TRxString FFrameText;
    TRxString FSMSText;
    TRxString FLOCText;
    // The newest trace symbols in a ring; spelt out only for an OnBitReceive handler.
    static constexpr std::size_t TraceLength = 40;
    char FTraceRing[TraceLength] = {};
    std::size_t FTraceNext = 0; // where the next symbol goes
    bool FTraceFull = false;
    TRxString FBitTrace;
    // Samples decoded so far; brought up to date whenever an event can fire.
    std::uint64_t FSamplePosition = 0;
};

// The only way in from outside the live recorder: hands buffers and levels to a
// receiver exactly as the recorder does.
class TFFSKReceiverFeed {
public:
    static void Data(TFFSKReceiver &Receiver, const void *Buffer, std::uint32_t BufferSize) {
        bool FreeIt = true;
        Receiver.RecorderData(nullptr, Buffer, BufferSize, FreeIt);
    }
    static void Level(TFFSKReceiver &Receiver, std::int32_t Level) {
        Receiver.RecorderLevel(nullptr, Level);
    }
    // Samples decoded up to and including the one that made the current event fire;
    // at a message delivered by a buffer end, every sample of that buffer.
    static std::uint64_t SamplePosition(const TFFSKReceiver &Receiver) {
        return Receiver.FSamplePosition;
    }
};
