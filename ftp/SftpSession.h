#pragma once

// The SFTP client behind TFtp when its Protocol is "sftp": libssh runs SSH and SFTP (version 3)
// on a connection this side makes, so name look-ups, time-outs, SOCKS proxies and Abort() work as
// they do for FTP. libssh blocks in poll() on a dup() of the socket; Abort() shuts the socket
// down, which wakes that poll at once and fails the call.

#include "ftp/FtpSocket.h"
#include "ftp/FtpWininet.h"

#include <atomic>
#include <memory>

struct ssh_session_struct;
struct sftp_session_struct;
struct sftp_attributes_struct;

class TSftpSession
{
public:
    explicit TSftpSession(TFtp &owner);
    ~TSftpSession();
    TSftpSession(const TSftpSession &) = delete;
    TSftpSession &operator=(const TSftpSession &) = delete;

    bool Connected() const { return m_connected; }
    bool Lost() const { return m_connected && m_lost; }
    QString SecurityText() const;
    QString HostKeyFingerprint() const { return m_fingerprint; }
    void Connect();
    void Disconnect();
    QString GetCurrentDir();
    void SetCurrentDir(const QString &path);
    void FindFiles(const QString &path, TFtpFileList &list);
    void GetFile(const QString &remoteName, const QString &localName, qint64 size);
    // `from` > 0 writes the rest of the file into what the server holds of it.
    void PutFile(const QString &remoteName, const QString &localName, qint64 from,
                 const std::function<void()> &started);
    qint64 StoredSize(const QString &name); // -1 when it is not there
    void RenameFile(const QString &oldName, const QString &newName);
    void DeleteFile(const QString &name);
    void CreateDir(const QString &name);
    void CreateDirs(const QStringList &names, QStringList &refusals);
    void RemoveDir(const QString &name);
    void Chmod(const QString &fileName, const QString &mode);
    void Abort() { m_canceller.Abort(); }
    TFtp::TStats Stats() const;

private:
    void Close();
    void EnsureReady() const;
    void OpenSocket();
    void CheckHostKey();
    void Authenticate();
    // Raises for the failed call: "Operation aborted", the lost connection, or `what` with the
    // server's status ("Cannot delete /www/a.txt: No such file or folder").
    [[noreturn]] void Fail(const QString &what);
    [[noreturn]] void ChannelFailed(); // aborted, or the connection is lost
    static QString LostText();
    static QString StatusText(int status); // an SFTP status code in words

    // Requests of our own on the SFTP channel (ftp/SftpRequests.cpp) for what libssh 0.10 has no
    // call for: several writes in flight, posix-rename@openssh.com. They are sent only between
    // libssh calls, when libssh awaits no reply, and every reply is read before libssh is called
    // again; their ids come from libssh's own counter, so they never collide.
    struct TReply
    {
        quint8 Type = 0;
        quint32 Id = 0;
        quint32 Status = 0;
        QByteArray Data; // the handle, or the server's message
    };
    quint32 Send(quint8 type, const QByteArray &body);
    TReply Receive(quint32 id); // the reply to `id`, which must be the next one
    void ReadExactly(char *data, qint64 size);
    static QString Refusal(const QString &what, const TReply &reply);
    [[noreturn]] static void Refused(const QString &what, const TReply &reply);
    void PosixRename(const QString &from, const QString &to, const QString &what);
    QString Path(const QString &name) const; // absolute, from the current folder
    QByteArray Wire(const QString &name) const { return Path(name).toUtf8(); }
    void Request(const QString &line);
    void Progress(qint64 bytes);

    TFtp &m_owner;
    TFtpCanceller m_canceller;
    std::unique_ptr<TFtpSocket> m_socket;
    ssh_session_struct *m_ssh = nullptr;
    sftp_session_struct *m_sftp = nullptr;
    bool m_connected = false;
    bool m_lost = false;
    QString m_host;
    quint16 m_port = 22;
    int m_timeout = 0;
    QString m_cwd; // kept here: SFTP has no current folder
    QString m_fingerprint;
    qint64 m_writeChunk = 32 * 1024;
    bool m_posixRename = false; // the server offers posix-rename@openssh.com
    qint64 m_remaining = 0;

    std::atomic<qint64> m_requests{0};
    std::atomic<qint64> m_roundTrips{0};
    std::atomic<qint64> m_connections{0};
};
