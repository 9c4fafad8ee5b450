// Every operation against real servers on loopback: pyftpdlib (MLSD) and vsftpd (LIST only), in
// passive and active mode; and against any server named by ZANDREL_TEST_FTP_URL.
#include "ftp/FtpWininet.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TServerParam
{
    const char *Kind;
    bool Passive;
};

void PrintTo(const TServerParam &param, std::ostream *out)
{
    *out << param.Kind << (param.Passive ? " passive" : " active");
}

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    return bytes + "\r\n\n\r"; // line ends that a binary transfer must leave alone
}

class FtpServerSuite : public ::testing::TestWithParam<TServerParam>
{
protected:
    static std::map<QString, std::unique_ptr<TFtpTestServer>> &Servers()
    {
        static std::map<QString, std::unique_ptr<TFtpTestServer>> servers;
        return servers;
    }
    static void TearDownTestSuite() { Servers().clear(); }

    void SetUp() override
    {
        const QString kind = QString::fromLatin1(GetParam().Kind);
        auto &server = Servers()[kind];
        if (!server)
            server = kind == "pyftpdlib" ? StartPyftpdlib()
                     : kind == "vsftpd"  ? StartVsftpd()
                                         : ServerFromUrl();
        if (!server && kind == "url")
            GTEST_SKIP() << "ZANDREL_TEST_FTP_URL is not set";
        ASSERT_TRUE(server);
        Server = server.get();
        Configure(Ftp);
        Ftp.Connect();
        QString base = Server->RemoteBase;
        if (!base.endsWith('/'))
            base += '/';
        Base = base + "t" + QString::number(QRandomGenerator::global()->generate(), 36) + "/";
        Ftp.CreateDir(Base.chopped(1));
    }

    void TearDown() override
    {
        Ftp.OnCommand = nullptr; // they capture the test body's locals
        Ftp.OnProgress = nullptr;
        if (Server && Server->Root.isEmpty() && Ftp.Connected()) {
            try {
                RemoveTree(Base.chopped(1));
            } catch (const EFtpError &) {
            }
        }
    }

    void Configure(TFtp &ftp) const
    {
        ftp.ServerName = Server->Host;
        ftp.ServerPort = Server->Port;
        ftp.UserName = Server->User;
        ftp.Password = Server->Password;
        ftp.Passive = GetParam().Passive;
        ftp.Timeout = 20000;
    }

    void RemoveTree(const QString &folder)
    {
        TFtpFileList list;
        Ftp.FindFiles(folder, list);
        for (int i = 0; i < list.Count(); ++i) {
            const QString path = folder + "/" + list.Items(i)->Name;
            if (list.Items(i)->IsFolder)
                RemoveTree(path);
            else
                Ftp.DeleteFile(path);
        }
        Ftp.SetCurrentDir("/");
        Ftp.RemoveDir(folder);
    }

    // The server's copy of a file: from its folder on disk, else downloaded on a second session.
    QByteArray ServerBytes(const QString &remotePath)
    {
        if (!Server->Root.isEmpty())
            return ReadWholeFile(Server->LocalPath(remotePath));
        TFtp other;
        Configure(other);
        other.Connect();
        const QString local = Local.filePath("server-copy");
        other.GetFile(remotePath, local, false, 0);
        return ReadWholeFile(local);
    }

    void PutServerBytes(const QString &remotePath, const QByteArray &bytes)
    {
        if (!Server->Root.isEmpty()) {
            WriteWholeFile(Server->LocalPath(remotePath), bytes);
            return;
        }
        const QString local = Local.filePath("to-server");
        WriteWholeFile(local, bytes);
        Ftp.PutFile(remotePath, local, false);
    }

    QString LocalFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = Local.filePath(name);
        WriteWholeFile(path, bytes);
        return path;
    }

    TFtpTestServer *Server = nullptr;
    TFtp Ftp;
    QString Base; // this test's server folder, with a trailing "/"
    QTemporaryDir Local;
};

} // namespace

