#include "gui/ExtCtrls.h"

#include <QPaintEvent>
#include <QPainter>

TPanel::TPanel(const QString &Caption, QWidget *Parent) : QFrame(Parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    // A long caption is cut at the edges; it never widens the window.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    SetCaption(Caption);
}

void TPanel::SetCaption(const QString &Value) {
    QString Line = Value;
    Line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (Line == FCaption)
        return;
    FCaption = Line;
    // The bevel stays as it is: only the text is painted again.
    update(contentsRect());
}

QSize TPanel::sizeHint() const {
    const int Frame = 2 * frameWidth();
    return {fontMetrics().horizontalAdvance(FCaption) + Frame, fontMetrics().height() + Frame};
}

void TPanel::paintEvent(QPaintEvent *Event) {
    if (!contentsRect().contains(Event->rect()))
        QFrame::paintEvent(Event);
    QPainter Painter(this);
    Painter.setPen(palette().color(foregroundRole()));
    Painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, FCaption);
}
