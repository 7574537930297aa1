#include "gui/StdCtrls.h"

#include <QAbstractTextDocumentLayout>
#include <QHelpEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace {

// Not the format's own tool tip, which the text control would show as it is: as markup
// when it looks like markup.
constexpr int LineToolTip = QTextFormat::UserProperty;

} // namespace

TMemo::TMemo(QWidget *Parent) : QPlainTextEdit(Parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // The log runs for days: a history of its edits would only grow.
    setUndoRedoEnabled(false);
}

// Blocks are laid out lazily; asking for the block's rectangle lays it out.
int TMemo::LaidOutLineCount(const QTextBlock &Block) const {
    document()->documentLayout()->blockBoundingRect(Block);
    return Block.lineCount();
}

int TMemo::RowCount() const {
    const QTextBlock Last = document()->lastBlock();
    int Rows = 0;
    for (QTextBlock Block = document()->firstBlock(); Block.isValid(); Block = Block.next()) {
        if (Block == Last && Block.text().isEmpty())
            break;
        Rows += LaidOutLineCount(Block);
    }
    return Rows;
}

// One edit, so a long wrapped message is laid out again once, not once per row. Greedy
// wrapping makes the rest of a line wrap exactly as it did before its first rows went.
void TMemo::DeleteFirstRows(int Count) {
    int End = 0;
    for (QTextBlock Block = document()->firstBlock(); Block.isValid() && Count > 0;
         Block = Block.next()) {
        const int Lines = LaidOutLineCount(Block);
        if (Lines > Count) {
            End = Block.position() + Block.layout()->lineAt(Count).textStart();
            break;
        }
        // A block's length includes the break that ends it.
        End = Block.position() + Block.length();
        Count -= Lines;
    }
    QTextCursor Cursor(document());
    Cursor.setPosition(std::min(End, document()->characterCount() - 1), QTextCursor::KeepAnchor);
    Cursor.removeSelectedText();
}

void TMemo::AppendLine(const QString &Line, const QString &ToolTip) {
    QTextCursor Cursor(document());
    Cursor.movePosition(QTextCursor::End);
    const QTextBlock First = Cursor.block();
    // Carried by the characters, so that it stays with what a trim leaves of the line.
    QTextCharFormat Format;
    Format.setProperty(LineToolTip, ToolTip);
    Cursor.insertText(Line + QLatin1Char('\n'), Format);
    // The rows keep their shaped glyphs: otherwise every repaint shapes all it shows anew.
    for (QTextBlock Block = First; Block.isValid(); Block = Block.next())
        Block.layout()->setCacheEnabled(true);
    // Inside an update the view does not know the new size yet: the caret moves once it does.
    if (FUpdates > 0)
        FEndPending = true;
    else
        ShowEnd();
}

void TMemo::ShowEnd() {
    QTextCursor Cursor(document());
    Cursor.movePosition(QTextCursor::End);
    setTextCursor(Cursor);
    ensureCursorVisible();
}

// The layout tells the view of every edit. Held until the end, it tells it once: the
// scroll bar sees only the final size, so a full log that loses and gains as many rows
// leaves it unpainted. The edits stay separate, so rows they do not touch keep their
// layout and are not shaped again for every message.
void TMemo::BeginUpdate() {
    if (FUpdates++ > 0)
        return;
    document()->documentLayout()->blockSignals(true);
}

void TMemo::EndUpdate() {
    if (FUpdates == 0 || --FUpdates > 0)
        return;
    QAbstractTextDocumentLayout *Layout = document()->documentLayout();
    Layout->blockSignals(false);
    emit Layout->documentSizeChanged(Layout->documentSize());
    emit Layout->update();
    if (std::exchange(FEndPending, false))
        ShowEnd();
}

bool TMemo::viewportEvent(QEvent *Event) {
    if (Event->type() != QEvent::ToolTip)
        return QPlainTextEdit::viewportEvent(Event);
    ShowToolTip(static_cast<const QHelpEvent &>(*Event));
    return true;
}

// The tip of the line under the mouse, none beside the text. Rich text is made from the
// escaped plain text: a tip that looked like markup would otherwise be taken as markup.
void TMemo::ShowToolTip(const QHelpEvent &Event) {
    const QTextBlock Block = cursorForPosition(Event.pos()).block();
    const QRect Line = blockBoundingGeometry(Block).translated(contentOffset()).toRect();
    const QTextBlock::iterator Text = Block.begin();
    const QString Tip =
        Text.atEnd() ? QString() : Text.fragment().charFormat().stringProperty(LineToolTip);
    if (Tip.isEmpty() || !Line.contains(Event.pos())) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(Event.globalPos(), Qt::convertFromPlainText(Tip), viewport(), Line);
}
