// The FTP window's worker against real servers: order of work, tree transfers, reconnection,
// abort, and what a hostile listing can make it write.
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/ftpwindow/FtpWinActions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

// Every event the operator raised, in order, as short texts.
struct TRecorder
{
    QStringList Events;
    QStringList Errors;
    QList<int> Percents;
    QStringList Names;
};

void Hook(TFtpOperator &worker, TRecorder &record)
{
    worker.OnBegin = [&record](TFtpOperator *) { record.Events << "begin"; };
    worker.OnEnd = [&record](TFtpOperator *) { record.Events << "end"; };
    worker.OnClearList = [&record](TFtpOperator *) {
        record.Events << "clear";
        record.Names.clear();
    };
    worker.OnAddFile = [&record](TFtpOperator *, std::unique_ptr<TFtpFileData> data) {
        record.Names << (data->IsFolder ? data->Name + QLatin1Char('/') : data->Name);
    };
    worker.OnError = [&record](TFtpOperator *, const QString &text) {
        record.Events << "error";
        record.Errors << text;
    };
    worker.OnStatus = [&record](TFtpOperator *, const QString &text, int percent) {
        record.Events << text;
        record.Percents << percent;
    };
}

// A worker for `server` whose events go to `record`.
std::unique_ptr<TFtpOperator> NewWorker(const TFtpTestServer &server, TRecorder &record)
{
    auto worker = std::make_unique<TFtpOperator>();
    Hook(*worker, record);
    TFtp &ftp = worker->Ftp();
    ftp.ServerName = server.Host;
    ftp.ServerPort = server.Port;
    ftp.UserName = server.User;
    ftp.Password = server.Password;
    ftp.Passive = true;
    return worker;
}

bool RunAndWait(TFtpOperator &worker, TFtpAction &action)
{
    worker.RunAction(&action);
    return WaitUntil([&worker] { return !worker.Busy(); }, 60000);
}

using TStart = std::unique_ptr<TFtpTestServer> (*)();

std::string ErrorsOf(const TRecorder &record)
{
    return record.Errors.join(QLatin1Char('\n')).toStdString();
}

// A server of the parameter's kind and a worker configured for it, its events recorded.
class FtpOperatorOnServers : public ::testing::TestWithParam<TStart>
{
protected:
    void SetUp() override
    {
        server = GetParam()();
        ASSERT_TRUE(server);
        worker = NewWorker(*server, record);
    }
    void Put(const QString &path, const QByteArray &data = "x")
    {
        WriteWholeFile(server->LocalPath(path), data);
    }

    std::unique_ptr<TFtpTestServer> server;
    TRecorder record;
    std::unique_ptr<TFtpOperator> worker;
};

} // namespace

