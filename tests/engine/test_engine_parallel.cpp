// Operations spread over several sessions of one server: byte-exact results on pyftpdlib and
// vsftpd, a server that allows fewer connections, sessions the server drops, and Abort.
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Our established connections to `port` (the client side, from /proc/net/tcp).
int EstablishedTo(quint16 port)
{
    int count = 0;
    const QList<QByteArray> lines = ReadWholeFile("/proc/net/tcp").split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || fields[3] != "01")
            continue;
        bool ok = false;
        if (fields[2].split(':').value(1).toUInt(&ok, 16) == port && ok)
            ++count;
    }
    return count;
}

const QString RefusedNotice = "the server refused another connection";
const QString ReopenedNotice = "the connection to the server was lost and has been opened again";

} // namespace

class Parallel : public ServerSiteTest
{
protected:
    Parallel() { connections = 4; }
    void Run(quint8 kind) { RunWithoutErrors(kind); }
    // 40 files of both modes in nested folders, a few large enough to overlap.
    void WriteTree()
    {
        const QStringList folders{"", "css/", "img/", "img/icons/", "docs/a/b/"};
        for (int i = 0; i < 40; ++i) {
            const QString folder = folders[i % folders.size()];
            if (i % 3 == 0)
                Write(folder + QString("page%1.html").arg(i),
                      QByteArray("<p>line\n").repeated(i * 50 + 1));
            else
                Write(folder + QString("file%1.bin").arg(i),
                      RandomBytes(i % 7 == 0 ? 400000 : i * 997, i));
        }
        Write("empty.gif", QByteArray());
    }
};

TEST_P(Parallel, FourSessionsUploadCompareRemoveAndDownloadAsOneWould)
{
    WriteTree();
    Run(pkUpload);
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    // Each session logged in once, each file went once and has its record.
    EXPECT_EQ(ProtocolCount(*server, "USER "), 4);
    QStringList sent = Uploaded();
    EXPECT_EQ(sent.size(), 41);
    sent.removeDuplicates();
    EXPECT_EQ(sent.size(), 41);
    EXPECT_EQ(frontEnd.LastLine(),
              "6 folder(s) have been created and 41 file(s) have been uploaded");
    for (int i = 0; i < list.Count(); ++i) {
        const TFileListItem *item = list.Items(i);
        if (item->IsFolder)
            continue;
        EXPECT_TRUE(item->Synchronous) << item->RelativeName.toStdString();
        EXPECT_EQ(project->Versions.FindOrAdd(item->RelativeName)->Date,
                  GetFileAge(item->GetLocalPath()));
    }
    // Text and binary files share folders: one mode goes first for the whole pass, so each
    // session sends TYPE at most twice.
    EXPECT_LE(ProtocolCount(*server, "TYPE "), 8);

    // The server drifts: a file gone, server-only entries nested three deep.
    QFile::remove(OnServer("img/file2.bin"));
    WriteWholeFile(OnServer("old/x/y/z.txt"), "z");
    WriteWholeFile(OnServer("old/x/w.bin"), RandomBytes(5000, 99));
    WriteWholeFile(OnServer("old/v.txt"), "v");
    WriteWholeFile(OnServer("stale.html"), "stale");

    // The compare over four sessions says what one session says; only the order in which the
    // folders were listed may differ.
    Set(*project, "Connections", "1");
    Run(pkCompare);
    const QStringList alone = frontEnd.Lines;
    Set(*project, "Connections", "4");
    Run(pkCompare);
    QStringList together = frontEnd.Lines;
    EXPECT_EQ(together.mid(together.indexOf("Server statistics")),
              alone.mid(alone.indexOf("Server statistics")));
    QStringList sortedAlone = alone;
    std::sort(sortedAlone.begin(), sortedAlone.end());
    std::sort(together.begin(), together.end());
    EXPECT_EQ(together, sortedAlone);
    EXPECT_TRUE(alone.contains("file " + site + "img/file2.bin is not exists on server"));
    EXPECT_FALSE(Sync(list, "img\\file2.bin"));

    // Removal: every folder goes after everything inside it, whichever session removed that.
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.LastLine(), "3 folder(s) and 4 file(s) have been removed");
    for (const char *gone : {"old", "stale.html"})
        EXPECT_FALSE(QFileInfo::exists(OnServer(gone))) << gone;
    Run(pkUpload);
    EXPECT_EQ(Uploaded(), QStringList{"img/file2.bin"});
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));

    // Download: folders before their files, every file byte-exact and recorded.
    const QMap<QString, QByteArray> serverOnly{{"dl/a/b/big.bin", RandomBytes(300000, 5)},
                                               {"dl/a/c.bin", RandomBytes(70000, 6)},
                                               {"dl/d.bin", RandomBytes(1, 7)},
                                               {"top.bin", RandomBytes(120000, 8)}};
    for (auto it = serverOnly.cbegin(); it != serverOnly.cend(); ++it)
        WriteWholeFile(OnServer(it.key()), it.value());
    frontEnd.Answers = {mrYesToAll};
    Run(pkDownload);
    EXPECT_EQ(frontEnd.StartingWith("4 file(s) have been downloaded"), QStringList{""});
    for (auto it = serverOnly.cbegin(); it != serverOnly.cend(); ++it)
        EXPECT_EQ(ReadWholeFile(site + it.key()), it.value()) << it.key().toStdString();
    Run(pkUpload);
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
}

