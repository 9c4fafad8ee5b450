// Every publishing operation through TPublishOperator against real servers on loopback:
// pyftpdlib (MLSD listings) and vsftpd (LIST listings).
#include "engine/FileLib.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QByteArray RandomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(generator.generate() & 0xff);
    return data;
}

class Publish : public ::testing::TestWithParam<const char *>
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<TFtpTestServer> server;
    QString site;
    TFileList list;
    TTestFrontEnd frontEnd;
    std::unique_ptr<TProject> project;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        server = QString::fromLatin1(GetParam()) == QLatin1String("vsftpd") ? StartVsftpd()
                                                                            : StartPyftpdlib();
        ASSERT_TRUE(server);
        site = dir.path() + QStringLiteral("/site/");
        QDir().mkpath(site);
        project = MakeTestProject(site, server.get());
    }

    void Write(const QString &relative, const QByteArray &data)
    {
        WriteWholeFile(site + relative, data);
    }
    void WriteOnServer(const QString &relative, const QByteArray &data)
    {
        WriteWholeFile(server->LocalPath(QLatin1Char('/') + relative), data);
    }
    QString OnServer(const QString &relative) const
    {
        return server->LocalPath(QLatin1Char('/') + relative);
    }

    void Run(quint8 kind)
    {
        ASSERT_TRUE(frontEnd.Run(list, kind, *project));
        EXPECT_EQ(frontEnd.ReportsAfterEnd, 0);
    }
    void Upload()
    {
        Run(pkUpload);
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    }

    int CommandCount(const QString &prefix) const
    {
        int count = 0;
        for (const QString &line : server->ProtocolLog()) {
            if (line.startsWith(prefix, Qt::CaseInsensitive))
                ++count;
        }
        return count;
    }

    QStringList Uploaded() const
    {
        QStringList files = frontEnd.TextsStartingWith(QStringLiteral("uploading "));
        for (QString &file : files)
            file.remove(0, 10 + site.size());
        return files;
    }

    bool Sync(const char *relative) const
    {
        const TFileListItem *item = FindItem(list, QString::fromUtf8(relative));
        EXPECT_NE(item, nullptr) << relative;
        return item && item->Synchronous;
    }

    void BuildSite()
    {
        Write(QStringLiteral("index.html"), "<html>\n<body>hello</body>\n</html>\n");
        Write(QStringLiteral("img/logo.gif"), RandomBytes(50000, 1));
        Write(QStringLiteral("img/empty.gif"), QByteArray());
        Write(QStringLiteral("docs/deep/readme.txt"), "read me\n");
        Write(QStringLiteral("old.bak"), "ignored");
        Write(QStringLiteral("docs/skip.bak"), "ignored");
        Write(QStringLiteral(".hidden"), "hidden");
        QDir().mkpath(site + QStringLiteral("emptyfolder"));
    }
};

