#include "ftp/SftpSession.h"

#include "ftp/FtpProgress.h"

#include "ftp/FtpListParser.h"
#include "ftp/FtpProxy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <utility>

namespace {

constexpr uint32_t ReadChunk = 64 * 1024;
constexpr int ReadsInFlight = 16;
// Every server takes writes of 32 KiB; OpenSSH (which announces limits@openssh.com) takes
// messages up to 256 KiB, so one write request carries more there.
constexpr qint64 LargeWriteChunk = 64 * 1024;

// A passphrase question for libssh's callback: the owner's OnPassphrase answers it.
struct TPassphraseQuestion
{
    TFtp &Owner;
    QString File;
    int Attempt = 0;
    bool Asked = false;
    bool Refused = false; // no passphrase given: the key is passed by
};

int AskPassphrase(const char *, char *buffer, size_t length, int, int, void *userdata)
{
    auto *question = static_cast<TPassphraseQuestion *>(userdata);
    question->Asked = true;
    QString passphrase;
    question->Refused
        = !question->Owner.OnPassphrase
          || !question->Owner.OnPassphrase(question->File, question->Attempt, passphrase);
    if (question->Refused)
        return -1;
    const QByteArray bytes = passphrase.toUtf8();
    if (size_t(bytes.size()) >= length)
        return -1;
    qstrncpy(buffer, bytes.constData(), length);
    return 0;
}

} // namespace

QString TSftpSession::LostText()
{
    return QStringLiteral("Connection to the server lost");
}

QString TSftpSession::StatusText(int status)
{
    switch (status) {
    case SSH_FX_EOF:
        return QStringLiteral("Unexpected end of file");
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
        return QStringLiteral("No such file or folder");
    case SSH_FX_PERMISSION_DENIED:
        return QStringLiteral("Permission denied");
    case SSH_FX_OP_UNSUPPORTED:
        return QStringLiteral("The server does not support this operation");
    case SSH_FX_FILE_ALREADY_EXISTS:
        return QStringLiteral("The name exists already");
    case SSH_FX_WRITE_PROTECT:
        return QStringLiteral("The server's file system is read-only");
    case SSH_FX_BAD_MESSAGE:
        return QStringLiteral("The server did not understand the request");
    default:
        return QStringLiteral("The server refused it (failure)");
    }
}

namespace {

// "SHA256:..." as ssh prints it; empty when the key cannot be hashed.
QString Fingerprint(ssh_key key)
{
    unsigned char *hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0)
        return {};
    char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    const QString result = QString::fromLatin1(text);
    ssh_string_free_char(text);
    return result;
}

// The fingerprints known_hosts files hold for host and port, as ssh matches them (hashed names
// too).
QStringList KnownFingerprints(const QString &host, quint16 port)
{
    const QByteArray name
        = (port == 22 ? host : QStringLiteral("[%1]:%2").arg(host).arg(port)).toUtf8();
    QStringList found;
    for (const QString &path : {QDir::homePath() + QStringLiteral("/.ssh/known_hosts"),
                                QStringLiteral("/etc/ssh/ssh_known_hosts")}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            ssh_knownhosts_entry *entry = nullptr;
            const QByteArray text = line.trimmed();
            if (text.isEmpty() || text.startsWith('#'))
                continue;
            if (ssh_known_hosts_parse_line(name.constData(), text.constData(), &entry) == SSH_OK
                && entry && entry->publickey)
                found << Fingerprint(entry->publickey);
            ssh_knownhosts_entry_free(entry);
        }
    }
    return found;
}

// Folders resolved by name, as a shell would: "." dropped, ".." takes one back.
QString Normalized(const QString &path)
{
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            parts.removeLast();
        else if (part != QLatin1String("."))
            parts << part;
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

struct TAttributes
{
    sftp_attributes Value = nullptr;
    ~TAttributes()
    {
        if (Value)
            sftp_attributes_free(Value);
    }
};

struct TRemoteFile
{
    sftp_file Value = nullptr;
    ~TRemoteFile()
    {
        if (Value)
            sftp_close(Value);
    }
    int Close() { return sftp_close(std::exchange(Value, nullptr)); }
};

} // namespace

TSftpSession::TSftpSession(TFtp &owner)
    : m_owner(owner)
{
}

TSftpSession::~TSftpSession()
{
    Close();
}