TEST_P(Parallel, EveryFailureLineNamesTheEntryItIsAbout)
{
    Write("keep.txt", "keep");
    Run(pkUpload);
    // Six server-only folders, each keeping an ignored file: every RMD fails, side by side.
    QStringList folders;
    for (int i = 0; i < 6; ++i) {
        folders << QString("/old%1").arg(i);
        WriteWholeFile(OnServer(folders.last().mid(1) + "/Old Page (copy).html"), "p");
        WriteWholeFile(OnServer(folders.last().mid(1) + "/copy.bak"), "b");
    }
    frontEnd.Answers = {mrYesToAll};
    ServerSiteTest::Run(pkRemove);
    QStringList named;
    for (const QString &error : std::as_const(frontEnd.Errors))
        named << error.section(": ", 0, 0);
    named.sort();
    EXPECT_EQ(named, folders) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.LastLine(), "0 folder(s) and 6 file(s) have been removed");
    QMap<QString, QByteArray> left{{"keep.txt", "keep"}};
    for (const QString &folder : std::as_const(folders)) {
        left.insert(folder.mid(1) + "/", {});
        left.insert(folder.mid(1) + "/copy.bak", "b");
    }
    EXPECT_EQ(TreeOf(server->Root), left);
}

INSTANTIATE_TEST_SUITE_P(Servers, Parallel, ::testing::Values("pyftpdlib", "vsftpd"));

using ParallelLimits = SiteTest;

TEST_F(ParallelLimits, AServerAllowingTwoConnectionsGetsOneNoticeAndTheWholeSite)
{
    TVsftpdOptions options;
    options.MaxPerIp = 2;
    // Slow enough that the refusals come while files are still going.
    options.MaxRate = 200 * 1024;
    auto server = StartVsftpd(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get(), 4);
    for (int i = 0; i < 24; ++i)
        Write(QString("f%1/%2.bin").arg(i % 3).arg(i), RandomBytes(20000 + i, i));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(frontEnd.Lines.filter(RefusedNotice).size(), 1);
    EXPECT_EQ(frontEnd.Lines.filter(RefusedNotice).value(0),
              RefusedNotice
                  + " (There are too many connections from your internet address.): going on "
                    "with 2 connection(s)");
    EXPECT_EQ(ProtocolCount(*server, "USER "), 2);
    EXPECT_EQ(frontEnd.LastLine(),
              "3 folder(s) have been created and 24 file(s) have been uploaded");
}

// Answers its first question only after the server has dropped the idle sessions.
class TSlowToAnswer : public TTestFrontEnd
{
public:
    int DelayMs = 0;
    int Ask(const QString &text) override
    {
        Idle(std::exchange(DelayMs, 0));
        return TTestFrontEnd::Ask(text);
    }
};

