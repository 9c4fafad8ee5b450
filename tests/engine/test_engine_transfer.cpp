// Servers that report success for transfers they did not make whole: no such file is recorded,
// each gets an error line naming it, and a sound server then gets the whole site. Progress
// shows what a slow server holds, not what the system's send buffer took.
#include "tests/engine/EngineTestSupport.h"

struct TTransferCase
{
    const char *Server; // "pyftpdlib" or "vsftpd"
    const char *Fault;  // pyftpdlib's transfer fault, "" for none
    bool Safe;          // safe upload
    bool CheckSize;
    int Connections;
};

class TransferFault : public SiteTest, public ::testing::WithParamInterface<TTransferCase>
{
protected:
    void SetUp() override
    {
        const TTransferCase &c = GetParam();
        Write("a.bin", RandomBytes(70001, 1));
        Write("img/b.gif", RandomBytes(3000, 2));
        Write("img/c.jpg", RandomBytes(300000, 3));
        Write("deep/er/d.bin", RandomBytes(1, 4));
        Write("index.html", QByteArray("<p>line\n").repeated(500));
        Write("deep/dos.html", QByteArray("<p>line\r\n").repeated(300) + "end\r\r\n\n");
        Serve(GetParam().Server, {.TransferFault = c.Fault}, c.Connections);
        Set(*project, "SafeUpload", c.Safe ? "1" : "0");
        Set(*project, "CheckSize", c.CheckSize ? "1" : "0");
    }
    // Both servers drop the CR of each CR LF of a text file sent in ASCII mode.
    QMap<QString, QByteArray> SiteAsStored() const
    {
        QMap<QString, QByteArray> tree = TreeOf(site);
        for (auto it = tree.begin(); it != tree.end(); ++it) {
            if (FindItem(list, QString(it.key()).replace('/', '\\'))->IsAscii)
                it.value().replace("\r\n", "\n");
        }
        return tree;
    }
};

