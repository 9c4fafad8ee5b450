// Every test process gets its own home, config, data, cache, runtime and temporary folders, so
// no test touches the real user's state or another test's (the temporary one holds FTPWinTemp).
#include <gtest/gtest.h>

#include <QCoreApplication>
#ifdef ZANDREL_TEST_GUI
#include <QApplication>
#endif
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + "/zandrel-test-home-XXXXXX");
    QTemporaryDir temporary(QDir::tempPath() + "/zandrel-test-tmp-XXXXXX");
    if (!home.isValid() || !temporary.isValid())
        return 2;
    const QByteArray root = home.path().toUtf8();
    ::mkdir((root + "/runtime").constData(), 0700);
    // Servers that drop root keep their folders in the temporary folder: others pass through.
    ::chmod(temporary.path().toUtf8().constData(), 0755);
    for (const auto &[name, value] : std::initializer_list<std::pair<const char *, QByteArray>>{
             {"HOME", root},
             {"XDG_CONFIG_HOME", root + "/config"},
             {"XDG_DATA_HOME", root + "/data"},
             {"XDG_CACHE_HOME", root + "/cache"},
             {"XDG_RUNTIME_DIR", root + "/runtime"},
             // No session bus, so no test reaches the user's keyring (see PrivateKeyring.h).
             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root + "/runtime/no-bus"},
             {"TMPDIR", temporary.path().toUtf8()}})
        ::setenv(name, value.constData(), 1);

    QCoreApplication::setOrganizationName("morvate");
    QCoreApplication::setApplicationName("Zandrel");
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