TEST_P(FtpServerSuite, TransfersAreByteExactAndAsciiKeepsLf)
{
    const QByteArray binary = RandomBytes(300000);
    Ftp.PutFile(Base + "image.bin", LocalFile("image.bin", binary), false);
    EXPECT_EQ(ServerBytes(Base + "image.bin"), binary);

    const QByteArray script = "#!/usr/bin/perl\nprint \"ok\\n\";\n\nexit 0;\n";
    Ftp.PutFile(Base + "run.pl", LocalFile("run.pl", script), true);
    EXPECT_EQ(ServerBytes(Base + "run.pl"), script);

    const QString back = Local.filePath("back.bin");
    Ftp.GetFile(Base + "image.bin", back, false, binary.size());
    EXPECT_EQ(ReadWholeFile(back), binary);

    PutServerBytes(Base + "dos.txt", "a\r\nb\nc\r\n");
    Ftp.GetFile(Base + "dos.txt", back, true, 8); // overwrites
    EXPECT_EQ(ReadWholeFile(back), "a\nb\nc\n");
    EXPECT_EQ(QDir(Local.path()).entryList(QDir::Files | QDir::Hidden).size(),
              QDir(Local.path()).entryList(QDir::Files).size()); // no temporary left
}

TEST_P(FtpServerSuite, FailedDownloadLeavesTheLocalFileAlone)
{
    const QString local = LocalFile("keep.html", "good");
    QString message;
    try {
        Ftp.GetFile(Base + "missing.html", local, false, 10);
    } catch (const EFtpError &error) {
        message = error.Message();
    }
    EXPECT_FALSE(message.isEmpty());
    EXPECT_FALSE(message.front().isDigit()) << message.toStdString();
    EXPECT_EQ(ReadWholeFile(local), "good");
    EXPECT_EQ(QDir(Local.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"keep.html"}));
    EXPECT_THROW(Ftp.GetFile(Base + "x", Local.filePath("no/such/folder/x"), false, 0), EFtpError);
    EXPECT_TRUE(Ftp.Connected());
}

TEST_P(FtpServerSuite, ListingShowsNamesSizesFoldersAndDotFiles)
{
    PutServerBytes(Base + "a.txt", "12345");
    PutServerBytes(Base + "with  blanks.txt", "x");
    PutServerBytes(Base + ".htaccess", "Options -Indexes\n");
    Ftp.PutFile(Base + "h\u00e9llo w\u00f6rld.txt", LocalFile("u.txt", "utf"), false);
    Ftp.CreateDir(Base + "sub");

    TFtpFileList list;
    Ftp.FindFiles(Base.chopped(1), list);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
    ASSERT_EQ(list.Count(), 5);
    ASSERT_TRUE(list.FindByName("h\u00e9llo w\u00f6rld.txt"));
    EXPECT_EQ(list.FindByName("h\u00e9llo w\u00f6rld.txt")->Size, 3);
    ASSERT_TRUE(list.FindByName("a.txt"));
    EXPECT_EQ(list.FindByName("a.txt")->Size, 5);
    EXPECT_FALSE(list.FindByName("a.txt")->IsFolder);
    EXPECT_TRUE(list.FindByName("a.txt")->Date.isValid());
    EXPECT_TRUE(list.FindByName("with  blanks.txt"));
    EXPECT_TRUE(list.FindByName(".htaccess"));
    ASSERT_TRUE(list.FindByName("sub"));
    EXPECT_TRUE(list.FindByName("sub")->IsFolder);

    // Appended; an empty path lists the current folder.
    Ftp.FindFiles(QString(), list);
    EXPECT_EQ(list.Count(), 10);
    TFtpFileList empty;
    Ftp.FindFiles(Base + "sub", empty);
    EXPECT_EQ(empty.Count(), 0);
}

