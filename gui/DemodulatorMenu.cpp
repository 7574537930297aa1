#include "gui/DemodulatorMenu.h"

#include <QActionGroup>

TDemodulatorMenu::TDemodulatorMenu(TDemodulatorKind Checked, QWidget *Parent)
    : QMenu(QStringLiteral("Demodulator"), Parent), FEntries(new QActionGroup(this)) {
    FEntries->setExclusive(true);
    AddEntry(QStringLiteral("Zero crossing"), TDemodulatorKind::Crossing, Checked);
    AddEntry(QStringLiteral("Matched (weak signals)"), TDemodulatorKind::Matched, Checked);
}

void TDemodulatorMenu::AddEntry(const QString &Text, TDemodulatorKind Demodulator,
                                TDemodulatorKind Checked) {
    QAction *Entry = addAction(Text);
    Entry->setCheckable(true);
    Entry->setChecked(Demodulator == Checked);
    FEntries->addAction(Entry);
    connect(Entry, &QAction::triggered, this, [this, Demodulator] {
        if (OnChoose)
            OnChoose(Demodulator);
    });
}
