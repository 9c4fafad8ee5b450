// Every publishing operation against pyftpdlib (MLSD), vsftpd (LIST), OpenSSH's sshd and the
// scripted SFTP server, and faulty servers.
#include "tests/engine/EngineTestSupport.h"

#include <QThread>

static QSet<QString> SetOf(const QStringList &list)
{
    return {list.begin(), list.end()};
}

class Publish : public SiteTest, public ::testing::WithParamInterface<const char *>
{
protected:
    void SetUp() override { Serve(GetParam()); }
};

TEST_P(Publish, UploadMirrorsTheSiteThenSendsOnlyWhatChanged)
{
    Write("index.html", "<html>\n<body>hello</body>\n</html>\n");
    Write("img/logo.gif", RandomBytes(50000, 1));
    Write("img/empty.gif", QByteArray());
    Write("docs/deep/read m\u00e9.txt", "read me\n");
    const QStringList ignored{"old.bak", "docs/skip.bak", ".hidden"};
    for (const QString &name : ignored)
        Write(name, "ignored");
    QDir().mkpath(site + "emptyfolder");
    Set(*project, "SaveLog", "1");
    Set(*project, "LogFile", dir.path() + "/publish.log");
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site, ignored));
    EXPECT_EQ(frontEnd.StartingWith("creating of the folder "),
              QStringList({"/docs/", "/emptyfolder/", "/img/", "/docs/deep/"}));
    EXPECT_EQ(frontEnd.LastLine(),
              "4 folder(s) have been created and 4 file(s) have been uploaded");
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 4);
    EXPECT_EQ(project->Versions.FindOrAdd("docs\\deep\\")->Date, 1);
    // A new project on a server without TLS: a notice, no question, nothing expected later.
    EXPECT_NE(frontEnd.Lines.contains("the connection is not encrypted: the server offers no "
                                      "TLS, so the password went in clear"),
              Sftp());
    EXPECT_TRUE(frontEnd.PlainQuestions.isEmpty());
    EXPECT_LT(project->IndexOf("TlsOffered"), 0);

    Upload(); // nothing changed: no connection at all
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
    EXPECT_EQ(frontEnd.FtpStats.Connections, 0);

    // Older times, new folders, and a folder removed behind our back (made again).
    Write("img/logo.gif", RandomBytes(40000, 2));
    Write("docs/deep/read m\u00e9.txt", "read me again\n");
    SetFileAge(site + "img/logo.gif", 7200);
    SetFileAge(site + "docs/deep/read m\u00e9.txt", 600);
    QDir(OnServer("docs/deep")).removeRecursively();
    QDir().mkpath(site + "docs/new");
    Upload();
    EXPECT_EQ(SetOf(Uploaded()), SetOf({"docs/deep/read m\u00e9.txt", "img/logo.gif"}));
    EXPECT_EQ(SetOf(frontEnd.StartingWith("creating of the folder ")),
              SetOf({"/docs/deep/", "/docs/new/"}));
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site, ignored));
    EXPECT_EQ(ReadWholeFile(dir.path() + "/publish.log").count("\r\nStart: "), 3);

    // The local folder is gone: every operation refuses before connecting, records kept.
    const QString records = project->Versions.SaveToText();
    QDir().rename(site, dir.path() + "/moved/");
    frontEnd.Answers = {mrYesToAll};
    for (quint8 kind : {pkRefresh, pkCompare, pkUpload, pkRemove, pkDownload}) {
        Run(kind);
        EXPECT_EQ(frontEnd.Errors, QStringList{"The local folder " + site + " does not exist"});
        EXPECT_EQ(frontEnd.FtpStats.Connections, 0) << int(kind);
    }
    EXPECT_EQ(project->Versions.SaveToText(), records);
    EXPECT_TRUE(QFileInfo::exists(OnServer("docs/deep/read m\u00e9.txt")));
}

