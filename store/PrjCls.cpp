#include "store/PrjCls.h"

#include "store/PasswordKeyring.h"
#include "store/ProjectOptions.h"
#include "store/StringLib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>

std::function<bool(TProject &project, QString &password)> TProject::PasswordPrompt;
QStringList TProject::CommandLineArguments;
TPasswordKeyring *TProject::Keyring = nullptr;
std::function<void(const QString &line)> TProject::Notice;

namespace {

QString Trimmed(const QString &text)
{
    return TrimBlanks(text).toString();
}

const QString DefaultProjectKey = QStringLiteral("DefaultProject");
// The keyring entry's id; "Pass" stays, empty, so that a reader that knows no keyring asks
// for the password instead of failing with a wrong one.
const QString KeyringKey = QStringLiteral("PassKeyring");

void Tell(const QString &line)
{
    if (TProject::Notice)
        TProject::Notice(line);
}

} // namespace

TProject::TProject() = default;

TProject::~TProject() = default;

void TProject::Clear()
{
    FileName.clear();
    Password.clear();
    PasswordKnown = false;
    m_keyringPassword.reset();
    m_passwordSet = false;
    m_forgetKeyringEntry = false;
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
    QByteArray bytes = text.toUtf8();
    Versions.AppendUtf8(bytes);
    return bytes;
}

void TProject::Load(const QString &fileName)
{
    const QString name = fileName; // may be FileName itself, which the load clears
    LoadFromFile(name);
    FileName = name;
    // A companion that is missing or cannot be read leaves the records as the project has
    // them: every file is then judged by its time alone, as before there was one.
    QFile content(ContentFileName());
    if (content.open(QIODevice::ReadOnly))
        Versions.LoadContent(content.readAll());
    Password.clear();
    PasswordKnown = false;
}

void TProject::Save(bool onlyIfExists)
{
    if (FileName.isEmpty()) {
        if (Trimmed(Nodes(QStringLiteral("User"))->Value).isEmpty()
            || Trimmed(Nodes(QStringLiteral("Host"))->Value).isEmpty())
            return;
        // The login and host go into the name as stored. A second project for them is
        // "user@host (2)": a bare digit would read as part of the address.
        const QString folder = ProjectsFolder();
        const QString base = folder + Nodes(QStringLiteral("User"))->Value + u'@'
                             + Nodes(QStringLiteral("Host"))->Value;
        QString name = base + QStringLiteral(".zdx");
        for (int suffix = 2; QFileInfo::exists(name); ++suffix)
            name = base + QStringLiteral(" (%1).zdx").arg(suffix);
        MakePrivatePath(folder);
        FileName = name;
    } else if (onlyIfExists && !QFileInfo::exists(FileName)) {
        // The file was deleted (the organizer does this): do not bring it back.
        return;
    }
    SettleStoredPassword();
    SaveToFile(FileName);
    // After the project: each entry holds only while its date is the project's record's, so
    // a save cut between the two files leaves entries that are ignored, never wrong ones.
    const QString content = ContentFileName();
    if (Versions.HoldsContent() || QFileInfo::exists(content))
        WriteFileSafely(content, Versions.SaveContent());
}

QString TProject::ContentFileName() const
{
    return ContentFileOf(FileName);
}

QString ContentFileOf(const QString &projectFile)
{
    return projectFile + QStringLiteral(".content");
}

QString ResumeFileOf(const QString &projectFile)
{
    return projectFile + QStringLiteral(".resume");
}

QString TProject::KeyringId() const
{
    const int index = IndexOf(KeyringKey);
    return index >= 0 ? Trimmed(Items(index)->Value) : QString();
}