TEST_P(FtpOperatorOnServers, ListsEntersFoldersAndIgnoresARequestWhileBusy)
{
    Put("/index.html", "<html/>");
    Put("/docs/a.txt", "a");

    TFtpAction action(fakList);
    worker->RunAction(&action);
    TFtpAction other(fakMakeFolder);
    other.AddItem("never");
    worker->RunAction(&other); // ignored: one action at a time
    ASSERT_TRUE(WaitUntil([this] { return !worker->Busy(); }));
    EXPECT_EQ(record.Events.count(QStringLiteral("begin")), 1);
    EXPECT_EQ(record.Events.first(), "begin");
    EXPECT_EQ(record.Events.last(), "end");
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(record.Events.at(record.Events.size() - 2), "Done");
    EXPECT_FALSE(worker->Failed());
    EXPECT_EQ(action.Path, "/");
    record.Names.sort();
    EXPECT_EQ(record.Names, QStringList({"docs/", "index.html"}));
    EXPECT_FALSE(QFileInfo::exists(server->LocalPath("/never")));

    record.Events.clear();
    action.AddItem("docs");
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Checking the connection")));
    EXPECT_FALSE(record.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(action.Path, "/docs");
    EXPECT_EQ(record.Names, QStringList{"a.txt"});

    action.ClearItems();
    action.AddItem("..");
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_EQ(action.Path, "/");
    EXPECT_EQ(record.Names.size(), 2);
}

TEST_P(FtpOperatorOnServers, DeletesANestedFolderFilesFirstThenDeepestFolders)
{
    for (const char *path : {"/t/a.txt", "/t/s1/b.txt", "/t/s1/s2/c.txt", "/keep.txt"})
        Put(QString::fromLatin1(path));
    QDir().mkpath(server->LocalPath("/t/empty"));

    TFtpAction action(fakDelete);
    action.Folders << "t";
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << ErrorsOf(record);
    EXPECT_FALSE(QFileInfo::exists(server->LocalPath("/t")));
    EXPECT_EQ(record.Names, QStringList{"keep.txt"}); // listed afterwards

    QStringList removals;
    for (const QString &line : server->ProtocolLog()) {
        if (line.startsWith(QLatin1String("DELE ")) || line.startsWith(QLatin1String("RMD ")))
            removals << line;
    }
    const int firstFolder = int(
        std::find_if(removals.begin(), removals.end(),
                     [](const QString &line) { return line.startsWith(QLatin1String("RMD ")); })
        - removals.begin());
    ASSERT_GE(firstFolder, 3) << removals.join(QLatin1Char('\n')).toStdString();
    for (int i = 0; i < removals.size(); ++i)
        EXPECT_EQ(removals[i].startsWith(QLatin1String("DELE ")), i < firstFolder);
    auto at = [&removals](const char *line) { return removals.indexOf(QString::fromLatin1(line)); };
    EXPECT_LT(at("RMD /t/s1/s2"), at("RMD /t/s1"));
    EXPECT_LT(at("RMD /t/s1"), at("RMD t"));
    EXPECT_LT(at("RMD /t/empty"), at("RMD t"));
    EXPECT_EQ(removals.last(), "RMD t");
}

TEST_P(FtpOperatorOnServers, DownloadsATreeMakingOnlyFoldersThatHoldFilesAndAsksAboutAFileInTheWay)
{
    Put("/top.txt", "top");
    Put("/t/a.txt", "alpha");
    Put("/t/s1/s2/c.bin", QByteArray(70000, '\x01'));
    QDir().mkpath(server->LocalPath("/t/hollow/deeper"));

    // A local file in the way is asked about with what the listing said of the server's copy.
    QTemporaryDir target;
    WriteWholeFile(target.path() + "/t/a.txt", "mine");
    QList<TFtpReplaceQuestion> questions;
    worker->OnAskReplace = [&questions](TFtpOperator *, const TFtpReplaceQuestion &question) {
        questions << question;
        return TReplaceAnswer::No;
    };
    TFtpAction action(fakDownload);
    action.AddItem("top.txt", 3);
    action.Folders << "t";
    action.LocalFolder = target.path();
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << ErrorsOf(record);
    EXPECT_FALSE(record.Events.contains(QStringLiteral("clear"))); // no listing follows
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].LocalPath, target.path() + "/t/a.txt");
    EXPECT_EQ(questions[0].LocalSize, 4);
    EXPECT_EQ(questions[0].RemotePath, "/t/a.txt");
    EXPECT_EQ(questions[0].RemoteSize, 5);
    EXPECT_LT(std::abs(questions[0].RemoteDate.secsTo(QDateTime::currentDateTime())), 120);
    const QMap<QString, QByteArray> expected{
        {"top.txt", "top"}, {"t/", {}},       {"t/a.txt", "mine"},
        {"t/s1/", {}},      {"t/s1/s2/", {}}, {"t/s1/s2/c.bin", QByteArray(70000, '\x01')},
    };
    EXPECT_EQ(TreeOf(target.path()), expected);
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Download the file /t/s1/s2/c.bin")));
}

TEST_P(FtpOperatorOnServers, UploadsADroppedTreeIntoAnExistingFolder)
{
    QDir().mkpath(server->LocalPath("/site/sub"));
    QTemporaryDir local;
    WriteWholeFile(local.path() + "/site/index.html", "home");
    WriteWholeFile(local.path() + "/site/.htaccess", "deny");
    WriteWholeFile(local.path() + "/site/sub/deep/x.txt", "x");
    WriteWholeFile(local.path() + "/loose.txt", "loose");

    TFtpAction action(fakUpload);
    action.Folders << local.path() + "/site";
    action.AddItem(local.path() + "/loose.txt");
    action.LocalFolder = local.path();
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << ErrorsOf(record);
    EXPECT_EQ(TreeOf(server->Root), TreeOf(local.path()));
    record.Names.sort();
    EXPECT_EQ(record.Names, QStringList({"loose.txt", "site/"}));
}

TEST_P(FtpOperatorOnServers, AFreshConnectToAMissingFolderReportsItAndListsTheStart)
{
    Put("/here.txt", "1");
    TFtpAction action(fakList);
    action.Path = "/gone/away";
    ASSERT_TRUE(RunAndWait(*worker, action));
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_TRUE(worker->Failed());
    EXPECT_EQ(action.Path, "/");
    EXPECT_EQ(record.Names, QStringList{"here.txt"});
}

