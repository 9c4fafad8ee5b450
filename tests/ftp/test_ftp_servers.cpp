// Every operation against real servers on loopback: pyftpdlib (MLSD) and vsftpd (LIST only), in
// passive and active mode, and against any server named by ZANDREL_TEST_FTP_URL; connections
// through real proxies: microsocks (SOCKS 5), dante (SOCKS 4 only, so the client must fall back)
// and ftp-proxy (an FTP proxy that takes the server from the user name).
#include "ftp/FtpWininet.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <numeric>

#include <sys/stat.h>
#include <unistd.h>

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
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes + "\r\n\n\r"; // line ends that a binary transfer must leave alone
}

// "name size" of every file and "name/" of every folder, sorted; entries without a date stand out.
QStringList Entries(const TFtpFileList &list)
{
    QStringList entries;
    for (int i = 0; i < list.Count(); ++i) {
        const TFtpFile *f = list.Items(i);
        entries << (f->IsFolder ? f->Name + "/" : f->Name + " " + QString::number(f->Size))
                       + (f->Date.isValid() ? "" : " without date");
    }
    entries.sort();
    return entries;
}

void ConfigureFor(TFtp &ftp, const TFtpTestServer &server, const QString &proxy,
                  bool passive = true)
{
    ConfigureFor(ftp, server);
    ftp.Passive = passive;
    ftp.Proxy = proxy;
    // A TLS fixture's own certificate is trusted by its fingerprint; nothing goes in clear.
    if (!server.CertificateFingerprint.isEmpty()) {
        ftp.Encryption = "require";
        ftp.TrustedFingerprint = server.CertificateFingerprint;
    }
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
        if (!server) {
            TPyftpdlibOptions pyftpdlib;
            TVsftpdOptions vsftpd;
            pyftpdlib.Tls = vsftpd.Tls = kind.endsWith("-tls");
            server = kind.startsWith("pyftpdlib") ? StartPyftpdlib({}, pyftpdlib)
                     : kind.startsWith("vsftpd")  ? StartVsftpd({}, vsftpd)
                                                  : ServerFromUrl();
        }
        if (!server && kind == "url")
            GTEST_SKIP() << "ZANDREL_TEST_FTP_URL is not set";
        ASSERT_TRUE(server);
        Server = server.get();
        ConfigureFor(Ftp, *Server, QString(), GetParam().Passive);
        Ftp.Connect();
        Base = Server->RemoteBase + (Server->RemoteBase.endsWith('/') ? "t" : "/t")
               + QString::number(QRandomGenerator::global()->generate(), 36) + "/";
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
        ConfigureFor(other, *Server, QString(), GetParam().Passive);
        other.Connect();
        other.GetFile(remotePath, Local.filePath("server-copy"), false, 0);
        return ReadWholeFile(Local.filePath("server-copy"));
    }

    void PutServerBytes(const QString &remotePath, const QByteArray &bytes)
    {
        if (!Server->Root.isEmpty())
            return WriteWholeFile(Server->LocalPath(remotePath), bytes);
        Ftp.PutFile(remotePath, LocalFile("to-server", bytes), false);
    }

    QString LocalFile(const QString &name, const QByteArray &bytes)
    {
        WriteWholeFile(Local.filePath(name), bytes);
        return Local.filePath(name);
    }

    TFtpTestServer *Server = nullptr;
    TFtp Ftp;
    QString Base; // this test's server folder, with a trailing "/"
    QTemporaryDir Local;
};

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

    // A failed download leaves the local file alone, and no temporary behind.
    EXPECT_FALSE(
        ErrorOf<EFtpError>([&] { Ftp.GetFile(Base + "missing", back, false, 10); }).isEmpty());
    EXPECT_EQ(ReadWholeFile(back), "a\nb\nc\n");
    EXPECT_EQ(QDir(Local.path()).entryList(QDir::Files | QDir::Hidden),
              QDir(Local.path()).entryList(QDir::Files));
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
    EXPECT_EQ(Entries(list), QStringList({".htaccess 17", "a.txt 5", "h\u00e9llo w\u00f6rld.txt 3",
                                          "sub/", "with  blanks.txt 1"}));

    // Appended; an empty path lists the current folder.
    Ftp.FindFiles(QString(), list);
    EXPECT_EQ(list.Count(), 10);
    TFtpFileList empty;
    Ftp.FindFiles(Base + "sub", empty);
    EXPECT_EQ(empty.Count(), 0);

    if (Server->Root.isEmpty())
        return;
    // 64-bit sizes: a sparse 5 GiB file.
    const QString huge = Server->LocalPath(Base + "sub/huge.iso");
    WriteWholeFile(huge, {});
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), 5LL << 30), 0);
    Ftp.FindFiles(Base + "sub", empty);
    EXPECT_EQ(Entries(empty), QStringList{"huge.iso 5368709120"});
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
    EXPECT_TRUE(Entries(list).isEmpty());

    // A refusal leaves the session usable.
    EXPECT_THROW(Ftp.RemoveDir(Base + "never-there"), EFtpError);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
}

