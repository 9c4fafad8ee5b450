#pragma once

// The FTP window's worker: one action at a time on a thread of its own that owns the
// window's FTP session. Its events run on the main thread while the worker waits for them.

#include "ftp/FtpWininet.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

enum TFtpActionKind : quint8 {
    fakList = 1,
    fakMakeFolder = 2,
    fakDownload = 3,
    fakUpload = 4,
    fakDelete = 5,
    fakRename = 6,
};

// One command for the worker. The window keeps one and rewrites it before each request.
class TFtpAction
{
public:
    explicit TFtpAction(quint8 kind = fakList)
        : Kind(kind)
    {
    }

    quint8 Kind;
    QStringList Items;
    QList<qint64> ItemSizes;    // the size attached to each entry of Items (downloads)
    QList<QDateTime> ItemDates; // the listed date of each entry of Items (downloads)
    QString LocalFolder;
    QString Path; // remote folder; after a listing the server's current folder
    QStringList Folders;
    // A download asks before it replaces an existing local file (OnAskReplace). Off only for
    // the window's own temporary copies.
    bool ConfirmReplace = true;
    // What a download or upload has moved so far: whole files and their bytes.
    int TransferredFiles = 0;
    qint64 TransferredBytes = 0;

    void AddItem(const QString &name, qint64 size = 0, const QDateTime &date = {})
    {
        Items.append(name);
        ItemSizes.append(size);
        ItemDates.append(date);
    }
    void ClearItems()
    {
        Items.clear();
        ItemSizes.clear();
        ItemDates.clear();
    }
    qint64 ItemSize(int index) const { return index < ItemSizes.size() ? ItemSizes[index] : 0; }
    QDateTime ItemDate(int index) const
    {
        return index < ItemDates.size() ? ItemDates[index] : QDateTime();
    }
};

// "Downloaded 12 files, 3.4 MB" (fakDownload) or "Uploaded 1 file, 20 byte" (fakUpload).
QString TransferSummary(const TFtpAction &action);

// A download met an existing local file: what the user is shown to decide about replacing it.
struct TFtpReplaceQuestion
{
    QString LocalPath;
    qint64 LocalSize = 0;
    QDateTime LocalDate;
    QString RemotePath;
    qint64 RemoteSize = 0;
    QDateTime RemoteDate; // in local time; invalid when the listing gave none
    // The local file is newer than the server's copy, or its age cannot be compared: only a
    // Yes given to its own question replaces it.
    bool LocalNewer = false;
};

enum class TReplaceAnswer { Yes, No, YesToAll, NoToAll, Cancel };

// One listed entry handed to the window, which owns it from then on.
class TFtpFileData
{
public:
    QString Name;
    bool IsFolder = false;
    QDateTime Date;
    qint64 Size = 0;
};

struct TFtpOperatorShared;

class TFtpOperator : public QObject
{
    Q_OBJECT
public:
    explicit TFtpOperator(QObject *parent = nullptr);
    // Never waits: a running action is cut off where it stands (its sockets are shut at once)
    // and nothing of it reaches the window afterwards.
    ~TFtpOperator() override;

    bool Busy() const { return m_busy; }
    bool Failed() const { return m_failed; }
    // What the last folder listing could not read ("2 lines of the listing of /www could not be
    // read, ..."); empty when every line was read.
    const QString &ListingNote() const { return m_listingNote; }

    // The session's settings; write them only while not Busy.
    TFtp &Ftp();
    // The next action starts from a fresh connection (the old one is closed on the worker).
    void DropConnection();

    // Starts `action` unless one is running; a request while busy is ignored.
    void RunAction(TFtpAction *action);

    std::function<void(TFtpOperator *sender)> OnBegin;
    std::function<void(TFtpOperator *sender)> OnEnd;
    std::function<void(TFtpOperator *sender)> OnClearList;
    std::function<void(TFtpOperator *sender, std::unique_ptr<TFtpFileData> data)> OnAddFile;
    std::function<void(TFtpOperator *sender, const QString &text)> OnError;
    // Connecting stopped at a certificate that does not verify (and was not trusted before);
    // the action failed, OnEnd follows.
    std::function<void(TFtpOperator *sender, const TCertificateInfo &certificate)>
        OnUntrustedCertificate;
    std::function<void(TFtpOperator *sender, const QString &text, int percent)> OnStatus;
    // Asked before a download replaces an existing local file; the worker waits for the
    // answer. Without a handler the local file is kept.
    std::function<TReplaceAnswer(TFtpOperator *sender, const TFtpReplaceQuestion &question)>
        OnAskReplace;
    // SFTP: a key file in ~/.ssh is encrypted and the password does not open it; the worker waits
    // for the answer: true with the passphrase. Without a handler the key is passed by.
    std::function<bool(TFtpOperator *sender, const QString &keyFile, QString &passphrase)>
        OnAskPassphrase;

private:
    friend struct TFtpOperatorShared;
    std::shared_ptr<TFtpOperatorShared> m_shared;
    TFtpAction *m_action = nullptr;
    bool m_busy = false;
    bool m_failed = false;
    QString m_listingNote;
};
