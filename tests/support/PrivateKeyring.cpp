#include "tests/support/PrivateKeyring.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace {

// The shell under dbus-run-session: the daemon in the foreground of a background job, the bus
// address once the Secret Service answers, then it waits for its standard input to close (the
// fixture ending, or the test process dying) and stops the daemon by its process id. The bus
// ends with the shell.
const char *const SessionScript = R"(
echo | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
daemon=$!
for i in $(seq 1 200); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
           org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
           grep -q 'boolean true'; then
        echo "BUS $DBUS_SESSION_BUS_ADDRESS"
        break
    fi
    sleep 0.05
done
read -r _
kill "$daemon"
wait "$daemon"
)";

class TPrivateKeyring
{
public:
    TPrivateKeyring()
    {
        const QString run = m_home.path() + QStringLiteral("/run");
        QDir().mkpath(run);
        QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                       | QFileDevice::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           m_home.path() + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_session.setProcessEnvironment(environment);
        m_session.start(QStringLiteral("dbus-run-session"),
                        {QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                         QString::fromLatin1(SessionScript)});
        QByteArray output;
        while (!output.contains('\n') && m_session.waitForReadyRead(10000))
            output += m_session.readAllStandardOutput();
        if (output.startsWith("BUS "))
            Address = QString::fromUtf8(output.mid(4).trimmed());
        else
            Error = QString::fromUtf8(output + m_session.readAllStandardError());
    }
    ~TPrivateKeyring()
    {
        m_session.closeWriteChannel();
        if (!m_session.waitForFinished(5000))
            m_session.kill();
    }

    QString Address;
    QString Error;

private:
    QTemporaryDir m_home;
    QProcess m_session;
};

std::unique_ptr<TPrivateKeyring> TheKeyring;

TPrivateKeyring &Keyring()
{
    if (!TheKeyring) {
        TheKeyring = std::make_unique<TPrivateKeyring>();
        // Stopped while the application object still exists.
        qAddPostRoutine([] { TheKeyring.reset(); });
    }
    return *TheKeyring;
}

} // namespace

QString PrivateKeyringBus()
{
    TPrivateKeyring &keyring = Keyring();
    if (keyring.Address.isEmpty())
        ADD_FAILURE() << "no private Secret Service (gnome-keyring, dbus-run-session): "
                      << keyring.Error.toStdString();
    return keyring.Address;
}
