#pragma once

// The protocol client behind TFtp: one control connection (RFC 959), passive data connections
// with EPSV (RFC 2428) or PASV, active ones with EPRT or PORT, MLSD listings (RFC 3659) when the
// server offers them, and proxies.

#include "ftp/FtpLineEnds.h"
#include "ftp/FtpProxy.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpSocket.h"
#include "ftp/FtpWininet.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The server refused a command with a 4xx or 5xx reply; the control connection is still in step.
class EFtpReplyError : public EFtpError
{
public:
    EFtpReplyError(int code, const QString &message)
        : EFtpError(message)
        , Code(code)
    {
    }
    int Code = 0;
};

class TFtpSession
{
public:
    explicit TFtpSession(TFtp &owner);
    ~TFtpSession();
    TFtpSession(const TFtpSession &) = delete;
    TFtpSession &operator=(const TFtpSession &) = delete;

    bool Connected() const { return m_connected; }
    bool Lost() const { return m_connected && m_lost; }
    bool Encrypted() const { return m_tls; }
    bool FellBackToPlain() const { return m_plainFallback; }
    QString TlsVersion() const { return m_control ? m_control->TlsVersion() : QString(); }
    void Connect();
    void Disconnect();
    QString GetCurrentDir();
    void SetCurrentDir(const QString &path);
    void FindFiles(const QString &path, TFtpFileList &list);
    void GetFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 size);
    void PutFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 from,
                 const std::function<void()> &started);
    bool CanResume() const { return m_connected && m_restStream; }
    qint64 StoredSize(const QString &name);
    void RenameFile(const QString &oldName, const QString &newName);
    void DeleteFile(const QString &name);
    void CreateDir(const QString &name);
    void CreateDirs(const QStringList &names, QStringList &refusals);
    bool HasPrefetchedPassive() const { return m_prefetchedPort != 0; }
    void ReleasePassive();
    void RemoveDir(const QString &name);
    void Chmod(const QString &fileName, const QString &mode);
    void Abort() { m_canceller.Abort(); }
    TFtp::TStats Stats() const;
    qint64 Remaining() const { return m_remaining; }

