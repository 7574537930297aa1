#pragma once

// "Demodulator": the bit sources to choose from, the one in use checked.

#include "receiver/untFFSKReceiver.h"

#include <QMenu>

#include <functional>

class TDemodulatorMenu : public QMenu {
    Q_OBJECT

public:
    TDemodulatorMenu(TDemodulatorKind Checked, QWidget *Parent);

    // The user chose a bit source (also the one already checked).
    std::function<void(TDemodulatorKind Demodulator)> OnChoose;

private:
    void AddEntry(const QString &Text, TDemodulatorKind Demodulator, TDemodulatorKind Checked);

    QActionGroup *FEntries;
};
