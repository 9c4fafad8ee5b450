// Listing lines of the servers that are neither Unix nor DOS: VMS, EPLF, OS/2, MVS (z/OS), z/VM,
// AS/400 (OS/400), HP NonStop, OS-9 and VxWorks.
#include "ftp/FtpListFormats.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

namespace ListParse {

namespace {

QRegularExpression Pattern(const char *text)
{
    return QRegularExpression(QString::fromUtf8(text));
}

bool Matches(const QRegularExpression &pattern, const QString &line, QRegularExpressionMatch &m)
{
    m = pattern.match(line);
    return m.hasMatch();
}

TResult Made(TFtpListEntry &entry, const QString &name, qint64 size, bool folder,
             const QDate &date = {}, const QTime &time = {})
{
    if (name.isEmpty())
        return TResult::Unreadable;
    entry = {};
    entry.Name = name;
    entry.Size = size;
    entry.IsFolder = folder;
    entry.Date = date;
    entry.Time = date.isValid() ? (time.isValid() ? time : QTime(0, 0)) : QTime();
    return TResult::Entry;
}

// "+i8388621.29609,m824255902,/,\tdev": facts, a TAB, the name.
TResult ReadEplf(const QString &line, TFtpListEntry &entry)
{
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    if (!line.startsWith(QLatin1Char('+')) || tab < 0)
        return TResult::Unreadable;
    bool folder = false;
    bool file = false;
    qint64 size = 0;
    QDateTime modified;
    for (QStringView fact : QStringView(line).mid(1, tab - 1).split(QLatin1Char(','))) {
        if (fact == u"/") {
            folder = true;
        } else if (fact == u"r") {
            file = true;
        } else if (fact.startsWith(QLatin1Char('s')) && AllDigits(fact.mid(1))) {
            size = fact.mid(1).toLongLong();
        } else if (fact.startsWith(QLatin1Char('m')) && AllDigits(fact.mid(1))) {
            modified = QDateTime::fromSecsSinceEpoch(fact.mid(1).toLongLong(), QTimeZone::utc());
        }
    }
    if (!folder && !file)
        return TResult::NoEntry; // neither to enter nor to fetch
    return Made(entry, line.mid(tab + 1), folder ? 0 : size, folder, modified.date(),
                modified.time());
}

TResult ReadHeader(const QString &line, TContext &context)
{
    static const QRegularExpression headers = Pattern(
        "^(?:Directory\\s+\\S*\\[.*\\]|Total of \\d+ files?.*|Grand total of .*"
        "|Volume\\s+Unit\\s+(?:Referred|Date)\\s+Ext.*|File\\s+Code\\s+EOF\\s+Last.*"
        "|\\s*Directory of .*|\\s*Owner\\s+Last modified.*|\\s*size\\s+date\\s+time\\s+name\\s*)$");
    static const QRegularExpression members
        = Pattern("^\\s*Name\\s+(?:VV\\.MM\\s+Created|Size\\s+TTR)\\b.*$");
    if (members.match(line).hasMatch()) {
        context.PdsMembers = true;
        return TResult::NoEntry;
    }
    return headers.match(line).hasMatch() ? TResult::NoEntry : TResult::Unreadable;
}

QTime Clock(QStringView text)
{
    QTime time;
    return ParseClock(text, time) ? time : QTime();
}

} // namespace

TResult ReadOtherLine(const QString &line, TFtpListEntry &entry, TContext &context)
{
    if (ReadHeader(line, context) == TResult::NoEntry)
        return TResult::NoEntry;
    if (line.startsWith(QLatin1Char('+')))
        return ReadEplf(line, entry);
    QRegularExpressionMatch m;
    QDate date;

    // VMS: "INDEX.HTML;3   12/16   24-JUL-2003 14:23:45  [WEB,WWW]  (RWED,RWED,RE,RE)"; sizes in
    // blocks of 512 bytes, the version left off, folders end in ".DIR".
    static const QRegularExpression vms = Pattern(
        "^(\\S+);\\d+\\s+(\\d+)(?:/\\d+)?\\s+(\\d{1,2}-\\p{L}{3}-\\d{2,4})\\s+"
        "(\\d{1,2}:\\d{2}(?::\\d{2}(?:\\.\\d+)?)?)(?:\\s+\\[[^\\]]*\\])?(?:\\s+\\([^)]*\\))?\\s*$");
    if (Matches(vms, line, m) && ParseDateToken(m.capturedView(3), context, date)) {
        QString name = m.captured(1);
        const bool folder = name.endsWith(QLatin1String(".DIR"), Qt::CaseInsensitive);
        if (folder)
            name.chop(4);
        return Made(entry, name, folder ? 0 : m.capturedView(2).toLongLong() * 512, folder, date,
                    Clock(m.capturedView(4).left(8)));
    }

    // AS/400: "OWNER  253952 10/03/02 09:55:19 *FILE  WEBPAGES", "OWNER  *MEM  FILE/MBR.MBR".
    static const QRegularExpression as400
        = Pattern("^\\s*(?:(\\S+)\\s+)?(?:(\\d+)\\s+(\\d{2}[-/.]\\d{2}[-/"
                  ".]\\d{2,4})\\s+(\\d{2})[:.](\\d{2})[:.](\\d{2})"
                  "\\s+)?(\\*[A-Z]+)\\s+(.+)$");
    if (Matches(as400, line, m)) {
        const QStringView type = m.capturedView(7);
        QString name = m.captured(8);
        if (!m.capturedView(3).isEmpty() && !ParseDateToken(m.capturedView(3), context, date))
            return TResult::Unreadable;
        const QTime time(m.capturedView(4).toInt(), m.capturedView(5).toInt(),
                         m.capturedView(6).toInt());
        if (type == u"*MEM") // members are listed with their file: "FILE.FILE/MBR.MBR"
            name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
        const bool folder
            = type == u"*DIR" || type == u"*LIB" || type == u"*FLR" || type == u"*FILE";
        if (name.endsWith(QLatin1Char('/')))
            name.chop(1);
        return Made(entry, name, folder ? 0 : m.capturedView(2).toLongLong(), folder, date, time);
    }

    // MVS datasets: "WYNK01 3390 2003/07/18 1 15 FB 80 3120 PS ZANDREL.WEB.HTML"; partitioned
    // ones (PO) are folders of members. "Migrated ZANDREL.OLD" has no details.
    static const QRegularExpression dataset = Pattern(
        "^\\S+\\s+\\S+\\s+(\\d{4}/\\d{2}/\\d{2}|\\d{2}/\\d{2}/\\d{2}|\\*\\*NONE\\*\\*)\\s+"
        "\\d+\\s+\\d+\\s+\\S+\\s+\\d+\\s+\\d+\\s+"
        "(PS|PO|PO-E|DA|IS|VS)\\s+'?([^\\s']+)'?$");
    if (Matches(dataset, line, m)
        && (m.capturedView(1).startsWith(u"**")
            || ParseDateToken(m.capturedView(1), context, date)))
        return Made(entry, m.captured(3), 0, m.capturedView(2).startsWith(u"PO"), date);
    static const QRegularExpression migrated
        = Pattern("^(?:Migrated|Pseudo Directory|ARCIVE Not Direct Access "
                  "Device|\\S+\\s+\\S+\\s+VSAM)\\s+'?([^\\s']+)'?$");
    if (Matches(migrated, line, m))
        return Made(entry, m.captured(1), 0, line.startsWith(QLatin1String("Pseudo")));

    // PDS members: "INDEX  01.03 2002/09/12 2002/09/12 14:34  20  20  0 USER1" (size in
    // records); load modules "IEFBR14  000002  00000A ..."; after a member header, bare names.
    static const QRegularExpression member
        = Pattern("^(\\S+)\\s+\\d{2}\\.\\d{2}\\s+\\d{4}/\\d{2}/\\d{2}\\s+(\\d{4}/\\d{2}/\\d{2})\\s+"
                  "(\\d{1,2}:\\d{2}(?::\\d{2})?)\\s+(\\d+)\\s+\\d+\\s+\\d+\\s+\\S+$");
    if (Matches(member, line, m) && ParseDateToken(m.capturedView(2), context, date))
        return Made(entry, m.captured(1), m.capturedView(4).toLongLong(), false, date,
                    Clock(m.capturedView(3)));
    static const QRegularExpression module
        = Pattern("^([A-Z0-9$#@]{1,8})\\s+([0-9A-F]{6})\\s+[0-9A-F]{6}\\s.*$");
    if (Matches(module, line, m))
        return Made(entry, m.captured(1), m.capturedView(2).toLongLong(nullptr, 16), false);
    if (context.PdsMembers) {
        static const QRegularExpression bare = Pattern("^([A-Z0-9$#@]{1,8})\\s*$");
        if (Matches(bare, line, m))
            return Made(entry, m.captured(1), 0, false);
    }

    // z/VM: "PROFILE  EXEC  V  68  24  1 2003-06-12 13:22:47 USR191" (name, type, record
    // format, record length, records, blocks); "WEB  DIR  - ..." folders.
    static const QRegularExpression vm
        = Pattern("^(\\S+)\\s+(\\S+)\\s+(F|V|DIR|-)\\s+(\\d+|-)\\s+(\\d+|-)\\s+(?:\\d+|-)\\s+"
                  "(\\d{4}-\\d{2}-\\d{2}|\\d{1,2}/\\d{1,2}/"
                  "\\d{2,4})\\s+(\\d{1,2}:\\d{2}:\\d{2})(?:\\s+\\S+)?$");
    if (Matches(vm, line, m) && ParseDateToken(m.capturedView(6), context, date)) {
        const bool folder = m.capturedView(3) == u"DIR" || m.capturedView(2) == u"DIR";
        const QString name
            = folder ? m.captured(1) : m.captured(1) + QLatin1Char('.') + m.captured(2);
        return Made(entry, name,
                    folder ? 0 : m.capturedView(4).toLongLong() * m.capturedView(5).toLongLong(),
                    folder, date, Clock(m.capturedView(7)));
    }

    // HP NonStop: "INDEX  101  1234  18-Jul-03 14:16:32  100,101 \"oooo\"" (code, end of file).
    static const QRegularExpression nonStop = Pattern(
        "^(\\S+)\\s+(\\d+)\\s+(\\d+)\\s+(\\d{1,2}-\\p{L}{3}-\\d{2,4})\\s+(\\d{1,2}:\\d{2}:\\d{2})"
        "\\s+\\S+(?:\\s+\\S+)?\\s+\"?[a-zA-Z-]{4}\"?$");
    if (Matches(nonStop, line, m) && ParseDateToken(m.capturedView(4), context, date))
        return Made(entry, m.captured(1), m.capturedView(3).toLongLong(), false, date,
                    Clock(m.capturedView(5)));

    // OS-9: "  0.0  03/05/04 0947  ------wr  1A00  2340 index.html" (dates year first).
    static const QRegularExpression os9 = Pattern(
        "^\\s*\\d+\\.\\d+\\s+(\\d{2})/(\\d{2})/(\\d{2})\\s+(\\d{4})\\s+([d-][-a-z]{5,})\\s+"
        "[0-9A-Fa-f]+\\s+(\\d+)\\s+(.+)$");
    if (Matches(os9, line, m)) {
        date = MakeDate(FullYear(m.capturedView(1).toInt()), m.capturedView(2).toInt(),
                        m.capturedView(3).toInt());
        QTime time;
        if (!date.isValid() || !ParseClock(m.capturedView(4), time, nullptr, true))
            return TResult::Unreadable;
        const bool folder = m.capturedView(5).startsWith(QLatin1Char('d'));
        return Made(entry, m.captured(7), folder ? 0 : m.capturedView(6).toLongLong(), folder, date,
                    time);
    }

    // VxWorks (Nortel): "   41472    DEC-23-2002  10:44:50   index.html", "... WEB  <DIR>".
    static const QRegularExpression vx
        = Pattern("^\\s*(\\d+)\\s+(\\p{L}{3}-\\d{2}-\\d{4})\\s+(\\d{2}:\\d{2}:\\d{2})\\s+(.+?)"
                  "(\\s+<DIR>)?\\s*$");
    if (Matches(vx, line, m) && ParseDateToken(m.capturedView(2), context, date)) {
        const bool folder = !m.capturedView(5).isEmpty();
        return Made(entry, m.captured(4), folder ? 0 : m.capturedView(1).toLongLong(), folder, date,
                    Clock(m.capturedView(3)));
    }

    // OS/2: "   12345   A   05-22-97   20:34  README.TXT", "   0   DIR   12-18-03   14:41  WEB".
    static const QRegularExpression os2
        = Pattern("^\\s*(\\d+)\\s+((?:[A-Z]{1,4}\\s+)*)(\\d{2})-(\\d{2})-(\\d{2,3})\\s+"
                  "(\\d{2}:\\d{2})\\s{2,}(.+)$");
    if (Matches(os2, line, m)) {
        // Some write the years since 1900: "04-23-103".
        const int year = m.capturedView(5).toInt();
        date = MakeDate(m.capturedView(5).size() == 3 ? 1900 + year : FullYear(year),
                        m.capturedView(3).toInt(), m.capturedView(4).toInt());
        if (!date.isValid())
            return TResult::Unreadable;
        const bool folder = m.capturedView(2).contains(u"DIR");
        return Made(entry, m.captured(7), folder ? 0 : m.capturedView(1).toLongLong(), folder, date,
                    Clock(m.capturedView(6)));
    }
    return TResult::Unreadable;
}

} // namespace ListParse