TEST_P(Publish, FirstUploadMirrorsTheLocalTree)
{
    BuildSite();
    Upload();
    EXPECT_EQ(TreeOf(server->Root),
              TreeOf(site, {QStringLiteral("old.bak"), QStringLiteral("docs/skip.bak"),
                            QStringLiteral(".hidden")}));
    const QStringList lines = frontEnd.Texts();
    EXPECT_EQ(lines.value(0), QStringLiteral("Upload from ") + site + QStringLiteral(" to ftp://")
                                  + server->Host + QStringLiteral("/"));
    EXPECT_EQ(lines.value(1), QStringLiteral("connecting to ") + server->Host
                                  + QStringLiteral(" port ") + QString::number(server->Port));
    EXPECT_EQ(lines.value(2), QStringLiteral("changing of the folder to /"));
    // Parents are created before their sub-folders.
    EXPECT_EQ(frontEnd.TextsStartingWith(QStringLiteral("creating of the folder ")),
              (QStringList{QStringLiteral("creating of the folder /docs/"),
                           QStringLiteral("creating of the folder /emptyfolder/"),
                           QStringLiteral("creating of the folder /img/"),
                           QStringLiteral("creating of the folder /docs/deep/")}));
    EXPECT_EQ(Uploaded(),
              (QStringList{QStringLiteral("index.html"), QStringLiteral("docs/deep/readme.txt"),
                           QStringLiteral("img/empty.gif"), QStringLiteral("img/logo.gif")}));
    EXPECT_EQ(frontEnd.LastLine(),
              QStringLiteral("4 folder(s) have been created and 4 file(s) have been uploaded"));
    EXPECT_EQ(frontEnd.FoldersCount, 4);
    EXPECT_EQ(frontEnd.FilesCount, 4);
    EXPECT_EQ(frontEnd.StatusTexts.value(0), QStringLiteral("Scaning local folders"));
    EXPECT_TRUE(frontEnd.StatusTexts.contains(QStringLiteral("checking of the folders ")));

    // Every file was reported and recorded with its time; folders are known on the server.
    EXPECT_EQ(list.CountOutdated(true), 0);
    for (int i = 1; i < list.Count(); ++i) {
        const TFileListItem *item = list.Items(i);
        const qint32 date = project->Versions.FindOrAdd(item->RelativeName)->Date;
        EXPECT_EQ(date, item->IsFolder ? 1 : GetFileAge(item->GetLocalPath()))
            << item->RelativeName.toStdString();
        if (!item->IsFolder) {
            EXPECT_TRUE(frontEnd.ChangedItems.contains(const_cast<TFileListItem *>(item)));
        }
    }
    EXPECT_TRUE(frontEnd.ChangedItems.contains(
        const_cast<TFileListItem *>(FindItem(list, QStringLiteral("emptyfolder\\")))));
}

TEST_P(Publish, UnchangedSiteOpensNoConnection)
{
    BuildSite();
    Upload();
    const int logins = CommandCount(QStringLiteral("USER "));
    ASSERT_EQ(logins, 1);
    Upload();
    EXPECT_EQ(frontEnd.Texts(),
              (QStringList{QStringLiteral("Upload from ") + site + QStringLiteral(" to ftp://")
                               + server->Host + QStringLiteral("/"),
                           QStringLiteral("No files for uploading")}));
    EXPECT_EQ(frontEnd.FtpStats.Connections, 0);
    EXPECT_EQ(CommandCount(QStringLiteral("USER ")), logins);
    EXPECT_TRUE(frontEnd.Progress.isEmpty());
}

TEST_P(Publish, TouchedFileIsTheOnlyOneSent)
{
    BuildSite();
    Upload();
    const int stores = CommandCount(QStringLiteral("STOR "));
    // New content, and a time in the past: any other time counts as a change.
    Write(QStringLiteral("img/logo.gif"), RandomBytes(40000, 2));
    SetFileAge(site + QStringLiteral("img/logo.gif"), 7200);
    Upload();
    EXPECT_EQ(Uploaded(), QStringList{QStringLiteral("img/logo.gif")});
    EXPECT_EQ(frontEnd.LastLine(),
              QStringLiteral("0 folder(s) have been created and 1 file(s) have been uploaded"));
    EXPECT_EQ(CommandCount(QStringLiteral("STOR ")), stores + 1);
    EXPECT_EQ(ReadWholeFile(OnServer(QStringLiteral("img/logo.gif"))), RandomBytes(40000, 2));
}

TEST_P(Publish, NewFoldersAreCreatedOnce)
{
    BuildSite();
    Upload();
    QDir().mkpath(site + QStringLiteral("docs/new"));
    // A folder that the server has already is entered, neither created nor counted.
    QDir().mkpath(site + QStringLiteral("there"));
    QDir().mkpath(OnServer(QStringLiteral("there")));
    Upload();
    EXPECT_EQ(frontEnd.TextsStartingWith(QStringLiteral("creating of the folder ")),
              QStringList{QStringLiteral("creating of the folder /docs/new/")});
    EXPECT_EQ(frontEnd.LastLine(),
              QStringLiteral("1 folder(s) have been created and 0 file(s) have been uploaded"));
    EXPECT_TRUE(QFileInfo(OnServer(QStringLiteral("docs/new"))).isDir());
    EXPECT_EQ(project->Versions.FindOrAdd(QStringLiteral("there\\"))->Date, 1);
    EXPECT_EQ(project->Versions.FindOrAdd(QStringLiteral("docs\\new\\"))->Date, 1);
    EXPECT_TRUE(Sync("docs\\new\\"));
}