TEST_P(Publish, SafeUploadRenamesAWholeCopyOverTheLiveFile)
{
    Set(*project, "SetPermission", "1");
    Write("big.bin", RandomBytes(30000, 3));
    Write("zero.bin", QByteArray());
    Write("cgi/a.pl", "#!/usr/bin/perl\nprint \"Content-type: text/plain\\n\\n\";\n");
    // The name a safe upload of the page would take first is a file of the site.
    Write(SafeUploadTemporaryName("page.html", site), "a file of the site\n");
    Write("page.html", "the page\n");
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    // Every file but the empty one goes through a temporary name renamed over the live one
    // (sshd keeps no log of the requests here).
    const QStringList log = server->ProtocolLog();
    const bool logged = !server->CommandLog.isEmpty();
    const QString temporary = "/" + SafeUploadTemporaryName("big.bin", site);
    EXPECT_TRUE(IsSafeUploadTemporary(temporary.mid(1)));
    const qsizetype stor = log.indexOf("STOR " + temporary);
    ASSERT_TRUE(stor >= 0 || !logged) << log.join('\n').toStdString();
    if (logged) {
        EXPECT_GT(log.indexOf("RNFR " + temporary), stor);
        EXPECT_EQ(log.indexOf("RNTO /big.bin"), log.indexOf("RNFR " + temporary) + 1);
        EXPECT_FALSE(log.contains("STOR /big.bin"));
        EXPECT_TRUE(log.contains("STOR /zero.bin"));
        EXPECT_EQ(log.filter("SITE CHMOD"), QStringList{"SITE CHMOD 755 /cgi/a.pl"}); // "*.pl"
    }
    EXPECT_TRUE(QFileInfo(OnServer("cgi/a.pl")).permissions() & QFile::ExeOther);

    // Live files are replaced, never deleted; the site's file with the temporary name stays.
    Write("big.bin", RandomBytes(20000, 4));
    Write("page.html", "the page, edited\n");
    for (const char *name : {"page.html", "big.bin"})
        SetFileAge(site + name, 600);
    Upload();
    EXPECT_EQ(Uploaded().size(), 2);
    EXPECT_EQ(CommandCount("DELE "), 0);
    EXPECT_EQ(CommandCount("RNTO /big.bin"), logged ? 2 : 0);
    RunClean(pkCompare);
    EXPECT_TRUE(frontEnd.Lines.contains("    All files are uploaded")) << frontEnd.Dump();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

TEST_P(Publish, CompareMarksMissingAndResizedFiles)
{
    Set(*project, "CheckSize", "1");
    Write("a.html", QByteArray(100, 'a'));
    for (const char *name : {"b.gif", "c.gif", "d/e.gif"})
        Write(name, RandomBytes(500, 6));
    Upload();
    // The server changes behind our back; sizes of text files are not compared.
    QFile::remove(OnServer("c.gif"));
    WriteWholeFile(OnServer("b.gif"), RandomBytes(507, 6));
    WriteWholeFile(OnServer("a.html"), QByteArray(105, 'a'));
    WriteWholeFile(OnServer("extra.txt"), QByteArray(10, 'x'));
    WriteWholeFile(OnServer("ignored.bak"), "ignored on the server too");
    QDir().mkpath(OnServer("xdir"));
    RunClean(pkCompare);
    for (const QString &line : QStringList{
             "files \"" + site + "b.gif\" and \"/b.gif\" have different size",
             "file " + site + "c.gif is not exists on server",
             "    1 folders exists on the server but does not exist in the local system",
             "    1 files (10 byte) exists on the server but does not exist in the local system",
             "    2 files (" + FormatSize(1000) + ") need uploading"})
        EXPECT_TRUE(frontEnd.Lines.contains(line)) << line.toStdString() << "\n" << frontEnd.Dump();
    EXPECT_FALSE(Sync(list, "b.gif") || Sync(list, "c.gif") || Sync(list, ""));
    EXPECT_TRUE(Sync(list, "a.html") && Sync(list, "d\\e.gif"));
    Upload();
    EXPECT_EQ(Uploaded(), QStringList({"b.gif", "c.gif"}));
}

TEST_P(Publish, AFolderTheServerRefusesKeepsNeedingUpload)
{
    Write("index.html", "home\n");
    Write("blocked/page.html", "inside\n");
    WriteWholeFile(OnServer("blocked"), "a file"); // neither entering nor creating it can work
    Run(pkUpload);
    ASSERT_EQ(frontEnd.Errors.size(), 2);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("/blocked/: ")) << frontEnd.ErrorDump();
    EXPECT_TRUE(frontEnd.Errors[1].startsWith(site + "blocked/page.html: "));
    EXPECT_EQ(project->Versions.FindOrAdd("blocked\\")->Date, 0);
    EXPECT_FALSE(Sync(list, "blocked\\") || Sync(list, "blocked\\page.html"));
    EXPECT_TRUE(Sync(list, "index.html"));
    QFile::remove(OnServer("blocked"));
    Upload(); // the folder is tried again
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

TEST_P(Publish, AFolderLinkWhoseTargetVanishedIsAnErrorAndItsServerCopiesStay)
{
    const QString drive = dir.path() + "/drive", away = dir.path() + "/unmounted";
    WriteWholeFile(drive + "/deep/pic.bin", RandomBytes(3000, 1));
    ASSERT_TRUE(QFile::link(drive, site + "media"));
    Write("index.html", "home\n");
    Upload();
    const auto expected = TreeOf(server->Root), siteNow = TreeOf(site);
    ASSERT_EQ(expected.value("media/deep/pic.bin"), RandomBytes(3000, 1));
    ASSERT_TRUE(QDir().rename(drive, away));
    Run(pkUpload);
    EXPECT_EQ(frontEnd.Errors,
              QStringList{"the link " + site + "media (to " + drive
                          + ") cannot be read: No such file or directory; nothing below it on "
                            "the server is removed or downloaded"});
    for (const quint8 kind : {pkCompare, pkRemove, pkDownload}) {
        frontEnd.Answers = {mrYesToAll};
        Run(kind);
        EXPECT_TRUE(frontEnd.Questions.isEmpty()) << frontEnd.Questions.join('\n').toStdString();
        EXPECT_TRUE(frontEnd.Lines.contains(
            "the server's entries below /media are left alone: " + site + "media cannot be read"));
        EXPECT_EQ(TreeOf(server->Root), expected) << int(kind);
        EXPECT_EQ(TreeOf(site).keys(), QStringList({"index.html", "media"})) << int(kind);
    }
    ASSERT_TRUE(QDir().rename(away, drive));
    Upload();
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
}

// A file of the current two-second slot goes at once and its record waits for the slot: one
// rewritten meanwhile goes again, so an edit in the same slot is never missed.
TEST_P(Publish, AFileOfTheCurrentTwoSecondsGoesAtOnceAndAnEditMeanwhileIsNeverMissed)
{
    // Start at the beginning of a two-second slot, so the edit below falls into it as well.
    while (DateTimeToFileDate(QDateTime::currentDateTime())
               == DateTimeToFileDate(QDateTime::currentDateTime().addMSecs(-100))
           || QTime::currentTime().msec() > 200)
        QThread::msleep(10);
    Write("page.html", "first\n");
    Write("same.html", "same\n");
    bool rewritten = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!rewritten && ReadWholeFile(OnServer("page.html")) == "first\n")
            Write("page.html", "second\n"), rewritten = true;
    });
    poll.start(5);
    Upload();
    EXPECT_TRUE(rewritten);
    EXPECT_EQ(ReadWholeFile(OnServer("page.html")), "second\n");
    EXPECT_EQ(Uploaded().count("page.html"), 2) << frontEnd.Dump();
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 2);
    EXPECT_TRUE(Sync(list, "page.html") && Sync(list, "same.html"));
}

