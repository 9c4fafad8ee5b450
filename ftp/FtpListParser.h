#pragma once

// Remote listings: LIST lines in the Unix `ls -l` and the DOS/IIS forms, MLSD lines (RFC 3659),
// and the rules that turn parsed entries into TFtpFile items.

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
    QDate Date; // invalid when the line shows none
    QTime Time; // 00:00 when the line shows a year instead of a time
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
// to the name before it.
std::vector<TFtpListEntry> ParseListing(const QByteArray &data, bool mlsd, const QDate &today);

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