TEST_F(ParallelLimits, SessionsTheServerDroppedWhileWaitingAreOpenedAgainOnce)
{
    TPyftpdlibOptions options;
    options.IdleTimeout = 1;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get(), 4);
    Write("keep.txt", "keep");
    for (const char *name : {"a/1.txt", "b/2.txt", "c/3.txt", "d/4.txt", "e/5.txt", "f/6.txt"})
        WriteWholeFile(server->LocalPath(QString("/") + name), name);

    TSlowToAnswer answers;
    answers.DelayMs = 2500;
    answers.Answers = {mrYesToAll};
    ASSERT_TRUE(answers.Run(list, pkRemove, *project));
    EXPECT_FALSE(answers.HadErrors) << answers.Errors.join('\n').toStdString();
    EXPECT_EQ(answers.LastLine(), "6 folder(s) and 6 file(s) have been removed");
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
    // The scan opened extra sessions; each was opened again once, and no more sessions came.
    const int reopened = int(answers.Lines.filter(ReopenedNotice).size());
    EXPECT_GE(reopened, 1);
    EXPECT_LE(reopened, 3);
    EXPECT_LE(ProtocolCount(*server, "USER "), 8);
}

TEST_F(ParallelLimits, AbortEndsEverySessionAtOnceAndLeavesTheUnfinishedFilesOutdated)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 64 * 1024;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get(), 4);
    // Small files first, then four that take half a minute each.
    for (int i = 0; i < 6; ++i)
        Write(QString("a%1.bin").arg(i), RandomBytes(2000, i));
    for (int i = 0; i < 4; ++i)
        Write(QString("z%1.bin").arg(i), RandomBytes(2 * 1024 * 1024, 10 + i));

    QElapsedTimer sinceAbort;
    qint64 endAfterMs = -1;
    int connectionsAtEnd = -1;
    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == "uploading " + site + "z3.bin")
            QTimer::singleShot(800, &frontEnd, [&] {
                ASSERT_NE(frontEnd.Current, nullptr);
                sinceAbort.start();
                frontEnd.Current->Abort();
            });
    };
    frontEnd.OnEnd = [&] { endAfterMs = sinceAbort.isValid() ? sinceAbort.elapsed() : -1; };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project, [&](TPublishOperator *op) {
        QObject::connect(op, &QObject::destroyed,
                         [&] { connectionsAtEnd = EstablishedTo(server->Port); });
    }));
    const qint64 goneAfterMs = sinceAbort.elapsed();
    EXPECT_TRUE(frontEnd.Aborted);
    ASSERT_GE(endAfterMs, 0);
    EXPECT_LT(endAfterMs, 500);
    EXPECT_LT(goneAfterMs, 1000);
    RecordProperty("EndAfterMs", int(endAfterMs));
    // When the operator is gone, no session is left connected.
    EXPECT_EQ(connectionsAtEnd, 0);
    EXPECT_TRUE(frontEnd.Errors.isEmpty()) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);

    // Exactly the files that arrived whole are in step.
    for (int i = 0; i < list.Count(); ++i) {
        const TFileListItem *item = list.Items(i);
        if (!item->IsFolder) {
            EXPECT_EQ(item->Synchronous, item->RelativeName.startsWith('a'))
                << item->RelativeName.toStdString();
        }
    }
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 6);
    TTestFrontEnd::Idle(500);
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
}

