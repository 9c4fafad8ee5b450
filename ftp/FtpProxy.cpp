#include "ftp/FtpProxy.h"

#include "ftp/FtpSocket.h"

#include <QRegularExpression>
#include <QUrl>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

QString RefusedText()
{
    return QStringLiteral("The SOCKS proxy refused the connection");
}

// "host", "host:port", "[v6]", "[v6]:port".
void SplitHostPort(QString text, quint16 defaultPort, QString &host, quint16 &port)
{
    port = defaultPort;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            ThrowFtpError(QStringLiteral("Invalid proxy address: ") + text);
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':')))
            portText = rest.mid(1);
        else if (!rest.isEmpty())
            ThrowFtpError(QStringLiteral("Invalid proxy address: ") + text);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0 && text.indexOf(QLatin1Char(':')) == colon) {
            host = text.left(colon);
            portText = text.mid(colon + 1);
        } else {
            host = text; // a bare IPv6 address or a name without a port
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            ThrowFtpError(QStringLiteral("Invalid proxy address: ") + text);
        port = quint16(value);
    }
    if (host.isEmpty())
        ThrowFtpError(QStringLiteral("Invalid proxy address: ") + text);
}

void WriteBytes(TFtpSocket &socket, const QByteArray &data, int timeoutMs)
{
    socket.Write(data, timeoutMs);
}

// Reads exactly `size` bytes; false when the proxy closes the connection first.
bool ReadBytes(TFtpSocket &socket, char *buffer, qint64 size, int timeoutMs)
{
    while (size > 0) {
        const qint64 got = socket.Read(buffer, size, timeoutMs);
        if (got == 0)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

} // namespace

TFtpProxy ParseProxy(const QString &text)
{
    TFtpProxy proxy;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return proxy;
    static const QRegularExpression separators(QStringLiteral("[\\s;]+"));
    for (const QString &item : trimmed.split(separators, Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString scheme = item.left(equals).toLower();
        QString address = item.mid(equals + 1);
        if (scheme == QLatin1String("socks")) {
            proxy.Kind = TFtpProxy::Socks;
            SplitHostPort(address, 1080, proxy.Host, proxy.Port);
            return proxy;
        }
        if (scheme == QLatin1String("ftp")) {
            if (address.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive))
                address = address.mid(6);
            while (address.endsWith(QLatin1Char('/')))
                address.chop(1);
            proxy.Kind = TFtpProxy::Ftp;
            SplitHostPort(address, 21, proxy.Host, proxy.Port);
            return proxy;
        }
    }
    ThrowFtpError(QStringLiteral("Unsupported proxy: ") + trimmed);
}

void Socks5Connect(TFtpSocket &socket, const QString &host, quint16 port, int timeoutMs)
{
    // Version 5, one method: no authentication.
    WriteBytes(socket, QByteArray("\x05\x01\x00", 3), timeoutMs);
    char answer[2];
    if (!ReadBytes(socket, answer, 2, timeoutMs) || answer[0] != 5 || answer[1] != 0)
        throw ESocksVersionRefused(RefusedText());

    QByteArray request("\x05\x01\x00", 3);
    const TSockAddr numeric = TSockAddr::FromNumeric(host, port);
    if (numeric.Family() == AF_INET) {
        request.append('\x01');
        request.append(reinterpret_cast<const char *>(
                           &reinterpret_cast<const sockaddr_in *>(&numeric.Storage)->sin_addr),
                       4);
    } else if (numeric.Family() == AF_INET6) {
        request.append('\x04');
        request.append(reinterpret_cast<const char *>(
                           &reinterpret_cast<const sockaddr_in6 *>(&numeric.Storage)->sin6_addr),
                       16);
    } else {
        QByteArray name = QUrl::toAce(host.trimmed());
        if (name.isEmpty())
            name = host.trimmed().toUtf8();
        if (name.isEmpty() || name.size() > 255)
            ThrowFtpError(FtpText::HostNotFound());
        request.append('\x03');
        request.append(char(name.size()));
        request.append(name);
    }
    request.append(char(port >> 8));
    request.append(char(port & 0xff));
    WriteBytes(socket, request, timeoutMs);

    unsigned char head[4];
    if (!ReadBytes(socket, reinterpret_cast<char *>(head), 4, timeoutMs) || head[0] != 5)
        throw ESocksVersionRefused(RefusedText());
    switch (head[1]) {
    case 0:
        break;
    case 3:
        ThrowFtpError(QStringLiteral("Network is unreachable"));
    case 4:
        ThrowFtpError(QStringLiteral("No route to host"));
    case 5:
        ThrowFtpError(QStringLiteral("Connection refused"));
    case 6:
        ThrowFtpError(FtpText::TimedOut());
    default:
        // General failure, not allowed by the rules, command or address type unsupported.
        throw ESocksVersionRefused(RefusedText());
    }
    qint64 rest = 2; // port
    if (head[3] == 1) {
        rest += 4;
    } else if (head[3] == 4) {
        rest += 16;
    } else if (head[3] == 3) {
        char length = 0;
        if (!ReadBytes(socket, &length, 1, timeoutMs))
            ThrowFtpError(RefusedText());
        rest += static_cast<unsigned char>(length);
    } else {
        ThrowFtpError(RefusedText());
    }
    char bound[300];
    if (!ReadBytes(socket, bound, rest, timeoutMs))
        ThrowFtpError(RefusedText());
}

void Socks4Connect(TFtpSocket &socket, TFtpCanceller &canceller, const QString &host, quint16 port,
                   int timeoutMs)
{
    const std::vector<TSockAddr> addresses = ResolveHost(host, port, AF_INET, timeoutMs, canceller);
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(&addresses.front().Storage);
    QByteArray request("\x04\x01", 2);
    request.append(char(port >> 8));
    request.append(char(port & 0xff));
    request.append(reinterpret_cast<const char *>(&v4->sin_addr), 4);
    request.append('\0'); // empty user id
    WriteBytes(socket, request, timeoutMs);
    unsigned char answer[8];
    if (!ReadBytes(socket, reinterpret_cast<char *>(answer), 8, timeoutMs) || answer[1] != 0x5a)
        ThrowFtpError(RefusedText());
}
