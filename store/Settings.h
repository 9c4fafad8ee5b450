#pragma once

#include "store/DataLib.h"

enum TProxyType : qint32 { ptFTP = 0, ptSocks = 1 };

// Application-wide settings in settings.dat: transfer masks, firewall, alert sounds.
// Every user constructs its own object, which reads the file anew.
class TSettings : public TDataStore
{
public:
    TSettings(); // reads the file; on any failure applies the defaults
    QString ClassName() const override { return QStringLiteral("TSettings"); }
    std::vector<TProperty> Properties() override;

    QStringList TextFiles;
    QStringList ExecFiles;
    QString FtpProxyHost;
    qint32 FtpProxyPort = 0;
    QString SocksHost;
    qint32 SocksPort = 0;
    TProxyType ProxyType = ptFTP;
    bool SoundEnabled = false;
    QString ErrorSound;
    QString CompleteSound;

    QString FileName;

    void Save() { SaveToFile(FileName); }
    void ApplyDefaults();
    // Throws EMaskError for a malformed mask, unlike the ignore filter.
    static bool MatchesList(const QStringList &list, const QString &fileName);

    // ~/.config/morvate/Zandrel/settings.dat (follows XDG_CONFIG_HOME).
    static QString DefaultFileName();
};

// The proxy text of the firewall settings for a connection: "socks=host:port" or
// "ftp=ftp://host:port", hosts as stored. Reads the settings file anew.
QString GetProxyString();