TEST_P(Publish, SafeUploadGoesThroughTheTemporaryName)
{
    SetBool(*project, "SafeUpload", true);
    SetText(*project, "SafeUploadSize", QStringLiteral("0"));
    Write(QStringLiteral("big.bin"), RandomBytes(30000, 3));
    Write(QStringLiteral("zero.bin"), QByteArray());
    Upload();
    const QStringList log = server->ProtocolLog();
    const qsizetype stor = log.indexOf(QStringLiteral("STOR /big.bin_safeupload"));
    const qsizetype rnfr = log.indexOf(QStringLiteral("RNFR /big.bin_safeupload"));
    const qsizetype rnto = log.indexOf(QStringLiteral("RNTO /big.bin"));
    ASSERT_GE(stor, 0) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(rnfr, stor);
    EXPECT_EQ(rnto, rnfr + 1);
    EXPECT_EQ(log.indexOf(QStringLiteral("STOR /big.bin")), -1);
    // An empty file goes directly.
    EXPECT_GE(log.indexOf(QStringLiteral("STOR /zero.bin")), 0);
    EXPECT_EQ(log.indexOf(QStringLiteral("STOR /zero.bin_safeupload")), -1);
    EXPECT_EQ(ReadWholeFile(OnServer(QStringLiteral("big.bin"))), RandomBytes(30000, 3));
    EXPECT_FALSE(QFileInfo::exists(OnServer(QStringLiteral("big.bin_safeupload"))));

    // The second time the old copy is deleted before the rename.
    Write(QStringLiteral("big.bin"), RandomBytes(20000, 4));
    SetFileAge(site + QStringLiteral("big.bin"), 60);
    Upload();
    EXPECT_EQ(ReadWholeFile(OnServer(QStringLiteral("big.bin"))), RandomBytes(20000, 4));
    EXPECT_EQ(CommandCount(QStringLiteral("DELE /big.bin")), 2);
}

TEST_P(Publish, PerlScriptsGoInAsciiAndBecomeExecutable)
{
    SetBool(*project, "SetPermission", true);
    const QByteArray script = "#!/usr/bin/perl\nprint \"Content-type: text/plain\\n\\n\";\n";
    Write(QStringLiteral("cgi/a.pl"), script);
    Write(QStringLiteral("cgi/b.gif"), RandomBytes(1000, 5));
    Upload();
    EXPECT_EQ(frontEnd.Texts().mid(3),
              (QStringList{QStringLiteral("creating of the folder /cgi/"),
                           QStringLiteral("uploading ") + site + QStringLiteral("cgi/a.pl"),
                           QStringLiteral("set permission to 755"),
                           QStringLiteral("uploading ") + site + QStringLiteral("cgi/b.gif"),
                           QStringLiteral("1 folder(s) have been created and 2 file(s) have "
                                          "been uploaded")}));
    const QStringList log = server->ProtocolLog();
    const qsizetype store = log.indexOf(QStringLiteral("STOR /cgi/a.pl_safeupload"));
    ASSERT_GE(store, 0);
    const qsizetype typeA = log.lastIndexOf(QRegularExpression(QStringLiteral("^TYPE A")), store);
    const qsizetype typeI = log.lastIndexOf(QRegularExpression(QStringLiteral("^TYPE I")), store);
    EXPECT_GT(typeA, typeI);
    EXPECT_GE(log.indexOf(QStringLiteral("SITE CHMOD 755 /cgi/a.pl")), 0);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(OnServer(QStringLiteral("cgi/a.pl"))).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    // Line ends stay as they are.
    EXPECT_EQ(ReadWholeFile(OnServer(QStringLiteral("cgi/a.pl"))), script);
    EXPECT_EQ(log.indexOf(QStringLiteral("SITE CHMOD 755 /cgi/b.gif")), -1);
}

