// The desktop program started from its command line on a real X server (Xvfb).
#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "tests/engine/EngineTestSupport.h"
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

// The program on a private X server of its own.
void StartUnderXvfb(QProcess &process, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the real xcb platform
    environment.insert(
        QStringLiteral("LSAN_OPTIONS"),
        QStringLiteral("suppressions=" ZANDREL_SOURCE_DIR "/tests/support/lsan.supp"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("xvfb-run"),
                  QStringList{QStringLiteral("-a"), QString::fromLatin1(Program)} + arguments);
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
    StartUnderXvfb(process, {project.FileName, QStringLiteral("FTPWindow"), server->Password});
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

namespace {

// A site, its project file in the projects folder, and the program under xvfb-run.
struct TProgramRun
{
    std::unique_ptr<TFtpTestServer> Server;
    QTemporaryDir Folder;
    QString Local = Folder.path() + QStringLiteral("/site");
    QString ProjectFile;
    QProcess Process;

    explicit TProgramRun(const TPyftpdlibOptions &options = {})
        : Server(StartPyftpdlib({}, options))
    {
        if (!Server)
            return;
        WriteWholeFile(Local + QStringLiteral("/index.html"), "<html/>\n");
        WriteWholeFile(Local + QStringLiteral("/img/logo.png"), QByteArray(70000, 'p'));
        TProject project;
        project.InitDefaults();
        project.Nodes(QStringLiteral("Path"))->SetAsString(Local);
        project.Nodes(QStringLiteral("IncSubDirs"))->SetAsBoolean(true);
        project.Nodes(QStringLiteral("Host"))->SetAsString(Server->Host);
        project.Nodes(QStringLiteral("Port"))->SetAsInteger(Server->Port);
        project.Nodes(QStringLiteral("User"))->SetAsString(Server->User);
        project.Nodes(QStringLiteral("RemotePath"))->SetAsString(QStringLiteral("/"));
        QDir().mkpath(ProjectsFolder());
        project.FileName = ProjectsFolder() + QStringLiteral("site.zdx");
        project.Save(false);
        ProjectFile = project.FileName;
    }
    void Start(const QString &mode)
    {
        StartUnderXvfb(Process, {ProjectFile, mode, Server->Password});
    }
    bool InStep() const { return TreeOf(Server->Root) == TreeOf(Local); }
};

} // namespace

TEST(GuiProgram, UploadAtOnceWithTwoUploadsAndEnds)
{
    TProgramRun run;
    ASSERT_TRUE(run.Server);
    {
        // A project another program has open is not uploaded: the run says so and fails.
        TProjectLock other;
        QString refusal;
        ASSERT_TRUE(other.Lock(run.ProjectFile, refusal)) << refusal.toStdString();
        run.Start(QStringLiteral("2"));
        ASSERT_TRUE(run.Process.waitForFinished(60000));
        const QString output = QString::fromUtf8(run.Process.readAll());
        EXPECT_EQ(run.Process.exitCode(), 1) << output.toStdString();
        EXPECT_TRUE(output.contains(
            QStringLiteral("The project %1 is in use by test_gui_program").arg(run.ProjectFile)))
            << output.toStdString();
        EXPECT_FALSE(run.InStep());
    }
    run.Start(QStringLiteral("2"));
    ASSERT_TRUE(run.Process.waitForFinished(60000)) << run.Process.readAll().toStdString();
    EXPECT_EQ(run.Process.exitCode(), 0) << run.Process.readAll().toStdString();
    EXPECT_TRUE(run.InStep());
    TProject project;
    project.Load(run.ProjectFile);
    EXPECT_EQ(project.Versions.FindOrAdd(QStringLiteral("img\\logo.png"))->Date,
              GetFileAge(run.Local + QStringLiteral("/img/logo.png")));
    // This way out does not write the default project.
    EXPECT_FALSE(QSettings().contains(QStringLiteral("DefaultProject")));
}

TEST(GuiProgram, UploadAtOnceWithOneUploadsAndStaysOpen)
{
    TProgramRun run;
    ASSERT_TRUE(run.Server);
    run.Start(QStringLiteral("1"));
    const bool uploaded = WaitFor([&run] { return run.InStep(); }, 60000);
    const qint64 program = ChildNamed(run.Process.processId(), "zandrel");
    QThread::msleep(1000);
    const bool stillOpen = program && ProcessAlive(program);
    if (program)
        ::kill(pid_t(program), SIGTERM);
    if (!run.Process.waitForFinished(20000))
        run.Process.kill();
    const std::string output = run.Process.readAll().toStdString();
    EXPECT_TRUE(uploaded) << output;
    EXPECT_TRUE(stillOpen) << output;
    EXPECT_EQ(run.Process.exitCode(), 0) << output;
    // Closed the normal way: the project is the default now.
    EXPECT_EQ(QSettings().value(QStringLiteral("DefaultProject")).toString(), run.ProjectFile);
}

TEST(GuiProgram, AKilledUploadKeepsTheRecordsOfTheFilesSentAndTheNextSendsTheRest)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 32 * 1024;
    TProgramRun run(options);
    ASSERT_TRUE(run.Server);
    // About two seconds a file over four connections (the server lets a transfer's first 64 KB
    // pass at once); plain STOR, so a file cut off keeps its name and the next run replaces it.
    for (int i = 0; i < 12; ++i)
        WriteWholeFile(run.Local + QStringLiteral("/d%1/%2.bin").arg(i % 3).arg(i),
                       RandomBytes(96 * 1024, quint32(i)));
    for (const QString &file : TreeOf(run.Local).keys())
        SetFileAge(run.Local + u'/' + file, 60);
    TProject stored;
    stored.Load(run.ProjectFile);
    stored.Nodes(QStringLiteral("SafeUpload"))->SetAsBoolean(false);
    stored.Save(false);

    run.Start(QStringLiteral("1"));
    const bool recorded = WaitFor(
        [&run] {
            TProject onDisk;
            onDisk.LoadFromBytes(ReadWholeFile(run.ProjectFile));
            for (int i = 0; i < onDisk.Versions.Count(); ++i) {
                if (onDisk.Versions.Items(i)->Date > 1)
                    return true;
            }
            return false;
        },
        60000);
    const qint64 program = ChildNamed(run.Process.processId(), "zandrel");
    if (program)
        ::kill(pid_t(program), SIGKILL);
    if (!run.Process.waitForFinished(20000))
        run.Process.kill();
    ASSERT_TRUE(recorded) << run.Process.readAll().toStdString();

    TProject kept;
    kept.Load(run.ProjectFile);
    const int keptFiles = RecordsMatchServer(kept, run.Local, *run.Server);
    EXPECT_GE(keptFiles, 1);
    EXPECT_LT(keptFiles, 14);
    const qsizetype commandsBefore = run.Server->ProtocolLog().size();
    run.Start(QStringLiteral("2"));
    ASSERT_TRUE(run.Process.waitForFinished(60000)) << run.Process.readAll().toStdString();
    EXPECT_EQ(run.Process.exitCode(), 0) << run.Process.readAll().toStdString();
    EXPECT_EQ(run.Server->ProtocolLog().mid(commandsBefore).filter(QStringLiteral("STOR ")).size(),
              14 - keptFiles);
    EXPECT_TRUE(run.InStep());
    kept.Load(run.ProjectFile);
    EXPECT_EQ(RecordsMatchServer(kept, run.Local, *run.Server), 14);
}

TEST(GuiProgram, WithoutADisplayItSaysSoAndPointsToTheCommandLine)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(QString::fromLatin1(Program), {});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("no display"));
}
