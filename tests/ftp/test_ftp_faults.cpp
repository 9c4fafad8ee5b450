// Faults a real server does not show, against a scripted server: silence, cut connections, odd
// and over-long replies, refused extensions, and Abort() from another thread.
#include "ftp/FtpWininet.h"
#include "tests/ftp/ScriptedFtpServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

namespace {

void Configure(TFtp &ftp, quint16 port, int timeoutMs = 5000)
{
    ftp.ServerName = QStringLiteral("127.0.0.1");
    ftp.ServerPort = port;
    ftp.UserName = QStringLiteral("user");
    ftp.Password = QStringLiteral("secret");
    ftp.Passive = true;
    ftp.Timeout = timeoutMs;
}

// Runs `call`, which must raise; returns the message.
template <class F> QString ErrorOf(F &&call)
{
    try {
        call();
    } catch (const EFtpError &error) {
        return error.Message();
    }
    ADD_FAILURE() << "no EFtpError";
    return {};
}

// Answers TYPE, EPSV and PWD the usual way; anything else goes to `other`. Ends when the client
// leaves or `other` returns false.
void Serve(TScriptedConnection &c, const std::function<bool(const QByteArray &)> &other)
{
    for (;;) {
        const QByteArray command = c.Command();
        if (command.isEmpty() || command == "QUIT")
            return;
        if (command.startsWith("TYPE"))
            c.Reply("200 Type set");
        else if (command == "EPSV")
            c.Reply(c.Epsv());
        else if (command == "PWD")
            c.Reply("257 \"/\" is the current directory");
        else if (!other(command))
            return;
    }
}

} // namespace

TEST(FtpFaults, ReplyThatNeverComesTimesOut)
{
    TScriptedFtpServer server([](TScriptedConnection &c, int number) {
        if (number == 0) {
            c.Login();
            c.Command(); // PWD: no answer
        }
        c.WaitForClose(); // connection 1: not even a greeting
    });
    TFtp ftp;
    Configure(ftp, server.Port(), 300);
    ftp.Connect();
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ErrorOf([&] { ftp.GetCurrentDir(); }), "The operation timed out");
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 3000);
    // The reply stream is out of step now: later calls raise, Connected stays.
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(ErrorOf([&] { ftp.SetCurrentDir("/"); }), "Connection to the server lost");

    ftp.Disconnect();
    timer.restart();
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "The operation timed out");
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpFaults, MultiLineAndOverLongReplies)
{
    TScriptedFtpServer server([](TScriptedConnection &c, int) {
        c.Login();
        Serve(c, [&](const QByteArray &command) {
            if (command == "CWD a")
                c.Send("550-First line\r\n550-Second line\r\n550 Permission denied\r\n");
            else if (command == "CWD b")
                c.Send("550-Start\r\n free text 550 inside\r\n550 End here\r\n");
            else if (command == "DELE x")
                c.Reply("550 " + QByteArray(1000, 'x'));
            else if (command == "DELE y")
                c.Send("550-" + QByteArray(100000, 'y') + "\r\n550 " + QByteArray(300, 'z')
                       + "\r\n");
            else if (command == "MKD q")
                c.Reply("257 \"/with \"\"quote\"\"\" created");
            return true;
        });
    });
    TFtp ftp;
    Configure(ftp, server.Port());
    ftp.Connect();
    EXPECT_EQ(ErrorOf([&] { ftp.SetCurrentDir("a"); }), "Permission denied");
    EXPECT_EQ(ErrorOf([&] { ftp.SetCurrentDir("b"); }), "End here");
    EXPECT_EQ(ErrorOf([&] { ftp.DeleteFile("x"); }), QString(255, QLatin1Char('x')));
    EXPECT_EQ(ErrorOf([&] { ftp.DeleteFile("y"); }), QString(255, QLatin1Char('z')));
    // Every reply was read to its end: the session is still in step.
    ftp.CreateDir("q");
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    EXPECT_TRUE(ftp.Connected());
}

