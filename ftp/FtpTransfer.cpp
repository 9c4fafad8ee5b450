// The data connections of a session and the transfers over them: listings, downloads into a
// local file that replaces its target only when whole, uploads with the check of what arrived.
#include "ftp/FtpSession.h"

#include "ftp/FtpListParser.h"
#include "ftp/FtpProgress.h"

#include <QDate>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;
// Unsent bytes that may remain at a file's end without the upload waiting for them to drain.
constexpr qint64 UnsentLeftToReply = 128 * 1024;
// What an upload sends ahead of the server's first reply, where it may: little enough for the
// server's receive buffer to hold when it refuses the command and never takes the connection.
constexpr qint64 AheadBytes = ChunkSize;

// A call a transfer hands to the session for its own duration only.
struct TCallForNow
{
    std::function<void()> &Call;
    ~TCallForNow() { Call = nullptr; }
};

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

// The size fact of an MLST entry line (" type=file;size=12;modify=...; name"), -1 without one.
qint64 SizeFact(const QByteArray &line)
{
    const QByteArray entry = line.trimmed();
    const qsizetype space = entry.indexOf(' ');
    const QByteArray facts = space < 0 ? entry : entry.left(space);
    for (const QByteArray &fact : facts.split(';')) {
        if (fact.size() > 5 && fact.left(5).toLower() == "size=") {
            bool ok = false;
            const qint64 size = fact.mid(5).toLongLong(&ok);
            return ok ? size : -1;
        }
    }
    return -1;
}

bool IsTimeout(const EFtpError &error)
{
    return error.Message() == FtpText::TimedOut();
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

// --- data connections -------------------------------------------------------------------------

void TFtpSession::SetType(char type)
{
    m_wantType = 0;
    if (m_type == type)
        return;
    // A passive transfer's command takes it along (RunTransfer).
    if (Pipelined() && m_passive) {
        m_wantType = type;
        return;
    }
    SetTypeNow(type);
}

void TFtpSession::SetTypeNow(char type)
{
    m_wantType = 0;
    if (m_type == type)
        return;
    Simple(type == 'A' ? QStringLiteral("TYPE A") : QStringLiteral("TYPE I"));
    m_type = type;
}

void TFtpSession::KeepPort(quint16 port)
{
    DropPort();
    m_prefetchedPort = port;
    if (!m_strictOrder || port == 0 || m_proxy.Kind == TFtpProxy::Socks)
        return;
    // The server leaves the connection in its queue until the transfer command comes.
    TSockAddr target = m_controlPeer;
    target.SetPort(port);
    auto socket = std::make_unique<TFtpSocket>(m_canceller);
    try {
        socket->ConnectStart(target);
        socket->SetNoDelay();
        m_preconnected = std::move(socket);
    } catch (const EFtpError &) {
        // The transfer connects again and reports what it gets.
    }
}

void TFtpSession::DropPort()
{
    m_prefetchedPort = 0;
    m_preconnected.reset();
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
    // The end of a file goes out at once, not after the acknowledgement of what went before.
    socket.SetNoDelay();
    ++m_connections;
}

quint16 TFtpSession::TakePassiveReply(const TFtpReply &reply, bool extended)
{
    if (extended) {
        if (reply.Class() == 5) {
            m_epsvRefused = true;
            return 0;
        }
        if (reply.Code != 229)
            Refused(reply);
        static const QRegularExpression pattern(
            QStringLiteral("\\(([\\x21-\\x7e])\\1\\1(\\d{1,5})\\1\\)"));
        const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(reply.LastLine()));
        const uint value = m.hasMatch() ? m.capturedView(2).toUInt() : 0;
        if (value == 0 || value > 65535)
            ThrowFtpError(QStringLiteral("Invalid reply from the server"));
        return quint16(value);
    }
    if (reply.Code != 227)
        Refused(reply);
    static const QRegularExpression pattern(
        QStringLiteral("(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3})"));
    const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(reply.LastLine()));
    const uint high = m.hasMatch() ? m.capturedView(5).toUInt() : 0;
    const uint low = m.hasMatch() ? m.capturedView(6).toUInt() : 0;
    const uint value = high * 256 + low;
    if (!m.hasMatch() || high > 255 || low > 255 || value == 0)
        ThrowFtpError(QStringLiteral("Invalid reply from the server"));
    return quint16(value);
}

quint16 TFtpSession::PassivePort()
{
    if (m_prefetchedPort != 0)
        return std::exchange(m_prefetchedPort, 0);
    if (!m_epsvRefused) {
        const quint16 port = TakePassiveReply(Command(QStringLiteral("EPSV")), true);
        if (port != 0)
            return port;
    }
    return TakePassiveReply(Command(QStringLiteral("PASV")), false);
}

