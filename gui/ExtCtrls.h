#pragma once

#include <QFrame>
#include <QRawFont>
#include <QString>

// A strip with a raised bevel and one centred line of plain text. It paints the text
// itself: the trace changes with every recorded buffer, and a new caption must cost no
// more than a repaint (a label would recompute its size every time).
class TPanel : public QFrame {
    Q_OBJECT

public:
    explicit TPanel(const QString &Caption, QWidget *Parent = nullptr);

    QString Caption() const { return FCaption; }
    // Line breaks in the caption do not break the line.
    void SetCaption(const QString &Value);

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent *Event) override;
    void paintEvent(QPaintEvent *Event) override;

private:
    bool DrawFixedPitchCaption(QPainter &Painter) const;

    QString FCaption;
    // The font's own glyphs when it is fixed-pitch; invalid otherwise.
    QRawFont FFixedPitchGlyphs;
};
