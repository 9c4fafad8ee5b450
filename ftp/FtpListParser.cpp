#include "ftp/FtpListParser.h"

#include "ftp/FtpWininet.h"

#include <QRegularExpression>

namespace {

struct TToken
{
    qsizetype Start = 0;
    qsizetype End = 0; // one past the last character
};

std::vector<TToken> Tokens(const QString &line)
{
    std::vector<TToken> tokens;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && (line[i] == QLatin1Char(' ') || line[i] == QLatin1Char('\t')))
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        while (i < n && line[i] != QLatin1Char(' ') && line[i] != QLatin1Char('\t'))
            ++i;
        tokens.push_back({start, i});
    }
    return tokens;
}

int MonthNumber(QStringView text)
{
    static const char *const names[]
        = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (text.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

bool AllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// "14:30" or "14:30:15".
bool ParseClock(QStringView text, QTime &time)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    const int hour = m.capturedView(1).toInt();
    const int minute = m.capturedView(2).toInt();
    const int second = m.hasCaptured(3) ? m.capturedView(3).toInt() : 0;
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    time = QTime(hour, minute, second);
    return true;
}

QDate MakeDate(int year, int month, int day)
{
    QDate date(year, month, day);
    if (!date.isValid() && month == 2 && day == 29)
        date = QDate(year, 2, 28);
    return date;
}

bool IsPermissions(QStringView text)
{
    if (text.size() < 10)
        return false;
    if (!QStringView(u"-dlbcpsD").contains(text[0]))
        return false;
    for (int i = 1; i < 10; ++i) {
        if (!QStringView(u"rwxsStTlL-").contains(text[i]))
            return false;
    }
    return true;
}

bool ParseUnixLine(const QString &line, TFtpListEntry &entry, const QDate &today)
{
    const std::vector<TToken> tokens = Tokens(line);
    if (tokens.size() < 6)
        return false;
    auto view = [&](size_t i) {
        return QStringView(line).mid(tokens[i].Start, tokens[i].End - tokens[i].Start);
    };
    const QStringView permissions = view(0);
    if (!IsPermissions(permissions))
        return false;
    const QChar type = permissions[0];
    if (type != QLatin1Char('-') && type != QLatin1Char('d') && type != QLatin1Char('l'))
        return false; // devices, pipes and sockets are nothing to transfer

    // The size stands right before the date; owner and group columns vary between servers.
    for (size_t m = 2; m + 1 < tokens.size(); ++m) {
        if (!AllDigits(view(m - 1)))
            continue;
        QDate date;
        QTime time(0, 0);
        size_t last = 0; // token that ends the date
        const int month = MonthNumber(view(m));
        if (month > 0 && m + 2 < tokens.size()) {
            const QStringView dayText = view(m + 1);
            const QStringView yearOrTime = view(m + 2);
            if (!AllDigits(dayText) || dayText.size() > 2)
                continue;
            const int day = dayText.toInt();
            if (day < 1 || day > 31)
                continue;
            if (AllDigits(yearOrTime) && yearOrTime.size() == 4) {
                date = MakeDate(yearOrTime.toInt(), month, day);
            } else if (ParseClock(yearOrTime, time)) {
                // Recent entries show a time instead of a year: this year, or the last one for a
                // date that lies ahead.
                date = MakeDate(today.year(), month, day);
                if (date.isValid() && date > today.addDays(1))
                    date = MakeDate(today.year() - 1, month, day);
            } else {
                continue;
            }
            last = m + 2;
        } else {
            // ISO form: "2024-05-12 14:30".
            static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
            const QRegularExpressionMatch d = iso.match(view(m));
            if (!d.hasMatch() || !ParseClock(view(m + 1), time))
                continue;
            date = MakeDate(d.capturedView(1).toInt(), d.capturedView(2).toInt(),
                            d.capturedView(3).toInt());
            last = m + 1;
        }
        if (!date.isValid())
            continue;
        bool sizeOk = false;
        const qint64 size = view(m - 1).toLongLong(&sizeOk);
        if (!sizeOk)
            continue;
        // The name starts after the one blank that follows the date; further blanks belong to it.
        QString name = line.mid(tokens[last].End + 1);
        if (type == QLatin1Char('l')) {
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow >= 0)
                name.truncate(arrow);
        }
        entry = {};
        entry.Name = name;
        entry.Size = size;
        entry.IsFolder = type == QLatin1Char('d');
        entry.Date = date;
        entry.Time = time;
        return true;
    }
    return false;
}

