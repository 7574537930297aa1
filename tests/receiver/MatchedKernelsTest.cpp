// Every version of the matched demodulator's kernels gives the plain version's bits.
#include "receiver/untMatchedKernels.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using TInstructions = TMatchedKernels::TInstructions;

class MatchedKernelsTest : public testing::TestWithParam<TInstructions> {
protected:
    const TMatchedKernels Plain{TInstructions::Plain};
    const TMatchedKernels Tested{GetParam()};
};

// Whatever the level, and whether a window starts aligned or not.
TEST_P(MatchedKernelsTest, CorrelatesAsThePlainWay) {
    std::mt19937 Random(3);
    for (const float Scale : {1e-3f, 1.0f, 3e4f, 3e6f}) {
        std::normal_distribution<float> Gaussian(0.0f, Scale);
        std::vector<float> Samples(TMatchedKernels::SamplesPerBit + 3);
        for (float &Sample : Samples)
            Sample = Gaussian(Random);
        TMatchedKernels::TWindowStarts Starts;
        for (std::size_t Window = 0; Window < Starts.size(); ++Window)
            Starts[Window] = Samples.data() + (Window + 1) % 4;
        const auto Expected = Plain.Correlate(Starts), Actual = Tested.Correlate(Starts);
        for (std::size_t Window = 0; Window < Starts.size(); ++Window)
            for (int Tone = 0; Tone < 2; ++Tone)
                EXPECT_EQ(Expected[Window].Tone[Tone], Actual[Window].Tone[Tone])
                    << Scale << " " << Window;
    }
}

TEST_P(MatchedKernelsTest, SumsCandidatesAsThePlainWay) {
    std::mt19937 Random(5);
    std::normal_distribution<float> Gaussian(0.0f, 1e4f);
    const auto Any = [&] { return TComplex(Gaussian(Random), Gaussian(Random)); };
    for (int Trial = 0; Trial < 20; ++Trial) {
        TCandidateTerms Terms{Any(), Trial % 2, {}, {}, {}};
        for (auto &Before : Terms.Derotation)
            Before[0] = Any(), Before[1] = Any();
        for (auto &Position : Terms.Tone)
            Position[0] = Any(), Position[1] = Any();
        for (auto &Position : Terms.ToGrid)
            Position[0] = std::polar(1.0f, Gaussian(Random)),
            Position[1] = std::polar(1.0f, Gaussian(Random));
        TCandidateSums Expected, Actual;
        Plain.SumCandidates(Terms, Expected);
        Tested.SumCandidates(Terms, Actual);
        for (int Node = 0; Node < TCandidateSums::Count; ++Node) {
            EXPECT_EQ(Expected.Re[Node], Actual.Re[Node]) << Trial << " " << Node;
            EXPECT_EQ(Expected.Im[Node], Actual.Im[Node]) << Trial << " " << Node;
            EXPECT_EQ(Expected.Norm[Node], Actual.Norm[Node]) << Trial << " " << Node;
        }
    }
}

std::string Name(const testing::TestParamInfo<TInstructions> &Info) {
    switch (Info.param) {
    case TInstructions::Plain:
        return "Plain";
    case TInstructions::Sse:
        return "Sse";
    case TInstructions::Avx:
        return "Avx";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, MatchedKernelsTest,
                         testing::ValuesIn(TMatchedKernels::Available()), Name);

} // namespace
