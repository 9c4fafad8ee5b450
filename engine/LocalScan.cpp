// The local scan that rebuilds the file list, and the purge of stale version records that
// follows it.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "store/PrjCls.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct TPublishOperator::TScanState
{
    bool IgnoreHidden = false;
    bool SetPermission = false;
    bool SafeUpload = false;
    qint64 SafeUploadBytes = 0;
    // The folders being scanned, root first: a linked folder found among them is a loop.
    std::vector<std::pair<dev_t, ino_t>> Ancestors;
    QStringList Unsendable; // escaped local paths of names that cannot go on the wire
};

namespace {

struct TEntry
{
    QString Name; // the full path is made when needed: a folder of 50,000 files would hold
                  // 50,000 of them at once
    qint64 Size = 0;
    qint64 ModifiedTime = 0;
    qint64 ModifiedNs = 0; // the exact time, for the content records
    dev_t Device = 0;
    ino_t Inode = 0;
};

// QString::compare without case, by its sign; ASCII is folded here, since the library's
// general folding was most of a big folder's sort.
int CompareNoCase(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= 0x80 || y >= 0x80)
            return a.sliced(i).compare(b.sliced(i), Qt::CaseInsensitive);
        if (x >= u'A' && x <= u'Z')
            x += u'a' - u'A';
        if (y >= u'A' && y <= u'Z')
            y += u'a' - u'A';
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool NameLess(const TEntry &a, const TEntry &b)
{
    const int c = CompareNoCase(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
}

// A name from the disk; plain ASCII (most names) needs no UTF-8 decoder.
QString DecodedName(const char *raw)
{
    const size_t length = std::strlen(raw);
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(raw[i]) >= 0x80)
            return QFile::decodeName(raw);
    }
    return QString::fromLatin1(raw, qsizetype(length));
}

// a + b (+ tail) in a string of exactly that size: these names stay in memory with the list
// (100,000 of them), so the slack of a growing append would add megabytes.
QString Joined(const QString &a, const QString &b, QChar tail = QChar())
{
    QString joined;
    joined.reserve(a.size() + b.size() + (tail.isNull() ? 0 : 1));
    joined.append(a);
    joined.append(b);
    if (!tail.isNull())
        joined.append(tail);
    return joined;
}

// A folder's path followed by one entry's name at a time: one text for all the entries of a
// folder, where a new path per entry would cost an allocation each.
class TEntryPath
{
public:
    explicit TEntryPath(const QString &folder)
        : m_folderSize(folder.size())
    {
        m_text.reserve(folder.size() + 64);
        m_text.append(folder);
    }
    const QString &With(const QString &name, char16_t tail = 0)
    {
        m_text.resize(m_folderSize + name.size() + (tail ? 1 : 0));
        QChar *at = m_text.data() + m_folderSize;
        std::copy_n(name.constData(), name.size(), at);
        if (tail)
            at[name.size()] = QChar(tail);
        return m_text;
    }

private:
    QString m_text;
    qsizetype m_folderSize;
};

QString ErrorName(int error)
{
    return QString::fromLocal8Bit(::strerror(error));
}

} // namespace

void TPublishOperator::PurgeVersions()
{
    TPublishVersions &versions = Project->Versions;
    std::vector<TVersionItem *> stale;
    for (int i = 0; i < versions.Count(); ++i) {
        TVersionItem *record = versions.Items(i);
        if (record->Seen)
            continue;
        // Only a record of what is known to be gone: one behind a folder that cannot be read
        // stays for the day it can.
        QString relative = record->FileName;
        relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QString blocked;
        if (LocalPathState(FileList->LocalRoot, relative, blocked) == lsAbsent)
            stale.push_back(record);
    }
    versions.RemoveItems(stale);
}

