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
    worker.OnBegin = [&record](TFtpOperator *) { record.Events << QStringLiteral("begin"); };
    worker.OnEnd = [&record](TFtpOperator *) { record.Events << QStringLiteral("end"); };
    worker.OnClearList = [&record](TFtpOperator *) {
        record.Events << QStringLiteral("clear");
        record.Names.clear();
    };
    worker.OnAddFile = [&record](TFtpOperator *, std::unique_ptr<TFtpFileData> data) {
        record.Names << (data->IsFolder ? data->Name + QLatin1Char('/') : data->Name);
    };
    worker.OnError = [&record](TFtpOperator *, const QString &text) {
        record.Events << QStringLiteral("error");
        record.Errors << text;
    };
    worker.OnStatus = [&record](TFtpOperator *, const QString &text, int percent) {
        record.Events << text;
        record.Percents << percent;
    };
}

void Configure(TFtp &ftp, const TFtpTestServer &server)
{
    ftp.ServerName = server.Host;
    ftp.ServerPort = server.Port;
    ftp.UserName = server.User;
    ftp.Password = server.Password;
    ftp.Passive = true;
}

bool RunAndWait(TFtpOperator &worker, TFtpAction &action)
{
    worker.RunAction(&action);
    return WaitUntil([&worker] { return !worker.Busy(); }, 60000);
}

using TStart = std::unique_ptr<TFtpTestServer> (*)();
std::unique_ptr<TFtpTestServer> Pyftpdlib()
{
    return StartPyftpdlib();
}
std::unique_ptr<TFtpTestServer> Vsftpd()
{
    return StartVsftpd();
}

// A server of the parameter's kind and a worker configured for it, its events recorded.
class FtpOperatorOnServers : public ::testing::TestWithParam<TStart>
{
protected:
    void SetUp() override
    {
        server = GetParam()();
        ASSERT_TRUE(server);
        Hook(worker, record);
        Configure(worker.Ftp(), *server);
    }
    void Put(const QString &path, const QByteArray &data = "x")
    {
        WriteWholeFile(server->LocalPath(path), data);
    }

    std::unique_ptr<TFtpTestServer> server;
    TRecorder record;
    TFtpOperator worker;
};

} // namespace

TEST_P(FtpOperatorOnServers, ListsEntersFoldersAndIgnoresARequestWhileBusy)
{
    Put(QStringLiteral("/index.html"), "<html/>");
    Put(QStringLiteral("/docs/a.txt"), "a");

    TFtpAction action(fakList);
    worker.RunAction(&action);
    TFtpAction other(fakMakeFolder);
    other.AddItem(QStringLiteral("never"));
    worker.RunAction(&other); // ignored: one action at a time
    ASSERT_TRUE(WaitUntil([this] { return !worker.Busy(); }));
    EXPECT_EQ(record.Events.count(QStringLiteral("begin")), 1);
    EXPECT_EQ(record.Events.first(), QStringLiteral("begin"));
    EXPECT_EQ(record.Events.last(), QStringLiteral("end"));
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(record.Events.at(record.Events.size() - 2), QStringLiteral("Done"));
    EXPECT_FALSE(worker.Failed());
    EXPECT_EQ(action.Path, QStringLiteral("/"));
    record.Names.sort();
    EXPECT_EQ(record.Names, QStringList({QStringLiteral("docs/"), QStringLiteral("index.html")}));
    EXPECT_FALSE(QFileInfo::exists(server->LocalPath(QStringLiteral("/never"))));

    record.Events.clear();
    action.AddItem(QStringLiteral("docs"));
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Checking the connection")));
    EXPECT_FALSE(record.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(action.Path, QStringLiteral("/docs"));
    EXPECT_EQ(record.Names, QStringList{QStringLiteral("a.txt")});

    action.ClearItems();
    action.AddItem(QStringLiteral(".."));
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_EQ(action.Path, QStringLiteral("/"));
    EXPECT_EQ(record.Names.size(), 2);
}

TEST_P(FtpOperatorOnServers, DeletesANestedFolderFilesFirstThenDeepestFolders)
{
    for (const char *path : {"/t/a.txt", "/t/s1/b.txt", "/t/s1/s2/c.txt", "/keep.txt"})
        Put(QString::fromLatin1(path));
    QDir().mkpath(server->LocalPath(QStringLiteral("/t/empty")));

    TFtpAction action(fakDelete);
    action.Folders << QStringLiteral("t");
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << record.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(server->LocalPath(QStringLiteral("/t"))));
    EXPECT_EQ(record.Names, QStringList{QStringLiteral("keep.txt")}); // listed afterwards

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
    EXPECT_EQ(removals.last(), QStringLiteral("RMD t"));
}