QString TProject::StoredPassword()
{
    const QString inFile = Nodes(QStringLiteral("Pass"))->AsPassword();
    const QString id = KeyringId();
    if (!inFile.isEmpty() || id.isEmpty())
        return inFile;
    if (m_keyringPassword)
        return *m_keyringPassword;
    QString password;
    QString error = QStringLiteral("no keyring here");
    const TPasswordKeyring::TLookup found = Keyring && Keyring->Available(error)
                                                ? Keyring->Lookup(id, password, error)
                                                : TPasswordKeyring::klFailed;
    if (found == TPasswordKeyring::klFailed) {
        Tell(QStringLiteral("The FTP password of %1 is kept in the desktop's keyring, which "
                            "cannot be read: %2")
                 .arg(FileName, error));
        password.clear();
    } else if (found == TPasswordKeyring::klNotFound) {
        Tell(QStringLiteral("The desktop's keyring holds no FTP password for %1").arg(FileName));
    }
    m_keyringPassword = password;
    return password;
}

bool TProject::PasswordInKeyring()
{
    return !KeyringId().isEmpty() && Nodes(QStringLiteral("Pass"))->Value.isEmpty();
}

void TProject::SetStoredPassword(const QString &password)
{
    if (password == StoredPassword())
        return;
    Nodes(QStringLiteral("Pass"))->SetAsPassword(password);
    m_keyringPassword.reset();
    m_passwordSet = true;
    m_forgetKeyringEntry = password.isEmpty() && !KeyringId().isEmpty();
}

void TProject::SettleStoredPassword()
{
    static bool toldWhereKept = false;
    TXMLStore *pass = Nodes(QStringLiteral("Pass"));
    const QString password = pass->AsPassword();
    QString id = KeyringId();
    QString error;
    const bool keyring = Keyring && Keyring->Available(error);
    if (password.isEmpty()) {
        if (!m_forgetKeyringEntry || !keyring)
            return;
        if (Keyring->Remove(id, error)) {
            Delete(IndexOf(KeyringKey));
            m_forgetKeyringEntry = false;
        } else {
            Tell(QStringLiteral("Cannot remove the FTP password of %1 from the desktop's "
                                "keyring: %2")
                     .arg(FileName, error));
        }
        return;
    }
    if (!keyring) {
        if (m_passwordSet && !toldWhereKept) {
            toldWhereKept = true;
            Tell(QStringLiteral("No desktop keyring (%1): the FTP password is kept scrambled "
                                "in the project file %2")
                     .arg(Keyring ? error : QStringLiteral("none installed"), FileName));
        }
        return;
    }
    if (id.isEmpty())
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString label
        = QStringLiteral("Zandrel FTP password for %1@%2")
              .arg(Nodes(QStringLiteral("User"))->Value, Nodes(QStringLiteral("Host"))->Value);
    if (!Keyring->Store(id, label, password, error)) {
        // A password the file already held stays there quietly: a scheduled job on a machine
        // whose keyring never unlocks would otherwise say so on every run.
        if (m_passwordSet)
            Tell(QStringLiteral("The desktop's keyring did not take the FTP password (%1): it "
                                "is kept scrambled in the project file %2")
                     .arg(error, FileName));
        return;
    }
    Nodes(KeyringKey)->SetAsString(id);
    pass->SetAsString(QString());
    m_keyringPassword = password;
    if (!m_passwordSet)
        Tell(QStringLiteral("The FTP password of %1 was moved from the project file into the "
                            "desktop's keyring")
                 .arg(FileName));
    m_passwordSet = false;
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
    const bool sftp = IndexOf(QStringLiteral("Protocol")) >= 0
                      && Nodes(QStringLiteral("Protocol"))->AsString() == QLatin1String("sftp");
    QString url = (sftp ? QStringLiteral("sftp://") : QStringLiteral("ftp://")) + host;
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
    QString password = StoredPassword();
    if (password.isEmpty()) {
        if (CommandLineArguments.size() >= 3) {
            password = CommandLineArguments.at(2);
        } else {
            if (!PasswordPrompt || !PasswordPrompt(*this, password))
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
