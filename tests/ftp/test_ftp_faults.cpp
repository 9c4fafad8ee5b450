// Faults a real server does not show, against a scripted server: silence, cut connections, odd
// and over-long replies, stored sizes that differ, IPv6, and Abort() from another thread.
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
    {"MKD q", "257 \"/with \"\"quote\"\"\" created\r\n", ""},
};

// A tiny FTP server on loopback, on a thread of its own. The name a command acts on asks for a
// fault: "CWD silent" gets no reply, "RETR blocked" stops after 150, "RETR cut" and "STOR quota"
// cut the data connection, "STOR gone" the whole session. Connections (0, 1, ...) in `mute` get
// not even a greeting; `size` answers SIZE. On IPv4, EPSV is refused and PASV names
// a foreign address: the client must fall back and use the control connection's peer. Every wait
// polls, so the server stops at once.
class TScripted
{
public:
    explicit TScripted(const QList<int> &mute = {}, bool ipv6 = false,
                       const std::function<QByteArray()> &size = {})
        : m_mute(mute)
        , m_ipv6(ipv6)
        , m_size(size)
        , m_loopback(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost)
    {
        std::promise<quint16> port;
        m_thread = std::thread([this, &port] {
            QTcpServer listener;
            listener.listen(m_loopback);
            port.set_value(listener.serverPort());
            for (int number = 0; (m_control = Accept(listener)); ++number) {
                if (m_mute.contains(number) || Session())
                    WaitForClose();
                m_control->disconnectFromHost();
                if (m_control->state() != QAbstractSocket::UnconnectedState)
                    m_control->waitForDisconnected(1000);
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
                Send(std::get<1>(*other));
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
            } else if (command.startsWith("TYPE")) {
                Reply("200 Type set");
            } else if (command == "PWD") {
                Reply("257 \"/\" is the current directory");
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
                if (data->state() != QAbstractSocket::UnconnectedState)
                    data->waitForDisconnected(5000);
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
    void Send(const QByteArray &bytes)
    {
        m_control->write(bytes);
        m_control->waitForBytesWritten(5000);
    }
    void Reply(const QByteArray &line) { Send(line + "\r\n"); }
    // The next command line; empty once the client has gone.
    QByteArray Command()
    {
        while (!m_control->canReadLine() && !m_stopping
               && m_control->state() == QAbstractSocket::ConnectedState)
            m_control->waitForReadyRead(50);
        return m_control->canReadLine() ? m_control->readLine().chopped(2) : QByteArray();
    }
    void WaitForClose()
    {
        while (!Command().isEmpty()) {
        }
    }
    std::unique_ptr<QTcpSocket> Accept(QTcpServer &server)
    {
        while (!m_stopping && !server.waitForNewConnection(50)) {
        }
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        if (socket)
            socket->setParent(nullptr);
        return socket;
    }

    const QList<int> m_mute;
    const bool m_ipv6;
    const std::function<QByteArray()> m_size;
    const QHostAddress m_loopback;
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
    ftp.Password = "secret";
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
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 3000);
    // The reply stream is out of step now: later calls raise, Connected stays.
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.SetCurrentDir("/"); }), "Connection to the server lost");
    ftp.Disconnect();
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "The operation timed out");
    EXPECT_FALSE(ftp.Connected());

    // Aborts after 300 ms from another thread; returns the time from Abort to the failure.
    const auto abortedAfter = [&ftp](const std::function<void()> &call) {
        std::chrono::steady_clock::time_point abortedAt;
        std::thread aborter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            abortedAt = std::chrono::steady_clock::now();
            ftp.Abort();
        });
        EXPECT_EQ(ErrorOf<EFtpError>(call), "Operation aborted");
        const auto failedAt = std::chrono::steady_clock::now();
        aborter.join();
        return std::chrono::duration_cast<std::chrono::milliseconds>(failedAt - abortedAt).count();
    };
    ftp.Timeout = 0; // only Abort can end it
    ftp.Connect();
    EXPECT_LT(abortedAfter([&] { ftp.GetFile("blocked", folder.filePath("f"), false, 100); }), 450);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    // Every call raises until Disconnect; Connect included.
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.GetCurrentDir(); }), "Operation aborted");
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "Operation aborted");
    // A Connect waiting for a greeting is aborted the same way.
    ftp.Disconnect();
    EXPECT_LT(abortedAfter([&] { ftp.Connect(); }), 450);
    EXPECT_FALSE(ftp.Connected());

    ftp.Disconnect();
    ftp.ServerPort = 1; // nothing listens there
    EXPECT_EQ(ErrorOf<EFtpError>([&] { ftp.Connect(); }), "Connection refused");
    ftp.ServerName = "no-such-host.invalid";
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
        const QString name = command.mid(command.indexOf(' ') + 1), verb = command.left(3);
        const auto call = [&] {
            verb == "CWD"   ? ftp.SetCurrentDir(name)
            : verb == "MKD" ? ftp.CreateDir(name)
                            : ftp.DeleteFile(name);
        };
        if (error.isEmpty())
            EXPECT_NO_THROW(call());
        else
            EXPECT_EQ(ErrorOf<EFtpError>(call), error);
    }
    // Every reply was read to its end: the session is still in step, and data flows over IPv6.
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    TFtpFileList list;
    ftp.FindFiles(QString(), list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0)->Name, "v6 folder");
}

