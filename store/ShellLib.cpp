#include "store/ShellLib.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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
    QSaveFile file(linkFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = text.toUtf8();
    if (file.write(data) != data.size() || !file.commit())
        return false;
    // Desktops run only launchers that are marked executable.
    QFile::setPermissions(linkFile, QFile::permissions(linkFile) | QFileDevice::ExeOwner
                                        | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return true;
}