TEST_P(FtpOperatorOnServers, DownloadsATreeMakingOnlyFoldersThatHoldFiles)
{
    Put(QStringLiteral("/top.txt"), "top");
    Put(QStringLiteral("/t/a.txt"), "alpha");
    Put(QStringLiteral("/t/s1/s2/c.bin"), QByteArray(70000, '\x01'));
    QDir().mkpath(server->LocalPath(QStringLiteral("/t/hollow/deeper")));

    QTemporaryDir target;
    TFtpAction action(fakDownload);
    action.AddItem(QStringLiteral("top.txt"), 3);
    action.Folders << QStringLiteral("t");
    action.LocalFolder = target.path();
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << record.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(record.Events.contains(QStringLiteral("clear"))); // no listing follows
    const QMap<QString, QByteArray> expected{
        {QStringLiteral("top.txt"), "top"},
        {QStringLiteral("t/"), {}},
        {QStringLiteral("t/a.txt"), "alpha"},
        {QStringLiteral("t/s1/"), {}},
        {QStringLiteral("t/s1/s2/"), {}},
        {QStringLiteral("t/s1/s2/c.bin"), QByteArray(70000, '\x01')},
    };
    EXPECT_EQ(TreeOf(target.path()), expected);
    EXPECT_TRUE(record.Events.contains(QStringLiteral("Download the file /t/s1/s2/c.bin")));
}

TEST_P(FtpOperatorOnServers, UploadsADroppedTreeIntoAnExistingFolder)
{
    QDir().mkpath(server->LocalPath(QStringLiteral("/site/sub")));
    QTemporaryDir local;
    WriteWholeFile(local.path() + QStringLiteral("/site/index.html"), "home");
    WriteWholeFile(local.path() + QStringLiteral("/site/.htaccess"), "deny");
    WriteWholeFile(local.path() + QStringLiteral("/site/sub/deep/x.txt"), "x");
    WriteWholeFile(local.path() + QStringLiteral("/loose.txt"), "loose");

    TFtpAction action(fakUpload);
    action.Folders << local.path() + QStringLiteral("/site");
    action.AddItem(local.path() + QStringLiteral("/loose.txt"));
    action.LocalFolder = local.path();
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_TRUE(record.Errors.isEmpty()) << record.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(TreeOf(server->Root), TreeOf(local.path()));
    record.Names.sort();
    EXPECT_EQ(record.Names, QStringList({QStringLiteral("loose.txt"), QStringLiteral("site/")}));
}

TEST_P(FtpOperatorOnServers, AFreshConnectToAMissingFolderReportsItAndListsTheStart)
{
    Put(QStringLiteral("/here.txt"), "1");
    TFtpAction action(fakList);
    action.Path = QStringLiteral("/gone/away");
    ASSERT_TRUE(RunAndWait(worker, action));
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_TRUE(worker.Failed());
    EXPECT_EQ(action.Path, QStringLiteral("/"));
    EXPECT_EQ(record.Names, QStringList{QStringLiteral("here.txt")});
}

