#pragma once

#include <QPlainTextEdit>

// A read-only, word-wrapped text log that counts its lines as it shows them: a line
// that wraps counts once per row. A line may carry a tool tip of its own.
class TMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TMemo(QWidget *Parent = nullptr);

    // The rows shown, not counting the empty row after the final line break.
    int RowCount() const;
    // Removes the first Count rows and the line breaks or wraps that end them; the rest
    // of a wrapped line stays and wraps anew.
    void DeleteFirstRows(int Count);
    // Adds the text and a line break at the end, puts the caret after them and
    // scrolls it into view. ToolTip, unless empty, shows while the mouse rests on the
    // line, always as plain text; it stays with what is left of the line after a trim.
    void AppendLine(const QString &Line, const QString &ToolTip = {});

    // Changes between these two are shown once, at the end: the log and its scroll bar
    // are painted only if their look has changed. Nested pairs count.
    void BeginUpdate();
    void EndUpdate();

protected:
    bool viewportEvent(QEvent *Event) override;

private:
    void ShowToolTip(const QHelpEvent &Event);
    int LaidOutLineCount(const QTextBlock &Block) const;
    void ShowEnd();

    int FUpdates = 0;
    bool FEndPending = false;
};