TEST_P(Publish, CompareMarksMissingAndResizedFiles)
{
    SetBool(*project, "CheckSize", true);
    Write(QStringLiteral("a.html"), QByteArray(100, 'a'));
    Write(QStringLiteral("b.gif"), RandomBytes(1000, 6));
    Write(QStringLiteral("c.gif"), RandomBytes(500, 7));
    Write(QStringLiteral("d/e.gif"), RandomBytes(300, 8));
    Upload();

    // The server changes behind our back.
    QFile::remove(OnServer(QStringLiteral("c.gif")));
    WriteOnServer(QStringLiteral("b.gif"), RandomBytes(1007, 6));
    WriteOnServer(QStringLiteral("a.html"), QByteArray(105, 'a')); // text: sizes are not compared
    WriteOnServer(QStringLiteral("extra.txt"), QByteArray(10, 'x'));
    QDir().mkpath(OnServer(QStringLiteral("xdir")));
    WriteOnServer(QStringLiteral("ignored.bak"), "ignored on the server too");
    // An ignored folder is reported once and not entered.
    TXMLStore *filter = project->Nodes(QStringLiteral("Filters"))->Add();
    filter->Name = QStringLiteral("Filter");
    filter->Nodes(QStringLiteral("Mask"))->SetAsString(QStringLiteral("stats\\"));
    filter->Nodes(QStringLiteral("Options"))->SetAsString(QStringLiteral(":no"));
    WriteOnServer(QStringLiteral("stats/hits.txt"), "12345");

    Run(pkCompare);
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    const QStringList lines = frontEnd.Texts();
    EXPECT_EQ(lines.value(0), QStringLiteral("Compare of the local and server files"));
    EXPECT_TRUE(lines.contains(QStringLiteral("scaning of the server folders")));
    EXPECT_TRUE(lines.contains(QStringLiteral("    checking /")));
    EXPECT_TRUE(lines.contains(QStringLiteral("    checking /d")));
    EXPECT_TRUE(lines.contains(QStringLiteral("    checking /xdir")));
    QStringList ignored = frontEnd.Texts(2);
    ignored.sort();
    EXPECT_EQ(ignored, (QStringList{QStringLiteral("file has been ignored /ignored.bak"),
                                    QStringLiteral("folder has been ignored /stats")}));
    EXPECT_FALSE(lines.contains(QStringLiteral("    checking /stats")));
    EXPECT_TRUE(lines.contains(QStringLiteral("2 folder(s) and 4 file(s) (") + FormatSize(1422)
                               + QStringLiteral(") have been found on server")));
    EXPECT_TRUE(lines.contains(QStringLiteral("file ") + site
                               + QStringLiteral("c.gif is not exists on server")));
    EXPECT_TRUE(lines.contains(QStringLiteral("files \"") + site
                               + QStringLiteral("b.gif\" and \"/b.gif\" have different size")));
    EXPECT_EQ(lines.filter(QStringLiteral("a.html")).size(), 0);

    const qsizetype stats = lines.indexOf(QStringLiteral("Server statistics"));
    ASSERT_GE(stats, 0);
    EXPECT_EQ(lines.mid(stats),
              (QStringList{QStringLiteral("Server statistics"), QStringLiteral("    Folders: 2"),
                           QStringLiteral("    Files: 4 (") + FormatSize(1422) + QLatin1Char(')'),
                           QStringLiteral("    1 folders exists on the server but does not exist "
                                          "in the local system"),
                           QStringLiteral("    1 files (10 byte) exists on the server but does "
                                          "not exist in the local system"),
                           QStringLiteral("Local statistics"), QStringLiteral("    Folders: 1"),
                           QStringLiteral("    Files: 4 (") + FormatSize(1900) + QLatin1Char(')'),
                           QStringLiteral("    2 files (") + FormatSize(1500)
                               + QStringLiteral(") need uploading")}));
    EXPECT_FALSE(Sync("b.gif"));
    EXPECT_FALSE(Sync("c.gif"));
    EXPECT_TRUE(Sync("a.html"));
    EXPECT_TRUE(Sync("d\\e.gif"));
    EXPECT_FALSE(Sync(""));

    Upload();
    EXPECT_EQ(Uploaded(), (QStringList{QStringLiteral("b.gif"), QStringLiteral("c.gif")}));
    EXPECT_EQ(ReadWholeFile(OnServer(QStringLiteral("b.gif"))), RandomBytes(1000, 6));
}

