#include "output/LineWriter.h"

#include "cli/ToolMain.h"

#include <cerrno>
#include <cstring>

TLineWriter::~TLineWriter() {
    if (FTentative)
        FBuffer.resize(FKept);
    std::fwrite(FBuffer.data(), 1, FBuffer.size(), FStream);
    std::fflush(FStream);
}

void TLineWriter::Line(std::string_view Text) {
    FBuffer.append(Text);
    FBuffer += '\n';
    if (!FTentative && FBuffer.size() >= FlushThreshold)
        Flush();
}

void TLineWriter::UrgentLine(std::string_view Text) {
    Line(Text);
    if (!FTentative)
        Flush();
}

void TLineWriter::BeginTentative() {
    FTentative = true;
    FKept = FBuffer.size();
}

void TLineWriter::KeepTentative() {
    FKept = FBuffer.size();
}

void TLineWriter::EndTentative() {
    FBuffer.resize(FKept);
    FTentative = false;
}

void TLineWriter::Flush() {
    const bool Written =
        std::fwrite(FBuffer.data(), 1, FBuffer.size(), FStream) == FBuffer.size() &&
        std::fflush(FStream) == 0;
    // Refused or not, these lines are done with: nothing is written twice.
    FBuffer.clear();
    FKept = 0;
    if (!Written)
        throw EOutputError(std::string("cannot write the output: ") + std::strerror(errno));
}
