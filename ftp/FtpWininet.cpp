#include "ftp/FtpWininet.h"

#include "ftp/FtpSession.h"

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
    return m_session->Connected();
}

bool TFtp::Encrypted() const
{
    return m_session->Encrypted();
}

bool TFtp::FellBackToPlain() const
{
    return m_session->FellBackToPlain();
}

QString TFtp::SecurityText() const
{
    if (Encrypted())
        return QStringLiteral("connected with ") + m_session->TlsVersion();
    if (FellBackToPlain())
        return QStringLiteral("the connection is not encrypted: the server offers no TLS, so the "
                              "password went in clear");
    return QStringLiteral("the connection is not encrypted");
}

bool TFtp::Lost() const
{
    return m_session->Lost();
}

void TFtp::Connect()
{
    m_session->Connect();
}

void TFtp::Disconnect()
{
    m_session->Disconnect();
}

QString TFtp::GetCurrentDir()
{
    return m_session->GetCurrentDir();
}

void TFtp::SetCurrentDir(const QString &path)
{
    m_session->SetCurrentDir(path);
}

void TFtp::FindFiles(const QString &path, TFtpFileList &list)
{
    m_session->FindFiles(path, list);
}

void TFtp::GetFile(const QString &remoteName, const QString &localName, bool asAscii, qint64 size)
{
    m_session->GetFile(remoteName, localName, asAscii, size);
}

void TFtp::PutFile(const QString &remoteName, const QString &localName, bool asAscii)
{
    m_session->PutFile(remoteName, localName, asAscii);
}

void TFtp::RenameFile(const QString &oldName, const QString &newName)
{
    m_session->RenameFile(oldName, newName);
}

void TFtp::DeleteFile(const QString &name)
{
    m_session->DeleteFile(name);
}

void TFtp::CreateDir(const QString &name)
{
    m_session->CreateDir(name);
}

void TFtp::CreateDirs(const QStringList &names, QStringList &refusals)
{
    m_session->CreateDirs(names, refusals);
}

bool TFtp::HasPrefetchedPassive() const
{
    return m_session->HasPrefetchedPassive();
}

void TFtp::ReleasePassive()
{
    m_session->ReleasePassive();
}

void TFtp::RemoveDir(const QString &name)
{
    m_session->RemoveDir(name);
}

void TFtp::Chmod(const QString &fileName, const QString &mode)
{
    m_session->Chmod(fileName, mode);
}

void TFtp::Abort()
{
    m_session->Abort();
}

TFtp::TStats TFtp::Stats() const
{
    return m_session->Stats();
}