void TFtpSession::OpenActive(TDataChannel &channel)
{
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
            channel.Data->SetNoDelay();
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

bool TFtpSession::RunTransfer(const QString &command, const TBody &body, TTransfer kind,
                              const QString &sizeAfter)
{
    const bool upload = kind == TTransfer::Upload;
    TDataChannel channel;
    TFtpReply start;
    bool startRead = true;
    // A reply missing after commands sent together may be a proxy that cannot take that.
    bool together = false;
    const auto startReply = [&] {
        try {
            return Reply();
        } catch (const EFtpError &) {
            if (together && !m_canceller.Aborted())
                StopPipelining();
            throw;
        }
    };
    const bool early = Pipelined();
    if (m_passive) {
        std::unique_ptr<TFtpSocket> preconnected
            = m_prefetchedPort != 0 ? std::move(m_preconnected) : nullptr;
        const quint16 port = PassivePort();
        // The command goes before the connection is made: the server has it when the connection
        // comes, and its first reply comes a round trip sooner. Data goes only after that reply
        // (pyftpdlib loses data that arrives before it has taken the command), except to a
        // server that takes the connection only with the command.
        if (early && m_wantType) {
            const char type = std::exchange(m_wantType, 0);
            SendAll({type == 'A' ? QStringLiteral("TYPE A") : QStringLiteral("TYPE I"), command});
            together = true;
            const TFtpReply reply = startReply();
            if (!CompletesCommand(0, reply))
                OutOfStep();
            if (!reply.IsCompletion()) {
                LoseControl(); // the command goes on in the other mode: nothing more is said
                Refused(reply);
            }
            m_type = type;
        } else if (early) {
            Send(command);
        }
        std::exception_ptr unreachable;
        try {
            if (preconnected) {
                channel.Data = std::move(preconnected);
                channel.Data->ConnectFinish(m_timeout);
                ++m_connections;
            } else {
                channel.Data = std::make_unique<TFtpSocket>(m_canceller);
                ConnectData(*channel.Data, port);
            }
        } catch (const EFtpError &) {
            if (!early || m_canceller.Aborted())
                throw;
            unreachable = std::current_exception();
        }
        if (!early)
            ++m_roundTrips; // the connection before the command; else it overlaps the reply
        if (unreachable) {
            // A server that answered at once (a refusal, or success without data) has closed
            // the port: its reply tells more. One that waits for the connection says nothing.
            const int timeout = std::exchange(m_timeout, 1000);
            try {
                start = Reply();
            } catch (const EFtpError &) {
                m_timeout = timeout;
                std::rethrow_exception(unreachable); // Reply() gave up the control connection
            }
            m_timeout = timeout;
            if (start.IsPreliminary()) {
                LoseControl();
                std::rethrow_exception(unreachable);
            }
        } else if (early && upload && m_strictOrder && m_size && !m_tls && !sizeAfter.isEmpty()) {
            startRead = false; // the body sends a first part, then reads it (AwaitStart)
        } else {
            start = early ? startReply() : Command(command);
        }
    } else {
        OpenActive(channel);
        start = Command(command);
    }
    // Raises for a refusal; true when the transfer goes on.
    const auto started = [&] {
        if (start.IsCompletion())
            return false; // nothing moved
        if (!start.IsPreliminary())
            Refused(start);
        if (upload && m_onStarted)
            std::exchange(m_onStarted, nullptr)();
        return true;
    };
    bool quiet = false; // the server answered STOR with success before any data came
    if (startRead) {
        if (!started())
            return false;
    } else {
        m_startPending = [&] {
            startRead = true;
            start = startReply();
            quiet = !started();
        };
    }
    const TCallForNow pendingScope{m_startPending};
    bool completed = false;
    if (!channel.Data)
        AcceptData(channel, completed);
    // A final reply to STOR before the data came in speaks for no data.
    if (upload && completed)
        return false;
    try {
        // The handshake only once the command is out (pyftpdlib drops it otherwise), resuming
        // the control connection's session (vsftpd and proftpd refuse a data connection that
        // does not).
        if (m_tls)
            channel.Data->StartTls(m_host, ResumableCopy(DataSession()), m_timeout);
        body(*channel.Data);
        if (m_tls) {
            channel.Data->ShutdownTls(m_timeout);
            // A server may hand out a newer ticket on the data connection (vsftpd does, proftpd
            // does not): the next one resumes with that.
            if (TTlsSession ticket = channel.Data->NewestTicket())
                m_dataSession = std::move(ticket);
        }
    } catch (const EFtpError &error) {
        channel.Close();
        // A refusal read while the data went ahead (AwaitStart) is the whole story.
        if (m_canceller.Aborted() || m_lost || completed
            || dynamic_cast<const EFtpReplyError *>(&error))
            throw;
        if (IsTimeout(error)) {
            LoseControl();
            throw;
        }
        // The server still owes the final reply of the command (and its first, when the data
        // went ahead of it). When the data connection failed, its text tells more than ours;
        // when the local file failed, ours is the one that counts.
        const bool local = dynamic_cast<const ELocalFileError *>(&error) != nullptr;
        TFtpReply final;
        try {
            if (!startRead) {
                start = startReply();
                startRead = true;
            }
            final = start.IsPreliminary() ? Reply() : start;
        } catch (const EFtpError &) {
            if (!local)
                throw;
        }
        if (!local && final.IsError())
            ThrowFtpError(final.ErrorText());
        throw;
    }
    channel.Close();
    m_unanswered = true; // the data went out or came in: the final reply waits for it
    if (completed)
        return true;
    // A strict-order server reads these only after its final reply: they cost no wait.
    QStringList after;
    if (early && m_strictOrder && kind != TTransfer::Listing) {
        if (!sizeAfter.isEmpty() && m_size)
            after.append(QStringLiteral("SIZE ") + sizeAfter);
        if (m_owner.PrefetchPassive && m_passive && m_prefetchedPort == 0)
            after.append(m_epsvRefused ? QStringLiteral("PASV") : QStringLiteral("EPSV"));
        if (!after.isEmpty())
            SendAll(after);
    }
    if (!startRead) {
        start = startReply();
        startRead = true;
        if (start.IsError()) {
            ReadAfterTransfer(after);
            Refused(start);
        }
        quiet = !start.IsPreliminary();
    }
    TFtpReply final = quiet ? start : Reply();
    while (final.IsPreliminary())
        final = Reply();
    ReadAfterTransfer(after);
    if (!final.IsCompletion()) {
        // A transfer cut short may be a server that reads commands while it runs after all.
        if (!after.isEmpty())
            m_strictOrder = false;
        ThrowFtpError(final.ErrorText());
    }
    return !quiet;
}

void TFtpSession::AwaitStart()
{
    if (m_startPending)
        std::exchange(m_startPending, nullptr)();
}

void TFtpSession::ReadAfterTransfer(const QStringList &after)
{
    m_sizeAfter.reset();
    for (const QString &line : after) {
        const TFtpReply reply = Reply();
        const bool port = !line.startsWith(QLatin1String("SIZE"));
        if (!(reply.IsError()
              || (port ? reply.Code == 227 || reply.Code == 229 : reply.Code == 213)))
            OutOfStep();
        if (port)
            KeepPortOf(reply, line == QLatin1String("EPSV"));
        else
            m_sizeAfter = reply;
    }
}

void TFtpSession::KeepPortOf(const TFtpReply &reply, bool extended)
{
    if (extended && reply.Class() == 5) {
        m_epsvRefused = true;
    } else if (!reply.IsError()) {
        try {
            KeepPort(TakePassiveReply(reply, extended));
        } catch (const EFtpError &) {
            // The next transfer asks again and reports what it gets.
        }
    }
}

TTlsSession TFtpSession::DataSession() const
{
    return m_dataSession ? m_dataSession : m_control->TlsSession();
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
    ReportTransferProgress(m_owner, m_remaining, bytes);
}

void TFtpSession::RequestEvent(qint64 bytes)
{
    // Outside a transfer every request still moves the counter: the first one after a transfer
    // that ended at exactly its size reports 0 bytes once, as the original did.
    if (!m_inTransfer)
        Progress(bytes);
}

// --- files ----------------------------------------------------------------------------------

void TFtpSession::GetFile(const QString &remoteName, const QString &localName, bool asAscii,
                          qint64 size)
{
    EnsureReady();
    m_remaining = size;
    TLocalTarget target(localName);
    TLineEndFilter lineEnds;
    TTransferScope scope(m_inTransfer);
    SetType(asAscii ? 'A' : 'I');
    const auto receive = [&](TFtpSocket &socket) {
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
    };
    if (!RunTransfer(QStringLiteral("RETR ") + remoteName, receive, TTransfer::Download))
        throw EFtpIncompleteError(
            QStringLiteral("The server sent no data for %1 although it reported success")
                .arg(remoteName));
    target.Commit();
}

void TFtpSession::PutFile(const QString &remoteName, const QString &localName, bool asAscii,
                          qint64 from, const std::function<void()> &started)
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
    from = asAscii ? 0 : qBound<qint64>(0, from, m_remaining);
    if (from > 0 && ::lseek(file.Fd, from, SEEK_SET) != from)
        ThrowLocal(errno);
    TTransferScope scope(m_inTransfer);
    // ASCII mode sends the bytes as they are: local text files end lines with LF already.
    SetType(asAscii ? 'A' : 'I');
    if (from > 0) {
        // REST right before STOR: some servers forget the offset at any other command.
        SetTypeNow('I');
        const TFtpReply rest = Command(QStringLiteral("REST %1").arg(from));
        if (rest.Code != 350)
            Refused(rest);
        Progress(from); // held already
    }
    m_onStarted = started;
    const TCallForNow startedScope{m_onStarted};
    TLineEnds sent;
    // Progress counts what the server has taken: what went out less what still waits in the
    // kernel's send queue (up to megabytes). The last byte counts only with the server's reply.
    const qint64 size = m_remaining;
    qint64 confirmed = 0;
    const auto confirm = [&](qint64 upTo) {
        if (upTo > confirmed) {
            Progress(upTo - confirmed);
            confirmed = upTo;
        }
    };
    const auto taken
        = [&](const TFtpSocket &socket) { confirm(qMin(sent.Bytes - socket.Unsent(), size - 1)); };
    const auto send = [&](TFtpSocket &socket) {
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
            sent.Add(chunk, got, asAscii);
            taken(socket);
            if (sent.Bytes >= AheadBytes)
                AwaitStart();
        }
        // A long queue drains with the progress moving; a short one is left to the reply, as
        // waiting for its acknowledgement would cost every small file a round trip.
        socket.WaitSent(UnsentLeftToReply, m_timeout, [&] { taken(socket); });
    };
    m_sizeAfter.reset();
    if (!RunTransfer(QStringLiteral("STOR ") + remoteName, send, TTransfer::Upload,
                     asAscii || from > 0 ? QString() : remoteName))
        throw EFtpIncompleteError(
            QStringLiteral("The server received no data for %1 although it reported success")
                .arg(localName));
    confirm(sent.Bytes);
    if (from > 0)
        return; // what was sent is the end of the file: only the whole can be judged
    // Data sent ahead of the server's first reply is always checked: the size was asked with it.
    if (const std::optional<TFtpReply> stored = std::exchange(m_sizeAfter, std::nullopt)) {
        try {
            VerifyStored(remoteName, localName, sent, asAscii, &*stored);
        } catch (const EFtpIncompleteError &) {
            m_strictOrder = false; // not the server it seemed: wait for its replies from now on
            throw;
        }
    } else if (m_owner.VerifyStoredSize)
        VerifyStored(remoteName, localName, sent, asAscii);
}

