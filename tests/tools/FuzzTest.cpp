#include "TestRecordings.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <random>
#include <string_view>

namespace {

// Whatever the bytes, as a file or on standard input, zel-decode either decodes (exit 0, silent
// stderr) or refuses with one line (exit 2); it never dies of a signal.
void ExpectHandled(const TToolResult &Result) {
    for (std::string_view Line : SplitLines(Result.Output)) {
        if (Line.starts_with("headerless "))
            Line.remove_prefix(11);
        EXPECT_TRUE(Line.starts_with("SMS ") || Line.starts_with("LOC ")) << Line;
    }
    if (Result.ExitCode == 0) {
        EXPECT_EQ(Result.Errors, "");
        return;
    }
    ASSERT_EQ(Result.ExitCode, 2) << Result.Errors;
    const std::vector<std::string> Lines = SplitLines(Result.Errors);
    ASSERT_EQ(Lines.size(), 1u) << Result.Errors;
    EXPECT_TRUE(Lines[0].starts_with("zel-decode: "));
}

std::string Damaged(std::string Bytes, std::mt19937 &Random) {
    std::uniform_int_distribution<int> Kind(0, 3), Byte(0, 255);
    auto Position = [&](std::size_t Limit) {
        return std::uniform_int_distribution<std::size_t>(0, Limit - 1)(Random);
    };
    switch (Kind(Random)) {
    case 0: // truncated anywhere
        return Bytes.substr(0, Position(Bytes.size()));
    case 1: // a few random bytes in the header region
        for (int Count = 1 + Position(8); Count > 0; --Count)
            Bytes[Position(std::min<std::size_t>(Bytes.size(), 96))] = char(Byte(Random));
        return Bytes;
    case 2: // a header field replaced by an extreme value
    {
        const std::size_t Field = Position(std::min<std::size_t>(Bytes.size() - 4, 92));
        const char Extreme = Position(2) ? char(0xFF) : char(0);
        for (int Offset = 0; Offset < 4; ++Offset)
            Bytes[Field + Offset] = Offset == 3 && Extreme ? char(0x7F) : Extreme;
        return Bytes;
    }
    default: // random bytes anywhere, random tail
        for (int Count = 1 + Position(32); Count > 0; --Count)
            Bytes[Position(Bytes.size())] = char(Byte(Random));
        return Bytes.substr(0, Bytes.size() - Position(64));
    }
}

// A short recording in each container the decoder meets most: plain WAV, FLAC and
// WAVE_FORMAT_EXTENSIBLE with float samples; and a MIDI sample dump, whose reader
// once printed on stdout.
std::vector<std::string> FuzzBases(const TScratchDir &Scratch) {
    const std::vector<float> Signal = ToFloat(Traffic({"SMS>fuzz"}, 4800));
    std::vector<std::string> Bases;
    for (const int Format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                             SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, SF_FORMAT_SDS | SF_FORMAT_PCM_16}) {
        WriteRecording(Scratch.File("base"), {Signal}, 48000, Format);
        Bases.push_back(Scratch.Read("base"));
    }
    return Bases;
}

TEST(DecoderFuzz, DamagedRecordingsAreDecodedOrRefused) {
    TScratchDir Scratch;
    std::mt19937 Random(4711);
    int Case = 0;
    for (const std::string &Base : FuzzBases(Scratch)) {
        for (int Round = 0; Round < 100; ++Round, ++Case) {
            const std::string Name = "case" + std::to_string(Case);
            const std::string Bytes = Damaged(Base, Random);
            Scratch.Write(Name, Bytes);
            SCOPED_TRACE(Name);
            ExpectHandled(RunTool(ZEL_DECODE, {Scratch.File(Name).string()}));
            // Read as a stream, and with each message's signal report.
            ExpectHandled(RunTool(ZEL_DECODE, {"--report", "-"}, Bytes));
            if (HasFatalFailure())
                return;
        }
    }
}

// Inputs that once went wrong, kept as they were found.
TEST(DecoderFuzz, KeptRegressionCases) {
    const std::filesystem::path Cases = ZEL_FUZZ_CASES;
    for (const auto &Entry : std::filesystem::directory_iterator(Cases)) {
        SCOPED_TRACE(Entry.path().filename().string());
        ExpectHandled(RunTool(ZEL_DECODE, {Entry.path().string()}));
    }
}

} // namespace
