#include "ftp/FtpSocket.h"

#include "ftp/FtpWininet.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

void ThrowFtpError(const QString &text)
{
    throw EFtpError(text);
}

QString SocketErrorText(int err)
{
    switch (err) {
    case ECONNREFUSED:
        return QStringLiteral("Connection refused");
    case ETIMEDOUT:
        return FtpText::TimedOut();
    case ECONNRESET:
        return QStringLiteral("Connection reset by peer");
    case EPIPE:
        return FtpText::ClosedByServer();
    case ECONNABORTED:
        return QStringLiteral("Connection aborted");
    case ENETUNREACH:
        return QStringLiteral("Network is unreachable");
    case EHOSTUNREACH:
        return QStringLiteral("No route to host");
    case EADDRNOTAVAIL:
        return QStringLiteral("Cannot assign requested address");
    case 0:
        return FtpText::Unknown();
    default:
        break;
    }
    // The untranslated glibc description: the program's locale must not change error texts.
    if (const char *text = ::strerrordesc_np(err))
        return QString::fromUtf8(text);
    return FtpText::Unknown();
}

// --- TSockAddr ----------------------------------------------------------------------------

quint16 TSockAddr::Port() const
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&Storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&Storage)->sin6_port);
    return 0;
}

void TSockAddr::SetPort(quint16 port)
{
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in *>(&Storage)->sin_port = htons(port);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&Storage)->sin6_port = htons(port);
}

QString TSockAddr::Address() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&Storage)->sin_addr, text,
                    sizeof text);
    else if (Family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&Storage)->sin6_addr, text,
                    sizeof text);
    return QString::fromLatin1(text);
}

bool TSockAddr::IsLoopback() const
{
    if (Family() == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in *>(&Storage)->sin_addr.s_addr) >> 24)
               == 127;
    if (Family() == AF_INET6) {
        const in6_addr &a = reinterpret_cast<const sockaddr_in6 *>(&Storage)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&a))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
    }
    return false;
}

