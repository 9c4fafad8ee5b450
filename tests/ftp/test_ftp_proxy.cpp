// Connections through real proxies: microsocks (SOCKS 5), dante (SOCKS 4 and 5, or 4 only) and
// ftp-proxy (an FTP proxy that takes the server from the user name).
#include "ftp/FtpProxy.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpSocket.h"
#include "ftp/FtpWininet.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

void Configure(TFtp &ftp, const TFtpTestServer &server, const QString &proxy)
{
    ftp.ServerName = server.Host;
    ftp.ServerPort = server.Port;
    ftp.UserName = server.User;
    ftp.Password = server.Password;
    ftp.Passive = true;
    ftp.Timeout = 10000;
    ftp.Proxy = proxy;
}

// Upload, listing and download through the proxy; the server's folder shows the result.
void RoundTrip(TFtp &ftp, const TFtpTestServer &server)
{
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

QString SocksText(const TProxyProcess &proxy)
{
    return "socks=" + proxy.Host + ":" + QString::number(proxy.Port);
}

} // namespace

TEST(FtpProxy, Socks5ThroughMicrosocks)
{
    auto server = StartPyftpdlib();
    auto proxy = StartMicrosocks();
    ASSERT_TRUE(server && proxy);
    TFtp ftp;
    Configure(ftp, *server, SocksText(*proxy));
    RoundTrip(ftp, *server);

    // Active data connections cannot come back through SOCKS: a clear refusal, no connection.
    TFtp active;
    Configure(active, *server, SocksText(*proxy));
    active.Passive = false;
    try {
        active.Connect();
        ADD_FAILURE() << "active mode through SOCKS connected";
    } catch (const EFtpError &error) {
        EXPECT_EQ(error.Message(),
                  "Active mode does not work through a SOCKS proxy: use passive mode");
    }
    EXPECT_FALSE(active.Connected());
    EXPECT_EQ(active.Stats().Connections, 0);
}

TEST(FtpProxy, Socks4WhenTheProxyRefusesVersion5)
{
    auto server = StartVsftpd();
    auto proxy = StartDante(true);
    ASSERT_TRUE(server && proxy);
    TFtp ftp;
    Configure(ftp, *server, SocksText(*proxy));
    RoundTrip(ftp, *server);
}

TEST(FtpProxy, Socks4HandshakeAgainstDante)
{
    auto server = StartPyftpdlib();
    auto proxy = StartDante();
    ASSERT_TRUE(server && proxy);
    TFtpCanceller canceller;
    TFtpSocket socket(canceller);
    socket.Connect(ResolveHost(proxy->Host, proxy->Port, AF_UNSPEC, 5000, canceller), 5000);
    Socks4Connect(socket, canceller, server->Host, server->Port, 5000);
    QByteArray buffer;
    EXPECT_EQ(ReadFtpReply(socket, buffer, 5000).Code, 220);

    // Version 5 on the same proxy.
    TFtpSocket v5(canceller);
    v5.Connect(ResolveHost(proxy->Host, proxy->Port, AF_UNSPEC, 5000, canceller), 5000);
    Socks5Connect(v5, server->Host, server->Port, 5000);
    buffer.clear();
    EXPECT_EQ(ReadFtpReply(v5, buffer, 5000).Code, 220);
}

TEST(FtpProxy, FtpProxyLogsInAsUserAtHost)
{
    auto server = StartPyftpdlib();
    auto proxy = StartFtpProxy();
    ASSERT_TRUE(server && proxy);
    TFtp ftp;
    Configure(ftp, *server, "ftp=ftp://" + proxy->Host + ":" + QString::number(proxy->Port));
    QStringList sent;
    ftp.OnCommand = [&](const QString &line) { sent << line; };
    RoundTrip(ftp, *server);
    ftp.OnCommand = nullptr;
    EXPECT_EQ(sent.first(),
              "USER " + server->User + "@" + server->Host + ":" + QString::number(server->Port));
    EXPECT_TRUE(server->ProtocolLog().contains("USER " + server->User));

    // Active mode: the proxy connects back to the address we name.
    TFtp active;
    Configure(active, *server, ftp.Proxy);
    active.Passive = false;
    active.Connect();
    TFtpFileList list;
    active.FindFiles("/via", list);
    EXPECT_EQ(list.Count(), 1);
}