// The content records: a rebuild or another time zone sends nothing, a rewrite in the slot of
// the recorded time is sent, and a project without them works as before and gains them.
TEST_P(Publish, WhatIsSentFollowsTheContentWhateverTheTimes)
{
    const qint64 t = QDateTime::currentSecsSinceEpoch() / 2 * 2 - 7200; // a slot's first second
    const auto stamp = [&](const char *name, const QByteArray &data, qint64 time, long ns) {
        Write(name, data);
        const timespec times[2] = {{time_t(time), ns}, {time_t(time), ns}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(site + name).constData(), times, 0), 0);
    };
    const auto reload = [&](bool dropContent) {
        project->Save(false);
        if (dropContent)
            QFile::remove(project->ContentFileName());
        project->Load(project->FileName);
        project->SetPassword(server->Password);
    };
    const char *names[] = {"a.html", "b.html", "sub/c.css"};
    for (const char *name : names)
        stamp(name, name, t, 0);
    project->FileName = dir.path() + "/site.zdx";
    Upload();
    // A rebuild writes every file again and changes one, keeping its size.
    for (const char *name : names)
        stamp(name, name == QString("b.html") ? "B.HTML" : name, t + 600, 0);
    Run(pkRefresh);
    EXPECT_TRUE(Sync(list, "a.html") && !Sync(list, "b.html"));
    Upload();
    EXPECT_EQ(Uploaded(), QStringList{"b.html"});
    EXPECT_TRUE(frontEnd.Lines.contains("2 file(s) have been brought up to date without upload"));
    reload(false);
    Upload();
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
    stamp("a.html", "A.HTML", t + 600, 500000000); // `cp -p` over it, within the same slot
    Upload();
    EXPECT_EQ(Uploaded(), QStringList{"a.html"});
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    ::tzset();
    Upload();
    EXPECT_EQ(frontEnd.Lines.mid(frontEnd.Lines.size() - 2),
              QStringList({"3 file(s) have been brought up to date without upload",
                           "No files for uploading"}));
    // Without the companion the times decide, as before.
    reload(true);
    stamp("sub/c.css", "sub/c.css", t + 1200, 0);
    Upload();
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
    EXPECT_EQ(Uploaded(), QStringList{"sub/c.css"});
    project->Save(false);
    EXPECT_TRUE(ReadWholeFile(project->ContentFileName()).endsWith(" sub\\c.css\n"));
}

