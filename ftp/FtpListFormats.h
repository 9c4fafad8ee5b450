#pragma once

// Internals of the listing parser shared by its source files.

#include "ftp/FtpListParser.h"

#include <QStringView>

#include <vector>

namespace ListParse {

enum class TResult {
    Entry,
    NoEntry,   // a header, a total, a device: known and nothing to list
    Unreadable // text no form explains
};

// What the lines of one listing tell about the others.
struct TContext
{
    QDate Today;
    int DayFirstVotes = 0; // numeric dates whose first number can only be a day
    int MonthFirstVotes = 0;
    bool PdsMembers = false; // after an MVS member list header: bare names are members
    QString VmsPending;      // a VMS name whose details follow on the next line

    // Day before month for a numeric date both orders could read; `usual` when the listing
    // does not tell.
    bool DayFirst(bool usual) const
    {
        if (DayFirstVotes != MonthFirstVotes)
            return DayFirstVotes > MonthFirstVotes;
        return usual;
    }
};

struct TToken
{
    qsizetype Start = 0;
    qsizetype End = 0; // one past the last character
};

std::vector<TToken> Tokens(const QString &line);

int MonthNumber(QStringView text);
bool AllDigits(QStringView text);
QDate MakeDate(int year, int month, int day);
int FullYear(int year); // two-digit years: 70-99 are 19xx
// "14:30", "14:30:15", "2:03PM", "1214" (with `compact`); "24:00" is midnight, `nextDay` set.
bool ParseClock(QStringView text, QTime &time, bool *nextDay = nullptr, bool compact = false);
// A numeric or named date written as one token: "1999/10/12", "24-04-2003", "01-jun-99",
// "2004.07.15", "10月26日". Records the day/month order it shows in `context`.
bool ParseDateToken(QStringView text, TContext &context, QDate &date);

// The other families: VMS, EPLF, OS/2, MVS, z/VM, AS/400, HP NonStop, OS-9, VxWorks.
TResult ReadOtherLine(const QString &line, TFtpListEntry &entry, TContext &context);

} // namespace ListParse
