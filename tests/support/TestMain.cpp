// Test entry point: every test process gets its own home, config, data and runtime
// folders, so no test reads or writes the real user's state.
#include <gtest/gtest.h>

#include <QCoreApplication>
#ifdef ZANDREL_TEST_GUI
#include <QApplication>
#endif
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zandrel-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = home.path().toUtf8();
    ::setenv("HOME", root.constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    QDir().mkpath(home.path() + QStringLiteral("/runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    // No session bus either, so no test reaches the user's keyring; the keyring tests start
    // their own (tests/support/PrivateKeyring.h).
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root + "/runtime/no-bus").constData(), 1);
    // Temporary files too: the FTP window's "FTPWinTemp" would be shared by parallel tests.
    // Servers that drop root keep their folders in there, so others may pass through it.
    QTemporaryDir temporary(QDir::tempPath() + QStringLiteral("/zandrel-test-tmp-XXXXXX"));
    if (!temporary.isValid())
        return 2;
    QFile::setPermissions(temporary.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                                | QFileDevice::ExeGroup);
    ::setenv("TMPDIR", temporary.path().toUtf8().constData(), 1);

    QCoreApplication::setOrganizationName(QStringLiteral("morvate"));
    QCoreApplication::setApplicationName(QStringLiteral("Zandrel"));
#ifdef ZANDREL_TEST_GUI
    // Offscreen unless the caller picked a platform: CTest's test discovery runs the
    // executable without the tests' environment, and CI has no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
