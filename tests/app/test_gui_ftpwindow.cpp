// The desktop program started as "PROJECT FTPWindow PASSWORD" on a real X server (Xvfb).
#include "store/PrjCls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const char *const Program = ZANDREL_BINARY_DIR "/app/zandrel";

qint64 ChildNamed(qint64 root, const QByteArray &name)
{
    for (qint64 pid : ProcessTree(root)) {
        if (ReadWholeFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() == name)
            return pid;
    }
    return 0;
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

TEST(GuiProgram, FtpWindowFormListsTheProjectsFolderAndClosesCleanlyUnderXvfb)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath(QStringLiteral("/www/index.html")), "<html/>");
    QTemporaryDir folder;
    TProject project;
    project.InitDefaults();
    project.Nodes(QStringLiteral("Host"))->SetAsString(server->Host);
    project.Nodes(QStringLiteral("Port"))->SetAsInteger(server->Port);
    project.Nodes(QStringLiteral("User"))->SetAsString(server->User);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(QStringLiteral("/www"));
    project.FileName = folder.path() + QStringLiteral("/site.zdx");
    project.Save(false);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the real xcb platform
    environment.insert(
        QStringLiteral("LSAN_OPTIONS"),
        QStringLiteral("suppressions=" ZANDREL_SOURCE_DIR "/tests/support/lsan.supp"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("xvfb-run"),
                  {QStringLiteral("-a"), QString::fromLatin1(Program), project.FileName,
                   QStringLiteral("FTPWindow"), server->Password});
    ASSERT_TRUE(process.waitForStarted(10000));

    const bool listed = WaitFor(
        [&server] {
            const QStringList log = server->ProtocolLog();
            return log.contains(QStringLiteral("CWD /www/"))
                   && log.contains(QStringLiteral("MLSD"));
        },
        60000);
    const qint64 program = ChildNamed(process.processId(), "zandrel");
    if (program)
        ::kill(pid_t(program), SIGTERM);
    const bool finished = process.waitForFinished(20000);
    if (!finished)
        process.kill();
    const QByteArray output = process.readAll();
    ASSERT_TRUE(listed) << output.toStdString() << server->ProtocolLog().join(" ").toStdString();
    ASSERT_NE(program, 0);
    ASSERT_TRUE(finished) << output.toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();

    // A clean close saved the window's placement and view.
    QSettings settings(QStringLiteral("morvate"), QStringLiteral("Zandrel"));
    settings.beginGroup(QStringLiteral("Forms/frmFtpWindow"));
    EXPECT_TRUE(settings.contains(QStringLiteral("Width")));
    EXPECT_TRUE(settings.contains(QStringLiteral("Details")));
}

TEST(GuiProgram, OtherFormsSayTheMainWindowIsNotBuiltYet)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QString::fromLatin1(Program),
                  {QStringLiteral("/nowhere/site.zdx"), QStringLiteral("1")});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("not built yet"));
}
