#include "engine/FileLib.h"

#include "engine/PublishFilter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

void SlashToBackslash(QString &path)
{
    path.replace(u'/', u'\\');
}

void BackslashToSlash(QString &path)
{
    path.replace(u'\\', u'/');
}

QString IncludeTrailingBackslash(const QString &path)
{
    return path.endsWith(u'\\') ? path : path + u'\\';
}

QString IncludeTrailingSlash(const QString &path)
{
    return path.endsWith(u'/') ? path : path + u'/';
}

QString ExcludeTrailingBackslash(const QString &path)
{
    return path.endsWith(u'\\') ? path.chopped(1) : path;
}

QString ExcludeTrailingSlash(const QString &path)
{
    return path.endsWith(u'/') ? path.chopped(1) : path;
}

qint64 GetFileSize(const QString &fileName)
{
    // Non-blocking, so a FIFO cannot hang the caller; only regular files have a size.
    const int fd
        = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    qint64 size = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        size = qint64(st.st_size);
    ::close(fd);
    return size;
}

QString FormatSize(qint64 bytes)
{
    if (bytes < 1000)
        return QString::number(bytes) + QStringLiteral(" byte");
    double value;
    QString unit;
    if (bytes < 1000000) {
        value = double(bytes) / 1024.0;
        unit = QStringLiteral(" KB");
    } else {
        value = double(bytes) / 1048576.0;
        unit = QStringLiteral(" MB");
    }
    // At most two decimals, no trailing zeros, the user's decimal separator, no grouping.
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    const qsizetype point = text.indexOf(u'.');
    if (point >= 0)
        text.replace(point, 1, QLocale().decimalPoint());
    return text + unit;
}

QString FormatSizeKB(qint64 bytes)
{
    qint64 kb = bytes / 1024;
    if (kb == 0 && bytes != 0)
        kb = 1;
    return QString::number(kb) + QStringLiteral(" KB");
}

QString GetWindowsDir()
{
    // Stands in for the platform folder whose "Media" subfolder holds the system sounds:
    // the sound picker starts in /usr/share/sounds.
    return QStringLiteral("/usr/share");
}

QString GetTempDir()
{
    return QDir::tempPath();
}

namespace {

// DOS date/time: year-1980 in bits 25-31, month 21-24, day 16-20, hours 11-15,
// minutes 5-10, seconds/2 in 0-4. Years outside 1980..2107 cannot be expressed.
qint32 PackDosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980 || year > 2107)
        return -1;
    const quint32 date = quint32(day) | (quint32(month) << 5) | (quint32(year - 1980) << 9);
    const quint32 time = quint32(second / 2) | (quint32(minute) << 5) | (quint32(hour) << 11);
    return qint32((date << 16) | time);
}

struct DirEntry
{
    QString Name;
    bool IsFolder = false;
    dev_t Device = 0;
    ino_t Inode = 0;
};

// The entries of one folder in enumeration order, links followed; an entry whose target
// cannot be reached (a dangling or looping link) is left out.
std::vector<DirEntry> ReadFolder(const QString &path)
{
    std::vector<DirEntry> entries;
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return entries;
    const QString prefix = IncludeTrailingSlash(path);
    while (const dirent *d = ::readdir(dir)) {
        const char *raw = d->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        DirEntry entry;
        entry.Name = QFile::decodeName(raw);
        struct stat st;
        if (::stat(QFile::encodeName(prefix + entry.Name).constData(), &st) != 0)
            continue;
        entry.IsFolder = S_ISDIR(st.st_mode);
        entry.Device = st.st_dev;
        entry.Inode = st.st_ino;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

void FindLocalFilesIn(QStringList &list, const QString &path, const std::optional<TMask> &mask,
                      bool all, bool recursive, bool includeFiles, bool includeFolders,
                      std::vector<std::pair<dev_t, ino_t>> &chain)
{
    const QString prefix = IncludeTrailingSlash(path);
    const std::vector<DirEntry> entries = ReadFolder(path);
    for (const DirEntry &entry : entries) {
        if (!(entry.IsFolder ? includeFolders : includeFiles))
            continue;
        if (all || (mask && mask->Matches(entry.Name)))
            list.append(prefix + entry.Name);
    }
    if (!recursive)
        return;
    for (const DirEntry &entry : entries) {
        if (!entry.IsFolder)
            continue;
        // A link back to a folder of the current chain would never end.
        const std::pair<dev_t, ino_t> id{entry.Device, entry.Inode};
        if (std::find(chain.begin(), chain.end(), id) != chain.end())
            continue;
        chain.push_back(id);
        FindLocalFilesIn(list, prefix + entry.Name, mask, all, recursive, includeFiles,
                         includeFolders, chain);
        chain.pop_back();
    }
}

} // namespace

qint32 GetFileAge(const QString &fileName)
{
    struct stat st;
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return -1;
    return UnixTimeToFileDate(st.st_mtime);
}

qint32 UnixTimeToFileDate(qint64 unixTime)
{
    struct tm local;
    const time_t mtime = time_t(unixTime);
    if (!::localtime_r(&mtime, &local))
        return -1;
    return PackDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec);
}

