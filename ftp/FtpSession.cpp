#include "ftp/FtpSession.h"

#include "ftp/FtpListParser.h"

#include <QDate>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

QString NotConnectedText()
{
    return QStringLiteral("Not connected");
}

QString LostText()
{
    return QStringLiteral("Connection to the server lost");
}

// A failure of the local file, as opposed to one of the server or the network.
class ELocalFileError : public EFtpError
{
public:
    using EFtpError::EFtpError;
};

[[noreturn]] void ThrowLocal(int err)
{
    throw ELocalFileError(SocketErrorText(err));
}

// Closes a descriptor on every path.
struct TFd
{
    int Fd = -1;
    ~TFd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
};

void WriteAllLocal(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ThrowLocal(errno);
        }
        data += written;
        size -= written;
    }
}

// A download is written under a temporary name in the target's folder and renamed over the
// target only when complete, so a failed download never replaces a good file.
class TLocalTarget
{
public:
    explicit TLocalTarget(const QString &localName)
        : m_target(QFile::encodeName(localName))
    {
        const QFileInfo info(localName);
        const QByteArray folder = QFile::encodeName(info.path());
        // Room for the prefix and suffix within the longest name the system allows.
        const QByteArray base = QFile::encodeName(info.fileName()).left(200);
        for (int attempt = 0;; ++attempt) {
            m_temporary = folder + "/." + base + ".part-"
                          + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            m_fd = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0)
                break;
            if (errno != EEXIST || attempt > 100)
                ThrowLocal(errno);
        }
        // An existing file keeps its permissions.
        struct stat old = {};
        if (::stat(m_target.constData(), &old) == 0 && S_ISREG(old.st_mode))
            ::fchmod(m_fd, old.st_mode & 07777);
    }

    ~TLocalTarget()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_committed)
            ::unlink(m_temporary.constData());
    }

    void Write(const char *data, qint64 size) { WriteAllLocal(m_fd, data, size); }

    void Commit()
    {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            ThrowLocal(errno);
        if (::rename(m_temporary.constData(), m_target.constData()) != 0)
            ThrowLocal(errno);
        m_committed = true;
    }

private:
    QByteArray m_target;
    QByteArray m_temporary;
    int m_fd = -1;
    bool m_committed = false;
};

// ASCII downloads: CR LF becomes LF; a CR at the end of a chunk waits for the next one.
class TLineEndFilter
{
public:
    QByteArray Filter(const char *data, qint64 size)
    {
        QByteArray out;
        out.reserve(size + 1);
        for (qint64 i = 0; i < size; ++i) {
            const char c = data[i];
            if (m_pendingCr) {
                m_pendingCr = false;
                if (c != '\n')
                    out.append('\r');
            }
            if (c == '\r')
                m_pendingCr = true;
            else
                out.append(c);
        }
        return out;
    }
    QByteArray Finish()
    {
        const bool cr = m_pendingCr;
        m_pendingCr = false;
        return cr ? QByteArray("\r") : QByteArray();
    }

private:
    bool m_pendingCr = false;
};

QString Masked(const QString &line)
{
    for (const char *secret : {"PASS ", "ACCT "}) {
        if (line.startsWith(QLatin1String(secret), Qt::CaseInsensitive))
            return line.left(5) + QStringLiteral("****");
    }
    return line;
}

bool IsTimeout(const EFtpError &error)
{
    return error.Message() == FtpText::TimedOut();
}

// The path in a 257 reply: '"' quoted, '""' standing for one quote.
QString ParsePwd(const QString &text)
{
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    if (open < 0)
        return text.section(QLatin1Char(' '), 0, 0);
    QString path;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('"')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                path.append(QLatin1Char('"'));
                ++i;
                continue;
            }
            break;
        }
        path.append(text[i]);
    }
    return path;
}

} // namespace

struct TFtpSession::TDataChannel
{
    std::unique_ptr<TFtpSocket> Data;
    std::unique_ptr<TFtpSocket> Listener;
    void Close()
    {
        if (Data)
            Data->Close();
        if (Listener)
            Listener->Close();
    }
};