TEST_P(Publish, CompareOfAFreshListStillPrintsStatistics)
{
    Write(QStringLiteral("a.gif"), RandomBytes(10, 9));
    Run(pkCompare); // the list was empty: nothing to check, then the local scan
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_TRUE(frontEnd.Texts().contains(QStringLiteral("Local statistics")));
    EXPECT_TRUE(frontEnd.Texts().contains(QStringLiteral("    1 files (10 byte) need uploading")));
    EXPECT_TRUE(frontEnd.Texts().filter(QStringLiteral("is not exists")).isEmpty());
}

// ---- server-only entries ----

class ServerOnly : public Publish
{
protected:
    void SetUp() override
    {
        Publish::SetUp();
        if (HasFatalFailure())
            return;
        Write(QStringLiteral("keep.txt"), "keep");
        Upload();
        WriteOnServer(QStringLiteral("only/a.txt"), "aaaa");
        WriteOnServer(QStringLiteral("only/b.txt"), "bbbbbb");
        WriteOnServer(QStringLiteral("z.txt"), "zz");
    }

    // The entry a question was about.
    static QString Subject(const QString &question)
    {
        const qsizetype open = question.indexOf(QLatin1Char('"'));
        return question.mid(open + 1, question.indexOf(QLatin1Char('"'), open + 1) - open - 1);
    }
    bool OnServerNow(const QString &name) const { return QFileInfo::exists(OnServer(name.mid(1))); }
};

TEST_P(ServerOnly, RemoveFollowsTheAnswers)
{
    frontEnd.Answers = {mrNo, mrYes, mrNoToAll};
    Run(pkRemove);
    ASSERT_EQ(frontEnd.Questions.size(), 3);
    // Last to first: the folder's contents come before the folder and the top-level file.
    const QString first = Subject(frontEnd.Questions[0]);
    const QString second = Subject(frontEnd.Questions[1]);
    EXPECT_TRUE(first.startsWith(QStringLiteral("/only/"))) << first.toStdString();
    EXPECT_TRUE(second.startsWith(QStringLiteral("/only/"))) << second.toStdString();
    EXPECT_EQ(frontEnd.Questions[0], QStringLiteral("The file \"") + first
                                         + QStringLiteral("\" exists on the server but does not "
                                                          "exist in the local system. Do you want "
                                                          "to remove it from server?"));
    EXPECT_TRUE(OnServerNow(first));
    EXPECT_FALSE(OnServerNow(second));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/z.txt")));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/only")));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/keep.txt")));
    EXPECT_EQ(frontEnd.TextsStartingWith(QStringLiteral("remove")),
              (QStringList{QStringLiteral("remove ") + second}));
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 folder(s) and 1 file(s) have been removed"));
    EXPECT_EQ(frontEnd.Texts(0).value(0),
              QStringLiteral("Remove the server files which do not exist in local system"));
}

TEST_P(ServerOnly, RemoveYesToAllEmptiesFoldersFirst)
{
    frontEnd.Answers = {mrYesToAll};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    EXPECT_FALSE(frontEnd.HadErrors);
    EXPECT_EQ(TreeOf(server->Root),
              (QMap<QString, QByteArray>{{QStringLiteral("keep.txt"), "keep"}}));
    const QStringList removals = frontEnd.TextsStartingWith(QStringLiteral("remove"));
    ASSERT_EQ(removals.size(), 4);
    const qsizetype folder = removals.indexOf(QStringLiteral("remove of the folder /only"));
    EXPECT_GT(folder, removals.indexOf(QStringLiteral("remove /only/a.txt")));
    EXPECT_GT(folder, removals.indexOf(QStringLiteral("remove /only/b.txt")));
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("1 folder(s) and 3 file(s) have been removed"));
    EXPECT_TRUE(frontEnd.StatusTexts.contains(QStringLiteral("0 of 4 items removed")));
    EXPECT_TRUE(frontEnd.StatusTexts.contains(QStringLiteral("3 of 4 items removed")));
}

