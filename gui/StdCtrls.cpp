#include "gui/StdCtrls.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>

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

void TMemo::DeleteFirstRow() {
    const QTextBlock First = document()->firstBlock();
    // A block's length includes the break that ends it.
    const int RowLength =
        LaidOutLineCount(First) > 1 ? First.layout()->lineAt(0).textLength() : First.length();
    QTextCursor Cursor(document());
    Cursor.setPosition(std::min(RowLength, document()->characterCount() - 1),
                       QTextCursor::KeepAnchor);
    Cursor.removeSelectedText();
}

void TMemo::AppendLine(const QString &Line) {
    QTextCursor Cursor(document());
    Cursor.movePosition(QTextCursor::End);
    Cursor.insertText(Line + QLatin1Char('\n'));
    setTextCursor(Cursor);
    ensureCursorVisible();
}