QString StripBrackets(const QString &host)
{
    if (host.size() >= 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}

TSockAddr TSockAddr::FromNumeric(const QString &host, quint16 port)
{
    TSockAddr result;
    const QByteArray text = StripBrackets(host).toLatin1();
    auto *v4 = reinterpret_cast<sockaddr_in *>(&result.Storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&result.Storage);
    if (::inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        result.Length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        result.Length = sizeof(sockaddr_in6);
    } else {
        return {};
    }
    result.SetPort(port);
    return result;
}

// --- TFtpCanceller --------------------------------------------------------------------------

TFtpCanceller::TFtpCanceller()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TFtpCanceller::~TFtpCanceller()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void TFtpCanceller::Abort()
{
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    if (m_wakeFd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    // shutdown() wakes a call blocked on the descriptor; close() would not.
    for (int fd : m_fds)
        ::shutdown(fd, SHUT_RDWR);
}

void TFtpCanceller::Reset()
{
    std::lock_guard lock(m_mutex);
    m_aborted = false;
    if (m_wakeFd >= 0) {
        quint64 value = 0;
        [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &value, sizeof value);
    }
}

void TFtpCanceller::Register(int fd)
{
    std::lock_guard lock(m_mutex);
    m_fds.push_back(fd);
    if (m_aborted)
        ::shutdown(fd, SHUT_RDWR);
}

void TFtpCanceller::Unregister(int fd)
{
    std::lock_guard lock(m_mutex);
    m_fds.erase(std::remove(m_fds.begin(), m_fds.end(), fd), m_fds.end());
}

void TFtpCanceller::ThrowIfAborted() const
{
    if (m_aborted)
        ThrowFtpError(FtpText::Aborted());
}

// --- TLS without SIGPIPE ------------------------------------------------------------------------

namespace {

// OpenSSL writes to the socket with write(), which raises SIGPIPE once the server has reset the
// connection, and SIGPIPE ends the program (the window has no reason to ignore it). Each TLS
// call holds the signal back for this thread and takes away one it raised, so the call fails
// with EPIPE like any other broken connection. errno is kept for TlsContinue.
class TNoSigPipe
{
public:
    TNoSigPipe()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
        m_wasPending = IsPending();
    }
    ~TNoSigPipe()
    {
        const int error = errno;
        if (!m_wasPending && IsPending()) {
            const timespec now = {0, 0};
            while (::sigtimedwait(&m_pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
        errno = error;
    }
    TNoSigPipe(const TNoSigPipe &) = delete;
    TNoSigPipe &operator=(const TNoSigPipe &) = delete;

private:
    static bool IsPending()
    {
        sigset_t pending;
        return ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }
    sigset_t m_pipe{}, m_old{};
    bool m_wasPending = false;
};

template <class Call> int WithoutSigPipe(Call call)
{
    TNoSigPipe guard;
    return call();
}

} // namespace

// --- TFtpSocket -------------------------------------------------------------------------------

TFtpSocket::TFtpSocket(TFtpCanceller &canceller)
    : m_canceller(canceller)
{
}

TFtpSocket::~TFtpSocket()
{
    Close();
}

void TFtpSocket::Open(int family)
{
    Close();
    m_canceller.ThrowIfAborted();
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        ThrowFtpError(SocketErrorText(errno));
    m_fd = fd;
    m_canceller.Register(fd);
}

void TFtpSocket::Close()
{
    if (m_ssl) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    m_latestSession.reset();
    m_written = m_wireAtStart = 0;
    if (m_fd < 0)
        return;
    m_canceller.Unregister(m_fd);
    ::close(m_fd);
    m_fd = -1;
}

void TFtpSocket::Fail(int err)
{
    m_canceller.ThrowIfAborted();
    ThrowFtpError(SocketErrorText(err));
}

void TFtpSocket::Wait(short events, int timeoutMs, TFtpSocket *other, bool *otherReady)
{
    const bool limited = timeoutMs > 0;
    const FtpClock::time_point deadline = FtpClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        m_canceller.ThrowIfAborted();
        // Bytes TLS has decrypted already would not wake poll().
        if (other && other->m_ssl && SSL_pending(other->m_ssl) > 0) {
            *otherReady = true;
            return;
        }
        pollfd fds[3] = {{m_fd, events, 0},
                         {m_canceller.WakeFd(), POLLIN, 0},
                         {other ? other->m_fd : -1, POLLIN, 0}};
        const int wait = RemainingMs(limited, deadline);
        const int ready = ::poll(fds, other ? 3 : 2, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        m_canceller.ThrowIfAborted();
        if (ready == 0) {
            if (RemainingMs(limited, deadline) == 0)
                ThrowFtpError(FtpText::TimedOut());
            continue;
        }
        if (fds[0].revents != 0)
            return;
        if (other && fds[2].revents != 0) {
            *otherReady = true;
            return;
        }
    }
}

bool TFtpSocket::ReadyNow() const
{
    if (m_ssl && SSL_pending(m_ssl) > 0)
        return true;
    pollfd fd{m_fd, POLLIN, 0};
    return m_fd >= 0 && ::poll(&fd, 1, 0) > 0;
}

bool TFtpSocket::WaitEither(TFtpSocket &other, int timeoutMs)
{
    bool otherReady = false;
    Wait(POLLIN, timeoutMs, &other, &otherReady);
    return !otherReady;
}

void TFtpSocket::Connect(const TSockAddr &address, int timeoutMs)
{
    ConnectStart(address);
    ConnectFinish(timeoutMs);
}

void TFtpSocket::ConnectStart(const TSockAddr &address)
{
    m_connecting = false;
    try {
        Open(address.Family());
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address.Storage), address.Length)
            != 0) {
            if (errno != EINPROGRESS && errno != EINTR)
                Fail(errno);
            m_connecting = true;
        }
    } catch (...) {
        Close();
        throw;
    }
}

void TFtpSocket::ConnectFinish(int timeoutMs)
{
    try {
        if (m_fd < 0)
            ThrowFtpError(FtpText::Unknown());
        if (std::exchange(m_connecting, false)) {
            Wait(POLLOUT, timeoutMs);
            int err = 0;
            socklen_t length = sizeof err;
            if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
                err = errno;
            if (err != 0)
                Fail(err);
        }
        m_canceller.ThrowIfAborted();
    } catch (...) {
        Close();
        throw;
    }
}

void TFtpSocket::Connect(const std::vector<TSockAddr> &addresses, int timeoutMs)
{
    if (addresses.empty())
        ThrowFtpError(FtpText::HostNotFound());
    for (size_t i = 0; i < addresses.size(); ++i) {
        try {
            Connect(addresses[i], timeoutMs);
            return;
        } catch (const EFtpError &) {
            if (i + 1 == addresses.size() || m_canceller.Aborted())
                throw;
        }
    }
}

void TFtpSocket::Listen(const TSockAddr &local)
{
    try {
        Open(local.Family());
        TSockAddr any = local;
        any.SetPort(0);
        if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&any.Storage), any.Length) != 0
            || ::listen(m_fd, 1) != 0)
            Fail(errno);
    } catch (...) {
        Close();
        throw;
    }
}

