#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Separator conversion, trailing separators, sizes and size texts, local folder listings.
// Local paths use "/"; relative names keep "\" so project files are the same everywhere.

void SlashToBackslash(QString &path);
void BackslashToSlash(QString &path);
QString IncludeTrailingBackslash(const QString &path);
QString IncludeTrailingSlash(const QString &path);
QString ExcludeTrailingBackslash(const QString &path);
QString ExcludeTrailingSlash(const QString &path);

// Size of a file; 0 when it cannot be opened for reading.
qint64 GetFileSize(const QString &fileName);
// "999 byte", "0.98 KB", "1.5 MB": decimal thresholds, binary divisors, locale decimal point.
QString FormatSize(qint64 bytes);
// Bytes div 1024, at least 1 for a non-empty size: "0 KB", "1 KB".
QString FormatSizeKB(qint64 bytes);

// The platform's "Windows folder" maps to /usr/share (its Media subfolder is the sounds start).
QString GetWindowsDir();
QString GetTempDir();

// Local last-write time as a 32-bit DOS date/time in local time; -1 when unreadable.
qint32 GetFileAge(const QString &fileName);
qint32 DateTimeToFileDate(const class QDateTime &localTime);
// Local time; invalid for a value that is no DOS date/time (-1 for an unreadable file).
class QDateTime FileDateToDateTime(qint32 fileDate);
// The same for a time_t already at hand (the scan has stat'ed every entry).
qint32 UnixTimeToFileDate(qint64 unixTime);

enum TFileFolderFlag : quint32 { ffFiles = 1, ffFolders = 2, ffHidden = 4 };

// Hidden means a name beginning with "." except the web-server files a site needs.
bool IsHiddenName(const QString &name);

// Whether a name can go on the wire and into the records: UTF-8 without CR, LF or NUL. A
// decoded server name holding U+FFFD stood for bytes that were not UTF-8.
bool IsWireName(QByteArrayView name);
bool IsWireName(const QString &name);
// A name for a log line: CR and LF as \r and \n, other control bytes and bytes that are not
// UTF-8 as \xNN.
QString EscapedName(QByteArrayView name);
QString EscapedName(const QString &name);

enum TLocalState { lsAbsent, lsFile, lsFolder, lsUnknown };

// What `root` + `relative` ("sub/page.html") is locally. Absent only when a part of the path is
// really missing: behind a folder that cannot be searched, or a link whose target vanished, it
// is unknown, and `blocked` names the local path that stands in the way.
TLocalState LocalPathState(const QString &root, const QString &relative, QString &blocked);

// A list of the full paths of one local folder's entries.
class TFileFolder : public QStringList
{
public:
    TFileFolder(const QString &path, quint32 flags);
    QString Path;
};

void FindLocalFiles(QStringList &list, const QString &path, const QString &mask, bool recursive,
                    bool includeFiles, bool includeFolders);
