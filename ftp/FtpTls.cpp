#include "ftp/FtpTls.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QStringList>

#include <algorithm>

namespace {

QString BioText(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QString::fromUtf8(data, qsizetype(size)) : QString();
}

QString NameText(X509_NAME *name)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || !name)
        return {};
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    return BioText(bio.get());
}

QString TimeText(const ASN1_TIME *time)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || !time)
        return {};
    ASN1_TIME_print(bio.get(), time);
    return BioText(bio.get());
}

} // namespace

QString TCertificateInfo::Details() const
{
    QString text = QStringLiteral("Subject: ") + Subject + QStringLiteral("\nIssuer: ") + Issuer
                   + QStringLiteral("\nValid from ") + ValidFrom + QStringLiteral(" until ")
                   + ValidUntil + QStringLiteral("\nSHA-256 fingerprint: ") + Fingerprint;
    if (!Problem.isEmpty())
        text += QStringLiteral("\nProblem: ") + Problem;
    return text;
}

ssl_ctx_st *TlsClientContext()
{
    // Made once, thread-safe by the language; lives as long as the process.
    static SSL_CTX *const context = [] {
        SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx)
            return ctx;
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(ctx);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        // Sessions are kept by the caller for the data connections of its control connection.
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
        // TLS 1.3 hands out resumable sessions only in tickets after the handshake.
        SSL_CTX_sess_set_new_cb(ctx, [](SSL *ssl, SSL_SESSION *session) {
            if (auto *keeper = static_cast<TTlsSession *>(SSL_get_app_data(ssl))) {
                *keeper = TTlsSession(session, SSL_SESSION_free);
                return 1; // the keeper owns the reference now
            }
            return 0;
        });
        SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // A server that closes without close_notify ends the stream; the FTP reply says whether
        // the transfer was complete.
        SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
        return ctx;
    }();
    return context;
}

TTlsSession ResumableCopy(const TTlsSession &session)
{
    if (!session || SSL_SESSION_is_resumable(session.get()) != 1)
        return {};
    return TTlsSession(SSL_SESSION_dup(session.get()), SSL_SESSION_free);
}

TCertificateInfo DescribeCertificate(x509_st *certificate, long verifyResult)
{
    TCertificateInfo info;
    if (!certificate) {
        info.Problem = QStringLiteral("the server sent no certificate");
        return info;
    }
    info.Subject = NameText(X509_get_subject_name(certificate));
    info.Issuer = NameText(X509_get_issuer_name(certificate));
    info.ValidFrom = TimeText(X509_get0_notBefore(certificate));
    info.ValidUntil = TimeText(X509_get0_notAfter(certificate));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1) {
        info.Fingerprint = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex(':').toUpper());
    }
    info.Verified = verifyResult == X509_V_OK;
    if (!info.Verified)
        info.Problem = QString::fromUtf8(X509_verify_cert_error_string(verifyResult));
    return info;
}

QString TlsErrorText(const QString &fallback)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    const char *reason = ERR_reason_error_string(code);
    return QStringLiteral("TLS: ") + QString::fromUtf8(reason ? reason : text);
}

QString NormalizedFingerprint(const QString &text)
{
    QString digits = text.trimmed().toUpper();
    digits.remove(QLatin1Char(':'));
    if (digits.size() != 64 || !std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        }))
        return {};
    QStringList pairs;
    for (int i = 0; i < digits.size(); i += 2)
        pairs << digits.mid(i, 2);
    return pairs.join(QLatin1Char(':'));
}
