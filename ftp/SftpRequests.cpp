// SFTP requests sent on libssh's channel by hand: uploads with several writes in flight, and
// posix-rename@openssh.com. Packets as SFTP version 3 has them: uint32 length, byte type,
// uint32 request id, then the fields; strings are a uint32 length and the bytes.

#include "ftp/SftpSession.h"

#include "ftp/FtpProgress.h"

#include <QFile>
#include <QFileInfo>

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <deque>

namespace {

// Writes in flight per upload: 16 x 32 KiB keeps a link of 20 ms busy at 25 MB/s.
constexpr int WritesInFlight = 16;
// Replies here are a status or a handle; anything near this size is not SFTP.
constexpr quint32 LargestReply = 1024 * 1024;

void AppendU32(QByteArray &out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xff));
}

void AppendU64(QByteArray &out, quint64 value)
{
    AppendU32(out, quint32(value >> 32));
    AppendU32(out, quint32(value & 0xffffffffu));
}

void AppendString(QByteArray &out, const char *data, qint64 size)
{
    AppendU32(out, quint32(size));
    out.append(data, size);
}

void AppendString(QByteArray &out, const QByteArray &value)
{
    AppendString(out, value.constData(), value.size());
}

// Reads from the front of `in`; false when it is too short.
bool TakeU32(QByteArray &in, quint32 &value)
{
    if (in.size() < 4)
        return false;
    const auto *bytes = reinterpret_cast<const uchar *>(in.constData());
    value = quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
    in.remove(0, 4);
    return true;
}

bool TakeString(QByteArray &in, QByteArray &value)
{
    quint32 size = 0;
    if (!TakeU32(in, size) || size > quint32(in.size()))
        return false;
    value = in.left(size);
    in.remove(0, size);
    return true;
}

} // namespace

quint32 TSftpSession::Send(quint8 type, const QByteArray &body)
{
    const quint32 id = ++m_sftp->id_counter;
    QByteArray packet;
    packet.reserve(body.size() + 9);
    AppendU32(packet, quint32(body.size() + 5));
    packet.append(char(type));
    AppendU32(packet, id);
    packet.append(body);
    // Blocking: libssh waits in poll() for the channel's window, and Abort() wakes it.
    for (qint64 done = 0; done < packet.size();) {
        const int wrote = ssh_channel_write(m_sftp->channel, packet.constData() + done,
                                            uint32_t(packet.size() - done));
        if (wrote <= 0)
            ChannelFailed();
        done += wrote;
    }
    return id;
}

void TSftpSession::ReadExactly(char *data, qint64 size)
{
    while (size > 0) {
        // 0 is the session's time-out or the channel's end.
        const int got = ssh_channel_read(m_sftp->channel, data, uint32_t(size), 0);
        if (got <= 0)
            ChannelFailed();
        data += got;
        size -= got;
    }
}

TSftpSession::TReply TSftpSession::Receive(quint32 id)
{
    char head[4];
    ReadExactly(head, 4);
    QByteArray length(head, 4);
    quint32 size = 0;
    TakeU32(length, size);
    if (size < 5 || size > LargestReply) {
        m_lost = true;
        ThrowFtpError(LostText() + QStringLiteral(" (a malformed SFTP reply)"));
    }
    QByteArray body(qsizetype(size), Qt::Uninitialized);
    ReadExactly(body.data(), size);
    TReply reply;
    reply.Type = quint8(body[0]);
    body.remove(0, 1);
    bool ok = TakeU32(body, reply.Id) && reply.Id == id;
    if (ok && reply.Type == SSH_FXP_STATUS) {
        ok = TakeU32(body, reply.Status);
        TakeString(body, reply.Data); // the message is optional before version 3
    } else if (ok) {
        ok = reply.Type == SSH_FXP_HANDLE && TakeString(body, reply.Data);
        reply.Status = SSH_FX_OK;
    }
    if (!ok) {
        // Out of step with the server: nothing more on this channel can be trusted.
        m_lost = true;
        ThrowFtpError(LostText() + QStringLiteral(" (an unexpected SFTP reply)"));
    }
    return reply;
}

QString TSftpSession::Refusal(const QString &what, const TReply &reply)
{
    // The status in our words, and the server's message where it says more ("Failure" and the
    // like do not).
    const QString ours = StatusText(int(reply.Status));
    const QString message = QString::fromUtf8(reply.Data).trimmed();
    return what + QStringLiteral(": ")
           + (message.isEmpty() || ours.contains(message, Qt::CaseInsensitive)
                  ? ours
                  : QStringLiteral("%1 (%2)").arg(ours, message));
}

void TSftpSession::Refused(const QString &what, const TReply &reply)
{
    ThrowFtpError(Refusal(what, reply));
}

void TSftpSession::PosixRename(const QString &from, const QString &to, const QString &what)
{
    QByteArray body;
    AppendString(body, QByteArrayLiteral("posix-rename@openssh.com"));
    AppendString(body, from.toUtf8());
    AppendString(body, to.toUtf8());
    const TReply reply = Receive(Send(SSH_FXP_EXTENDED, body));
    if (reply.Type != SSH_FXP_STATUS || reply.Status != SSH_FX_OK)
        Refused(what, reply);
}

