// Operations spread over several sessions of one server: byte-exact results on pyftpdlib and
// vsftpd, a server that allows fewer connections, sessions it drops, and Abort with the records
// saved as the run went.
#include "tests/engine/EngineTestSupport.h"

#include <QElapsedTimer>

namespace {

// Our established connections to `port` (the client side, from /proc/net/tcp).
int EstablishedTo(quint16 port)
{
    int count = 0;
    for (const QByteArray &line : ReadWholeFile("/proc/net/tcp").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        count += fields.size() >= 4 && fields[3] == "01"
                 && fields[2].split(':').value(1).toUInt(&ok, 16) == port && ok;
    }
    return count;
}

} // namespace

class Parallel : public ServerSiteTest
{
protected:
    Parallel() { connections = 4; }
};

TEST_P(Parallel, FourSessionsUploadRemoveAndDownloadAsOneWould)
{
    // 40 files of both modes in nested folders, a few large enough to overlap.
    const QStringList folders{"", "css/", "img/", "img/icons/", "docs/a/b/"};
    for (int i = 0; i < 40; ++i) {
        const QString name = folders[i % folders.size()] + QString("file%1.").arg(i);
        if (i % 3 == 0)
            Write(name + "html", QByteArray("<p>\n").repeated(i * 50 + 1));
        else
            Write(name + "bin", RandomBytes(i % 7 == 0 ? 400000 : i * 997, i));
    }
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    // Each session logged in once, each file went once and has its record. Text and binary
    // files share folders: one mode goes first for the whole pass, so TYPE twice a session.
    EXPECT_EQ(CommandCount("USER "), 4);
    EXPECT_EQ(frontEnd.LastLine(),
              "6 folder(s) have been created and 40 file(s) have been uploaded");
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 40);
    EXPECT_LE(CommandCount("TYPE "), 8);

    // Removal: every folder goes after everything inside it, whichever session removed that;
    // six folders keep an ignored file, so their RMDs fail side by side, each line naming its
    // folder.
    for (const char *name : {"old/x/y/z.txt", "old/x/w.bin", "old/v.txt", "stale.html"})
        WriteWholeFile(OnServer(name), name);
    QStringList kept;
    for (int i = 0; i < 6; ++i) {
        kept << QString("/kept%1").arg(i);
        WriteWholeFile(OnServer(kept.last() + "/Old Page (copy).html"), "p");
        WriteWholeFile(OnServer(kept.last() + "/copy.bak"), "b");
    }
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    QStringList named;
    for (const QString &error : std::as_const(frontEnd.Errors))
        named << error.section(": ", 0, 0);
    named.sort();
    EXPECT_EQ(named, kept) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.LastLine(), "3 folder(s) and 10 file(s) have been removed");
    for (const QString &folder : kept) {
        EXPECT_EQ(ReadWholeFile(OnServer(folder + "/copy.bak")), "b");
        QDir(OnServer(folder)).removeRecursively();
    }
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));

    // Download: folders before their files, every file byte-exact.
    for (const char *name : {"dl/a/b/big.bin", "dl/a/c.bin", "dl/d.bin", "top.bin"})
        WriteWholeFile(OnServer(name), RandomBytes(100000, qHash(QByteArray(name))));
    frontEnd.Answers = {mrYesToAll};
    RunClean(pkDownload);
    EXPECT_EQ(TreeOf(site), TreeOf(server->Root));
    Upload();
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
}

INSTANTIATE_TEST_SUITE_P(Servers, Parallel, ::testing::Values("pyftpdlib", "vsftpd"));

using ParallelLimits = SiteTest;

TEST_F(ParallelLimits, AServerAllowingTwoConnectionsGetsOneNoticeAndTheWholeSite)
{
    TVsftpdOptions options;
    options.MaxPerIp = 2;
    options.MaxRate = 200 * 1024; // the refusals come while files are still going
    server = StartVsftpd(serverRoot.path(), options);
    ASSERT_TRUE(server);
    project = MakeTestProject(site, server.get(), 4);
    for (int i = 0; i < 24; ++i)
        Write(QString("f%1/%2.bin").arg(i % 3).arg(i), RandomBytes(20000 + i, i));
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(frontEnd.Lines.filter("the server refused another connection"),
              QStringList{"the server refused another connection (There are too many connections "
                          "from your internet address.): going on with 2 connection(s)"});
    EXPECT_EQ(CommandCount("USER "), 2);
    EXPECT_EQ(frontEnd.LastLine(),
              "3 folder(s) have been created and 24 file(s) have been uploaded");
}

// Answers its first question only after the server has dropped the idle sessions: each is
// opened again once, and no more sessions come.
class TSlowToAnswer : public TTestFrontEnd
{
public:
    int Ask(const QString &text) override
    {
        Idle(std::exchange(DelayMs, 0));
        return TTestFrontEnd::Ask(text);
    }
    int DelayMs = 2500;
};