void TPublishOperator::LocalScan()
{
    ItemCounter = 0;
    m_upToDate.clear();
    FileList->IgnoredCount = 0;
    FileList->Unreadable.clear();
    SetStatusText(QStringLiteral("Scaning local folders"));

    TScanState state;
    state.IgnoreHidden = Project->Nodes(QStringLiteral("IgnoreHiddenFiles"))->AsBoolean();
    state.SetPermission = Project->Nodes(QStringLiteral("SetPermission"))->AsBoolean();
    state.SafeUpload = Project->Nodes(QStringLiteral("SafeUpload"))->AsBoolean();
    state.SafeUploadBytes
        = qint64(Project->Nodes(QStringLiteral("SafeUploadSize"))->AsInteger()) * 1024;

    const QString root = FileList->LocalRoot;
    TFileListItem *rootItem = CreateItem(root, QString(), true, nullptr, 0, 0, 0, state);
    struct stat st;
    if (::stat(QFile::encodeName(root).constData(), &st) == 0)
        state.Ancestors.emplace_back(st.st_dev, st.st_ino);
    if (TreeScan(root, rootItem, state))
        rootItem->Synchronous = false;
    if (!state.Unsendable.isEmpty())
        AddLog(2, QStringLiteral("%1 item(s) have been skipped: their names cannot be sent to the "
                                 "server (line breaks or bytes that are not UTF-8): ")
                          .arg(state.Unsendable.size())
                      + state.Unsendable.join(QStringLiteral(", ")));
}

void TPublishOperator::ScanFailed(const QString &what, const QString &path,
                                  const QString &relativeName, int error)
{
    AddError(what + path + QStringLiteral(" cannot be read: ") + ErrorName(error)
             + QStringLiteral("; nothing below it on the server is removed or downloaded"));
    FileList->Unreadable.append(relativeName);
}

TFileListItem *TPublishOperator::CreateItem(const QString &path, const QString &relativeName,
                                            bool isFolder, TFileListItem *parent, qint64 size,
                                            qint32 fileAge, qint64 modified,
                                            const TScanState &state)
{
    TFileListItem *item = FileList->Add();
    item->Index = ++ItemCounter;
    TVersionItem *record = Project->Versions.Find(relativeName);
    // The scan passes a reused buffer: a new record gets a text of its own, of exact size.
    if (!record)
        record
            = Project->Versions.FindOrAdd(QString(relativeName.constData(), relativeName.size()));
    record->Seen = true;
    // Share the text with the record: 100,000 names are kept once, not twice.
    item->RelativeName = record->FileName;
    item->IsFolder = isFolder;
    item->Synchronous = record->Date == 1 || relativeName.isEmpty();
    item->Parent = parent;
    if (parent)
        parent->Children.push_back(item);
    if (!isFolder) {
        item->Size = size;
        item->FileAge = fileAge;
        // Only a file whose time moved is read, so an unchanged site costs no reading.
        const TRecordCheck check
            = CheckRecord(*record, fileAge, size, modified,
                          [&path](quint64 &hash) { return HashFile(path, hash); });
        item->Synchronous = check != rcChanged;
        if (check == rcUpToDate)
            m_upToDate.push_back({item, modified});
        item->IsAscii = m_textFiles->Matches(path);
        item->SetExecPermission = state.SetPermission && m_execFiles->Matches(path);
        item->UseSafeUpload = state.SafeUpload && state.SafeUploadBytes < size;
    }
    return item;
}

