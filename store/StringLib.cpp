#include "store/StringLib.h"

namespace {

inline char16_t FoldAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c;
}

bool EqualRange(const QChar *a, const QChar *b, qsizetype count, bool ignoreCase)
{
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x == y)
            continue;
        if (!ignoreCase || FoldAscii(x) != FoldAscii(y))
            return false;
    }
    return true;
}

} // namespace

bool StartsWith(const QString &prefix, const QString &text, bool ignoreCase)
{
    if (prefix.isEmpty() || text.isEmpty() || text.size() < prefix.size())
        return false;
    return EqualRange(prefix.constData(), text.constData(), prefix.size(), ignoreCase);
}

bool SameTextAscii(const QString &a, const QString &b)
{
    return a.size() == b.size() && EqualRange(a.constData(), b.constData(), a.size(), true);
}

QStringView TrimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

int DigitValue(QChar c, bool hex)
{
    if (IsAsciiDigit(c))
        return c.unicode() - u'0';
    if (!hex)
        return -1;
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}