void TSftpSession::PutFile(const QString &remoteName, const QString &localName, qint64 from,
                           const std::function<void()> &started)
{
    EnsureReady();
    QFile source(localName);
    if (!source.open(QIODevice::ReadOnly))
        ThrowFtpError(QStringLiteral("Cannot read %1: %2").arg(localName, source.errorString()));
    if (QFileInfo(localName).isDir())
        ThrowFtpError(QStringLiteral("Cannot read %1: it is a folder").arg(localName));
    const qint64 size = source.size();
    m_remaining = size;
    from = qBound<qint64>(0, from, size);
    if (!source.seek(from))
        ThrowFtpError(QStringLiteral("Cannot read %1: %2").arg(localName, source.errorString()));
    const QString path = Path(remoteName);
    const QString what = QStringLiteral("Cannot upload %1 to %2").arg(localName, path);
    Request(QStringLiteral("OPEN ") + path);
    QByteArray open;
    AppendString(open, path.toUtf8());
    AppendU32(open, SSH_FXF_WRITE | SSH_FXF_CREAT | (from > 0 ? 0 : SSH_FXF_TRUNC));
    AppendU32(open, SSH_FILEXFER_ATTR_PERMISSIONS);
    AppendU32(open, 0644);
    const TReply opened = Receive(Send(SSH_FXP_OPEN, open));
    if (opened.Type != SSH_FXP_HANDLE)
        Refused(what, opened);
    if (started)
        started();
    Progress(from); // held already

    // Writes go out while earlier ones wait for their status, and the close right behind the
    // last: a small file costs one round trip after the open. Every reply is read, even after a
    // failure, so the channel stays in step. The last byte counts only once the file is closed.
    std::deque<std::pair<quint32, qint64>> pending; // request id, bytes
    std::vector<char> buffer(static_cast<size_t>(m_writeChunk));
    QString failure;
    qint64 sent = from, stored = from;
    bool more = true, burst = false;
    quint32 closing = 0;
    for (;;) {
        while (more && failure.isEmpty() && int(pending.size()) < WritesInFlight) {
            const qint64 got = source.read(buffer.data(), m_writeChunk);
            if (got <= 0) {
                more = false;
                if (got < 0)
                    failure
                        = QStringLiteral("Cannot read %1: %2").arg(localName, source.errorString());
                break;
            }
            QByteArray write;
            write.reserve(got + 64);
            AppendString(write, opened.Data);
            AppendU64(write, quint64(sent));
            AppendString(write, buffer.data(), got);
            if (m_owner.OnCommand)
                m_owner.OnCommand(QStringLiteral("WRITE %1 bytes").arg(got));
            ++m_requests;
            pending.emplace_back(Send(SSH_FXP_WRITE, write), got);
            sent += got;
            burst = true;
        }
        if (!closing && (!more || !failure.isEmpty())) {
            QByteArray close;
            AppendString(close, opened.Data);
            ++m_requests;
            closing = Send(SSH_FXP_CLOSE, close);
            burst = true;
        }
        if (pending.empty())
            break;
        m_roundTrips += std::exchange(burst, false);
        const TReply reply = Receive(pending.front().first);
        const qint64 bytes = pending.front().second;
        pending.pop_front();
        if (reply.Type != SSH_FXP_STATUS || reply.Status != SSH_FX_OK) {
            if (failure.isEmpty())
                failure = Refusal(what, reply);
            more = false;
            continue;
        }
        const qint64 before = qMin(stored, size - 1);
        stored += bytes;
        Progress(qMax(qint64(0), qMin(stored, size - 1) - before));
    }
    m_roundTrips += burst;
    const TReply closed = Receive(closing);
    if (!failure.isEmpty())
        ThrowFtpError(failure);
    if (closed.Type != SSH_FXP_STATUS || closed.Status != SSH_FX_OK)
        Refused(what, closed);
    if (sent > 0)
        Progress(sent - qMin(sent, size - 1));
    if (!m_owner.VerifyStoredSize || from > 0)
        return; // a resumed file is judged whole by the caller
    const qint64 held = StoredSize(remoteName);
    if (held < 0)
        throw EFtpIncompleteError(
            QStringLiteral("%1 is not on the server although it reported it stored")
                .arg(localName));
    if (held != sent)
        throw EFtpIncompleteError(
            QStringLiteral("%1 did not reach the server whole: it holds %2 bytes of the %3 sent")
                .arg(localName)
                .arg(held)
                .arg(sent));
}

qint64 TSftpSession::StoredSize(const QString &name)
{
    EnsureReady();
    const QString path = Path(name);
    Request(QStringLiteral("STAT ") + path);
    const sftp_attributes stat = sftp_stat(m_sftp, path.toUtf8().constData());
    if (!stat) {
        if (sftp_get_error(m_sftp) == SSH_FX_NO_SUCH_FILE)
            return -1;
        Fail(QStringLiteral("Cannot read the size of %1").arg(path));
    }
    const qint64 size = stat->flags & SSH_FILEXFER_ATTR_SIZE ? qint64(stat->size) : -1;
    sftp_attributes_free(stat);
    return size;
}