qint32 DateTimeToFileDate(const QDateTime &localTime)
{
    if (!localTime.isValid())
        return -1;
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    return PackDosDateTime(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                           time.second());
}

QDateTime FileDateToDateTime(qint32 fileDate)
{
    const auto value = quint32(fileDate);
    const QDate date(int(value >> 25) + 1980, int(value >> 21) & 0x0f, int(value >> 16) & 0x1f);
    const QTime time(int(value >> 11) & 0x1f, int(value >> 5) & 0x3f, int(value & 0x1f) * 2);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

bool IsHiddenName(const QString &name)
{
    if (!name.startsWith(u'.'))
        return false;
    // Files a web site needs are not hidden.
    return name != QLatin1String(".htaccess") && name != QLatin1String(".htpasswd")
           && name != QLatin1String(".user.ini") && name != QLatin1String(".well-known");
}

bool IsWireName(QByteArrayView name)
{
    return !name.contains('\r') && !name.contains('\n') && !name.contains('\0')
           && name.isValidUtf8();
}

bool IsWireName(const QString &name)
{
    return !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n'))
           && !name.contains(QChar(0)) && !name.contains(QChar::ReplacementCharacter);
}

QString EscapedName(QByteArrayView name)
{
    QString text;
    text.reserve(name.size());
    qsizetype i = 0;
    while (i < name.size()) {
        const uchar c = uchar(name[i]);
        if (c == '\r' || c == '\n') {
            text += c == '\r' ? QStringLiteral("\\r") : QStringLiteral("\\n");
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x7f) {
            text += QLatin1Char(char(c));
            ++i;
            continue;
        }
        // A whole UTF-8 sequence stays as it is; anything else goes byte by byte.
        const qsizetype length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        const QByteArrayView sequence = name.sliced(i, qMin(length, name.size() - i));
        if (length > 1 && sequence.size() == length && sequence.isValidUtf8()) {
            text += QString::fromUtf8(sequence);
            i += length;
            continue;
        }
        text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        ++i;
    }
    return text;
}

QString EscapedName(const QString &name)
{
    return EscapedName(QByteArrayView(name.toUtf8()));
}

TLocalState LocalPathState(const QString &root, const QString &relative, QString &blocked)
{
    struct stat st;
    if (::stat(QFile::encodeName(root + relative).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? lsFolder : lsFile;
    QString path = root;
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        const QString parent = path;
        path += part;
        const QByteArray local = QFile::encodeName(path);
        if (::lstat(local.constData(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return lsAbsent;
            blocked = parent;
            return lsUnknown;
        }
        if (S_ISLNK(st.st_mode) && ::stat(local.constData(), &st) != 0) {
            blocked = path;
            return lsUnknown;
        }
        if (!S_ISDIR(st.st_mode))
            return lsAbsent;
        path += QLatin1Char('/');
    }
    blocked = path;
    return lsUnknown;
}

TFileFolder::TFileFolder(const QString &path, quint32 flags)
    : Path(path)
{
    const QString prefix = IncludeTrailingSlash(path);
    for (const DirEntry &entry : ReadFolder(path)) {
        if (entry.IsFolder ? !(flags & ffFolders) : !(flags & ffFiles))
            continue;
        if (!(flags & ffHidden) && IsHiddenName(entry.Name))
            continue;
        append(prefix + entry.Name);
    }
}

void FindLocalFiles(QStringList &list, const QString &path, const QString &mask, bool recursive,
                    bool includeFiles, bool includeFolders)
{
    // "*.*" and "*" name every entry, as the platform's enumeration treats them.
    const bool all = mask == QLatin1String("*.*") || mask == QLatin1String("*");
    std::optional<TMask> compiled;
    if (!all) {
        try {
            compiled.emplace(mask);
        } catch (const EMaskError &) {
            // An invalid mask names nothing; sub-folders are still searched.
        }
    }
    std::vector<std::pair<dev_t, ino_t>> chain;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        chain.emplace_back(st.st_dev, st.st_ino);
    FindLocalFilesIn(list, path, compiled, all, recursive, includeFiles, includeFolders, chain);
}