// Keeps the progress counter away from control traffic while a transfer runs.
class TTransferScope
{
public:
    explicit TTransferScope(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~TTransferScope() { m_flag = false; }

private:
    bool &m_flag;
};

TFtpSession::TFtpSession(TFtp &owner)
    : m_owner(owner)
{
}

TFtpSession::~TFtpSession()
{
    CloseControl();
}

TFtp::TStats TFtpSession::Stats() const
{
    TFtp::TStats stats;
    stats.Commands = m_commands.load();
    stats.RoundTrips = m_roundTrips.load();
    stats.Connections = m_connections.load();
    return stats;
}

// --- control connection -----------------------------------------------------------------------

void TFtpSession::EnsureReady() const
{
    m_canceller.ThrowIfAborted();
    if (!m_connected || !m_control)
        ThrowFtpError(NotConnectedText());
    if (m_lost)
        ThrowFtpError(LostText());
}

void TFtpSession::CloseControl()
{
    if (m_control)
        m_control->Close();
    m_control.reset();
    m_controlBuffer.clear();
}

void TFtpSession::LoseControl()
{
    // Where the reply stream stands is unknown now: nothing more can be said on it.
    m_lost = true;
    if (m_control)
        m_control->Close();
}

void TFtpSession::Send(const QString &line)
{
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))
        || line.contains(QChar(u'\0')))
        ThrowFtpError(QStringLiteral("Invalid character in a name"));
    if (!m_control || !m_control->IsOpen())
        ThrowFtpError(LostText());
    const QByteArray bytes = line.toUtf8() + "\r\n";
    ++m_commands;
    if (m_owner.OnCommand)
        m_owner.OnCommand(Masked(line));
    try {
        m_control->Write(bytes, m_timeout);
    } catch (const EFtpError &) {
        LoseControl();
        throw;
    }
    RequestEvent(bytes.size());
}

TFtpReply TFtpSession::Reply()
{
    if (!m_control || !m_control->IsOpen())
        ThrowFtpError(LostText());
    ++m_roundTrips;
    TFtpReply reply;
    try {
        reply = ReadFtpReply(*m_control, m_controlBuffer, m_timeout);
    } catch (const EFtpError &) {
        LoseControl();
        throw;
    }
    RequestEvent(reply.Bytes);
    // 421: the server is closing the control connection; nothing more can be asked on it.
    if (reply.Code == 421)
        LoseControl();
    return reply;
}

TFtpReply TFtpSession::Command(const QString &line)
{
    Send(line);
    return Reply();
}

void TFtpSession::Refused(const TFtpReply &reply)
{
    throw EFtpReplyError(reply.Code, reply.ErrorText());
}

void TFtpSession::Simple(const QString &line)
{
    const TFtpReply reply = Command(line);
    if (!reply.IsCompletion())
        Refused(reply);
}

void TFtpSession::OpenControl()
{
    m_control = std::make_unique<TFtpSocket>(m_canceller);
    if (m_proxy.Kind == TFtpProxy::None) {
        m_control->Connect(ResolveHost(m_host, m_port, AF_UNSPEC, m_timeout, m_canceller),
                           m_timeout);
    } else {
        m_proxyAddresses
            = ResolveHost(m_proxy.Host, m_proxy.Port, AF_UNSPEC, m_timeout, m_canceller);
        if (m_proxy.Kind == TFtpProxy::Ftp)
            m_control->Connect(m_proxyAddresses, m_timeout);
        else
            ConnectThroughSocks(*m_control, m_port);
    }
    ++m_connections;
    m_controlPeer = m_control->PeerAddress();
    m_control->SetNoDelay();
}

void TFtpSession::ConnectThroughSocks(TFtpSocket &socket, quint16 port)
{
    if (m_socksVersion != 4) {
        socket.Connect(m_proxyAddresses, m_timeout);
        try {
            Socks5Connect(socket, m_host, port, m_timeout);
            m_socksVersion = 5;
            return;
        } catch (const ESocksVersionRefused &) {
            if (m_socksVersion == 5)
                throw;
            socket.Close();
        }
    }
    socket.Connect(m_proxyAddresses, m_timeout);
    Socks4Connect(socket, m_canceller, m_host, port, m_timeout);
    m_socksVersion = 4;
}

void TFtpSession::StartControlTls(bool required)
{
    const TFtpReply reply = Command(QStringLiteral("AUTH TLS"));
    if (reply.Code != 234) {
        if (required)
            throw EFtpReplyError(reply.Code,
                                 QStringLiteral("The server does not offer TLS (%1); encryption is "
                                                "required, so the login was not sent")
                                     .arg(reply.ErrorText()));
        m_plainFallback = true;
        return;
    }
    SecureControl();
}

