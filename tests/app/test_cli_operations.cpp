// zandrel-cli operations against a real pyftpdlib server on loopback: upload, compare, remove,
// download, password sources, exit statuses, saved records and the publish log.
#include "tests/app/CliTestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>

namespace {

class CliOperationsTest : public CliTestBase
{
protected:
    static void EnableLog(const QString &projectFile)
    {
        TProject project;
        project.Load(projectFile);
        project.Nodes(u"SaveLog"_s)->SetAsBoolean(true);
        project.Save(false);
    }
    static QByteArray LogOf(const QString &projectFile)
    {
        return ReadWholeFile(projectFile.chopped(4) + u".log"_s);
    }
};

TEST_F(CliOperationsTest, UploadSendsTheSiteOnceThenOnlyWhatChanged)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    EnableLog(project);

    const TCliResult first = RunCli({u"upload"_s, project});
    ASSERT_EQ(first.ExitCode, 0) << first.Out.toStdString() << first.Err.toStdString();
    EXPECT_TRUE(first.Err.isEmpty()) << first.Err.toStdString(); // no progress line either
    const QStringList lines = first.Lines();
    EXPECT_TRUE(lines.first().startsWith(u"Upload from "_s + m_site));
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{u"3 folder(s) have been created and 4 file(s) have been uploaded"_s,
                           u"Operation was successfully completed"_s,
                           u"0 of 4 files need uploading (1 items are ignored)"_s}));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
    EXPECT_EQ(ReadWholeFile(server->Root + u"/img/logo.png"_s),
              ReadWholeFile(m_site + u"/img/logo.png"_s));

    // The records reached the project file: folders known (1), files with their DOS times.
    const QByteArray saved = ReadWholeFile(project);
    QMap<QString, qint64> records;
    for (const QByteArray &line : saved.mid(saved.indexOf("<!-- versions -->") + 17).split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() == 2)
            records.insert(QString::fromUtf8(parts.at(1)), parts.at(0).toLongLong());
    }
    EXPECT_EQ(records.value(u"img\\"_s), 1);
    EXPECT_EQ(records.value(u"empty\\"_s), 1);
    for (const char *file : {"index.html", "style.css", "img\\logo.png", "sub\\page.html"})
        EXPECT_GT(records.value(QString::fromLatin1(file)), 1) << file;

    // Nothing changed: no connection at all.
    const qsizetype commandsBefore = server->ProtocolLog().size();
    const TCliResult second = RunCli({u"upload"_s, project});
    EXPECT_EQ(second.ExitCode, 0) << second.Err.toStdString();
    EXPECT_TRUE(second.Lines().contains(u"No files for uploading"_s));
    EXPECT_TRUE(second.Lines().contains(u"Operation was successfully completed"_s));
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);

    // One changed file: exactly that one is sent (a new project uploads safely, under a
    // temporary name).
    WriteWholeFile(m_site + u"/style.css"_s, "body { margin: 1em }\n");
    SetFileTime(m_site + u"/style.css"_s, 10);
    EXPECT_EQ(RunCli({u"upload"_s, project}).ExitCode, 0);
    const QStringList stored = server->ProtocolLog().mid(commandsBefore).filter(u"STOR "_s);
    EXPECT_EQ(stored, QStringList{u"STOR /style.css_safeupload"_s});
    EXPECT_EQ(ReadWholeFile(server->Root + u"/style.css"_s), "body { margin: 1em }\n");

    // One block in the publish log per upload, the one without changes included.
    const QByteArray log = LogOf(project);
    EXPECT_EQ(log.count("\r\nStart: "), 3) << log.toStdString();
    EXPECT_TRUE(log.contains("No files for uploading"));
}

TEST_F(CliOperationsTest, CompareMarksWhatTheServerLacksAndRefreshListsIt)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    ASSERT_EQ(RunCli({u"upload"_s, project}).ExitCode, 0);
    ASSERT_TRUE(QFile::remove(server->Root + u"/sub/page.html"_s));

    const TCliResult compare = RunCli({u"compare"_s, project});
    EXPECT_EQ(compare.ExitCode, 0) << compare.Err.toStdString();
    EXPECT_TRUE(
        compare.Lines().contains(u"file "_s + m_site + u"/sub/page.html is not exists on server"_s))
        << compare.Out.toStdString();
    EXPECT_TRUE(compare.Lines().contains(u"Operation was successfully completed"_s));
    EXPECT_TRUE(compare.Last().startsWith(u"1 of 4 files ("_s)) << compare.Last().toStdString();
    EXPECT_EQ(RunCli({u"refresh"_s, u"--list"_s, project}).Last(), u"sub\\page.html"_s);
}