// "12-05-26  02:03PM  <DIR>  name", "05-12-2026  14:03  1234 name".
bool ParseDosLine(const QString &line, TFtpListEntry &entry)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,2})-(\\d{1,2})-(\\d{4}|\\d{2})\\s+(\\d{1,2}):(\\d{2})"
                       "(?::(\\d{2}))?\\s*([AaPp][Mm])?\\s+(<[Dd][Ii][Rr]>|\\d+)\\s+(.+)$"));
    const QRegularExpressionMatch m = pattern.match(line);
    if (!m.hasMatch())
        return false;
    int year = m.capturedView(3).toInt();
    if (m.capturedView(3).size() == 2)
        year += year < 70 ? 2000 : 1900;
    int hour = m.capturedView(4).toInt();
    const int minute = m.capturedView(5).toInt();
    const int second = m.hasCaptured(6) ? m.capturedView(6).toInt() : 0;
    if (m.hasCaptured(7)) {
        if (hour < 1 || hour > 12)
            return false;
        const bool pm = m.capturedView(7).at(0).toLower() == QLatin1Char('p');
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    const QDate date = MakeDate(year, m.capturedView(1).toInt(), m.capturedView(2).toInt());
    if (!date.isValid())
        return false;
    entry = {};
    entry.Date = date;
    entry.Time = QTime(hour, minute, second);
    entry.IsFolder = m.capturedView(8).startsWith(QLatin1Char('<'));
    if (!entry.IsFolder) {
        bool ok = false;
        entry.Size = m.capturedView(8).toLongLong(&ok);
        if (!ok)
            return false;
    }
    entry.Name = m.captured(9);
    return true;
}

} // namespace

bool ParseListLine(const QString &line, TFtpListEntry &entry, const QDate &today)
{
    return ParseUnixLine(line, entry, today) || ParseDosLine(line, entry);
}

bool ParseMlsdLine(const QString &line, TFtpListEntry &entry)
{
    // "fact=value;fact=value; name": facts hold no blanks, so the first blank ends them.
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return false;
    TFtpListEntry result;
    result.Name = line.mid(blank + 1);
    bool typeKnown = true;
    const QStringView facts = QStringView(line).left(blank);
    for (QStringView fact : facts.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype equals = fact.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QStringView key = fact.left(equals);
        const QStringView value = fact.mid(equals + 1);
        if (key.compare(QLatin1String("type"), Qt::CaseInsensitive) == 0) {
            if (value.compare(QLatin1String("file"), Qt::CaseInsensitive) == 0) {
                result.IsFolder = false;
            } else if (value.compare(QLatin1String("dir"), Qt::CaseInsensitive) == 0) {
                result.IsFolder = true;
            } else if (value.compare(QLatin1String("cdir"), Qt::CaseInsensitive) == 0
                       || value.compare(QLatin1String("pdir"), Qt::CaseInsensitive) == 0) {
                return false;
            } else if (value.startsWith(QLatin1String("os.unix=slink"), Qt::CaseInsensitive)
                       || value.startsWith(QLatin1String("os.unix=symlink"), Qt::CaseInsensitive)) {
                result.IsFolder = false;
            } else {
                typeKnown = false;
            }
        } else if (key.compare(QLatin1String("size"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 size = value.toLongLong(&ok);
            if (ok && size >= 0)
                result.Size = size;
        } else if (key.compare(QLatin1String("modify"), Qt::CaseInsensitive) == 0) {
            static const QRegularExpression pattern(
                QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(?:\\.\\d+)?$"));
            const QRegularExpressionMatch m = pattern.match(value);
            if (m.hasMatch()) {
                result.Date = MakeDate(m.capturedView(1).toInt(), m.capturedView(2).toInt(),
                                       m.capturedView(3).toInt());
                result.Time = QTime(m.capturedView(4).toInt(), m.capturedView(5).toInt(),
                                    m.capturedView(6).toInt());
                if (!result.Time.isValid())
                    result.Time = QTime(0, 0);
            }
        }
    }
    if (!typeKnown)
        return false;
    entry = result;
    return true;
}

std::vector<TFtpListEntry> ParseListing(const QByteArray &data, bool mlsd, const QDate &today)
{
    std::vector<TFtpListEntry> entries;
    // Where lines end in CR LF, a bare LF after an entry is a line break inside its name (the
    // server sends names as they are): the lines that follow up to the next CR LF, which parse
    // as no entry, are the rest of the name. The name then comes out whole, never cut short
    // into the name of something else.
    const bool crlfLines = data.contains("\r\n");
    bool openName = false;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        qsizetype stop = end;
        if (stop > start && data[stop - 1] == '\r')
            --stop;
        const bool bareLf = crlfLines && stop == end && end < data.size();
        const QString line = QString::fromUtf8(data.constData() + start, stop - start);
        start = end + 1;
        if (line.isEmpty()) {
            openName = false;
            continue;
        }
        TFtpListEntry entry;
        if (mlsd ? ParseMlsdLine(line, entry) : ParseListLine(line, entry, today)) {
            entries.push_back(std::move(entry));
            openName = bareLf;
        } else if (openName) {
            entries.back().Name += QLatin1Char('\n') + line;
            openName = bareLf;
        }
    }
    return entries;
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
