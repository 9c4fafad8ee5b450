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
    void PutFile(const QString &remoteName, const QString &localName);
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
    qint64 m_remaining = 0;

    std::atomic<qint64> m_requests{0};
    std::atomic<qint64> m_roundTrips{0};
    std::atomic<qint64> m_connections{0};
};
