// Saving files so that a failure at any step (a full disk, a quota, an I/O error) leaves the
// previous file as it was and is reported with the file's name and the cause. QSaveFile is not
// used: in Qt 6.4 its commit() renames the file even when the last flush of its buffer failed.
#include "store/XMLStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Cause(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void Fail(const char *what, const QString &fileName, int error)
{
    throw EStoreError(QStringLiteral("%1 %2: %3").arg(QLatin1String(what), fileName, Cause(error)));
}

// Writes all of `data`; false with errno set on the first failing write.
bool WriteAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// fsync on a folder; file systems that cannot sync folders say EINVAL, which is no failure.
int SyncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    ::close(fd);
    return error;
}

} // namespace

void WriteFileSafely(const QString &fileName, const QByteArray &data, unsigned newMode)
{
    // A link is followed: the file it points to is the one replaced, the link stays.
    QString target = fileName;
    const QFileInfo info(fileName);
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        if (!resolved.isEmpty())
            target = resolved;
    }
    const QByteArray path = QFile::encodeName(target);
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());

    struct stat old = {};
    const bool exists = ::stat(path.constData(), &old) == 0;
    // An existing file keeps its owner's bits, within what new files may get plus the owner's
    // own; group and other lose what new files would not have.
    const mode_t mode = exists ? (old.st_mode & 07777 & (mode_t(newMode) | 0700)) : mode_t(newMode);

    // A short fixed name: the target's own name may already use the whole name length.
    QByteArray temporary = folder + "/.zandrel-save-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        Fail("Cannot create file", fileName, errno);
    int error = 0;
    const char *step = "Cannot write file";
    if (::fchmod(fd, mode) != 0)
        error = errno;
    // Root saving a user's file must not hand it to root; failing that is not fatal.
    if (!error && exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    if (!error && !WriteAll(fd, data))
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), path.constData()) != 0) {
        error = errno;
        step = "Cannot replace file";
    }
    if (error) {
        ::unlink(temporary.constData());
        Fail(step, fileName, error);
    }
    // The rename itself must reach the disk, or a crash could bring the old file back.
    error = SyncFolder(folder);
    if (error)
        Fail("Cannot write file", fileName, error);
}

void AppendFileSafely(const QString &fileName, const QByteArray &data)
{
    const QByteArray path = QFile::encodeName(fileName);
    bool created = false;
    int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        created = fd >= 0;
    }
    if (fd < 0)
        Fail("Cannot open file", fileName, errno);
    struct stat before = {};
    int error = ::fstat(fd, &before) != 0 ? errno : 0;
    if (!error && !WriteAll(fd, data))
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    // A block cut short would be glued to the next one: take it back.
    if (error && ::ftruncate(fd, before.st_size) == 0)
        ::fsync(fd);
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error && created)
        ::unlink(path.constData());
    if (error)
        Fail("Cannot write file", fileName, error);
}

bool MakePrivatePath(const QString &folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(path).isDir())
        return true;
    // Parents first, each created owner-only; existing ones are left as they are.
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash > 0 && !MakePrivatePath(path.left(slash)))
        return false;
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0)
        return errno == EEXIST && QFileInfo(path).isDir();
    return ::chmod(name.constData(), 0700) == 0;
}
