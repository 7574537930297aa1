#include "gui/guiZELTextReceiverMain.h"

#include "gui/DemodulatorSetting.h"
#include "output/SignalReportFormat.h"
#include "platform/MessageServices.h"

#include <QBoxLayout>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <functional>

namespace {

constexpr QSize ClientSize(496, 264);
constexpr int LocationHeight = 25;
constexpr int TraceHeight = 19;
constexpr int LevelBarWidth = 17;
constexpr int LevelBarBorder = 2;

// Level bar colour with hysteresis: red above the upper level, back to normal
// only below the lower one.
constexpr std::int32_t OverloadAbove = 90;
constexpr std::int32_t NormalBelow = 70;

// The bottom strip before the first trace.
const TRxString InitialTrace = "-";

// The log keeps this many rows of earlier messages.
constexpr int LogRows = 70;

QFont SansFont(int Points) {
    QFont Font(QStringLiteral("Tahoma"), Points);
    Font.setStyleHint(QFont::SansSerif);
    return Font;
}

QFont FixedPitchFont(int Points) {
    QFont Font(QStringLiteral("Courier"), Points);
    Font.setStyleHint(QFont::TypeWriter);
    Font.setFixedPitch(true);
    return Font;
}

// Received bytes one character each, up to the first NUL, as text operations take
// text.
QString DisplayText(const TRxString &Text) {
    const auto Length = std::min(Text.find('\0'), Text.size());
    return QString::fromLatin1(Text.data(), qsizetype(Length));
}

} // namespace

TfrmZELTextReceiverMain::TfrmZELTextReceiverMain(TComponent *AOwner, TDemodulatorKind Demodulator)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), TComponent(AOwner),
      FDemodulator(Demodulator) {
    setObjectName(QStringLiteral("frmZELTextReceiverMain"));
    setWindowTitle(QStringLiteral("ZEL Text Receiver"));
    setFont(SansFont(8));
    CreateControls();
    LayOutControls();
    resize(ClientSize);
    CentreOnScreen();
    // A window that cannot listen still opens; the error is shown, like any other.
    try {
        FormCreate(this);
    } catch (...) {
        platform::HandleException(this);
    }
}

TfrmZELTextReceiverMain::~TfrmZELTextReceiverMain() {
    hide();
    // Runs while the controls still exist: the receiver reports until it is gone.
    FormDestroy(this);
}

void TfrmZELTextReceiverMain::CreateControls() {
    pnlLocation = new TPanel(QStringLiteral("--------------"), this);
    pnlLocation->setObjectName(QStringLiteral("pnlLocation"));
    pnlLocation->setFont(SansFont(12));
    pnlLocation->setFixedHeight(LocationHeight);

    Memo1 = new TMemo(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(SansFont(10));
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            &TfrmZELTextReceiverMain::ShowLogMenu);
    FDemodulatorMenu = new TDemodulatorMenu(FDemodulator, this);
    FDemodulatorMenu->OnChoose = std::bind_front(&TfrmZELTextReceiverMain::ChooseDemodulator, this);

    prbLevelIn = new TAdvProgress(this);
    prbLevelIn->setObjectName(QStringLiteral("prbLevelIn"));
    prbLevelIn->SetOrientation(pbVertical);
    prbLevelIn->SetSmooth(true);
    prbLevelIn->setContentsMargins(LevelBarBorder, LevelBarBorder, LevelBarBorder, LevelBarBorder);
    prbLevelIn->setFixedWidth(LevelBarWidth);

    FShownBits = InitialTrace;
    Panel1 = new TPanel(DisplayText(InitialTrace), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFont(FixedPitchFont(8));
    Panel1->setFixedHeight(TraceHeight);
}

// The strips span the width, the bar runs down the left between them and the log
// takes the rest.
void TfrmZELTextReceiverMain::LayOutControls() {
    auto *Middle = new QHBoxLayout;
    Middle->setContentsMargins(0, 0, 0, 0);
    Middle->setSpacing(0);
    Middle->addWidget(prbLevelIn);
    Middle->addWidget(Memo1);

    auto *Window = new QVBoxLayout(this);
    Window->setContentsMargins(0, 0, 0, 0);
    Window->setSpacing(0);
    Window->addWidget(pnlLocation);
    Window->addLayout(Middle);
    Window->addWidget(Panel1);
}

void TfrmZELTextReceiverMain::CentreOnScreen() {
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                    screen()->availableGeometry()));
}

// A missing sound input is shown once; the receiver starts when the input appears.
void TfrmZELTextReceiverMain::FormCreate(TObject *) {
    FInputKeeper = new TRecorderKeeper(this, [this] { return StartReceiver(); });
    FInputKeeper->Start();
}

void TfrmZELTextReceiverMain::FormDestroy(TObject *) {
    FreeAndNil(FInputKeeper);
    FreeAndNil(FReceiver);
}

