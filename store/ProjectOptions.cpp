#include "store/ProjectOptions.h"

#include "store/PrjCls.h"
#include "store/StringLib.h"

#include <QFileInfo>

#include <algorithm>

namespace {
QString Trimmed(const QString &text)
{
    return TrimBlanks(text).toString();
}
} // namespace

int ProjectConnections(TProject &project)
{
    bool ok = false;
    const int stored
        = project.Nodes(QStringLiteral("Connections"))->AsString().trimmed().toInt(&ok);
    return ok ? qBound(1, stored, MaxConnections) : 1;
}

QString ProjectEncryption(TProject &project)
{
    const QString stored
        = project.Nodes(QStringLiteral("Encryption"))->AsString().trimmed().toLower();
    return stored == QLatin1String("require") || stored == QLatin1String("auto")
                   || stored == QLatin1String("implicit")
               ? stored
               : QStringLiteral("off");
}

namespace {
const QString TlsOfferedKey = QStringLiteral("TlsOffered");

// A key's value without creating it.
QString Stored(TProject &project, const QString &key)
{
    return project.IndexOf(key) >= 0 ? project.Nodes(key)->AsString().trimmed() : QString();
}
} // namespace

bool ProjectExpectsTls(TProject &project)
{
    return Stored(project, TlsOfferedKey) == QLatin1String("1")
           || !Stored(project, QStringLiteral("TrustedCertificate")).isEmpty();
}

void SetProjectTlsOffered(TProject &project)
{
    project.Nodes(TlsOfferedKey)->SetAsBoolean(true);
}

void TProjectOptions::Load(TProject &project)
{
    Path = project.Nodes(QStringLiteral("Path"))->AsString();
    IncSubDirs = project.Nodes(QStringLiteral("IncSubDirs"))->AsBoolean();
    Host = project.Nodes(QStringLiteral("Host"))->AsString();
    User = project.Nodes(QStringLiteral("User"))->AsString();
    Pass = project.StoredPassword();
    RemotePath = project.Nodes(QStringLiteral("RemotePath"))->AsString();
    Port = project.Nodes(QStringLiteral("Port"))->AsString();
    Timeout = project.Nodes(QStringLiteral("Timeout"))->AsString();
    Passive = project.Nodes(QStringLiteral("Passive"))->AsBoolean();
    Proxy = project.Nodes(QStringLiteral("Proxy"))->AsBoolean();
    SaveLog = project.Nodes(QStringLiteral("SaveLog"))->AsBoolean();
    LogFile = project.Nodes(QStringLiteral("LogFile"))->AsString();
    CheckLogSize = project.Nodes(QStringLiteral("CheckLogSize"))->AsBoolean();
    MaxLogSize = project.Nodes(QStringLiteral("MaxLogSize"))->AsInteger();
    SafeUpload = project.Nodes(QStringLiteral("SafeUpload"))->AsBoolean();
    SafeUploadSize = project.Nodes(QStringLiteral("SafeUploadSize"))->AsInteger();
    SetPermission = project.Nodes(QStringLiteral("SetPermission"))->AsBoolean();
    CheckSize = project.Nodes(QStringLiteral("CheckSize"))->AsBoolean();
    IgnoreHiddenFiles = project.Nodes(QStringLiteral("IgnoreHiddenFiles"))->AsBoolean();
    Connections = ProjectConnections(project);
    Encryption = ProjectEncryption(project);

    Ignore.clear();
    TXMLStore *filters = project.Nodes(QStringLiteral("Filters"));
    for (int i = 0; i < filters->Count(); ++i) {
        TXMLStore *filter = filters->Items(i);
        if (!filter->Nodes(QStringLiteral("Options"))->AsString().contains(QLatin1String("no")))
            continue;
        const QString mask = filter->Nodes(QStringLiteral("Mask"))->AsString();
        if (IndexOfMask(Ignore, mask) < 0)
            Ignore.append(mask);
    }
}

