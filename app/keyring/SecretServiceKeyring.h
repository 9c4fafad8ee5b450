#pragma once

#include "store/PasswordKeyring.h"

// The desktop's keyring through the Secret Service (GNOME Keyring, KWallet, KeePassXC) on the
// session bus. Calls block until the service answers (an unlock prompt included).
class TSecretServiceKeyring : public TPasswordKeyring
{
public:
    bool Available(QString &why) override;
    TLookup Lookup(const QString &id, QString &password, QString &error) override;
    bool Store(const QString &id, const QString &label, const QString &password,
               QString &error) override;
    bool Remove(const QString &id, QString &error) override;

private:
    bool m_probed = false;
    bool m_available = false;
    QString m_why;
};
