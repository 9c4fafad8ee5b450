#include "store/PrjCls.h"

#include "store/ProjectOptions.h"
#include "store/StringLib.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

std::function<bool(QString &password)> TProject::PasswordPrompt;
QStringList TProject::CommandLineArguments;

namespace {

QString Trimmed(const QString &text)
{
    return TrimBlanks(text).toString();
}

const QString DefaultProjectKey = QStringLiteral("DefaultProject");

} // namespace

TProject::TProject() = default;

TProject::~TProject() = default;

void TProject::Clear()
{
    FileName.clear();
    Password.clear();
    PasswordKnown = false;
    TXMLStore::Clear();
}

void TProject::InitDefaults()
{
    Name = QStringLiteral("project");
    Nodes(QStringLiteral("IncSubDirs"))->SetAsBoolean(true);
    Nodes(QStringLiteral("RememPass"))->SetAsBoolean(true);
    Nodes(QStringLiteral("Port"))->SetAsInteger(21);
    Nodes(QStringLiteral("Timeout"))->SetAsInteger(300);
    Nodes(QStringLiteral("Passive"))->SetAsBoolean(true);
    Nodes(QStringLiteral("ViewSyncFiles"))->SetAsBoolean(true);
    Nodes(QStringLiteral("ViewOldFiles"))->SetAsBoolean(true);
    Nodes(QStringLiteral("SafeUpload"))->SetAsBoolean(true);
    Nodes(QStringLiteral("IgnoreHiddenFiles"))->SetAsBoolean(true);
    Nodes(QStringLiteral("SafeUploadSize"))->SetAsInteger(0);
    Nodes(QStringLiteral("MaxLogSize"))->SetAsInteger(1024);
    Nodes(QStringLiteral("Connections"))->SetAsInteger(NewProjectConnections);
    Nodes(QStringLiteral("Encryption"))->SetAsString(QStringLiteral("auto"));
    TXMLStore *filter = Nodes(QStringLiteral("Filters"))->Add();
    filter->Name = QStringLiteral("Filter");
    filter->Nodes(QStringLiteral("Mask"))->SetAsString(QStringLiteral("*.bak"));
    filter->Nodes(QStringLiteral("Options"))->SetAsString(QStringLiteral(":no"));
}

void TProject::LoadFromBytes(const QByteArray &data)
{
    Clear();
    QString text = QString::fromUtf8(data);
    QString versions;
    const qsizetype marker = text.indexOf(VersionsMarker);
    if (marker >= 0) {
        versions = text.mid(marker + VersionsMarker.size());
        text.truncate(marker);
    }
    ParseText(text);
    Versions.LoadFromText(versions);
}

QByteArray TProject::SaveToBytes() const
{
    QString text;
    WriteText(text);
    text += VersionsMarker;
    text += QLatin1String("\r\n");
    text += Versions.SaveToText();
    return text.toUtf8();
}

void TProject::Load(const QString &fileName)
{
    LoadFromFile(fileName);
    FileName = fileName;
    Password.clear();
    PasswordKnown = false;
}

void TProject::Save(bool onlyIfExists)
{
    if (FileName.isEmpty()) {
        if (Trimmed(Nodes(QStringLiteral("User"))->Value).isEmpty()
            || Trimmed(Nodes(QStringLiteral("Host"))->Value).isEmpty())
            return;
        // The login and host go into the name as stored.
        const QString folder = ProjectsFolder();
        const QString base = folder + Nodes(QStringLiteral("User"))->Value + u'@'
                             + Nodes(QStringLiteral("Host"))->Value;
        QString name = base + QStringLiteral(".zdx");
        for (int suffix = 1; QFileInfo::exists(name); ++suffix)
            name = base + QString::number(suffix) + QStringLiteral(".zdx");
        MakePrivatePath(folder);
        FileName = name;
    } else if (onlyIfExists && !QFileInfo::exists(FileName)) {
        // The file was deleted (the organizer does this): do not bring it back.
        return;
    }
    SaveToFile(FileName);
}

QString TProject::GetLocalPath()
{
    const QString path = Trimmed(Nodes(QStringLiteral("Path"))->Value);
    return path.endsWith(u'/') ? path : path + u'/';
}

QString TProject::GetRemotePath()
{
    const QString path = Trimmed(Nodes(QStringLiteral("RemotePath"))->Value);
    if (!path.isEmpty() && !path.endsWith(u'/'))
        return path + u'/';
    return path;
}

QString TProject::GetUrl()
{
    const QString host = Nodes(QStringLiteral("Host"))->Value;
    const QString remote = GetRemotePath();
    QString url = QStringLiteral("ftp://") + host;
    if (!remote.isEmpty() && !remote.startsWith(u'/'))
        url += QStringLiteral("/~");
    return url + remote;
}

void TProject::SetPassword(const QString &password)
{
    Password = password;
    PasswordKnown = true;
}

bool TProject::AskPassword()
{
    if (PasswordKnown)
        return true;
    QString password = Nodes(QStringLiteral("Pass"))->AsPassword();
    if (password.isEmpty()) {
        if (CommandLineArguments.size() >= 3) {
            password = CommandLineArguments.at(2);
        } else {
            if (!PasswordPrompt || !PasswordPrompt(password))
                return false;
        }
    }
    SetPassword(password);
    return true;
}

QString ProjectsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/Projects/");
}

void ListProjects(QStringList &list)
{
    const QString folder = ProjectsFolder();
    const QDir dir(folder);
    const QStringList names
        = dir.entryList({QStringLiteral("*.zdx")}, QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString &name : names)
        list.append(folder + name);
}

QStringList SortedProjectFiles()
{
    QStringList files;
    ListProjects(files);
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        const int byTitle = ProjectTitle(a).compare(ProjectTitle(b), Qt::CaseInsensitive);
        return byTitle != 0 ? byTitle < 0 : a < b;
    });
    return files;
}

QString ProjectTitle(const QString &fileName)
{
    const qsizetype slash = fileName.lastIndexOf(u'/');
    QString name = fileName.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    return name;
}

QString GetDefaultProject()
{
    if (!TProject::CommandLineArguments.isEmpty())
        return TProject::CommandLineArguments.first();
    QSettings settings(QStringLiteral("morvate"), QStringLiteral("Zandrel"));
    if (!settings.contains(DefaultProjectKey))
        return {};
    const QString fileName = settings.value(DefaultProjectKey).toString();
    if (!QFileInfo(fileName).isFile()) {
        // Forget a project whose file is gone.
        settings.remove(DefaultProjectKey);
        return {};
    }
    return fileName;
}

void SetDefaultProject(const QString &fileName)
{
    QSettings settings(QStringLiteral("morvate"), QStringLiteral("Zandrel"));
    settings.setValue(DefaultProjectKey, fileName);
}