private:
    struct TDataChannel;
    using TBody = std::function<void(TFtpSocket &data)>;

    void EnsureReady() const;
    void CloseControl();
    void LoseControl();
    void OpenControl();
    void ConnectThroughSocks(TFtpSocket &socket, quint16 port);
    void StartControlTls(bool required); // AUTH TLS, before the login
    void SecureControl();                // the handshake and the certificate check
    void Login();
    void ReadFeatures();

    void Send(const QString &line) { SendAll({line}); }
    void SendAll(const QStringList &lines); // in one write
    TFtpReply Reply();
    TFtpReply Command(const QString &line);
    void Simple(const QString &line); // a command that must complete (2xx)
    [[noreturn]] void Refused(const TFtpReply &reply);

    // Pipelining (TFtp::Pipelining): `fits` tells whether a reply can answer the line at `index`.
    using TFits = std::function<bool(qsizetype index, const TFtpReply &reply)>;
    bool Pipelined() const { return m_owner.Pipelining; }
    // Fits a command that ends with a completion or a refusal (never a passive port's reply).
    static bool CompletesCommand(qsizetype index, const TFtpReply &reply);
    // Sends `lines` in one write, with an EPSV (or PASV) whose port is kept for the next data
    // connection when `passive` asks for one, and reads every reply in order.
    std::vector<TFtpReply> Batch(const QStringList &lines, const TFits &fits, bool passive);
    [[noreturn]] void OutOfStep();
    void RenameTogether(const QString &oldName, const QString &newName);
    void StopPipelining(); // for good, after the server mishandled it

    void SetType(char type);
    void SetTypeNow(char type); // not left to go with the next transfer's command
    quint16 PassivePort();      // the port asked for ahead, else EPSV or PASV now
    // The port of an EPSV (229) or PASV (227) reply; 0 for a refused EPSV (m_epsvRefused set).
    quint16 TakePassiveReply(const TFtpReply &reply, bool extended);
    void OpenActive(TDataChannel &channel);

    // Keeps a passive port for the next transfer; on a server that takes data connections only
    // with a transfer command, the connection is started now so its handshake overlaps the
    // commands before that transfer.
    void KeepPort(quint16 port);
    // Keeps the port an EPSV or PASV asked ahead names; a refused EPSV turns to PASV.
    void KeepPortOf(const TFtpReply &reply, bool extended);
    void DropPort();
    void ConnectData(TFtpSocket &socket, quint16 port);
    // Accepts the server's data connection; `completed` tells that the final reply came already.
    void AcceptData(TDataChannel &channel, bool &completed);
    // Runs `command` over a data connection. False when a file transfer did not happen although
    // the server reported success: it answered without a data connection, or (an upload) before
    // it had received the data. A listing answered without one is empty.
    // `sizeAfter`: a file whose SIZE a strict-order server is asked right after the data; the
    // reply lands in m_sizeAfter.
    enum class TTransfer { Listing, Download, Upload };
    bool RunTransfer(const QString &command, const TBody &body, TTransfer kind = TTransfer::Listing,
                     const QString &sizeAfter = QString());
    // Reads the replies to commands sent after a transfer's data (SIZE, EPSV or PASV).
    void ReadAfterTransfer(const QStringList &after);
    // An upload's body calls it once it has sent data ahead of the server's first reply.
    void AwaitStart();
    // After a STOR: raises when the server holds another size than was sent. `known` is a SIZE
    // reply already read.
    void VerifyStored(const QString &remoteName, const QString &localName, const TLineEnds &sent,
                      bool ascii, const TFtpReply *known = nullptr);
    QByteArray FetchListing(const QString &command);
    TTlsSession DataSession() const;

    void Progress(qint64 bytes);
    void RequestEvent(qint64 bytes);

    TFtp &m_owner;
    TFtpCanceller m_canceller;
    std::unique_ptr<TFtpSocket> m_control;
    QByteArray m_controlBuffer;
    TSockAddr m_controlPeer;
    bool m_connected = false;
    bool m_lost = false; // the control connection broke: every operation raises

    // Settings taken at Connect.
    QString m_host;
    quint16 m_port = 21;
    bool m_passive = false;
    int m_timeout = 0;
    TFtpProxy m_proxy;
    std::vector<TSockAddr> m_proxyAddresses;
    int m_socksVersion = 0; // 0 until a SOCKS handshake succeeded

    // What the server offers and refuses.
    bool m_mlst = false;
    bool m_utf8 = false;
    bool m_size = false;       // SIZE (RFC 3659)
    bool m_restStream = false; // REST before STOR (RFC 3659)
    bool m_epsvRefused = false;
    bool m_eprtRefused = false;
    bool m_listAllRefused = false;
    // The server takes a passive data connection only when the transfer command comes, and reads
    // no command while a transfer runs (vsftpd): data may go ahead of the first reply, and the
    // next commands before the final one.
    bool m_strictOrder = false;
    char m_type = 0;     // the last TYPE sent: 'A', 'I' or none
    char m_wantType = 0; // to go with the next passive transfer's command
    bool m_tls = false;
    bool m_plainFallback = false;
    // The session data connections resume (a copy of it each time): the newest ticket the
    // server handed out, null for the control connection's own.
    TTlsSession m_dataSession;

    quint16 m_prefetchedPort = 0;
    std::unique_ptr<TFtpSocket> m_preconnected; // to m_prefetchedPort, the handshake under way
    std::function<void()> m_startPending;       // reads the first reply of a transfer sent ahead
    std::optional<TFtpReply> m_sizeAfter;
    std::function<void()> m_onStarted; // an upload's: the server took its command
    bool m_unanswered = false;         // something was sent since the last reply

    // Progress of the running transfer.
    qint64 m_remaining = 0;
    bool m_inTransfer = false;

    std::atomic<qint64> m_commands{0};
    std::atomic<qint64> m_roundTrips{0};
    std::atomic<qint64> m_connections{0};
};
