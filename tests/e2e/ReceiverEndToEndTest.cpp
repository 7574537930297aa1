// The whole receiver on a real sound input: the main window, its receiver and their
// recorder record through ALSA what paplay plays into the private sound server, and show
// it as the user sees it, in time.

#include "gui/Forms.h"
#include "gui/guiZELTextReceiverMain.h"
#include "platform/MessageServices.h"
#include "signal/FFSKEncoder.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// The window's receiver, reached from outside to watch what it hands the window.
class TfrmZELTextReceiverMainProbe {
public:
    static TFFSKReceiver *Receiver(const TfrmZELTextReceiverMain &Form) { return Form.FReceiver; }
};

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using TSeconds = std::chrono::duration<double>;

// The recording as zel-encode lays it out: for each message a preamble, its frames of
// 80 bits, a tail and a quiet gap, 40 samples per bit. The sound server loses the first moments
// of a new playback stream (it renders them into what its monitor has already sent), so
// the preamble is long enough to give them up: half a second.
constexpr int PreambleBits = 600;
constexpr int TailBits = 8;
constexpr int GapMs = 500;
constexpr int FrameBits = 80;
constexpr double Amplitude = 0.5;
const std::vector<std::string> Messages = {"SMS>HELLO>>WORLD", "LOC>4807N01134E",
                                           "SMS>RECEIVED END TO END"};

constexpr std::int64_t BufferSamples = ffsk::SampleRate / 5; // 200 ms

// A message is shown once two buffer ends have passed after its last frame.
constexpr TSeconds DeliveryBound = 400ms;
// How much later than the quickest one any buffer may reach the receiver: the sound
// server, ALSA's client thread and this thread share two cores with other tests, and
// under the sanitizers every step takes a few times longer.
#if defined(__SANITIZE_ADDRESS__)
constexpr TSeconds LatencyVariation = 250ms;
#else
constexpr TSeconds LatencyVariation = 150ms;
#endif

// Sample offsets in the recording at which each message's last frame ends; the second
// of the pair is the recording's length.
std::pair<std::vector<std::int64_t>, std::int64_t> Layout() {
    std::vector<std::int64_t> Ends;
    std::int64_t Offset = 0;
    for (const std::string &Message : Messages) {
        const auto Bits =
            PreambleBits + FrameBits * std::int64_t(ffsk::MessageFrames(Message).size());
        Offset += Bits * ffsk::SamplesPerBit;
        Ends.push_back(Offset);
        Offset += TailBits * ffsk::SamplesPerBit + GapMs * ffsk::SampleRate / 1000;
    }
    return {Ends, Offset};
}

std::int64_t RecordedSamples(const QString &Path) {
    SF_INFO Info{};
    SNDFILE *File = sf_open(Path.toLocal8Bit().constData(), SFM_READ, &Info);
    if (!File)
        return -1;
    sf_close(File);
    return Info.frames;
}

// What the window shows of the messages: the log's lines and the location strip.
struct TShown {
    QStringList Log;
    QString Location;
    bool operator==(const TShown &) const = default;
};

void PrintTo(const TShown &Shown, std::ostream *Out) {
    *Out << "log [" << Shown.Log.join(" | ").toStdString() << "], location '"
         << Shown.Location.toStdString() << "'";
}

class ReceiverEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        FPreviousHandler =
            platform::SetExceptionHandler([this](TObject *, std::exception_ptr Error) {
                Errors.push_back(ErrorBoxText(Error).toStdString());
            });
        Start = TClock::now();
        Form = new TfrmZELTextReceiverMain(nullptr);
        Form->show();
        Changes.emplace_back(Start, Shown());
    }

    void TearDown() override {
        if (Form)
            Form->Free();
        platform::SetExceptionHandler(FPreviousHandler);
    }

    TShown Shown() const {
        QStringList Lines = Form->Memo1->toPlainText().split(QLatin1Char('\n'));
        Lines.removeLast(); // after the final line break
        return {Lines, Form->pnlLocation->Caption()};
    }

    // Notes when each buffer reaches the receiver and in which bit period the first tone
    // was heard, and passes everything on to the window.
    void Watch(TFFSKReceiver &Receiver) {
        Receiver.OnInputLevel = [this, Show = Receiver.OnInputLevel](TObject *Sender,
                                                                     std::int32_t Level) {
            BufferArrivals.push_back(TClock::now());
            Show(Sender, Level);
        };
        Receiver.OnBitReceive = [this, Show = Receiver.OnBitReceive](TObject *Sender,
                                                                     const TRxString &Bits) {
            if (ToneStartPeriod < 0 && Bits.back() != '-')
                ToneStartPeriod = Periods;
            ++Periods;
            Show(Sender, Bits);
        };
    }

    // Looks at the window as the user would: what it shows, the level bar, the trace.
    void Observe() {
        if (const TShown Now = Shown(); !(Now == Changes.back().second))
            Changes.emplace_back(TClock::now(), Now);
        HighestLevel = std::max(HighestLevel, Form->prbLevelIn->Position());
        if (Form->prbLevelIn->BarColor() != clHighlight)
            BarTurnedRed = true;
        const QString Trace = Form->Panel1->Caption();
        if (Trace.size() > 40 || Trace.contains(QRegularExpression("[^-01^_]")))
            BadTraces.push_back(Trace.toStdString());
        if (Trace.size() == 40 && Trace.contains(QRegularExpression("[01]")))
            SawBitsInTrace = true;
    }

    // Handles events, looking at the window after each round, until Condition holds;
    // false after a generous time-out.
    bool WaitFor(const std::function<bool()> &Condition) {
        const auto Deadline = TClock::now() + 30s;
        for (;;) {
            Observe();
            if (Condition())
                return true;
            if (TClock::now() > Deadline)
                return false;
            QEventLoop Round;
            QTimer::singleShot(5, &Round, &QEventLoop::quit);
            Round.exec();
        }
    }

    // Seconds since the test began.
    double At(TClock::time_point Time) const { return TSeconds(Time - Start).count(); }

    TClock::time_point Start;
    TfrmZELTextReceiverMain *Form = nullptr;
    std::vector<std::string> Errors;
    std::vector<TClock::time_point> BufferArrivals;
    std::int64_t Periods = 0;
    std::int64_t ToneStartPeriod = -1;
    std::vector<std::pair<TClock::time_point, TShown>> Changes;
    int HighestLevel = 0;
    bool BarTurnedRed = false;
    bool SawBitsInTrace = false;
    std::vector<std::string> BadTraces;

private:
    platform::TExceptionHandler FPreviousHandler;
};

