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

    // ~/.config/morvate/Zandrel/settings.dat (XDG_CONFIG_HOME respected).
    static QString DefaultFileName();
};