TEST_P(ServerOnly, RemoveCancelledAtTheFirstQuestion)
{
    frontEnd.Answers = {mrCancel};
    Run(pkRemove);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    EXPECT_TRUE(frontEnd.Aborted);
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 folder(s) and 0 file(s) have been removed"));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/only/a.txt")));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/only/b.txt")));
    EXPECT_TRUE(OnServerNow(QStringLiteral("/z.txt")));
}

TEST_P(ServerOnly, DeclinedFileKeepsItsFolder)
{
    frontEnd.Answers = {mrNo, mrYes, mrYes, mrYes};
    Run(pkRemove);
    ASSERT_EQ(frontEnd.Questions.size(), 4);
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Texts(1).size(), 1); // the folder is not empty
    EXPECT_TRUE(OnServerNow(QStringLiteral("/only")));
    EXPECT_FALSE(OnServerNow(QStringLiteral("/z.txt")));
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 folder(s) and 2 file(s) have been removed"));
}

TEST_P(ServerOnly, DownloadCreatesFoldersAndRecordsFiles)
{
    frontEnd.Answers = {mrYes, mrYes, mrYes, mrYes};
    Run(pkDownload);
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Texts(1).join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(frontEnd.Questions.size(), 4);
    const QString folderQuestion
        = QStringLiteral("The folder \"/only\" exists on the server but does not exist in the "
                         "local system. Do you want to create it in local system?");
    const qsizetype folderAsked = frontEnd.Questions.indexOf(folderQuestion);
    ASSERT_GE(folderAsked, 0) << frontEnd.Questions.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(folderAsked, frontEnd.Questions.indexOf(
                               QStringLiteral("The file \"/only/a.txt\" exists on the server but "
                                              "does not exist in the local system. Do you want to "
                                              "download it from server?")));
    EXPECT_EQ(ReadWholeFile(site + QStringLiteral("only/a.txt")), QByteArray("aaaa"));
    EXPECT_EQ(ReadWholeFile(site + QStringLiteral("only/b.txt")), QByteArray("bbbbbb"));
    EXPECT_EQ(ReadWholeFile(site + QStringLiteral("z.txt")), QByteArray("zz"));
    EXPECT_TRUE(frontEnd.Texts().contains(QStringLiteral("downloading /only/b.txt")));
    EXPECT_TRUE(frontEnd.Texts().contains(QStringLiteral("3 file(s) have been downloaded")));
    // The refresh that follows shows them as being in step with the server.
    EXPECT_EQ(frontEnd.FillViews, 1);
    EXPECT_TRUE(Sync("only\\"));
    EXPECT_TRUE(Sync("only\\a.txt"));
    EXPECT_TRUE(Sync("z.txt"));
    EXPECT_TRUE(Sync(""));
    EXPECT_EQ(project->Versions.FindOrAdd(QStringLiteral("only\\"))->Date, 1);

    // Nothing is left to do: no question, zeros, no refresh.
    Run(pkDownload);
    EXPECT_TRUE(frontEnd.Questions.isEmpty());
    EXPECT_EQ(frontEnd.LastLine(), QStringLiteral("0 file(s) have been downloaded"));
    EXPECT_EQ(frontEnd.FillViews, 0);
}

TEST_P(ServerOnly, DownloadSkipsNamesThatAreNoLocalPath)
{
    // A legal server name that would mean "we/ird.txt" once it is a relative name.
    WriteOnServer(QStringLiteral("we\\ird.txt"), "w");
    frontEnd.Answers = {mrYesToAll};
    Run(pkDownload);
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_EQ(frontEnd.Texts(1),
              QStringList{QStringLiteral("file /we\\ird.txt has been skipped: unsafe name")});
    EXPECT_TRUE(frontEnd.Texts().contains(QStringLiteral("3 file(s) have been downloaded")));
    EXPECT_FALSE(QFileInfo::exists(site + QStringLiteral("we\\ird.txt")));
    EXPECT_FALSE(QFileInfo::exists(site + QStringLiteral("we")));
}

INSTANTIATE_TEST_SUITE_P(Servers, Publish, ::testing::Values("pyftpdlib", "vsftpd"));
INSTANTIATE_TEST_SUITE_P(Servers, ServerOnly, ::testing::Values("pyftpdlib", "vsftpd"));

} // namespace