TEST_P(FtpOperatorOnServers, RenameSendsNoListingAndAFailedOneShowsTheServersText)
{
    Put("/old.txt", "1");
    TFtpAction action(fakRename);
    action.AddItem("old.txt");
    action.AddItem("new name.txt");
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Errors.isEmpty());
    EXPECT_FALSE(record.Events.contains(QStringLiteral("clear")));
    EXPECT_TRUE(QFileInfo::exists(server->LocalPath("/new name.txt")));

    ASSERT_TRUE(RunAndWait(*worker, action)); // old.txt is gone now
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_FALSE(record.Errors[0].isEmpty());
    EXPECT_FALSE(record.Errors[0].at(0).isDigit()) << record.Errors[0].toStdString();
    EXPECT_TRUE(worker->Failed());
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpOperatorOnServers,
                         ::testing::Values<TStart>(
                             +[] { return StartPyftpdlib(); }, +[] { return StartVsftpd(); }),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "pyftpdlib" : "vsftpd");
                         });

TEST(FtpOperator, AbortCutsALargeDownloadAtOnceAndTheNextWorkerConnectsAfresh)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 2 * 1024 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath("/start"));
    QFile big(server->LocalPath("/start/big.bin"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(100LL * 1024 * 1024));
    QTemporaryDir target;
    TRecorder record;
    auto worker = NewWorker(*server, record);
    TFtpAction action(fakDownload);
    action.Path = "/start";
    action.AddItem("big.bin", 100LL * 1024 * 1024);
    action.LocalFolder = target.path();
    worker->RunAction(&action);
    ASSERT_TRUE(
        WaitUntil([&record] { return !record.Percents.isEmpty() && record.Percents.last() >= 1; }));
    EXPECT_TRUE(worker->Busy());

    QElapsedTimer timer;
    timer.start();
    worker.reset();
    EXPECT_LT(timer.elapsed(), 500);
    const int eventsAtAbort = int(record.Events.size());
    QTest::qWait(400);
    EXPECT_EQ(record.Events.size(), eventsAtAbort) << "the discarded worker reported again";
    EXPECT_FALSE(record.Events.contains(QStringLiteral("end")));

    TRecorder fresh;
    auto next = NewWorker(*server, fresh);
    TFtpAction list(fakList);
    list.Path = "/start";
    ASSERT_TRUE(RunAndWait(*next, list));
    EXPECT_TRUE(fresh.Errors.isEmpty());
    EXPECT_TRUE(fresh.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(list.Path, "/start");
    EXPECT_EQ(fresh.Names, QStringList{"big.bin"});
}

// The window shows the note on its status line: a folder that looks empty says why.
TEST(FtpOperator, AListingItCannotReadLeavesANoteSayingSo)
{
    TPyftpdlibOptions options;
    options.ListingFault = "unreadable";
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath("/a.txt"), "a");
    TRecorder record;
    auto worker = NewWorker(*server, record);
    TFtpAction action(fakList);
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(record.Names.isEmpty());
    EXPECT_EQ(worker->ListingNote(),
              "1 line of the listing of / could not be read: \"type=file;size=4 a.txt\"");
}

TEST(FtpOperator, AHostileListingNeverLeadsADownloadOutOfItsFolder)
{
    TPyftpdlibOptions options;
    options.HostileListing = true;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath("/d/ok.txt"), "ok");
    WriteWholeFile(server->LocalPath("/d/e/f.txt"), "f");
    WriteWholeFile(server->LocalPath("/escape.txt"), "bad");
    WriteWholeFile(server->LocalPath("/up.txt"), "bad");

    QTemporaryDir parent;
    const QString target = parent.path() + "/target";
    QDir().mkpath(target);
    TRecorder record;
    auto worker = NewWorker(*server, record);
    TFtpAction action(fakDownload);
    action.Folders << "d";
    // As if a window had taken these names from the listing unchecked.
    action.AddItem("../escape.txt", 3);
    action.AddItem("/d/../../up.txt", 3);
    action.LocalFolder = target;
    ASSERT_TRUE(RunAndWait(*worker, action));

    EXPECT_EQ(TreeOf(parent.path()), (QMap<QString, QByteArray>{
                                         {"target/", {}},
                                         {"target/d/", {}},
                                         {"target/d/ok.txt", "ok"},
                                         {"target/d/e/", {}},
                                         {"target/d/e/f.txt", "f"},
                                     }));
    EXPECT_FALSE(QFileInfo::exists("/tmp/zandrel-absolute.txt"));
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_TRUE(record.Errors[0].contains(QStringLiteral("../escape.txt")))
        << record.Errors[0].toStdString();
    for (const QString &line : server->ProtocolLog())
        EXPECT_FALSE(line.startsWith(QLatin1String("RETR"))
                     && line.contains(QLatin1String("up.txt")))
            << line.toStdString();
}
