#pragma once

// Buffered line output. Lines can be written tentatively and later kept up to a
// point or dropped, for output whose relevance is known only afterwards.

#include <cstdio>
#include <string>
#include <string_view>

class TLineWriter {
public:
    explicit TLineWriter(std::FILE *Stream) : FStream(Stream) {}
    // Writes the lines still held (but no tentative line not kept), as when a decode
    // ends on an error: what was decoded before it is not lost. A write error is
    // ignored here.
    ~TLineWriter();
    TLineWriter(const TLineWriter &) = delete;
    TLineWriter &operator=(const TLineWriter &) = delete;

    void Line(std::string_view Text);
    // A line someone may be waiting for: written at once, with every line before it,
    // unless it is tentative.
    void UrgentLine(std::string_view Text);
    // Lines from here on are held back until KeepTentative or EndTentative.
    void BeginTentative();
    // Keeps every line written so far.
    void KeepTentative();
    // Drops the tentative lines not kept and ends the tentative mode.
    void EndTentative();
    // Writes what is buffered; EToolError when the stream refuses it.
    void Flush();

private:
    static constexpr std::size_t FlushThreshold = 1 << 16;

    std::FILE *FStream;
    std::string FBuffer;
    bool FTentative = false;
    std::size_t FKept = 0;
};