TEST_P(FtpServerSuite, FolderAndFileOperations)
{
    Ftp.CreateDir(Base + "dir");
    Ftp.SetCurrentDir(Base + "dir");
    EXPECT_EQ(Ftp.GetCurrentDir(), Base + "dir");
    Ftp.PutFile("rel.txt", LocalFile("rel.txt", "relative"), false); // relative to the folder
    Ftp.RenameFile(Base + "dir/rel.txt", Base + "dir/renamed.txt");
    EXPECT_EQ(ServerBytes(Base + "dir/renamed.txt"), "relative");
    Ftp.Chmod(Base + "dir/renamed.txt", "755");
    if (!Server->Root.isEmpty()) {
        struct stat info = {};
        ASSERT_EQ(::stat(QFile::encodeName(Server->LocalPath(Base + "dir/renamed.txt")), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0755u);
    }
    Ftp.DeleteFile(Base + "dir/renamed.txt");
    Ftp.SetCurrentDir(Base);
    Ftp.RemoveDir(Base + "dir");
    TFtpFileList list;
    Ftp.FindFiles(Base, list);
    EXPECT_EQ(list.Count(), 0);

    // A refusal carries the server's words and leaves the session usable.
    try {
        Ftp.DeleteFile(Base + "never-there");
        ADD_FAILURE() << "deleting a missing file succeeded";
    } catch (const EFtpError &error) {
        EXPECT_FALSE(error.Message().isEmpty());
        EXPECT_FALSE(error.Message().front().isDigit()) << error.Message().toStdString();
    }
    EXPECT_THROW(Ftp.RemoveDir(Base + "never-there"), EFtpError);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
}

TEST_P(FtpServerSuite, OneUploadCostsADataCommandAndStor)
{
    const QString local = LocalFile("f.html", "<html></html>\n");
    Ftp.PutFile(Base + "first.html", local, false);
    QStringList sent;
    Ftp.OnCommand = [&](const QString &line) { sent << line; };
    const TFtp::TStats before = Ftp.Stats();
    Ftp.PutFile(Base + "second.html", local, false);
    const TFtp::TStats after = Ftp.Stats();
    ASSERT_EQ(sent.size(), 2) << sent.join(" | ").toStdString();
    EXPECT_TRUE(sent[0].startsWith(GetParam().Passive ? "EPSV" : "EPRT")) << sent[0].toStdString();
    EXPECT_EQ(sent[1], "STOR " + Base + "second.html");
    EXPECT_EQ(after.Commands - before.Commands, 2);
    EXPECT_EQ(after.Connections - before.Connections, 1);
    EXPECT_EQ(after.RoundTrips - before.RoundTrips, 3); // data port, 150, 226

    sent.clear();
    Ftp.PutFile(Base + "third.html", local, true);
    EXPECT_EQ(sent.first(), "TYPE A");
    EXPECT_EQ(sent.size(), 3);
}

TEST_P(FtpServerSuite, ProgressNeverExceedsTheExpectedSize)
{
    const QByteArray bytes = RandomBytes(300000);
    const QString local = LocalFile("p.bin", bytes);
    QList<qint64> reports;
    Ftp.OnProgress = [&](TFtp *sender, qint64 amount) {
        EXPECT_EQ(sender, &Ftp);
        reports << amount;
    };
    auto sum = [&] {
        qint64 total = 0;
        for (qint64 r : reports)
            total += r;
        return total;
    };

    Ftp.PutFile(Base + "p.bin", local, false);
    EXPECT_EQ(sum(), bytes.size());
    EXPECT_GT(reports.size(), 1);
    // The counter ended at exactly 0: the next request reports 0 once, then all is quiet.
    reports.clear();
    Ftp.GetCurrentDir();
    Ftp.SetCurrentDir(Base);
    EXPECT_EQ(reports, QList<qint64>({0}));

    // A Size argument below the real size caps what is reported.
    reports.clear();
    Ftp.GetFile(Base + "p.bin", Local.filePath("p.copy"), false, 1000);
    EXPECT_EQ(sum(), 1000);
    Ftp.GetCurrentDir();
    EXPECT_EQ(sum(), 1000);
    EXPECT_EQ(ReadWholeFile(Local.filePath("p.copy")), bytes);
}

TEST_P(FtpServerSuite, SizesBeyondFourGiBAreListed)
{
    if (Server->Root.isEmpty())
        GTEST_SKIP() << "needs the server's folder on disk";
    constexpr qint64 size = 5LL * 1024 * 1024 * 1024;
    const QString path = Server->LocalPath(Base + "huge.iso");
    WriteWholeFile(path, {});
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), size), 0); // sparse
    TFtpFileList list;
    Ftp.FindFiles(Base, list);
    ASSERT_TRUE(list.FindByName("huge.iso"));
    EXPECT_EQ(list.FindByName("huge.iso")->Size, size);
}

