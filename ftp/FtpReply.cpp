#include "ftp/FtpReply.h"

#include "ftp/FtpSocket.h"

#include <algorithm>

namespace {

// A line longer than this keeps only its beginning: error texts use 255 characters at most, and
// the rest of a reply (FEAT, PWD, EPSV) is short.
constexpr qsizetype MaxLineBytes = 8192;
// A reply longer than this is not an FTP reply but a runaway server.
constexpr qint64 MaxReplyBytes = 4 * 1024 * 1024;
constexpr qsizetype MaxKeptLines = 4096;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsWithCode(const QByteArray &line)
{
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

// One line without its line end; `bytes` grows by what was consumed from the wire.
QByteArray ReadLine(TFtpSocket &socket, QByteArray &buffer, int timeoutMs, qint64 &bytes)
{
    QByteArray line;
    bool cut = false;
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        const qsizetype take = end >= 0 ? end : buffer.size();
        if (!cut) {
            const qsizetype room = MaxLineBytes - line.size();
            line.append(buffer.constData(), std::min(room, take));
            cut = take > room;
        }
        bytes += end >= 0 ? end + 1 : take;
        buffer.remove(0, end >= 0 ? end + 1 : take);
        if (end >= 0)
            break;
        if (bytes > MaxReplyBytes)
            ThrowFtpError(QStringLiteral("The server's reply is too long"));
        char chunk[4096];
        const qint64 got = socket.Read(chunk, sizeof chunk, timeoutMs);
        if (got == 0)
            ThrowFtpError(FtpText::ClosedByServer());
        buffer.append(chunk, got);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QString ReplyErrorText(const QByteArray &replyText)
{
    QByteArray text = replyText;
    for (;;) {
        const qsizetype lineFeed = text.indexOf('\n');
        if (lineFeed < 0 || lineFeed == text.size() - 1)
            break;
        text.remove(0, lineFeed + 1);
    }
    qsizetype skip = 0;
    while (skip < text.size() && (IsDigit(text[skip]) || text[skip] == ' '))
        ++skip;
    text.remove(0, skip);
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    while (text.endsWith('\r') || text.endsWith('\n'))
        text.chop(1);
    QString result = QString::fromUtf8(text);
    if (result.size() > MaxErrorTextLength) {
        qsizetype keep = MaxErrorTextLength;
        if (result.at(keep - 1).isHighSurrogate())
            --keep;
        result.truncate(keep);
    }
    if (result.isEmpty())
        return FtpText::Unknown();
    return result;
}

QString TFtpReply::ErrorText() const
{
    return ReplyErrorText(LastLine() + "\r\n");
}

QString TFtpReply::Text() const
{
    if (Lines.isEmpty())
        return {};
    return QString::fromUtf8(Lines.first().mid(4)).trimmed();
}

TFtpReply ReadFtpReply(TFtpSocket &socket, QByteArray &buffer, int timeoutMs)
{
    TFtpReply reply;
    const QByteArray first = ReadLine(socket, buffer, timeoutMs, reply.Bytes);
    if (!StartsWithCode(first) || (first.size() > 3 && first[3] != ' ' && first[3] != '-'))
        ThrowFtpError(QStringLiteral("Invalid reply from the server"));
    reply.Code = first.left(3).toInt();
    if (reply.Code < 100 || reply.Code >= 600)
        ThrowFtpError(QStringLiteral("Invalid reply from the server"));
    reply.Lines.append(first);
    if (first.size() > 3 && first[3] == '-') {
        const QByteArray code = first.left(3);
        for (;;) {
            const QByteArray line = ReadLine(socket, buffer, timeoutMs, reply.Bytes);
            if (reply.Lines.size() >= MaxKeptLines)
                reply.Lines.removeAt(1);
            reply.Lines.append(line);
            if (line.startsWith(code) && (line.size() == 3 || line[3] == ' '))
                break;
        }
    }
    return reply;
}
