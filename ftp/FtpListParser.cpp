#include "ftp/FtpListParser.h"

#include "ftp/FtpListFormats.h"
#include "ftp/FtpWininet.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

using namespace ListParse;

namespace {

// The entry type a Unix-like listing shows in its first column: 'd', 'l', '-', or another
// character for devices and the like; 0 when the column is no such thing.
QChar UnixType(QStringView first, QStringView second)
{
    // "drwxr-xr-x", "-rw-r--r--+", Connect:Enterprise "-C--E-----".
    if (first.size() >= 10 && QStringView(u"-dlbcpsDn").contains(first[0])) {
        bool ok = true;
        for (int i = 1; i < 10 && ok; ++i)
            ok = first[i] == QLatin1Char('-') || first[i].isLetter();
        if (ok)
            return first[0];
    }
    // NetWare: "d [RWCEAFMS]".
    if (first.size() == 1 && QStringView(u"-d").contains(first[0])
        && second.startsWith(QLatin1Char('[')))
        return first[0];
    // Numeric permissions: "644", "0755", or a whole mode "040755", "100644", "120777".
    if (AllDigits(first) && (first.size() == 3 || first.size() == 4 || first.size() == 6)) {
        for (QChar c : first) {
            if (c > QLatin1Char('7'))
                return {};
        }
        if (first.size() == 6) {
            const QStringView kind = first.left(2);
            return kind == u"04"   ? QLatin1Char('d')
                   : kind == u"12" ? QLatin1Char('l')
                   : kind == u"10" ? QLatin1Char('-')
                                   : QLatin1Char('c');
        }
        return QLatin1Char('-');
    }
    return {};
}

// A size column: "1234", "33.5k", "1.2M"; a group run into its size ("staff1234") gives the
// trailing digits when `runTogether`.
bool ParseSize(QStringView text, qint64 &size, bool runTogether)
{
    bool ok = false;
    if (AllDigits(text)) {
        size = text.toLongLong(&ok);
        return ok;
    }
    static const QRegularExpression unit(QStringLiteral("^(\\d+(?:[.,]\\d+)?)([kKmMgGtT])[bB]?$"));
    if (const QRegularExpressionMatch m = unit.match(text); m.hasMatch()) {
        double value = m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        const int power
            = int(QStringView(u"kmgt").indexOf(m.capturedView(2).front().toLower())) + 1;
        value *= std::pow(1024.0, power);
        size = qint64(std::llround(value));
        return ok;
    }
    if (!runTogether)
        return false;
    qsizetype i = text.size();
    while (i > 0 && text[i - 1].isDigit() && text[i - 1] < QLatin1Char(':'))
        --i;
    if (i == 0 || i == text.size() || !text[i - 1].isLetter())
        return false;
    size = text.mid(i).toLongLong(&ok);
    return ok;
}

// The date that starts at token `at`: month and day in either order, by name, by CJK marks or
// by number, then a time, a year, or a time and a year; or one token ("1999/10/12",
// "01-jun-99") with an optional time; or "09-26 2000". `last` is its last token.
bool ReadDate(const std::vector<QStringView> &t, size_t at, TContext &context, QDate &date,
              QTime &time, size_t &last)
{
    if (at >= t.size())
        return false;
    auto dayOf = [](QStringView text) {
        while (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(',')))
            text.chop(1);
        if (!text.isEmpty() && QStringView(u"日일").contains(text.back()))
            text.chop(1);
        const int day = AllDigits(text) && text.size() <= 2 ? text.toInt() : 0;
        return day <= 31 ? day : 0;
    };
    auto yearOf = [](QStringView text) {
        while (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(',')))
            text.chop(1);
        if (!text.isEmpty() && QStringView(u"年년").contains(text.back()))
            text.chop(1);
        const int year = AllDigits(text) && text.size() == 4 ? text.toInt() : 0;
        return year >= 1900 && year < 2200 ? year : 0;
    };
    time = QTime(0, 0);
    // Time or year (or a time followed by a year) after month and day at `next`.
    auto finish = [&](int month, int day, size_t next) {
        if (next >= t.size() || month == 0 || day == 0)
            return false;
        bool nextDay = false;
        if (const int year = yearOf(t[next])) {
            date = MakeDate(year, month, day);
            last = next;
            // "Aug 8 2004 18:45": a time after the year, when a name still follows.
            if (next + 2 < t.size() && ParseClock(t[next + 1], time))
                last = next + 1;
            return date.isValid();
        }
        if (!ParseClock(t[next], time, &nextDay))
            return false;
        last = next;
        int year = 0;
        // "Jul 29 02:27 2014": a year after the time, when a name still follows.
        if (next + 2 < t.size())
            year = yearOf(t[next + 1]);
        if (year != 0) {
            date = MakeDate(year, month, day);
            last = next + 1;
        } else {
            // Recent entries show a time instead of a year: this year, or the last one for a
            // date that lies ahead.
            date = MakeDate(context.Today.year(), month, day);
            if (date.isValid() && date > context.Today.addDays(1))
                date = MakeDate(context.Today.year() - 1, month, day);
        }
        if (nextDay)
            date = date.addDays(1);
        return date.isValid();
    };
    const QStringView a = t[at];
    const QStringView b = at + 1 < t.size() ? t[at + 1] : QStringView();
    if (const int month = MonthNumber(a); month && at + 1 < t.size()) {
        // "May 12 14:30", "10月 26日 2003".
        if (finish(month, dayOf(b), at + 2))
            return true;
    }
    if (const int month = MonthNumber(b); month && dayOf(a)) {
        // "01 oct 2004", "26. Juli, 20:10".
        if (finish(month, dayOf(a), at + 2))
            return true;
    }
    // Hungarian "2003. szept. 26."
    if (const int year = a.endsWith(QLatin1Char('.')) ? yearOf(a) : 0; year && at + 2 < t.size()) {
        if (const int month = MonthNumber(b); month && dayOf(t[at + 2])) {
            date = MakeDate(year, month, dayOf(t[at + 2]));
            last = at + 2;
            if (at + 3 < t.size() - 1 && ParseClock(t[at + 3], time))
                last = at + 3;
            return date.isValid();
        }
    }
    // "3 29 03:26": month and day as numbers.
    if (AllDigits(a) && AllDigits(b) && a.size() <= 2 && b.size() <= 2) {
        int first = a.toInt();
        int second = b.toInt();
        if (first > 12 && second <= 12)
            ++context.DayFirstVotes;
        else if (second > 12 && first <= 12)
            ++context.MonthFirstVotes;
        if (first > 12 || (second <= 12 && context.DayFirst(false)))
            std::swap(first, second);
        if (first >= 1 && first <= 12 && finish(first, second, at + 2))
            return true;
    }
    // "09-26 2000".
    static const QRegularExpression monthDay(QStringLiteral("^(\\d{1,2})-(\\d{1,2})$"));
    if (const QRegularExpressionMatch m = monthDay.match(a); m.hasMatch()) {
        int first = m.capturedView(1).toInt();
        int second = m.capturedView(2).toInt();
        if (first > 12)
            std::swap(first, second);
        if (first >= 1 && first <= 12 && finish(first, second, at + 1))
            return true;
    }
    if (ParseDateToken(a, context, date)) {
        last = at;
        if (at + 1 < t.size() - 1) {
            bool nextDay = false;
            if (ParseClock(b, time, &nextDay)) {
                last = at + 1;
                if (nextDay)
                    date = date.addDays(1);
                // "--full-time": the time's zone ("+0200") before the name; the listed fields
                // are kept as they are.
                static const QRegularExpression zone(QStringLiteral("^[+-]\\d{4}$"));
                if (at + 3 < t.size() && zone.match(t[at + 2]).hasMatch())
                    last = at + 2;
            }
        }
        return true;
    }
    return false;
}

