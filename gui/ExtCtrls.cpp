#include "gui/ExtCtrls.h"

#include <QFontInfo>
#include <QGlyphRun>
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

void TPanel::changeEvent(QEvent *Event) {
    if (Event->type() == QEvent::FontChange)
        FFixedPitchGlyphs =
            QFontInfo(font()).fixedPitch() ? QRawFont::fromFont(font()) : QRawFont();
    QFrame::changeEvent(Event);
}

void TPanel::paintEvent(QPaintEvent *Event) {
    if (!contentsRect().contains(Event->rect()))
        QFrame::paintEvent(Event);
    QPainter Painter(this);
    Painter.setPen(palette().color(foregroundRole()));
    if (!DrawFixedPitchCaption(Painter))
        Painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, FCaption);
}

// Every character of a fixed-pitch font is as wide as the next: the caption's glyphs
// are placed directly, without the text shaping a repaint of the trace would otherwise
// spend most of its time on. Characters the font lacks are left to the general path.
bool TPanel::DrawFixedPitchCaption(QPainter &Painter) const {
    if (!FFixedPitchGlyphs.isValid() || FCaption.isEmpty())
        return false;
    const QList<quint32> Glyphs = FFixedPitchGlyphs.glyphIndexesForString(FCaption);
    if (Glyphs.size() != FCaption.size() || Glyphs.contains(0u))
        return false;
    const QFontMetricsF Metrics(font());
    const qreal Advance = Metrics.horizontalAdvance(QLatin1Char('0'));
    QList<QPointF> Positions;
    Positions.reserve(Glyphs.size());
    for (qsizetype Index = 0; Index < Glyphs.size(); ++Index)
        Positions.append({Advance * qreal(Index), 0});
    QGlyphRun Run;
    Run.setRawFont(FFixedPitchGlyphs);
    Run.setGlyphIndexes(Glyphs);
    Run.setPositions(Positions);
    const QRectF Area = contentsRect();
    const qreal Width = Advance * qreal(Glyphs.size());
    const qreal Height = Metrics.ascent() + Metrics.descent();
    Painter.drawGlyphRun({Area.left() + (Area.width() - Width) / 2,
                          Area.top() + (Area.height() - Height) / 2 + Metrics.ascent()},
                         Run);
    return true;
}
