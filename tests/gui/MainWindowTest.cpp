#include "GuiTestSupport.h"
#include "audio/WaveUtils.h"
#include "gui/DemodulatorSetting.h"
#include "gui/guiZELTextReceiverMain.h"
#include "output/SignalReportFormat.h"
#include "platform/MessageServices.h"
#include "platform/SimulatedWaveIn.h"
#include "signal/ChannelSimulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

#include <string>
#include <vector>

using namespace std::string_literals;
using ::testing::ElementsAre;

// The window's receiver, reached from outside.
class TfrmZELTextReceiverMainProbe {
public:
    static TFFSKReceiver *Receiver(const TfrmZELTextReceiverMain &Form) { return Form.FReceiver; }
};

namespace {

using TPresence = platform::TSimulatedWaveInService::TPresence;
using TDevice = platform::TSimulatedWaveInService::TDevice;
using TOperation = platform::TSimulatedWaveInService::TOperation;

// A window on a simulated sound input, driven through its receiver's events; errors
// that would be shown in a box are collected instead.
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        FPreviousService = platform::SetWaveInService(&SoundInput);
        FPreviousHandler = platform::SetExceptionHandler(
            [this](TObject *, std::exception_ptr Error) { Errors.push_back(Error); });
        Open(TPresence::Busy);
    }

    void TearDown() override {
        if (Form)
            Form->Free();
        platform::SetExceptionHandler(FPreviousHandler);
        platform::SetWaveInService(FPreviousService);
    }

    // A busy device never records, so only the test's own reports arrive.
    void Open(TPresence Presence, TDemodulatorKind Demodulator = TDemodulatorKind::Crossing) {
        TDevice Device;
        Device.Presence = Presence;
        Open(Device, Demodulator);
    }
    void Open(const TDevice &Device, TDemodulatorKind Demodulator = TDemodulatorKind::Crossing) {
        SoundInput.SetDevices({Device});
        Form = new TfrmZELTextReceiverMain(nullptr, Demodulator);
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form));
        Receiver = TfrmZELTextReceiverMainProbe::Receiver(*Form);
    }

    // Each as the receiver's only report of a buffer: the window shows it afterwards.
    void Level(std::int32_t Value) {
        Receiver->OnInputLevel(Receiver, Value);
        QCoreApplication::sendPostedEvents(Form);
    }
    void Bits(const std::string &Trace) {
        Receiver->OnBitReceive(Receiver, Trace);
        QCoreApplication::sendPostedEvents(Form);
    }
    void Sms(const std::string &Text) { Receiver->OnReceive(Receiver, true, Text); }
    void Loc(const std::string &Text) { Receiver->OnReceive(Receiver, false, Text); }

    // A message as the recorder hands it over: its samples, then quiet buffers.
    void Received(const std::string &Message, double Amplitude) {
        ffsk::TFFSKEncoder Encoder(Amplitude);
        Encoder.AddPreamble(32);
        Encoder.AddMessage(Message);
        Encoder.AddSilence(3 * SamplesPerBuffer);
        const auto &Samples = Encoder.Samples();
        for (std::size_t At = 0; At < Samples.size(); At += SamplesPerBuffer) {
            const std::size_t Count = std::min(SamplesPerBuffer, Samples.size() - At);
            TFFSKReceiverFeed::Data(*Receiver, Samples.data() + At,
                                    std::uint32_t(Count * sizeof Samples[0]));
        }
    }

    // What the log's tool tip reads once the mouse rests on its line number Line (as Qt
    // asks for it), or below the last line; empty when none shows.
    QString ToolTipOver(int Line) const {
        QToolTip::hideText();
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, EventTimeoutMs));
        const QTextBlock Block = Form->Memo1->document()->findBlockByNumber(Line);
        const QPoint Position = Block.isValid()
                                    ? Form->Memo1->cursorRect(QTextCursor(Block)).center()
                                    : QPoint(40, Form->Memo1->viewport()->height() - 5);
        QWidget *Log = Form->Memo1->viewport();
        QHelpEvent Event(QEvent::ToolTip, Position, Log->mapToGlobal(Position));
        QApplication::sendEvent(Log, &Event);
        if (!QToolTip::isVisible())
            return {};
        // As the tool tip's label shows it.
        if (!Qt::mightBeRichText(QToolTip::text()))
            return QToolTip::text();
        QTextDocument Shown;
        Shown.setHtml(QToolTip::text());
        return Shown.toPlainText();
    }

    QStringList LogLines() const {
        QStringList Lines = Form->Memo1->toPlainText().split(QLatin1Char('\n'));
        Lines.removeLast(); // after the final line break
        return Lines;
    }

    // The entries under "Demodulator" in the log's context menu, opened as the right mouse
    // button (on the log's viewport) or the menu key (on the focused log) opens it.
    QList<QAction *> DemodulatorEntries(QContextMenuEvent::Reason Reason) const {
        QWidget *Target =
            Reason == QContextMenuEvent::Mouse ? Form->Memo1->viewport() : Form->Memo1;
        QContextMenuEvent Event(Reason, QPoint(10, 10), Target->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(Target, &Event);
        auto *LogMenu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!LogMenu)
            return {};
        LogMenu->close();
        const QAction *Last = LogMenu->actions().last();
        return Last->text() == "Demodulator" && Last->menu() ? Last->menu()->actions()
                                                             : QList<QAction *>();
    }
    static std::vector<std::pair<QString, bool>> Checks(const QList<QAction *> &Entries) {
        std::vector<std::pair<QString, bool>> Result;
        for (const QAction *Entry : Entries)
            Result.emplace_back(Entry->text(), Entry->isChecked());
        return Result;
    }

    // Rows of the log as Qt lays them out.
    int LaidOutRows() const {
        int Rows = 0;
        for (const QString &Line : LogLines())
            Rows += Line.isEmpty() ? 1 : RowsOf(Line);
        return Rows;
    }
    int RowsOf(const QString &Line) const {
        for (QTextBlock Block = Form->Memo1->document()->firstBlock(); Block.isValid();
             Block = Block.next()) {
            if (Block.text() == Line) {
                Form->Memo1->document()->documentLayout()->blockBoundingRect(Block);
                return Block.lineCount();
            }
        }
        return 0;
    }

    static constexpr std::size_t SamplesPerBuffer = 9600;

    platform::TSimulatedWaveInService SoundInput;
    TfrmZELTextReceiverMain *Form = nullptr;
    TFFSKReceiver *Receiver = nullptr;
    std::vector<std::exception_ptr> Errors;