TFtp::TStats TSftpSession::Stats() const
{
    TFtp::TStats stats;
    stats.Commands = m_requests.load();
    stats.RoundTrips = m_roundTrips.load();
    stats.Connections = m_connections.load();
    return stats;
}

QString TSftpSession::SecurityText() const
{
    if (!m_ssh)
        return QStringLiteral("the connection is not encrypted");
    return QStringLiteral("connected with SSH (%1), host key %2")
        .arg(QString::fromLatin1(ssh_get_cipher_out(m_ssh)), m_fingerprint);
}

void TSftpSession::Close()
{
    if (m_sftp)
        sftp_free(std::exchange(m_sftp, nullptr));
    if (m_ssh) {
        if (!m_lost && !m_canceller.Aborted() && ssh_is_connected(m_ssh))
            ssh_disconnect(m_ssh);
        ssh_free(std::exchange(m_ssh, nullptr)); // closes its copy of the socket
    }
    if (m_socket)
        m_socket->Close();
    m_socket.reset();
}

void TSftpSession::EnsureReady() const
{
    m_canceller.ThrowIfAborted();
    if (!m_connected || !m_sftp)
        ThrowFtpError(QStringLiteral("Not connected"));
    if (m_lost)
        ThrowFtpError(LostText());
}

void TSftpSession::Fail(const QString &what)
{
    if (m_canceller.Aborted())
        ThrowFtpError(FtpText::Aborted());
    const int status = m_sftp ? sftp_get_error(m_sftp) : SSH_FX_OK;
    if (!m_ssh || !ssh_is_connected(m_ssh) || status == SSH_FX_OK
        || status == SSH_FX_CONNECTION_LOST || status == SSH_FX_NO_CONNECTION)
        ChannelFailed();
    ThrowFtpError(what + QStringLiteral(": ") + StatusText(status));
}

void TSftpSession::ChannelFailed()
{
    if (m_canceller.Aborted())
        ThrowFtpError(FtpText::Aborted());
    // A failure below SFTP: the session cannot go on.
    m_lost = true;
    const QString cause = m_ssh ? QString::fromUtf8(ssh_get_error(m_ssh)) : QString();
    ThrowFtpError(cause.isEmpty() ? LostText() : QStringLiteral("%1 (%2)").arg(LostText(), cause));
}

QString TSftpSession::Path(const QString &name) const
{
    if (name.contains(QChar(u'\0')))
        ThrowFtpError(QStringLiteral("Invalid character in a name"));
    if (name.startsWith(QLatin1Char('/')))
        return name;
    return m_cwd.endsWith(QLatin1Char('/')) ? m_cwd + name : m_cwd + QLatin1Char('/') + name;
}

void TSftpSession::Request(const QString &line)
{
    ++m_requests;
    ++m_roundTrips;
    if (m_owner.OnCommand)
        m_owner.OnCommand(line);
}

void TSftpSession::Progress(qint64 bytes)
{
    ReportTransferProgress(m_owner, m_remaining, bytes);
}

// --- connecting -------------------------------------------------------------------------------

void TSftpSession::OpenSocket()
{
    const TFtpProxy proxy = ParseProxy(m_owner.Proxy);
    if (proxy.Kind == TFtpProxy::Ftp)
        ThrowFtpError(QStringLiteral("An FTP proxy cannot carry SFTP: use a SOCKS proxy or none"));
    m_socket = std::make_unique<TFtpSocket>(m_canceller);
    if (proxy.Kind == TFtpProxy::None) {
        m_socket->Connect(ResolveHost(m_host, m_port, AF_UNSPEC, m_timeout, m_canceller),
                          m_timeout);
    } else {
        const auto proxies = ResolveHost(proxy.Host, proxy.Port, AF_UNSPEC, m_timeout, m_canceller);
        m_socket->Connect(proxies, m_timeout);
        try {
            Socks5Connect(*m_socket, m_host, m_port, m_timeout);
        } catch (const ESocksVersionRefused &) {
            m_socket->Close();
            m_socket->Connect(proxies, m_timeout);
            Socks4Connect(*m_socket, m_canceller, m_host, m_port, m_timeout);
        }
    }
    m_socket->SetNoDelay();
    ++m_connections;
}