TEST(FtpFaults, ConnectionCutDuringTransfers)
{
    TScriptedFtpServer server([](TScriptedConnection &c, int number) {
        c.Login();
        Serve(c, [&](const QByteArray &command) {
            const int data = c.AcceptData();
            c.Reply("150 Opening data connection");
            if (command.startsWith("RETR")) {
                ::send(data, QByteArray(1000, 'd').constData(), 1000, MSG_NOSIGNAL);
            } else {
                TScriptedConnection::ReadAll(data, 100);
            }
            c.CloseData(data);
            if (number == 1)
                return false; // the whole server goes
            c.Reply(command.startsWith("RETR") ? "426 Connection closed; transfer aborted."
                                               : "552 Quota exceeded");
            return true;
        });
    });
    QTemporaryDir folder;
    const QString local = folder.filePath("page.html");
    WriteWholeFile(local, "good old content");
    const QString big = folder.filePath("big.bin");
    WriteWholeFile(big, QByteArray(4 * 1024 * 1024, 'b'));

    TFtp ftp;
    Configure(ftp, server.Port());
    ftp.Connect();
    EXPECT_EQ(ErrorOf([&] { ftp.GetFile("page.html", local, false, 5000); }),
              "Connection closed; transfer aborted.");
    EXPECT_EQ(ReadWholeFile(local), "good old content");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_EQ(ErrorOf([&] { ftp.PutFile("big.bin", big, false); }), "Quota exceeded");
    EXPECT_EQ(ftp.GetCurrentDir(), "/");

    ftp.Disconnect();
    ftp.Connect();
    const QString lost = ErrorOf([&] { ftp.PutFile("big.bin", big, false); });
    EXPECT_TRUE(lost == "Connection closed by the server" || lost == "Connection reset by peer")
        << lost.toStdString();
    EXPECT_TRUE(ftp.Connected());
    EXPECT_FALSE(ErrorOf([&] { ftp.GetCurrentDir(); }).isEmpty());
}

TEST(FtpFaults, RefusedExtensionsFallBackAndAreRemembered)
{
    std::atomic<int> lists{0};
    TScriptedFtpServer server([&lists](TScriptedConnection &c, int number) {
        c.Login();
        auto listing = [&](const QByteArray &text) {
            const int data = c.AcceptData();
            c.Reply("150 Here it comes");
            ::send(data, text.constData(), size_t(text.size()), MSG_NOSIGNAL);
            c.CloseData(data);
            c.Reply("226 Done");
        };
        for (;;) {
            const QByteArray command = c.Command();
            if (command.isEmpty())
                return;
            if (command == "EPSV") {
                c.Reply("500 EPSV not understood");
            } else if (command == "PASV") {
                // A foreign address: the client must use the control connection's peer.
                const QByteArray epsv = c.Epsv();
                const int port = epsv.mid(epsv.indexOf("|||") + 3).chopped(2).toInt();
                c.Reply("227 Entering Passive Mode (10,1,2,3," + QByteArray::number(port / 256)
                        + "," + QByteArray::number(port % 256) + ")");
            } else if (command == "LIST -a") {
                // Refused, or taken for a file name that does not exist.
                if (number == 0)
                    c.Reply("501 No options");
                else
                    listing("");
            } else if (command == "LIST") {
                if (++lists % 2 == 0)
                    c.Reply("550 No files found");
                else
                    listing("-rw-r--r-- 1 0 0 7 May 12  2020 a file\r\n");
            }
        }
    });
    for (int connection = 0; connection < 2; ++connection) {
        TFtp ftp;
        Configure(ftp, server.Port());
        QStringList sent;
        ftp.OnCommand = [&](const QString &line) { sent << line; };
        ftp.Connect();
        TFtpFileList list;
        ftp.FindFiles(QString(), list);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Items(0)->Name, "a file");
        EXPECT_EQ(list.Items(0)->Size, 7);

        sent.clear();
        ftp.FindFiles(QString(), list); // 550: an empty listing, no error
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(sent, QStringList({"PASV", "LIST"}));
        ftp.OnCommand = nullptr;
    }
}

