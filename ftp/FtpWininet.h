#pragma once

#include "ftp/FtpTls.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// Every failure of an FTP operation: the server's last reply line without its code,
// a short English text for socket, name-lookup and time-out failures, or "Unknown error".
class EFtpError : public std::runtime_error
{
public:
    explicit EFtpError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString Message() const { return m_message; }

private:
    QString m_message;
};

// The server's certificate does not verify and is not the one the user trusts; nothing was
// sent after the TLS handshake. `Changed`: the user trusted another one for this server.
class EFtpCertificateError : public EFtpError
{
public:
    EFtpCertificateError(const QString &message, const TCertificateInfo &certificate, bool changed)
        : EFtpError(message)
        , Certificate(certificate)
        , Changed(changed)
    {
    }
    TCertificateInfo Certificate;
    bool Changed = false;
};

// SFTP: the server's host key is not in known_hosts (Certificate.Fingerprint holds it as
// "SHA256:..." and TFtp::TrustedFingerprint accepts it), or it is not the key known_hosts holds for
// the server (Changed, KnownFingerprint), which is refused whatever is trusted. Nothing was sent.
class EFtpHostKeyError : public EFtpCertificateError
{
public:
    EFtpHostKeyError(const QString &message, const TCertificateInfo &key, bool changed,
                     const QString &knownFingerprint)
        : EFtpCertificateError(message, key, changed)
        , KnownFingerprint(knownFingerprint)
    {
    }
    QString KnownFingerprint;
};

// "auto" on a server that offered TLS before and offers none now: someone on the network may be
// removing it to read the password. Nothing was sent after AUTH TLS.
class EFtpDowngradeError : public EFtpError
{
public:
    using EFtpError::EFtpError;
};

// The server reported success for a transfer that did not happen as a whole: it answered
// without using the data connection, or it holds a shorter file than was sent. Trying the same
// server again at once does not help.
class EFtpIncompleteError : public EFtpError
{
public:
    using EFtpError::EFtpError;
};

class TFtpFile
{
public:
    QString Name;
    qint64 Size = 0;
    QDateTime Date;
    bool IsFolder = false;
    bool ServerOnly = false; // set only by the publishing engine
};

// An owning list of remote entries; FindByName is exact and case-sensitive.
class TFtpFileList
{
public:
    int Count() const { return int(m_items.size()); }
    TFtpFile *Items(int index) const { return m_items[size_t(index)].get(); }
    void Clear();
    TFtpFile *FindByName(const QString &name) const;
    TFtpFile *AddCopy(const TFtpFile &file);
    void Add(std::unique_ptr<TFtpFile> file);
    void Rename(TFtpFile *file, const QString &newName); // keeps the name index right

private:
    std::vector<std::unique_ptr<TFtpFile>> m_items;
    QHash<QString, TFtpFile *> m_byName; // first entry of each name
};

class TFtpSession; // the protocol clients behind TFtp
class TSftpSession;

// One FTP or SFTP connection; every operation is a blocking call on the caller's thread and
// raises EFtpError on failure. Abort() may be called from any thread.
class TFtp
{
public:
    TFtp();
    ~TFtp();
    TFtp(const TFtp &) = delete;
    TFtp &operator=(const TFtp &) = delete;

    // "ftp" (also when empty) or "sftp", taken at Connect. SFTP ignores what only FTP has (Passive,
    // Encryption, ExpectTls, Pipelining, an FTP proxy) and transfers bytes as they are in either
    // mode. It logs in with the password (keyboard-interactive too), then the SSH agent's keys and
    // the user's own in ~/.ssh; the host key must be in ~/.ssh/known_hosts or
    // /etc/ssh/ssh_known_hosts, or be the one TrustedFingerprint names ("SHA256:..."), which
    // is then added to ~/.ssh/known_hosts.
    QString Protocol;
    QString ServerName;
    quint16 ServerPort = 21;
    QString UserName;
    QString Password;
    bool Passive = false;
    int Timeout = 0; // milliseconds; 0 means no limit
    QString Proxy;   // "", "socks=host:port" or "ftp=ftp://host:port"
    // "off", "auto" (TLS when the server offers it, RFC 4217), "require" (TLS or nothing) or
    // "implicit" (TLS from the first byte, as on port 990).
    QString Encryption;
    // A certificate that does not verify but that the user trusts, by its SHA-256 fingerprint.
    QString TrustedFingerprint;
    // SFTP: a host key TrustedFingerprint accepts is added to ~/.ssh/known_hosts; when false it
    // is accepted for this connection only.
    bool RememberHostKey = true;
    // "auto" on a server known to offer TLS: one without it now is refused before the login
    // (EFtpDowngradeError) instead of getting the password in clear.
    bool ExpectTls = false;
    // After an upload, ask the stored size (SIZE or, in ASCII mode, MLST, when the server
    // offers them) and raise EFtpIncompleteError when it is not what was sent: a full quota or
    // a failing disk keeps part of a file and still reports success. In ASCII mode any size the
    // server's line-end conversion can give passes.
    bool VerifyStoredSize = false;
    // Commands whose replies are predictable go out together (RNFR with RNTO, a folder's CWD with
    // the EPSV of its listing, a run of MKDs), and a passive transfer's command goes before its
    // data connection is made; every reply is still read and checked in order. A server or proxy
    // that gets out of step or drops the connection on that clears it for good: the call fails
    // with the session lost, and after a new Connect it sends one command at a time. Off unless
    // the caller can do such a call again.
    bool Pipelining = false;
    // After a rename, ask for the next data connection's port in the same write: set by callers
    // that have more transfers to come. A port left unused goes back with ReleasePassive.
    bool PrefetchPassive = false;
    // SFTP: a key file in ~/.ssh is encrypted and the password does not open it. Called on the
    // connecting thread with the try (0 first; more after a wrong passphrase); true with the
    // passphrase, false to pass the key by.
    std::function<bool(const QString &keyFile, int attempt, QString &passphrase)> OnPassphrase;
    // Opens an encrypted key without asking: the passphrase a session of the same run was given.
    QString KeyPassphrase;
    // Bytes moved by the running transfer; the amounts of one transfer never exceed its size.
    std::function<void(TFtp *sender, qint64 bytes)> OnProgress;