private:
    platform::IWaveInService *FPreviousService = nullptr;
    platform::TExceptionHandler FPreviousHandler;
};

TEST_F(MainWindow, IsLaidOutAsDesigned) {
    EXPECT_EQ(Form->windowTitle(), "ZEL Text Receiver");
    EXPECT_TRUE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Form->size(), QSize(496, 264));
    EXPECT_EQ(Form->pnlLocation->geometry(), QRect(0, 0, 496, 25));
    EXPECT_EQ(Form->prbLevelIn->geometry(), QRect(0, 25, 17, 220));
    EXPECT_EQ(Form->Memo1->geometry(), QRect(17, 25, 479, 220));
    EXPECT_EQ(Form->Panel1->geometry(), QRect(0, 245, 496, 19));
    EXPECT_EQ(Form->font().pointSize(), 8);
    EXPECT_EQ(Form->pnlLocation->font().pointSize(), 12);
    EXPECT_EQ(Form->Memo1->font().pointSize(), 10);
    EXPECT_EQ(Form->Panel1->font().pointSize(), 8);
    EXPECT_TRUE(QFontInfo(Form->Panel1->font()).fixedPitch());

    Form->resize(700, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Panel1->width() == 700; }, EventTimeoutMs));
    EXPECT_EQ(Form->pnlLocation->geometry(), QRect(0, 0, 700, 25));
    EXPECT_EQ(Form->prbLevelIn->geometry(), QRect(0, 25, 17, 356));
    EXPECT_EQ(Form->Memo1->geometry(), QRect(17, 25, 683, 356));
    EXPECT_EQ(Form->Panel1->geometry(), QRect(0, 381, 700, 19));
}