TEST(FtpFaults, LoginAskingForAccountAndRefusedLogin)
{
    TScriptedFtpServer server([](TScriptedConnection &c, int number) {
        c.Reply("220 Hello");
        c.Command();
        c.Reply("331 Password");
        c.Command();
        if (number == 1) {
            c.Reply("530 Login incorrect.");
            c.WaitForClose();
            return;
        }
        c.Reply("332 Account please");
        c.Command();
        c.Reply("230 In");
        c.Command();
        c.Reply("500 FEAT unknown");
        c.WaitForClose();
    });
    TFtp ftp;
    Configure(ftp, server.Port());
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(sent, QStringList({"USER user", "PASS ****", "ACCT ****", "FEAT"}));
    EXPECT_EQ(server.Commands().at(1), "PASS secret");
    ftp.Disconnect();
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "Login incorrect.");
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpFaults, Ipv6InBothModesAndHostNames)
{
    TScriptedFtpServer server(
        [](TScriptedConnection &c, int) {
            c.Login();
            int active = -1;
            Serve(c, [&](const QByteArray &command) {
                if (command.startsWith("EPRT |2|::1|")) {
                    // Active mode: connect back to the port the client names.
                    active = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
                    sockaddr_in6 address{};
                    address.sin6_family = AF_INET6;
                    address.sin6_addr = in6addr_loopback;
                    address.sin6_port = htons(quint16(command.mid(12).chopped(1).toUInt()));
                    ::connect(active, reinterpret_cast<sockaddr *>(&address), sizeof address);
                    c.Reply("200 EPRT ok");
                    return true;
                }
                const int data = active >= 0 ? active : c.AcceptData();
                c.Reply("150 Listing");
                const QByteArray line = "drwxr-xr-x 2 0 0 4096 Jan 02  2020 v6 folder\r\n";
                ::send(data, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
                if (active >= 0)
                    ::close(active);
                else
                    c.CloseData(data);
                active = -1;
                c.Reply("226 Done");
                return true;
            });
        },
        true);
    for (bool passive : {true, false}) {
        TFtp ftp;
        Configure(ftp, server.Port());
        ftp.ServerName = QStringLiteral("::1");
        ftp.Passive = passive;
        ftp.Connect();
        TFtpFileList list;
        ftp.FindFiles(QString(), list);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Items(0)->Name, "v6 folder");
        EXPECT_TRUE(list.Items(0)->IsFolder);
    }
    const QList<QByteArray> commands = server.Commands();
    EXPECT_TRUE(commands.contains("EPSV"));

    TScriptedFtpServer v4([](TScriptedConnection &c, int) {
        c.Login();
        Serve(c, [](const QByteArray &) { return true; });
    });
    TFtp named;
    Configure(named, v4.Port());
    named.ServerName = QStringLiteral("localhost");
    named.Connect();
    EXPECT_EQ(named.GetCurrentDir(), "/");
}

TEST(FtpFaults, SocketAndNameErrors)
{
    quint16 port = 0;
    {
        TScriptedFtpServer closed([](TScriptedConnection &, int) {});
        port = closed.Port();
    }
    TFtp ftp;
    Configure(ftp, port);
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "Connection refused");
    ftp.ServerName = QStringLiteral("no-such-host.invalid");
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "Host not found");
    EXPECT_EQ(ErrorOf([&] { ftp.GetCurrentDir(); }), "Not connected");
}

TEST(FtpFaults, AbortEndsABlockedTransferAtOnce)
{
    TScriptedFtpServer server([](TScriptedConnection &c, int number) {
        if (number == 1) {
            c.WaitForClose(); // silent: no greeting
            return;
        }
        c.Login();
        Serve(c, [&](const QByteArray &) {
            const int data = c.AcceptData();
            c.Reply("150 Opening data connection"); // and then nothing
            c.WaitForClose();
            c.CloseData(data);
            return false;
        });
    });
    QTemporaryDir folder;
    TFtp ftp;
    Configure(ftp, server.Port(), 0); // no time-out: only Abort can end it

    auto abortLater = [&](std::chrono::steady_clock::time_point &abortedAt) {
        return std::thread([&ftp, &abortedAt] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            abortedAt = std::chrono::steady_clock::now();
            ftp.Abort();
        });
    };
    auto sinceAbort = [](std::chrono::steady_clock::time_point at) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - at)
            .count();
    };

    ftp.Connect();
    std::chrono::steady_clock::time_point abortedAt;
    std::thread aborter = abortLater(abortedAt);
    EXPECT_EQ(ErrorOf([&] { ftp.GetFile("f", folder.filePath("f"), false, 100); }),
              "Operation aborted");
    const qint64 latency = sinceAbort(abortedAt);
    aborter.join();
    EXPECT_LT(latency, 450);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    // Every call raises until Disconnect; Connect included.
    EXPECT_EQ(ErrorOf([&] { ftp.GetCurrentDir(); }), "Operation aborted");
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "Operation aborted");

    // A Connect waiting for a greeting is aborted the same way.
    ftp.Disconnect();
    aborter = abortLater(abortedAt);
    EXPECT_EQ(ErrorOf([&] { ftp.Connect(); }), "Operation aborted");
    EXPECT_LT(sinceAbort(abortedAt), 450);
    aborter.join();
    EXPECT_FALSE(ftp.Connected());

    ftp.Disconnect();
    ftp.Connect();
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
}
