// The zero-crossing demodulator's fast path against its plain one: the same bit
// periods, at the same samples, on any input cut into buffers of any size.
#include "receiver/untCrossingDemodulator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace {

using THighByteSource = std::function<std::uint8_t(std::mt19937 &)>;

// Both paths decode the same stream in the same random cuts.
void ExpectSamePeriods(const THighByteSource &HighByte, unsigned Seed) {
    std::mt19937 Random(Seed);
    std::vector<std::uint8_t> Bytes(2 * 200000);
    for (std::size_t Index = 0; Index < Bytes.size(); Index += 2) {
        Bytes[Index] = std::uint8_t(Random());
        Bytes[Index + 1] = HighByte(Random);
    }
    TCrossingDemodulator Plain, Fast;
    std::size_t Periods = 0;
    for (std::uint32_t Start = 0, Length = 0; Start < Bytes.size() / 2; Start += Length) {
        Length = std::min<std::uint32_t>(Random() % 70 ? Random() % 9601 : Random() % 40,
                                         std::uint32_t(Bytes.size() / 2 - Start));
        const auto Expected = Plain.DemodulatePlain(Bytes.data() + 2 * Start, Length);
        ASSERT_EQ(Fast.DemodulateFast(Bytes.data() + 2 * Start, Length), Expected)
            << "seed " << Seed << ", buffer at sample " << Start;
        Periods += Expected.size();
    }
    EXPECT_GT(Periods, 4000u);
}

} // namespace

TEST(CrossingDemodulatorPaths, AgreeOnRandomAndAdversarialInput) {
    const std::vector<THighByteSource> Sources = {
        // Any sample at all.
        [](std::mt19937 &Random) { return std::uint8_t(Random()); },
        // Only the high bytes around both thresholds and the extremes.
        [](std::mt19937 &Random) {
            static const std::uint8_t Edges[] = {0, 1, 126, 127, 128, 129, 254, 255};
            return Edges[Random() % 8];
        },
        // Tones of random period, now and then a sample on the wrong side.
        [Phase = 0u, Half = 20u](std::mt19937 &Random) mutable {
            if (++Phase % 400 == 0)
                Half = 3 + Random() % 30;
            const bool Negative = (Phase / Half) % 2;
            return std::uint8_t(Random() % 25 == 0 ? Random() : Negative ? 0xC0 : 0x40);
        },
        // Long stretches of silence broken by single candidates.
        [](std::mt19937 &Random) { return std::uint8_t(Random() % 97 ? 0 : 0xFF); },
        // Sides changing after 1 to 12 samples: crossings refused as too close, and
        // candidates at every offset of a period's early part.
        [Left = 0u, Negative = false](std::mt19937 &Random) mutable {
            if (Left-- == 0) {
                Left = Random() % 12;
                Negative = !Negative;
            }
            return std::uint8_t(Negative ? 0xC0 : 0x40);
        },
        // Bursts of tone between quiet stretches of random length.
        [Left = 0u, Quiet = false, Phase = 0u](std::mt19937 &Random) mutable {
            if (Left-- == 0) {
                Left = Random() % 3000;
                Quiet = !Quiet;
            }
            return std::uint8_t(Quiet ? 0 : (++Phase / 17) % 2 ? 0xC0 : 0x40);
        },
    };
    for (unsigned Seed = 1; Seed <= 3; ++Seed)
        for (const THighByteSource &Source : Sources)
            ExpectSamePeriods(Source, Seed);
}