void TSftpSession::CheckHostKey()
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(m_ssh, &key) != SSH_OK)
        Fail(QStringLiteral("The server sent no host key"));
    m_fingerprint = Fingerprint(key);
    TCertificateInfo info;
    info.Subject = QStringLiteral("%1 port %2").arg(m_host).arg(m_port);
    info.Issuer = QString::fromLatin1(ssh_key_type_to_char(ssh_key_type(key)));
    info.Fingerprint = m_fingerprint;
    ssh_key_free(key);

    const ssh_known_hosts_e state = ssh_session_is_known_server(m_ssh);
    if (state == SSH_KNOWN_HOSTS_OK)
        return;
    if (state == SSH_KNOWN_HOSTS_CHANGED || state == SSH_KNOWN_HOSTS_OTHER) {
        const QString known = KnownFingerprints(m_host, m_port).join(QStringLiteral(", "));
        info.Problem = QStringLiteral("the host key has changed");
        throw EFtpHostKeyError(
            QStringLiteral("The server's host key has changed: known_hosts holds the key with the "
                           "SHA-256 fingerprint %1 for %2, the server shows %3. It may not be your "
                           "server; nothing was sent. If the key was changed on purpose, remove "
                           "the old one from ~/.ssh/known_hosts")
                .arg(known.isEmpty() ? QStringLiteral("(another type)") : known, info.Subject,
                     m_fingerprint),
            info, true, known);
    }
    if (state == SSH_KNOWN_HOSTS_ERROR)
        Fail(QStringLiteral("The known hosts file cannot be read"));
    // "SHA256:..." as ssh prints it; the base64 alone is taken too.
    QString trusted = m_owner.TrustedFingerprint.trimmed();
    if (!trusted.isEmpty() && !trusted.startsWith(QLatin1String("SHA256:")))
        trusted.prepend(QLatin1String("SHA256:"));
    if (m_fingerprint.isEmpty() || trusted != m_fingerprint) {
        info.Problem = QStringLiteral("the host key is not in known_hosts");
        throw EFtpHostKeyError(
            QStringLiteral("The server's host key is unknown (not in known_hosts): SHA-256 "
                           "fingerprint %1")
                .arg(m_fingerprint),
            info, false, {});
    }
    // Trusted by the user: remembered as ssh would, so other SSH programs know it too. Failing
    // that, the trust still holds for this connection.
    if (!m_owner.RememberHostKey)
        return;
    const QString folder = QDir::homePath() + QStringLiteral("/.ssh");
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ssh_session_update_known_hosts(m_ssh);
}

void TSftpSession::Authenticate()
{
    if (ssh_userauth_none(m_ssh, nullptr) == SSH_AUTH_SUCCESS)
        return;
    const int methods = ssh_userauth_list(m_ssh, nullptr);
    const QByteArray password = m_owner.Password.toUtf8();
    QStringList tried;
    if (!password.isEmpty() && (methods & SSH_AUTH_METHOD_PASSWORD)) {
        tried << QStringLiteral("password");
        if (ssh_userauth_password(m_ssh, nullptr, password.constData()) == SSH_AUTH_SUCCESS)
            return;
    }
    if (!password.isEmpty() && (methods & SSH_AUTH_METHOD_INTERACTIVE)) {
        tried << QStringLiteral("keyboard-interactive");
        int rc = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
        // Every hidden prompt gets the password; a server that asks more than a few rounds is
        // after something else.
        for (int round = 0; rc == SSH_AUTH_INFO && round < 4; ++round) {
            const int prompts = ssh_userauth_kbdint_getnprompts(m_ssh);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(m_ssh, unsigned(i), &echo);
                ssh_userauth_kbdint_setanswer(m_ssh, unsigned(i), echo ? "" : password.constData());
            }
            rc = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
        }
        if (rc == SSH_AUTH_SUCCESS)
            return;
    }
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        // The agent's keys first, then the user's own, a passphrase being the password. (libssh's
        // ssh_userauth_publickey_auto would write a missing id_*.pub into ~/.ssh.)
        if (qEnvironmentVariableIsSet("SSH_AUTH_SOCK")) {
            tried << QStringLiteral("the SSH agent's keys");
            if (ssh_userauth_agent(m_ssh, nullptr) == SSH_AUTH_SUCCESS)
                return;
        }
        for (const char *name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
            const QString file = QDir::homePath() + QStringLiteral("/.ssh/") + QLatin1String(name);
            const QByteArray path = QFile::encodeName(file);
            ssh_key key = nullptr;
            if (!QFile::exists(file))
                continue;
            int imported = SSH_ERROR;
            for (const QByteArray &given : {password, m_owner.KeyPassphrase.toUtf8()}) {
                if (imported != SSH_OK && !given.isEmpty())
                    imported = ssh_pki_import_privkey_file(path.constData(), given.constData(),
                                                           nullptr, nullptr, &key);
            }
            // libssh asks for a passphrase only when the key is encrypted.
            TPassphraseQuestion question{m_owner, file};
            for (; imported != SSH_OK && question.Attempt < 3; ++question.Attempt) {
                question.Asked = false;
                imported = ssh_pki_import_privkey_file(path.constData(), nullptr, AskPassphrase,
                                                       &question, &key);
                if (!question.Asked || question.Refused)
                    break;
            }
            if (imported != SSH_OK)
                continue;
            tried << QStringLiteral("~/.ssh/") + QLatin1String(name);
            const int rc = ssh_userauth_publickey(m_ssh, nullptr, key);
            ssh_key_free(key);
            if (rc == SSH_AUTH_SUCCESS)
                return;
            if (rc == SSH_AUTH_ERROR)
                break;
        }
    }
    if (m_canceller.Aborted())
        ThrowFtpError(FtpText::Aborted());
    if (!ssh_is_connected(m_ssh))
        Fail(QString());
    ThrowFtpError(tried.isEmpty()
                      ? QStringLiteral("Login refused: the server offers no way to log in that is "
                                       "possible here (a password is needed)")
                      : QStringLiteral("Login refused for %1 (tried: %2)")
                            .arg(m_owner.UserName, tried.join(QStringLiteral(", "))));
}

