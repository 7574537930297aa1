#pragma once

#include <QTest>

// Generous upper bound for anything the event loop has to deliver.
constexpr int EventTimeoutMs = 10000;

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget *Widget) { Widget->installEventFilter(this); }
    int Count() const { return FCount; }

    // Waits until at least one more paint than Seen has happened.
    bool WaitForPaintAfter(int Seen) const {
        return QTest::qWaitFor([&] { return FCount > Seen; }, EventTimeoutMs);
    }

protected:
    bool eventFilter(QObject *, QEvent *Event) override {
        if (Event->type() == QEvent::Paint)
            ++FCount;
        return false;
    }

private:
    int FCount = 0;
};
