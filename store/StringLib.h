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

inline bool IsAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
// The value of a decimal (or, with hex, hexadecimal) digit; -1 for any other character.
int DigitValue(QChar c, bool hex);

// Index of the first item whose Name equals `name` ignoring ASCII case; -1 if none.
template <class TItems> int IndexOfName(const TItems &items, const QString &name)
{
    for (size_t i = 0; i < items.size(); ++i) {
        if (SameTextAscii(items[i]->Name, name))
            return int(i);
    }
    return -1;
}