// With the guard on, a file changed on the server since its upload (size or time) is replaced
// only on Yes: on No it stays there and still needs upload. Unchanged ones go unasked, every
// upload takes the stamps anew, and with the guard off nothing is asked.
TEST_P(Publish, AFileChangedOnTheServerIsReplacedOnlyWhenTheUserSaysSo)
{
    Set(*project, "ProtectServerChanges", "1");
    // Each version older than a slot, so no upload waits for its records to settle.
    int edits = 0;
    const auto Write = [&](const QString &name, const QByteArray &data) {
        SiteTest::Write(name, data);
        SetFileAge(site + name, 600 - 10 * ++edits);
    };
    for (const char *name : {"a.html", "sub/b.html", "sub/c.html"})
        Write(name, "first");
    Upload();
    WriteWholeFile(OnServer("a.html"), "edited on the server");
    SetFileAge(OnServer("sub/b.html"), 7200);
    for (const char *name : {"a.html", "sub/b.html", "sub/c.html"})
        Write(name, "second");
    frontEnd.Answers = {mrNo, mrYes};
    Run(pkUpload);
    ASSERT_EQ(frontEnd.Questions.size(), 2) << frontEnd.Questions.join('\n').toStdString();
    EXPECT_TRUE(frontEnd.Questions[0].startsWith("The file \"/a.html\" has been changed on the "
                                                 "server since its last upload (its size is 20 "
                                                 "bytes, was 5"));
    EXPECT_TRUE(frontEnd.Questions[1].contains("\"/sub/b.html\"")
                && frontEnd.Questions[1].contains("its time is "));
    ASSERT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("the file /a.html has not been replaced: it has "
                                              "been changed on the server since its last upload"));
    EXPECT_EQ(ReadWholeFile(OnServer("a.html")), "edited on the server");
    EXPECT_FALSE(Sync(list, "a.html"));
    EXPECT_EQ(SetOf(Uploaded()), SetOf({"sub/b.html", "sub/c.html"}));
    EXPECT_EQ(ReadWholeFile(OnServer("sub/b.html")), "second");

    WriteWholeFile(OnServer("sub/c.html"), "edited there");
    Write("sub/c.html", "third");
    frontEnd.Answers = {mrYes, mrYes};
    Run(pkUpload);
    EXPECT_TRUE(frontEnd.Questions.value(1).contains("\"/sub/c.html\""));
    EXPECT_EQ(ReadWholeFile(OnServer("sub/c.html")), "third");
    // A folder that cannot be listed: the user says.
    QDir(OnServer("sub")).removeRecursively();
    Write("sub/b.html", "fifth");
    frontEnd.Answers = {mrYes};
    Run(pkUpload);
    EXPECT_TRUE(frontEnd.Questions.value(0).startsWith("Whether the file \"/sub/b.html\" has"));
    EXPECT_EQ(ReadWholeFile(OnServer("sub/b.html")), "fifth");
    Set(*project, "ProtectServerChanges", "0");
    WriteWholeFile(OnServer("a.html"), "edited again");
    Write("a.html", "fourth");
    Upload();
    EXPECT_TRUE(frontEnd.Questions.isEmpty());
    EXPECT_EQ(ReadWholeFile(OnServer("a.html")), "fourth");
}

