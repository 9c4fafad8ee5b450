#pragma once

#include <QString>

// The desktop's keyring as the project document sees it. The store links only Qt Core, so the
// implementation (store/keyring, over libsecret) is a separate library that the front ends
// link and install into TProject::Keyring.
class TPasswordKeyring
{
public:
    enum TLookup { klFound, klNotFound, klFailed };

    virtual ~TPasswordKeyring() = default;
    // Whether a keyring answers on this desktop (asked once); `why` says why not. A machine
    // without one (a server, CI) keeps passwords in the project file.
    virtual bool Available(QString &why) = 0;
    // `id` is the project's "PassKeyring" value. klFailed with `error` set when no keyring
    // answers (no D-Bus session, no Secret Service, a locked keyring that stayed locked).
    virtual TLookup Lookup(const QString &id, QString &password, QString &error) = 0;
    // `label` is what the desktop's keyring manager shows.
    virtual bool Store(const QString &id, const QString &label, const QString &password,
                       QString &error)
        = 0;
    // True when the entry is gone afterwards (also when there was none).
    virtual bool Remove(const QString &id, QString &error) = 0;
};