void TProjectOptions::Save(TProject &project) const
{
    // What the server offered says nothing about another one.
    if (Stored(project, TlsOfferedKey) == QLatin1String("1")
        && (Stored(project, QStringLiteral("Host")).compare(Trimmed(Host), Qt::CaseInsensitive) != 0
            || Stored(project, QStringLiteral("Port")) != Trimmed(Port)))
        project.Nodes(TlsOfferedKey)->SetAsBoolean(false);
    project.Nodes(QStringLiteral("Path"))->SetAsString(Path);
    project.Nodes(QStringLiteral("IncSubDirs"))->SetAsBoolean(IncSubDirs);
    project.Nodes(QStringLiteral("Host"))->SetAsString(Host);
    project.Nodes(QStringLiteral("User"))->SetAsString(User);
    project.SetStoredPassword(Pass);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(RemotePath);
    project.Nodes(QStringLiteral("Port"))->SetAsString(Port);
    project.Nodes(QStringLiteral("Timeout"))->SetAsString(Timeout);
    project.Nodes(QStringLiteral("Passive"))->SetAsBoolean(Passive);
    project.Nodes(QStringLiteral("Proxy"))->SetAsBoolean(Proxy);
    project.Nodes(QStringLiteral("SaveLog"))->SetAsBoolean(SaveLog);
    project.Nodes(QStringLiteral("LogFile"))->SetAsString(LogFile);
    project.Nodes(QStringLiteral("CheckLogSize"))->SetAsBoolean(CheckLogSize);
    project.Nodes(QStringLiteral("MaxLogSize"))->SetAsInteger(MaxLogSize);
    project.Nodes(QStringLiteral("SafeUpload"))->SetAsBoolean(SafeUpload);
    project.Nodes(QStringLiteral("SafeUploadSize"))->SetAsInteger(SafeUploadSize);
    project.Nodes(QStringLiteral("SetPermission"))->SetAsBoolean(SetPermission);
    project.Nodes(QStringLiteral("CheckSize"))->SetAsBoolean(CheckSize);
    project.Nodes(QStringLiteral("IgnoreHiddenFiles"))->SetAsBoolean(IgnoreHiddenFiles);
    project.Nodes(QStringLiteral("Connections"))
        ->SetAsInteger(qBound(1, Connections, MaxConnections));
    project.Nodes(QStringLiteral("Encryption"))->SetAsString(Encryption);

    TXMLStore *filters = project.Nodes(QStringLiteral("Filters"));
    filters->Clear();
    for (const QString &mask : Ignore) {
        TXMLStore *filter = filters->Add();
        filter->Name = QStringLiteral("Filter");
        filter->Nodes(QStringLiteral("Mask"))->SetAsString(mask);
        filter->Nodes(QStringLiteral("Options"))->SetAsString(QStringLiteral(":no"));
    }
}

const char *const PortRefusal = "Port must be a number from 1 to 65535";

bool ParsePort(const QString &text, quint16 &port)
{
    const QStringView digits = TrimBlanks(text);
    if (digits.isEmpty()) {
        port = 21;
        return true;
    }
    if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), IsAsciiDigit))
        return false;
    const int value = digits.toInt();
    if (value < 1 || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

QString StoredPortRefusal(const QString &value)
{
    return QStringLiteral("The project's \"Port\" holds \"%1\": %2")
        .arg(value, QLatin1String(PortRefusal));
}

QString ProjectRefusal(const TProject &project, bool connects)
{
    // Reads only: a key that is not there stays absent.
    const TXMLStore *pathNode = project.Find(QStringLiteral("Path"));
    const QString path = pathNode ? Trimmed(pathNode->Value) : QString();
    if (path.isEmpty())
        return QStringLiteral("The project's local folder is not set (\"Path\" is empty): "
                              "nothing is published from \"/\"");
    if (!QFileInfo(path).isDir())
        return QStringLiteral("The local folder %1 does not exist")
            .arg(path.endsWith(u'/') ? path : path + u'/');
    const TXMLStore *portNode = connects ? project.Find(QStringLiteral("Port")) : nullptr;
    quint16 port = 0;
    if (portNode && !ParsePort(portNode->Value, port))
        return StoredPortRefusal(portNode->Value);
    return {};
}

TOptionsField CheckProjectOptions(TProjectOptions &options, QString &message)
{
    options.Path = Trimmed(options.Path);
    options.Host = Trimmed(options.Host);
    options.User = Trimmed(options.User);
    const auto refuse = [&message](TOptionsField field, const char *text) {
        message = QString::fromLatin1(text);
        return field;
    };
    if (options.Path.isEmpty())
        return refuse(TOptionsField::Path, "Source path must be defined");
    if (!QFileInfo(options.Path).isDir())
        return refuse(TOptionsField::Path, "Source path must be exists");
    if (options.Host.isEmpty())
        return refuse(TOptionsField::Host, "Ftp host must be defined");
    quint16 port = 0;
    if (!ParsePort(options.Port, port))
        return refuse(TOptionsField::Port, PortRefusal);
    if (options.User.isEmpty())
        return refuse(TOptionsField::User, "Ftp login must be defined");
    message.clear();
    return TOptionsField::None;
}

int IndexOfMask(const QStringList &masks, const QString &mask)
{
    for (int i = 0; i < masks.size(); ++i) {
        if (SameTextAscii(masks.at(i), mask))
            return i;
    }
    return -1;
}
