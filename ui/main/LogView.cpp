#include "ui/main/main.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

namespace {

QColor LogColour(int kind)
{
    switch (kind) {
    case 1:
        return QColor(255, 0, 0);
    case 2:
        return QColor(0, 0, 255);
    default:
        return QColor(0, 0, 0);
    }
}

// Cuts the document's last line back to its first `length` characters.
void CutLastLine(QTextDocument *document, int length)
{
    const QTextBlock last = document->lastBlock();
    if (last.length() - 1 <= length)
        return;
    QTextCursor cursor(document);
    cursor.setPosition(last.position() + length);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

} // namespace

void TfrmMain::AddLogLine(int kind, const QString &text)
{
    QTextDocument *document = retLog->document();
    if (FLogTailLength > 0)
        CutLastLine(document, FLogTailLength);
    FLogTailLength = -1;
    QScrollBar *scroll = retLog->verticalScrollBar();
    const bool atEnd = scroll->value() >= scroll->maximum();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(LogColour(kind));
    if (!m_logEmpty)
        cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(text, format);
    m_logEmpty = false;
    if (atEnd)
        scroll->setValue(scroll->maximum());
}

void TfrmMain::AppendLogTextToLog(const QString &text)
{
    QTextDocument *document = retLog->document();
    if (FLogTailLength >= 0)
        CutLastLine(document, FLogTailLength);
    else
        FLogTailLength = document->lastBlock().length() - 1;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    m_logEmpty = false;
}
