// Faults a real server does not show, against a scripted server on loopback.
#include "ftp/FtpReply.h"
#include "ftp/FtpWininet.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

// Replies of several lines or of great length, and the error the client makes of each.
const std::tuple<QByteArray, QByteArray, QString> LongReplies[] = {
    {"CWD a", "550-First line\r\n550-Second line\r\n550 Permission denied\r\n",
     "Permission denied"},
    {"CWD b", "550-Start\r\n free text 550 inside\r\n550 End here\r\n", "End here"},
    {"DELE x", "550 " + QByteArray(1000, 'x') + "\r\n", QString(255, 'x')},
    {"DELE y", "550-" + QByteArray(100000, 'y') + "\r\n550 " + QByteArray(300, 'z') + "\r\n",
     QString(255, 'z')},
};

// An FTP server on a thread of its own. The name a command acts on asks for a fault: "silent" (no
// reply), "blocked" (stops after 150), "cut" and "quota" (data cut), "gone" (session cut).
// Connections in `mute` get no greeting. On IPv4, EPSV is refused and PASV names a foreign
// address: the client must fall back and use the control connection's peer.
class TScripted
{
public:
    explicit TScripted(const QList<int> &mute = {}, bool ipv6 = false,
                       const std::function<QByteArray()> &size = {})
        : m_mute(mute)
        , m_ipv6(ipv6)
        , m_size(size)
    {
        std::promise<quint16> port;
        m_thread = std::thread([this, &port] {
            QTcpServer listener;
            listener.listen(m_loopback);
            port.set_value(listener.serverPort());
            for (int number = 0; (m_control = Accept(listener)); ++number) {
                if (m_mute.contains(number) || Session())
                    while (!Command().isEmpty()) {
                    }
                m_control->disconnectFromHost();
                m_control->state() == QAbstractSocket::UnconnectedState
                    || m_control->waitForDisconnected(1000);
            }
            m_data.reset(); // the sockets belong to this thread
        });
        Port = port.get_future().get();
    }
    ~TScripted()
    {
        m_stopping = true;
        m_thread.join();
    }
    quint16 Port = 0;

private:
    // True when it ends silent, the client still there.
    bool Session()
    {
        Reply("220 Scripted server");
        for (const char *reply : {"331 Password please", "230 Logged in",
                                  "211-Features:\r\n EPSV\r\n SIZE\r\n211 End"}) {
            Command();
            Reply(reply);
        }
        for (QByteArray command; !(command = Command()).isEmpty() && command != "QUIT";) {
            const QByteArray name = command.mid(command.indexOf(' ') + 1);
            const auto other
                = std::find_if(std::begin(LongReplies), std::end(LongReplies),
                               [&](const auto &r) { return std::get<0>(r) == command; });
            if (other != std::end(LongReplies)) {
                Reply(std::get<1>(*other).chopped(2));
            } else if (command == "EPSV" || command == "PASV") {
                m_data = std::make_unique<QTcpServer>();
                m_data->listen(m_loopback);
                const int port = m_data->serverPort();
                Reply(command == "PASV"
                          ? "227 Entering Passive Mode (10,1,2,3," + QByteArray::number(port / 256)
                                + "," + QByteArray::number(port % 256) + ")"
                      : m_ipv6 ? "229 Entering Extended Passive Mode (|||"
                                     + QByteArray::number(port) + "|)"
                               : "500 EPSV not understood");
            } else if (command.startsWith("TYPE") || command == "PWD") {
                Reply(command == "PWD" ? "257 \"/\" is the current directory" : "200 Type set");
            } else if (command.startsWith("SIZE")) {
                Reply(m_size());
            } else if (name == "silent") {
                return true;
            } else if (command.startsWith("LIST") || command.startsWith("RETR")
                       || command.startsWith("STOR")) {
                const auto data = Accept(*m_data);
                Reply("150 Opening data connection");
                if (name == "blocked")
                    return true;
                if (command.startsWith("STOR")) {
                    while (data->state() == QAbstractSocket::ConnectedState
                           && (name.startsWith('/') || data->bytesAvailable() < 100))
                        data->waitForReadyRead(50);
                } else {
                    data->write(name == "cut" ? QByteArray(1000, 'd')
                                              : "drwxr-xr-x 2 0 0 4096 Jan 02  2020 v6 folder\r\n");
                    data->waitForBytesWritten(5000);
                }
                if (name == "cut" || name == "quota" || name == "gone")
                    data->abort();
                data->disconnectFromHost();
                data->state() == QAbstractSocket::UnconnectedState
                    || data->waitForDisconnected(5000);
                if (name == "gone")
                    return false;
                Reply(name == "cut"     ? "426 Connection closed; transfer aborted."
                      : name == "quota" ? "552 Quota exceeded"
                                        : "226 Done");
            } else {
                Reply("500 Unexpected " + command);
            }
        }
        return false;
    }
    void Reply(const QByteArray &line)
    {
        m_control->write(line + "\r\n");
        m_control->waitForBytesWritten(5000);
    }
    // The next command line; empty once the client has gone.
    QByteArray Command()
    {
        while (!m_control->canReadLine() && !m_stopping
               && m_control->state() == QAbstractSocket::ConnectedState)
            m_control->waitForReadyRead(50);
        return m_control->canReadLine() ? m_control->readLine().chopped(2) : QByteArray();
    }
    std::unique_ptr<QTcpSocket> Accept(QTcpServer &server)
    {
        while (!m_stopping && !server.waitForNewConnection(50)) {
        }
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        return socket ? (socket->setParent(nullptr), std::move(socket)) : nullptr;
    }

