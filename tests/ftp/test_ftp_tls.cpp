// FTP over TLS against pyftpdlib's TLS handler and vsftpd with ssl_enable: what "require" and
// "auto" do on servers with and without TLS, certificates that do and do not verify, what
// crosses the network in clear, and Abort during a protected upload.
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
#include <cstdlib>
#include <thread>

namespace {

// One certificate that this process's trust store vouches for (SSL_CERT_FILE is read when the
// first TLS connection is made); servers that make their own certificate do not verify.
class TTrustedCertificate : public ::testing::Environment
{
public:
    static TTestCertificate &Get()
    {
        static TTestCertificate certificate;
        return certificate;
    }
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_TRUE(MakeTestCertificate(m_folder.path(), Get()));
        ::setenv("SSL_CERT_FILE", Get().CertificateFile.toLocal8Bit().constData(), 1);
    }

private:
    QTemporaryDir m_folder;
};
[[maybe_unused]] ::testing::Environment *const trustedCertificate
    = ::testing::AddGlobalTestEnvironment(new TTrustedCertificate);

void Configure(TFtp &ftp, const TFtpTestServer &server, const QString &encryption,
               const TTestProcess *via = nullptr)
{
    ConfigureFor(ftp, server, via);
    ftp.Encryption = encryption;
}

std::unique_ptr<TFtpTestServer> StartTlsServer(const QString &kind)
{
    TPyftpdlibOptions pyftpdlib;
    TVsftpdOptions vsftpd;
    pyftpdlib.Tls = vsftpd.Tls = true;
    return kind == "vsftpd" ? StartVsftpd({}, vsftpd) : StartPyftpdlib({}, pyftpdlib);
}

} // namespace

TEST(Tls, RequireRefusesAServerWithoutTlsBeforeTheLoginAndAutoSaysThePasswordWentInClear)
{
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    TFtp ftp;
    Configure(ftp, *server, "require");
    try {
        ftp.Connect();
        ADD_FAILURE() << "connected without TLS";
    } catch (const EFtpError &error) {
        EXPECT_TRUE(error.Message().startsWith("The server does not offer TLS"))
            << error.Message().toStdString();
    }
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(server->ProtocolLog(), QStringList{"AUTH TLS"});

    Configure(ftp, *server, "auto");
    ftp.Connect();
    EXPECT_FALSE(ftp.Encrypted());
    EXPECT_TRUE(ftp.FellBackToPlain());
    EXPECT_EQ(ftp.SecurityText(), "the connection is not encrypted: the server offers no TLS, so "
                                  "the password went in clear");
    ftp.Disconnect();
    Configure(ftp, *server, "off");
    ftp.Connect();
    EXPECT_EQ(ftp.SecurityText(), "the connection is not encrypted");
    EXPECT_EQ(server->ProtocolLog().filter("AUTH").size(), 2);
}

class TlsCertificates : public ::testing::TestWithParam<const char *>
{
};