// With several connections the others log in while the first makes the folders.
TEST_P(Publish, FoldersGoInRunsBesideTheOtherSessionsLogins)
{
    Set(*project, "Connections", "4");
    for (int i = 0; i < 60; ++i)
        Write(QString("f%1/g/a.txt").arg(i), "a");
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 60);
    // Each session logged in, none refused (and FTP opened one data connection a file).
    EXPECT_EQ(frontEnd.FtpStats.Connections, Sftp() ? 4 : 4 + 60);
    if (server->CommandLog.isEmpty())
        return; // sshd keeps no log of the requests here
    // Each folder is made once, a parent before its subfolder, whichever session makes it.
    QStringList made = Commands().filter(QRegularExpression("^MKD "));
    EXPECT_EQ(made.size(), 120);
    EXPECT_EQ(made.removeDuplicates(), 0);
    for (int i = 0; i < 60; ++i) {
        const auto at = [&](const QString &tail) {
            return made.indexOf(QRegularExpression("MKD .*/f" + QString::number(i) + tail + "/"));
        };
        EXPECT_GE(at(""), 0);
        EXPECT_LT(at(""), at("/g"));
    }
}

// Server-only entries /only/a.txt, /only/b.txt and /z.txt besides the uploaded keep.txt.
class ServerOnly : public Publish
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Publish::SetUp());
        Write("keep.txt", "keep");
        Upload();
        WriteWholeFile(OnServer("only/a.txt"), "aaaa");
        WriteWholeFile(OnServer("only/b.txt"), "bbbbbb");
        WriteWholeFile(OnServer("z.txt"), "zz");
    }
    void TearDown() override
    {
        if (server) // Qt cannot remove a name that is not UTF-8
            ::unlink(QFile::encodeName(server->Root) + "/bad\xfe.txt");
    }
    static QString Question(const QString &kind, const QString &name, const QString &action)
    {
        return "The " + kind + " \"" + name
               + "\" exists on the server but does not exist in the local system. Do you want to "
               + action + "?";
    }
    bool OnServerNow(const QString &name) const { return QFileInfo::exists(OnServer(name)); }
    // Names no operation may act on (pyftpdlib lists bytes that are not UTF-8 as "?").
    void WriteHostileNames()
    {
        WriteWholeFile(OnServer("we\\ird.txt"), "w");
        QByteArrayList names{"/cr\r.txt", "/odd\rdir/inside.txt", "/lf\n.txt"};
        if (QString(GetParam()) == "vsftpd")
            names << "/bad\xfe.txt";
        for (const QByteArray &name : std::as_const(names))
            EXPECT_TRUE(WriteRawName(QFile::encodeName(server->Root) + name, "x"));
    }
    void ExpectHostileNamesSkipped()
    {
        EXPECT_EQ(frontEnd.Errors, QStringList{"file /we\\ird.txt has been skipped: unsafe name"});
        const QStringList skipped = frontEnd.StartingWith("the server's entry ");
        EXPECT_EQ(skipped.size(), QString(GetParam()) == "vsftpd" ? 4 : 3) << frontEnd.Dump();
        for (const char *shown : {"/cr\\r.txt", "/odd\\rdir", "/lf\\n.txt"})
            EXPECT_TRUE(skipped.contains(
                shown + QString(" has been skipped: its name cannot be sent back to the server")))
                << shown;
    }
};