TEST_F(MainWindow, StartsInItsInitialState) {
    ASSERT_NE(Receiver, nullptr);
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(Form->pnlLocation->Caption(), "--------------");
    EXPECT_EQ(Form->Panel1->Caption(), "-");
    EXPECT_TRUE(Form->Memo1->toPlainText().isEmpty());
    EXPECT_EQ(Form->prbLevelIn->Position(), 0);
    EXPECT_EQ(Form->prbLevelIn->BarColor(), clHighlight);
    EXPECT_EQ(Form->prbLevelIn->Orientation(), pbVertical);
    EXPECT_TRUE(Form->prbLevelIn->Smooth());
    for (QWidget *Control :
         {static_cast<QWidget *>(Form->pnlLocation), static_cast<QWidget *>(Form->prbLevelIn),
          static_cast<QWidget *>(Form->Panel1)})
        EXPECT_EQ(Control->focusPolicy(), Qt::NoFocus) << Control->objectName().toStdString();
    EXPECT_NE(Form->Memo1->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindow, TurnsTheBarRedAboveNinetyAndBackOnlyBelowSeventy) {
    struct TStep {
        std::int32_t Level;
        TColor Expected;
    };
    for (const TStep &Step : {TStep{80, clHighlight},
                              {90, clHighlight},
                              {70, clHighlight},
                              {91, clRed},
                              {90, clRed},
                              {70, clRed},
                              {69, clHighlight},
                              {100, clRed},
                              {0, clHighlight}}) {
        Level(Step.Level);
        EXPECT_EQ(Form->prbLevelIn->BarColor(), Step.Expected) << "level " << Step.Level;
        EXPECT_EQ(Form->prbLevelIn->Position(), Step.Level);
    }
}

TEST_F(MainWindow, ShowsTheBitTraceAsItComes) {
    Bits("01^_-0101");
    EXPECT_EQ(Form->Panel1->Caption(), "01^_-0101");
    Bits("01\0"
         "11"s);
    EXPECT_EQ(Form->Panel1->Caption(), "01");
}

// The trace strip places its fixed-pitch glyphs itself: it must look exactly as the
// same caption drawn as text, whatever the symbols.
TEST_F(MainWindow, DrawsTheTraceExactlyAsText) {
    for (const std::string &Trace : {"0"s, "01^_-0101"s, std::string(40, '1'), "--10--01--"s}) {
        Bits(Trace);
        const QImage Drawn = Form->Panel1->grab().toImage();
        Bits("");
        QImage Expected = Form->Panel1->grab().toImage();
        QPainter Painter(&Expected);
        Painter.setFont(Form->Panel1->font());
        Painter.setPen(Form->Panel1->palette().color(Form->Panel1->foregroundRole()));
        Painter.drawText(Form->Panel1->contentsRect(), Qt::AlignCenter | Qt::TextSingleLine,
                         QString::fromStdString(Trace));
        Painter.end();
        EXPECT_EQ(Drawn, Expected) << Trace;
    }
}

// A quiet input reports the same level and trace buffer after buffer: nothing is
// painted again.
TEST_F(MainWindow, PaintsNothingWhileTheReportsStayTheSame) {
    Level(0);
    Bits("--");
    QCoreApplication::processEvents();
    TPaintCounter BarPaints(Form->prbLevelIn), TracePaints(Form->Panel1);
    for (int Buffer = 0; Buffer < 5; ++Buffer) {
        Level(0);
        Bits("--");
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(BarPaints.Count(), 0);
    EXPECT_EQ(TracePaints.Count(), 0);
    Bits("-1");
    EXPECT_TRUE(TracePaints.WaitForPaintAfter(0));
}

TEST_F(MainWindow, SplitsTextMessagesAtTheFirstDoubleAngle) {
    struct TCase {
        std::string Message;
        QStringList Lines;
    };
    for (const TCase &Case : {TCase{"AB>>CD", {"AB", ">CD"}},
                              {">>CD", {"", ">CD"}},
                              {"AB>>", {"AB", ">"}},
                              {"A>>>B", {"A", ">>B"}},
                              {"A>>B>>C", {"A", ">B>>C"}},
                              {"HELLO", {"HELLO"}},
                              {">>", {"", ">"}}}) {
        Form->Memo1->clear();
        Sms(Case.Message);
        EXPECT_EQ(LogLines(), Case.Lines) << Case.Message;
    }
}

TEST_F(MainWindow, ShowsReceivedBytesUpToTheFirstNulOnEachLine) {
    Sms("AB\0X>>CD\0Y"s);
    Sms("\xC4\xD6>>\xDC"s);
    EXPECT_EQ(LogLines(),
              (QStringList{"AB", ">CD", QString::fromUtf8("ÄÖ"), QString::fromUtf8(">Ü")}));
    Loc("NORTH\0SOUTH"s);
    EXPECT_EQ(Form->pnlLocation->Caption(), "NORTH");
}

TEST_F(MainWindow, ShowsMarkupAsCharacters) {
    Sms("<b>bold</b> <img src=\"x.png\">");
    Loc("<i>here</i>");
    EXPECT_EQ(LogLines(), QStringList{"<b>bold</b> <img src=\"x.png\">"});
    EXPECT_EQ(Form->pnlLocation->Caption(), "<i>here</i>");
}

TEST_F(MainWindow, PutsLocationsInTheTopStripAndLeavesTheLogAlone) {
    Sms("FIRST>>SECOND");
    Loc("52.1N 4.3E");
    EXPECT_EQ(Form->pnlLocation->Caption(), "52.1N 4.3E");
    EXPECT_EQ(LogLines(), (QStringList{"FIRST", ">SECOND"}));
}

// Each line of a message has its report as tool tip; a line that came without one, and
// the space below the lines, have none.
TEST_F(MainWindow, ShowsEachLinesSignalReportAsItsToolTip) {
    Sms("BEFORE");
    Received("SMS>HELLO>>WORLD", 0.25);
    ASSERT_EQ(LogLines(), (QStringList{"BEFORE", "HELLO", ">WORLD"}));
    ASSERT_TRUE(Receiver->MessageReport());
    const QString Report = QString::fromStdString(SignalReportText(*Receiver->MessageReport()));
    const QStringList Expected{"", Report, Report, ""};
    for (int Line = 0; Line < Expected.size(); ++Line)
        EXPECT_EQ(ToolTipOver(Line), Expected[Line]) << "line " << Line;
}

// A tip that looks like markup shows as it is written, and what a trim leaves of a
// wrapped line keeps that line's tip.
TEST_F(MainWindow, KeepsEachLinesToolTipPlainAndThroughTrims) {
    QString Long;
    for (int Word = 0; Word < 60; ++Word)
        Long += QStringLiteral("word%1 ").arg(Word, 2, 10, QLatin1Char('0'));
    Form->Memo1->AppendLine("FIRST", "<b>first</b>");
    Form->Memo1->AppendLine(Long, "long");
    Form->Memo1->DeleteFirstRows(2);
    ASSERT_TRUE(LogLines().front().startsWith("word")) << LogLines().front().toStdString();
    EXPECT_EQ(ToolTipOver(0), "long");
    Form->Memo1->AppendLine("MARKUP", "<b>bold</b> &amp;");
    EXPECT_EQ(ToolTipOver(1), "<b>bold</b> &amp;");
}

TEST_F(MainWindow, KeepsSeventyRowsOfEarlierMessages) {
    for (int Line = 1; Line <= 70; ++Line)
        Sms("LINE " + std::to_string(Line));
    Sms("HEAD>>TAIL");
    EXPECT_EQ(LogLines().size(), 72);
    EXPECT_EQ(LogLines().front(), "LINE 1");

    Sms("NEXT");
    const QStringList Lines = LogLines();
    EXPECT_EQ(Lines.size(), 71);
    EXPECT_EQ(Lines.front(), "LINE 3");
    EXPECT_THAT(Lines.mid(68), ElementsAre("HEAD", ">TAIL", "NEXT"));
}

TEST_F(MainWindow, CountsAWrappedLineOncePerRowWhenTrimming) {
    QString Long;
    for (int Word = 0; Word < 60; ++Word)
        Long += QStringLiteral("word%1 ").arg(Word, 2, 10, QLatin1Char('0'));
    Long.chop(1);
    Sms(Long.toStdString());
    const int LongRows = RowsOf(Long);
    ASSERT_GT(LongRows, 2);
    for (int Line = 0; Line < 71 - LongRows; ++Line)
        Sms("SHORT");
    ASSERT_EQ(LaidOutRows(), 71);

    QTextBlock First = Form->Memo1->document()->firstBlock();
    const QString FirstRow = Long.left(First.layout()->lineAt(0).textLength());
    Sms("NEW");
    EXPECT_EQ(LogLines().front(), Long.mid(FirstRow.size()));
    EXPECT_EQ(LogLines().back(), "NEW");
    EXPECT_EQ(LaidOutRows(), 71);
}

TEST_F(MainWindow, ScrollsTheNewestLineIntoView) {
    for (int Line = 1; Line <= 40; ++Line)
        Sms("LINE " + std::to_string(Line));
    QScrollBar *Scroll = Form->Memo1->verticalScrollBar();
    Scroll->setValue(0);
    Sms("LAST");
    EXPECT_EQ(Scroll->value(), Scroll->maximum());
    EXPECT_TRUE(Form->Memo1->textCursor().atEnd());
}

// Trimming a full log and adding as many rows leaves the scroll bar as it was: it is
// not painted again, and the log is painted once per message. Rows the message does
// not touch keep their layout.
TEST_F(MainWindow, RepaintsAFullLogOncePerMessage) {
    for (int Line = 1; Line <= 80; ++Line)
        Sms("LINE " + std::to_string(Line));
    Sms("HEAD>>TAIL");
    QScrollBar *Scroll = Form->Memo1->verticalScrollBar();
    TPaintCounter ScrollPaints(Scroll), LogPaints(Form->Memo1->viewport());
    QCoreApplication::processEvents();
    const int ScrollSeen = ScrollPaints.Count(), LogSeen = LogPaints.Count();
    const int Maximum = Scroll->maximum();
    for (int Message = 0; Message < 5; ++Message) {
        Sms("MORE>>TEXT");
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(Scroll->maximum(), Maximum);
    EXPECT_EQ(ScrollPaints.Count(), ScrollSeen);
    EXPECT_EQ(LogPaints.Count(), LogSeen + 5);

    const QTextBlock Middle = Form->Memo1->document()->findBlockByNumber(30);
    Sms("LAST");
    EXPECT_GT(Middle.layout()->lineCount(), 0);
}

TEST_F(MainWindow, BringsItselfForwardForEveryMessageOnly) {
    QWidget Other;
    Other.show();
    auto ActivateOther = [&] {
        Other.activateWindow();
        return QTest::qWaitForWindowActive(&Other);
    };
    ASSERT_TRUE(ActivateOther());
    Level(95);
    Bits("0101");
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &Other);

    Loc("HERE");
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form));
    ASSERT_TRUE(ActivateOther());
    Sms("HELLO");
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form));
}