void TFtpSession::SecureControl()
{
    m_control->StartTls(m_host, {}, m_timeout);
    const TCertificateInfo certificate = m_control->TlsCertificate();
    const QString trusted = NormalizedFingerprint(m_owner.TrustedFingerprint);
    if (certificate.Verified || (!trusted.isEmpty() && trusted == certificate.Fingerprint)) {
        m_tls = true;
        return;
    }
    // Nothing more goes to a server that may not be ours.
    if (!trusted.isEmpty())
        throw EFtpCertificateError(
            QStringLiteral("The server's certificate has changed: the trusted one has the "
                           "SHA-256 fingerprint %1, this one %2 (%3). It may not be your server; "
                           "nothing was sent")
                .arg(trusted, certificate.Fingerprint, certificate.Problem),
            certificate, true);
    throw EFtpCertificateError(QStringLiteral("The server's certificate is not trusted (%1): "
                                              "SHA-256 fingerprint %2")
                                   .arg(certificate.Problem, certificate.Fingerprint),
                               certificate, false);
}

void TFtpSession::Login()
{
    QString user = m_owner.UserName;
    if (m_proxy.Kind == TFtpProxy::Ftp) {
        // The proxy learns the server from the user name.
        user += QLatin1Char('@') + m_host;
        if (m_port != 21)
            user += QLatin1Char(':') + QString::number(m_port);
    }
    TFtpReply reply = Command(QStringLiteral("USER ") + user);
    if (reply.IsIntermediate() && reply.Code != 332)
        reply = Command(QStringLiteral("PASS ") + m_owner.Password);
    if (reply.Code == 332)
        reply = Command(QStringLiteral("ACCT ") + m_owner.Password);
    if (!reply.IsCompletion())
        Refused(reply);
}

void TFtpSession::ReadFeatures()
{
    const TFtpReply reply = Command(QStringLiteral("FEAT"));
    if (reply.Code == 211) {
        for (qsizetype i = 1; i + 1 < reply.Lines.size(); ++i) {
            const QByteArray feature = reply.Lines[i].trimmed().toUpper();
            const QByteArray name
                = feature.left(feature.indexOf(' ') < 0 ? feature.size() : feature.indexOf(' '));
            if (name == "MLST")
                m_mlst = true;
            else if (name == "UTF8")
                m_utf8 = true;
        }
    }
    if (m_utf8)
        Command(QStringLiteral("OPTS UTF8 ON")); // names are sent as UTF-8 whatever it says
}

void TFtpSession::Connect()
{
    m_canceller.ThrowIfAborted();
    CloseControl();
    m_connected = false;
    m_lost = false;
    m_mlst = m_utf8 = m_epsvRefused = m_eprtRefused = m_listAllRefused = false;
    m_type = 0;
    m_tls = m_plainFallback = false;
    m_dataSession.reset();
    m_socksVersion = 0;
    m_proxyAddresses.clear();

    m_host = m_owner.ServerName.trimmed();
    m_port = m_owner.ServerPort;
    m_passive = m_owner.Passive;
    m_timeout = qMax(0, m_owner.Timeout);
    m_proxy = ParseProxy(m_owner.Proxy);
    if (m_proxy.Kind == TFtpProxy::Socks && !m_passive)
        ThrowFtpError(
            QStringLiteral("Active mode does not work through a SOCKS proxy: use passive mode"));

    const QString encryption = m_owner.Encryption.trimmed().toLower();
    try {
        OpenControl();
        // Implicit FTPS (port 990 by custom): TLS from the first byte.
        if (encryption == QLatin1String("implicit"))
            SecureControl();
        TFtpReply greeting = Reply();
        while (greeting.IsPreliminary())
            greeting = Reply();
        if (!greeting.IsCompletion())
            Refused(greeting);
        if (encryption == QLatin1String("auto") || encryption == QLatin1String("require"))
            StartControlTls(encryption == QLatin1String("require"));
        Login();
        if (m_tls) {
            // Every data connection is protected as well (RFC 4217).
            Simple(QStringLiteral("PBSZ 0"));
            Simple(QStringLiteral("PROT P"));
        }
        ReadFeatures();
        m_connected = true;
    } catch (...) {
        CloseControl();
        m_lost = false;
        throw;
    }
}

void TFtpSession::Disconnect()
{
    if (m_control && m_control->IsOpen() && m_connected && !m_lost && !m_canceller.Aborted()) {
        // Polite but without waiting for the answer: a dead server must not hold us up.
        try {
            ++m_commands;
            if (m_owner.OnCommand)
                m_owner.OnCommand(QStringLiteral("QUIT"));
            m_control->Write(QByteArray("QUIT\r\n"), 1000);
        } catch (const EFtpError &) {
        }
    }
    CloseControl();
    m_connected = false;
    m_lost = false;
    m_canceller.Reset();
}