    const QList<int> m_mute;
    const bool m_ipv6;
    const std::function<QByteArray()> m_size;
    const QHostAddress m_loopback{m_ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    std::unique_ptr<QTcpSocket> m_control;
    std::unique_ptr<QTcpServer> m_data;
};

void Configure(TFtp &ftp, const TScripted &server, int timeoutMs = 5000)
{
    ftp.ServerName = "127.0.0.1";
    ftp.ServerPort = server.Port;
    ftp.UserName = "user";
    ftp.Passive = true;
    ftp.Timeout = timeoutMs;
}

// Silence: a reply that never comes times out, or, with no time-out, ends at once on Abort().
TEST(FtpFaults, AbortEndsABlockedTransferAtOnceAndAReplyThatNeverComesTimesOut)
{
    TScripted server({1, 3});
    QTemporaryDir folder;
    TFtp ftp;
    Configure(ftp, server, 300);
    ftp.Connect();
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.SetCurrentDir("silent"); }), "The operation timed out");
    EXPECT_TRUE(timer.elapsed() >= 250 && timer.elapsed() < 3000) << timer.elapsed();
    // The reply stream is out of step now: later calls raise, Connected stays.
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.SetCurrentDir("/"); }), "Connection to the server lost");
    ftp.Disconnect();
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "The operation timed out");
    EXPECT_FALSE(ftp.Connected());

    const auto abortedAfter = [&](auto call) { return AbortedAfter<EFtpError>(ftp, call); };
    ftp.Timeout = 0; // only Abort can end it
    ftp.Connect();
    EXPECT_LT(abortedAfter([&] { ftp.GetFile("blocked", folder.filePath("f"), false, 100); }), 450);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.GetCurrentDir(); }), "Operation aborted");
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "Operation aborted");
    ftp.Disconnect();
    EXPECT_LT(abortedAfter([&] { ftp.Connect(); }), 450);
    EXPECT_FALSE(ftp.Connected());

    ftp.Disconnect();
    ftp.ServerPort = 1; // nothing listens there
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "Connection refused");
    ftp.Proxy = "socks=127.0.0.1:1";
    ftp.Passive = false; // refused before any connection is tried
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }),
              "Active mode does not work through a SOCKS proxy: use passive mode");
    ftp.ServerName = "no-such-host.invalid";
    ftp.Proxy.clear();
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "Host not found");
}

