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

QString ProjectProtocol(TProject &project)
{
    return project.Nodes(QStringLiteral("Protocol"))->AsString().trimmed().toLower()
                   == QLatin1String("sftp")
               ? QStringLiteral("sftp")
               : QStringLiteral("ftp");
}

bool ProjectProtectsServerChanges(const TProject &project)
{
    const int index = project.IndexOf(QStringLiteral("ProtectServerChanges"));
    return index >= 0 && project.Items(index)->AsBoolean();
}

quint16 DefaultPort(const QString &protocol)
{
    return protocol == QLatin1String("sftp") ? 22 : 21;
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
    Protocol = ProjectProtocol(project);
    ProtectServerChanges = ProjectProtectsServerChanges(project);

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
    // Written for SFTP only: an FTP project's file stays as it was before the key existed.
    if (Protocol == QLatin1String("sftp"))
        project.Nodes(QStringLiteral("Protocol"))->SetAsString(Protocol);
    else if (const int index = project.IndexOf(QStringLiteral("Protocol")); index >= 0)
        project.Delete(index);
    // Likewise written only when on.
    if (ProtectServerChanges)
        project.Nodes(QStringLiteral("ProtectServerChanges"))->SetAsBoolean(true);
    else if (const int index = project.IndexOf(QStringLiteral("ProtectServerChanges")); index >= 0)
        project.Delete(index);

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

bool ParsePort(const QString &text, quint16 &port, quint16 blank)
{
    const QStringView digits = TrimBlanks(text);
    if (digits.isEmpty()) {
        port = blank;
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

bool ParseNumberField(const QString &text, TNumberField field, int &value)
{
    const QStringView digits = TrimBlanks(text);
    if (digits.isEmpty() || digits.size() > field.Digits
        || !std::all_of(digits.begin(), digits.end(), IsAsciiDigit))
        return false;
    value = digits.toInt();
    return value >= field.Min;
}

namespace {

// One option: its name, and how the dialog's control reads and writes it.
struct TOptionField
{
    const char *Name;
    QString TProjectOptions::*Text = nullptr;
    bool TProjectOptions::*Check = nullptr;
    int TProjectOptions::*Number = nullptr;
    TNumberField Limits{0, 0};
};

const std::vector<TOptionField> &OptionFields()
{
    using O = TProjectOptions;
    static const std::vector<TOptionField> fields = {
        {"path", &O::Path},
        {"include-subfolders", nullptr, &O::IncSubDirs},
        {"protocol", &O::Protocol},
        {"host", &O::Host},
        {"port", &O::Port},
        {"user", &O::User},
        {"remote-path", &O::RemotePath},
        {"passive", nullptr, &O::Passive},
        {"firewall", nullptr, &O::Proxy},
        {"encryption", &O::Encryption},
        {"timeout", &O::Timeout},
        {"connections", nullptr, nullptr, &O::Connections, {2, 1}},
        {"safe-upload", nullptr, &O::SafeUpload},
        {"safe-upload-size", nullptr, nullptr, &O::SafeUploadSize, SafeUploadSizeField},
        {"protect-server-changes", nullptr, &O::ProtectServerChanges},
        {"set-permission", nullptr, &O::SetPermission},
        {"check-size", nullptr, &O::CheckSize},
        {"ignore-hidden-files", nullptr, &O::IgnoreHiddenFiles},
        {"save-log", nullptr, &O::SaveLog},
        {"log-file", &O::LogFile},
        {"truncate-log", nullptr, &O::CheckLogSize},
        {"max-log-size", nullptr, nullptr, &O::MaxLogSize, MaxLogSizeField},
        {"ignore"},
    };
    return fields;
}

const TOptionField *FindField(const QString &name)
{
    for (const TOptionField &field : OptionFields()) {
        if (name == QLatin1String(field.Name))
            return &field;
    }
    return nullptr;
}

} // namespace

QStringList ProjectOptionNames()
{
    QStringList names;
    for (const TOptionField &field : OptionFields())
        names.append(QString::fromLatin1(field.Name));
    return names;
}

QString ProjectOptionValue(const TProjectOptions &options, const QString &name)
{
    const TOptionField *field = FindField(name);
    if (!field)
        return {};
    if (field->Text)
        return options.*field->Text;
    if (field->Check)
        return options.*field->Check ? QStringLiteral("yes") : QStringLiteral("no");
    if (field->Number)
        return QString::number(options.*field->Number);
    return options.Ignore.join(QLatin1Char('\n'));
}

QString SetProjectOption(TProjectOptions &options, const QString &name, const QString &value)
{
    const auto refused = [&](const QString &why) {
        return QStringLiteral("%1 cannot be \"%2\": %3").arg(name, value, why);
    };
    if (name == QLatin1String("add-ignore") || name == QLatin1String("remove-ignore")) {
        if (TrimBlanks(value).isEmpty())
            return refused(QStringLiteral("a mask is needed"));
        const int index = IndexOfMask(options.Ignore, value);
        if (name == QLatin1String("remove-ignore")) {
            if (index < 0)
                return refused(QStringLiteral("the ignore list holds no such mask"));
            options.Ignore.removeAt(index);
        } else if (index < 0) {
            options.Ignore.append(value);
            // The dialog's list keeps its rows sorted.
            std::stable_sort(options.Ignore.begin(), options.Ignore.end(),
                             [](const QString &a, const QString &b) {
                                 return a.compare(b, Qt::CaseInsensitive) < 0;
                             });
        }
    } else {
        const TOptionField *field = FindField(name);
        if (!field || QLatin1String(field->Name) == QLatin1String("ignore"))
            return QStringLiteral("unknown option \"%1\"; the options are: %2, add-ignore, "
                                  "remove-ignore")
                .arg(name, ProjectOptionNames().join(QStringLiteral(", ")));
        if (field->Check) {
            static const QStringList yes = {QStringLiteral("yes"), QStringLiteral("true"),
                                            QStringLiteral("on"), QStringLiteral("1")};
            static const QStringList no = {QStringLiteral("no"), QStringLiteral("false"),
                                           QStringLiteral("off"), QStringLiteral("0")};
            if (!yes.contains(value) && !no.contains(value))
                return refused(QStringLiteral("give yes or no"));
            options.*field->Check = yes.contains(value);
        } else if (field->Number) {
            int number = 0;
            const bool connections = field->Number == &TProjectOptions::Connections;
            if (!ParseNumberField(value, field->Limits, number)
                || (connections && number > MaxConnections))
                return refused(
                    connections ? QStringLiteral("give a number from 1 to %1").arg(MaxConnections)
                                : QStringLiteral("give a number from %1, at most %2 "
                                                 "digits")
                                      .arg(field->Limits.Min)
                                      .arg(field->Limits.Digits));
            options.*field->Number = number;
        } else if (field->Text == &TProjectOptions::Encryption) {
            if (value != QLatin1String("require") && value != QLatin1String("auto")
                && value != QLatin1String("implicit") && value != QLatin1String("off"))
                return refused(QStringLiteral("give require, auto, implicit or off"));
            options.Encryption = value;
        } else if (field->Text == &TProjectOptions::Protocol) {
            if (value != QLatin1String("ftp") && value != QLatin1String("sftp"))
                return refused(QStringLiteral("give ftp or sftp"));
            // The port follows when it holds the other protocol's default, as in the dialog.
            if (TrimBlanks(options.Port) == QString::number(DefaultPort(options.Protocol)))
                options.Port = QString::number(DefaultPort(value));
            options.Protocol = value;
        } else if (field->Text == &TProjectOptions::Timeout) {
            int seconds = 0;
            if (!ParseNumberField(value, TimeoutField, seconds))
                return refused(QStringLiteral("give a number of seconds from 1, at most %1 digits")
                                   .arg(TimeoutField.Digits));
            options.Timeout = QString::number(seconds);
        } else {
            options.*field->Text = value;
        }
    }
    QString message;
    if (CheckProjectOptions(options, message) != TOptionsField::None)
        return message;
    return {};
}