// --- data connections -------------------------------------------------------------------------

void TFtpSession::SetType(char type)
{
    if (m_type == type)
        return;
    Simple(type == 'A' ? QStringLiteral("TYPE A") : QStringLiteral("TYPE I"));
    m_type = type;
}

void TFtpSession::ConnectData(TFtpSocket &socket, quint16 port)
{
    if (m_proxy.Kind == TFtpProxy::Socks) {
        ConnectThroughSocks(socket, port);
    } else {
        // The data connection goes where the control connection goes, whatever address a PASV
        // reply names: a server behind NAT names one we cannot reach, and a hostile one could
        // aim us elsewhere.
        TSockAddr target = m_controlPeer;
        target.SetPort(port);
        socket.Connect(target, m_timeout);
    }
    ++m_connections;
}

void TFtpSession::OpenData(TDataChannel &channel)
{
    if (m_passive) {
        quint16 port = 0;
        if (!m_epsvRefused) {
            const TFtpReply reply = Command(QStringLiteral("EPSV"));
            if (reply.Code == 229) {
                static const QRegularExpression pattern(
                    QStringLiteral("\\(([\\x21-\\x7e])\\1\\1(\\d{1,5})\\1\\)"));
                const QRegularExpressionMatch m
                    = pattern.match(QString::fromUtf8(reply.LastLine()));
                const uint value = m.hasMatch() ? m.capturedView(2).toUInt() : 0;
                if (value == 0 || value > 65535)
                    ThrowFtpError(QStringLiteral("Invalid reply from the server"));
                port = quint16(value);
            } else if (reply.Class() == 5) {
                m_epsvRefused = true;
            } else {
                Refused(reply);
            }
        }
        if (m_epsvRefused) {
            const TFtpReply reply = Command(QStringLiteral("PASV"));
            if (reply.Code != 227)
                Refused(reply);
            static const QRegularExpression pattern(QStringLiteral(
                "(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3})"));
            const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(reply.LastLine()));
            const uint high = m.hasMatch() ? m.capturedView(5).toUInt() : 0;
            const uint low = m.hasMatch() ? m.capturedView(6).toUInt() : 0;
            const uint value = high * 256 + low;
            if (!m.hasMatch() || high > 255 || low > 255 || value == 0)
                ThrowFtpError(QStringLiteral("Invalid reply from the server"));
            port = quint16(value);
        }
        channel.Data = std::make_unique<TFtpSocket>(m_canceller);
        ConnectData(*channel.Data, port);
        return;
    }

    const TSockAddr local = m_control->LocalAddress();
    channel.Listener = std::make_unique<TFtpSocket>(m_canceller);
    channel.Listener->Listen(local);
    const quint16 port = channel.Listener->LocalAddress().Port();
    const bool v4 = local.Family() == AF_INET;
    if (!m_eprtRefused) {
        const TFtpReply reply = Command(
            QStringLiteral("EPRT |%1|%2|%3|").arg(v4 ? 1 : 2).arg(local.Address()).arg(port));
        if (reply.IsCompletion())
            return;
        if (reply.Class() != 5 || !v4)
            Refused(reply);
        m_eprtRefused = true;
    }
    if (!v4)
        ThrowFtpError(QStringLiteral("The server does not accept active IPv6 data connections"));
    const quint32 ip
        = ntohl(reinterpret_cast<const sockaddr_in *>(&local.Storage)->sin_addr.s_addr);
    Simple(QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
               .arg(ip >> 24)
               .arg((ip >> 16) & 0xff)
               .arg((ip >> 8) & 0xff)
               .arg(ip & 0xff)
               .arg(port >> 8)
               .arg(port & 0xff));
}

