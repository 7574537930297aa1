#include "audio/WaveUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct TFormatRow {
    TPCMFormat Format;
    WORD Channels;
    WORD Bits;
    DWORD Rate;
};

constexpr TFormatRow FormatTable[] = {
    {Mono8Bit8000Hz, 1, 8, 8000},     {Stereo8bit8000Hz, 2, 8, 8000},
    {Mono16bit8000Hz, 1, 16, 8000},   {Stereo16bit8000Hz, 2, 16, 8000},
    {Mono8bit11025Hz, 1, 8, 11025},   {Stereo8bit11025Hz, 2, 8, 11025},
    {Mono16bit11025Hz, 1, 16, 11025}, {Stereo16bit11025Hz, 2, 16, 11025},
    {Mono8bit22050Hz, 1, 8, 22050},   {Stereo8bit22050Hz, 2, 8, 22050},
    {Mono16bit22050Hz, 1, 16, 22050}, {Stereo16bit22050Hz, 2, 16, 22050},
    {Mono8bit44100Hz, 1, 8, 44100},   {Stereo8bit44100Hz, 2, 8, 44100},
    {Mono16bit44100Hz, 1, 16, 44100}, {Stereo16bit44100Hz, 2, 16, 44100},
    {Mono8bit48000Hz, 1, 8, 48000},   {Stereo8bit48000Hz, 2, 8, 48000},
    {Mono16bit48000Hz, 1, 16, 48000}, {Stereo16bit48000Hz, 2, 16, 48000},
};

WAVEFORMATEX Garbage() {
    WAVEFORMATEX Record;
    std::memset(&Record, 0xA5, sizeof Record);
    return Record;
}

WAVEFORMATEX FormatOf(TPCMFormat Format) {
    WAVEFORMATEX Record = Garbage();
    PCMFormatToWaveFormat(Record, Format);
    return Record;
}

std::int32_t Level16(const std::vector<std::int16_t> &Samples) {
    return WavePeakLevel(Samples.data(), DWORD(Samples.size() * 2), FormatOf(Mono16bit48000Hz));
}

std::int32_t Level8(const std::vector<std::uint8_t> &Samples) {
    return WavePeakLevel(Samples.data(), DWORD(Samples.size()), FormatOf(Mono8bit48000Hz));
}