TEST_F(ReceiverEndToEnd, ShowsWhatIsPlayedIntoTheSoundInputInTime) {
    TFFSKReceiver *Receiver = TfrmZELTextReceiverMainProbe::Receiver(*Form);
    ASSERT_NE(Receiver, nullptr) << "no sound input: " << testing::PrintToString(Errors);
    Watch(*Receiver);
    ASSERT_TRUE(WaitFor([&] { return !BufferArrivals.empty(); })) << "recording never started";
    EXPECT_EQ(ToneStartPeriod, -1) << "the sound input was not quiet before the playback";

    const auto [FrameEnds, RecordingSamples] = Layout();
    QTemporaryDir Scratch;
    const QString Recording = QDir(Scratch.path()).filePath("messages.wav");
    QStringList EncodeArguments = {"-o",          Recording,
                                   "--amplitude", QString::number(Amplitude),
                                   "--preamble",  QString::number(PreambleBits),
                                   "--tail",      QString::number(TailBits),
                                   "--gap",       QString::number(GapMs)};
    for (const std::string &Message : Messages)
        EncodeArguments << QString::fromStdString(Message);
    ASSERT_EQ(QProcess::execute(ZEL_ENCODE, EncodeArguments), 0);
    ASSERT_EQ(RecordedSamples(Recording), RecordingSamples)
        << "the recording is laid out differently";

    QProcess Player;
    Player.start("paplay", {"--device=zel_null", Recording});
    ASSERT_TRUE(Player.waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return Changes.size() > Messages.size(); }))
        << "not every message was shown";
    EXPECT_TRUE(WaitFor([&] { return Player.state() == QProcess::NotRunning; }));
    EXPECT_EQ(Player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Player.exitCode(), 0) << Player.readAllStandardError().toStdString();
    // The quiet that follows the recording.
    EXPECT_TRUE(WaitFor([&] {
        return Form->prbLevelIn->Position() == 0 && Form->Panel1->Caption() == QString(40, '-');
    }));

    // Each message changed the window once, in the order sent; a text message's ">>" starts
    // a new line, and the last frame of a message is filled with spaces.
    const TShown Initial{{}, "--------------"};
    const std::vector<TShown> Expected = {
        Initial,
        {{"HELLO", ">WORLD"}, Initial.Location},
        {{"HELLO", ">WORLD"}, "4807N01134E "},
        {{"HELLO", ">WORLD", "RECEIVED END TO END "}, "4807N01134E "}};
    std::vector<TShown> Seen;
    for (const auto &Change : Changes)
        Seen.push_back(Change.second);
    EXPECT_EQ(Seen, Expected);

    // The level bar showed the tones (a peak at half of full scale) and never overload.
    EXPECT_GE(HighestLevel, 45);
    EXPECT_LE(HighestLevel, 55);
    EXPECT_FALSE(BarTurnedRed);
    // The bottom strip showed the last 40 symbols, with bits among them while tones played.
    EXPECT_TRUE(SawBitsInTrace);
    EXPECT_EQ(BadTraces, std::vector<std::string>{});
    EXPECT_EQ(Errors, std::vector<std::string>{});

    // When a message appears is measured against the stream the receiver records. Buffer i
    // ends (i + 1) * 9 600 samples into that stream; it cannot reach the receiver before
    // its last sample was captured plus the least time the sound server and ALSA take to
    // pass it on, so the earliest arrival less its stream time is when the stream began
    // plus that latency, measured. The tone began in the first bit period with a symbol
    // (to a bit period), and the recording's layout places each last frame from there.
    ASSERT_GE(ToneStartPeriod, 0);
    ASSERT_EQ(Changes.size(), Expected.size());
    double StreamStart = At(BufferArrivals.front()) - double(BufferSamples) / ffsk::SampleRate;
    double LatestArrival = 0;
    for (std::size_t Index = 0; Index < BufferArrivals.size(); ++Index) {
        const double Late =
            At(BufferArrivals[Index]) - double((Index + 1) * BufferSamples) / ffsk::SampleRate;
        StreamStart = std::min(StreamStart, Late);
        LatestArrival = std::max(LatestArrival, Late);
    }
    for (std::size_t Index = 0; Index < Messages.size(); ++Index) {
        const std::int64_t FrameEnd = ToneStartPeriod * ffsk::SamplesPerBit + FrameEnds[Index];
        const double Heard = StreamStart + double(FrameEnd) / ffsk::SampleRate;
        const double Appeared = At(Changes[Index + 1].first);
        const auto Context = testing::Message()
                             << Messages[Index] << ": its last frame could reach the receiver at "
                             << Heard << " s, shown at " << Appeared << " s; buffers arrived up to "
                             << LatestArrival - StreamStart << " s later than the quickest";
        EXPECT_GE(Appeared, Heard) << Context;
        EXPECT_LE(Appeared, Heard + (DeliveryBound + LatencyVariation).count()) << Context;
        std::printf("%s\n", Context.GetString().c_str());
    }
}

} // namespace