void TFtpSession::AcceptData(TDataChannel &channel, bool &completed)
{
    // The server connects now; if it cannot, it says so on the control connection instead. A
    // quick server may also have sent everything and its final reply already.
    completed = false;
    for (;;) {
        bool dataReady = false;
        try {
            if (completed || m_controlBuffer.contains('\n'))
                dataReady = channel.Listener->ReadyNow()
                            || (completed && channel.Listener->WaitEither(*m_control, m_timeout));
            else
                dataReady = channel.Listener->WaitEither(*m_control, m_timeout);
        } catch (const EFtpError &) {
            LoseControl();
            throw;
        }
        if (dataReady) {
            channel.Data = std::make_unique<TFtpSocket>(m_canceller);
            try {
                channel.Data->Accept(*channel.Listener, m_timeout);
            } catch (const EFtpError &) {
                LoseControl(); // the reply to the command is still to come
                throw;
            }
            channel.Listener->Close();
            ++m_connections;
            return;
        }
        if (completed)
            ThrowFtpError(QStringLiteral("The server did not open the data connection"));
        const TFtpReply reply = Reply();
        if (reply.IsError())
            ThrowFtpError(reply.ErrorText());
        if (reply.IsCompletion())
            completed = true;
        else if (!reply.IsPreliminary())
            ThrowFtpError(QStringLiteral("The server did not open the data connection"));
    }
}

void TFtpSession::RunTransfer(const QString &command, const TBody &body)
{
    TDataChannel channel;
    OpenData(channel);
    const TFtpReply start = Command(command);
    if (start.IsCompletion())
        return; // nothing to move
    if (!start.IsPreliminary())
        Refused(start);
    bool completed = false;
    if (!channel.Data)
        AcceptData(channel, completed);
    try {
        // The handshake only once the command is out (pyftpdlib drops it otherwise), resuming
        // the control connection's session (vsftpd requires that).
        if (m_tls)
            channel.Data->StartTls(m_host, m_dataSession ? m_dataSession : m_control->TlsSession(),
                                   m_timeout);
        body(*channel.Data);
        if (m_tls) {
            channel.Data->ShutdownTls(m_timeout);
            m_dataSession = channel.Data->TlsSession();
        }
    } catch (const EFtpError &error) {
        channel.Close();
        if (m_canceller.Aborted() || m_lost || completed)
            throw;
        if (IsTimeout(error)) {
            LoseControl();
            throw;
        }
        // The server still owes the final reply of the command. When the data connection failed,
        // its text tells more than ours; when the local file failed, ours is the one that counts.
        if (dynamic_cast<const ELocalFileError *>(&error)) {
            try {
                Reply();
            } catch (const EFtpError &) {
            }
            throw;
        }
        const TFtpReply final = Reply();
        if (final.IsError())
            ThrowFtpError(final.ErrorText());
        throw;
    }
    channel.Close();
    if (completed)
        return;
    TFtpReply final = Reply();
    while (final.IsPreliminary())
        final = Reply();
    if (!final.IsCompletion())
        ThrowFtpError(final.ErrorText());
}

QByteArray TFtpSession::FetchListing(const QString &command)
{
    QByteArray data;
    RunTransfer(command, [&](TFtpSocket &socket) {
        char chunk[ChunkSize];
        for (;;) {
            const qint64 got = socket.Read(chunk, sizeof chunk, m_timeout);
            if (got == 0)
                break;
            data.append(chunk, got);
        }
    });
    return data;
}

// --- progress ---------------------------------------------------------------------------------

void TFtpSession::Progress(qint64 bytes)
{
    if (m_remaining < 0)
        return;
    m_remaining -= bytes;
    const qint64 reported = m_remaining < 0 ? bytes + m_remaining : bytes;
    if (m_owner.OnProgress)
        m_owner.OnProgress(&m_owner, reported);
}

void TFtpSession::RequestEvent(qint64 bytes)
{
    // Outside a transfer every request still moves the counter: the first one after a transfer
    // that ended at exactly its size reports 0 bytes once, as the original did.
    if (!m_inTransfer)
        Progress(bytes);
}

// --- operations -------------------------------------------------------------------------------

QString TFtpSession::GetCurrentDir()
{
    EnsureReady();
    const TFtpReply reply = Command(QStringLiteral("PWD"));
    if (!reply.IsCompletion())
        Refused(reply);
    return ParsePwd(reply.Text());
}

void TFtpSession::SetCurrentDir(const QString &path)
{
    EnsureReady();
    Simple(QStringLiteral("CWD ") + path);
}

