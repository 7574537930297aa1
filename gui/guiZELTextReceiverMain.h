#pragma once

#include "audio/RecorderKeeper.h"
#include "gui/AdvProgr.h"
#include "gui/DemodulatorMenu.h"
#include "gui/ExtCtrls.h"
#include "gui/StdCtrls.h"
#include "platform/Component.h"
#include "receiver/untFFSKReceiver.h"

#include <QWidget>

#include <cstdint>
#include <optional>

// The program's only window: it owns the receiver and shows what it reports — the
// input level as a bar, the bit trace at the bottom, the last location at the top and
// the text messages in a log, each line with its signal report as tool tip. The log's
// context menu also chooses the bit source.
class TfrmZELTextReceiverMain : public QWidget, public TComponent {
    Q_OBJECT

public:
    explicit TfrmZELTextReceiverMain(TComponent *AOwner,
                                     TDemodulatorKind Demodulator = TDemodulatorKind::Crossing);
    ~TfrmZELTextReceiverMain() override;

    TPanel *pnlLocation = nullptr;
    TMemo *Memo1 = nullptr;
    TAdvProgress *prbLevelIn = nullptr;
    TPanel *Panel1 = nullptr;

    void FormCreate(TObject *Sender);
    void FormDestroy(TObject *Sender);

private:
    friend class TfrmZELTextReceiverMainProbe; // tests reach the receiver through it

    void CreateControls();
    void LayOutControls();
    void CentreOnScreen();
    TComponent *StartReceiver();
    void ShowLogMenu(const QPoint &Position);
    void ChooseDemodulator(TDemodulatorKind Demodulator);

    void ReceiverInputLevel(TObject *Sender, std::int32_t Level);
    void ReceiverBitReceive(TObject *Sender, const TRxString &Bits);
    void ReceiverReceive(TObject *Sender, bool MessIsSMS, const TRxString &RxString);

    void ShowReportsLater();
    bool ReportsChanged() const;
    void ShowReports();
    void BringForward();
    void AddTextMessage(const TRxString &RxString, const std::optional<TSignalReport> &Report);

    TDemodulatorKind FDemodulator;
    TFFSKReceiver *FReceiver = nullptr;
    TDemodulatorMenu *FDemodulatorMenu = nullptr;
    // The level and trace as last reported, shown once the receiver's buffer is done.
    std::optional<std::int32_t> FLevel;
    TColor FBarColor = clHighlight;
    std::optional<TRxString> FBits;
    TRxString FShownBits; // the trace the bottom strip shows
    bool FShowPending = false;
    // Starts the receiver, and again whenever its sound input was lost or missing.
    TRecorderKeeper *FInputKeeper = nullptr;
};