TResult ReadUnixLine(const QString &line, TFtpListEntry &entry, TContext &context)
{
    const std::vector<TToken> tokens = Tokens(line);
    if (tokens.size() < 3)
        return TResult::Unreadable;
    std::vector<QStringView> t;
    for (const TToken &token : tokens)
        t.push_back(QStringView(line).mid(token.Start, token.End - token.Start));
    const QChar type = UnixType(t[0], t[1]);
    if (type.isNull())
        return TResult::Unreadable;
    const bool known
        = type == QLatin1Char('-') || type == QLatin1Char('d') || type == QLatin1Char('l');

    auto nameFrom = [&](qsizetype start) {
        QString name = line.mid(start);
        if (type == QLatin1Char('l')) {
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow >= 0)
                name.truncate(arrow);
        }
        return name;
    };
    // The size stands right before the date; owner and group columns vary between servers.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t m = 2; m + 1 < t.size(); ++m) {
            qint64 size = 0;
            if (!ParseSize(t[m - 1], size, pass == 1))
                continue;
            QDate date;
            QTime time;
            size_t last = 0;
            if (!ReadDate(t, m, context, date, time, last))
                continue;
            if (!known)
                return TResult::NoEntry; // devices, pipes and sockets are nothing to transfer
            entry = {};
            // The name starts after the one blank that follows the date; further blanks
            // belong to it.
            entry.Name = nameFrom(tokens[last].End + 1);
            if (t[0].size() == 1) // NetWare pads the column before the name
                entry.Name = entry.Name.trimmed();
            entry.Size = size;
            entry.IsFolder = type == QLatin1Char('d');
            entry.Date = date;
            entry.Time = time;
            return TResult::Entry;
        }
    }
    // No date at all: "-rw-r--r-- 1 owner group 1234 name".
    for (size_t k = std::min<size_t>(4, t.size() - 2); k >= 2; --k) {
        qint64 size = 0;
        QDate date;
        QTime time;
        size_t last = 0;
        if (!AllDigits(t[k]) || !ParseSize(t[k], size, false) || !AllDigits(t[1])
            || ReadDate(t, k + 1, context, date, time, last))
            continue;
        if (!known)
            return TResult::NoEntry;
        entry = {};
        entry.Name = nameFrom(tokens[k].End + 1);
        entry.Size = size;
        entry.IsFolder = type == QLatin1Char('d');
        return TResult::Entry;
    }
    return TResult::Unreadable;
}

