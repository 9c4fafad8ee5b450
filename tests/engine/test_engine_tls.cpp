// FTP over TLS through the engine: the server configurations users meet (session reuse as each
// one demands it, implicit TLS, TLS 1.2 and 1.3, one and four sessions), and a project that once
// had TLS refusing to send its login in clear when someone strips it.
#include "store/ProjectOptions.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/FtpRelay.h"

#include <gtest/gtest.h>

namespace {

// The server of a kind, with the encryption a project needs for it and the TLS version it speaks.
struct TTlsServer
{
    std::unique_ptr<TFtpTestServer> Server;
    QString Encryption = "require";
    QString Version = "TLS 1.3";
};

TTlsServer StartTlsServer(const QString &kind)
{
    TTlsServer made;
    if (kind.startsWith("vsftpd")) {
        TVsftpdOptions options;
        options.Tls = true; // require_ssl_reuse=YES is vsftpd's default
        options.ImplicitTls = kind == "vsftpd-implicit";
        made.Server = StartVsftpd({}, options);
        made.Encryption = options.ImplicitTls ? "implicit" : "require";
    } else if (kind.startsWith("proftpd")) {
        TProftpdOptions options;
        options.Tls = true;
        options.Tls12Only = kind == "proftpd-tls1.2";
        made.Server = StartProftpd({}, options);
        made.Version = options.Tls12Only ? "TLS 1.2" : "TLS 1.3";
    } else {
        TPureFtpdOptions options;
        options.Tls = true;
        made.Server = StartPureFtpd({}, options);
    }
    return made;
}

} // namespace

class TlsServers : public SiteTest,
                   public ::testing::WithParamInterface<std::tuple<const char *, int>>
{
};

TEST_P(TlsServers, TheCertificateIsTrustedOnceAndEveryByteMovesOverTls)
{
    const auto [kind, connections] = GetParam();
    TTlsServer tls = StartTlsServer(kind);
    ASSERT_TRUE(tls.Server);
    project = MakeTestProject(site, tls.Server.get(), connections);
    Set(*project, "Encryption", tls.Encryption);
    // More data connections per session than the server hands out tickets at the login (two).
    for (int i = 0; i < 7; ++i)
        Write(QString("%1/f%2.bin").arg(i % 2 ? "a" : "b/c").arg(i),
              RandomBytes(i == 3 ? 300000 : 1000 * i, quint32(i)));
    Write("index.html", "<p>home</p>\n");

    // Not trusted: the operation ends before the login, nothing changes.
    Run(pkUpload);
    ASSERT_EQ(frontEnd.Certificates.size(), 1);
    EXPECT_EQ(frontEnd.Certificates[0].Fingerprint, tls.Server->CertificateFingerprint);
    ASSERT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("The server's certificate is not trusted"));
    EXPECT_EQ(ProtocolCount(*tls.Server, "USER "), 0);
    EXPECT_TRUE(project->Nodes("TrustedCertificate")->AsString().isEmpty());

    frontEnd.TrustThem = true;
    RunClean(pkUpload);
    EXPECT_EQ(frontEnd.Certificates.size(), 2);
    EXPECT_EQ(project->Nodes("TrustedCertificate")->AsString(), tls.Server->CertificateFingerprint);
    EXPECT_EQ(frontEnd.Lines.filter("connected with " + tls.Version).size(), 1) << frontEnd.Dump();
    EXPECT_TRUE(TreeOf(tls.Server->Root) == TreeOf(site));
    // Trusted from now on: no question; a compare lists every folder over protected data
    // connections as well.
    RunClean(pkCompare);
    EXPECT_EQ(frontEnd.Certificates.size(), 2);
    EXPECT_EQ(list.CountOutdated(false), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsServers,
                         ::testing::Combine(::testing::Values("vsftpd-implicit", "vsftpd",
                                                              "proftpd", "proftpd-tls1.2",
                                                              "pure-ftpd"),
                                            ::testing::Values(1, 4)),
                         [](const auto &info) {
                             QString name = QString("%1_%2_connections")
                                                .arg(std::get<0>(info.param))
                                                .arg(std::get<1>(info.param));
                             return name.replace('-', '_').replace('.', '_').toStdString();
                         });

TEST_F(SiteTest, ImplicitTlsAgainstAPlainServerNeverSendsTheLogin)
{
    Serve("pyftpdlib");
    Set(*project, "Encryption", "implicit");
    Set(*project, "Timeout", "3");
    Write("a.html", "a");
    Run(pkUpload);
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_TRUE(server->ProtocolLog().filter(QRegularExpression("^(USER|PASS)")).isEmpty())
        << server->ProtocolLog().join('\n').toStdString();
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
}

// A project on a server with TLS, then someone between it and the server who strips AUTH TLS.
class Downgrade : public SiteTest
{
protected:
    void SetUp() override
    {
        TPyftpdlibOptions options;
        options.Tls = true;
        Serve("pyftpdlib", options);
        Write("index.html", "<p>home</p>\n");
        ASSERT_EQ(ProjectEncryption(*project), "auto");
    }
    // Points the project at `relay` and runs an upload.
    void UploadThrough(const TFtpRelay &relay)
    {
        Set(*project, "Port", QString::number(relay.Host.Port));
        Run(pkUpload);
    }
};

TEST_F(Downgrade, AProjectThatHadTlsRefusesAServerWithoutItUntilTheUserAllowsIt)
{
    // The first connection: the certificate is trusted once, TLS from then on.
    {
        TFtpRelay honest(server->Port);
        frontEnd.TrustThem = true;
        UploadThrough(honest);
        EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
        EXPECT_FALSE(honest.Sent().contains("PASS"));
        EXPECT_EQ(project->Nodes("TlsOffered")->AsString(), "1");
    }
    // Either mark is enough: the server seen with TLS, or a certificate trusted for it. The
    // user is asked; only a Yes sends the login in clear, this once.
    const QString fingerprint = project->Nodes("TrustedCertificate")->AsString();
    for (const int round : {0, 1, 2}) {
        SCOPED_TRACE(round);
        Set(*project, "TrustedCertificate", round == 1 ? fingerprint : QString());
        Set(*project, "TlsOffered", round == 1 ? "0" : "1");
        frontEnd.AllowPlain = round == 2;
        frontEnd.PlainQuestions.clear();
        Write("index.html", "round " + QByteArray::number(round));
        TFtpRelay attacker(server->Port, true);
        UploadThrough(attacker);
        ASSERT_EQ(frontEnd.PlainQuestions.size(), 1);
        EXPECT_TRUE(frontEnd.PlainQuestions[0].contains("downgrade"))
            << frontEnd.PlainQuestions[0].toStdString();
        const QByteArray sent = attacker.Sent();
        EXPECT_TRUE(sent.startsWith("AUTH TLS\r\n")) << sent.toStdString();
        if (round < 2) {
            ASSERT_EQ(frontEnd.Errors.size(), 1);
            EXPECT_TRUE(frontEnd.Errors[0].startsWith("The server no longer offers TLS"))
                << frontEnd.Errors[0].toStdString();
            EXPECT_FALSE(sent.contains("USER") || sent.contains("PASS"));
        } else {
            EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
            EXPECT_TRUE(sent.contains("PASS " + server->Password.toUtf8()));
            EXPECT_EQ(ReadWholeFile(OnServer("index.html")), "round 2");
            EXPECT_TRUE(ProjectExpectsTls(*project));
        }
    }
}