void TFtpSession::FindFiles(const QString &path, TFtpFileList &list)
{
    EnsureReady();
    if (!path.isEmpty())
        SetCurrentDir(path);
    const QDate today = QDate::currentDate();
    std::vector<TFtpListEntry> entries;
    TUnreadLines unread;
    try {
        if (m_mlst) {
            try {
                entries = ParseListing(FetchListing(QStringLiteral("MLSD")), true, today, &unread);
            } catch (const EFtpReplyError &error) {
                if (error.Code != 500 && error.Code != 502)
                    throw;
                m_mlst = false; // offered but not implemented
            }
        }
        if (!m_mlst) {
            if (m_listAllRefused) {
                entries = ParseListing(FetchListing(QStringLiteral("LIST")), false, today, &unread);
            } else {
                // "-a": web folders hold dot files (.htaccess) that a bare LIST hides. A server
                // that refuses the option, or takes it for a name and lists nothing, gets a bare
                // LIST, and keeps getting it once that shows what "-a" did not.
                bool refused = false;
                try {
                    entries = ParseListing(FetchListing(QStringLiteral("LIST -a")), false, today,
                                           &unread);
                } catch (const EFtpReplyError &) {
                    refused = true;
                }
                if (refused || entries.empty()) {
                    entries
                        = ParseListing(FetchListing(QStringLiteral("LIST")), false, today, &unread);
                    m_listAllRefused = refused || !entries.empty();
                }
            }
        }
    } catch (const EFtpReplyError &) {
        // A folder that can be entered but not listed, or an empty one on servers that answer
        // 450/550: both are empty listings. Network failures still raise.
        return;
    }
    AppendListing(entries, path, list, today.year(), m_owner.OnSkippedEntry);
    if (unread.Count > 0 && m_owner.OnUnreadLines)
        m_owner.OnUnreadLines(unread.Count, unread.First);
}

void TFtpSession::GetFile(const QString &remoteName, const QString &localName, bool asAscii,
                          qint64 size)
{
    EnsureReady();
    m_remaining = size;
    TLocalTarget target(localName);
    TLineEndFilter lineEnds;
    TTransferScope scope(m_inTransfer);
    SetType(asAscii ? 'A' : 'I');
    RunTransfer(QStringLiteral("RETR ") + remoteName, [&](TFtpSocket &socket) {
        char chunk[ChunkSize];
        for (;;) {
            const qint64 got = socket.Read(chunk, sizeof chunk, m_timeout);
            if (got == 0)
                break;
            if (asAscii) {
                const QByteArray text = lineEnds.Filter(chunk, got);
                target.Write(text.constData(), text.size());
            } else {
                target.Write(chunk, got);
            }
            Progress(got);
        }
        const QByteArray rest = lineEnds.Finish();
        target.Write(rest.constData(), rest.size());
    });
    target.Commit();
}

void TFtpSession::PutFile(const QString &remoteName, const QString &localName, bool asAscii)
{
    EnsureReady();
    TFd file;
    file.Fd = ::open(QFile::encodeName(localName).constData(), O_RDONLY | O_CLOEXEC);
    const int openError = errno;
    struct stat info = {};
    m_remaining = file.Fd >= 0 && ::fstat(file.Fd, &info) == 0 ? qint64(info.st_size) : 0;
    if (file.Fd < 0)
        ThrowLocal(openError);
    if (S_ISDIR(info.st_mode))
        ThrowLocal(EISDIR);
    TTransferScope scope(m_inTransfer);
    // ASCII mode sends the bytes as they are: local text files end lines with LF already.
    SetType(asAscii ? 'A' : 'I');
    RunTransfer(QStringLiteral("STOR ") + remoteName, [&](TFtpSocket &socket) {
        char chunk[ChunkSize];
        for (;;) {
            const ssize_t got = ::read(file.Fd, chunk, sizeof chunk);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                ThrowLocal(errno);
            }
            if (got == 0)
                break;
            socket.Write(chunk, got, m_timeout);
            Progress(got);
        }
    });
}

void TFtpSession::RenameFile(const QString &oldName, const QString &newName)
{
    EnsureReady();
    const TFtpReply reply = Command(QStringLiteral("RNFR ") + oldName);
    if (!reply.IsIntermediate())
        Refused(reply);
    Simple(QStringLiteral("RNTO ") + newName);
}

void TFtpSession::DeleteFile(const QString &name)
{
    EnsureReady();
    Simple(QStringLiteral("DELE ") + name);
}

void TFtpSession::CreateDir(const QString &name)
{
    EnsureReady();
    Simple(QStringLiteral("MKD ") + name);
}

void TFtpSession::RemoveDir(const QString &name)
{
    EnsureReady();
    Simple(QStringLiteral("RMD ") + name);
}

void TFtpSession::Chmod(const QString &fileName, const QString &mode)
{
    EnsureReady();
    Simple(QStringLiteral("SITE CHMOD ") + mode + QLatin1Char(' ') + fileName);
}
