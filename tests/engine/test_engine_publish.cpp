// Every publishing operation through TPublishOperator against real servers on loopback:
// pyftpdlib (MLSD listings) and vsftpd (LIST listings); Abort during a slow upload, and a server
// that dies in the middle of one.
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

class Publish : public ServerSiteTest
{
protected:
    void Upload() { RunWithoutErrors(pkUpload); }
};

TEST_P(Publish, UploadMirrorsTheSiteThenSendsOnlyWhatChanged)
{
    Write("index.html", "<html>\n<body>hello</body>\n</html>\n");
    Write("img/logo.gif", RandomBytes(50000, 1));
    Write("img/empty.gif", QByteArray());
    Write("docs/deep/readme.txt", "read me\n");
    Write("old.bak", "ignored");
    Write("docs/skip.bak", "ignored");
    Write(".hidden", "hidden");
    QDir().mkpath(site + "emptyfolder");
    Set(*project, "SaveLog", "1");
    Set(*project, "LogFile", dir.path() + "/publish.log");

    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site, {"old.bak", "docs/skip.bak", ".hidden"}));
    EXPECT_EQ(
        frontEnd.Lines.mid(0, 4),
        QStringList({"Upload from " + site + " to ftp://" + server->Host + "/",
                     "connecting to " + server->Host + " port " + QString::number(server->Port),
                     "the connection is not encrypted: the server offers no TLS, so the password "
                     "went in clear",
                     "changing of the folder to /"}));
    // Parents are created before their sub-folders.
    EXPECT_EQ(frontEnd.StartingWith("creating of the folder "),
              QStringList({"/docs/", "/emptyfolder/", "/img/", "/docs/deep/"}));
    EXPECT_EQ(Uploaded(),
              QStringList({"index.html", "docs/deep/readme.txt", "img/empty.gif", "img/logo.gif"}));
    EXPECT_EQ(frontEnd.LastLine(),
              "4 folder(s) have been created and 4 file(s) have been uploaded");
    EXPECT_EQ(frontEnd.StatusTexts.value(0), "Scaning local folders");
    // Every item was reported and recorded with its time; folders are known on the server.
    EXPECT_EQ(list.CountOutdated(true), 0);
    for (int i = 1; i < list.Count(); ++i) {
        TFileListItem *item = list.Items(i);
        EXPECT_EQ(project->Versions.FindOrAdd(item->RelativeName)->Date,
                  item->IsFolder ? 1 : GetFileAge(item->GetLocalPath()))
            << item->RelativeName.toStdString();
        EXPECT_TRUE(item->IsFolder || frontEnd.ChangedItems.contains(item));
    }
    EXPECT_TRUE(frontEnd.ChangedItems.contains(FindItem(list, "emptyfolder\\")));

    // Nothing changed: no connection at all.
    Upload();
    EXPECT_EQ(frontEnd.Lines,
              QStringList({"Upload from " + site + " to ftp://" + server->Host + "/",
                           "No files for uploading"}));
    EXPECT_EQ(frontEnd.FtpStats.Connections, 0);
    EXPECT_EQ(CommandCount("USER "), 1);
    EXPECT_TRUE(frontEnd.Progress.isEmpty());

    // New content and a time in the past (any other time counts as a change): only that file.
    const int stores = CommandCount("STOR ");
    Write("img/logo.gif", RandomBytes(40000, 2));
    SetFileAge(site + "img/logo.gif", 7200);
    Upload();
    EXPECT_EQ(Uploaded(), QStringList{"img/logo.gif"});
    EXPECT_EQ(frontEnd.LastLine(),
              "0 folder(s) have been created and 1 file(s) have been uploaded");
    EXPECT_EQ(CommandCount("STOR "), stores + 1);
    EXPECT_EQ(ReadWholeFile(OnServer("img/logo.gif")), RandomBytes(40000, 2));

    // A new empty folder is created and counted; one the server has already is only entered.
    QDir().mkpath(site + "docs/new");
    QDir().mkpath(site + "there");
    QDir().mkpath(OnServer("there"));
    Upload();
    EXPECT_EQ(frontEnd.StartingWith("creating of the folder "), QStringList{"/docs/new/"});
    EXPECT_EQ(frontEnd.LastLine(),
              "1 folder(s) have been created and 0 file(s) have been uploaded");
    EXPECT_TRUE(QFileInfo(OnServer("docs/new")).isDir());
    EXPECT_EQ(project->Versions.FindOrAdd("there\\")->Date, 1);
    EXPECT_TRUE(Sync(list, "docs\\new\\"));

    // The publish log has one block per operation.
    EXPECT_EQ(ReadWholeFile(dir.path() + "/publish.log").count("\r\nStart: "), 4);
}