TEST_F(ParallelLimits, SessionsTheServerDroppedWhileWaitingAreOpenedAgainOnce)
{
    TPyftpdlibOptions options;
    options.IdleTimeout = 1;
    Serve("pyftpdlib", options, 4);
    for (const char *name : {"a/1.txt", "b/2.txt", "c/3.txt", "d/4.txt", "e/5.txt", "f/6.txt"})
        WriteWholeFile(OnServer(name), name);
    TSlowToAnswer answers;
    answers.Answers = {mrYesToAll};
    ASSERT_TRUE(answers.Run(list, pkRemove, *project));
    EXPECT_EQ(answers.LastLine(), "6 folder(s) and 6 file(s) have been removed") << answers.Dump();
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
    const qsizetype reopened = answers.Lines.filter("has been opened again").size();
    EXPECT_TRUE(reopened >= 1 && reopened <= 3) << reopened;
    EXPECT_LE(CommandCount("USER "), 8);
}

// Abort over one session or four, once a record has reached the project file: control comes
// back at once, no session stays connected, nothing is reported afterwards, and exactly the files
// that arrived whole are recorded. A kill at that moment leaves the project file as it was: a run
// from it sends only the rest.
class AbortedRun : public SiteTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(AbortedRun, EndsEverySessionAtOnceAndKeepsOnlyWholeFilesRecordedOnDisk)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 32 * 1024;
    Serve("pyftpdlib", options, GetParam());
    // Plain STOR: a file cut off keeps its own name on the server, and the next run replaces it.
    Set(*project, "SafeUpload", "0");
    // About two seconds a file (the server lets a transfer's first 64 KB pass at once).
    QSet<QString> rest;
    for (int i = 0; i < 12; ++i) {
        rest.insert(QString("d%1/%2.bin").arg(i % 3).arg(i));
        Write(QString("d%1/%2.bin").arg(i % 3).arg(i), RandomBytes(96 * 1024, i));
        SetFileAge(site + QString("d%1/%2.bin").arg(i % 3).arg(i), 60);
    }
    project->FileName = dir.path() + "/site.zdx";
    project->Save(false);
    frontEnd.SaveRecordsAsItGoes = true;

    // The project file on disk, taken once it holds a file's record, when the next file starts;
    // the run is aborted there.
    QByteArray onDisk;
    QElapsedTimer running, sinceAbort;
    running.start();
    qint64 endAfterMs = -1;
    int connectionsAtEnd = -1;
    frontEnd.OnLogLine = [&](const QString &text) {
        if (!onDisk.isEmpty() || !text.startsWith("uploading ") || !frontEnd.Current)
            return;
        const QByteArray bytes = ReadWholeFile(project->FileName);
        TProject saved;
        try {
            saved.LoadFromBytes(bytes);
        } catch (const std::exception &error) {
            ADD_FAILURE() << "not a project file: " << error.what();
            return;
        }
        if (RecordsMatchServer(saved, site, *server) > 0) {
            onDisk = bytes;
            sinceAbort.start();
            frontEnd.Current->Abort();
        }
    };
    frontEnd.OnEnd = [&] { endAfterMs = sinceAbort.isValid() ? sinceAbort.elapsed() : -1; };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project, [&](TPublishOperator *op) {
        QObject::connect(op, &QObject::destroyed,
                         [&] { connectionsAtEnd = EstablishedTo(server->Port); });
    }));
    const qint64 goneAfterMs = sinceAbort.elapsed();
    ASSERT_FALSE(onDisk.isEmpty()) << "no record reached the project file";
    EXPECT_TRUE(frontEnd.Aborted);
    EXPECT_TRUE(frontEnd.Errors.isEmpty()) << frontEnd.Errors.join('\n').toStdString();
    ASSERT_GE(endAfterMs, 0);
    EXPECT_LT(endAfterMs, GetParam() == 1 ? 1000 : 500); // one session: about 500 ms by design
    EXPECT_LT(goneAfterMs, 1000);
    RecordProperty("EndAfterMs", int(endAfterMs));
    EXPECT_EQ(connectionsAtEnd, 0);
    // Records reach the disk every few seconds, not more often.
    EXPECT_GE(frontEnd.RecordSaves, 1);
    EXPECT_LE(frontEnd.RecordSaves, running.elapsed() / 3000 + 1);
    // The abandoned workers say nothing more; the files in step are those recorded, and whole.
    TTestFrontEnd::Idle(500);
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 12 - list.CountOutdated(true));
    EXPECT_GT(list.CountOutdated(true), 0);

    WriteWholeFile(project->FileName, onDisk);
    TProject resumed;
    resumed.Load(project->FileName);
    EXPECT_EQ(resumed.Nodes("Host")->AsString(), server->Host);
    const int recorded = RecordsMatchServer(resumed, site, *server);
    EXPECT_GE(recorded, 1);
    for (const QString &relative : QSet<QString>(rest)) {
        if (resumed.Versions.FindOrAdd(QString(relative).replace('/', '\\'))->Date > 1)
            rest.remove(relative);
    }
    EXPECT_EQ(rest.size(), 12 - recorded);
    resumed.SetPassword(server->Password);
    Serve("pyftpdlib"); // the rest at full speed
    Set(resumed, "Port", QString::number(server->Port));
    TFileList resumedList;
    frontEnd.OnLogLine = nullptr;
    ASSERT_TRUE(frontEnd.Run(resumedList, pkUpload, resumed));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    const QStringList sent = Uploaded();
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()), rest);
    EXPECT_EQ(sent.size(), rest.size());
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(RecordsMatchServer(resumed, site, *server), 12);
}

INSTANTIATE_TEST_SUITE_P(Sessions, AbortedRun, ::testing::Values(1, 4));
