#pragma once

// Remote listings: MLSD lines (RFC 3659); LIST lines in the Unix `ls -l` form (with dates in
// many languages and orders), the DOS/IIS form, and those of VMS, EPLF, OS/2, MVS, z/VM, AS/400,
// NetWare, HP NonStop, OS-9 and VxWorks servers; and the rules that turn parsed entries into
// TFtpFile items.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <functional>
#include <vector>

class TFtpFileList;

struct TFtpListEntry
{
    QString Name; // as listed; a symbolic link's " -> target" removed
    qint64 Size = 0;
    bool IsFolder = false;
    QDate Date;    // invalid when the line shows none
    QTime Time;    // 00:00 when the line shows a year instead of a time
    int Line = -1; // ParseListing: the listing's line (from 0) that completed the entry
};

// Lines of a listing that no form explains (headers, totals and devices are not counted).
struct TUnreadLines
{
    int Count = 0;
    QString First; // the first one, escaped for a log
};

// One LIST line; false for lines that are no entry (headers such as "total 12", devices, text
// the parser does not know). `today` decides the year of entries listed with a time and no year.
//
// Symbolic links ("lrwxrwxrwx ... name -> target") are files named by the part before " -> ":
// the listing cannot tell what the target is, and as a file a link is only ever replaced or
// deleted itself, never treated as a folder whose contents could be removed. Entries of other
// types keep " -> " in their names (a file may be called so).
bool ParseListLine(const QString &line, TFtpListEntry &entry, const QDate &today);
// One MLSD line; false for the folder itself and its parent (cdir, pdir) and for types that are
// neither files, folders nor links. Links count as files, as in LIST.
bool ParseMlsdLine(const QString &line, TFtpListEntry &entry);
// All entries of a listing (lines end in CR LF or LF; UTF-8). In CR LF lines a bare LF belongs
// to the name before it. Numeric dates that could be read day or month first are read in the
// order the listing's other lines show, and a VMS name alone on its line joins the details on
// the next. A line that is no UTF-8 is read byte for byte (Latin-1 month names, the CJK date marks
// of GBK, Big5, Shift-JIS, EUC-JP and EUC-KR); its name, which cannot go back to the server as it
// came, shows U+FFFD past ASCII. `unread` gets the lines that could not be read.
std::vector<TFtpListEntry> ParseListing(const QByteArray &data, bool mlsd, const QDate &today,
                                        TUnreadLines *unread = nullptr);
// The log line for them: "3 lines of the listing of /www could not be read, the first: ...".
QString UnreadLinesText(const QString &path, const TUnreadLines &unread);

// The entry date rule: the listed calendar fields as they are (no time-zone conversion); an
// entry listed with a time of day other than 00:00 gets `currentYear`.
QDateTime EntryDate(const TFtpListEntry &entry, int currentYear);

// A name that must never reach a caller: it could lead a local path out of its folder.
bool IsHostileName(const QString &name);

// The listing rules for a listing of `path`: "." and ".." skipped, a name containing "/" loses as
// many leading characters as `path` with its trailing "/" has (servers that list full paths)
// when the characters removed end with "/", hostile names dropped and reported through `onSkipped`
// with the name as listed, entries appended to `list`, and a list that then holds exactly one entry
// named "total 1" cleared.
void AppendListing(const std::vector<TFtpListEntry> &entries, const QString &path,
                   TFtpFileList &list, int currentYear,
                   const std::function<void(const QString &rawName)> &onSkipped);