TEST_P(FtpOperatorOnServers, RenameSendsNoListingAndAFailedOneShowsTheServersText)
{
    Put(QStringLiteral("/old.txt"), "1");
    TFtpAction action(fakRename);
    action.AddItem(QStringLiteral("old.txt"));
    action.AddItem(QStringLiteral("new name.txt"));
    ASSERT_TRUE(RunAndWait(worker, action));
    EXPECT_TRUE(record.Errors.isEmpty());
    EXPECT_FALSE(record.Events.contains(QStringLiteral("clear")));
    EXPECT_TRUE(QFileInfo::exists(server->LocalPath(QStringLiteral("/new name.txt"))));

    ASSERT_TRUE(RunAndWait(worker, action)); // old.txt is gone now
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_FALSE(record.Errors[0].isEmpty());
    EXPECT_FALSE(record.Errors[0].at(0).isDigit()) << record.Errors[0].toStdString();
    EXPECT_TRUE(worker.Failed());
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpOperatorOnServers, ::testing::Values(&Pyftpdlib, &Vsftpd),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "pyftpdlib" : "vsftpd");
                         });

TEST(FtpOperator, AbortCutsALargeDownloadAtOnceAndTheNextWorkerConnectsAfresh)
{
    TPyftpdlibOptions options;
    options.BandwidthLimit = 2 * 1024 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    QDir().mkpath(server->LocalPath(QStringLiteral("/start")));
    {
        QFile big(server->LocalPath(QStringLiteral("/start/big.bin")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(100LL * 1024 * 1024));
    }
    QTemporaryDir target;
    TRecorder record;
    auto worker = std::make_unique<TFtpOperator>();
    Hook(*worker, record);
    Configure(worker->Ftp(), *server);
    TFtpAction action(fakDownload);
    action.Path = QStringLiteral("/start");
    action.AddItem(QStringLiteral("big.bin"), 100LL * 1024 * 1024);
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
    TFtpOperator next;
    Hook(next, fresh);
    Configure(next.Ftp(), *server);
    TFtpAction list(fakList);
    list.Path = QStringLiteral("/start");
    ASSERT_TRUE(RunAndWait(next, list));
    EXPECT_TRUE(fresh.Errors.isEmpty());
    EXPECT_TRUE(fresh.Events.contains(QStringLiteral("Connect to ") + server->Host));
    EXPECT_EQ(list.Path, QStringLiteral("/start"));
    EXPECT_EQ(fresh.Names, QStringList{QStringLiteral("big.bin")});
}

TEST(FtpOperator, AHostileListingNeverLeadsADownloadOutOfItsFolder)
{
    TPyftpdlibOptions options;
    options.HostileListing = true;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath(QStringLiteral("/d/ok.txt")), "ok");
    WriteWholeFile(server->LocalPath(QStringLiteral("/d/e/f.txt")), "f");
    WriteWholeFile(server->LocalPath(QStringLiteral("/escape.txt")), "bad");
    WriteWholeFile(server->LocalPath(QStringLiteral("/up.txt")), "bad");

    QTemporaryDir parent;
    const QString target = parent.path() + QStringLiteral("/target");
    QDir().mkpath(target);
    TRecorder record;
    TFtpOperator worker;
    Hook(worker, record);
    Configure(worker.Ftp(), *server);
    TFtpAction action(fakDownload);
    action.Folders << QStringLiteral("d");
    // As if a window had taken these names from the listing unchecked.
    action.AddItem(QStringLiteral("../escape.txt"), 3);
    action.AddItem(QStringLiteral("/d/../../up.txt"), 3);
    action.LocalFolder = target;
    ASSERT_TRUE(RunAndWait(worker, action));

    EXPECT_EQ(TreeOf(parent.path()), (QMap<QString, QByteArray>{
                                         {QStringLiteral("target/"), {}},
                                         {QStringLiteral("target/d/"), {}},
                                         {QStringLiteral("target/d/ok.txt"), "ok"},
                                         {QStringLiteral("target/d/e/"), {}},
                                         {QStringLiteral("target/d/e/f.txt"), "f"},
                                     }));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/zandrel-absolute.txt")));
    ASSERT_EQ(record.Errors.size(), 1);
    EXPECT_TRUE(record.Errors[0].contains(QStringLiteral("../escape.txt")))
        << record.Errors[0].toStdString();
    for (const QString &line : server->ProtocolLog())
        EXPECT_FALSE(line.startsWith(QLatin1String("RETR"))
                     && line.contains(QLatin1String("up.txt")))
            << line.toStdString();
}
