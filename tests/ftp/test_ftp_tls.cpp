// FTP over TLS against pyftpdlib's TLS handler and vsftpd with ssl_enable: what each encryption
// mode does on servers with and without TLS, what crosses the network in clear, certificates that
// do and do not verify, and Abort during a protected upload.
#include "ftp/FtpSocket.h"
#include "ftp/FtpWininet.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <thread>

std::unique_ptr<TFtpTestServer> StartTlsServer(const QString &kind, bool implicit = false)
{
    TPyftpdlibOptions pyftpdlib;
    TVsftpdOptions vsftpd;
    pyftpdlib.Tls = vsftpd.Tls = kind != "plain";
    vsftpd.ImplicitTls = implicit;
    return kind == "vsftpd" ? StartVsftpd({}, vsftpd) : StartPyftpdlib({}, pyftpdlib);
}

// SSL_CERT_FILE is read when the process makes its first TLS connection: this test comes first.
TEST(Tls, ACertificateTheTrustStoreVouchesForNeedsNoFingerprintButMustNameTheHost)
{
    const QTemporaryDir folder;
    TPyftpdlibOptions options;
    options.Tls = true;
    ASSERT_TRUE(MakeTestCertificate(folder.path(), options.Certificate));
    ::setenv("SSL_CERT_FILE", options.Certificate.CertificateFile.toLocal8Bit().constData(), 1);
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    TFtp ftp;
    ConfigureFor(ftp, *server);
    ftp.Encryption = "require";
    ftp.Connect();
    EXPECT_TRUE(ftp.Encrypted());
    ftp.Disconnect();
    // The same certificate for another name of the same machine.
    ftp.ServerName = "localhost";
    try {
        ftp.Connect();
        ADD_FAILURE() << "a certificate for another host was accepted";
    } catch (const EFtpCertificateError &error) {
        EXPECT_FALSE(error.Certificate.Verified);
        EXPECT_TRUE(error.Certificate.Problem.contains("mismatch"))
            << error.Certificate.Problem.toStdString();
    }
}

// Through a relay that keeps what the client sends: "require" refuses a server without TLS before
// the login, "auto" falls back and says the password went in clear, and with TLS neither the
// password nor a command crosses in clear; implicit TLS speaks TLS from the first byte, which
// plain FTP never gets an answer from. Transfers need PROT P on vsftpd.
TEST(Tls, EncryptionModesAgainstServersWithAndWithoutTlsAndWhatCrossesInClear)
{
    const auto plain = StartTlsServer("plain");
    const auto tls = StartTlsServer("pyftpdlib");
    const auto implicit = StartTlsServer("vsftpd", true);
    ASSERT_TRUE(plain && tls && implicit);
    const struct
    {
        TFtpTestServer *Server;
        const char *Mode, *Outcome; // the security text, or "!" and the start of the error
    } rows[] = {
        {plain.get(), "require", "!The server does not offer TLS"},
        {plain.get(), "auto",
         "the connection is not encrypted: the server offers no TLS, so the "
         "password went in clear"},
        {plain.get(), "off", "the connection is not encrypted"},
        {tls.get(), "require", "connected with TLS 1."},
        {tls.get(), "auto", "connected with TLS 1."},
        {tls.get(), "off", "the connection is not encrypted"},
        {implicit.get(), "implicit", "connected with TLS 1."},
        {implicit.get(), "require", "!"},
    };
    const QTemporaryDir local;
    const QByteArray page = QByteArray("<p>secret page</p>\n").repeated(10000);
    WriteWholeFile(local.filePath("page.html"), page);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Server->Kind.toStdString() + " " + row.Mode);
        TFtpRelay relay(row.Server->Port);
        TFtp ftp;
        ConfigureFor(ftp, *row.Server, &relay.Host);
        ftp.Encryption = row.Mode;
        ftp.TrustedFingerprint = row.Server->CertificateFingerprint;
        ftp.Timeout = 2000;
        const QString outcome = row.Outcome;
        if (outcome.startsWith('!')) {
            const QString error = ErrorOf<EFtpError>([&] { ftp.Connect(); });
            EXPECT_TRUE(error.startsWith(outcome.mid(1))) << error.toStdString();
            EXPECT_FALSE(ftp.Connected());
        } else {
            ftp.Connect();
            EXPECT_TRUE(ftp.SecurityText().startsWith(outcome)) << ftp.SecurityText().toStdString();
            EXPECT_EQ(ftp.Encrypted(), outcome.startsWith("connected"));
            EXPECT_EQ(ftp.FellBackToPlain(), outcome.contains("password"));
            ftp.PutFile("/page.html", local.filePath("page.html"), false);
            ftp.GetFile("/page.html", local.filePath("back.html"), false, page.size());
            EXPECT_EQ(ReadWholeFile(local.filePath("back.html")), page);
            ftp.Disconnect();
        }
        const QByteArray sent = relay.Sent();
        const bool clear = outcome.startsWith("the connection is not");
        // The plain runs show that the relay sees what goes in clear.
        EXPECT_EQ(sent.contains(row.Server->Password.toUtf8()), clear);
        EXPECT_EQ(sent.contains("STOR /page.html"), clear);
        EXPECT_EQ(sent.startsWith("AUTH TLS\r\n"),
                  QByteArray("require auto").contains(row.Mode) && row.Server != implicit.get());
        // Nothing follows a refusal.
        EXPECT_TRUE(!outcome.startsWith("!T") || sent == "AUTH TLS\r\n") << sent.constData();
    }
}

