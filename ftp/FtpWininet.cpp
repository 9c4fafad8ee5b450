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
    OnSkippedEntry = nullptr;
    OnUnreadLines = nullptr;
    Disconnect();
}

bool TFtp::Connected() const
{
    return m_useSftp ? m_sftp->Connected() : m_session->Connected();
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

bool TFtp::Lost() const
{
    return m_useSftp ? m_sftp->Lost() : m_session->Lost();
}

void TFtp::Connect()
{
    // The other protocol's session, if any, ends first.
    const bool sftp = Protocol.trimmed().compare(QLatin1String("sftp"), Qt::CaseInsensitive) == 0;
    if (sftp != m_useSftp)
        Disconnect();
    m_useSftp = sftp;
    if (m_useSftp)
        m_sftp->Connect();
    else
        m_session->Connect();
}

void TFtp::Disconnect()
{
    m_session->Disconnect();
    m_sftp->Disconnect();
}

QString TFtp::GetCurrentDir()
{
    return m_useSftp ? m_sftp->GetCurrentDir() : m_session->GetCurrentDir();
}

void TFtp::SetCurrentDir(const QString &path)
{
    if (m_useSftp)
        m_sftp->SetCurrentDir(path);
    else
        m_session->SetCurrentDir(path);
}

void TFtp::FindFiles(const QString &path, TFtpFileList &list)
{
    if (m_useSftp)
        m_sftp->FindFiles(path, list);
    else
        m_session->FindFiles(path, list);
}

void TFtp::GetFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 size)
{
    if (m_useSftp)
        m_sftp->GetFile(remoteName, localName, size);
    else
        m_session->GetFile(remoteName, localName, asAscii, size);
}

void TFtp::PutFile(const QString &remoteName, const QString &localName, bool asAscii)
{
    if (m_useSftp)
        m_sftp->PutFile(remoteName, localName);
    else
        m_session->PutFile(remoteName, localName, asAscii);
}

void TFtp::RenameFile(const QString &oldName, const QString &newName)
{
    if (m_useSftp)
        m_sftp->RenameFile(oldName, newName);
    else
        m_session->RenameFile(oldName, newName);
}

void TFtp::DeleteFile(const QString &name)
{
    if (m_useSftp)
        m_sftp->DeleteFile(name);
    else
        m_session->DeleteFile(name);
}

void TFtp::CreateDir(const QString &name)
{
    if (m_useSftp)
        m_sftp->CreateDir(name);
    else
        m_session->CreateDir(name);
}

void TFtp::CreateDirs(const QStringList &names, QStringList &refusals)
{
    if (m_useSftp)
        m_sftp->CreateDirs(names, refusals);
    else
        m_session->CreateDirs(names, refusals);
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
    if (m_useSftp)
        m_sftp->RemoveDir(name);
    else
        m_session->RemoveDir(name);
}

void TFtp::Chmod(const QString &fileName, const QString &mode)
{
    if (m_useSftp)
        m_sftp->Chmod(fileName, mode);
    else
        m_session->Chmod(fileName, mode);
}

void TFtp::Abort()
{
    m_session->Abort();
    m_sftp->Abort();
}

TFtp::TStats TFtp::Stats() const
{
    return m_useSftp ? m_sftp->Stats() : m_session->Stats();
}
