#pragma once

#include <QLabel>

// A strip with a raised bevel and one centred line of plain text.
class TPanel : public QLabel {
    Q_OBJECT

public:
    explicit TPanel(const QString &Caption, QWidget *Parent = nullptr);

    QString Caption() const { return text(); }
    // Line breaks in the caption do not break the line.
    void SetCaption(const QString &Value);
};