TEST_F(MainWindow, StaysMinimisedWhenAMessageArrives) {
    Form->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->isMinimized(); }, EventTimeoutMs));
    const QRect Before = Form->geometry();
    Sms("HELLO");
    Loc("HERE");
    QCoreApplication::processEvents();
    EXPECT_TRUE(Form->isMinimized());
    EXPECT_EQ(Form->geometry(), Before);
    EXPECT_EQ(LogLines(), QStringList{"HELLO"});
}

TEST_F(MainWindow, TrimsAVeryLongMessageToTheRowsItShowedLast) {
    QString Long;
    for (int Word = 0; Word < 3000; ++Word)
        Long += QString(1 + Word * 7 % 9, QLatin1Char('a' + Word % 26)) + QLatin1Char(' ');
    Sms(Long.toStdString());
    QTextBlock First = Form->Memo1->document()->firstBlock();
    const int LongRows = RowsOf(Long);
    ASSERT_GT(LongRows, 100);
    const int KeptFrom = First.layout()->lineAt(LongRows - 70).textStart();
    Sms("NEW");
    EXPECT_EQ(LogLines(), (QStringList{Long.mid(KeptFrom), "NEW"}));
    EXPECT_EQ(LaidOutRows(), 71);
}

TEST_F(MainWindow, OpensWithoutAReceiverAfterOneErrorWhenThereIsNoSoundInput) {
    TDevice Absent, Refusing;
    Absent.Presence = TPresence::Absent;
    Refusing.Formats.resize(1);
    PCMFormatToWaveFormat(Refusing.Formats[0], Mono8bit11025Hz);
    for (const TDevice &Device : {Absent, Refusing}) {
        Form->Free();
        Errors.clear();
        Open(Device);
        EXPECT_EQ(Receiver, nullptr);
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_THROW(std::rethrow_exception(Errors[0]), EWaveAudioSysError);
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(Form->pnlLocation->Caption(), "--------------");
        EXPECT_EQ(Form->Panel1->Caption(), "-");
    }
}