void TFtpSocket::Accept(TFtpSocket &listener, int timeoutMs)
{
    Close();
    for (;;) {
        m_canceller.ThrowIfAborted();
        const int fd = ::accept4(listener.m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            m_fd = fd;
            m_canceller.Register(fd);
            m_canceller.ThrowIfAborted();
            return;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            Fail(errno);
        listener.Wait(POLLIN, timeoutMs);
    }
}

qint64 TFtpSocket::Read(char *buffer, qint64 size, int timeoutMs)
{
    if (m_fd < 0)
        ThrowFtpError(FtpText::ClosedByServer());
    while (m_ssl) {
        m_canceller.ThrowIfAborted();
        ERR_clear_error();
        errno = 0;
        const int got = WithoutSigPipe(
            [&] { return SSL_read(m_ssl, buffer, int(qMin<qint64>(size, 1 << 30))); });
        if (got > 0)
            return got;
        if (!TlsContinue(got, timeoutMs))
            return 0;
    }
    for (;;) {
        m_canceller.ThrowIfAborted();
        const ssize_t got = ::recv(m_fd, buffer, size_t(size), MSG_DONTWAIT);
        if (got > 0)
            return got;
        if (got == 0) {
            // shutdown() by Abort() also reads as the end of the stream.
            m_canceller.ThrowIfAborted();
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Wait(POLLIN, timeoutMs);
            continue;
        }
        Fail(errno);
    }
}

void TFtpSocket::ReadExact(char *buffer, qint64 size, int timeoutMs)
{
    while (size > 0) {
        const qint64 got = Read(buffer, size, timeoutMs);
        if (got == 0)
            ThrowFtpError(FtpText::ClosedByServer());
        buffer += got;
        size -= got;
    }
}

void TFtpSocket::Write(const char *data, qint64 size, int timeoutMs)
{
    if (m_fd < 0)
        ThrowFtpError(FtpText::ClosedByServer());
    while (m_ssl && size > 0) {
        m_canceller.ThrowIfAborted();
        ERR_clear_error();
        errno = 0;
        const int sent = WithoutSigPipe(
            [&] { return SSL_write(m_ssl, data, int(qMin<qint64>(size, 1 << 30))); });
        if (sent > 0) {
            data += sent;
            size -= sent;
            m_written += sent;
        } else if (!TlsContinue(sent, timeoutMs)) {
            Fail(EPIPE);
        }
    }
    while (size > 0) {
        m_canceller.ThrowIfAborted();
        const ssize_t sent = ::send(m_fd, data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= sent;
            m_written += sent;
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Wait(POLLOUT, timeoutMs);
            continue;
        }
        Fail(sent < 0 ? errno : EPIPE);
    }
    m_canceller.ThrowIfAborted();
}

qint64 TFtpSocket::Unsent() const
{
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued <= 0)
        return 0;
    if (m_ssl) {
        // The records' overhead is spread evenly over what they carry.
        const qint64 wire = qint64(BIO_number_written(SSL_get_wbio(m_ssl))) - m_wireAtStart;
        if (wire > 0 && m_written > 0)
            return qMin(m_written, qint64(double(queued) * double(m_written) / double(wire)));
    }
    return qMin<qint64>(m_written, queued);
}

void TFtpSocket::WaitSent(qint64 leave, int timeoutMs, const std::function<void()> &tick)
{
    const bool limited = timeoutMs > 0;
    int last = -1;
    FtpClock::time_point deadline;
    for (;;) {
        m_canceller.ThrowIfAborted();
        int queued = 0;
        if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued <= leave)
            return;
        if (queued != last) {
            last = queued;
            deadline = FtpClock::now() + std::chrono::milliseconds(timeoutMs);
        } else if (limited && RemainingMs(true, deadline) == 0) {
            ThrowFtpError(FtpText::TimedOut());
        }
        tick();
        // Only errors and the hang-up wake this poll: a reset peer never takes the rest.
        pollfd fds[2] = {{m_fd, 0, 0}, {m_canceller.WakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, 50) < 0 && errno != EINTR)
            Fail(errno);
        m_canceller.ThrowIfAborted();
        if (fds[0].revents & (POLLERR | POLLHUP)) {
            int err = 0;
            socklen_t length = sizeof err;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &length);
            Fail(err != 0 ? err : EPIPE);
        }
    }
}

void TFtpSocket::SetNoDelay()
{
    const int on = 1;
    if (m_fd >= 0)
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TFtpSocket::QuickAck()
{
    const int on = 1;
    if (m_fd >= 0)
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

TSockAddr TFtpSocket::LocalAddress() const
{
    TSockAddr address;
    address.Length = sizeof address.Storage;
    if (m_fd < 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address.Storage), &address.Length)
               != 0)
        return {};
    return address;
}

TSockAddr TFtpSocket::PeerAddress() const
{
    TSockAddr address;
    address.Length = sizeof address.Storage;
    if (m_fd < 0
        || ::getpeername(m_fd, reinterpret_cast<sockaddr *>(&address.Storage), &address.Length)
               != 0)
        return {};
    return address;
}

