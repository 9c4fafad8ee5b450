#include "store/ProjectLock.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

QByteArray HolderLine()
{
    const QString program
        = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).fileName();
    return QByteArray::number(qint64(::getpid())) + ' '
           + (program.isEmpty() ? QByteArrayLiteral("unknown") : program.toUtf8()) + '\n';
}

QByteArray ReadAll(int fd)
{
    QByteArray data;
    char buffer[512];
    for (off_t offset = 0; data.size() < 64 * 1024;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
        if (got <= 0)
            break;
        data.append(buffer, got);
        offset += got;
    }
    return data;
}

// "zandrel-cli (process 1234)" for the first holder named in the file that still runs.
QString HolderText(int fd)
{
    for (const QByteArray &line : ReadAll(fd).split('\n')) {
        const qsizetype blank = line.indexOf(' ');
        bool ok = false;
        const qint64 pid = line.left(blank).toLongLong(&ok);
        if (blank <= 0 || !ok || pid <= 0)
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
            return QStringLiteral("%1 (process %2)")
                .arg(QString::fromUtf8(line.mid(blank + 1)))
                .arg(pid);
    }
    return {};
}

void AppendLine(int fd, const QByteArray &line)
{
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        // Only the message that refuses another process would lack this line.
        [[maybe_unused]] const ssize_t written
            = ::pwrite(fd, line.constData(), size_t(line.size()), st.st_size);
    }
}

bool SameFile(int fd, const QString &path)
{
    struct stat held, named;
    return ::fstat(fd, &held) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
           && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

TProjectLock::TProjectLock(TProjectLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_lockFile(std::move(other.m_lockFile))
{
}

TProjectLock &TProjectLock::operator=(TProjectLock &&other) noexcept
{
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
        m_lockFile = std::move(other.m_lockFile);
    }
    return *this;
}

QString TProjectLock::LockFileName(const QString &projectFile)
{
    // Every name of the same file shares its lock.
    const QFileInfo info(projectFile);
    const QString canonical = info.canonicalFilePath();
    return (canonical.isEmpty() ? info.absoluteFilePath() : canonical) + QStringLiteral(".lock");
}

bool TProjectLock::Holds(const QString &projectFile) const
{
    return m_fd >= 0 && m_lockFile == LockFileName(projectFile);
}

bool TProjectLock::Lock(const QString &projectFile, QString &refusal)
{
    Release();
    const QString lockFile = LockFileName(projectFile);
    // The file stays after the lock is released: removing it would let a process that opened
    // it just before lock a name nobody else sees any more.
    const int fd = ::open(QFile::encodeName(lockFile).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        refusal = QStringLiteral("The project %1 cannot be locked: %2 (%3)")
                      .arg(projectFile, QString::fromLocal8Bit(std::strerror(errno)), lockFile);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            // The holder writes its line just after taking the lock.
            QString holder = HolderText(fd);
            for (int i = 0; i < 20 && holder.isEmpty(); ++i) {
                QThread::msleep(10);
                holder = HolderText(fd);
            }
            refusal = QStringLiteral("The project %1 is in use by %2")
                          .arg(projectFile,
                               holder.isEmpty() ? QStringLiteral("another process") : holder);
        } else {
            refusal = QStringLiteral("The project %1 cannot be locked: %2 (%3)")
                          .arg(projectFile, QString::fromLocal8Bit(std::strerror(error)), lockFile);
        }
        ::close(fd);
        return false;
    }
    // Lines of earlier holders are stale now.
    if (::ftruncate(fd, 0) == 0)
        AppendLine(fd, HolderLine());
    m_fd = fd;
    m_lockFile = lockFile;
    return true;
}

bool TProjectLock::Adopt(const QString &projectFile)
{
    bool ok = false;
    const int fd = qEnvironmentVariable(ProjectLockVariable).toInt(&ok);
    if (!ok || fd < 0)
        return false;
    const QString lockFile = LockFileName(projectFile);
    // A descriptor that is not this project's lock file is left alone.
    if (!SameFile(fd, lockFile))
        return false;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    qunsetenv(ProjectLockVariable);
    // The same open file as the parent's: this succeeds while the parent holds the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    Release();
    AppendLine(fd, HolderLine());
    m_fd = fd;
    m_lockFile = lockFile;
    return true;
}

void TProjectLock::Release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd); // the kernel drops the lock with the last descriptor of this open file
    m_fd = -1;
    m_lockFile.clear();
}