TEST(FtpFaults, MultiLineAndOverLongRepliesOverIpv6)
{
    TScripted server({}, true);
    TFtp ftp;
    Configure(ftp, server);
    ftp.ServerName = "::1";
    ftp.Connect();
    for (const auto &[command, reply, error] : LongReplies) {
        const QString name = command.mid(command.indexOf(' ') + 1);
        EXPECT_EQ(ErrorOf<EFtpError>([&] {
                      command.startsWith("CWD") ? ftp.SetCurrentDir(name) : ftp.DeleteFile(name);
                  }),
                  error);
    }
    // Every reply was read to its end: the session is still in step, and data flows over IPv6.
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    TFtpFileList list;
    ftp.FindFiles(QString(), list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0)->Name, "v6 folder");
    // A continuation line left last keeps its hyphen; a NUL ends the text.
    EXPECT_EQ(ReplyErrorText("250-abc\n250-def\n"), "-def");
    EXPECT_EQ(ReplyErrorText(QByteArray("530 No\0tail\r\n", 13)), "No");
    EXPECT_EQ(ReplyErrorText("550 \r\n"), "Unknown error");
}

TEST(FtpFaults, ConnectionCutDuringTransfers)
{
    TScripted server;
    QTemporaryDir folder;
    const QString local = folder.filePath("page.html"), big = folder.filePath("big.bin");
    WriteWholeFile(local, "good old content");
    WriteWholeFile(big, QByteArray(4 * 1024 * 1024, 'b'));
    TFtp ftp;
    Configure(ftp, server);
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    ftp.Connect();
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.GetFile("cut", local, false, 5000); }),
              "Connection closed; transfer aborted.");
    EXPECT_EQ(ReadWholeFile(local), "good old content");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.PutFile("quota", big, false); }), "Quota exceeded");
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    EXPECT_EQ(sent.filter(QRegularExpression("^(EPSV|PASV)")),
              QStringList({"EPSV", "PASV", "PASV"}));
    ftp.OnCommand = nullptr;
    const QString lost = ErrorOf<EFtpError>([&] { ftp.PutFile("gone", big, false); });
    EXPECT_TRUE(lost == "Connection closed by the server" || lost == "Connection reset by peer")
        << lost.toStdString();
    EXPECT_FALSE(ErrorOf<EFtpError>([&] { ftp.GetCurrentDir(); }).isEmpty());
}

// After a STOR the stored size is asked and judged; a text file passes with any size line-end
// conversion can give, and a refused or unimplemented SIZE passes unjudged.
TEST(FtpFaults, StoredSizeIsAskedAndJudged)
{
    // ASCII or not, the reply to SIZE ("" when none may come), the error ("%1": the local file).
    using TCase = std::tuple<bool, QByteArray, QString>;
    const QString cut = "%1 did not reach the server whole: it holds %2 bytes of the %3 sent";
    const std::vector<TCase> cases = {
        {false, "213 10", ""},
        {false, "213 4", cut.arg("%1", "4", "10")},
        {false, "213 11", cut.arg("%1", "11", "10")},
        {false, "550 No such file",
         "%1 is not on the server although it reported it stored (No such file)"},
        {true, "213 9", ""},  // "a\r\nb\nc\r\nd\n\n" less its two CRs
        {true, "213 14", ""}, // plus a CR before each of its three bare LFs
        {true, "213 8", cut.arg("%1", "8", "11")},
        {true, "213 15", cut.arg("%1", "15", "11")},
        {true, "550 SIZE not allowed in ASCII mode", ""},
        {false, "502 Command not implemented", ""},
        {false, "", ""}, // not asked again on this server
    };
    std::atomic<size_t> next{0};
    TScripted server({}, false, [&] {
        return next < cases.size() ? std::get<1>(cases[next]) : QByteArray("500 Not now");
    });
    QTemporaryDir folder;
    const QString binary = folder.filePath("b.bin"), text = folder.filePath("t.html");
    WriteWholeFile(binary, "0123456789");
    WriteWholeFile(text, "a\r\nb\nc\r\nd\n\n");
    TFtp ftp;
    Configure(ftp, server);
    ftp.VerifyStoredSize = true;
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    ftp.Connect();
    for (; next < cases.size(); ++next) {
        const auto &[ascii, sizeReply, error] = cases[next];
        const QString local = ascii ? text : binary;
        sent.clear();
        const auto put = [&] { ftp.PutFile("/x", local, ascii); };
        if (!error.isEmpty())
            EXPECT_EQ(ErrorOf<EFtpIncompleteError>(put), error.arg(local)) << next;
        else
            EXPECT_NO_THROW(put()) << next;
        EXPECT_EQ(sent.contains("SIZE /x"), !sizeReply.isEmpty()) << next;
    }
}