TComponent *TfrmZELTextReceiverMain::StartReceiver() {
    FReceiver = new TFFSKReceiver(this, FDemodulator);
    FReceiver->SetReporting(true); // for the log's tool tips
    FReceiver->OnInputLevel = std::bind_front(&TfrmZELTextReceiverMain::ReceiverInputLevel, this);
    FReceiver->OnBitReceive = std::bind_front(&TfrmZELTextReceiverMain::ReceiverBitReceive, this);
    FReceiver->OnReceive = std::bind_front(&TfrmZELTextReceiverMain::ReceiverReceive, this);
    return FReceiver;
}

// The log's own entries (copy, select all), then the choice of bit source. Position is
// the viewport's, as for any scroll area.
void TfrmZELTextReceiverMain::ShowLogMenu(const QPoint &Position) {
    QMenu *Menu = Memo1->createStandardContextMenu();
    Menu->setAttribute(Qt::WA_DeleteOnClose);
    Menu->addSeparator();
    Menu->addMenu(FDemodulatorMenu);
    Menu->popup(Memo1->viewport()->mapToGlobal(Position));
}

// Kept for the next start. The menu runs on the thread that hands the receiver its
// buffers, so the receiver changes over between two of them.
void TfrmZELTextReceiverMain::ChooseDemodulator(TDemodulatorKind Demodulator) {
    SaveDemodulator(Demodulator);
    if (Demodulator == FDemodulator)
        return;
    FDemodulator = Demodulator;
    if (FReceiver)
        FReceiver->SetDemodulator(Demodulator);
}

void TfrmZELTextReceiverMain::ReceiverInputLevel(TObject *, std::int32_t Level) {
    FLevel = Level;
    if (Level > OverloadAbove)
        FBarColor = clRed;
    else if (Level < NormalBelow)
        FBarColor = clHighlight;
    ShowReportsLater();
}

void TfrmZELTextReceiverMain::ReceiverBitReceive(TObject *, const TRxString &Bits) {
    // A quiet input reports the trace on show 240 times a buffer: nothing to keep.
    if (!FBits && Bits == FShownBits)
        return;
    FBits = Bits;
    ShowReportsLater();
}

// The receiver reports 240 traces and a level per buffer, all before the event loop
// runs again: the bar and the trace are brought up to date once, after the buffer, and
// only when they would change. A quiet input costs no repaint at all.
void TfrmZELTextReceiverMain::ShowReportsLater() {
    if (FShowPending || !ReportsChanged())
        return;
    FShowPending = true;
    QMetaObject::invokeMethod(this, &TfrmZELTextReceiverMain::ShowReports, Qt::QueuedConnection);
}

bool TfrmZELTextReceiverMain::ReportsChanged() const {
    return (FLevel && *FLevel != prbLevelIn->Position()) || FBarColor != prbLevelIn->BarColor() ||
           (FBits && *FBits != FShownBits);
}

void TfrmZELTextReceiverMain::ShowReports() {
    FShowPending = false;
    if (FLevel && *FLevel != prbLevelIn->Position())
        prbLevelIn->SetPosition(*FLevel);
    if (FBarColor != prbLevelIn->BarColor())
        prbLevelIn->SetBarColor(FBarColor);
    if (FBits && *FBits != FShownBits) {
        FShownBits = *FBits;
        Panel1->SetCaption(DisplayText(FShownBits));
    }
    FLevel.reset();
    FBits.reset();
}

void TfrmZELTextReceiverMain::ReceiverReceive(TObject *, bool MessIsSMS,
                                              const TRxString &RxString) {
    BringForward();
    if (MessIsSMS)
        AddTextMessage(RxString, FReceiver->MessageReport());
    else
        pnlLocation->SetCaption(DisplayText(RxString));
}

// Raises and activates the window where it is. A minimised window stays minimised,
// and a window being closed is not shown again. The active window is already in
// front: asking again would only make the desktop repaint it.
void TfrmZELTextReceiverMain::BringForward() {
    if (!isVisible() || (windowState() & Qt::WindowMinimized) || isActiveWindow())
        return;
    raise();
    activateWindow();
}

// Trims the log to its last rows, then adds the message; a ">>" in it starts a new
// line at its second '>'. The trim and the lines are shown as one change. Each line
// of the message has its signal report as tool tip: our own figures, never its text.
void TfrmZELTextReceiverMain::AddTextMessage(const TRxString &RxString,
                                             const std::optional<TSignalReport> &Report) {
    Memo1->BeginUpdate();
    const QScopeGuard Shown([this] { Memo1->EndUpdate(); });
    if (const int Surplus = Memo1->RowCount() - LogRows; Surplus > 0)
        Memo1->DeleteFirstRows(Surplus);
    const QString ToolTip = Report ? QString::fromStdString(SignalReportText(*Report)) : QString();
    const auto Separator = RxString.find(">>");
    if (Separator == TRxString::npos) {
        Memo1->AppendLine(DisplayText(RxString), ToolTip);
        return;
    }
    Memo1->AppendLine(DisplayText(RxString.substr(0, Separator)), ToolTip);
    Memo1->AppendLine(DisplayText(RxString.substr(Separator + 1)), ToolTip);
}