TEST_P(Publish, SafeUploadAndPerlScripts)
{
    Set(*project, "SetPermission", "1");
    const QByteArray script = "#!/usr/bin/perl\nprint \"Content-type: text/plain\\n\\n\";\n";
    Write("big.bin", RandomBytes(30000, 3));
    Write("zero.bin", QByteArray());
    Write("cgi/a.pl", script);
    Write("cgi/b.gif", RandomBytes(1000, 5));
    Upload();
    EXPECT_EQ(frontEnd.Lines.mid(4),
              QStringList({"creating of the folder /cgi/", "uploading " + site + "big.bin",
                           "uploading " + site + "zero.bin", "uploading " + site + "cgi/a.pl",
                           "set permission to 755", "uploading " + site + "cgi/b.gif",
                           "1 folder(s) have been created and 4 file(s) have been uploaded"}))
        << frontEnd.Lines.join('\n').toStdString();
    // The new project uploads safely through a temporary name; an empty file goes directly.
    const QStringList log = server->ProtocolLog();
    const QString temporary = "/" + SafeUploadTemporaryName("big.bin", site);
    EXPECT_TRUE(IsSafeUploadTemporary(temporary.mid(1)));
    const qsizetype stor = log.indexOf("STOR " + temporary);
    ASSERT_GE(stor, 0) << log.join('\n').toStdString();
    EXPECT_EQ(log.indexOf("RNTO /big.bin"), log.indexOf("RNFR " + temporary) + 1);
    EXPECT_GT(log.indexOf("RNFR " + temporary), stor);
    EXPECT_FALSE(log.contains("STOR /big.bin"));
    EXPECT_TRUE(log.contains("STOR /zero.bin"));
    EXPECT_EQ(ReadWholeFile(OnServer("big.bin")), RandomBytes(30000, 3));
    EXPECT_FALSE(QFileInfo::exists(OnServer(temporary.mid(1))));
    // "*.pl" goes in ASCII mode with its line ends kept, and becomes executable.
    const qsizetype store
        = log.indexOf("STOR /cgi/" + SafeUploadTemporaryName("a.pl", site + "cgi/"));
    ASSERT_GE(store, 0);
    EXPECT_GT(log.lastIndexOf(QRegularExpression("^TYPE A"), store),
              log.lastIndexOf(QRegularExpression("^TYPE I"), store));
    EXPECT_TRUE(log.contains("SITE CHMOD 755 /cgi/a.pl"));
    EXPECT_FALSE(log.contains("SITE CHMOD 755 /cgi/b.gif"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(OnServer("cgi/a.pl")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadWholeFile(OnServer("cgi/a.pl")), script);

    // The second time the copy is renamed over the live file: it is never missing.
    Write("big.bin", RandomBytes(20000, 4));
    SetFileAge(site + "big.bin", 60);
    Upload();
    EXPECT_EQ(ReadWholeFile(OnServer("big.bin")), RandomBytes(20000, 4));
    EXPECT_EQ(CommandCount("DELE /big.bin"), 0);
    EXPECT_EQ(CommandCount("RNTO /big.bin"), 2);
}

TEST_P(Publish, CompareMarksMissingAndResizedFiles)
{
    Set(*project, "CheckSize", "1");
    Write("a.html", QByteArray(100, 'a'));
    Write("b.gif", RandomBytes(1000, 6));
    Write("c.gif", RandomBytes(500, 7));
    Write("d/e.gif", RandomBytes(300, 8));
    Upload();

    // The server changes behind our back.
    QFile::remove(OnServer("c.gif"));
    WriteWholeFile(OnServer("b.gif"), RandomBytes(1007, 6));
    WriteWholeFile(OnServer("a.html"), QByteArray(105, 'a')); // text: sizes are not compared
    WriteWholeFile(OnServer("extra.txt"), QByteArray(10, 'x'));
    QDir().mkpath(OnServer("xdir"));
    WriteWholeFile(OnServer("ignored.bak"), "ignored on the server too");
    // An ignored folder is reported once and not entered.
    TXMLStore *filter = project->Nodes("Filters")->Add();
    filter->Name = "Filter";
    filter->Nodes("Mask")->SetAsString("stats\\");
    filter->Nodes("Options")->SetAsString(":no");
    WriteWholeFile(OnServer("stats/hits.txt"), "12345");

    Run(pkCompare);
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    const QStringList lines = frontEnd.Lines;
    EXPECT_EQ(lines.value(0), "Compare of the local and server files");
    for (const QString &line : QStringList{
             "scaning of the server folders", "    checking /", "    checking /d",
             "    checking /xdir", "file has been ignored /ignored.bak",
             "folder has been ignored /stats",
             "2 folder(s) and 4 file(s) (" + FormatSize(1422) + ") have been found on server",
             "file " + site + "c.gif is not exists on server",
             "files \"" + site + "b.gif\" and \"/b.gif\" have different size"})
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    EXPECT_FALSE(lines.contains("    checking /stats"));
    EXPECT_TRUE(lines.filter("a.html").isEmpty());
    const qsizetype stats = lines.indexOf("Server statistics");
    EXPECT_EQ(lines.mid(stats),
              QStringList(
                  {"Server statistics", "    Folders: 2", "    Files: 4 (" + FormatSize(1422) + ")",
                   "    1 folders exists on the server but does not exist in the local "
                   "system",
                   "    1 files (10 byte) exists on the server but does not exist in the "
                   "local system",
                   "Local statistics", "    Folders: 1", "    Files: 4 (" + FormatSize(1900) + ")",
                   "    2 files (" + FormatSize(1500) + ") need uploading"}));
    EXPECT_FALSE(Sync(list, "b.gif") || Sync(list, "c.gif") || Sync(list, ""));
    EXPECT_TRUE(Sync(list, "a.html") && Sync(list, "d\\e.gif"));

    Upload();
    EXPECT_EQ(Uploaded(), QStringList({"b.gif", "c.gif"}));
    EXPECT_EQ(ReadWholeFile(OnServer("b.gif")), RandomBytes(1000, 6));
}

// ---- server-only entries: /only/a.txt, /only/b.txt and /z.txt besides the uploaded keep.txt

class ServerOnly : public Publish
{
protected:
    void SetUp() override
    {
        Publish::SetUp();
        if (HasFatalFailure())
            return;
        Write("keep.txt", "keep");
        Upload();
        WriteWholeFile(OnServer("only/a.txt"), "aaaa");
        WriteWholeFile(OnServer("only/b.txt"), "bbbbbb");
        WriteWholeFile(OnServer("z.txt"), "zz");
    }
    static QString Question(const QString &kind, const QString &name, const QString &action)
    {
        return "The " + kind + " \"" + name
               + "\" exists on the server but does not exist in the local system. Do you want to "
               + action + "?";
    }
    bool OnServerNow(const QString &name) const { return QFileInfo::exists(OnServer(name)); }
};

TEST_P(ServerOnly, RemoveFollowsTheAnswers)
{
    frontEnd.Answers = {mrCancel};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    EXPECT_TRUE(frontEnd.Aborted);
    EXPECT_EQ(frontEnd.LastLine(), "0 folder(s) and 0 file(s) have been removed");
    EXPECT_TRUE(OnServerNow("only/a.txt") && OnServerNow("only/b.txt") && OnServerNow("z.txt"));

    // Last to first: the folder's contents come before the folder and the top-level file.
    frontEnd.Answers = {mrNo, mrYes, mrNoToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Lines.value(0),
              "Remove the server files which do not exist in local system");
    ASSERT_EQ(frontEnd.Questions.size(), 3);
    const QString first = frontEnd.Questions[0].section('"', 1, 1);
    const QString second = frontEnd.Questions[1].section('"', 1, 1);
    EXPECT_TRUE(first.startsWith("/only/") && second.startsWith("/only/") && first != second);
    EXPECT_EQ(frontEnd.Questions[0], Question("file", first, "remove it from server"));
    EXPECT_TRUE(OnServerNow(first));
    EXPECT_FALSE(OnServerNow(second));
    EXPECT_TRUE(OnServerNow("z.txt") && OnServerNow("only") && OnServerNow("keep.txt"));
    EXPECT_EQ(frontEnd.StartingWith("remove "), QStringList{second});
    EXPECT_EQ(frontEnd.LastLine(), "0 folder(s) and 1 file(s) have been removed");

    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_EQ(TreeOf(server->Root), (QMap<QString, QByteArray>{{"keep.txt", "keep"}}));
    const QStringList removals = frontEnd.StartingWith("remove ");
    ASSERT_EQ(removals.size(), 3);
    EXPECT_GT(removals.indexOf("of the folder /only"), removals.indexOf(first));
    EXPECT_TRUE(removals.contains("/z.txt"));
    EXPECT_EQ(frontEnd.LastLine(), "1 folder(s) and 2 file(s) have been removed");
    EXPECT_TRUE(frontEnd.StatusTexts.contains("2 of 3 items removed"));
}

TEST_P(ServerOnly, RemovalSkipsUnsafeNamesAsDownloadDoes)
{
    WriteWholeFile(OnServer("we\\ird.txt"), "w");
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Errors, QStringList{"file /we\\ird.txt has been skipped: unsafe name"});
    EXPECT_TRUE(QFileInfo::exists(OnServer("we\\ird.txt")));
    EXPECT_FALSE(QFileInfo::exists(OnServer("z.txt")));
}

TEST_P(ServerOnly, DownloadFollowsTheAnswersAndSkipsUnsafeNames)
{
    // A legal server name that would mean "we/ird.txt" once it is a relative name.
    WriteWholeFile(OnServer("we\\ird.txt"), "w");
    frontEnd.Answers = {mrYes, mrYes, mrYes, mrYes, mrYes};
    Run(pkDownload);
    EXPECT_EQ(frontEnd.Errors, QStringList{"file /we\\ird.txt has been skipped: unsafe name"});
    EXPECT_FALSE(QFileInfo::exists(site + "we\\ird.txt") || QFileInfo::exists(site + "we"));
    // The folder is asked for after its files.
    EXPECT_GT(
        frontEnd.Questions.indexOf(Question("folder", "/only", "create it in local system")),
        frontEnd.Questions.indexOf(Question("file", "/only/a.txt", "download it from server")))
        << frontEnd.Questions.join('\n').toStdString();
    EXPECT_EQ(TreeOf(site), (QMap<QString, QByteArray>{{"keep.txt", "keep"},
                                                       {"only/", ""},
                                                       {"only/a.txt", "aaaa"},
                                                       {"only/b.txt", "bbbbbb"},
                                                       {"z.txt", "zz"}}));
    EXPECT_TRUE(frontEnd.Lines.contains("downloading /only/b.txt"));
    EXPECT_TRUE(frontEnd.Lines.contains("3 file(s) have been downloaded"));
    // The refresh that follows shows them as being in step with the server.
    EXPECT_EQ(frontEnd.FillViews, 1);
    for (const char *name : {"only\\", "only\\a.txt", "z.txt", ""})
        EXPECT_TRUE(Sync(list, name)) << name;

    // Nothing is left to do: no question, no refresh.
    QFile::remove(OnServer("we\\ird.txt"));
    Run(pkDownload);
    EXPECT_TRUE(frontEnd.Questions.isEmpty());
    EXPECT_EQ(frontEnd.LastLine(), "0 file(s) have been downloaded");
    EXPECT_EQ(frontEnd.FillViews, 0);
}

TEST_P(ServerOnly, TemporariesOfCutOffUploadsAreRemovedNeverDownloaded)
{
    const QString stale = "zandrel-upload-0123456789abcdef.tmp";
    for (const QString &name : {stale, "only/" + stale})
        WriteWholeFile(OnServer(name), "part of a file");
    frontEnd.Answers = {mrYesToAll};
    RunWithoutErrors(pkDownload);
    EXPECT_TRUE(frontEnd.Questions.filter("zandrel-upload-").isEmpty());
    EXPECT_EQ(frontEnd.StartingWith("the temporary file ").size(), 2);
    EXPECT_TRUE(frontEnd.Lines.contains("3 file(s) have been downloaded"));
    EXPECT_FALSE(OnServerNow(stale) || OnServerNow("only/" + stale));
    EXPECT_EQ(TreeOf(site), TreeOf(server->Root));
}

TEST_P(Publish, SafeUploadNeverUsesATemporaryNameTheSiteHas)
{
    Write("page.html", "the page\n");
    Write(SafeUploadTemporaryName("page.html", site), "a file of the site\n");
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    // Only the page changed: the site's other file on the server must stay as it is, and a
    // server scan takes it for the site's file, not for a leftover of ours.
    SetFileAge(site + "page.html", 3600);
    Upload();
    EXPECT_EQ(Uploaded(), QStringList{"page.html"});
    RunWithoutErrors(pkCompare);
    EXPECT_TRUE(frontEnd.Lines.contains("    All files are uploaded"));
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

TEST_P(Publish, NamesOf255BytesUploadSafely)
{
    const QString ascii = QString(251, 'n') + ".txt";
    const QString utf8 = QString(125, QChar(0xe9)) + ".jpeg"; // two bytes each
    ASSERT_EQ(utf8.toUtf8().size(), 255);
    Write(ascii, "long name\n");
    Write("sub/" + utf8, RandomBytes(3000, 9));
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    SetFileAge(site + ascii, 600);
    Write("sub/" + utf8, RandomBytes(2000, 10));
    Upload();
    EXPECT_EQ(Uploaded().size(), 2);
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

TEST_P(Publish, AnEditInTheSameTwoSecondsAsTheUploadIsNeverMissed)
{
    // Start at the beginning of a two-second slot, so the edit below falls into it as well.
    while (DateTimeToFileDate(QDateTime::currentDateTime())
               == DateTimeToFileDate(QDateTime::currentDateTime().addMSecs(-100))
           || QTime::currentTime().msec() > 200)
        QThread::msleep(10);
    Write("page.html", "first\n");
    QTimer::singleShot(300, &frontEnd, [&] { Write("page.html", "second\n"); });
    Upload();
    ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
    // Either the server has the second text, or the page still needs upload.
    EXPECT_TRUE(ReadWholeFile(OnServer("page.html")) == "second\n" || !Sync(list, "page.html"));
    EXPECT_EQ(ReadWholeFile(OnServer("page.html")), "second\n");
}

TEST_P(Publish, ChangedFilesCostOnlyTheirTransferAndAVanishedFolderIsMadeAgain)
{
    for (const char *name : {"a.html", "b.png", "c.html", "d.png"}) {
        Write(QStringLiteral("sub/") + name, name);
        Write(QStringLiteral("sub/deep/") + name, name);
    }
    Upload();
    // Text and binary files alternate by name; each folder switches its mode once.
    EXPECT_LE(CommandCount("TYPE "), 4);
    EXPECT_EQ(CommandCount("CWD /sub"), 0);

    for (const char *name : {"sub/a.html", "sub/b.png", "sub/deep/c.html"})
        SetFileAge(site + name, 600);
    const int before = int(server->ProtocolLog().size());
    Upload();
    const QStringList commands = server->ProtocolLog().mid(before);
    // Known folders are not looked at; every file costs its data connection and STOR.
    EXPECT_EQ(commands.filter(QRegularExpression("^(CWD|MKD|DELE|SIZE|MLST) /sub")), QStringList());
    EXPECT_EQ(commands.filter(QRegularExpression("^STOR ")).size(), 3);

    // A folder removed behind our back is made again when a transfer into it fails.
    QDir(OnServer("sub/deep")).removeRecursively();
    SetFileAge(site + "sub/deep/d.png", 1200);
    Upload();
    EXPECT_EQ(frontEnd.StartingWith("creating of the folder "), QStringList{"/sub/deep/"});
    EXPECT_EQ(ReadWholeFile(OnServer("sub/deep/d.png")), "d.png");
    EXPECT_TRUE(Sync(list, "sub\\deep\\d.png"));
}

TEST_P(Publish, AFolderTheServerRefusesKeepsNeedingUpload)
{
    Write("index.html", "home\n");
    Write("blocked/page.html", "inside\n");
    // A file where the folder should be: neither entering nor creating it can work.
    WriteWholeFile(OnServer("blocked"), "a file");
    Run(pkUpload);
    // Each error line names what it is about: the folder, then its file.
    ASSERT_EQ(frontEnd.Errors.size(), 2);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("/blocked/: ")) << frontEnd.Errors[0].toStdString();
    EXPECT_TRUE(frontEnd.Errors[1].startsWith(site + "blocked/page.html: "))
        << frontEnd.Errors[1].toStdString();
    EXPECT_EQ(project->Versions.FindOrAdd("blocked\\")->Date, 0);
    EXPECT_FALSE(Sync(list, "blocked\\"));
    EXPECT_FALSE(Sync(list, "blocked\\page.html"));
    EXPECT_TRUE(Sync(list, "index.html"));
    // The next upload tries the folder again.
    QFile::remove(OnServer("blocked"));
    Upload();
    EXPECT_EQ(frontEnd.StartingWith("creating of the folder "), QStringList{"/blocked/"});
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
}

TEST_P(Publish, AMissingLocalFolderIsRefusedBeforeConnectingAndKeepsTheRecords)
{
    Write("index.html", "home\n");
    Write("sub/page.html", "page\n");
    Upload();
    const QString records = project->Versions.SaveToText();
    const QString moved = dir.path() + "/moved/";
    QDir().rename(site, moved);
    frontEnd.Answers = {mrYesToAll};
    for (quint8 kind : {pkRefresh, pkCompare, pkUpload, pkRemove, pkDownload}) {
        Run(kind);
        EXPECT_EQ(frontEnd.Errors, QStringList{"The local folder " + site + " does not exist"})
            << int(kind);
        EXPECT_EQ(frontEnd.FtpStats.Connections, 0) << int(kind);
    }
    EXPECT_EQ(project->Versions.SaveToText(), records);
    EXPECT_TRUE(QFileInfo::exists(OnServer("sub/page.html")));
}

TEST_P(ServerOnly, AFolderHoldingAnEntryTheUserKeptIsNeitherAskedAboutNorRemoved)
{
    // No for the deepest file first, then Yes one by one or Yes to All, over one session or four.
    const QList<int> scripts[] = {{mrNo, mrYesToAll}, {mrNo, mrYes, mrYes, mrYes}};
    for (const int sessions : {1, 4}) {
        for (const QList<int> &answers : scripts) {
            WriteWholeFile(OnServer("only/a.txt"), "aaaa");
            WriteWholeFile(OnServer("only/b.txt"), "bbbbbb");
            WriteWholeFile(OnServer("only/deep/c.txt"), "c");
            WriteWholeFile(OnServer("z.txt"), "zz");
            Set(*project, "Connections", QString::number(sessions));
            frontEnd.Answers = answers;
            Run(pkRemove);
            EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
            ASSERT_FALSE(frontEnd.Questions.isEmpty());
            EXPECT_EQ(frontEnd.Questions[0],
                      Question("file", "/only/deep/c.txt", "remove it from server"));
            EXPECT_EQ(frontEnd.Questions.size(), answers.size());
            EXPECT_TRUE(frontEnd.Questions.filter("The folder").isEmpty())
                << frontEnd.Questions.join('\n').toStdString();
            EXPECT_TRUE(frontEnd.StartingWith("remove of the folder").isEmpty());
            EXPECT_EQ(TreeOf(server->Root), (QMap<QString, QByteArray>{{"keep.txt", "keep"},
                                                                       {"only/", ""},
                                                                       {"only/deep/", ""},
                                                                       {"only/deep/c.txt", "c"}}));
            EXPECT_EQ(frontEnd.LastLine(), "0 folder(s) and 3 file(s) have been removed");
        }
    }
}

TEST_P(Publish, AFolderLinkWhoseTargetVanishedIsAnErrorAndItsServerCopiesStay)
{
    // A folder on another drive, linked into the site; then the drive is gone.
    const QString drive = dir.path() + "/drive";
    const QString away = dir.path() + "/unmounted";
    WriteWholeFile(drive + "/page.html", "on the drive\n");
    WriteWholeFile(drive + "/deep/pic.bin", RandomBytes(3000, 1));
    ASSERT_TRUE(QFile::link(drive, site + "media"));
    Write("index.html", "home\n");
    Upload();
    auto expected = TreeOf(site);
    expected.remove("media/");
    for (auto [name, data] : TreeOf(drive).asKeyValueRange())
        expected.insert("media/" + name, data);
    expected.insert("media/", {});
    ASSERT_EQ(TreeOf(server->Root), expected);

    ASSERT_TRUE(QDir().rename(drive, away));
    Write("new.html", "new\n");
    expected.insert("new.html", "new\n");
    Run(pkUpload);
    EXPECT_EQ(frontEnd.Errors,
              QStringList{"the link " + site + "media (to " + drive
                          + ") cannot be read: No such file or directory; nothing below it on "
                            "the server is removed or downloaded"});
    EXPECT_EQ(list.Unreadable, QStringList{"media\\"});
    EXPECT_EQ(TreeOf(server->Root), expected);
    const auto siteNow = TreeOf(site);
    // Neither removal nor download touches what the server holds below it, nor asks about it.
    for (const quint8 kind : {pkCompare, pkRemove, pkDownload}) {
        frontEnd.Answers = {mrYesToAll};
        Run(kind);
        EXPECT_TRUE(frontEnd.Questions.isEmpty()) << frontEnd.Questions.join('\n').toStdString();
        EXPECT_TRUE(frontEnd.Lines.contains(
            "the server's entries below /media are left alone: " + site + "media cannot be read"))
            << frontEnd.Lines.join('\n').toStdString();
        EXPECT_EQ(TreeOf(server->Root), expected) << int(kind);
        EXPECT_EQ(TreeOf(site), siteNow) << int(kind);
    }
    // The drive is back: its records were kept, nothing needs sending, and all is in step.
    ASSERT_TRUE(QDir().rename(away, drive));
    Upload();
    EXPECT_EQ(frontEnd.LastLine(), "No files for uploading");
    EXPECT_EQ(TreeOf(server->Root), expected);
    EXPECT_EQ(project->Versions.FindOrAdd("media\\deep\\pic.bin")->Date,
              GetFileAge(drive + "/deep/pic.bin"));
}

TEST_P(Publish, ServerNamesThatCannotGoOnTheWireAreNeitherRemovedNorDownloaded)
{
    Write("keep.txt", "keep");
    Upload();
    const QByteArray root = QFile::encodeName(server->Root);
    QByteArrayList names{"/cr\r.txt", "/odd\rdir/inside.txt", "/lf\n.txt"};
    // pyftpdlib lists bytes that are not UTF-8 as "?", a name it then cannot find itself.
    if (QString(GetParam()) == "vsftpd")
        names << "/bad\xfe.txt";
    const auto cleanUp = qScopeGuard([&] { ::unlink(root + "/bad\xfe.txt"); });
    for (const QByteArray &name : std::as_const(names))
        ASSERT_TRUE(WriteRawName(root + name, "x"));
    const auto before = TreeOf(server->Root);
    for (const quint8 kind : {pkRemove, pkDownload}) {
        frontEnd.Answers = {mrYesToAll};
        Run(kind);
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
        EXPECT_TRUE(frontEnd.Questions.isEmpty()) << frontEnd.Questions.join('\n').toStdString();
        const QStringList skipped
            = frontEnd.Lines.filter("has been skipped: its name cannot be sent back");
        EXPECT_EQ(skipped.size(), names.size()) << frontEnd.Lines.join('\n').toStdString();
        for (const char *shown : {"/cr\\r.txt", "/odd\\rdir", "/lf\\n.txt"})
            EXPECT_TRUE(skipped.contains(QString("the server's entry ") + shown
                                         + " has been skipped: its name cannot be sent back to "
                                           "the server"))
                << shown;
        EXPECT_EQ(TreeOf(server->Root), before);
        EXPECT_EQ(TreeOf(site), (QMap<QString, QByteArray>{{"keep.txt", "keep"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Publish, ::testing::Values("pyftpdlib", "vsftpd"));
INSTANTIATE_TEST_SUITE_P(Servers, ServerOnly, ::testing::Values("pyftpdlib", "vsftpd"));

// Servers that refuse to rename over an existing file: some keep the copy whole, others lose it
// or keep half of it after their 226. The live file goes only for a whole copy; afterwards a
// server without the fault puts everything in step.
class RenameFault : public SiteTest, public ::testing::WithParamInterface<const char *>
{
protected:
    QTemporaryDir root;
    std::unique_ptr<TFtpTestServer> server;
    std::unique_ptr<TProject> project;

    void Serve(const QString &fault = {}, const QString &listingFault = {})
    {
        server.reset();
        TPyftpdlibOptions options;
        options.RenameFault = fault;
        options.ListingFault = listingFault;
        server = StartPyftpdlib(root.path(), options);
        ASSERT_TRUE(server);
        if (!project)
            project = MakeTestProject(site, server.get());
        Set(*project, "Port", QString::number(server->Port));
    }
    void Upload(bool expectErrors = false)
    {
        ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
        EXPECT_EQ(frontEnd.HadErrors, expectErrors) << frontEnd.Errors.join('\n').toStdString();
    }
};

TEST_P(RenameFault, TheLiveFileGoesOnlyForAWholeCopy)
{
    const QString fault = QString::fromLatin1(GetParam());
    const bool whole = fault == "refuse-replace";
    const QStringList names{"page.html", "img/photo.bin"};
    Write(names[0], "first page\n");
    Write(names[1], RandomBytes(3000, 11));
    ASSERT_NO_FATAL_FAILURE(Serve());
    ASSERT_NO_FATAL_FAILURE(Upload());
    const auto before = TreeOf(root.path());

    ASSERT_NO_FATAL_FAILURE(Serve(fault));
    Write(names[0], "second page, a longer one\n");
    Write(names[1], RandomBytes(2500, 12));
    for (const QString &name : names)
        SetFileAge(site + name, 600);
    ASSERT_NO_FATAL_FAILURE(Upload(!whole));
    const QStringList log = server->ProtocolLog();
    for (const QString &name : names) {
        const qsizetype dele = log.indexOf("DELE /" + name);
        if (whole) {
            // Deleted after the refused rename, once a listing showed the copy.
            ASSERT_GE(dele, 0) << log.join('\n').toStdString();
            EXPECT_GT(log.lastIndexOf(QRegularExpression("^MLSD"), dele),
                      log.lastIndexOf("RNTO /" + name, dele));
        } else {
            EXPECT_EQ(dele, -1) << name.toStdString();
            EXPECT_EQ(frontEnd.Errors
                          .filter("the file /" + name
                                  + " has been left as it was on "
                                    "the server: the rename refused (")
                          .size(),
                      1)
                << frontEnd.Errors.join('\n').toStdString();
            EXPECT_FALSE(Sync(list, QString(name).replace('/', '\\').toUtf8().constData()));
        }
    }
    // The live files as they were, and no copy of ours left behind.
    EXPECT_EQ(TreeOf(root.path()), whole ? TreeOf(site) : before);

    ASSERT_NO_FATAL_FAILURE(Serve());
    ASSERT_NO_FATAL_FAILURE(Upload());
    EXPECT_EQ(TreeOf(root.path()), TreeOf(site));
    EXPECT_EQ(list.CountOutdated(true), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, RenameFault,
                         ::testing::Values("refuse-replace", "lose-temporary", "short-temporary"));

// A server whose every listing line is one no form explains: the scan says so in one line, and
// Remove and Download, answered Yes to All, remove and download nothing.
using UnreadableListing = RenameFault;

TEST_F(UnreadableListing, IsLoggedAndNothingIsRemovedOrDownloaded)
{
    Write("keep.txt", "keep");
    ASSERT_NO_FATAL_FAILURE(Serve());
    ASSERT_NO_FATAL_FAILURE(Upload());
    WriteWholeFile(root.path() + "/only/a.txt", "aaaa");
    WriteWholeFile(root.path() + "/z.txt", "zz");
    const auto onServer = TreeOf(root.path());
    const auto local = TreeOf(site);

    ASSERT_NO_FATAL_FAILURE(Serve({}, "unreadable"));
    for (const quint8 kind : {quint8(pkRemove), quint8(pkDownload)}) {
        frontEnd.Answers = {mrYesToAll};
        ASSERT_TRUE(frontEnd.Run(list, kind, *project));
        const QStringList note = frontEnd.Lines.filter(
            QRegularExpression(R"re(^3 lines of the listing of / could not be read, the first: )re"
                               R"re("type=file;size=4 (keep\.txt|only|z\.txt)"$)re"));
        EXPECT_EQ(note.size(), 1) << frontEnd.Lines.join('\n').toStdString();
        EXPECT_TRUE(frontEnd.Questions.isEmpty()) << frontEnd.Questions.join('\n').toStdString();
    }
    EXPECT_EQ(TreeOf(root.path()), onServer);
    EXPECT_EQ(TreeOf(site), local);
}

using Interrupted = SiteTest;

TEST_F(Interrupted, AbortReturnsControlAtOnce)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 64 * 1024;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write("big.bin", QByteArray(4 * 1024 * 1024, 'b')); // about a minute
    Write("small.txt", "small");

    QElapsedTimer sinceAbort;
    qint64 endAfterMs = -1;
    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == "uploading " + site + "big.bin")
            QTimer::singleShot(400, &frontEnd, [&] {
                ASSERT_NE(frontEnd.Current, nullptr);
                sinceAbort.start();
                frontEnd.Current->Abort();
            });
    };
    frontEnd.OnEnd = [&] { endAfterMs = sinceAbort.isValid() ? sinceAbort.elapsed() : -1; };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_EQ(frontEnd.Ends, 1);
    EXPECT_TRUE(frontEnd.Aborted);
    ASSERT_GE(endAfterMs, 0);
    EXPECT_LT(endAfterMs, 1000); // about 500 ms by design
    RecordProperty("EndAfterMs", int(endAfterMs));
    EXPECT_EQ(Uploaded(), QStringList{"big.bin"});

    // The abandoned worker says nothing more and has left the list and records alone.
    TTestFrontEnd::Idle(1000);
    EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    EXPECT_EQ(project->Versions.FindOrAdd("big.bin")->Date, 0);
    EXPECT_FALSE(Sync(list, "big.bin"));
    // The list belongs to the front end again: the next operation runs normally.
    ASSERT_TRUE(frontEnd.Run(list, pkRefresh, *project));
    EXPECT_FALSE(Sync(list, "big.bin"));
    EXPECT_FALSE(Sync(list, "small.txt"));
}

TEST_F(Interrupted, LostConnectionLeavesUnsentFilesOutdated)
{
    QTemporaryDir serverRoot;
    TPyftpdlibOptions slow;
    slow.BandwidthLimit = 128 * 1024;
    auto server = StartPyftpdlib(serverRoot.path(), slow);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write("a.txt", "first");
    Write("b.bin", QByteArray(3 * 1024 * 1024, 'x')); // about 25 s
    Write("c.txt", "third");
    Write("d/e.txt", "fourth");

    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == "uploading " + site + "b.bin")
            QTimer::singleShot(700, &frontEnd, [&] { server->Stop(); });
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_FALSE(frontEnd.Aborted);
    // Every later file fails on its own, named, and the one never tried says so rather than
    // repeating the lost file's failure. (A folder's text files go before its binary ones.)
    ASSERT_EQ(frontEnd.Errors.size(), 2) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_TRUE(frontEnd.Errors[0].startsWith(site + "b.bin: "))
        << frontEnd.Errors[0].toStdString();
    EXPECT_EQ(frontEnd.Errors[1], site + "d/e.txt: not tried: no connection to the server is left");
    EXPECT_EQ(Uploaded(), QStringList({"a.txt", "c.txt", "b.bin", "d/e.txt"}));
    EXPECT_EQ(project->Versions.FindOrAdd("a.txt")->Date, GetFileAge(site + "a.txt"));
    for (const char *name : {"b.bin", "d\\e.txt"})
        EXPECT_EQ(project->Versions.FindOrAdd(name)->Date, 0) << name;

    // The server comes back on the same folder: exactly the unsent files go.
    server.reset();
    auto again = StartPyftpdlib(serverRoot.path());
    ASSERT_TRUE(again);
    Set(*project, "Port", QString::number(again->Port));
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(Uploaded(), QStringList({"b.bin", "d/e.txt"}));
    EXPECT_EQ(TreeOf(serverRoot.path()), TreeOf(site));
}

TEST_F(Interrupted, AFileRewrittenDuringItsUploadStillNeedsUpload)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 100 * 1024;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    auto project = MakeTestProject(site, server.get());
    Write("big.bin", QByteArray(300 * 1024, 'a')); // about 3 s
    SetFileAge(site + "big.bin", 3600);
    frontEnd.OnLogLine = [&](const QString &text) {
        if (text == "uploading " + site + "big.bin")
            QTimer::singleShot(500, &frontEnd,
                               [&] { Write("big.bin", QByteArray(300 * 1024, 'b')); });
    };
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_EQ(frontEnd.Errors,
              QStringList{"the file " + site
                          + "big.bin was changed during its upload and still needs upload"});
    EXPECT_EQ(project->Versions.FindOrAdd("big.bin")->Date, 0);
    EXPECT_FALSE(Sync(list, "big.bin"));
    // The next upload sends the new bytes whole.
    frontEnd.OnLogLine = nullptr;
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(frontEnd.Errors.isEmpty());
    EXPECT_EQ(ReadWholeFile(server->LocalPath("/big.bin")), QByteArray(300 * 1024, 'b'));
}
