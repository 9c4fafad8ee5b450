// Operations spread over several sessions of one server.
#include "tests/engine/EngineTestSupport.h"

#include <QElapsedTimer>
#include <QProcess>

// Our established connections to `port` (the client side, from /proc/net/tcp).
static int EstablishedTo(quint16 port)
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

// Folders holding an ignored file fail side by side, each line naming its folder; sessions
// dropped while the question waited are opened again once each.
TEST_F(SiteTest, ParallelRemovalReconnectsOnceAndNamesEachFailure)
{
    Serve("pyftpdlib", {.IdleTimeout = 1}, 4);
    QStringList kept;
    for (int i = 0; i < 6; ++i) {
        WriteWholeFile(OnServer(QString("gone%1/x.txt").arg(i)), "x");
        kept << QString("/kept%1").arg(i);
        WriteWholeFile(OnServer(kept.last() + "/copy.bak"), "b");
    }
    frontEnd.AskDelayMs = 2500; // the server drops the idle sessions meanwhile
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.LastLine(), "6 folder(s) and 6 file(s) have been removed")
        << frontEnd.Dump();
    QStringList named;
    for (const QString &error : std::as_const(frontEnd.Errors))
        named << error.section(": ", 0, 0);
    named.sort();
    EXPECT_EQ(named, kept) << frontEnd.ErrorDump();
    for (const QString &folder : kept)
        EXPECT_EQ(ReadWholeFile(OnServer(folder + "/copy.bak")), "b");
    const qsizetype reopened = frontEnd.Lines.filter("has been opened again").size();
    EXPECT_TRUE(reopened >= 1 && reopened <= 3) << reopened;
    EXPECT_LE(CommandCount("USER "), 8);
}

// Abort once a record has reached the project file: control comes back at once, no session
// stays, only whole files are recorded, and a run from the file on disk sends only the rest.
class AbortedRun : public SiteTest,
                   public ::testing::WithParamInterface<std::tuple<const char *, int>>
{
protected:
    const char *kind = std::get<0>(GetParam());
    const int sessions = std::get<1>(GetParam());
};

TEST_P(AbortedRun, EndsEverySessionAtOnceAndKeepsOnlyWholeFilesRecordedOnDisk)
{
    // About two seconds a file after the first 64 KB.
    Serve(kind, {.BandwidthLimit = 32 * 1024}, sessions);
    // Plain STOR: a file cut off keeps its own name on the server, and the next run replaces it.
    Set(*project, "SafeUpload", "0");
    for (int i = 0; i < 12; ++i) {
        const QString name = QString("d%1/%2.bin").arg(i % 3).arg(i);
        Write(name, RandomBytes(96 * 1024, i));
        SetFileAge(site + name, 60);
    }
    project->FileName = dir.path() + "/site.zdx";
    project->Save(false);
    frontEnd.SaveRecordsAsItGoes = true;

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
    EXPECT_TRUE(frontEnd.Errors.isEmpty()) << frontEnd.ErrorDump();
    ASSERT_GE(endAfterMs, 0);
    EXPECT_LT(endAfterMs, sessions == 1 ? 1000 : 500); // one session: about 500 ms by design
    EXPECT_LT(goneAfterMs, 1000);
    EXPECT_EQ(connectionsAtEnd, 0);
    // Records reach the disk every few seconds, not more often.
    EXPECT_GE(frontEnd.RecordSaves, 1);
    EXPECT_LE(frontEnd.RecordSaves, running.elapsed() / 3000 + 1);
    TTestFrontEnd::Idle(500);
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 12 - list.CountOutdated(true));
    EXPECT_GT(list.CountOutdated(true), 0);

    WriteWholeFile(project->FileName, onDisk);
    TProject resumed;
    resumed.Load(project->FileName);
    const int recorded = RecordsMatchServer(resumed, site, *server);
    EXPECT_GE(recorded, 1);
    resumed.SetPassword(server->Password);
    Serve(kind); // the rest at full speed
    Set(resumed, "Port", QString::number(server->Port));
    TFileList resumedList;
    frontEnd.OnLogLine = nullptr;
    ASSERT_TRUE(frontEnd.Run(resumedList, pkUpload, resumed));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.ErrorDump();
    EXPECT_EQ(Uploaded().size(), 12 - recorded); // with all 12 recorded below: exactly the rest
    EXPECT_EQ(RecordsMatchServer(resumed, site, *server), 12);
}

// sshd cannot be slowed down.
INSTANTIATE_TEST_SUITE_P(Sessions, AbortedRun,
                         ::testing::Combine(::testing::Values("pyftpdlib", "sftpd"),
                                            ::testing::Values(1, 4)));

// An encrypted key is asked for once, and every session opens it with that passphrase.
TEST_F(SiteTest, AKeyPassphraseIsAskedOnceForAllSessions)
{
    Serve("sshd", {}, 4);
    ASSERT_EQ(QProcess::execute("ssh-keygen", {"-q", "-p", "-P", "", "-N", "pass phrase", "-f",
                                               QDir::homePath() + "/.ssh/id_ed25519"}),
              0);
    project->SetPassword(QString());
    frontEnd.Passphrase = "pass phrase";
    for (int i = 0; i < 40; ++i)
        Write(QString("f%1.txt").arg(i), QByteArray(1000, 'x'));
    Upload();
    EXPECT_EQ(frontEnd.PassphraseQuestions, 1);
    EXPECT_EQ(frontEnd.StartingWith("the server refused another connection"), QStringList());
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 40);
}
