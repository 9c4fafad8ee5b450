// FTP over TLS against pyftpdlib and vsftpd: encryption modes, certificates, what goes in clear.
#include "ftp/FtpSocket.h"
#include "ftp/FtpWininet.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

std::unique_ptr<TFtpTestServer> StartTlsServer(const QString &kind, bool implicit = false)
{
    TPyftpdlibOptions pyftpdlib;
    TVsftpdOptions vsftpd;
    pyftpdlib.Tls = vsftpd.Tls = kind != "plain";
    vsftpd.ImplicitTls = implicit;
    return kind == "vsftpd" ? StartVsftpd({}, vsftpd) : StartPyftpdlib({}, pyftpdlib);
}

// Each mode through a relay that keeps what the client sends (SSL_CERT_FILE is read at the first
// TLS connection: this test comes first). A certificate is taken when it verifies for the host or
// its fingerprint is the trusted one; nothing follows a refusal. vsftpd needs PROT P to transfer.
TEST(Tls, EncryptionModesCertificatesAndWhatCrossesInClear)
{
    const QTemporaryDir local;
    TPyftpdlibOptions vouched;
    vouched.Tls = true;
    ASSERT_TRUE(MakeTestCertificate(local.path(), vouched.Certificate));
    ::setenv("SSL_CERT_FILE", vouched.Certificate.CertificateFile.toLocal8Bit().constData(), 1);
    const auto plain = StartTlsServer("plain"), own = StartTlsServer("pyftpdlib"),
               vsftpd = StartTlsServer("vsftpd"), implicit = StartTlsServer("vsftpd", true),
               trusted = StartPyftpdlib({}, vouched);
    ASSERT_TRUE(plain && own && vsftpd && implicit && trusted);
    const QString other = QString("AB:").repeated(31) + "CD";
    const struct
    {
        TFtpTestServer *Server;
        const char *Mode;
        QString Trusted; // "own": the server's fingerprint (in lower case)
        QString Outcome; // the security text, or "!" and a part of the error
        const char *Host = "127.0.0.1";
    } rows[] = {
        {plain.get(), "require", "", "!The server does not offer TLS"},
        {plain.get(), "auto", "",
         "the connection is not encrypted: the server offers no TLS, so the password went in "
         "clear"},
        {plain.get(), "off", "", "the connection is not encrypted"},
        {own.get(), "require", "own", "connected with TLS 1."},
        {own.get(), "auto", "own", "connected with TLS 1."},
        {own.get(), "off", "own", "the connection is not encrypted"},
        {implicit.get(), "implicit", "own", "connected with TLS 1."},
        {implicit.get(), "require", "own", "!"}, // plain FTP first, never answered in clear
        {own.get(), "require", "", "!is not trusted"},
        {own.get(), "auto", "", "!is not trusted"}, // never a certificate nobody vouched for
        {vsftpd.get(), "require", "", "!is not trusted"},
        {vsftpd.get(), "auto", "own", "connected with TLS 1."},
        {own.get(), "require", other, "!has changed"},
        {vsftpd.get(), "auto", other, "!has changed"},
        {trusted.get(), "require", "", "connected with TLS 1."},
        {trusted.get(), "require", "", "!mismatch", "localhost"},
    };
    const QByteArray page = QByteArray("<p>secret page</p>\n").repeated(10000);
    WriteWholeFile(local.filePath("page.html"), page);
    for (const auto &row : rows) {
        const TFtpTestServer &server = *row.Server;
        SCOPED_TRACE(server.Kind.toStdString() + " " + row.Mode + " " + row.Trusted.toStdString());
        TFtpRelay relay(server.Port);
        TFtp ftp;
        ConfigureFor(ftp, server, &relay.Host);
        ftp.ServerName = row.Host;
        ftp.Encryption = row.Mode;
        ftp.TrustedFingerprint
            = row.Trusted == "own" ? server.CertificateFingerprint.toLower() : row.Trusted;
        ftp.Timeout = 2000;
        const qsizetype logged = server.ProtocolLog().size();
        if (row.Outcome.startsWith('!')) {
            try {
                ftp.Connect();
                ADD_FAILURE() << "connected";
            } catch (const EFtpError &error) {
                EXPECT_TRUE(error.Message().contains(row.Outcome.mid(1)))
                    << error.Message().toStdString();
                const auto *refused = dynamic_cast<const EFtpCertificateError *>(&error);
                ASSERT_EQ(refused != nullptr,
                          row.Outcome.size() > 1 && !row.Outcome.startsWith("!The"));
                if (refused) {
                    EXPECT_FALSE(refused->Certificate.Verified);
                    EXPECT_EQ(refused->Changed, !row.Trusted.isEmpty());
                    EXPECT_EQ(refused->Certificate.Fingerprint, server.CertificateFingerprint);
                    EXPECT_TRUE(error.Message().contains(server.CertificateFingerprint));
                    EXPECT_TRUE(error.Message().contains(row.Trusted));
                }
            }
            EXPECT_FALSE(ftp.Connected());
            QStringList after = server.ProtocolLog().mid(logged);
            after.removeAll("QUIT"); // the last session's may be logged late
            EXPECT_TRUE(after.isEmpty() || after == QStringList{"AUTH TLS"})
                << after.join(" | ").toStdString();
        } else {
            ftp.Connect();
            EXPECT_TRUE(ftp.SecurityText().startsWith(row.Outcome))
                << ftp.SecurityText().toStdString();
            EXPECT_EQ(ftp.Encrypted(), row.Outcome.startsWith("connected"));
            EXPECT_EQ(ftp.FellBackToPlain(), row.Outcome.contains("password"));
            ftp.PutFile("/page.html", local.filePath("page.html"), false);
            ftp.GetFile("/page.html", local.filePath("back.html"), false, page.size());
            EXPECT_EQ(ReadWholeFile(local.filePath("back.html")), page);
            ftp.Disconnect();
        }
        const QByteArray sent = relay.Sent();
        const bool clear = row.Outcome.startsWith("the connection is not");
        // The plain runs show that the relay sees what goes in clear.
        EXPECT_EQ(sent.contains(server.Password.toUtf8()), clear);
        EXPECT_EQ(sent.contains("STOR /page.html"), clear);
        EXPECT_EQ(sent.startsWith("AUTH TLS\r\n"),
                  QByteArray("require auto").contains(row.Mode) && row.Server != implicit.get());
    }
}

// OpenSSL's write after a reset raises SIGPIPE, whose default action ends the program: the
// writes must fail instead. Qt ignores SIGPIPE once it starts a process, so it is put back.
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
    for (int i = 0; i < 2; ++i)
        EXPECT_THROW(socket.Write(QByteArray(65536, 'x'), 5000), EFtpError);
    socket.ShutdownTls(1000);
    std::signal(SIGPIPE, oldAction);
    server.waitForFinished(5000);
}