TEST_F(ParallelLimits, RecordsReachTheProjectFileEveryFewSecondsSoAKilledRunSendsOnlyTheRest)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 32 * 1024;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get(), 4);
    // Plain STOR: a file cut off keeps its own name on the server, and the next run replaces it.
    Set(*project, "SafeUpload", "0");
    // About two seconds a file (the server lets a transfer's first 64 KB pass at once).
    for (int i = 0; i < 12; ++i)
        Write(QString("d%1/%2.bin").arg(i % 3).arg(i), RandomBytes(96 * 1024, i));
    for (const QString &file : TreeOf(site).keys())
        SetFileAge(site + file, 60);
    project->FileName = dir.path() + "/site.zdx";
    project->Save(false);
    frontEnd.SaveRecordsAsItGoes = true;

    // A kill leaves the project file as it is on disk: taken once it holds a file's record, when
    // the next file starts, and the run is aborted there.
    QByteArray onDisk;
    QElapsedTimer running;
    running.start();
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
        for (int i = 0; i < saved.Versions.Count(); ++i) {
            if (saved.Versions.Items(i)->Date > 1) {
                onDisk = bytes;
                frontEnd.Current->Abort();
                return;
            }
        }
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    ASSERT_FALSE(onDisk.isEmpty()) << "no record reached the project file";
    EXPECT_TRUE(frontEnd.Aborted);
    EXPECT_TRUE(frontEnd.Errors.isEmpty()) << frontEnd.Errors.join('\n').toStdString();
    // Every few seconds, not more often.
    EXPECT_GE(frontEnd.RecordSaves, 1);
    EXPECT_LE(frontEnd.RecordSaves, running.elapsed() / 3000 + 1);

    WriteWholeFile(project->FileName, onDisk);
    TProject resumed;
    resumed.Load(project->FileName);
    EXPECT_EQ(resumed.Nodes("Host")->AsString(), server->Host);
    const int recorded = RecordsMatchServer(resumed, site, *server);
    EXPECT_GE(recorded, 1);
    EXPECT_LT(recorded, 12);
    QSet<QString> rest;
    for (int i = 0; i < 12; ++i) {
        const QString relative = QString("d%1/%2.bin").arg(i % 3).arg(i);
        if (resumed.Versions.FindOrAdd(QString(relative).replace('/', '\\'))->Date <= 1)
            rest.insert(relative);
    }
    resumed.SetPassword(server->Password);
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

TEST_F(ParallelLimits, OverTlsTheUserTrustsTheCertificateOnceAndEverySessionIsProtected)
{
    TVsftpdOptions options;
    options.Tls = true;
    auto server = StartVsftpd(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get(), 4);
    Set(*project, "Encryption", "require");
    for (int i = 0; i < 12; ++i)
        Write(QString("d%1/%2.bin").arg(i % 2).arg(i), RandomBytes(30000 + i, i));

    // Not trusted: the operation ends at the login, nothing changes.
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    ASSERT_EQ(frontEnd.Certificates.size(), 1);
    EXPECT_EQ(frontEnd.Certificates[0].Fingerprint, server->CertificateFingerprint);
    ASSERT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("The server's certificate is not trusted"));
    EXPECT_EQ(ProtocolCount(*server, "USER "), 0);
    EXPECT_TRUE(project->Nodes("TrustedCertificate")->AsString().isEmpty());

    frontEnd.TrustThem = true;
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.Certificates.size(), 2);
    EXPECT_EQ(project->Nodes("TrustedCertificate")->AsString(), server->CertificateFingerprint);
    EXPECT_TRUE(frontEnd.Lines.contains("the certificate with the SHA-256 fingerprint "
                                        + server->CertificateFingerprint
                                        + " is trusted for this project"));
    EXPECT_EQ(frontEnd.Lines.filter(QRegularExpression("^connected with TLS 1\\.[23]$")).size(), 1);
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    // Every session protected its login and its files: PROT once each. vsftpd's session
    // processes write their log lines on their own time, so the count may lag the operation.
    const auto everySessionProtected = [&] {
        const int users = ProtocolCount(*server, "USER ");
        return users >= 2 && ProtocolCount(*server, "PROT P") == users;
    };
    for (int wait = 0; wait < 50 && !everySessionProtected(); ++wait)
        TTestFrontEnd::Idle(100);
    EXPECT_TRUE(everySessionProtected()) << server->ProtocolLog().join('\n').toStdString();

    // Trusted from now on: no more questions.
    Write("d0/new.bin", "new");
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Certificates.size(), 2);
}