TEST_F(CliOperationsTest, RemoveAndDownloadFollowTheirAnswersAndRefuseWithoutATerminal)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server);
    ASSERT_EQ(RunCli({u"upload"_s, project}).ExitCode, 0);
    WriteWholeFile(server->Root + u"/extra.txt"_s, "extra");
    WriteWholeFile(server->Root + u"/olddir/x.txt"_s, "x");
    const QStringList serverTree = TreeOf(server->Root);

    // No terminal to ask on and no answer given: refused before connecting.
    const qsizetype commandsBefore = server->ProtocolLog().size();
    for (const QString &command : {u"remove"_s, u"download"_s}) {
        const TCliResult refused = RunCli({command, project});
        EXPECT_EQ(refused.ExitCode, 2);
        EXPECT_TRUE(refused.Err.contains(u"--yes-to-all"_s)) << refused.Err.toStdString();
    }
    EXPECT_EQ(server->ProtocolLog().size(), commandsBefore);

    const TCliResult keep = RunCli({u"remove"_s, u"--no-to-all"_s, project});
    EXPECT_EQ(keep.ExitCode, 0) << keep.Err.toStdString();
    EXPECT_TRUE(keep.Lines().contains(u"0 folder(s) and 0 file(s) have been removed"_s));
    EXPECT_EQ(TreeOf(server->Root), serverTree);

    const TCliResult download = RunCli({u"download"_s, u"--yes-to-all"_s, project});
    EXPECT_EQ(download.ExitCode, 0) << download.Err.toStdString();
    EXPECT_TRUE(download.Lines().contains(u"2 file(s) have been downloaded"_s));
    EXPECT_EQ(ReadWholeFile(m_site + u"/olddir/x.txt"_s), "x");
    EXPECT_EQ(ReadWholeFile(m_site + u"/extra.txt"_s), "extra");
    EXPECT_EQ(download.Last(), u"0 of 6 files need uploading (1 items are ignored)"_s);

    ASSERT_TRUE(QFile::remove(m_site + u"/extra.txt"_s));
    ASSERT_TRUE(QDir(m_site + u"/olddir"_s).removeRecursively());
    const TCliResult remove = RunCli({u"remove"_s, u"--yes-to-all"_s, project});
    EXPECT_EQ(remove.ExitCode, 0) << remove.Err.toStdString();
    EXPECT_TRUE(remove.Lines().contains(u"1 folder(s) and 2 file(s) have been removed"_s));
    EXPECT_EQ(TreeOf(server->Root), SiteTree());
}

TEST_F(CliOperationsTest, PasswordComesFromTheFileTheEnvironmentOrNowhere)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    const QString project = NewProject(*server, false);

    const TCliResult none = RunCli({u"upload"_s, project});
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_TRUE(none.Err.contains(u"ZANDREL_PASSWORD"_s)) << none.Err.toStdString();
    EXPECT_TRUE(server->ProtocolLog().isEmpty());

    const TCliResult wrong = RunCli({u"upload"_s, project}, {{u"ZANDREL_PASSWORD"_s, u"wrong"_s}});
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_TRUE(wrong.Err.endsWith(u"Operation was completed with errors\n"_s));
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());

    const TCliResult env
        = RunCli({u"upload"_s, project}, {{u"ZANDREL_PASSWORD"_s, server->Password}});
    EXPECT_EQ(env.ExitCode, 0) << env.Err.toStdString();
    EXPECT_EQ(TreeOf(server->Root), SiteTree());

    // The file comes before the environment.
    SetFileTime(m_site + u"/index.html"_s, 5);
    const TCliResult file
        = RunCli({u"upload"_s, u"--password-file"_s, WritePasswordFile(server->Password), project},
                 {{u"ZANDREL_PASSWORD"_s, u"wrong"_s}});
    EXPECT_EQ(file.ExitCode, 0) << file.Err.toStdString();
    EXPECT_TRUE(
        file.Lines().contains(u"0 folder(s) have been created and 1 file(s) have been uploaded"_s));
}

TEST_F(CliOperationsTest, AFileTheServerRefusesEndsWithStatusOne)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    // A plain file where the site has a folder: neither the folder nor its page can be made.
    WriteWholeFile(server->Root + u"/sub"_s, "not a folder");
    const QString project = NewProject(*server);

    const TCliResult result = RunCli({u"upload"_s, project});
    EXPECT_EQ(result.ExitCode, 1) << result.Out.toStdString();
    EXPECT_TRUE(result.Err.endsWith(u"Operation was completed with errors\n"_s))
        << result.Err.toStdString();
    EXPECT_FALSE(result.Out.contains(u"successfully"_s));
    EXPECT_EQ(ReadWholeFile(server->Root + u"/index.html"_s),
              ReadWholeFile(m_site + u"/index.html"_s));
    EXPECT_TRUE(result.Last().startsWith(u"1 of 4 files ("_s));
    EXPECT_EQ(RunCli({u"refresh"_s, u"--list"_s, project}).Last(), u"sub\\page.html"_s);
}

TEST_F(CliOperationsTest, InterruptAbortsAThrottledUploadWithStatusThree)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 64 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(m_site + u"/big.bin"_s, QByteArray(4 * 1024 * 1024, 'z'));
    const QString project = NewProject(*server);
    EnableLog(project);

    QProcess process;
    process.setProcessEnvironment(CliEnvironment());
    process.start(CliProgram(), {u"upload"_s, project});
    process.closeWriteChannel();
    QByteArray out;
    QElapsedTimer waiting;
    waiting.start();
    while (!out.contains("big.bin") && waiting.elapsed() < 30000
           && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(200);
        out += process.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("big.bin")) << out.toStdString();
    QThread::msleep(300); // well inside the 64-second transfer

    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_LT(sinceSignal.elapsed(), 3000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 3);
    EXPECT_TRUE(process.readAllStandardError().contains("Operation was aborted by user"));

    // The file still needs upload, and the log was written on the way out.
    EXPECT_TRUE(RunCli({u"refresh"_s, u"--list"_s, project}).Lines().contains(u"big.bin"_s));
    EXPECT_TRUE(LogOf(project).contains("big.bin"));
}

} // namespace
