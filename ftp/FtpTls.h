#pragma once

// OpenSSL for the FTP client (RFC 4217): the shared client context with the system's trust
// store, and what a server's certificate says. TFtpSocket runs the TLS connections themselves
// over its non-blocking descriptors, so every wait stays a poll() that Abort() can wake.

#include <QString>

#include <memory>

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;
struct x509_st;

// A TLS session to resume on a data connection (vsftpd and proftpd insist on it).
using TTlsSession = std::shared_ptr<ssl_session_st>;

// A copy of `session` to offer on a new connection, or null when it cannot be resumed. OpenSSL
// uses a TLS 1.3 session only once on the client side (it marks the one it resumed), so the
// session kept for the next connections is never offered itself.
TTlsSession ResumableCopy(const TTlsSession &session);

// What a server's certificate says, and whether the system's trust store vouches for it and
// for the host name.
struct TCertificateInfo
{
    QString Subject;
    QString Issuer;
    QString ValidFrom;
    QString ValidUntil;
    QString Fingerprint; // SHA-256 as "AB:CD:..."
    bool Verified = false;
    QString Problem; // why it does not verify; empty when it does

    // Several lines for a question or an error message.
    QString Details() const;
};

// The one client context of the process: TLS 1.2 or later, the system's trust store (which
// honours SSL_CERT_FILE and SSL_CERT_DIR). Verification is judged after the handshake, so the
// caller can show what it got.
ssl_ctx_st *TlsClientContext();

TCertificateInfo DescribeCertificate(x509_st *certificate, long verifyResult);

// OpenSSL's queued error as text, or `fallback` when there is none; clears the queue.
QString TlsErrorText(const QString &fallback);

// A SHA-256 fingerprint as "AB:CD:..." from hex digits with or without colons, in either case;
// empty when the text is not one.
QString NormalizedFingerprint(const QString &text);