TEST_P(TransferFault, NothingShortIsRecordedAndTheNextUploadMendsTheServer)
{
    const TTransferCase &c = GetParam();
    const QByteArray before = "the live copy"; // a safe upload must leave it
    for (const char *name : {"a.bin", "img/c.jpg", "index.html"})
        WriteWholeFile(OnServer(name), before);

    Run(pkUpload);
    QMap<QString, QByteArray> stored; // files only, by their record names
    for (const auto &[name, data] : SiteAsStored().asKeyValueRange())
        if (!name.endsWith('/'))
            stored.insert(QString(name).replace('/', '\\'), data);
    const QStringList files = stored.keys();
    ASSERT_EQ(files.size(), 6);
    if (!*c.Fault) {
        // A sound server passes the check in both modes; every file was asked about.
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.ErrorDump();
        EXPECT_EQ(TreeOf(server->Root), SiteAsStored());
        EXPECT_EQ(server->ProtocolLog().filter(QRegularExpression("^(SIZE|MLST) ")).size(), 6);
        return;
    }

    EXPECT_FALSE(frontEnd.Aborted);
    ASSERT_EQ(frontEnd.Errors.size(), files.size()) << frontEnd.ErrorDump();
    const bool truncated = QString::fromLatin1(c.Fault) == "stor-truncate";
    for (const QString &file : files) {
        const QString local = site + QString(file).replace('\\', '/');
        EXPECT_EQ(project->Versions.FindOrAdd(file)->Date, 0) << file.toStdString();
        EXPECT_FALSE(Sync(list, file));
        // One error line names the file and, for a short copy, both sizes.
        const qsizetype sent = QFileInfo(local).size(), held = stored.value(file).size() / 2;
        const QString expected
            = truncated
                  ? local
                        + QString(" did not reach the server whole: it holds %1 bytes of "
                                  "the %2 sent")
                              .arg(held)
                              .arg(sent)
                  : "The server received no data for " + local + " although it reported success";
        EXPECT_EQ(frontEnd.Errors.count(expected), 1) << expected.toStdString() << "\n"
                                                      << frontEnd.ErrorDump();
    }
    EXPECT_TRUE(frontEnd.LastLine().endsWith(" and 0 file(s) have been uploaded"));
    // The live copies stay as they were unless they were written to directly.
    for (const char *name : {"a.bin", "img/c.jpg", "index.html"}) {
        const QByteArray now = ReadWholeFile(OnServer(name));
        if (c.Safe || !truncated)
            EXPECT_EQ(now, before) << name;
        else
            EXPECT_EQ(now, ReadWholeFile(site + name).left(now.size())) << name;
    }

    ASSERT_NO_FATAL_FAILURE(Serve(c.Server, {}, c.Connections));
    Upload();
    EXPECT_EQ(Uploaded().size(), files.size());
    EXPECT_EQ(TreeOf(server->Root), SiteAsStored());
    EXPECT_EQ(list.CountOutdated(true), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransferFault,
    ::testing::Values(TTransferCase{"pyftpdlib", "stor-bare-226", true, false, 1},
                      TTransferCase{"pyftpdlib", "stor-bare-226", false, false, 4},
                      TTransferCase{"pyftpdlib", "stor-truncate", true, true, 1},
                      TTransferCase{"pyftpdlib", "stor-truncate", true, true, 4},
                      TTransferCase{"pyftpdlib", "stor-truncate", false, true, 4},
                      TTransferCase{"pyftpdlib", "", true, true, 4},
                      TTransferCase{"vsftpd", "", true, true, 1},
                      TTransferCase{"vsftpd", "", false, true, 4}));

// A proxy that cannot take commands sent together costs each session a new login and the log
// one line; the server and the records end up as without it.
class PipeliningFault : public SiteTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(PipeliningFault, TheSessionsGoOnOneCommandAtATime)
{
    for (int i = 0; i < 9; ++i)
        Write(QString("f%1/g/page%2.html").arg(i % 3).arg(i), QByteArray(100 * i, 'p'));
    Serve("pyftpdlib", {.PipeliningFault = GetParam()}, 4);
    Set(*project, "Timeout", "2"); // a dropped command shows only as a missing reply
    Upload();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(site));
    EXPECT_EQ(RecordsMatchServer(*project, site, *server), 9);
    EXPECT_EQ(frontEnd.Lines.filter("mishandles commands sent together").size(), 1)
        << frontEnd.Lines.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Proxies, PipeliningFault, ::testing::Values("close", "drop"));

// A RETR answered with success but no data leaves the local file as it was, unrecorded.
TEST_F(SiteTest, ABareReplyToRetrDownloadsNothing)
{
    WriteWholeFile(site + "keep.txt", "local");
    WriteWholeFile(serverRoot.path() + "/keep.txt", "server copy");
    WriteWholeFile(serverRoot.path() + "/only/new.bin", RandomBytes(5000, 9));
    Serve("pyftpdlib", {.TransferFault = "retr-bare-226"});
    frontEnd.Answers = {mrYesToAll};
    Run(pkDownload);
    EXPECT_EQ(
        frontEnd.Errors,
        QStringList{"The server sent no data for /only/new.bin although it reported success"});
    EXPECT_FALSE(frontEnd.Lines.contains("1 file(s) have been downloaded"));
    EXPECT_EQ(TreeOf(site), (QMap<QString, QByteArray>{{"keep.txt", "local"}, {"only/", ""}}));
    EXPECT_EQ(project->Versions.FindOrAdd("only\\new.bin")->Date, 0);
}

class SlowServer : public SiteTest, public ::testing::WithParamInterface<bool>
{
};

// Every percentage shown while 6 MB go to a server taking 1 MB/s, plain and over TLS, is held
// against the size of the file on the server's disk at that moment.
TEST_P(SlowServer, ProgressNeverRunsAheadOfWhatTheServerHolds)
{
    const qint64 size = 6 << 20;
    Write("big.bin", RandomBytes(int(size), 5));
    Serve("pyftpdlib", {.BandwidthLimit = 1 << 20, .Tls = GetParam()});
    Set(*project, "SafeUpload", "0");
    Set(*project, "Encryption", GetParam() ? "require" : "off");
    frontEnd.TrustThem = true;
    int samples = 0, ahead = -100;
    frontEnd.OnProgress = [&](int percent) {
        const qint64 held = QFileInfo(OnServer("big.bin")).size();
        ahead = qMax(ahead, percent - int(held * 100 / size));
        samples += percent > 0 && percent < 100;
    };
    Upload();
    EXPECT_LE(ahead, 5);
    EXPECT_GE(samples, 5);
    EXPECT_EQ(QFileInfo(OnServer("big.bin")).size(), size);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, SlowServer, ::testing::Bool());

