#include "ftp/FtpWininet.h"

#include "ftp/FtpSession.h"
#include "ftp/SftpSession.h"

// --- TFtpFileList -----------------------------------------------------------------------------

void TFtpFileList::Clear()
{
    m_byName.clear();
    m_items.clear();
}

TFtpFile *TFtpFileList::FindByName(const QString &name) const
{
    return m_byName.value(name, nullptr);
}

TFtpFile *TFtpFileList::AddCopy(const TFtpFile &file)
{
    auto copy = std::make_unique<TFtpFile>();
    copy->Name = file.Name;
    copy->Size = file.Size;
    copy->Date = file.Date;
    copy->IsFolder = file.IsFolder;
    copy->ServerOnly = false;
    TFtpFile *result = copy.get();
    Add(std::move(copy));
    return result;
}

void TFtpFileList::Add(std::unique_ptr<TFtpFile> file)
{
    TFtpFile *item = file.get();
    m_items.push_back(std::move(file));
    if (!m_byName.contains(item->Name))
        m_byName.insert(item->Name, item);
}

void TFtpFileList::Rename(TFtpFile *file, const QString &newName)
{
    const QString oldName = file->Name;
    file->Name = newName;
    // The index holds the first entry of each name: recompute both names involved.
    for (const QString &name : {oldName, newName}) {
        m_byName.remove(name);
        for (const auto &item : m_items) {
            if (item->Name == name) {
                m_byName.insert(name, item.get());
                break;
            }
        }
    }
}

// --- TFtp -------------------------------------------------------------------------------------

TFtp::TFtp()
    : m_session(std::make_unique<TFtpSession>(*this))
    , m_sftp(std::make_unique<TSftpSession>(*this))
{
}

TFtp::~TFtp()
{
    // The owner's handlers may already be half gone.
    OnProgress = nullptr;
    OnCommand = nullptr;
    OnReply = nullptr;
    OnSkippedEntry = nullptr;
    OnUnreadLines = nullptr;
    Disconnect();
}

bool TFtp::Connected() const
{
    return Use([&](auto &session) { return session.Connected(); });
}

bool TFtp::Encrypted() const
{
    return !m_useSftp && m_session->Encrypted(); // TLS; SSH says so in SecurityText
}

bool TFtp::FellBackToPlain() const
{
    return !m_useSftp && m_session->FellBackToPlain();
}

QString TFtp::SecurityText() const
{
    if (m_useSftp)
        return m_sftp->SecurityText();
    if (Encrypted())
        return QStringLiteral("connected with ") + m_session->TlsVersion();
    if (FellBackToPlain())
        return QStringLiteral("the connection is not encrypted: the server offers no TLS, so the "
                              "password went in clear");
    return QStringLiteral("the connection is not encrypted");
}

QString TFtp::HostKeyFingerprint() const
{
    return m_useSftp ? m_sftp->HostKeyFingerprint() : QString();
}

bool TFtp::Lost() const
{
    return Use([&](auto &session) { return session.Lost(); });
}

void TFtp::Connect()
{
    // The other protocol's session, if any, ends first.
    const bool sftp = Protocol.trimmed().compare(QLatin1String("sftp"), Qt::CaseInsensitive) == 0;
    if (sftp != m_useSftp)
        Disconnect();
    m_useSftp = sftp;
    Use([](auto &session) { session.Connect(); });
}

void TFtp::Disconnect()
{
    m_session->Disconnect();
    m_sftp->Disconnect();
}

QString TFtp::GetCurrentDir()
{
    return Use([&](auto &session) { return session.GetCurrentDir(); });
}

void TFtp::SetCurrentDir(const QString &path)
{
    Use([&](auto &session) { session.SetCurrentDir(path); });
}

void TFtp::FindFiles(const QString &path, TFtpFileList &list)
{
    Use([&](auto &session) { session.FindFiles(path, list); });
}

void TFtp::GetFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 size)
{
    if (m_useSftp)
        m_sftp->GetFile(remoteName, localName, size);
    else
        m_session->GetFile(remoteName, localName, asAscii, size);
}

void TFtp::PutFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 from,
                   const std::function<void()> &started)
{
    if (m_useSftp && from > 0)
        throw EFtpError(QStringLiteral("An SFTP upload cannot go on from part of a file"));
    if (m_useSftp)
        m_sftp->PutFile(remoteName, localName);
    else
        m_session->PutFile(remoteName, localName, asAscii, from, started);
}

bool TFtp::CanResume() const
{
    return !m_useSftp && m_session->CanResume();
}

qint64 TFtp::StoredSize(const QString &name)
{
    return m_useSftp ? -1 : m_session->StoredSize(name);
}

void TFtp::RenameFile(const QString &oldName, const QString &newName)
{
    Use([&](auto &session) { session.RenameFile(oldName, newName); });
}

void TFtp::DeleteFile(const QString &name)
{
    Use([&](auto &session) { session.DeleteFile(name); });
}

void TFtp::CreateDir(const QString &name)
{
    Use([&](auto &session) { session.CreateDir(name); });
}

void TFtp::CreateDirs(const QStringList &names, QStringList &refusals)
{
    Use([&](auto &session) { session.CreateDirs(names, refusals); });
}

bool TFtp::HasPrefetchedPassive() const
{
    return !m_useSftp && m_session->HasPrefetchedPassive();
}

void TFtp::ReleasePassive()
{
    if (!m_useSftp)
        m_session->ReleasePassive();
}

void TFtp::RemoveDir(const QString &name)
{
    Use([&](auto &session) { session.RemoveDir(name); });
}

void TFtp::Chmod(const QString &fileName, const QString &mode)
{
    Use([&](auto &session) { session.Chmod(fileName, mode); });
}

void TFtp::Abort()
{
    m_session->Abort();
    m_sftp->Abort();
}

TFtp::TStats TFtp::Stats() const
{
    return Use([&](auto &session) { return session.Stats(); });
}