TEST_P(FtpServerSuite, FolderThatCannotBeListedIsEmpty)
{
    // pyftpdlib runs as root and reads any folder.
    if (Server->Kind != "vsftpd")
        GTEST_SKIP() << "needs a server that honours folder permissions";
    PutServerBytes(Base + "locked/secret.txt", "x");
    ASSERT_TRUE(QFile::setPermissions(Server->LocalPath(Base + "locked"),
                                      QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                          | QFileDevice::ExeOther | QFileDevice::WriteOwner));
    TFtpFileList list;
    Ftp.FindFiles(Base + "locked", list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base + "locked");
    QFile::setPermissions(Server->LocalPath(Base + "locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_P(FtpServerSuite, ReconnectsInTheOtherMode)
{
    Ftp.Disconnect();
    EXPECT_FALSE(Ftp.Connected());
    Ftp.Passive = !Ftp.Passive;
    QStringList sent;
    Ftp.OnCommand = [&](const QString &line) { sent << line; };
    Ftp.Connect();
    EXPECT_TRUE(Ftp.Connected());
    TFtpFileList list;
    Ftp.FindFiles(Base, list);
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const QString &line) {
        return line.startsWith(Ftp.Passive ? "EPSV" : "EPRT");
    })) << sent.join(" | ").toStdString();
    EXPECT_TRUE(sent.contains("PASS ****"));
    EXPECT_FALSE(sent.contains("PASS " + Server->Password));
}

TEST(FtpServerFullPaths, FullPathListingsBecomeFolderRelative)
{
    TPyftpdlibOptions options;
    options.ListFullPaths = true;
    auto server = StartPyftpdlib(QString(), options);
    ASSERT_TRUE(server);
    WriteWholeFile(server->LocalPath("/pub/a.txt"), "abc");
    TFtp ftp;
    ftp.ServerName = server->Host;
    ftp.ServerPort = server->Port;
    ftp.UserName = server->User;
    ftp.Password = server->Password;
    ftp.Passive = true;
    ftp.Connect();
    QStringList skipped;
    ftp.OnSkippedEntry = [&](const QString &raw) { skipped << raw; };
    TFtpFileList list;
    ftp.FindFiles("/pub", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0)->Name, "a.txt");
    EXPECT_EQ(list.Items(0)->Size, 3);
    EXPECT_EQ(ftp.GetCurrentDir(), "/pub");
    EXPECT_TRUE(skipped.isEmpty());
    ftp.OnSkippedEntry = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FtpServerSuite,
    ::testing::Values(TServerParam{"pyftpdlib", true}, TServerParam{"pyftpdlib", false},
                      TServerParam{"vsftpd", true}, TServerParam{"vsftpd", false},
                      TServerParam{"url", true}, TServerParam{"url", false}),
    [](const ::testing::TestParamInfo<TServerParam> &info) {
        return std::string(info.param.Kind) + (info.param.Passive ? "_passive" : "_active");
    });
