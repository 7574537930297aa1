#include "ReceiverProbe.h"

#include <algorithm>
#include <utility>

TReceiverProbe::TReceiverProbe(bool WithHandlers, TDemodulatorKind Demodulator)
    : Receiver(new TFFSKReceiver(nullptr, TFFSKReceiver::TOffline{}, Demodulator)) {
    if (WithHandlers)
        AssignHandlers();
}

TReceiverProbe::~TReceiverProbe() {
    Receiver->Free();
}

void TReceiverProbe::AssignHandlers() {
    using TKind = TEventRecord::TKind;
    Receiver->OnReceive = [this](TObject *Sender, bool MessIsSMS, const TRxString &Text) {
        Events.push_back({TKind::Receive, Sender, MessIsSMS, Text, 0, SamplePosition()});
    };
    Receiver->OnBitReceive = [this](TObject *Sender, const TRxString &Bits) {
        Events.push_back({TKind::Bits, Sender, false, Bits, 0, SamplePosition()});
    };
    Receiver->OnInputLevel = [this](TObject *Sender, std::int32_t Level) {
        Events.push_back({TKind::Level, Sender, false, {}, Level, SamplePosition()});
    };
}

void TReceiverProbe::FeedBuffer(const TSamples &Samples) {
    const std::vector<std::uint8_t> Bytes = PcmBytes(Samples);
    TFFSKReceiverFeed::Data(*Receiver, Bytes.data(), static_cast<std::uint32_t>(Bytes.size()));
    if (!Samples.empty())
        FLastSample = Samples.back();
}

void TReceiverProbe::FeedStream(const TSamples &Samples) {
    for (std::size_t Start = 0; Start < Samples.size(); Start += SamplesPerBuffer) {
        const auto First = Samples.begin() + static_cast<std::ptrdiff_t>(Start);
        const auto Last = First + std::min<std::ptrdiff_t>(SamplesPerBuffer, Samples.end() - First);
        TSamples Buffer(First, Last);
        Buffer.resize(SamplesPerBuffer, Buffer.back());
        FeedBuffer(Buffer);
    }
}

void TReceiverProbe::FeedQuietBuffers(int Count) {
    for (int Index = 0; Index < Count; ++Index)
        FeedBuffer(TSamples(SamplesPerBuffer, FLastSample));
}

std::vector<TEventRecord> TReceiverProbe::Messages() const {
    std::vector<TEventRecord> Result;
    std::copy_if(
        Events.begin(), Events.end(), std::back_inserter(Result),
        [](const TEventRecord &Event) { return Event.Kind == TEventRecord::TKind::Receive; });
    return Result;
}

std::string TReceiverProbe::Symbols() const {
    std::string Result;
    for (const TEventRecord &Event : Events)
        if (Event.Kind == TEventRecord::TKind::Bits)
            Result += Event.Text.back();
    return Result;
}

std::uint64_t TReceiverProbe::SamplePosition() const {
    return TFFSKReceiverFeed::SamplePosition(*Receiver);
}

std::vector<std::uint8_t> PcmBytes(const TSamples &Samples) {
    std::vector<std::uint8_t> Bytes;
    for (std::int16_t Sample : Samples) {
        const auto Value = static_cast<std::uint16_t>(Sample);
        Bytes.push_back(static_cast<std::uint8_t>(Value & 0xFF));
        Bytes.push_back(static_cast<std::uint8_t>(Value >> 8));
    }
    return Bytes;
}

void TSquareWave::AddPeriod(const std::vector<int> &FlipOffsets) {
    for (int Offset = 0; Offset < SamplesPerPeriod; ++Offset) {
        if (std::find(FlipOffsets.begin(), FlipOffsets.end(), Offset) != FlipOffsets.end())
            FLevel = static_cast<std::int16_t>(-FLevel);
        FSamples.push_back(FLevel);
    }
}

void TSquareWave::AddQuietPeriods(int Count) {
    for (int Index = 0; Index < Count; ++Index)
        AddPeriod({});
}

void TSquareWave::AddBit(int Bit) {
    if (Bit)
        AddPeriod({8, 20, 32});
    else
        AddPeriod({10, 30});
}

void TSquareWave::AddBits(const std::string &Digits) {
    for (char Digit : Digits)
        AddBit(Digit == '1');
}

void TSquareWave::AddBytes(const std::string &Bytes) {
    for (char Byte : Bytes)
        for (int Shift = 7; Shift >= 0; --Shift)
            AddBit((static_cast<std::uint8_t>(Byte) >> Shift) & 1);
}

void TSquareWave::PadToBuffer() {
    while (FSamples.size() % SamplesPerBuffer != 0)
        AddPeriod({});
}

TSamples TSquareWave::TakeSamples() {
    return std::exchange(FSamples, {});
}

TSamples FramesSignal(std::initializer_list<std::string> Payloads) {
    TSquareWave Wave;
    Wave.AddQuietPeriods(2);
    for (const std::string &Payload : Payloads)
        Wave.AddFrame(Payload);
    return Wave.TakeSamples();
}