void TSftpSession::Connect()
{
    m_canceller.ThrowIfAborted();
    Close();
    m_connected = m_lost = false;
    m_fingerprint.clear();
    m_host = m_owner.ServerName.trimmed();
    m_port = m_owner.ServerPort;
    m_timeout = qMax(0, m_owner.Timeout);
    try {
        OpenSocket();
        m_ssh = ssh_new();
        if (!m_ssh)
            ThrowFtpError(FtpText::Unknown());
        const int fd = ::fcntl(m_socket->Descriptor(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            ThrowFtpError(SocketErrorText(errno));
        ssh_options_set(m_ssh, SSH_OPTIONS_FD, &fd);
        // HOME, not the password database: tests and sandboxes point it elsewhere.
        const QByteArray sshDir = QFile::encodeName(QDir::homePath() + QStringLiteral("/.ssh"));
        const QByteArray knownHosts = sshDir + "/known_hosts";
        const bool no = false;
        const bool yes = true;
        ssh_options_set(m_ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);
        ssh_options_set(m_ssh, SSH_OPTIONS_SSH_DIR, sshDir.constData());
        ssh_options_set(m_ssh, SSH_OPTIONS_KNOWNHOSTS, knownHosts.constData());
        ssh_options_set(m_ssh, SSH_OPTIONS_NODELAY, &yes);
        ssh_options_set(m_ssh, SSH_OPTIONS_HOST, m_host.toUtf8().constData());
        const unsigned int port = m_port;
        ssh_options_set(m_ssh, SSH_OPTIONS_PORT, &port);
        if (!m_owner.UserName.isEmpty())
            ssh_options_set(m_ssh, SSH_OPTIONS_USER, m_owner.UserName.toUtf8().constData());
        if (m_timeout > 0) {
            const long seconds = m_timeout / 1000;
            const long micros = long(m_timeout % 1000) * 1000;
            ssh_options_set(m_ssh, SSH_OPTIONS_TIMEOUT, &seconds);
            ssh_options_set(m_ssh, SSH_OPTIONS_TIMEOUT_USEC, &micros);
        }
        ++m_roundTrips;
        if (ssh_connect(m_ssh) != SSH_OK) {
            m_canceller.ThrowIfAborted();
            ThrowFtpError(QStringLiteral("The SSH connection to %1 failed: %2")
                              .arg(m_host, QString::fromUtf8(ssh_get_error(m_ssh))));
        }
        CheckHostKey();
        Authenticate();
        m_sftp = sftp_new(m_ssh);
        if (!m_sftp || sftp_init(m_sftp) != SSH_OK) {
            if (m_canceller.Aborted() || !ssh_is_connected(m_ssh))
                Fail(QString());
            ThrowFtpError(QStringLiteral("The server offers no SFTP: %1")
                              .arg(QString::fromUtf8(ssh_get_error(m_ssh))));
        }
        m_writeChunk = sftp_extension_supported(m_sftp, "limits@openssh.com", "1") ? LargeWriteChunk
                                                                                   : 32 * 1024;
        m_posixRename = sftp_extension_supported(m_sftp, "posix-rename@openssh.com", "1");
        Request(QStringLiteral("REALPATH ."));
        char *home = sftp_canonicalize_path(m_sftp, ".");
        if (!home)
            Fail(QStringLiteral("The login folder cannot be found"));
        m_cwd = QString::fromUtf8(home);
        ssh_string_free_char(home);
        m_connected = true;
    } catch (...) {
        Close();
        m_lost = false;
        throw;
    }
}

void TSftpSession::Disconnect()
{
    Close();
    m_connected = false;
    m_lost = false;
    m_canceller.Reset();
}

// --- folders ----------------------------------------------------------------------------------

QString TSftpSession::GetCurrentDir()
{
    EnsureReady();
    return m_cwd;
}

void TSftpSession::SetCurrentDir(const QString &path)
{
    EnsureReady();
    const QString target = Normalized(Path(path));
    Request(QStringLiteral("STAT ") + target);
    TAttributes attributes{sftp_stat(m_sftp, target.toUtf8().constData())};
    if (!attributes.Value)
        Fail(QStringLiteral("Cannot change to the folder ") + target);
    if (attributes.Value->type != SSH_FILEXFER_TYPE_DIRECTORY)
        ThrowFtpError(
            QStringLiteral("Cannot change to the folder %1: it is not a folder").arg(target));
    m_cwd = target;
}

void TSftpSession::FindFiles(const QString &path, TFtpFileList &list)
{
    EnsureReady();
    // The folder is opened straight away (one round trip less); only when that fails does a
    // STAT tell why. A folder that can be entered but not read lists as empty, as with FTP.
    const QString target = path.isEmpty() ? m_cwd : Normalized(Path(path));
    Request(QStringLiteral("OPENDIR ") + target);
    sftp_dir dir = sftp_opendir(m_sftp, target.toUtf8().constData());
    if (!dir) {
        const QString what = QStringLiteral("Cannot list the folder ") + target;
        if (m_canceller.Aborted() || !ssh_is_connected(m_ssh))
            Fail(what);
        const int status = sftp_get_error(m_sftp);
        SetCurrentDir(target);
        if (status == SSH_FX_PERMISSION_DENIED)
            return;
        ThrowFtpError(what + QStringLiteral(": ") + StatusText(status));
    }
    m_cwd = target;
    struct TDir
    {
        sftp_dir Value;
        ~TDir() { sftp_closedir(Value); }
    } closer{dir};
    for (;;) {
        TAttributes entry{sftp_readdir(m_sftp, dir)};
        if (!entry.Value) {
            if (sftp_dir_eof(dir))
                break;
            Fail(QStringLiteral("Cannot list the folder ") + m_cwd);
        }
        const QString name = QString::fromUtf8(entry.Value->name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (IsHostileName(name)) {
            if (m_owner.OnSkippedEntry)
                m_owner.OnSkippedEntry(name);
            continue;
        }
        auto file = std::make_unique<TFtpFile>();
        file->Name = name;
        // A link is a file, as in FTP listings: it is replaced or deleted itself, never entered.
        file->IsFolder = entry.Value->type == SSH_FILEXFER_TYPE_DIRECTORY;
        file->Size = file->IsFolder ? 0 : qint64(entry.Value->size);
        if (entry.Value->flags & SSH_FILEXFER_ATTR_ACMODTIME)
            file->Date = QDateTime::fromSecsSinceEpoch(qint64(entry.Value->mtime));
        list.Add(std::move(file));
    }
}

void TSftpSession::CreateDir(const QString &name)
{
    EnsureReady();
    const QString path = Path(name);
    Request(QStringLiteral("MKDIR ") + path);
    if (sftp_mkdir(m_sftp, path.toUtf8().constData(), 0755) != 0)
        Fail(QStringLiteral("Cannot make the folder ") + path);
}

void TSftpSession::CreateDirs(const QStringList &names, QStringList &refusals)
{
    refusals.clear();
    for (const QString &name : names) {
        try {
            CreateDir(name);
            refusals << QString();
        } catch (const EFtpError &error) {
            if (m_lost || m_canceller.Aborted() || !m_connected)
                throw;
            refusals << error.Message();
        }
    }
}

void TSftpSession::RemoveDir(const QString &name)
{
    EnsureReady();
    const QString path = Path(name);
    Request(QStringLiteral("RMDIR ") + path);
    if (sftp_rmdir(m_sftp, path.toUtf8().constData()) != 0)
        Fail(QStringLiteral("Cannot remove the folder ") + path);
}

// --- files ------------------------------------------------------------------------------------

void TSftpSession::DeleteFile(const QString &name)
{
    EnsureReady();
    const QString path = Path(name);
    Request(QStringLiteral("REMOVE ") + path);
    if (sftp_unlink(m_sftp, path.toUtf8().constData()) != 0)
        Fail(QStringLiteral("Cannot delete ") + path);
}

void TSftpSession::RenameFile(const QString &oldName, const QString &newName)
{
    EnsureReady();
    const QByteArray from = Wire(oldName);
    const QByteArray to = Wire(newName);
    const QString what = QStringLiteral("Cannot rename %1 to %2").arg(Path(oldName), Path(newName));
    Request(QStringLiteral("RENAME %1 %2").arg(Path(oldName), Path(newName)));
    // Over an existing file only with posix-rename@openssh.com: SFTP 3 renames to a free name
    // alone, and the safe upload deletes the live file itself once the copy is known whole.
    if (m_posixRename)
        PosixRename(Path(oldName), Path(newName), what);
    else if (sftp_rename(m_sftp, from.constData(), to.constData()) != 0)
        Fail(what);
}

void TSftpSession::Chmod(const QString &fileName, const QString &mode)
{
    EnsureReady();
    bool ok = false;
    const uint bits = mode.trimmed().toUInt(&ok, 8);
    if (!ok || bits > 07777)
        ThrowFtpError(QStringLiteral("Invalid permissions \"%1\" for %2").arg(mode, fileName));
    const QString path = Path(fileName);
    Request(QStringLiteral("SETSTAT %1 %2").arg(path, mode));
    if (sftp_chmod(m_sftp, path.toUtf8().constData(), mode_t(bits)) != 0)
        Fail(QStringLiteral("Cannot change the permissions of ") + path);
}

void TSftpSession::GetFile(const QString &remoteName, const QString &localName, qint64 size)
{
    EnsureReady();
    m_remaining = size;
    const QString path = Path(remoteName);
    // Written under a temporary name and put in place only when whole; an existing file keeps
    // its permissions.
    QSaveFile target(localName);
    if (!target.open(QIODevice::WriteOnly))
        ThrowFtpError(QStringLiteral("Cannot write %1: %2").arg(localName, target.errorString()));
    Request(QStringLiteral("OPEN ") + path);
    TRemoteFile file{sftp_open(m_sftp, path.toUtf8().constData(), O_RDONLY, 0)};
    if (!file.Value)
        Fail(QStringLiteral("Cannot download ") + path);
    const QString what = QStringLiteral("Cannot download ") + path;
    // Several reads in flight, so a file does not cost a round trip per block. A short read
    // before the end (rare; servers may send less) restarts the window at the offset reached.
    std::deque<int> pending;
    std::vector<char> buffer(ReadChunk);
    quint64 offset = 0;
    bool atEnd = false;
    const auto drain = [&] {
        for (const int id : pending)
            sftp_async_read(file.Value, buffer.data(), ReadChunk, uint32_t(id));
        pending.clear();
    };
    try {
        while (!atEnd || !pending.empty()) {
            while (!atEnd && int(pending.size()) < ReadsInFlight) {
                const int id = sftp_async_read_begin(file.Value, ReadChunk);
                if (id < 0)
                    Fail(what);
                ++m_requests;
                pending.push_back(id);
            }
            const int id = pending.front();
            pending.pop_front();
            const int got = sftp_async_read(file.Value, buffer.data(), ReadChunk, uint32_t(id));
            if (got < 0)
                Fail(what);
            if (got == 0) {
                atEnd = true;
                drain();
                break;
            }
            if (target.write(buffer.data(), got) != got)
                ThrowFtpError(
                    QStringLiteral("Cannot write %1: %2").arg(localName, target.errorString()));
            offset += quint64(got);
            Progress(got);
            if (uint32_t(got) < ReadChunk && !pending.empty()) {
                drain();
                sftp_seek64(file.Value, offset);
            }
        }
    } catch (...) {
        if (!m_lost && !m_canceller.Aborted())
            drain();
        target.cancelWriting();
        throw;
    }
    if (file.Close() != 0)
        Fail(what);
    if (!target.commit())
        ThrowFtpError(QStringLiteral("Cannot write %1: %2").arg(localName, target.errorString()));
}