TEST(PCMFormatToWaveFormat, FillsEveryFieldOfEachTableFormat) {
    ASSERT_EQ(std::size(FormatTable), PCMFormatCount - 1);
    for (std::size_t Index = 0; Index < std::size(FormatTable); ++Index) {
        const TFormatRow &Row = FormatTable[Index];
        SCOPED_TRACE(Index);
        EXPECT_EQ(Row.Format, Index + 1);
        const WAVEFORMATEX Record = FormatOf(Row.Format);
        const WORD Block = Row.Channels * Row.Bits / 8;
        EXPECT_EQ(Record.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(Record.nChannels, Row.Channels);
        EXPECT_EQ(Record.nSamplesPerSec, Row.Rate);
        EXPECT_EQ(Record.wBitsPerSample, Row.Bits);
        EXPECT_EQ(Record.nBlockAlign, Block);
        EXPECT_EQ(Record.nAvgBytesPerSec, Block * Row.Rate);
        EXPECT_EQ(Record.cbSize, 0);
    }
}

TEST(PCMFormatToWaveFormat, NoneLeavesTheRecordUntouched) {
    const WAVEFORMATEX Before = Garbage();
    WAVEFORMATEX Record = Before;
    PCMFormatToWaveFormat(Record, nonePCM);
    EXPECT_EQ(std::memcmp(&Record, &Before, sizeof Record), 0);
}

TEST(FillPCMWaveFormat, SelectorOutOfRangeKeepsItsFieldAndDerivesTheRest) {
    WAVEFORMATEX Record = FormatOf(Stereo16bit44100Hz);
    FillPCMWaveFormat(Record, TPCMChannel(7), ss8000Hz, bps8Bit);
    EXPECT_EQ(Record.nChannels, 2);
    EXPECT_EQ(Record.nBlockAlign, 2);
    EXPECT_EQ(Record.nAvgBytesPerSec, 16000u);
}

TEST(WaveBufferSizeForDuration, RoundsHalvesUpThenAlignsToWholeBlocks) {
    EXPECT_EQ(WaveBufferSizeForDuration(FormatOf(Mono16bit48000Hz), 200), 19200u);
    EXPECT_EQ(WaveBufferSizeForDuration(FormatOf(Mono16bit8000Hz), 1000), 16000u);
    EXPECT_EQ(WaveBufferSizeForDuration(FormatOf(Mono16bit11025Hz), 10), 222u);
    EXPECT_EQ(WaveBufferSizeForDuration(FormatOf(Mono8bit11025Hz), 10), 110u);
    EXPECT_EQ(WaveBufferSizeForDuration(FormatOf(Stereo16bit48000Hz), 65535), 12582720u);
}

TEST(WavePeakLevel, SixteenBitCountsOnlyThePositiveHalf) {
    EXPECT_EQ(Level16({}), 0);
    EXPECT_EQ(Level16({-32768, -1, -20000}), 0);
    EXPECT_EQ(Level16({0, 32767, -5}), 100);
    EXPECT_EQ(Level16({16384}), 50);
    EXPECT_EQ(Level16({327}), 0);
    EXPECT_EQ(Level16({328}), 1);
    EXPECT_EQ(Level16({22937}), 70);
    EXPECT_EQ(Level16({29490}), 89);
}

// The peak is found wherever it lies, in whole blocks or in the samples after them.
TEST(WavePeakLevel, SixteenBitFindsThePeakAtAnyPlaceAndLength) {
    for (std::size_t Count : {1u, 7u, 8u, 9u, 16u, 17u, 4800u, 4807u}) {
        for (std::size_t Place : {std::size_t{0}, Count / 2, Count - 1}) {
            std::vector<std::int16_t> Samples(Count, -3000);
            Samples[Place] = 16384;
            EXPECT_EQ(Level16(Samples), 50) << Count << " samples, peak at " << Place;
        }
    }
    const std::int16_t OddTail[] = {100, 200, 300, 400, 500, 600, 700, 800, 32767};
    EXPECT_EQ(WavePeakLevel(OddTail, 17, FormatOf(Mono16bit48000Hz)), 2)
        << "the odd byte after the eighth sample is no sample";
}

TEST(WavePeakLevel, EightBitIsOffsetBinary) {
    EXPECT_EQ(Level8({}), 0);
    EXPECT_EQ(Level8({128, 128}), 0);
    EXPECT_EQ(Level8({0, 127, 5}), 0);
    EXPECT_EQ(Level8({128, 255}), 100);
    EXPECT_EQ(Level8({191}), 49);
    EXPECT_EQ(Level8({243}), 90);
}

TEST(WavePeakLevel, StereoIsScannedAsOneStream) {
    const std::vector<std::int16_t> Frames = {100, 16384, -3, 200};
    EXPECT_EQ(WavePeakLevel(Frames.data(), 8, FormatOf(Stereo16bit48000Hz)), 50);
}

TEST(WavePeakLevel, OddByteCountReadsWholeSamplesOnly) {
    // The trailing byte would be the low half of a full-scale sample if it were read
    // together with whatever lies after it.
    const std::uint8_t Bytes[] = {0x00, 0x40, 0xFF, 0x7F};
    EXPECT_EQ(WavePeakLevel(Bytes, 3, FormatOf(Mono16bit48000Hz)), 50);
    EXPECT_EQ(WavePeakLevel(Bytes, 1, FormatOf(Mono16bit48000Hz)), 0);
}

TEST(WavePeakLevel, UnsupportedFormatsGiveMinusOne) {
    const std::int16_t Loud[] = {32767};
    WAVEFORMATEX Record = FormatOf(Mono16bit48000Hz);
    Record.wFormatTag = 3; // IEEE float
    EXPECT_EQ(WavePeakLevel(Loud, 2, Record), -1);
    Record = FormatOf(Mono16bit48000Hz);
    Record.wBitsPerSample = 24;
    EXPECT_EQ(WavePeakLevel(Loud, 2, Record), -1);
}

TEST(TPCMFormats, HoldsEachFormatIndependently) {
    TPCMFormats Formats;
    EXPECT_TRUE(Formats.Empty());
    Formats.Include(Mono16bit48000Hz);
    Formats.Include(nonePCM);
    EXPECT_TRUE(Formats.Contains(Mono16bit48000Hz));
    EXPECT_FALSE(Formats.Contains(Stereo16bit48000Hz));
    Formats.Exclude(nonePCM);
    EXPECT_FALSE(Formats.Contains(nonePCM));
    EXPECT_FALSE(Formats.Empty());
}

} // namespace
