#include "tests/support/PrivateKeyring.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace {

struct TPrivateKeyring
{
    TPrivateKeyring()
    {
        Session.start(
            "dbus-run-session",
            {"--", "/bin/sh", ZANDREL_SOURCE_DIR "/tests/support/keyring-session.sh", Home.path()});
        QByteArray output;
        while (!output.contains('\n') && Session.waitForReadyRead(10000))
            output += Session.readAllStandardOutput();
        if (output.startsWith("BUS "))
            Address = QString::fromUtf8(output.mid(4).trimmed());
        else
            Error = QString::fromUtf8(output + Session.readAllStandardError());
    }
    ~TPrivateKeyring()
    {
        Session.closeWriteChannel();
        if (!Session.waitForFinished(5000))
            Session.kill();
    }

    QTemporaryDir Home;
    QProcess Session;
    QString Address, Error;
};

std::unique_ptr<TPrivateKeyring> TheKeyring;

} // namespace

QString PrivateKeyringBus()
{
    if (!TheKeyring) {
        TheKeyring = std::make_unique<TPrivateKeyring>();
        // Stopped while the application object still exists.
        qAddPostRoutine([] { TheKeyring.reset(); });
    }
    if (TheKeyring->Address.isEmpty())
        ADD_FAILURE() << "no private Secret Service (gnome-keyring, dbus-run-session): "
                      << TheKeyring->Error.toStdString();
    return TheKeyring->Address;
}
