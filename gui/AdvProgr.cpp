#include "gui/AdvProgr.h"

#include "platform/Exceptions.h"

#include <QPainter>
#include <qdrawutil.h>

#include <algorithm>

namespace {

constexpr int FrameWidth = 1;
constexpr int BlockGap = 2;
// Packed as major, minor, release, build, one byte each.
constexpr quint32 AdvProgressVersion = 0x01020000;

} // namespace

TProgressBar::TProgressBar(QWidget *Parent) : QProgressBar(Parent) {
    setTextVisible(false);
    setRange(0, 100);
    setValue(0);
}

void TProgressBar::SetPosition(int Value) {
    setValue(std::clamp(Value, Min(), Max()));
    // QProgressBar skips repaints it thinks too small to see; this bar paints itself.
    update();
}

TProgressBarOrientation TProgressBar::Orientation() const {
    return orientation() == Qt::Vertical ? pbVertical : pbHorizontal;
}

void TProgressBar::SetOrientation(TProgressBarOrientation Value) {
    setOrientation(Value == pbVertical ? Qt::Vertical : Qt::Horizontal);
}

void TProgressBar::SetSmooth(bool Value) {
    if (Value == FSmooth)
        return;
    FSmooth = Value;
    update();
}

void TProgressBar::SetRange(int Low, int High) {
    if (Low > High)
        throw EInvalidOperation(std::string(metaObject()->className()) + " property out of range");
    if (Low == Min() && High == Max())
        return;
    // Lowering the low end moves the position there, as the common control does;
    // otherwise QProgressBar would forget a position outside the new range.
    const int Kept = Low < Min() ? Low : Position();
    setRange(Low, High);
    SetPosition(Kept);
}

int TProgressBar::FilledLength(int Length) const {
    const qint64 Span = qint64(Max()) - Min();
    if (Span <= 0)
        return 0;
    return int(qint64(Length) * (qint64(Position()) - Min()) / Span);
}

// The part of the bar from Start to Start + Length, counted from where it fills.
QRect TProgressBar::Section(const QRect &Inner, int Start, int Length) const {
    if (Orientation() == pbVertical)
        return QRect(Inner.left(), Inner.bottom() + 1 - Start - Length, Inner.width(), Length);
    return QRect(Inner.left() + Start, Inner.top(), Length, Inner.height());
}

void TProgressBar::PaintBlocks(QPainter &Painter, const QRect &Inner, int Filled) const {
    const int Thickness = Orientation() == pbVertical ? Inner.width() : Inner.height();
    const int Length = Orientation() == pbVertical ? Inner.height() : Inner.width();
    const int Block = std::max(2, Thickness * 2 / 3);
    for (int Start = 0; Start < Filled; Start += Block + BlockGap)
        Painter.fillRect(Section(Inner, Start, std::min(Block, Length - Start)), BarFill());
}

void TProgressBar::paintEvent(QPaintEvent *) {
    QPainter Painter(this);
    const QRect Frame = contentsRect();
    qDrawShadePanel(&Painter, Frame, palette(), true, FrameWidth);
    const QRect Inner = Frame.adjusted(FrameWidth, FrameWidth, -FrameWidth, -FrameWidth);
    if (Inner.isEmpty())
        return;
    Painter.fillRect(Inner, Background());
    const int Length = Orientation() == pbVertical ? Inner.height() : Inner.width();
    const int Filled = FilledLength(Length);
    if (FSmooth)
        Painter.fillRect(Section(Inner, 0, Filled), BarFill());
    else
        PaintBlocks(Painter, Inner, Filled);
}

TAdvProgress::TAdvProgress(QWidget *Parent) : TProgressBar(Parent) {}

void TAdvProgress::SetBarColor(TColor Value) {
    FBarColor = Value;
    update();
}

void TAdvProgress::SetBkColor(TColor Value) {
    FBkColor = Value;
    update();
}

QString TAdvProgress::Version() const {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(AdvProgressVersion >> 24)
        .arg((AdvProgressVersion >> 16) & 0xFF)
        .arg((AdvProgressVersion >> 8) & 0xFF)
        .arg(AdvProgressVersion & 0xFF);
}