TEST(FtpFaults, ConnectionCutDuringTransfers)
{
    TScripted server;
    QTemporaryDir folder;
    const QString local = folder.filePath("page.html");
    WriteWholeFile(local, "good old content");
    const QString big = folder.filePath("big.bin");
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
    // EPSV was refused once; PASV from then on.
    EXPECT_EQ(sent.filter(QRegularExpression("^(EPSV|PASV)")),
              QStringList({"EPSV", "PASV", "PASV"}));
    ftp.OnCommand = nullptr;
    const QString lost = ErrorOf<EFtpError>([&] { ftp.PutFile("gone", big, false); });
    EXPECT_TRUE(lost == "Connection closed by the server" || lost == "Connection reset by peer")
        << lost.toStdString();
    EXPECT_FALSE(ErrorOf<EFtpError>([&] { ftp.GetCurrentDir(); }).isEmpty());
}

// After a STOR the stored size is asked (SIZE) and judged: a size that differs, or a binary file
// that is not there, fails; a text file passes with any size line-end conversion can give, and
// a refusal of SIZE in ASCII mode or a SIZE that is not implemented passes unjudged.
TEST(FtpFaults, StoredSizeIsAskedAndJudged)
{
    struct TCase
    {
        bool Ascii;
        QByteArray SizeReply; // "" when no SIZE may come
        const char *Error;    // "%1" stands for the local file, "" for none
    };
    const std::vector<TCase> cases = {
        {false, "213 10", ""},
        {false, "213 4", "%1 did not reach the server whole: it holds 4 bytes of the 10 sent"},
        {false, "213 11", "%1 did not reach the server whole: it holds 11 bytes of the 10 sent"},
        {false, "550 No such file",
         "%1 is not on the server although it reported it stored (No such file)"},
        {true, "213 9", ""},  // "a\r\nb\nc\r\nd\n\n" less its two CRs
        {true, "213 14", ""}, // plus a CR before each of its three bare LFs
        {true, "213 8", "%1 did not reach the server whole: it holds 8 bytes of the 11 sent"},
        {true, "213 15", "%1 did not reach the server whole: it holds 15 bytes of the 11 sent"},
        {true, "550 SIZE not allowed in ASCII mode", ""},
        {false, "502 Command not implemented", ""},
        {false, "", ""}, // not asked again on this server
    };
    std::atomic<size_t> next{0};
    TScripted server({}, false, [&] {
        return next < cases.size() ? cases[next].SizeReply : QByteArray("500 Not now");
    });
    QTemporaryDir folder;
    const QString binary = folder.filePath("b.bin");
    WriteWholeFile(binary, "0123456789");
    const QString text = folder.filePath("t.html");
    WriteWholeFile(text, "a\r\nb\nc\r\nd\n\n");
    TFtp ftp;
    Configure(ftp, server);
    ftp.VerifyStoredSize = true;
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    ftp.Connect();
    for (; next < cases.size(); ++next) {
        const TCase &c = cases[next];
        const QString local = c.Ascii ? text : binary;
        sent.clear();
        const auto put = [&] { ftp.PutFile("/x", local, c.Ascii); };
        if (*c.Error)
            EXPECT_EQ(ErrorOf<EFtpIncompleteError>(put), QString(c.Error).arg(local)) << next;
        else
            EXPECT_NO_THROW(put()) << next;
        EXPECT_EQ(sent.contains("SIZE /x"), !c.SizeReply.isEmpty()) << next;
    }
    // Off, nothing is asked.
    ftp.VerifyStoredSize = false;
    sent.clear();
    ftp.Disconnect();
    ftp.Connect();
    ftp.PutFile("/x", binary, false);
    EXPECT_FALSE(sent.contains("SIZE /x"));
}
