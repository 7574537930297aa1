#include "tools/LineWriter.h"
#include "tools/MessageText.h"
#include "tools/ReceiverDriver.h"
#include "tools/ToolMain.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(MessageText, EveryByteValueRoundTrips) {
    std::string All;
    for (int Byte = 0; Byte < 256; ++Byte)
        All += static_cast<char>(Byte);
    const std::string Escaped = EscapeBytes(All);
    for (const char Character : Escaped)
        EXPECT_TRUE(Character >= 0x20 && Character <= 0x7E);
    EXPECT_EQ(UnescapeBytes(Escaped), All);
}

TEST(MessageText, NotationIsExact) {
    EXPECT_EQ(EscapeBytes(std::string("a\\b\0\x7f\xff~ ", 8)), "a\\\\b\\x00\\x7f\\xff~ ");
    EXPECT_EQ(UnescapeBytes("\\x4A\\x4b\\\\x"), "JK\\x");
    for (const char *Bad : {"\\", "a\\x", "\\x4", "\\x4g", "\\n", "\\X41"})
        EXPECT_THROW(UnescapeBytes(Bad), EToolError) << Bad;
}

TEST(FormatSamplePosition, RoundsToTheNearestMillisecond) {
    EXPECT_EQ(FormatSamplePosition(0), "0.000");
    EXPECT_EQ(FormatSamplePosition(19200), "0.400");
    EXPECT_EQ(FormatSamplePosition(23), "0.000");
    EXPECT_EQ(FormatSamplePosition(24), "0.001");
    EXPECT_EQ(FormatSamplePosition(48000ull * 3725 + 47999), "3726.000");
}

class LineWriterTest : public testing::Test {
protected:
    ~LineWriterTest() override { std::fclose(Stream); }
    std::string Written() {
        std::rewind(Stream);
        std::string Text;
        for (int Character; (Character = std::fgetc(Stream)) != EOF;)
            Text += static_cast<char>(Character);
        return Text;
    }
    std::FILE *Stream = std::tmpfile();
};

TEST_F(LineWriterTest, TentativeLinesAreKeptOnlyUpToTheLastKeep) {
    TLineWriter Writer(Stream);
    Writer.Line("sure");
    Writer.BeginTentative();
    Writer.Line("a");
    Writer.KeepTentative();
    Writer.Line("b");
    Writer.EndTentative();
    Writer.Line("after");
    Writer.Flush();
    EXPECT_EQ(Written(), "sure\na\nafter\n");
}

TEST_F(LineWriterTest, LongOutputIsNotHeldBackOutsideTentativeMode) {
    TLineWriter Writer(Stream);
    const std::string Line(1000, 'x');
    for (int Count = 0; Count < 100; ++Count)
        Writer.Line(Line);
    EXPECT_GT(Written().size(), 50000u);
}

} // namespace
