#include "store/Settings.h"

#include "engine/PublishFilter.h"
#include "store/ShellLib.h"
#include "store/XMLStore.h"

#include <QDir>
#include <QFileInfo>

TSettings::TSettings()
{
    FileName = DefaultFileName();
    MakePrivatePath(QFileInfo(FileName).absolutePath());
    try {
        LoadFromFile(FileName);
    } catch (...) {
        // Missing, unreadable or invalid: the defaults, in memory only.
        ApplyDefaults();
    }
}

std::vector<TDataStore::TProperty> TSettings::Properties()
{
    auto stringList = [](const QString &name, QStringList *list) {
        return TProperty{name,
                         TProperty::StringList,
                         {},
                         [list] { return !list->isEmpty(); },
                         [list] { return TPropertyValue(*list); },
                         [list](const TPropertyValue &v) { *list = std::get<QStringList>(v); }};
    };
    auto string = [](const QString &name, QString *text) {
        return TProperty{name,
                         TProperty::String,
                         {},
                         [text] { return !text->isEmpty(); },
                         [text] { return TPropertyValue(*text); },
                         [text](const TPropertyValue &v) { *text = std::get<QString>(v); }};
    };
    auto integer = [](const QString &name, qint32 *number) {
        return TProperty{name,
                         TProperty::Integer,
                         {},
                         [] { return true; },
                         [number] { return TPropertyValue(*number); },
                         [number](const TPropertyValue &v) { *number = std::get<qint32>(v); }};
    };
    std::vector<TProperty> properties;
    properties.push_back(stringList(QStringLiteral("TextFiles"), &TextFiles));
    properties.push_back(stringList(QStringLiteral("ExecFiles"), &ExecFiles));
    properties.push_back(string(QStringLiteral("FtpProxyHost"), &FtpProxyHost));
    properties.push_back(integer(QStringLiteral("FtpProxyPort"), &FtpProxyPort));
    properties.push_back(string(QStringLiteral("SocksHost"), &SocksHost));
    properties.push_back(integer(QStringLiteral("SocksPort"), &SocksPort));
    properties.push_back(TProperty{
        QStringLiteral("ProxyType"),
        TProperty::Enumeration,
        {QStringLiteral("ptFTP"), QStringLiteral("ptSocks")},
        [] { return true; },
        [this] { return TPropertyValue(qint32(ProxyType)); },
        [this](const TPropertyValue &v) { ProxyType = TProxyType(std::get<qint32>(v)); }});
    properties.push_back(
        TProperty{QStringLiteral("SoundEnabled"),
                  TProperty::Boolean,
                  {},
                  [] { return true; },
                  [this] { return TPropertyValue(SoundEnabled); },
                  [this](const TPropertyValue &v) { SoundEnabled = std::get<bool>(v); }});
    properties.push_back(string(QStringLiteral("ErrorSound"), &ErrorSound));
    properties.push_back(string(QStringLiteral("CompleteSound"), &CompleteSound));
    return properties;
}

void TSettings::ApplyDefaults()
{
    TextFiles
        = QStringList{QStringLiteral("*.pl"),  QStringLiteral("*.php*"), QStringLiteral("*.html"),
                      QStringLiteral("*.htm"), QStringLiteral("*.css"),  QStringLiteral("*.txt"),
                      QStringLiteral("*.asp")};
    ExecFiles = QStringList{QStringLiteral("*.cgi"), QStringLiteral("*.pl")};
    FtpProxyPort = 21;
    SocksPort = 1080;
}

bool TSettings::MatchesList(const QStringList &list, const QString &fileName)
{
    // Compiled one by one, so a malformed mask raises only when the search reaches it.
    for (const QString &mask : list) {
        if (TMask(mask).Matches(fileName))
            return true;
    }
    return false;
}

QString TSettings::DefaultFileName()
{
    return GetAppDataFolder() + QStringLiteral("/morvate/Zandrel/settings.dat");
}

QString GetProxyString()
{
    const TSettings settings;
    if (settings.ProxyType == ptSocks)
        return QStringLiteral("socks=") + settings.SocksHost + u':'
               + QString::number(settings.SocksPort);
    return QStringLiteral("ftp=ftp://") + settings.FtpProxyHost + u':'
           + QString::number(settings.FtpProxyPort);
}
