// FTP over TLS through the engine on the servers users meet, and TLS stripped by a relay.
#include "store/ProjectOptions.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/FtpRelay.h"

#include <gtest/gtest.h>

class TlsServers : public SiteTest,
                   public ::testing::WithParamInterface<std::tuple<const char *, int>>
{
};

TEST_P(TlsServers, TheCertificateIsTrustedOnceAndEveryByteMovesOverTls)
{
    const auto [kind, connections] = GetParam();
    const QString name(kind);
    QString encryption = "require", version = "TLS 1.3";
    std::unique_ptr<TFtpTestServer> tls;
    if (name.startsWith("vsftpd")) { // require_ssl_reuse=YES is vsftpd's default
        TVsftpdOptions options;
        options.Tls = true;
        options.ImplicitTls = name == "vsftpd-implicit";
        tls = StartVsftpd({}, options);
        encryption = options.ImplicitTls ? "implicit" : "require";
    } else if (name.startsWith("proftpd")) {
        TProftpdOptions options;
        options.Tls = true;
        options.Tls12Only = name == "proftpd-tls1.2";
        tls = StartProftpd({}, options);
        version = options.Tls12Only ? "TLS 1.2" : "TLS 1.3";
    } else {
        TPureFtpdOptions options;
        options.Tls = true;
        tls = StartPureFtpd({}, options);
    }
    ASSERT_TRUE(tls);
    project = MakeTestProject(site, tls.get(), connections);
    Set(*project, "Encryption", encryption);
    // More data connections per session than the server hands out tickets at the login (two).
    for (int i = 0; i < 7; ++i)
        Write(QString("%1/f%2.bin").arg(i % 2 ? "a" : "b/c").arg(i),
              RandomBytes(i == 3 ? 300000 : 1000 * i, quint32(i)));
    Write("index.html", "<p>home</p>\n");

    // Not trusted: the operation ends before the login, nothing changes.
    Run(pkUpload);
    ASSERT_EQ(frontEnd.Certificates.size(), 1);
    EXPECT_EQ(frontEnd.Certificates[0].Fingerprint, tls->CertificateFingerprint);
    ASSERT_EQ(frontEnd.Errors.size(), 1);
    EXPECT_TRUE(frontEnd.Errors[0].startsWith("The server's certificate is not trusted"));
    EXPECT_TRUE(tls->ProtocolLog().filter("USER ").isEmpty());
    EXPECT_TRUE(project->Nodes("TrustedCertificate")->AsString().isEmpty());

    frontEnd.TrustThem = true;
    RunClean(pkUpload);
    EXPECT_EQ(project->Nodes("TrustedCertificate")->AsString(), tls->CertificateFingerprint);
    EXPECT_EQ(frontEnd.Lines.filter("connected with " + version).size(), 1) << frontEnd.Dump();
    EXPECT_TRUE(TreeOf(tls->Root) == TreeOf(site));
    // Trusted from now on; a compare lists every folder over protected data connections.
    RunClean(pkCompare);
    EXPECT_EQ(frontEnd.Certificates.size(), 2);
    EXPECT_EQ(list.CountOutdated(false), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsServers,
                         ::testing::Combine(::testing::Values("vsftpd-implicit", "vsftpd",
                                                              "proftpd", "proftpd-tls1.2",
                                                              "pure-ftpd"),
                                            ::testing::Values(1, 4)));

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
using Downgrade = SiteTest;

TEST_F(Downgrade, AProjectThatHadTlsRefusesAServerWithoutItUntilTheUserAllowsIt)
{
    Serve("pyftpdlib", {.Tls = true});
    Write("index.html", "<p>home</p>\n");
    ASSERT_EQ(ProjectEncryption(*project), "auto");
    // The first connection: the certificate is trusted once, TLS from then on.
    {
        TFtpRelay honest(server->Port);
        Set(*project, "Port", QString::number(honest.Host.Port));
        frontEnd.TrustThem = true;
        RunClean(pkUpload);
        EXPECT_FALSE(honest.Sent().contains("PASS"));
        EXPECT_EQ(project->Nodes("TlsOffered")->AsString(), "1");
    }
    // Either mark (TLS seen, a certificate trusted) makes it ask; only a Yes sends the login.
    const QString fingerprint = project->Nodes("TrustedCertificate")->AsString();
    for (const int round : {0, 1, 2}) {
        SCOPED_TRACE(round);
        Set(*project, "TrustedCertificate", round == 1 ? fingerprint : QString());
        Set(*project, "TlsOffered", round == 1 ? "0" : "1");
        frontEnd.AllowPlain = round == 2;
        frontEnd.PlainQuestions.clear();
        Write("index.html", "round " + QByteArray::number(round));
        TFtpRelay attacker(server->Port, true);
        Set(*project, "Port", QString::number(attacker.Host.Port));
        Run(pkUpload);
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
            EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.ErrorDump();
            EXPECT_TRUE(sent.contains("PASS " + server->Password.toUtf8()));
            EXPECT_EQ(ReadWholeFile(OnServer("index.html")), "round 2");
            EXPECT_TRUE(ProjectExpectsTls(*project));
        }
    }
}