// "12-05-26  02:03PM  <DIR>  name", "05-12-2026  14:03  1234 name", "2002-09-02  18:48  <DIR>
// name", sizes with thousands separators ("9,730").
TResult ReadDosLine(const QString &line, TFtpListEntry &entry, TContext &context)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\s*(\\d{1,4}[-/.]\\d{1,2}[-/"
        ".]\\d{2,4})\\s+(\\d{1,2}:\\d{2}(?::\\d{2})?)\\s*([AaPp][Mm])?"
        "\\s+(<[Dd][Ii][Rr]>|\\d{1,3}(?:([,.])\\d{3}(?:\\5\\d{3})*)?|\\d+)( +)(.+)$"));
    const QRegularExpressionMatch m = pattern.match(line);
    if (!m.hasMatch())
        return TResult::Unreadable;
    QDate date;
    QTime time;
    if (!ParseDateToken(m.capturedView(1), context, date)
        || !ParseClock(m.captured(2) + m.captured(3), time))
        return TResult::Unreadable;
    entry = {};
    entry.Date = date;
    entry.Time = time;
    entry.IsFolder = m.capturedView(4).startsWith(QLatin1Char('<'));
    // IIS pads "<DIR>" to the width of the size column and one blank follows: ten blanks in all.
    // Blanks past those, and past the one after a size, start the name.
    const qsizetype blanks = m.capturedView(6).size();
    const qsizetype skip = entry.IsFolder ? (blanks >= 10 ? 10 : blanks) : 1;
    entry.Name = m.captured(6).mid(skip) + m.captured(7);
    if (!entry.IsFolder) {
        bool ok = false;
        entry.Size
            = m.captured(4).remove(QLatin1Char(',')).remove(QLatin1Char('.')).toLongLong(&ok);
        if (!ok)
            return TResult::Unreadable;
    }
    return TResult::Entry;
}

bool IsHeader(const QString &line)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:total\\s+\\d+|insgesamt\\s+\\d+|итого\\s+\\d+|합계\\s+\\d+|合計\\s+\\d+"
                       "|总用量\\s+\\d+"
                       "|[-\\s]+)$"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(line).hasMatch();
}

TResult ReadList(const QString &line, TFtpListEntry &entry, TContext &context)
{
    if (IsHeader(line))
        return TResult::NoEntry;
    TResult result = ReadOtherLine(line, entry, context);
    if (result != TResult::Unreadable)
        return result;
    result = ReadUnixLine(line, entry, context);
    if (result != TResult::Unreadable)
        return result;
    return ReadDosLine(line, entry, context);
}

