// Every operation against real servers and proxies (dante: SOCKS 4 only, the client falls back),
// over FTP and, with OpenSSH's sshd, over SFTP.
#include "ftp/FtpWininet.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

struct TServerParam
{
    const char *Kind;
    bool Passive;
    const char *Proxy = ""; // "microsocks" (SOCKS 5), "dante" (SOCKS 4) or "ftp-proxy"
};

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
    return kind.startsWith("pyftpdlib") ? StartPyftpdlib({}, pyftpdlib)
           : kind.startsWith("vsftpd")  ? StartVsftpd({}, vsftpd)
           : kind.startsWith("proftpd") ? StartProftpd({}, TProftpdOptions{tls, false})
           : kind == "url"              ? ServerFromUrl()
           : kind == "sshd"             ? StartSshd()
                                        : StartPureFtpd({}, TPureFtpdOptions{tls});
}

// One server (and proxy) of each kind serves the suite; each test works in a folder of its own.
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
        ConfigureFor(Ftp, *Server);
        if (!proxyKind.isEmpty()) {
            auto &process = Processes()[proxyKind];
            if (!process)
                process = proxyKind == "dante"       ? StartDante()
                          : proxyKind == "ftp-proxy" ? StartFtpProxy()
                                                     : StartMicrosocks();
            ASSERT_TRUE(process);
            Ftp.Proxy = (proxyKind == "ftp-proxy" ? "ftp=ftp://" : "socks=") + process->Host + ":"
                        + QString::number(process->Port);
        }
        Ftp.Passive = GetParam().Passive;
        Ftp.Pipelining = proxyKind != "ftp-proxy"; // see below
        if (!Server->CertificateFingerprint.isEmpty())
            Ftp.Encryption = "require";
        Ftp.TrustedFingerprint = Server->CertificateFingerprint;
        QStringList sent;
        Ftp.OnCommand = [&](const QString &line) { sent << line; };
        Ftp.Connect();
        Ftp.OnCommand = nullptr;
        if (Sftp())
            return MakeBase(Ftp.SecurityText().endsWith("host key " + Server->HostKeyFingerprint));
        EXPECT_EQ(Ftp.Encrypted(), !Server->CertificateFingerprint.isEmpty());
        // ftp-proxy takes the server from the user name.
        const QString user
            = "USER " + Server->User
              + (proxyKind == "ftp-proxy" ? "@" + Server->Host + ":" + QString::number(Server->Port)
                                          : QString());
        MakeBase(sent.contains(user));
    }

    void MakeBase(bool loggedInRight)
    {
        EXPECT_TRUE(loggedInRight) << Ftp.SecurityText().toStdString();
        Base = Server->RemoteBase + (Server->RemoteBase.endsWith('/') ? "t" : "/t")
               + QString::number(QRandomGenerator::global()->generate(), 36) + "/";
        Ftp.CreateDir(Base.chopped(1));
    }

    void TearDown() override
    {
        Ftp.OnCommand = nullptr; // it captures the test body's locals
        try {
            if (Server && Server->Root.isEmpty() && Ftp.Connected())
                RemoveTree(Base.chopped(1));
        } catch (const EFtpError &) {
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

    bool Sftp() const { return Server->Kind == "sshd"; }

    QByteArray ServerBytes(const QString &remotePath)
    {
        if (!Server->Root.isEmpty())
            return ReadWholeFile(Server->LocalPath(remotePath));
        Ftp.GetFile(remotePath, Local.filePath("server-copy"), false, 0);
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
    QString Base; // with a trailing "/"
    QTemporaryDir Local;
};

TEST_P(FtpServerSuite, TransfersAreByteExactAndAsciiGivesBackLfWhateverTheServerStores)
{
    QByteArray bytes(300000, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    bytes += "\r\n\n\r"; // line ends that a binary transfer must leave alone
    QStringList sent;
    Ftp.OnCommand = [&](const QString &line) { sent << line; };
    qint64 moved = 0;
    Ftp.OnProgress = [&](TFtp *, qint64 amount) { moved += amount; };
    Ftp.PutFile(Base + "p.bin", LocalFile("p.bin", bytes), false);
    EXPECT_EQ(moved, bytes.size());
    if (Sftp()) { // in writes of 64 KiB, which OpenSSH takes, and bytes as they are in any mode
        EXPECT_EQ(sent, QStringList({"OPEN " + Base + "p.bin"})
                            + QStringList(4, "WRITE 65536 bytes")
                            + QStringList{"WRITE 37860 bytes"});
    } else {
        ASSERT_TRUE(sent.contains("TYPE I")); // before STOR, or with it when sent together
        sent.removeAll("TYPE I");
        ASSERT_GE(sent.size(), 2); // on ftp-proxy also the refused EPSV or EPRT
        // vsftpd reads no command during a transfer: the size of what it stored is asked right
        // after the data, at no cost, and checked.
        const bool sized = QByteArray(GetParam().Kind).startsWith("vsftpd");
        EXPECT_EQ(sent.constLast() == "SIZE " + Base + "p.bin", sized)
            << sent.join(", ").toStdString();
        if (sized)
            sent.removeLast();
    }
    sent = sent.mid(sent.size() - 2);
    // ftp-proxy knows only PASV and PORT.
    const bool plain = QByteArray(GetParam().Proxy) == "ftp-proxy";
    EXPECT_TRUE(Sftp()
                || sent[0].startsWith(GetParam().Passive ? (plain ? "PASV" : "EPSV")
                                                         : (plain ? "PORT" : "EPRT")))
        << sent[0].toStdString();
    EXPECT_TRUE(Sftp() || sent[1] == "STOR " + Base + "p.bin");
    EXPECT_EQ(ServerBytes(Base + "p.bin"), bytes);
    Ftp.GetFile(Base + "p.bin", Local.filePath("p.copy"), false, bytes.size());
    EXPECT_EQ(ReadWholeFile(Local.filePath("p.copy")), bytes);
    EXPECT_EQ(moved, 2 * bytes.size());
    Ftp.OnProgress = nullptr;
    // Refused, whether data went ahead of the refusal or not: the session stays in step.
    for (const qsizetype size : {qsizetype(10), bytes.size()})
        EXPECT_THROW(
            Ftp.PutFile(Base + "never-there/p.bin", LocalFile("q.bin", bytes.left(size)), false),
            EFtpError);

    // ASCII: the server keeps LF or CR LF (RFC 959); a download gives back LF either way.
    sent.clear();
    const QByteArray script = "#!/usr/bin/perl\nprint \"ok\\n\";\n\nexit 0;\n";
    Ftp.PutFile(Base + "run.pl", LocalFile("run.pl", script), true);
    if (Sftp())
        EXPECT_EQ(sent.value(0), "OPEN " + Base + "run.pl");
    else
        EXPECT_EQ(sent.filter("TYPE "), QStringList{"TYPE A"});
    const QByteArray stored = ServerBytes(Base + "run.pl");
    EXPECT_TRUE(stored == script || stored == QByteArray(script).replace("\n", "\r\n"))
        << stored.toStdString();
    const QString back = Local.filePath("back.txt");
    Ftp.GetFile(Base + "run.pl", back, true, script.size());
    EXPECT_EQ(ReadWholeFile(back), script);
    PutServerBytes(Base + "unix.txt", "a\nb\n\nc");
    Ftp.GetFile(Base + "unix.txt", back, true, 6); // overwrites
    EXPECT_EQ(ReadWholeFile(back), "a\nb\n\nc");
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
    if (QByteArray(GetParam().Proxy) == "ftp-proxy" && GetParam().Passive) {
        // It answers commands sent together out of step: noticed, then one at a time.
        Ftp.Pipelining = true;
        EXPECT_THROW(Ftp.FindFiles(Base.chopped(1), list), EFtpError);
        EXPECT_TRUE(Ftp.Lost());
        EXPECT_FALSE(Ftp.Pipelining);
        Ftp.Disconnect();
        Ftp.Connect();
    }
    Ftp.FindFiles(Base.chopped(1), list);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1));
    EXPECT_EQ(Entries(list), files("sub/"));
    Ftp.FindFiles(QString(), list); // appended; an empty path lists the current folder
    EXPECT_EQ(list.Count(), 10);

    Ftp.SetCurrentDir(Base + "sub");
    Ftp.PutFile("rel.txt", LocalFile("rel.txt", "relative"), false); // relative to the folder
    PutServerBytes(Base + "sub/renamed.txt", "replaced by the rename");
    Ftp.RenameFile(Base + "sub/rel.txt", Base + "sub/renamed.txt");
    EXPECT_EQ(ServerBytes(Base + "sub/renamed.txt"), "relative");
    Ftp.Chmod(Base + "sub/renamed.txt", "755");
    struct stat info = {};
    if (!Server->Root.isEmpty()) {
        ::stat(QFile::encodeName(Server->LocalPath(Base + "sub/renamed.txt")), &info);
        EXPECT_EQ(info.st_mode & 0777, 0755u);
    }
    Ftp.DeleteFile(Base + "sub/renamed.txt");
    Ftp.FindFiles(Base + "sub", list = TFtpFileList());
    EXPECT_EQ(list.Count(), 0);
    Ftp.SetCurrentDir(Base);
    Ftp.RemoveDir(Base + "sub");
    EXPECT_THROW(Ftp.RemoveDir(Base + "never-there"), EFtpError);
    EXPECT_EQ(Ftp.GetCurrentDir(), Base.chopped(1)); // a refusal leaves the session usable
    if (Server->Root.isEmpty())
        return;
    const QString huge = Server->LocalPath(Base + "huge.iso"); // 64-bit sizes: a sparse 5 GiB
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
                             // SOCKS carries passive data connections only; TLS and SSH go end to
                             // end.
                             params.insert(params.end(), {{"pyftpdlib", true, "microsocks"},
                                                          {"pyftpdlib-tls", true, "microsocks"},
                                                          {"vsftpd", true, "dante"},
                                                          {"vsftpd-tls", true, "dante"},
                                                          {"pyftpdlib", true, "ftp-proxy"},
                                                          {"pyftpdlib", false, "ftp-proxy"},
                                                          {"sshd", true},
                                                          {"sshd", true, "microsocks"},
                                                          {"sshd", true, "dante"}});
                             return params;
                         }()),
                         [](const auto &info) {
                             std::string name
                                 = info.param.Kind
                                   + std::string(info.param.Passive ? "_passive" : "_active")
                                   + (*info.param.Proxy ? "_via_" : "") + info.param.Proxy;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Host keys as ssh judges them: an unknown one is refused with its fingerprint until trusted (and
// then known), a changed one is refused whatever is trusted. Abort ends a call the frozen server
// leaves waiting.
TEST(Sftp, HostKeysAndAbortOnAFrozenServer)
{
    auto server = StartSshd();
    ASSERT_TRUE(server);
    TFtp ftp;
    ConfigureFor(ftp, *server);
    const QString knownHosts = QDir::homePath() + "/.ssh/known_hosts";
    const auto refusal = [&] {
        try {
            ftp.Connect();
        } catch (const EFtpHostKeyError &error) {
            return error;
        }
        throw std::runtime_error("connected");
    };
    WriteWholeFile(knownHosts, {});
    const EFtpHostKeyError unknown = refusal();
    EXPECT_FALSE(unknown.Changed);
    EXPECT_EQ(unknown.Certificate.Fingerprint, server->HostKeyFingerprint);
    EXPECT_TRUE(unknown.Message().endsWith("fingerprint " + server->HostKeyFingerprint));
    ftp.TrustedFingerprint = unknown.Certificate.Fingerprint.mid(7); // "SHA256:" may be left out
    ftp.Connect();
    ftp.Disconnect();
    ftp.TrustedFingerprint.clear();
    ftp.Connect(); // known now
    ftp.Disconnect();
    EXPECT_TRUE(ReadWholeFile(knownHosts).contains(server->HostKey.section(' ', 1).toUtf8()));

    WriteWholeFile(knownHosts, KnownHostsLine(*server, server->OtherKey).toUtf8());
    ftp.TrustedFingerprint = server->HostKeyFingerprint;
    const EFtpHostKeyError changed = refusal();
    EXPECT_TRUE(changed.Changed && changed.Certificate.Fingerprint == server->HostKeyFingerprint);
    EXPECT_TRUE(changed.Message().contains(server->HostKeyFingerprint)
                && !changed.Message().contains("(another type)"))
        << changed.Message().toStdString();

    ConfigureFor(ftp, *server);
    ftp.Timeout = 0; // only Abort can end it
    ftp.Connect();
    const QList<qint64> tree = ProcessTree(server->Pid);
    const auto signal = [&](int sig) {
        for (const qint64 pid : tree)
            ::kill(pid_t(pid), sig);
    };
    signal(SIGSTOP);
    const auto abortedAfter = [&](auto call) { return AbortedAfter<EFtpError>(ftp, call); };
    TFtpFileList list;
    EXPECT_LT(abortedAfter([&] { ftp.FindFiles(server->Root, list); }), 450);
    ftp.Disconnect();
    EXPECT_LT(abortedAfter([&] { ftp.Connect(); }), 450);
    ftp.Disconnect();
    signal(SIGCONT);
    ftp.Connect();
    EXPECT_EQ(ftp.GetCurrentDir(), server->Root);
}

// Log-in by password and by keyboard-interactive; a wrong password is refused naming the way tried.
TEST(Sftp, PasswordAndKeyboardInteractiveLogIn)
{
    for (const QString auth : {"password", "keyboard-interactive"}) {
        auto server = StartScriptedSftp(auth);
        ASSERT_TRUE(server);
        WriteWholeFile(server->Root + "/a b.txt", "12345");
        TFtp ftp;
        ConfigureFor(ftp, *server);
        ftp.Connect();
        TFtpFileList list;
        ftp.FindFiles("/", list);
        EXPECT_EQ(Entries(list), QStringList{"a b.txt 5"});
        ftp.Disconnect();
        ftp.Password = "wrong";
        EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }),
                  "Login refused for zandrel (tried: " + auth + ")");
    }
}
