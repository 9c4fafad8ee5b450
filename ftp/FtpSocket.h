#pragma once

// POSIX sockets for the FTP client: every blocking wait is a poll() that also watches the
// session's wake-up descriptor, so Abort() from another thread ends it at once.

#include "ftp/FtpTls.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include <sys/socket.h>

// Texts shared by the client's layers.
namespace FtpText {
inline QString Aborted()
{
    return QStringLiteral("Operation aborted");
}
inline QString TimedOut()
{
    return QStringLiteral("The operation timed out");
}
inline QString ClosedByServer()
{
    return QStringLiteral("Connection closed by the server");
}
inline QString HostNotFound()
{
    return QStringLiteral("Host not found");
}
inline QString Unknown()
{
    return QStringLiteral("Unknown error");
}
} // namespace FtpText

using FtpClock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(): -1 without a deadline.
inline int RemainingMs(bool limited, FtpClock::time_point deadline)
{
    if (!limited)
        return -1;
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - FtpClock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

[[noreturn]] void ThrowFtpError(const QString &text);
// A short English text for an errno value (never translated), "Unknown error" when unknown.
QString SocketErrorText(int err);
// "[::1]" as "::1": an IPv6 address written for a URL.
QString StripBrackets(const QString &host);

// Address of either family; Length 0 means none.
struct TSockAddr
{
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    bool IsValid() const { return Length > 0; }
    int Family() const { return Storage.ss_family; }
    quint16 Port() const;
    void SetPort(quint16 port);
    QString Address() const; // numeric text without brackets
    bool IsLoopback() const;
    // A numeric IPv4 or IPv6 text ("[...]" allowed); invalid result when it is a name.
    static TSockAddr FromNumeric(const QString &host, quint16 port);
};

// Wakes blocked calls from any thread. The descriptors of open sockets are registered here,
// and a socket leaves the registry before it is closed, so a late Abort() can never shut down
// a descriptor number the system has handed out again.
class TFtpCanceller
{
public:
    TFtpCanceller();
    ~TFtpCanceller();
    TFtpCanceller(const TFtpCanceller &) = delete;
    TFtpCanceller &operator=(const TFtpCanceller &) = delete;

    void Abort();
    void Reset(); // back to usable once the owner has closed everything
    bool Aborted() const { return m_aborted.load(); }
    int WakeFd() const { return m_wakeFd; }
    void Register(int fd);
    void Unregister(int fd);
    void ThrowIfAborted() const;

private:
    std::mutex m_mutex;
    std::atomic<bool> m_aborted{false};
    int m_wakeFd = -1;
    std::vector<int> m_fds;
};

// Addresses for a host name or numeric address, in the resolver's order. Name look-ups honour
// the time-out (0: none) and Abort(). family: AF_UNSPEC or AF_INET.
std::vector<TSockAddr> ResolveHost(const QString &host, quint16 port, int family, int timeoutMs,
                                   TFtpCanceller &canceller);

class TFtpSocket
{
public:
    explicit TFtpSocket(TFtpCanceller &canceller);
    ~TFtpSocket();
    TFtpSocket(const TFtpSocket &) = delete;
    TFtpSocket &operator=(const TFtpSocket &) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // For a library that runs its own protocol on the connection (SFTP): a dup() of it stays
    // woken by Abort(), which shuts the shared socket down.
    int Descriptor() const { return m_fd; }
    // Tries the addresses in order; raises the last failure.
    void Connect(const std::vector<TSockAddr> &addresses, int timeoutMs);
    void Connect(const TSockAddr &address, int timeoutMs);
    // Connect in two steps, so that the handshake runs while other work goes on.
    void ConnectStart(const TSockAddr &address);
    void ConnectFinish(int timeoutMs);
    void Listen(const TSockAddr &local); // port 0: the system picks one
    void Accept(TFtpSocket &listener, int timeoutMs);
    // Some bytes (at least one), or 0 at the end of the stream.
    qint64 Read(char *buffer, qint64 size, int timeoutMs);
    void ReadExact(char *buffer, qint64 size, int timeoutMs); // raises at the end of the stream
    void Write(const char *data, qint64 size, int timeoutMs);
    void Write(const QByteArray &data, int timeoutMs)
    {
        Write(data.constData(), data.size(), timeoutMs);
    }
    // Bytes given to Write that the peer has not acknowledged yet (the kernel's send queue);
    // for TLS in payload bytes, the queue holding records a little longer than what they carry.
    qint64 Unsent() const;
    // Waits until the peer has acknowledged all but `leave` bytes of what was written, calling
    // `tick` now and then; times out when nothing moves for timeoutMs.
    void WaitSent(qint64 leave, int timeoutMs, const std::function<void()> &tick);
    // True when a read (or accept) would not wait.
    bool ReadyNow() const;
    // Waits until this socket or `other` can be read (or accepted from): true for this one.
    bool WaitEither(TFtpSocket &other, int timeoutMs);
    void SetNoDelay();
    // Acknowledges what comes next at once instead of up to 40 ms later: a server that holds a
    // reply back until the one before is acknowledged (Nagle) then sends it a round trip later
    // at most. The system falls back to delayed acknowledgements on its own, so this is asked
    // before each wait.
    void QuickAck();
    void Close();

    // TLS over the connected socket: Read and Write go through it from now on. `host` is the
    // name (or address) the certificate must be for; `reuse` resumes a session.
    void StartTls(const QString &host, const TTlsSession &reuse, int timeoutMs);
    // Sends close_notify; never raises (the peer may have gone already).
    void ShutdownTls(int timeoutMs);
    bool IsTls() const { return m_ssl != nullptr; }
    TCertificateInfo TlsCertificate() const;
    TTlsSession TlsSession() const;
    TTlsSession NewestTicket() const { return m_latestSession; } // null until one came
    QString TlsVersion() const;                                  // "TLS 1.3"
    bool TlsResumed() const;
    TSockAddr LocalAddress() const;
    TSockAddr PeerAddress() const;

private:
    void Open(int family);
    void Wait(short events, int timeoutMs, TFtpSocket *other = nullptr, bool *otherReady = nullptr);
    [[noreturn]] void Fail(int err);
    // After an OpenSSL call returned `result`: waits when it wants to, returns false for the
    // end of the stream, raises otherwise.
    bool TlsContinue(int result, int timeoutMs);

    TFtpCanceller &m_canceller;
    int m_fd = -1;
    bool m_connecting = false; // ConnectStart left the handshake running
    ssl_st *m_ssl = nullptr;
    TTlsSession m_latestSession; // the last resumable session the server handed out
    qint64 m_written = 0;        // payload bytes Write has handed on
    qint64 m_wireAtStart = 0;    // TLS: bytes on the wire when the handshake was done
};
