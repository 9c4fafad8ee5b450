#include "app/cli/CliProject.h"

#include "ftp/FtpWininet.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/Settings.h"
#include "store/StringLib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QString FillNewProject(TProject &project, const TNewProjectOptions &options)
{
    TProjectOptions dialog;
    dialog.Load(project);

    // What the user types.
    if (options.Path) {
        // A relative folder would depend on where later commands run; take it as the picker
        // would give it.
        const QString typed = TrimBlanks(*options.Path).toString();
        dialog.Path = typed.isEmpty() || QDir::isAbsolutePath(typed)
                          ? *options.Path
                          : QDir::cleanPath(QDir::current().absoluteFilePath(typed));
    }
    if (options.Host)
        dialog.Host = *options.Host;
    if (options.User)
        dialog.User = *options.User;
    if (options.Password)
        dialog.Pass = *options.Password;
    if (options.RemotePath)
        dialog.RemotePath = *options.RemotePath;
    const bool sftp = options.Protocol == QLatin1String("sftp");
    if (options.Port)
        dialog.Port = *options.Port;
    else if (sftp)
        dialog.Port = QStringLiteral("22");
    if (options.Timeout)
        dialog.Timeout = *options.Timeout;
    if (options.Connections)
        dialog.Connections = *options.Connections;
    if (options.Active)
        dialog.Passive = false;
    if (options.Encryption)
        dialog.Encryption = *options.Encryption;
    for (const QString &mask : options.Ignore) {
        if (IndexOfMask(dialog.Ignore, mask) < 0)
            dialog.Ignore.append(mask);
    }
    // The dialog's list keeps its rows sorted.
    std::stable_sort(
        dialog.Ignore.begin(), dialog.Ignore.end(),
        [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

    QString refusal;
    if (CheckProjectOptions(dialog, refusal) != TOptionsField::None)
        return refusal;
    dialog.Save(project);
    if (options.TrustCertificate)
        project.Nodes(QStringLiteral("TrustedCertificate"))->SetAsString(*options.TrustCertificate);
    // Only SFTP is written: an FTP project stays as it always was.
    if (sftp)
        project.Nodes(QStringLiteral("Protocol"))->SetAsString(QStringLiteral("sftp"));
    return {};
}

QString TrustHostKey(TProject &project, const TNewProjectOptions &options,
                     const QString &fingerprint)
{
    TFtp ftp;
    ftp.Protocol = QStringLiteral("sftp");
    ftp.ServerName = project.Nodes(QStringLiteral("Host"))->AsString().trimmed();
    quint16 port = 22; // checked by FillNewProject
    ParsePort(project.Nodes(QStringLiteral("Port"))->AsString(), port);
    ftp.ServerPort = port;
    ftp.UserName = project.Nodes(QStringLiteral("User"))->AsString();
    ftp.Password = options.Password.value_or(QString());
    // Seconds as the engine takes them, 0 without a limit.
    ftp.Timeout
        = qBound(0, project.Nodes(QStringLiteral("Timeout"))->AsString().trimmed().toInt(), 86400)
          * 1000;
    ftp.Proxy = project.Nodes(QStringLiteral("Proxy"))->AsBoolean() ? GetProxyString() : QString();
    ftp.TrustedFingerprint = fingerprint;
    try {
        ftp.Connect();
    } catch (const EFtpHostKeyError &error) {
        if (error.Changed)
            return error.Message();
        return QStringLiteral("The server's host key has the SHA-256 fingerprint %1, not %2 as "
                              "--trust-host-key says; it is not trusted")
            .arg(error.Certificate.Fingerprint, fingerprint);
    } catch (const EFtpError &error) {
        return error.Message();
    }
    // A key known_hosts already held was not compared with the one given.
    const QString known = ftp.HostKeyFingerprint();
    ftp.Disconnect();
    if (known != fingerprint)
        return QStringLiteral("The server's host key is already in known_hosts, and it is not %1 "
                              "(it is %2)")
            .arg(fingerprint, known);
    return {};
}

QString FindProjectFile(const QString &nameOrPath, QString &error)
{
    const QFileInfo info(nameOrPath);
    if (info.isFile())
        return info.absoluteFilePath();

    const QStringList files = SortedProjectFiles();
    for (const QString &file : files) {
        if (ProjectTitle(file) == nameOrPath)
            return file;
    }
    QStringList matches;
    for (const QString &file : files) {
        if (SameTextAscii(ProjectTitle(file), nameOrPath))
            matches.append(file);
    }
    if (matches.size() == 1)
        return matches.first();
    if (matches.isEmpty())
        error = QStringLiteral("File \"%1\" not found").arg(nameOrPath);
    else
        error = QStringLiteral("\"%1\" names more than one project: %2")
                    .arg(nameOrPath, matches.join(QStringLiteral(", ")));
    return {};
}

bool ReadFirstLine(const QString &fileName, QString &line, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot open file %1").arg(fileName);
        return false;
    }
    QByteArray bytes = file.readLine();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    line = QString::fromUtf8(bytes);
    return true;
}