TEST_P(TlsCertificates, AnUnverifiedOneIsRefusedUntilTrustedAndAChangedOneAlways)
{
    auto server = StartTlsServer(GetParam());
    ASSERT_TRUE(server);
    TFtp ftp;
    // "auto" takes TLS when offered, and never a certificate nobody vouched for.
    for (const char *mode : {"require", "auto"}) {
        Configure(ftp, *server, mode);
        try {
            ftp.Connect();
            ADD_FAILURE() << mode << ": an unverified certificate was accepted";
        } catch (const EFtpCertificateError &error) {
            EXPECT_FALSE(error.Changed);
            EXPECT_EQ(error.Certificate.Fingerprint, server->CertificateFingerprint);
            EXPECT_FALSE(error.Certificate.Verified);
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
    EXPECT_TRUE(ftp.SecurityText().startsWith("connected with TLS 1."))
        << ftp.SecurityText().toStdString();
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

TEST(Tls, ACertificateTheTrustStoreVouchesForNeedsNoFingerprintButMustNameTheHost)
{
    TPyftpdlibOptions options;
    options.Tls = true;
    options.Certificate = TTrustedCertificate::Get();
    auto server = StartPyftpdlib({}, options);
    ASSERT_TRUE(server);
    TFtp ftp;
    Configure(ftp, *server, "require");
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

TEST(Tls, ThePasswordAndTheCommandsNeverCrossInClearWithRequireOrAuto)
{
    auto server = StartTlsServer("pyftpdlib");
    ASSERT_TRUE(server);
    const QTemporaryDir local;
    const QString file = local.filePath("page.html");
    WriteWholeFile(file, "<p>secret page</p>\n");
    for (const char *mode : {"require", "auto", "off"}) {
        TFtpRelay relay(server->Port);
        TFtp ftp;
        Configure(ftp, *server, mode, &relay.Host);
        ftp.TrustedFingerprint = server->CertificateFingerprint;
        ftp.Connect();
        ftp.PutFile("/page.html", file, true);
        ftp.Disconnect();
        const QByteArray sent = relay.Sent();
        const bool clear = QByteArray(mode) == "off";
        // The plain run shows that the relay sees what goes in clear.
        EXPECT_EQ(sent.contains(server->Password.toUtf8()), clear) << mode;
        EXPECT_EQ(sent.contains("STOR /page.html"), clear) << mode;
        if (!clear) {
            EXPECT_TRUE(sent.startsWith("AUTH TLS\r\n")) << mode;
        }
        EXPECT_EQ(ReadWholeFile(server->LocalPath("/page.html")), "<p>secret page</p>\n");
    }
}

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
    Configure(ftp, *server, "require");
    ftp.TrustedFingerprint = server->CertificateFingerprint;
    ftp.Connect();
    std::atomic<qint64> moved{0};
    ftp.OnProgress = [&](TFtp *, qint64 bytes) { moved += bytes; };
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> abortAt{-1}, returnedAt{-1};
    std::thread upload([&] {
        try {
            ftp.PutFile("/big.bin", local.filePath("big.bin"), false);
        } catch (const EFtpError &) {
        }
        returnedAt = clock.elapsed();
    });
    while (moved < 64 * 1024 && returnedAt < 0 && clock.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    abortAt = clock.elapsed();
    ftp.Abort();
    upload.join();
    const qint64 returnedAfterMs = returnedAt - abortAt;
    EXPECT_GT(moved, 0);
    EXPECT_GE(returnedAfterMs, 0);
    EXPECT_LT(returnedAfterMs, 500);
    RecordProperty("ReturnedAfterMs", int(returnedAfterMs));
}

TEST(Tls, ImplicitTlsSpeaksTlsFromTheFirstByte)
{
    TVsftpdOptions options;
    options.Tls = options.ImplicitTls = true;
    auto server = StartVsftpd({}, options);
    ASSERT_TRUE(server);
    const QTemporaryDir local;
    const QByteArray bytes(150000, 'i');
    WriteWholeFile(local.filePath("up.bin"), bytes);
    TFtp ftp;
    Configure(ftp, *server, "implicit");
    ftp.TrustedFingerprint = server->CertificateFingerprint;
    ftp.Connect();
    EXPECT_TRUE(ftp.Encrypted());
    ftp.PutFile("/up.bin", local.filePath("up.bin"), false);
    ftp.GetFile("/up.bin", local.filePath("down.bin"), false, bytes.size());
    EXPECT_EQ(ReadWholeFile(local.filePath("down.bin")), bytes);
    EXPECT_TRUE(server->ProtocolLog().filter("AUTH").isEmpty());
    ftp.Disconnect();
    // "require" speaks plain FTP first, which such a server never answers in clear.
    Configure(ftp, *server, "require");
    ftp.Timeout = 2000;
    EXPECT_THROW(ftp.Connect(), EFtpError);
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
