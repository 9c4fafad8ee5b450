#include "app/cli/CliProject.h"

#include "store/PrjCls.h"
#include "store/StringLib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace {

// The dialog's trimming: leading and trailing characters at or below the blank.
QString TrimControl(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

// The numeric edit's Value: the text as a decimal number (0 when it is not one), clamped.
int NaturalValue(const QString &text, int minValue)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok)
        return minValue > 0 ? minValue : 0;
    return int(std::clamp<qlonglong>(value, minValue, INT_MAX));
}

bool TitleLess(const QString &a, const QString &b)
{
    const QString titleA = ProjectTitle(a);
    const QString titleB = ProjectTitle(b);
    const int byTitle = titleA.compare(titleB, Qt::CaseInsensitive);
    if (byTitle != 0)
        return byTitle < 0;
    return a < b;
}

} // namespace

QString FillNewProject(TProject &project, const TNewProjectOptions &options)
{
    // LoadFromProject: every read creates its key, so the file gets the dialog's key order.
    QString edtPath = project.Nodes(QStringLiteral("Path"))->AsString();
    const bool cbxIncludeSubDirs = project.Nodes(QStringLiteral("IncSubDirs"))->AsBoolean();
    QString edtHost = project.Nodes(QStringLiteral("Host"))->AsString();
    QString edtUser = project.Nodes(QStringLiteral("User"))->AsString();
    QString edtPass = project.Nodes(QStringLiteral("Pass"))->AsPassword();
    QString edtInitDir = project.Nodes(QStringLiteral("RemotePath"))->AsString();
    QString edtPort = project.Nodes(QStringLiteral("Port"))->AsString();
    QString edtTimeout = project.Nodes(QStringLiteral("Timeout"))->AsString();
    bool cbxPassive = project.Nodes(QStringLiteral("Passive"))->AsBoolean();
    const bool cbxProxy = project.Nodes(QStringLiteral("Proxy"))->AsBoolean();
    const bool cbxSaveLog = project.Nodes(QStringLiteral("SaveLog"))->AsBoolean();
    const QString edtLogFile = project.Nodes(QStringLiteral("LogFile"))->AsString();
    const bool cbxMaxLogSize = project.Nodes(QStringLiteral("CheckLogSize"))->AsBoolean();
    const QString edtMaxLogSize
        = QString::number(project.Nodes(QStringLiteral("MaxLogSize"))->AsInteger());
    const bool cbxSafeUpload = project.Nodes(QStringLiteral("SafeUpload"))->AsBoolean();
    const QString edtSafeUploadSize
        = QString::number(project.Nodes(QStringLiteral("SafeUploadSize"))->AsInteger());
    const bool cbxSetPermission = project.Nodes(QStringLiteral("SetPermission"))->AsBoolean();
    const bool cbxCheckSize = project.Nodes(QStringLiteral("CheckSize"))->AsBoolean();
    const bool cbxIgnoreHiddenFiles
        = project.Nodes(QStringLiteral("IgnoreHiddenFiles"))->AsBoolean();

    QStringList lvwIgnore;
    const auto AddIgnoreItem = [&lvwIgnore](const QString &text) {
        const bool known
            = std::any_of(lvwIgnore.cbegin(), lvwIgnore.cend(),
                          [&text](const QString &row) { return SameTextAscii(row, text); });
        if (!known)
            lvwIgnore.append(text);
    };
    TXMLStore *filters = project.Nodes(QStringLiteral("Filters"));
    for (int i = 0; i < filters->Count(); ++i) {
        TXMLStore *filter = filters->Items(i);
        if (filter->Nodes(QStringLiteral("Options"))->AsString().contains(QLatin1String("no")))
            AddIgnoreItem(filter->Nodes(QStringLiteral("Mask"))->AsString());
    }

    // What the user types.
    if (options.Path) {
        // A relative folder would depend on where later commands run; take it as the picker
        // would give it.
        const QString typed = TrimControl(*options.Path);
        edtPath = typed.isEmpty() || QDir::isAbsolutePath(typed)
                      ? *options.Path
                      : QDir::cleanPath(QDir::current().absoluteFilePath(typed));
    }
    if (options.Host)
        edtHost = *options.Host;
    if (options.User)
        edtUser = *options.User;
    if (options.Password)
        edtPass = *options.Password;
    if (options.RemotePath)
        edtInitDir = *options.RemotePath;
    if (options.Port)
        edtPort = *options.Port;
    if (options.Timeout)
        edtTimeout = *options.Timeout;
    if (options.Active)
        cbxPassive = false;
    for (const QString &mask : options.Ignore)
        AddIgnoreItem(mask);
    std::stable_sort(lvwIgnore.begin(), lvwIgnore.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });

    // OK.
    edtPath = TrimControl(edtPath);
    edtHost = TrimControl(edtHost);
    edtUser = TrimControl(edtUser);
    if (edtPath.isEmpty())
        return QStringLiteral("Source path must be defined");
    if (!QFileInfo(edtPath).isDir())
        return QStringLiteral("Source path must be exists");
    if (edtHost.isEmpty())
        return QStringLiteral("Ftp host must be defined");
    if (edtUser.isEmpty())
        return QStringLiteral("Ftp login must be defined");

    // SaveToProject, in the same key order.
    project.Nodes(QStringLiteral("Path"))->SetAsString(edtPath);
    project.Nodes(QStringLiteral("IncSubDirs"))->SetAsBoolean(cbxIncludeSubDirs);
    project.Nodes(QStringLiteral("Host"))->SetAsString(edtHost);
    project.Nodes(QStringLiteral("User"))->SetAsString(edtUser);
    project.Nodes(QStringLiteral("Pass"))->SetAsPassword(edtPass);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(edtInitDir);
    project.Nodes(QStringLiteral("Port"))->SetAsString(edtPort);
    project.Nodes(QStringLiteral("Timeout"))->SetAsString(edtTimeout);
    project.Nodes(QStringLiteral("Passive"))->SetAsBoolean(cbxPassive);
    project.Nodes(QStringLiteral("Proxy"))->SetAsBoolean(cbxProxy);
    project.Nodes(QStringLiteral("SaveLog"))->SetAsBoolean(cbxSaveLog);
    project.Nodes(QStringLiteral("LogFile"))->SetAsString(edtLogFile);
    project.Nodes(QStringLiteral("CheckLogSize"))->SetAsBoolean(cbxMaxLogSize);
    project.Nodes(QStringLiteral("MaxLogSize"))->SetAsInteger(NaturalValue(edtMaxLogSize, 1));
    project.Nodes(QStringLiteral("SafeUpload"))->SetAsBoolean(cbxSafeUpload);
    project.Nodes(QStringLiteral("SafeUploadSize"))
        ->SetAsInteger(NaturalValue(edtSafeUploadSize, 0));
    project.Nodes(QStringLiteral("SetPermission"))->SetAsBoolean(cbxSetPermission);
    project.Nodes(QStringLiteral("CheckSize"))->SetAsBoolean(cbxCheckSize);
    project.Nodes(QStringLiteral("IgnoreHiddenFiles"))->SetAsBoolean(cbxIgnoreHiddenFiles);
    filters = project.Nodes(QStringLiteral("Filters"));
    filters->Clear();
    for (const QString &row : std::as_const(lvwIgnore)) {
        TXMLStore *filter = filters->Add();
        filter->Name = QStringLiteral("Filter");
        filter->Nodes(QStringLiteral("Mask"))->SetAsString(row);
        filter->Nodes(QStringLiteral("Options"))->SetAsString(QStringLiteral(":no"));
    }
    return {};
}

QStringList SortedProjectFiles()
{
    QStringList files;
    ListProjects(files);
    std::sort(files.begin(), files.end(), TitleLess);
    return files;
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