// ---- TLS ----

bool TFtpSocket::TlsContinue(int result, int timeoutMs)
{
    const int error = SSL_get_error(m_ssl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        Wait(POLLIN, timeoutMs);
        return true;
    case SSL_ERROR_WANT_WRITE:
        Wait(POLLOUT, timeoutMs);
        return true;
    case SSL_ERROR_ZERO_RETURN:
        // Abort() shuts the descriptor down, which reads as the end of the stream as well.
        m_canceller.ThrowIfAborted();
        return false;
    case SSL_ERROR_SYSCALL:
        if (errno == EINTR)
            return true;
        m_canceller.ThrowIfAborted();
        if (ERR_peek_error() == 0) {
            if (errno == 0)
                return false;
            Fail(errno);
        }
        break;
    default:
        m_canceller.ThrowIfAborted();
        break;
    }
    ThrowFtpError(TlsErrorText(QStringLiteral("TLS error")));
}

void TFtpSocket::StartTls(const QString &host, const TTlsSession &reuse, int timeoutMs)
{
    if (m_fd < 0)
        ThrowFtpError(FtpText::ClosedByServer());
    SSL_CTX *context = TlsClientContext();
    m_ssl = context ? SSL_new(context) : nullptr;
    if (!m_ssl)
        ThrowFtpError(TlsErrorText(QStringLiteral("TLS is not available")));
    SSL_set_fd(m_ssl, m_fd);
    SSL_set_app_data(m_ssl, &m_latestSession);
    X509_VERIFY_PARAM *check = SSL_get0_param(m_ssl);
    const TSockAddr numeric = TSockAddr::FromNumeric(host, 0);
    if (numeric.IsValid()) {
        X509_VERIFY_PARAM_set1_ip_asc(check, numeric.Address().toLatin1().constData());
    } else {
        const QByteArray name = host.toUtf8();
        SSL_set_tlsext_host_name(m_ssl, name.constData());
        X509_VERIFY_PARAM_set1_host(check, name.constData(), size_t(name.size()));
    }
    if (reuse)
        SSL_set_session(m_ssl, reuse.get());
    for (;;) {
        m_canceller.ThrowIfAborted();
        ERR_clear_error();
        errno = 0;
        const int result = WithoutSigPipe([&] { return SSL_connect(m_ssl); });
        if (result == 1) {
            m_wireAtStart = qint64(BIO_number_written(SSL_get_wbio(m_ssl)));
            m_written = 0;
            return;
        }
        if (!TlsContinue(result, timeoutMs))
            ThrowFtpError(FtpText::ClosedByServer());
    }
}

void TFtpSocket::ShutdownTls(int timeoutMs)
{
    if (!m_ssl)
        return;
    try {
        int result = -1;
        for (int attempt = 0; attempt < 4 && result < 0; ++attempt) {
            ERR_clear_error();
            errno = 0;
            result = WithoutSigPipe([&] { return SSL_shutdown(m_ssl); });
            if (result < 0 && !TlsContinue(result, timeoutMs))
                break;
        }
        // Up to the server's close_notify (or its close): what it sent meanwhile includes the
        // TLS 1.3 ticket the next data connection must resume with.
        char scratch[4096];
        while (result == 0) {
            ERR_clear_error();
            errno = 0;
            const int got
                = WithoutSigPipe([&] { return SSL_read(m_ssl, scratch, sizeof scratch); });
            if (got <= 0 && !TlsContinue(got, timeoutMs))
                break;
        }
    } catch (const EFtpError &) {
        if (m_canceller.Aborted())
            throw;
    }
    ERR_clear_error();
}

TCertificateInfo TFtpSocket::TlsCertificate() const
{
    if (!m_ssl)
        return {};
    X509 *certificate = SSL_get1_peer_certificate(m_ssl);
    TCertificateInfo info = DescribeCertificate(certificate, SSL_get_verify_result(m_ssl));
    X509_free(certificate);
    return info;
}

TTlsSession TFtpSocket::TlsSession() const
{
    if (!m_ssl)
        return {};
    if (m_latestSession)
        return m_latestSession;
    return TTlsSession(SSL_get1_session(m_ssl), SSL_SESSION_free);
}

QString TFtpSocket::TlsVersion() const
{
    if (!m_ssl)
        return {};
    switch (SSL_version(m_ssl)) {
    case TLS1_3_VERSION:
        return QStringLiteral("TLS 1.3");
    case TLS1_2_VERSION:
        return QStringLiteral("TLS 1.2");
    default:
        return QString::fromLatin1(SSL_get_version(m_ssl));
    }
}

bool TFtpSocket::TlsResumed() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}
