// Dates as listings write them: month names of many languages, numeric dates in every order,
// CJK month and day marks.
#include "ftp/FtpListFormats.h"

#include <QHash>
#include <QRegularExpression>

namespace ListParse {

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

namespace {

const QHash<QString, int> &MonthNames()
{
    // Names and abbreviations, lower case, without trailing dots: English, German, French,
    // Spanish, Italian, Portuguese, Dutch, Swedish, Danish, Norwegian, Polish, Hungarian, Czech,
    // Russian.
    static const QHash<QString, int> names = [] {
        static const char *const months[12] = {
            "jan january januar jän jänner janv janvier ene enero gen gennaio janeiro januari sty "
            "styczeń styczen január led leden янв январь января",
            "feb february februar fév févr février feb febrero febbraio fev fevereiro februari "
            "lut luty febr február úno únor фев февр февраль февраля",
            "mar march mär märz mrz mars marzo março mrt maart marzec márc március bře březen мар "
            "март марта",
            "apr april avr avril abr abril aprile kwi kwiecień kwiecien ápr április dub duben апр "
            "апрель апреля",
            "may mai mayo mag maggio maio mei maj máj május kvě květen май мая",
            "jun june juni juin junio giu giugno junho cze czerwiec jún június čvn červen июн июнь "
            "июня",
            "jul july juli juil juillet julio lug luglio julho lip lipiec júl július čvc červenec "
            "июл июль июля",
            "aug august aoû août aou ago agosto augusti augustus sie sierpień sierpien augusztus "
            "srp srpen авг август августа",
            "sep sept september septembre septiembre set settembre setembro wrz wrzesień wrzesien "
            "szep szept szeptember zář září сен сент сентябрь сентября",
            "oct october okt oktober octobre octubre ott ottobre out outubro paź październik "
            "paz pazdziernik október říj říjen окт октябрь октября",
            "nov november novembre noviembre novembro lis listopad ноя нояб ноябрь ноября",
            "dec december dez dezember déc décembre dic diciembre dicembre dezembro gru grudzień "
            "grudzien prosinec pro дек декабрь декабря"};
        QHash<QString, int> table;
        for (int i = 0; i < 12; ++i) {
            for (const QString &name :
                 QString::fromUtf8(months[i]).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                table.insert(name, i + 1);
        }
        return table;
    }();
    return names;
}

// Digits followed by one of `marks` (CJK month or day characters): the number, else 0.
int MarkedNumber(QStringView text, QStringView marks)
{
    if (text.size() < 2 || !marks.contains(text.back()))
        return 0;
    const QStringView digits = text.chopped(1);
    return AllDigits(digits) && digits.size() <= 2 ? digits.toInt() : 0;
}

} // namespace

int MonthNumber(QStringView text)
{
    while (!text.isEmpty() && (text.back() == QLatin1Char('.') || text.back() == QLatin1Char(',')))
        text.chop(1);
    if (text.isEmpty())
        return 0;
    // "10月", "10월": the month mark after the number.
    if (const int marked = MarkedNumber(text, u"月월"); marked >= 1 && marked <= 12)
        return marked;
    return MonthNames().value(text.toString().toLower(), 0);
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

QDate MakeDate(int year, int month, int day)
{
    QDate date(year, month, day);
    if (!date.isValid() && month == 2 && day == 29)
        date = QDate(year, 2, 28);
    return date;
}

int FullYear(int year)
{
    if (year >= 100)
        return year;
    return year < 70 ? 2000 + year : 1900 + year;
}

bool ParseClock(QStringView text, QTime &time, bool *nextDay, bool compact)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?([AaPp][Mm])?$"));
    static const QRegularExpression compactPattern(QStringLiteral("^(\\d{2})(\\d{2})$"));
    QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch() && compact)
        m = compactPattern.match(text);
    if (!m.hasMatch())
        return false;
    int hour = m.capturedView(1).toInt();
    const int minute = m.capturedView(2).toInt();
    const int second = m.capturedView(3).isEmpty() ? 0 : m.capturedView(3).toInt();
    if (!m.capturedView(4).isEmpty()) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (m.capturedView(4).front().toLower() == QLatin1Char('p') ? 12 : 0);
    }
    if (nextDay)
        *nextDay = false;
    if (hour == 24 && minute == 0 && second == 0 && nextDay) {
        *nextDay = true;
        hour = 0;
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    time = QTime(hour, minute, second);
    return true;
}

bool ParseDateToken(QStringView text, TContext &context, QDate &date)
{
    while (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(',')))
        text.chop(1);
    // CJK: "2003年10月26日", "10月26日" (no year: left to the caller's rule, so refused here).
    static const QRegularExpression cjk(
        QStringLiteral("^(\\d{4})[年년](\\d{1,2})[月월](\\d{1,2})[日일]?$"));
    if (const QRegularExpressionMatch m = cjk.match(text); m.hasMatch()) {
        date = MakeDate(m.capturedView(1).toInt(), m.capturedView(2).toInt(),
                        m.capturedView(3).toInt());
        return date.isValid();
    }
    static const QRegularExpression named(
        QStringLiteral("^(?:(\\d{1,2})-(\\p{L}{3,9})|(\\p{L}{3,9})-(\\d{1,2}))-(\\d{2}|\\d{4})$"));
    if (const QRegularExpressionMatch m = named.match(text); m.hasMatch()) {
        const bool dayFirst = !m.capturedView(1).isEmpty();
        const int month = MonthNumber(m.capturedView(dayFirst ? 2 : 3));
        if (month == 0)
            return false;
        date = MakeDate(FullYear(m.capturedView(5).toInt()), month,
                        m.capturedView(dayFirst ? 1 : 4).toInt());
        return date.isValid();
    }
    static const QRegularExpression numeric(
        QStringLiteral("^(\\d{1,4})([-/.])(\\d{1,2})\\2(\\d{1,4})$"));
    const QRegularExpressionMatch m = numeric.match(text);
    if (!m.hasMatch())
        return false;
    const QStringView a = m.capturedView(1);
    const int b = m.capturedView(3).toInt();
    const QStringView c = m.capturedView(4);
    if (a.size() == 4 || (a.size() == 2 && c.size() == 2 && a.toInt() > 31)) {
        // Year first: "1999/10/12", "2004.07.15".
        date = MakeDate(FullYear(a.toInt()), b, c.toInt());
        return date.isValid() && c.size() <= 2;
    }
    if (a.size() > 2 || c.size() == 3 || c.size() == 1)
        return false;
    const int first = a.toInt();
    const int year = FullYear(c.toInt());
    if (first > 12 && b <= 12)
        ++context.DayFirstVotes;
    else if (b > 12 && first <= 12)
        ++context.MonthFirstVotes;
    // Dots are the European habit (day first); dashes and slashes the American one.
    bool dayFirst = context.DayFirst(m.capturedView(2) == QLatin1String("."));
    if (first > 12)
        dayFirst = true;
    else if (b > 12)
        dayFirst = false;
    date = dayFirst ? MakeDate(year, b, first) : MakeDate(year, first, b);
    return date.isValid();
}

} // namespace ListParse