TEST_P(ServerOnly, RemoveFollowsTheAnswersAndSkipsUnsafeNames)
{
    Run(pkRemove); // Cancel
    EXPECT_TRUE(frontEnd.Aborted && frontEnd.Questions.size() == 1);
    EXPECT_EQ(TreeOf(server->Root).size(), 5);

    // Last to first: the folder's contents come before the folder and the top-level file.
    frontEnd.Answers = {mrNo, mrYes, mrNoToAll};
    Run(pkRemove);
    ASSERT_EQ(frontEnd.Questions.size(), 3);
    const QString first = frontEnd.Questions[0].section('"', 1, 1);
    const QString second = frontEnd.Questions[1].section('"', 1, 1);
    EXPECT_TRUE(first.startsWith("/only/") && second.startsWith("/only/") && first != second);
    EXPECT_EQ(frontEnd.Questions[0], Question("file", first, "remove it from server"));
    EXPECT_EQ(frontEnd.StartingWith("remove "), QStringList{second});
    EXPECT_TRUE(OnServerNow(first) && !OnServerNow(second) && OnServerNow("z.txt"));

    WriteHostileNames();
    auto left = TreeOf(server->Root);
    for (const QString &gone : {QString("only/"), first.mid(1), QString("z.txt")})
        left.remove(gone);
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    ExpectHostileNamesSkipped();
    EXPECT_EQ(TreeOf(server->Root), left);
    const QStringList removals = frontEnd.StartingWith("remove ");
    EXPECT_GT(removals.indexOf("of the folder /only"), removals.indexOf(first));
    EXPECT_EQ(frontEnd.LastLine(), "1 folder(s) and 2 file(s) have been removed");
}

TEST_P(ServerOnly, DownloadFollowsTheAnswersAndSkipsUnsafeNamesAndTemporaries)
{
    WriteHostileNames();
    const auto before = TreeOf(server->Root);
    // Leftovers of cut-off safe uploads are removed, never downloaded.
    const QString stale = "zandrel-upload-0123456789abcdef.tmp";
    for (const QString &name : {stale, "only/" + stale})
        WriteWholeFile(OnServer(name), "part of a file");
    frontEnd.Answers = {mrYes, mrYes, mrYes, mrYes, mrYes};
    Run(pkDownload);
    ExpectHostileNamesSkipped();
    EXPECT_TRUE(frontEnd.Questions.filter("zandrel-upload-").isEmpty());
    EXPECT_EQ(TreeOf(server->Root), before);
    // The folder is asked for after its files.
    EXPECT_GT(
        frontEnd.Questions.indexOf(Question("folder", "/only", "create it in local system")),
        frontEnd.Questions.indexOf(Question("file", "/only/a.txt", "download it from server")));
    EXPECT_EQ(TreeOf(site).keys(),
              QStringList({"keep.txt", "only/", "only/a.txt", "only/b.txt", "z.txt"}));
    EXPECT_EQ(ReadWholeFile(site + "only/b.txt"), "bbbbbb");
    EXPECT_EQ(frontEnd.FillViews, 1);
    for (const char *name : {"only\\", "only\\a.txt", "z.txt", ""})
        EXPECT_TRUE(Sync(list, name)) << name;
}

