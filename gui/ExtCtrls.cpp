#include "gui/ExtCtrls.h"

TPanel::TPanel(const QString &Caption, QWidget *Parent) : QLabel(Parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    // A long caption is cut at the edges; it never widens the window.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    SetCaption(Caption);
}

void TPanel::SetCaption(const QString &Value) {
    QString Line = Value;
    Line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    setText(Line);
}
