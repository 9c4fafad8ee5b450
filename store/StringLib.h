#pragma once

#include <QString>
#include <QStringView>

// False when either is empty; else whether `text` begins with `prefix`
// (ASCII letters folded when ignoreCase).
bool StartsWith(const QString &prefix, const QString &text, bool ignoreCase);

// ASCII-only case folding, the comparison rule of every name lookup in the stores.
bool SameTextAscii(const QString &a, const QString &b);

// The trimming of stored values: every character at or below the space character.
inline bool IsBlank(QChar c)
{
    return c.unicode() <= 0x20;
}
QStringView TrimBlanks(QStringView text);
