#pragma once

#include "gui/Graphics.h"

#include <QProgressBar>
#include <QString>

enum TProgressBarOrientation { pbHorizontal, pbVertical };

// The classic progress bar: a sunken frame filled from the start (the left, or the
// bottom when vertical) as a continuous bar or in blocks. It paints itself, so it
// looks the same whatever the desktop's style.
class TProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit TProgressBar(QWidget *Parent = nullptr);

    int Min() const { return minimum(); }
    void SetMin(int Value) { SetRange(Value, Max()); }
    int Max() const { return maximum(); }
    void SetMax(int Value) { SetRange(Min(), Value); }
    int Position() const { return value(); }
    // A value outside the range is clamped to it.
    void SetPosition(int Value);
    int Step() const { return FStep; }
    void SetStep(int Value) { FStep = Value; }
    TProgressBarOrientation Orientation() const;
    void SetOrientation(TProgressBarOrientation Value);
    bool Smooth() const { return FSmooth; }
    void SetSmooth(bool Value);

protected:
    virtual QColor BarFill() const { return palette().color(QPalette::Highlight); }
    virtual QColor Background() const { return palette().color(QPalette::Base); }
    void paintEvent(QPaintEvent *Event) override;

private:
    // Raises EInvalidOperation when Low > High.
    void SetRange(int Low, int High);
    int FilledLength(int Length) const;
    QRect Section(const QRect &Inner, int Start, int Length) const;
    void PaintBlocks(QPainter &Painter, const QRect &Inner, int Filled) const;

    int FStep = 10;
    bool FSmooth = false;
};

// The level bar: a progress bar with its own bar and background colours.
class TAdvProgress : public TProgressBar {
    Q_OBJECT

public:
    explicit TAdvProgress(QWidget *Parent = nullptr);

    // Every assignment repaints, even with the colour already set.
    TColor BarColor() const { return FBarColor; }
    void SetBarColor(TColor Value);
    TColor BkColor() const { return FBkColor; }
    void SetBkColor(TColor Value);

    // The control's version; it cannot be changed, and writes are ignored.
    QString Version() const;
    void SetVersion(const QString &) {}

protected:
    QColor BarFill() const override { return ColorToQColor(FBarColor, palette()); }
    QColor Background() const override { return ColorToQColor(FBkColor, palette()); }

private:
    TColor FBarColor = clHighlight;
    TColor FBkColor = clWindow;
};