TEST_F(MainWindow, OffersTheDemodulatorsInTheLogsContextMenu) {
    for (const auto Reason : {QContextMenuEvent::Mouse, QContextMenuEvent::Keyboard})
        EXPECT_THAT(Checks(DemodulatorEntries(Reason)),
                    ElementsAre(std::pair{QString("Zero crossing"), true},
                                std::pair{QString("Matched (weak signals)"), false}));
}

// A message at 8 dB SNR, over and over: zero crossings miss it, matched tones find it.
std::vector<char> WeakMessage() {
    ffsk::TFFSKEncoder Encoder(0.5);
    Encoder.AddPreamble(32);
    Encoder.AddMessage("SMS>WEAK SIGNAL");
    Encoder.AddSilence(ffsk::SampleRate / 2);
    TChannelSettings Channel;
    Channel.SnrDb = 8.0;
    const auto Samples = PassThroughChannel(Encoder.Samples(), 0.5, Channel);
    const auto *Bytes = reinterpret_cast<const char *>(Samples.data());
    return {Bytes, Bytes + Samples.size() * sizeof(Samples[0])};
}

TEST_F(MainWindow, ReceivesWeakSignalsOnceMatchedIsChosenAndFromTheNextStartOn) {
    Form->Free();
    SoundInput.SetSamples(WeakMessage());
    Open(TPresence::Available);
    const int Until = SoundInput.Calls(TOperation::AddBuffer) + 12; // the message 3 times
    ASSERT_TRUE(QTest::qWaitFor([&] { return SoundInput.Calls(TOperation::AddBuffer) >= Until; },
                                EventTimeoutMs));
    EXPECT_TRUE(LogLines().empty());

    DemodulatorEntries(QContextMenuEvent::Mouse).last()->trigger();
    const auto Received = [this] { return LogLines().value(0) == "WEAK SIGNAL "; };
    EXPECT_TRUE(QTest::qWaitFor(Received, EventTimeoutMs));

    Form->Free(); // and started again as the program starts
    Open(TPresence::Available, SavedDemodulator());
    EXPECT_THAT(Checks(DemodulatorEntries(QContextMenuEvent::Mouse)),
                ElementsAre(std::pair{QString("Zero crossing"), false},
                            std::pair{QString("Matched (weak signals)"), true}));
    EXPECT_TRUE(QTest::qWaitFor(Received, EventTimeoutMs));
}

} // namespace