bool TPublishOperator::TreeScan(const QString &path, TFileListItem *folder, TScanState &state)
{
    if (Terminated())
        return false;

    std::vector<TEntry> files;
    std::vector<TEntry> folders;
    const QString &base = folder->RelativeName;
    TEntryPath full(path);
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir) {
        // Taken for empty, its server copies would look like files deleted here.
        ScanFailed(QStringLiteral("the folder "), path, base, errno);
        return false;
    }
    const int fd = ::dirfd(dir);
    for (;;) {
        if (Terminated())
            break;
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                ScanFailed(QStringLiteral("the folder "), path, base, errno);
            break;
        }
        const char *raw = entry->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        // Such a name would break the command it is sent in and the record it is kept in.
        if (!IsWireName(QByteArrayView(raw))) {
            state.Unsendable.append(EscapedName(QByteArrayView(QFile::encodeName(path) + raw)));
            ++FileList->IgnoredCount;
            continue;
        }
        struct stat st;
        if (::fstatat(fd, raw, &st, 0) != 0) {
            const int error = errno;
            // Gone since readdir: nothing to say. A link whose target vanished (an unmounted
            // drive) may stand for a whole folder, and a folder that can be listed but not
            // searched hides all of its entries.
            struct stat link;
            if (::fstatat(fd, raw, &link, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISLNK(link.st_mode)) {
                const QString name = QFile::decodeName(raw);
                char target[4096];
                const ssize_t length = ::readlinkat(fd, raw, target, sizeof target);
                const QString to = length > 0 ? QStringLiteral(" (to ")
                                                    + QFile::decodeName(QByteArray(target, length))
                                                    + QLatin1Char(')')
                                              : QString();
                ScanFailed(QStringLiteral("the link "), path + name + to,
                           Joined(base, name, QChar(u'\\')), error);
                continue;
            }
            ScanFailed(QStringLiteral("the folder "), path, base, error);
            break;
        }
        const bool isDir = S_ISDIR(st.st_mode);
        // Pipes, sockets and devices are no part of a site (reading a pipe would block).
        if (!isDir && !S_ISREG(st.st_mode))
            continue;
        TEntry item;
        item.Name = DecodedName(raw);
        // A "\" in a name cannot be told apart from a separator in a relative name.
        if (item.Name.contains(QLatin1Char('\\'))
            || Project->Filter.IsIgnored(full.With(item.Name, isDir ? u'/' : 0), fsLocal)
            || (state.IgnoreHidden && IsHiddenName(item.Name))) {
            ++FileList->IgnoredCount;
            continue;
        }
        if (isDir) {
            const auto self = std::make_pair(st.st_dev, st.st_ino);
            if (std::find(state.Ancestors.begin(), state.Ancestors.end(), self)
                != state.Ancestors.end())
                continue;
            item.Device = st.st_dev;
            item.Inode = st.st_ino;
            folders.push_back(std::move(item));
        } else {
            item.Size = st.st_size;
            item.ModifiedTime = st.st_mtime;
            item.ModifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            files.push_back(std::move(item));
        }
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(), NameLess);
    std::sort(folders.begin(), folders.end(), NameLess);

    bool outdated = false;
    TEntryPath relative(base);
    for (const TEntry &entry : files) {
        const qint32 fileAge = UnixTimeToFileDate(entry.ModifiedTime);
        if (!CreateItem(full.With(entry.Name), relative.With(entry.Name), false, folder, entry.Size,
                        fileAge, entry.ModifiedNs, state)
                 ->Synchronous)
            outdated = true;
    }
    std::vector<TFileListItem *> subfolders;
    subfolders.reserve(folders.size());
    for (const TEntry &entry : folders) {
        TFileListItem *item
            = CreateItem(full.With(entry.Name, u'/'), relative.With(entry.Name, u'\\'), true,
                         folder, 0, 0, 0, state);
        if (!item->Synchronous)
            outdated = true;
        subfolders.push_back(item);
    }
    files.clear();
    if (IncSubDirs) {
        for (size_t i = 0; i < folders.size(); ++i) {
            state.Ancestors.emplace_back(folders[i].Device, folders[i].Inode);
            if (TreeScan(Joined(path, folders[i].Name, QChar(u'/')), subfolders[i], state)) {
                subfolders[i]->Synchronous = false;
                outdated = true;
            }
            state.Ancestors.pop_back();
        }
    }
    return outdated;
}