    bool Connected() const;
    // After Connect: whether TLS protects the session, and a line saying how it is connected.
    bool Encrypted() const;
    bool FellBackToPlain() const; // "auto" on a server without TLS
    QString SecurityText() const;
    QString HostKeyFingerprint() const; // "SHA256:…" after an SFTP Connect, else empty
    // The control connection broke or the server closed it (421): only a new Connect helps.
    bool Lost() const;
    void Connect();
    void Disconnect(); // never raises
    QString GetCurrentDir();
    void SetCurrentDir(const QString &path);
    // Lists `path` (made the current folder when not empty) and appends its entries.
    void FindFiles(const QString &path, TFtpFileList &list);
    void GetFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 size);
    // `from` > 0 (where CanResume) goes on with a file the server holds that many bytes of:
    // REST, then STOR of the rest. `started` is called once the server has taken the STOR and
    // so opened (or cut) the file; not for SFTP. A resumed upload's size is left to the caller.
    void PutFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 from = 0,
                 const std::function<void()> &started = {});
    // After Connect: the server takes STOR after REST (FEAT lists "REST STREAM").
    bool CanResume() const;
    // The bytes `name` holds (SIZE in binary mode, else MLST); -1 when it is not there or the
    // server cannot say.
    qint64 StoredSize(const QString &name);
    void RenameFile(const QString &oldName, const QString &newName);
    void DeleteFile(const QString &name);
    void CreateDir(const QString &name);
    // Makes the folders in order; refusals gets the server's refusal of each, empty for one made.
    // Raises only when the connection fails.
    void CreateDirs(const QStringList &names, QStringList &refusals);
    void RemoveDir(const QString &name);
    void Chmod(const QString &fileName, const QString &mode);

    // A port asked for ahead (PrefetchPassive) and not used yet; some servers give up such a
    // port after a while with a reply of their own, so an idle session gives it back.
    bool HasPrefetchedPassive() const;
    void ReleasePassive(); // never raises

    // Thread-safe: makes the blocked call (and every later one until Disconnect) fail at once.
    void Abort();

    // Wire statistics for benchmarks and tests.
    struct TStats
    {
        qint64 Commands = 0;
        // Waits for the server: replies to what was sent since the last reply (a batch of
        // commands counts once) and the connecting of data connections made before their
        // command was sent.
        qint64 RoundTrips = 0;
        qint64 Connections = 0; // control and data connections opened
    };
    TStats Stats() const;
    // Every command line sent (the password is masked), and every reply line received.
    std::function<void(const QString &line)> OnCommand;
    std::function<void(const QString &line)> OnReply;
    // A listed entry that FindFiles dropped because its name ("", ".", "..", or one holding "/" or
    // a NUL once made folder-relative) could lead a local path out of its folder; the name as
    // listed.
    std::function<void(const QString &rawName)> OnSkippedEntry;
    // A listing FindFiles read held lines no listing form explains: how many, and the first one
    // escaped for a log (UnreadLinesText makes the line to show).
    std::function<void(int count, const QString &firstLine)> OnUnreadLines;

private:
    // Calls `call` with the session of the protocol in use.
    template <typename TCall> decltype(auto) Use(TCall &&call) const
    {
        return m_useSftp ? call(*m_sftp) : call(*m_session);
    }

    std::unique_ptr<TFtpSession> m_session;
    std::unique_ptr<TSftpSession> m_sftp;
    bool m_useSftp = false; // the protocol of the last Connect
};
