#include "engine/FolderWatch.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file counts once written whole or moved in (an editor's atomic save, a generator's
// rename); a folder when made or moved in, as files may be inside before its watch exists.
// IN_ATTRIB: a time set back (touch -d, cp -p) is a change to the records as well.
constexpr uint32_t WatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ATTRIB | IN_DELETE_SELF
                               | IN_MOVE_SELF | IN_ONLYDIR;

QString ReadProcNumber(const QString &file)
{
    QFile proc(file);
    if (!proc.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(proc.readAll()).trimmed();
}

} // namespace

TFolderWatch::TFolderWatch(QObject *parent)
    : QObject(parent)
{
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &TFolderWatch::Changed);
}

TFolderWatch::~TFolderWatch()
{
    Stop();
}

QString TFolderWatch::WatchError(int error, const QString &path)
{
    if (error == ENOSPC) {
        // A user namespace (a container) may have a lower limit of its own.
        QString file = QStringLiteral("/proc/sys/fs/inotify/max_user_watches");
        QString key = QStringLiteral("fs.inotify.max_user_watches");
        QString limit = ReadProcNumber(file);
        const QString user = QStringLiteral("/proc/sys/user/max_inotify_watches");
        const QString own = ReadProcNumber(user);
        if (own != QLatin1String("?") && own != limit) {
            file = user;
            key = QStringLiteral("user.max_inotify_watches");
            limit = own;
        }
        bool ok = false;
        const qint64 now = limit.toLongLong(&ok);
        return QStringLiteral("%1 is not watched: the limit of inotify watches (%2, %3) is "
                              "reached; raise it with \"sysctl %4=%5\" (as root; add it to "
                              "/etc/sysctl.conf to keep it)")
            .arg(path, limit, file, key, ok ? QString::number(now * 2) : QStringLiteral("524288"));
    }
    if (error == EMFILE)
        return QStringLiteral("%1 is not watched: the limit of inotify instances (%2, "
                              "/proc/sys/fs/inotify/max_user_instances) is reached; raise it "
                              "with \"sysctl fs.inotify.max_user_instances=N\" (as root)")
            .arg(path, ReadProcNumber(QStringLiteral("/proc/sys/fs/inotify/max_user_instances")));
    return QStringLiteral("%1 is not watched: %2")
        .arg(path, QString::fromLocal8Bit(strerror(error)));
}

bool TFolderWatch::Start(TProject &project, QString &error)
{
    Stop();
    m_root = project.GetLocalPath();
    m_subfolders = project.Nodes(QStringLiteral("IncSubDirs"))->AsBoolean();
    m_ignoreHidden = project.Nodes(QStringLiteral("IgnoreHiddenFiles"))->AsBoolean();
    m_filter.LoadLocal(m_root, project.Nodes(QStringLiteral("Filters")));
    m_ownFiles.clear();
    if (!project.FileName.isEmpty()) {
        const QFileInfo file(project.FileName);
        m_ownFiles.insert(file.absoluteFilePath());
        m_ownFiles.insert(file.absolutePath() + u'/' + file.completeBaseName()
                          + QStringLiteral(".log"));
    }
    const QString log = project.Nodes(QStringLiteral("LogFile"))->AsString().trimmed();
    if (!log.isEmpty())
        m_ownFiles.insert(QFileInfo(log).absoluteFilePath());
    m_limitReported = false;

    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        error = WatchError(errno, m_root);
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TFolderWatch::Readable);
    m_problem.clear();
    m_starting = true;
    const bool complete = AddTree(m_root);
    m_starting = false;
    m_limitReported = false; // said by the caller; said again when a new folder hits it
    // A site that cannot be watched whole would miss saves without a word.
    if (!complete || m_folders.isEmpty()) {
        error = m_problem;
        Stop();
        return false;
    }
    return true;
}

void TFolderWatch::Stop()
{
    m_quiet.stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_folders.clear();
}

bool TFolderWatch::Ignored(const QString &folder, const QString &name, bool isDir) const
{
    if (name.contains(u'\\') || (m_ignoreHidden && IsHiddenName(name)))
        return true;
    const QString path = folder + name + (isDir ? QStringLiteral("/") : QString());
    if (!isDir) {
        for (const QString &own : m_ownFiles) {
            if (path.startsWith(own))
                return true;
        }
    }
    return m_filter.IsIgnored(path, fsLocal);
}

bool TFolderWatch::AddTree(const QString &path)
{
    const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), WatchMask);
    if (wd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return true; // gone again
        m_problem = WatchError(error, path);
        // The limit ends the walk (every further folder would fail) and is said once; at the
        // start the caller says it and fails. The root's failure is the caller's as well.
        if (error == ENOSPC) {
            if (!m_starting && !m_limitReported)
                emit Problem(m_problem);
            m_limitReported = true;
            return false;
        }
        if (path != m_root)
            emit Problem(m_problem);
        return true;
    }
    // A folder watched already: linked into itself (left as it is), or moved within the site
    // (its events name the new path from now on).
    const auto known = m_folders.find(wd);
    if (known != m_folders.end()) {
        if (!path.startsWith(*known))
            *known = path;
        return true;
    }
    m_folders.insert(wd, path);
    if (!m_subfolders)
        return true;
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return true;
    QStringList below;
    while (const dirent *entry = ::readdir(dir)) {
        const char *raw = entry->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), raw, &st, 0) != 0 || !S_ISDIR(st.st_mode))
            continue;
        const QString name = QFile::decodeName(raw);
        if (!Ignored(path, name, true))
            below.append(path + name + u'/');
    }
    ::closedir(dir);
    for (const QString &folder : std::as_const(below)) {
        if (!AddTree(folder))
            return false;
    }
    return true;
}

void TFolderWatch::Touch()
{
    m_quiet.start(QuietMs);
}

void TFolderWatch::Readable()
{
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                Touch(); // the upload scans everything anyway
                continue;
            }
            const auto found = m_folders.constFind(event->wd);
            if (found == m_folders.cend())
                continue;
            const QString folder = *found;
            if (event->mask & IN_IGNORED) {
                m_folders.remove(event->wd);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (folder == m_root)
                    emit Problem(QStringLiteral("the local folder %1 has been removed or moved: "
                                                "saves in it are not seen any more")
                                     .arg(m_root));
                continue;
            }
            if (event->len == 0 || event->name[0] == 0)
                continue; // the folder itself
            const QString name = QFile::decodeName(event->name);
            const bool isDir = event->mask & IN_ISDIR;
            if (Ignored(folder, name, isDir))
                continue;
            if (isDir) {
                if (!m_subfolders)
                    continue;
                // Made or moved in: watched from now on, with whatever it holds already.
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                    AddTree(folder + name + u'/');
                    Touch();
                }
                continue;
            }
            // A new file is reported again once written; a link made in place counts now.
            if ((event->mask & IN_CREATE) != 0) {
                struct stat st;
                const QByteArray path = QFile::encodeName(folder + name);
                if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
                    continue;
            }
            Touch();
        }
    }
}
