// The FTP window's worker against a real server: what a broken or hostile listing can make it
// do. The window's own tests drive the rest of its work.
#include "tests/support/FtpServers.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/ftpwindow/FtpWinActions.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A worker for `server` that keeps the errors it reported and the names it listed.
std::unique_ptr<TFtpOperator> NewWorker(const TFtpTestServer &server, QStringList &errors,
                                        QStringList &names)
{
    auto worker = std::make_unique<TFtpOperator>();
    worker->OnClearList = [&names](TFtpOperator *) { names.clear(); };
    worker->OnAddFile
        = [&names](TFtpOperator *, std::unique_ptr<TFtpFileData> data) { names << data->Name; };
    worker->OnError = [&errors](TFtpOperator *, const QString &text) { errors << text; };
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

} // namespace

// The window shows the note on its status line: a folder that looks empty says why.
TEST(FtpOperator, AListingItCannotReadLeavesANoteSayingSo)
{
    TPyftpdlibOptions options;
    options.ListingFault = "unreadable";
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath("/a.txt"), "a");
    QStringList errors, names;
    auto worker = NewWorker(*server, errors, names);
    TFtpAction action(fakList);
    ASSERT_TRUE(RunAndWait(*worker, action));
    EXPECT_TRUE(names.isEmpty());
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
    QStringList errors, names;
    auto worker = NewWorker(*server, errors, names);
    TFtpAction action(fakDownload);
    action.Folders << "d";
    // As if a window had taken these names from the listing unchecked.
    action.AddItem("../escape.txt", 3);
    action.AddItem("/d/../../up.txt", 3);
    action.LocalFolder = target;
    ASSERT_TRUE(RunAndWait(*worker, action));

    EXPECT_EQ(TreeOf(parent.path()).keys(), QStringList({"target/", "target/d/", "target/d/e/",
                                                         "target/d/e/f.txt", "target/d/ok.txt"}));
    EXPECT_FALSE(QFileInfo::exists("/tmp/zandrel-absolute.txt"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("../escape.txt")) << errors[0].toStdString();
    EXPECT_EQ(server->ProtocolLog().filter("up.txt").filter("RETR"), QStringList{});
}
