// FTP over TLS through the engine: the server configurations users meet (session reuse as each
// one demands it, implicit TLS, TLS 1.2 and 1.3, one and four sessions), and a project that once
// had TLS refusing to send its login in clear when someone strips it.
#include "store/ProjectOptions.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/FtpRelay.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <iostream>

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
    if (kind == "vsftpd" || kind == "vsftpd-implicit") {
        TVsftpdOptions options;
        options.Tls = true; // require_ssl_reuse=YES is vsftpd's default
        options.ImplicitTls = kind == "vsftpd-implicit";
        made.Server = StartVsftpd({}, options);
        if (options.ImplicitTls)
            made.Encryption = "implicit";
    } else if (kind.startsWith("proftpd")) {
        TProftpdOptions options;
        options.Tls = true;
        options.Tls12Only = kind == "proftpd-tls1.2";
        made.Server = StartProftpd({}, options);
        if (options.Tls12Only)
            made.Version = "TLS 1.2";
    } else {
        TPureFtpdOptions options;
        options.Tls = true;
        made.Server = StartPureFtpd({}, options);
    }
    return made;
}

// Each file's path and a digest of its bytes: a readable failure when they differ.
QStringList Digests(const QString &root)
{
    QStringList digests;
    const QMap<QString, QByteArray> tree = TreeOf(root);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        digests << it.key() + ' '
                       + QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex();
    return digests;
}

} // namespace

class TlsServers : public SiteTest,
                   public ::testing::WithParamInterface<std::tuple<const char *, int>>
{
};

TEST_P(TlsServers, AFirstUploadAndACompareMoveEveryByteOverTls)
{
    const auto [kind, connections] = GetParam();
    TTlsServer tls = StartTlsServer(kind);
    ASSERT_TRUE(tls.Server);
    auto project = MakeTestProject(site, tls.Server.get(), connections);
    Set(*project, "Encryption", tls.Encryption);
    Set(*project, "TrustedCertificate", tls.Server->CertificateFingerprint);
    // More data connections per session than the server hands out tickets at the login (two).
    for (int i = 0; i < 7; ++i)
        Write(QString("%1/f%2.bin").arg(i % 2 ? "a" : "b/c").arg(i),
              RandomBytes(i == 3 ? 300000 : 1000 * i, quint32(i)));
    Write("index.html", "<p>home</p>\n");

    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.Lines.filter("connected with " + tls.Version).size(), 1)
        << frontEnd.Lines.join('\n').toStdString();
    EXPECT_EQ(Digests(tls.Server->Root), Digests(site));

    // A compare lists every folder over protected data connections as well.
    ASSERT_TRUE(frontEnd.Run(list, pkCompare, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(list.Items(i)->Synchronous) << list.Items(i)->RelativeName.toStdString();
    // proftpd's own logs say why it refused a data connection.
    for (const char *log : {"tls.log", "system.log"}) {
        if (HasFailure() && QFileInfo::exists(tls.Server->TempDir->filePath(log)))
            std::cerr << ReadWholeFile(tls.Server->TempDir->filePath(log)).toStdString();
    }
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
    auto server = StartPyftpdlib();
    ASSERT_TRUE(server);
    QDir().mkpath(site);
    auto project = MakeTestProject(site, server.get());
    Set(*project, "Encryption", "implicit");
    Set(*project, "Timeout", "3");
    Write("a.html", "a");
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_TRUE(frontEnd.HadErrors);
    EXPECT_TRUE(server->ProtocolLog().filter("USER").isEmpty())
        << server->ProtocolLog().join('\n').toStdString();
    EXPECT_TRUE(server->ProtocolLog().filter("PASS").isEmpty());
    EXPECT_TRUE(TreeOf(server->Root).isEmpty());
}

// A project on a server with TLS, then someone between it and the server who strips AUTH TLS.
class Downgrade : public SiteTest
{
protected:
    std::unique_ptr<TFtpTestServer> server;
    std::unique_ptr<TProject> project;

    void SetUp() override
    {
        TPyftpdlibOptions options;
        options.Tls = true;
        server = StartPyftpdlib({}, options);
        ASSERT_TRUE(server);
        QDir().mkpath(site);
        Write("index.html", "<p>home</p>\n");
        project = MakeTestProject(site, server.get());
        ASSERT_EQ(ProjectEncryption(*project), "auto");
    }
    // Points the project at `relay` and runs an upload.
    void UploadThrough(const TFtpRelay &relay)
    {
        Set(*project, "Port", QString::number(relay.Host.Port));
        ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
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
    // Either mark is enough: the server seen with TLS, or a certificate trusted for it.
    const QString fingerprint = project->Nodes("TrustedCertificate")->AsString();
    for (const bool keepCertificate : {false, true}) {
        SCOPED_TRACE(keepCertificate ? "a trusted certificate" : "TLS seen before");
        Set(*project, "TrustedCertificate", keepCertificate ? fingerprint : QString());
        Set(*project, "TlsOffered", keepCertificate ? "0" : "1");
        frontEnd.PlainQuestions.clear();
        Write("index.html", "<p>something to upload</p>\n");
        TFtpRelay attacker(server->Port, true);
        UploadThrough(attacker);
        EXPECT_TRUE(frontEnd.HadErrors);
        ASSERT_EQ(frontEnd.PlainQuestions.size(), 1);
        EXPECT_TRUE(frontEnd.PlainQuestions[0].contains("downgrade"))
            << frontEnd.PlainQuestions[0].toStdString();
        ASSERT_EQ(frontEnd.Errors.size(), 1);
        EXPECT_TRUE(frontEnd.Errors[0].startsWith("The server no longer offers TLS"))
            << frontEnd.Errors[0].toStdString();
        const QByteArray sent = attacker.Sent();
        EXPECT_TRUE(sent.startsWith("AUTH TLS\r\n")) << sent.toStdString();
        EXPECT_FALSE(sent.contains("USER"));
        EXPECT_FALSE(sent.contains("PASS"));
    }

    // The user's Yes: this once in clear; the project still expects TLS.
    Write("index.html", "<p>home, changed</p>\n");
    frontEnd.AllowPlain = true;
    frontEnd.PlainQuestions.clear();
    TFtpRelay attacker(server->Port, true);
    UploadThrough(attacker);
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_EQ(frontEnd.PlainQuestions.size(), 1);
    EXPECT_TRUE(attacker.Sent().contains("PASS " + server->Password.toUtf8()));
    EXPECT_EQ(ReadWholeFile(server->LocalPath("/index.html")), "<p>home, changed</p>\n");
    EXPECT_TRUE(ProjectExpectsTls(*project));
}

TEST_F(SiteTest, ANewProjectOnAServerWithoutTlsGetsTheNoticeAndNoQuestion)
{
    auto plain = StartPyftpdlib();
    ASSERT_TRUE(plain);
    Write("index.html", "<p>home</p>\n");
    auto project = MakeTestProject(site, plain.get());
    ASSERT_TRUE(frontEnd.Run(list, pkUpload, *project));
    EXPECT_FALSE(frontEnd.HadErrors) << frontEnd.Errors.join('\n').toStdString();
    EXPECT_TRUE(frontEnd.PlainQuestions.isEmpty());
    EXPECT_TRUE(frontEnd.Lines.contains("the connection is not encrypted: the server offers no "
                                        "TLS, so the password went in clear"));
    EXPECT_FALSE(ProjectExpectsTls(*project));
    EXPECT_LT(project->IndexOf("TlsOffered"), 0);
}