TEST_P(FtpServerSuite, UploadUsesTheModesDataCommandAndReportsProgress)
{
    const QByteArray bytes = RandomBytes(300000);
    const QString local = LocalFile("p.bin", bytes);
    Ftp.PutFile(Base + "first.bin", local, false);
    QStringList sent;
    Ftp.OnCommand = [&](const QString &line) { sent << line; };
    QList<qint64> reports;
    Ftp.OnProgress = [&](TFtp *, qint64 amount) { reports << amount; };
    const auto sum = [&] { return std::accumulate(reports.begin(), reports.end(), qint64(0)); };

    const TFtp::TStats before = Ftp.Stats();
    Ftp.PutFile(Base + "p.bin", local, false);
    const TFtp::TStats after = Ftp.Stats();
    ASSERT_EQ(sent.size(), 2) << sent.join(" | ").toStdString();
    EXPECT_TRUE(sent[0].startsWith(GetParam().Passive ? "EPSV" : "EPRT")) << sent[0].toStdString();
    EXPECT_EQ(sent[1], "STOR " + Base + "p.bin");
    EXPECT_EQ(after.RoundTrips - before.RoundTrips, 3); // data port, 150, 226
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
    Ftp.GetCurrentDir();
    EXPECT_EQ(sum(), 1000);
    EXPECT_EQ(ReadWholeFile(Local.filePath("p.copy")), bytes);

    sent.clear();
    Ftp.PutFile(Base + "third.html", local, true);
    EXPECT_EQ(sent.value(0), "TYPE A");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FtpServerSuite,
    ::testing::Values(TServerParam{"pyftpdlib", true}, TServerParam{"pyftpdlib", false},
                      TServerParam{"vsftpd", true}, TServerParam{"vsftpd", false},
                      TServerParam{"pyftpdlib-tls", true}, TServerParam{"pyftpdlib-tls", false},
                      TServerParam{"vsftpd-tls", true}, TServerParam{"vsftpd-tls", false},
                      TServerParam{"url", true}, TServerParam{"url", false}),
    [](const ::testing::TestParamInfo<TServerParam> &info) {
        std::string kind = info.param.Kind;
        std::replace(kind.begin(), kind.end(), '-', '_');
        return kind + (info.param.Passive ? "_passive" : "_active");
    });

QString ProxyText(const TTestProcess &proxy, const char *scheme)
{
    return scheme + proxy.Host + ":" + QString::number(proxy.Port);
}

// The proxy's whole process tree (daemons that drop root run below a guard shell) ends.
void ExpectStopEndsTree(TTestProcess &proxy)
{
    const QList<qint64> tree = ProcessTree(proxy.Pid);
    EXPECT_GT(tree.size(), 1);
    proxy.Stop();
    for (const qint64 pid : tree)
        EXPECT_FALSE(ProcessAlive(pid)) << "process " << pid << " survived Stop()";
}

