// Every operation against real servers on loopback: pyftpdlib (MLSD), vsftpd (LIST only),
// proftpd and pure-ftpd, in passive and active mode, with and without TLS, and against any server
// named by ZANDREL_TEST_FTP_URL; connections through real proxies: microsocks (SOCKS 5), dante
// (SOCKS 4 only, so the client must fall back) and ftp-proxy (the server in the user name).
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
    const char *Proxy = ""; // "microsocks" (SOCKS 5), "dante" (SOCKS 4) or "ftp-proxy"
};

std::string Name(const TServerParam &param)
{
    std::string name = param.Kind + std::string(param.Passive ? "_passive" : "_active")
                       + (*param.Proxy ? "_via_" : "") + param.Proxy;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

void PrintTo(const TServerParam &param, std::ostream *out)
{
    *out << Name(param);
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

std::unique_ptr<TFtpTestServer> StartServer(const QString &kind)
{
    const bool tls = kind.endsWith("-tls");
    TPyftpdlibOptions pyftpdlib;
    TVsftpdOptions vsftpd;
    pyftpdlib.Tls = vsftpd.Tls = tls;
    if (kind.startsWith("pyftpdlib"))
        return StartPyftpdlib({}, pyftpdlib);
    if (kind.startsWith("vsftpd"))
        return StartVsftpd({}, vsftpd);
    if (kind.startsWith("proftpd"))
        return StartProftpd({}, TProftpdOptions{tls, false});
    if (kind.startsWith("pure-ftpd"))
        return StartPureFtpd({}, TPureFtpdOptions{tls});
    return ServerFromUrl();
}

// One server (and proxy) of each kind serves every test of the suite; each test works in a
// folder of its own.
class FtpServerSuite : public ::testing::TestWithParam<TServerParam>
{
protected:
    static std::map<QString, std::unique_ptr<TTestProcess>> &Processes()
    {
        static std::map<QString, std::unique_ptr<TTestProcess>> processes;
        return processes;
    }
    // Daemons serve sessions from children (vsftpd's call setsid()): none may outlive the fixture.
    static void TearDownTestSuite()
    {
        for (auto &[kind, process] : Processes()) {
            const QList<qint64> tree
                = process && process->Pid ? ProcessTree(process->Pid) : QList<qint64>();
            process.reset();
            for (const qint64 pid : tree)
                EXPECT_FALSE(ProcessAlive(pid)) << kind.toStdString() << " left " << pid;
        }
    }

    void SetUp() override
    {
        const QString kind = GetParam().Kind, proxyKind = GetParam().Proxy;
        auto &server = Processes()[proxyKind.isEmpty() ? kind : kind + " for " + proxyKind];
        if (!server)
            server = StartServer(kind);
        if (!server && kind == "url")
            GTEST_SKIP() << "ZANDREL_TEST_FTP_URL is not set";
        ASSERT_TRUE(server);
        Server = static_cast<TFtpTestServer *>(server.get());
        QString proxy;
        if (!proxyKind.isEmpty()) {
            auto &process = Processes()[proxyKind];
            if (!process)
                process = proxyKind == "dante"       ? StartDante()
                          : proxyKind == "ftp-proxy" ? StartFtpProxy()
                                                     : StartMicrosocks();
            ASSERT_TRUE(process);
            proxy = (proxyKind == "ftp-proxy" ? "ftp=ftp://" : "socks=") + process->Host + ":"
                    + QString::number(process->Port);
        }
        ConfigureFor(Ftp, *Server);
        Ftp.Passive = GetParam().Passive;
        Ftp.Proxy = proxy;
        // A TLS fixture's own certificate is trusted by its fingerprint; nothing goes in clear.
        if (!Server->CertificateFingerprint.isEmpty())
            Ftp.Encryption = "require";
        Ftp.TrustedFingerprint = Server->CertificateFingerprint;
        QStringList sent;
        Ftp.OnCommand = [&](const QString &line) { sent << line; };
        Ftp.Connect();
        Ftp.OnCommand = nullptr;
        EXPECT_EQ(Ftp.Encrypted(), !Server->CertificateFingerprint.isEmpty());
        // ftp-proxy takes the server from the user name.
        const QString user
            = "USER " + Server->User
              + (proxyKind == "ftp-proxy" ? "@" + Server->Host + ":" + QString::number(Server->Port)
                                          : QString());
        EXPECT_TRUE(sent.contains(user)) << sent.join(" | ").toStdString();
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

    // The server's copy of a file, byte for byte: from its folder on disk, else downloaded.
    QByteArray ServerBytes(const QString &remotePath)
    {
        if (!Server->Root.isEmpty())
            return ReadWholeFile(Server->LocalPath(remotePath));
        Ftp.GetFile(remotePath, Local.filePath("server-copy"), false, 0);
        return ReadWholeFile(Local.filePath("server-copy"));
    }

    // Stores `bytes` on the server as they are (a binary upload where there is no local folder).
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

TEST_P(FtpServerSuite, TransfersAreByteExactAndAsciiGivesBackLfWhateverTheServerStores)
{
    QByteArray bytes(300000, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    bytes += "\r\n\n\r"; // line ends that a binary transfer must leave alone
    const QString local = LocalFile("p.bin", bytes);
    Ftp.PutFile(Base + "first.bin", local, false);
    EXPECT_EQ(ServerBytes(Base + "first.bin"), bytes);

    QStringList sent;
    Ftp.OnCommand = [&](const QString &line) { sent << line; };
    QList<qint64> reports;
    Ftp.OnProgress = [&](TFtp *, qint64 amount) { reports << amount; };
    const auto sum = [&] { return std::accumulate(reports.begin(), reports.end(), qint64(0)); };
    const TFtp::TStats before = Ftp.Stats();
    Ftp.PutFile(Base + "p.bin", local, false);
    const TFtp::TStats after = Ftp.Stats();
    ASSERT_EQ(sent.size(), 2) << sent.join(" | ").toStdString();
    // ftp-proxy knows only PASV and PORT.
    const bool plain = QByteArray(GetParam().Proxy) == "ftp-proxy";
    EXPECT_TRUE(sent[0].startsWith(GetParam().Passive ? (plain ? "PASV" : "EPSV")
                                                      : (plain ? "PORT" : "EPRT")))
        << sent[0].toStdString();
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

    // ASCII mode: the server keeps text in its own form, LF or CR LF (RFC 959), and a download
    // gives back LF line ends either way.
    sent.clear();
    const QByteArray script = "#!/usr/bin/perl\nprint \"ok\\n\";\n\nexit 0;\n";
    Ftp.PutFile(Base + "run.pl", LocalFile("run.pl", script), true);
    EXPECT_EQ(sent.value(0), "TYPE A");
    const QByteArray stored = ServerBytes(Base + "run.pl");
    EXPECT_TRUE(stored == script || stored == QByteArray(script).replace("\n", "\r\n"))
        << stored.toStdString();
    const QString back = Local.filePath("back.txt");
    Ftp.GetFile(Base + "run.pl", back, true, script.size());
    EXPECT_EQ(ReadWholeFile(back), script);
    PutServerBytes(Base + "unix.txt", "a\nb\n\nc");
    Ftp.GetFile(Base + "unix.txt", back, true, 6); // overwrites
    EXPECT_EQ(ReadWholeFile(back), "a\nb\n\nc");

    // A failed download leaves the local file alone, and no temporary behind.
    EXPECT_FALSE(
        ErrorOf<EFtpError>([&] { Ftp.GetFile(Base + "missing", back, false, 10); }).isEmpty());
    EXPECT_EQ(ReadWholeFile(back), "a\nb\n\nc");
    EXPECT_EQ(QDir(Local.path()).entryList(QDir::Files | QDir::Hidden),
              QDir(Local.path()).entryList(QDir::Files));
    EXPECT_TRUE(Ftp.Connected());
}

TEST_P(FtpServerSuite, ListingShowsNamesSizesFoldersAndDotFilesAndFolderOperationsWork)
{
    PutServerBytes(Base + "a.txt", "12345");
    PutServerBytes(Base + "with  blanks.txt", "x");
    PutServerBytes(Base + ".htaccess", "Options -Indexes\n");
    Ftp.PutFile(Base + "h\u00e9llo w\u00f6rld.txt", LocalFile("u.txt", "utf"), false);
    Ftp.CreateDir(Base + "sub");
    const auto files = [](const char *other) {
        QStringList entries{".htaccess 17", "a.txt 5", "h\u00e9llo w\u00f6rld.txt 3", other,
                            "with  blanks.txt 1"};
        entries.sort();
        return entries;
    };
    TFtpFileList list;
    Ftp.FindFiles(Base.chopped(1), list);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
    EXPECT_EQ(Entries(list), files("sub/"));
    Ftp.FindFiles(QString(), list); // appended; an empty path lists the current folder
    EXPECT_EQ(list.Count(), 10);

    Ftp.SetCurrentDir(Base + "sub");
    EXPECT_EQ(Ftp.GetCurrentDir(), Base + "sub");
    Ftp.PutFile("rel.txt", LocalFile("rel.txt", "relative"), false); // relative to the folder
    Ftp.RenameFile(Base + "sub/rel.txt", Base + "sub/renamed.txt");
    EXPECT_EQ(ServerBytes(Base + "sub/renamed.txt"), "relative");
    Ftp.Chmod(Base + "sub/renamed.txt", "755");
    struct stat info = {};
    if (!Server->Root.isEmpty()) {
        ASSERT_EQ(::stat(QFile::encodeName(Server->LocalPath(Base + "sub/renamed.txt")), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0755u);
    }
    Ftp.DeleteFile(Base + "sub/renamed.txt");
    Ftp.FindFiles(Base + "sub", list = TFtpFileList());
    EXPECT_EQ(list.Count(), 0);
    Ftp.SetCurrentDir(Base);
    Ftp.RemoveDir(Base + "sub");
    // A refusal leaves the session usable.
    EXPECT_THROW(Ftp.RemoveDir(Base + "never-there"), EFtpError);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
    if (Server->Root.isEmpty())
        return;
    // 64-bit sizes: a sparse 5 GiB file.
    const QString huge = Server->LocalPath(Base + "huge.iso");
    WriteWholeFile(huge, {});
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), 5LL << 30), 0);
    Ftp.FindFiles(Base, list = TFtpFileList());
    EXPECT_EQ(Entries(list), files("huge.iso 5368709120"));
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpServerSuite, ::testing::ValuesIn([] {
                             std::vector<TServerParam> params;
                             for (const char *kind : {"pyftpdlib", "vsftpd", "proftpd", "pure-ftpd",
                                                      "pyftpdlib-tls", "vsftpd-tls", "url"})
                                 params.insert(params.end(), {{kind, true}, {kind, false}});
                             // SOCKS carries passive data connections only; TLS goes end to end.
                             params.insert(params.end(), {{"pyftpdlib", true, "microsocks"},
                                                          {"pyftpdlib-tls", true, "microsocks"},
                                                          {"vsftpd", true, "dante"},
                                                          {"vsftpd-tls", true, "dante"},
                                                          {"pyftpdlib", true, "ftp-proxy"},
                                                          {"pyftpdlib", false, "ftp-proxy"}});
                             return params;
                         }()),
                         [](const auto &info) { return Name(info.param); });

TEST(FtpProxy, ActiveModeThroughSocksIsRefusedBeforeAnyConnection)
{
    TFtp ftp;
    ftp.ServerName = "127.0.0.1";
    ftp.Passive = false;
    ftp.Proxy = "socks=127.0.0.1:1";
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }),
              "Active mode does not work through a SOCKS proxy: use passive mode");
    EXPECT_EQ(ftp.Stats().Connections, 0);
}