class TlsCertificates : public ::testing::TestWithParam<const char *>
{
};

TEST_P(TlsCertificates, AnUnverifiedOneIsRefusedUntilTrustedAndAChangedOneAlways)
{
    auto server = StartTlsServer(GetParam());
    ASSERT_TRUE(server);
    TFtp ftp;
    ConfigureFor(ftp, *server);
    // "auto" takes TLS when offered, and never a certificate nobody vouched for.
    for (const char *mode : {"require", "auto"}) {
        ftp.Encryption = mode;
        try {
            ftp.Connect();
            ADD_FAILURE() << mode << ": an unverified certificate was accepted";
        } catch (const EFtpCertificateError &error) {
            EXPECT_FALSE(error.Changed || error.Certificate.Verified);
            EXPECT_EQ(error.Certificate.Fingerprint, server->CertificateFingerprint);
            EXPECT_TRUE(error.Certificate.Subject.contains("CN=127.0.0.1"));
            EXPECT_FALSE(error.Certificate.ValidUntil.isEmpty());
            EXPECT_TRUE(error.Certificate.Details().contains(server->CertificateFingerprint));
        }
    }
    // Nothing followed the handshakes: no login, no PBSZ.
    EXPECT_EQ(server->ProtocolLog(), QStringList({"AUTH TLS", "AUTH TLS"}));

    ftp.TrustedFingerprint = server->CertificateFingerprint.toLower();
    ftp.Connect();
    EXPECT_TRUE(ftp.Encrypted());
    ftp.Disconnect();
    // Another certificate than the trusted one: refused, naming both.
    const QString other = QString("AB:").repeated(31) + "CD";
    ftp.TrustedFingerprint = other;
    try {
        ftp.Connect();
        ADD_FAILURE() << "a changed certificate was accepted";
    } catch (const EFtpCertificateError &error) {
        EXPECT_TRUE(error.Changed);
        EXPECT_TRUE(error.Message().contains(other));
        EXPECT_TRUE(error.Message().contains(server->CertificateFingerprint));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsCertificates, ::testing::Values("pyftpdlib", "vsftpd"));

TEST(Tls, AbortDuringAProtectedUploadReturnsAtOnce)
{
    TPyftpdlibOptions options;
    options.Tls = true;
    options.BandwidthLimit = 64 * 1024;
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    const QTemporaryDir local;
    WriteWholeFile(local.filePath("big.bin"), QByteArray(4 * 1024 * 1024, 'b'));
    TFtp ftp;
    ConfigureFor(ftp, *server);
    ftp.Encryption = "require";
    ftp.TrustedFingerprint = server->CertificateFingerprint;
    ftp.Connect();
    std::atomic<qint64> moved{0}, returnedAt{-1};
    ftp.OnProgress = [&](TFtp *, qint64 bytes) { moved += bytes; };
    QElapsedTimer clock;
    clock.start();
    std::thread upload([&] {
        EXPECT_THROW(ftp.PutFile("/big.bin", local.filePath("big.bin"), false), EFtpError);
        returnedAt = clock.elapsed();
    });
    while (moved < 64 * 1024 && returnedAt < 0 && clock.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const qint64 abortAt = clock.elapsed();
    ftp.Abort();
    upload.join();
    EXPECT_GT(moved, 0);
    EXPECT_GE(returnedAt - abortAt, 0);
    EXPECT_LT(returnedAt - abortAt, 500);
}

// A server that resets the connection right after the handshake. OpenSSL's write after a reset
// raises SIGPIPE, whose default action ends the program; the writes must fail instead. Qt
// ignores SIGPIPE once it starts a process, so the default action is put back for the test.
TEST(Tls, WritesToAConnectionTheServerResetFailNotTheProgram)
{
    const QTemporaryDir folder;
    TTestCertificate certificate;
    ASSERT_TRUE(MakeTestCertificate(folder.path(), certificate));
    const char *script = R"(
import socket, ssl, struct, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.create_server(('127.0.0.1', 0))
print(listener.getsockname()[1], flush=True)
tls = context.wrap_socket(listener.accept()[0], server_side=True)
tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
tls.close()
)";
    QProcess server;
    server.start("python3", {"-c", script, certificate.CertificateFile, certificate.KeyFile});
    ASSERT_TRUE(server.waitForReadyRead(10000)) << server.readAllStandardError().constData();
    const auto port = quint16(server.readLine().trimmed().toUInt());
    const auto oldAction = std::signal(SIGPIPE, SIG_DFL);

    TFtpCanceller canceller;
    TFtpSocket socket(canceller);
    socket.Connect(TSockAddr::FromNumeric("127.0.0.1", port), 5000);
    socket.StartTls("127.0.0.1", {}, 5000);
    char buffer[4096];
    try {
        while (socket.Read(buffer, sizeof buffer, 5000) > 0) {
        }
    } catch (const EFtpError &) {
    }
    EXPECT_THROW(socket.Write(QByteArray(65536, 'x'), 5000), EFtpError);
    EXPECT_THROW(socket.Write(QByteArray(65536, 'x'), 5000), EFtpError);
    socket.ShutdownTls(1000);
    std::signal(SIGPIPE, oldAction);
    server.waitForFinished(5000);
}