// Upload, listing and download through the proxy; the server's folder shows the result.
void RoundTrip(TFtp &ftp, const TFtpTestServer &server, const QString &proxy)
{
    ConfigureFor(ftp, server, proxy);
    QTemporaryDir local;
    const QByteArray bytes(200000, 'p');
    WriteWholeFile(local.filePath("up.bin"), bytes);
    ftp.Connect();
    ftp.CreateDir("/via");
    ftp.PutFile("/via/up.bin", local.filePath("up.bin"), false);
    EXPECT_EQ(ReadWholeFile(server.LocalPath("/via/up.bin")), bytes);
    TFtpFileList list;
    ftp.FindFiles("/via", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0)->Size, bytes.size());
    ftp.GetFile("/via/up.bin", local.filePath("down.bin"), false, bytes.size());
    EXPECT_EQ(ReadWholeFile(local.filePath("down.bin")), bytes);
}

TEST(FtpProxy, Socks5ThroughMicrosocks)
{
    auto server = StartPyftpdlib();
    auto proxy = StartMicrosocks();
    ASSERT_TRUE(server && proxy);
    TFtp ftp, active;
    RoundTrip(ftp, *server, ProxyText(*proxy, "socks="));

    // Active data connections cannot come back through SOCKS: a clear refusal, no connection.
    ConfigureFor(active, *server, ftp.Proxy, false);
    EXPECT_EQ(ErrorOf<EFtpError>([&] { active.Connect(); }),
              "Active mode does not work through a SOCKS proxy: use passive mode");
    EXPECT_EQ(active.Stats().Connections, 0);
}

TEST(FtpProxy, Socks4WhenTheProxyRefusesVersion5)
{
    auto server = StartVsftpd();
    auto proxy = StartDante();
    ASSERT_TRUE(server && proxy);
    TFtp ftp;
    RoundTrip(ftp, *server, ProxyText(*proxy, "socks="));
    // vsftpd serves the open session from children that call setsid(): none may outlive Stop().
    ExpectStopEndsTree(*server);
    ExpectStopEndsTree(*proxy);
}

TEST(FtpProxy, TlsGoesThroughBothSocksProxiesEndToEnd)
{
    TPyftpdlibOptions pyftpdlib;
    pyftpdlib.Tls = true;
    TVsftpdOptions vsftpd;
    vsftpd.Tls = true;
    auto first = StartPyftpdlib({}, pyftpdlib);
    auto second = StartVsftpd({}, vsftpd);
    auto socks5 = StartMicrosocks();
    auto socks4 = StartDante();
    ASSERT_TRUE(first && second && socks5 && socks4);
    for (const auto &[server, proxy] :
         {std::pair{first.get(), socks5.get()}, std::pair{second.get(), socks4.get()}}) {
        TFtp ftp;
        RoundTrip(ftp, *server, ProxyText(*proxy, "socks="));
        EXPECT_TRUE(ftp.Encrypted()) << server->Kind.toStdString();
    }
}

TEST(FtpProxy, FtpProxyLogsInAsUserAtHost)
{
    auto server = StartPyftpdlib();
    auto proxy = StartFtpProxy();
    ASSERT_TRUE(server && proxy);
    TFtp ftp, active;
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    RoundTrip(ftp, *server, ProxyText(*proxy, "ftp=ftp://"));
    ftp.OnCommand = nullptr;
    EXPECT_EQ(sent.first(),
              "USER " + server->User + "@" + server->Host + ":" + QString::number(server->Port));
    EXPECT_TRUE(server->ProtocolLog().contains("USER " + server->User));

    // Active mode: the proxy connects back to the address we name.
    ConfigureFor(active, *server, ftp.Proxy, false);
    active.Connect();
    TFtpFileList list;
    active.FindFiles("/via", list);
    EXPECT_EQ(list.Count(), 1);
    active.Disconnect();
    ExpectStopEndsTree(*proxy);
}
