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
#include <utility>

namespace {

QString NotConnectedText()
{
    return QStringLiteral("Not connected");
}

QString LostText()
{
    return QStringLiteral("Connection to the server lost");
}

QString Masked(const QString &line)
{
    for (const char *secret : {"PASS ", "ACCT "}) {
        if (line.startsWith(QLatin1String(secret), Qt::CaseInsensitive))
            return line.left(5) + QStringLiteral("****");
    }
    return line;
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
    DropPort();
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

void TFtpSession::SendAll(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))
            || line.contains(QChar(u'\0')))
            ThrowFtpError(QStringLiteral("Invalid character in a name"));
        bytes += line.toUtf8() + "\r\n";
    }
    if (!m_control || !m_control->IsOpen())
        ThrowFtpError(LostText());
    for (const QString &line : lines) {
        ++m_commands;
        if (m_owner.OnCommand)
            m_owner.OnCommand(Masked(line));
    }
    m_unanswered = true;
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
    if (std::exchange(m_unanswered, false))
        ++m_roundTrips;
    TFtpReply reply;
    try {
        m_control->QuickAck();
        reply = ReadFtpReply(*m_control, m_controlBuffer, m_timeout);
    } catch (const EFtpError &) {
        LoseControl();
        throw;
    }
    if (m_owner.OnReply) {
        for (const QByteArray &line : std::as_const(reply.Lines))
            m_owner.OnReply(QString::fromUtf8(line));
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
        if (m_owner.ExpectTls)
            throw EFtpDowngradeError(
                QStringLiteral("The server no longer offers TLS (%1) although it did before: "
                               "someone on the network may be removing it to read the password "
                               "(a downgrade attack). The login was not sent")
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
    // vsftpd, known by its own words (its greeting is the site's to choose); through an FTP proxy
    // they would be the proxy's.
    m_strictOrder = reply.Text() == QLatin1String("Please specify the password.")
                    && m_proxy.Kind != TFtpProxy::Ftp;
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
            else if (name == "SIZE")
                m_size = true;
            else if (name == "REST" && feature.contains(" STREAM"))
                m_restStream = true;
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
    m_mlst = m_utf8 = m_size = m_restStream = m_epsvRefused = m_eprtRefused = m_listAllRefused
        = false;
    m_type = m_wantType = 0;
    m_strictOrder = false;
    DropPort();
    m_unanswered = false;
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
    if (!path.isEmpty() && Pipelined() && m_passive) {
        // The listing's port comes with the CWD's reply.
        const std::vector<TFtpReply> replies
            = Batch({QStringLiteral("CWD ") + path}, CompletesCommand, true);
        if (!replies[0].IsCompletion())
            Refused(replies[0]);
    } else if (!path.isEmpty()) {
        SetCurrentDir(path);
    }
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

void TFtpSession::RenameFile(const QString &oldName, const QString &newName)
{
    EnsureReady();
    if (Pipelined()) {
        RenameTogether(oldName, newName);
        return;
    }
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