namespace {

// The size a reply to SIZE (213) or MLST (250, the size fact) gives; -1 for none.
qint64 SizeOfReply(const TFtpReply &reply, bool mlst)
{
    if (mlst)
        return reply.Code == 250 && reply.Lines.size() > 1 ? SizeFact(reply.Lines[1]) : -1;
    bool ok = false;
    const qint64 size = reply.Text().section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
    return reply.Code == 213 && ok ? size : -1;
}

} // namespace

qint64 TFtpSession::StoredSize(const QString &name)
{
    EnsureReady();
    // SIZE counts bytes only in binary mode; MLST's size fact in either.
    const bool mlst = !m_size;
    if (mlst && !m_mlst)
        return -1;
    if (!mlst)
        SetTypeNow('I');
    return SizeOfReply(Command((mlst ? QStringLiteral("MLST ") : QStringLiteral("SIZE ")) + name),
                       mlst);
}

void TFtpSession::VerifyStored(const QString &remoteName, const QString &localName,
                               const TLineEnds &sent, bool ascii, const TFtpReply *known)
{
    // SIZE counts the bytes of the stored file only in binary mode (pyftpdlib refuses it in
    // ASCII mode); MLST's size fact counts them in either.
    const bool mlst = !known && ascii && m_mlst;
    if (!known && !mlst && !m_size)
        return;
    const TFtpReply reply
        = known ? *known
                : Command((mlst ? QStringLiteral("MLST ") : QStringLiteral("SIZE ")) + remoteName);
    const qint64 stored = SizeOfReply(reply, mlst);
    if (stored < 0) {
        // Gone right after it was stored: nothing of it is there. A text file is not judged by a
        // refusal: a server may refuse the size of a file in ASCII mode.
        if (!ascii && reply.Code == 550)
            throw EFtpIncompleteError(
                QStringLiteral("%1 is not on the server although it reported it stored (%2)")
                    .arg(localName, reply.ErrorText()));
        if (!ascii && reply.Class() == 5)
            m_size = false; // offered but not implemented after all
        return;
    }
    if (stored >= sent.Least(ascii) && stored <= sent.Most(ascii))
        return;
    throw EFtpIncompleteError(
        QStringLiteral("%1 did not reach the server whole: it holds %2 bytes of the %3 sent")
            .arg(localName)
            .arg(stored)
            .arg(sent.Bytes));
}