bool IsFactsSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

TResult ReadMlsd(const QString &line, TFtpListEntry &entry)
{
    // "fact=value;fact=value; name": facts hold no blanks, so the first blank (a TAB on some
    // servers) ends them, and the name is all that follows it.
    qsizetype separator = 0;
    while (separator < line.size() && !IsFactsSeparator(line[separator]))
        ++separator;
    if (separator >= line.size() - 1)
        return TResult::Unreadable;
    TFtpListEntry result;
    result.Name = line.mid(separator + 1);
    const QStringView facts = QStringView(line).left(separator);
    if (facts.isEmpty()) {
        entry = result; // no facts at all: a plain file name
        return TResult::Entry;
    }
    if (!facts.endsWith(QLatin1Char(';')))
        return TResult::Unreadable;
    int kind = -1; // 0 file, 1 folder
    bool hasSize = false;
    QStringView perm;
    for (QStringView fact : facts.chopped(1).split(QLatin1Char(';'))) {
        const qsizetype equals = fact.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return TResult::Unreadable;
        const QStringView key = fact.left(equals);
        const QStringView value = fact.mid(equals + 1);
        if (key.compare(QLatin1String("type"), Qt::CaseInsensitive) == 0) {
            if (value.compare(QLatin1String("file"), Qt::CaseInsensitive) == 0) {
                kind = 0;
            } else if (value.compare(QLatin1String("dir"), Qt::CaseInsensitive) == 0) {
                kind = 1;
            } else if (value.compare(QLatin1String("cdir"), Qt::CaseInsensitive) == 0
                       || value.compare(QLatin1String("pdir"), Qt::CaseInsensitive) == 0) {
                return TResult::NoEntry;
            } else if (value.startsWith(QLatin1String("os.unix=slink"), Qt::CaseInsensitive)
                       || value.startsWith(QLatin1String("os.unix=symlink"), Qt::CaseInsensitive)) {
                kind = 0;
            } else {
                return TResult::NoEntry; // devices and the like
            }
        } else if (key.compare(QLatin1String("size"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            result.Size = value.toLongLong(&ok);
            if (!ok || result.Size < 0)
                return TResult::Unreadable;
            hasSize = true;
        } else if (key.compare(QLatin1String("perm"), Qt::CaseInsensitive) == 0) {
            perm = value;
        } else if (key.compare(QLatin1String("modify"), Qt::CaseInsensitive) == 0) {
            static const QRegularExpression pattern(
                QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(?:\\.\\d+)?$"));
            const QRegularExpressionMatch m = pattern.match(value);
            if (!m.hasMatch())
                return TResult::Unreadable;
            result.Date = MakeDate(m.capturedView(1).toInt(), m.capturedView(2).toInt(),
                                   m.capturedView(3).toInt());
            result.Time = QTime(m.capturedView(4).toInt(), m.capturedView(5).toInt(),
                                m.capturedView(6).toInt());
            if (!result.Time.isValid())
                result.Time = QTime(0, 0);
        }
    }
    if (kind < 0) {
        // No type: the permissions tell a folder (enter, list, create, make folders, purge)
        // from a file (read, write, append); else a size means a file.
        auto any = [&](const char16_t *letters) {
            for (QChar c : perm) {
                if (QStringView(letters).contains(c.toLower()))
                    return true;
            }
            return false;
        };
        if (any(u"elcmp"))
            kind = 1;
        else if (any(u"rwa") || hasSize)
            kind = 0;
        else
            return TResult::Unreadable;
    }
    result.IsFolder = kind == 1;
    entry = result;
    return TResult::Entry;
}

} // namespace

bool ParseListLine(const QString &line, TFtpListEntry &entry, const QDate &today)
{
    TContext context;
    context.Today = today;
    return ReadList(line, entry, context) == TResult::Entry;
}

bool ParseMlsdLine(const QString &line, TFtpListEntry &entry)
{
    return ReadMlsd(line, entry) == TResult::Entry;
}

namespace {

// A line that is no UTF-8, read byte for byte (Latin-1, which also gives month names such as
// "M\xE4r" written in it), with the month, day and year marks of the legacy CJK encodings (GBK,
// Big5, Shift-JIS, EUC-JP, EUC-KR) that follow a digit made the Unicode marks the date readers
// know.
QString LegacyLine(const QByteArray &raw)
{
    static const struct
    {
        const char *Bytes;
        char16_t Mark;
    } marks[] = {
        {"\xD4\xC2", u'月'}, {"\xC8\xD5", u'日'}, {"\xC4\xEA", u'年'}, // GBK
        {"\xA4\xEB", u'月'}, {"\xA4\xE9", u'日'}, {"\xA6\x7E", u'年'}, // Big5
        {"\x8C\x8E", u'月'}, {"\x93\xFA", u'日'}, {"\x94\x4E", u'年'}, // Shift-JIS
        {"\xB7\xEE", u'月'}, {"\xC6\xFC", u'日'}, {"\xC7\xAF", u'年'}, // EUC-JP
        {"\xEA\xC5", u'月'}, {"\xEC\xED", u'日'}, {"\xD2\xB4", u'年'}, // EUC-KR, Hanja
        {"\xBF\xF9", u'月'}, {"\xC0\xCF", u'日'}, {"\xB3\xE2", u'年'}, // EUC-KR, Hangul
    };
    QString line;
    line.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (i > 0 && raw[i - 1] >= '0' && raw[i - 1] <= '9' && i + 1 < raw.size()) {
            const auto *mark = std::find_if(std::begin(marks), std::end(marks), [&](const auto &m) {
                return raw[i] == m.Bytes[0] && raw[i + 1] == m.Bytes[1];
            });
            if (mark != std::end(marks)) {
                line += QChar(mark->Mark);
                ++i;
                continue;
            }
        }
        line += QChar(uchar(raw[i]));
    }
    return line;
}

// A listing line as text for a log: printable characters as they are, others (and every byte
// of a line that is no UTF-8) as escapes.
QString EscapedLine(const QByteArray &raw)
{
    const bool utf8 = QByteArrayView(raw).isValidUtf8();
    QString text;
    const QString decoded = utf8 ? QString::fromUtf8(raw) : QString();
    auto escape = [&](uint c) {
        if (c == '\t')
            text += QStringLiteral("\\t");
        else if (c == '\\' || c == '"')
            text += QLatin1Char('\\') + QChar(c);
        else
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    };
    if (utf8) {
        for (QChar c : decoded) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\')
                || c == QLatin1Char('"'))
                escape(c.unicode());
            else
                text += c;
        }
    } else {
        for (char b : raw) {
            const uint c = uchar(b);
            if (c < 0x20 || c >= 0x7F || c == '\\' || c == '"')
                escape(c);
            else
                text += QChar(c);
        }
    }
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("...");
    return text;
}

