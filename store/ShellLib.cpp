#include "store/ShellLib.h"

#include "store/ProjectLock.h"
#include "store/XMLStore.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

const char *const SecretOnStdinVariable = "ZANDREL_PASSWORD_ON_STDIN";

namespace {

// Leaves a file that already holds `text` alone; `written` tells whether it had to be written.
bool WriteTextFile(const QString &fileName, const QString &text, bool &written)
{
    const QByteArray data = text.toUtf8();
    QFile current(fileName);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == data)
        return true;
    written = true;
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    try {
        WriteFileSafely(fileName, data, 0644);
    } catch (const EStoreError &) {
        return false;
    }
    return true;
}

void RunInBackground(const QString &tool, const QStringList &arguments)
{
    const QString path = QStandardPaths::findExecutable(tool);
    if (path.isEmpty())
        return;
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace

QString GetAppDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString GetPersonalFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString GetCommonDesktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString DesktopExecArgument(const QString &argument)
{
    // Exec quoting: an argument with a reserved character goes in double quotes, where
    // '"', '`', '$' and '\' take a backslash; "%" is doubled (field codes).
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        if (reserved.contains(c))
            needsQuotes = true;
    }
    QString quoted;
    if (needsQuotes) {
        quoted += u'"';
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        quoted += u'"';
    } else {
        quoted = argument;
    }
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    // The string escapes of the file format apply on top of the quoting.
    QString escaped;
    escaped.reserve(quoted.size());
    for (const QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QLatin1String("\\\\");
            break;
        case u'\n':
            escaped += QLatin1String("\\n");
            break;
        case u'\t':
            escaped += QLatin1String("\\t");
            break;
        case u'\r':
            escaped += QLatin1String("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool CreateShortcut(const QString &linkFile, const QString &target, const QString &arguments)
{
    const QFileInfo link(linkFile);
    QDir().mkpath(link.absolutePath());
    QString name = link.completeBaseName();
    name.replace(u'\\', QLatin1String("\\\\"));
    name.replace(u'\n', QLatin1String("\\n"));
    name.replace(u'\r', QLatin1String("\\r"));
    name.replace(u'\t', QLatin1String("\\t"));
    QString exec = DesktopExecArgument(QFileInfo(target).absoluteFilePath());
    if (!arguments.isEmpty())
        exec += u' ' + DesktopExecArgument(arguments);
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n")
                             .arg(name, exec);
    // Desktops run only launchers that are marked executable.
    try {
        WriteFileSafely(linkFile, text.toUtf8(), 0755);
    } catch (const EStoreError &) {
        return false;
    }
    return true;
}

namespace {

// Marks the entries RegisterFileAssociation writes, so that it only ever removes its own.
const QString RegisteredMark = QStringLiteral("X-Zandrel-Registered=true");

// Whether `entry` is one this program wrote into the user's menu folder: marked, or written by
// a version from before the mark (which named no TryExec and had this comment).
bool WrittenByZandrel(const QByteArray &entry)
{
    const QString text = QString::fromUtf8(entry);
    return text.contains(QLatin1Char('\n') + RegisteredMark + QLatin1Char('\n'))
           || text.contains(QStringLiteral("\nComment=Publish a web site to an FTP server\n"));
}

// Installed beside its own desktop entry (PREFIX/bin with PREFIX/share/applications), outside
// the user's home: a package or a system-wide `cmake --install`, whose entry the menu shows.
bool InstalledSystemWide(const QString &program)
{
    const QString prefix
        = QFileInfo(QFileInfo(program).absolutePath() + QStringLiteral("/..")).canonicalFilePath();
    const QString home = QFileInfo(QDir::homePath()).canonicalFilePath();
    const bool inHome = !home.isEmpty() && home != QLatin1String("/")
                        && (prefix == home || prefix.startsWith(home + QLatin1Char('/')));
    return !prefix.isEmpty() && !inHome
           && QFileInfo::exists(prefix + QStringLiteral("/share/applications/zandrel.desktop"));
}

} // namespace

bool RegisterFileAssociation(const QString &program)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString applications = dataHome + QStringLiteral("/applications");
    const QString mimeFolder = dataHome + QStringLiteral("/mime");
    const QString entryFile = applications + QStringLiteral("/zandrel.desktop");
    const QString mimeFile = mimeFolder + QStringLiteral("/packages/zandrel.xml");
    if (InstalledSystemWide(program)) {
        // An entry an earlier run wrote would shadow the installed one (and outlive it).
        QFile current(entryFile);
        if (!current.open(QIODevice::ReadOnly) || !WrittenByZandrel(current.readAll()))
            return true;
        current.close();
        const bool removed = QFile::remove(entryFile);
        QFile::remove(mimeFile);
        RunInBackground(QStringLiteral("update-mime-database"), {mimeFolder});
        RunInBackground(QStringLiteral("update-desktop-database"), {applications});
        return removed;
    }
    const QString path = QFileInfo(program).absoluteFilePath();
    const QString exec = DesktopExecArgument(path);
    // TryExec hides the entry from the menu once the program is gone; the next start of any
    // zandrel replaces or removes it.
    const QString entry
        = QStringLiteral("[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=Zandrel\n"
                         "GenericName=Web Site Publisher\n"
                         "Comment=Keep a web site on an FTP server in step with "
                         "its local folder\n"
                         "TryExec=%2\n"
                         "Exec=%1 %f\n"
                         "Icon=zandrel\n"
                         "Terminal=false\n"
                         "Categories=Network;FileTransfer;Qt;\n"
                         "Keywords=FTP;upload;publish;web site;\n"
                         "MimeType=application/x-zandrel-project;\n"
                         "Actions=Upload;\n"
                         "%3\n"
                         "\n"
                         "[Desktop Action Upload]\n"
                         "Name=Upload\n"
                         "Exec=%1 %f 1\n")
              .arg(exec, QString(path).replace(QLatin1Char('\\'), QStringLiteral("\\\\")),
                   RegisteredMark);
    const QString mime = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-zandrel-project\">\n"
        "    <comment>Zandrel project</comment>\n"
        "    <sub-class-of type=\"text/plain\"/>\n"
        "    <glob pattern=\"*.zdx\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n");
    // Written at every start so that a moved program repairs its entry, but the desktop's
    // caches are rebuilt only when something changed: that costs far more than the check.
    bool written = false;
    if (!WriteTextFile(entryFile, entry, written))
        return false;
    if (!WriteTextFile(mimeFile, mime, written))
        return false;
    if (written) {
        RunInBackground(QStringLiteral("update-mime-database"), {mimeFolder});
        RunInBackground(QStringLiteral("update-desktop-database"), {applications});
    }
    return true;
}

bool StartWithSecretOnStdin(const QString &program, const QStringList &arguments,
                            const QString &secret, int lock)
{
    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls are allowed in a threaded process.
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> argumentBytes;
    argumentBytes.push_back(path);
    for (const QString &argument : arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray line = secret.toUtf8() + '\n';
    const QByteArray marker = QByteArray(SecretOnStdinVariable) + "=1";
    std::vector<char *> envp;
    for (char **variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, marker.constData(), size_t(marker.size()) - 1) != 0)
            envp.push_back(*variable);
    }
    envp.push_back(const_cast<char *>(marker.constData()));
    const QByteArray lockVariable
        = QByteArray(ProjectLockVariable) + '=' + QByteArray::number(ProjectLockDescriptor);
    if (lock >= 0)
        envp.push_back(const_cast<char *>(lockVariable.constData()));
    envp.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    const pid_t middle = ::fork();
    if (middle == 0) {
        // The middle process ends at once, so the program's own process is adopted by init
        // and never becomes our zombie.
        ::setsid();
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeEnds[0], STDIN_FILENO);
            // The child shares the lock (the same open file) instead of being refused by it.
            if (lock == ProjectLockDescriptor)
                ::fcntl(lock, F_SETFD, 0);
            else if (lock >= 0)
                ::dup2(lock, ProjectLockDescriptor);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::_exit(child > 0 ? 0 : 1);
    }
    ::close(pipeEnds[0]);
    int status = 1;
    if (middle > 0) {
        while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
    }
    const bool started = middle > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // A pipe holds far more than one line: this never blocks, whatever the child does.
    if (started) {
        [[maybe_unused]] const ssize_t written
            = ::write(pipeEnds[1], line.constData(), size_t(line.size()));
    }
    ::close(pipeEnds[1]);
    return started;
}

std::optional<QString> ReadSecretFromStdin()
{
    const char *marker = std::getenv(SecretOnStdinVariable);
    if (!marker || std::strcmp(marker, "1") != 0)
        return std::nullopt;
    // Not handed on to anything this process starts.
    ::unsetenv(SecretOnStdinVariable);
    QByteArray line;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        line.append(buffer, got);
        if (line.contains('\n') || line.size() > 65536)
            break;
    }
    const qsizetype end = line.indexOf('\n');
    return QString::fromUtf8(end >= 0 ? line.left(end) : line);
}