// A large file cut off half way, by a lost server or an abort, goes on with the next run from
// what the server holds of its temporary copy and ends byte-exact; one changed meanwhile starts
// over.
class Resume : public SiteTest, public ::testing::WithParamInterface<std::tuple<const char *, bool>>
{
protected:
    const char *kind = std::get<0>(GetParam());
    const bool abort = std::get<1>(GetParam());
    static constexpr int Size = 20 << 20;

    // Sends the site to a slow server and cuts the upload at half; returns the bytes the
    // server holds of the large file's temporary copy.
    qint64 CutAtHalf()
    {
        Serve(kind, {.BandwidthLimit = 8 << 20});
        project->FileName = dir.path() + "/site.zdx"; // the entries go beside it
        frontEnd.OnProgress = [&](int percent) {
            if (percent < 50 || !frontEnd.Current)
                return;
            frontEnd.OnProgress = nullptr;
            if (abort)
                frontEnd.Current->Abort();
            else
                server->Stop();
        };
        Run(pkUpload);
        EXPECT_FALSE(FindItem(list, "media\\big.bin")->Synchronous);
        server->Stop(); // an aborted transfer's last bytes may still reach the disk
        QByteArray held;
        for (const auto &[name, data] : TreeOf(server->Root + "/media").asKeyValueRange()) {
            if (IsSafeUploadTemporary(name))
                held = data;
            else // the live copy is the last one uploaded, whole, if any
                EXPECT_TRUE(name == "big.bin" && data.size() == Size) << name.toStdString();
        }
        EXPECT_TRUE(QFileInfo::exists(ResumeFileOf(project->FileName)));
        return held.size();
    }
    void UploadAtFullSpeed()
    {
        Serve(kind);
        Upload();
        EXPECT_EQ(TreeOf(server->Root), TreeOf(site)); // byte-exact, no temporary copy left
        EXPECT_FALSE(QFileInfo::exists(ResumeFileOf(project->FileName)));
    }
};

TEST_P(Resume, AnUploadCutAtHalfGoesOnFromWhatTheServerHolds)
{
    Write("media/big.bin", RandomBytes(Size, 7));
    Write("index.html", "<p>home");
    const qint64 held = CutAtHalf();
    ASSERT_GT(held, 0);
    ASSERT_LT(held, Size);
    // A compare removes the copies of uploads that were cut off, but not one to go on from.
    Serve(kind);
    Run(pkCompare);
    EXPECT_EQ(frontEnd.StartingWith("the temporary file ").filter(" is kept: ").size(), 1)
        << frontEnd.Dump();
    UploadAtFullSpeed();
    EXPECT_EQ(frontEnd.StartingWith("resumed at byte "),
              QStringList{QString("%1 of %2: the server held the first part from an earlier "
                                  "upload")
                              .arg(held)
                              .arg(Size)})
        << frontEnd.Dump();
    EXPECT_EQ(Commands().filter(QRegularExpression("^REST ")),
              QStringList{QString("REST %1").arg(held)});

    // Rewritten after the cut: what the server holds is of another version.
    Write("media/big.bin", RandomBytes(Size, 8));
    ASSERT_GT(CutAtHalf(), 0);
    Write("media/big.bin", RandomBytes(Size, 9));
    UploadAtFullSpeed();
    EXPECT_TRUE(frontEnd.StartingWith("resumed at byte ").isEmpty()) << frontEnd.Dump();
    EXPECT_EQ(CommandCount("REST "), 0);
}

INSTANTIATE_TEST_SUITE_P(Cuts, Resume,
                         ::testing::Values(std::make_tuple("pyftpdlib", false),
                                           std::make_tuple("vsftpd", true)));