// A VMS name alone on its line ("A_VERY_LONG_NAME.HTML;12"): its details follow on the next.
bool IsVmsNameOnly(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral("^[^\\s;]+;\\d+$"));
    return pattern.match(line).hasMatch();
}

} // namespace

std::vector<TFtpListEntry> ParseListing(const QByteArray &data, bool mlsd, const QDate &today,
                                        TUnreadLines *unread)
{
    // Two passes: the first learns from the lines that can only be read one way whether the
    // listing writes numeric dates day first; the second reads every line with that knowledge.
    TContext context;
    context.Today = today;
    std::vector<TFtpListEntry> entries;
    for (int pass = 0; pass < 2; ++pass) {
        const int dayFirst = context.DayFirstVotes;
        const int monthFirst = context.MonthFirstVotes;
        context = TContext();
        context.Today = today;
        context.DayFirstVotes = dayFirst;
        context.MonthFirstVotes = monthFirst;
        entries.clear();
        if (unread)
            *unread = {};
        // Where lines end in CR LF, a bare LF after an entry is a line break inside its name
        // (the server sends names as they are): the lines that follow up to the next CR LF,
        // which parse as no entry, are the rest of the name. The name then comes out whole,
        // never cut short into the name of something else.
        const bool crlfLines = data.contains("\r\n");
        bool openName = false;
        qsizetype start = 0;
        int lineNumber = -1;
        QByteArray pendingRaw;
        while (start < data.size()) {
            qsizetype end = data.indexOf('\n', start);
            if (end < 0)
                end = data.size();
            qsizetype stop = end;
            if (stop > start && data[stop - 1] == '\r')
                --stop;
            const bool bareLf = crlfLines && stop == end && end < data.size();
            const QByteArray raw = data.mid(start, stop - start);
            start = end + 1;
            ++lineNumber;
            if (raw.isEmpty()) {
                openName = false;
                continue;
            }
            const bool legacy = !QByteArrayView(raw).isValidUtf8();
            QString line = legacy ? LegacyLine(raw) : QString::fromUtf8(raw);
            if (!mlsd && !context.VmsPending.isEmpty()) {
                if (line.front().isSpace())
                    line = context.VmsPending + QLatin1Char(' ') + line;
                else if (unread && unread->Count++ == 0)
                    unread->First = EscapedLine(pendingRaw);
                context.VmsPending.clear();
            }
            TFtpListEntry entry;
            const TResult result = mlsd ? ReadMlsd(line, entry) : ReadList(line, entry, context);
            if (result == TResult::Entry) {
                // A name that came as no UTF-8 cannot go back as it came: past ASCII it shows
                // U+FFFD, which the engine refuses to send.
                if (legacy) {
                    for (QChar &c : entry.Name) {
                        if (c.unicode() >= 0x80)
                            c = QChar::ReplacementCharacter;
                    }
                }
                entry.Line = lineNumber;
                entries.push_back(std::move(entry));
                openName = bareLf;
            } else if (openName) {
                entries.back().Name += QLatin1Char('\n') + line;
                openName = bareLf;
            } else if (!mlsd && IsVmsNameOnly(line)) {
                context.VmsPending = line;
                pendingRaw = raw;
            } else if (result == TResult::Unreadable && unread && unread->Count++ == 0) {
                unread->First = EscapedLine(raw);
            }
        }
        if (!context.VmsPending.isEmpty() && unread && unread->Count++ == 0)
            unread->First = EscapedLine(pendingRaw);
        if (context.DayFirstVotes == 0 && context.MonthFirstVotes == 0)
            break; // nothing the second pass could read differently
    }
    return entries;
}