TEST_P(ServerOnly, AFolderHoldingAnEntryTheUserKeptIsNeitherAskedAboutNorRemoved)
{
    // No for the deepest file first, then Yes to All over one session or Yes one by one over four.
    const std::pair<int, QList<int>> runs[]
        = {{1, {mrNo, mrYesToAll}}, {4, {mrNo, mrYes, mrYes, mrYes}}};
    for (const auto &[sessions, answers] : runs) {
        for (const char *name : {"only/a.txt", "only/b.txt", "only/deep/c.txt", "z.txt"})
            WriteWholeFile(OnServer(name), "x");
        Set(*project, "Connections", QString::number(sessions));
        frontEnd.Answers = answers;
        RunClean(pkRemove);
        EXPECT_EQ(frontEnd.Questions.value(0),
                  Question("file", "/only/deep/c.txt", "remove it from server"));
        EXPECT_EQ(frontEnd.Questions.size(), answers.size())
            << frontEnd.Questions.join('\n').toStdString();
        EXPECT_EQ(TreeOf(server->Root).keys(),
                  QStringList({"keep.txt", "only/", "only/deep/", "only/deep/c.txt"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Publish,
                         ::testing::Values("pyftpdlib", "vsftpd", "sshd", "sftpd"));
INSTANTIATE_TEST_SUITE_P(Servers, ServerOnly,
                         ::testing::Values("pyftpdlib", "vsftpd", "sshd", "sftpd"));

// Servers that refuse to rename over a file, keeping the copy whole, losing it or half of it:
// the live file goes only for a whole copy.
class RenameFault : public SiteTest,
                    public ::testing::WithParamInterface<std::tuple<const char *, const char *>>
{
protected:
    const QString kind = std::get<0>(GetParam()), fault = std::get<1>(GetParam());
};

TEST_P(RenameFault, TheLiveFileGoesOnlyForAWholeCopy)
{
    const bool whole = fault == "refuse-replace";
    const QStringList names{"page.html", "img/photo.bin"};
    Write(names[0], "first page\n");
    Write(names[1], RandomBytes(3000, 11));
    ASSERT_NO_FATAL_FAILURE(Serve(kind));
    Upload();
    const auto before = TreeOf(server->Root);
    ASSERT_NO_FATAL_FAILURE(Serve(kind, {.RenameFault = fault}));
    Write(names[0], "second page, a longer one\n");
    Write(names[1], RandomBytes(2500, 12));
    for (const QString &name : names)
        SetFileAge(site + name, 600);
    Run(pkUpload);
    EXPECT_EQ(frontEnd.HadErrors, !whole);
    const QStringList log = server->ProtocolLog();
    for (const QString &name : names) {
        const qsizetype dele = log.indexOf("DELE /" + name);
        if (whole) { // deleted after the refused rename, once a listing showed the copy
            ASSERT_GE(dele, 0) << log.join('\n').toStdString();
            EXPECT_GT(log.lastIndexOf(QRegularExpression("MLSD.*"), dele),
                      log.lastIndexOf("RNTO /" + name, dele));
            continue;
        }
        EXPECT_EQ(dele, -1) << name.toStdString();
        EXPECT_EQ(frontEnd.Errors.filter("the file /" + name + " has been left as it was").size(),
                  1);
        EXPECT_FALSE(Sync(list, QString(name).replace('/', '\\')));
    }
    // The live files as they were, and no copy of ours left behind.
    EXPECT_EQ(TreeOf(server->Root), whole ? TreeOf(site) : before);
    ASSERT_NO_FATAL_FAILURE(Serve(kind));
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(list.CountOutdated(true), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, RenameFault,
                         ::testing::Combine(::testing::Values("pyftpdlib", "sftpd"),
                                            ::testing::Values("refuse-replace", "lose-temporary",
                                                              "short-temporary")));

// A server that refuses chmod or runs out of space: the file refused is not recorded, the live
// copy stays, and it goes again.
TEST_F(SiteTest, AFileTheServerRefusesToWriteOrChmodStillNeedsUpload)
{
    Write("cgi/run.pl", "#!/usr/bin/perl\n");
    Write("index.html", "home\n");
    Write("big.bin", RandomBytes(300000, 5));
    ASSERT_NO_FATAL_FAILURE(Serve("sftpd", {.RefuseChmod = true, .FullAt = 100000}));
    WriteWholeFile(OnServer("big.bin"), "the live copy");
    Set(*project, "SetPermission", "1");
    Run(pkUpload);
    ASSERT_EQ(frontEnd.Errors.size(), 2) << frontEnd.ErrorDump();
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("Cannot upload " + site + "big.bin to /zandrel-"));
    EXPECT_TRUE(frontEnd.Errors[0].endsWith(": The server refused it (failure) (No space left on "
                                            "device)"));
    EXPECT_EQ(frontEnd.Errors[1], site
                                      + "cgi/run.pl: Cannot change the permissions of "
                                        "/cgi/run.pl: Permission denied");
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 1);
    EXPECT_EQ(TreeOf(server->Root).keys(),
              QStringList({"big.bin", "cgi/", "cgi/run.pl", "index.html"}));
    EXPECT_EQ(ReadWholeFile(OnServer("big.bin")), "the live copy");
    ASSERT_NO_FATAL_FAILURE(Serve("sftpd"));
    Upload();
    EXPECT_EQ(SetOf(Uploaded()), SetOf({"big.bin", "cgi/run.pl"}));
}

// Listing lines no form explains: one line says so, and nothing is removed or downloaded.
using UnreadableListing = SiteTest;

TEST_F(UnreadableListing, IsLoggedAndNothingIsRemovedOrDownloaded)
{
    Write("keep.txt", "keep");
    ASSERT_NO_FATAL_FAILURE(Serve("pyftpdlib"));
    Upload();
    WriteWholeFile(OnServer("only/a.txt"), "aaaa");
    WriteWholeFile(OnServer("z.txt"), "zz");
    const auto onServer = TreeOf(server->Root);
    ASSERT_NO_FATAL_FAILURE(Serve("pyftpdlib", {.ListingFault = "unreadable"}));
    for (const quint8 kind : {quint8(pkRemove), quint8(pkDownload)}) {
        frontEnd.Answers = {mrYesToAll};
        Run(kind);
        EXPECT_EQ(frontEnd.StartingWith("3 lines of the listing of / could not be read").size(), 1)
            << frontEnd.Dump();
        EXPECT_TRUE(frontEnd.Questions.isEmpty()) << frontEnd.Questions.join('\n').toStdString();
    }
    EXPECT_EQ(TreeOf(server->Root), onServer);
    EXPECT_EQ(TreeOf(site).keys(), QStringList{"keep.txt"});
}

// A file rewritten during its upload, then the server lost: only what arrived as it is now is
// recorded, and a server back on the same folder gets exactly the rest.
using Interrupted = Publish;

TEST_P(Interrupted, AFileRewrittenDuringItsUploadOrLostWithTheServerStillNeedsUpload)
{
    Serve(GetParam(), {.BandwidthLimit = 128 * 1024});
    Write("a.txt", "first");
    Write("b.bin", QByteArray(640 * 1024, 'a'));      // about 5 s
    SetFileAge(site + "b.bin", 3600);                 // the rewrite below then changes its time
    Write("d.bin", QByteArray(3 * 1024 * 1024, 'x')); // about 25 s
    Write("c.txt", "third");
    Write("e/f.txt", "fourth");
    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == "uploading " + site + "b.bin")
            QTimer::singleShot(300, &frontEnd,
                               [&] { Write("b.bin", QByteArray(640 * 1024, 'b')); });
        if (text == "uploading " + site + "d.bin")
            QTimer::singleShot(700, &frontEnd, [&] { server->Stop(); });
    };
    Run(pkUpload);
    EXPECT_FALSE(frontEnd.Aborted);
    // Each failure is named; the one never tried says so. (Text files go first here.)
    ASSERT_EQ(frontEnd.Errors.size(), 3) << frontEnd.ErrorDump();
    EXPECT_EQ(frontEnd.Errors[0],
              "the file " + site + "b.bin was changed during its upload and still needs upload");
    EXPECT_TRUE(frontEnd.Errors[1].startsWith(site + "d.bin: "))
        << frontEnd.Errors[1].toStdString();
    EXPECT_EQ(frontEnd.Errors[2], site + "e/f.txt: not tried: no connection to the server is left");
    EXPECT_EQ(Uploaded(), QStringList({"a.txt", "c.txt", "b.bin", "d.bin", "e/f.txt"}));
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 2);
    EXPECT_FALSE(Sync(list, "b.bin"));
    frontEnd.OnLogLine = nullptr;
    Serve(GetParam());
    Upload();
    EXPECT_EQ(Uploaded(), QStringList({"b.bin", "d.bin", "e/f.txt"}));
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

// sshd cannot be slowed down.
INSTANTIATE_TEST_SUITE_P(Servers, Interrupted, ::testing::Values("pyftpdlib", "sftpd"));