QString UnreadLinesText(const QString &path, const TUnreadLines &unread)
{
    const QString folder = path.isEmpty() ? QStringLiteral("the current folder") : path;
    if (unread.Count == 1)
        return QStringLiteral("1 line of the listing of %1 could not be read: \"%2\"")
            .arg(folder, unread.First);
    return QStringLiteral("%1 lines of the listing of %2 could not be read, the first: \"%3\"")
        .arg(QString::number(unread.Count), folder, unread.First);
}

QDateTime EntryDate(const TFtpListEntry &entry, int currentYear)
{
    if (!entry.Date.isValid())
        return {};
    const QTime time = entry.Time.isValid() ? entry.Time : QTime(0, 0);
    QDate date = entry.Date;
    if (time.hour() != 0 || time.minute() != 0)
        date = MakeDate(currentYear, date.month(), date.day());
    return QDateTime(date, time);
}

bool IsHostileName(const QString &name)
{
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
           || name.contains(QLatin1Char('/')) || name.contains(QChar(u'\0'));
}

void AppendListing(const std::vector<TFtpListEntry> &entries, const QString &path,
                   TFtpFileList &list, int currentYear,
                   const std::function<void(const QString &rawName)> &onSkipped)
{
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    for (const TFtpListEntry &entry : entries) {
        if (entry.Name == QLatin1String(".") || entry.Name == QLatin1String(".."))
            continue;
        QString name = entry.Name;
        // Only the listed folder's own path makes a full path folder-relative ("../x" listed in
        // "/d" is not "x"); any other name with "/" keeps it and is dropped below.
        if (!path.isEmpty() && name.startsWith(prefix))
            name.remove(0, prefix.size());
        if (IsHostileName(name)) {
            if (onSkipped)
                onSkipped(entry.Name);
            continue;
        }
        auto file = std::make_unique<TFtpFile>();
        file->Name = name;
        file->Size = entry.Size;
        file->Date = EntryDate(entry, currentYear);
        file->IsFolder = entry.IsFolder;
        list.Add(std::move(file));
    }
    if (list.Count() == 1 && list.Items(0)->Name == QLatin1String("total 1"))
        list.Clear();
}
