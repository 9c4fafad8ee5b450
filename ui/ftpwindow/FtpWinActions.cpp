#include "ui/ftpwindow/FtpWinActions.h"

#include "engine/FileLib.h"
#include "engine/TransferProgress.h"
#include "ftp/FtpListParser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

namespace {

// Thrown on the worker once its operator is gone; ends the thread without another event.
struct TDiscarded
{
};

} // namespace

// What the worker thread and the operator share. The worker holds it alive after the operator
// is destroyed, so a discarded worker never touches freed memory.
struct TFtpOperatorShared : std::enable_shared_from_this<TFtpOperatorShared>
{
    std::mutex Mutex;
    std::condition_variable Wake;
    bool HasWork = false;   // guarded by Mutex
    bool Quit = false;      // guarded by Mutex
    bool EventDone = false; // guarded by Mutex
    std::atomic<bool> Discarded{false};
    std::atomic<bool> DropConnection{false};

    TFtpOperator *Owner = nullptr; // main thread only, valid while not Discarded
    TFtp Ftp;
    TFtpFileList Listing;
    QStringList WorkList;
    TFtpAction Work; // the worker's copy of the running action
    QStringList SkippedNames;
    TUnreadLines Unread; // of the last FindFiles

    // Progress of the current transfer.
    bool LastEventWasStatus = false;
    QString StatusText;
    int Percent = 0;
    qint64 BytesDone = 0;
    qint64 BytesTotal = 0;
    // Of the whole download or upload: the figures the main window shows.
    TTransferProgress Overall;
    QElapsedTimer OverallClock, SinceShown;
    qint64 EndedBytes = 0, AllBytes = 0;
    qint32 EndedFiles = 0, AllFiles = 0;
    void StartOverall(qint64 bytes, qint32 files);
    void FileEnded();            // done or skipped: its bytes count as moved
    QString TransferText;        // "Upload the file ..."
    QString OverallText() const; // the figures first: a narrow window cuts the path instead
    void TransferStatus(const QString &text)
    {
        TransferText = text;
        Status(OverallText(), Overall.Percent());
    }

    void ThreadMain();
    void RunOne();

    // Runs `call` on the main thread with the operator and waits for it. The window's action
    // is brought up to date first, so handlers see what the worker has found so far.
    bool Deliver(const std::function<void(TFtpOperator *)> &call);
    void Post(const std::function<void(TFtpOperator *)> &call)
    {
        if (!Deliver(call))
            throw TDiscarded{};
    }
    void Status(const QString &text, int percent);
    void Error(const QString &text);
    TReplaceAnswer AskReplace(const TFtpReplaceQuestion &question);
    QHash<QString, QString> Passphrases; // by key file: what opened it
    bool AskPassphrase(const QString &keyFile, int attempt, QString &passphrase);
    void CheckDiscarded() const
    {
        if (Discarded)
            throw TDiscarded{};
    }
    void OnProgress(qint64 bytes);

    void EnsureConnection();
    void List();
    void MakeFolder();
    void ExpandRemoteTree();
    void Download();
    void Upload();
    void Delete();
    void Rename();
};

bool TFtpOperatorShared::Deliver(const std::function<void(TFtpOperator *)> &call)
{
    {
        std::lock_guard lock(Mutex);
        if (Discarded)
            return false;
        EventDone = false;
    }
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return false;
    // The call holds the shared state: it may run after a discarded worker has ended.
    auto self = shared_from_this();
    QMetaObject::invokeMethod(
        application,
        [self, call] {
            if (!self->Discarded) {
                TFtpOperator *owner = self->Owner;
                if (owner->m_action)
                    *owner->m_action = self->Work;
                call(owner);
            }
            std::lock_guard lock(self->Mutex);
            self->EventDone = true;
            self->Wake.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(Mutex);
    Wake.wait(lock, [this] { return EventDone || Discarded; });
    return !Discarded;
}

void TFtpOperatorShared::Status(const QString &text, int percent)
{
    StatusText = text;
    Percent = percent;
    LastEventWasStatus = true;
    Post([text, percent](TFtpOperator *owner) {
        if (owner->OnStatus)
            owner->OnStatus(owner, text, percent);
    });
}

void TFtpOperatorShared::Error(const QString &text)
{
    LastEventWasStatus = false;
    Post([text](TFtpOperator *owner) {
        owner->m_failed = true;
        if (owner->OnError)
            owner->OnError(owner, text);
    });
}

void TFtpOperatorShared::StartOverall(qint64 bytes, qint32 files)
{
    Overall = {};
    OverallClock.start();
    SinceShown.start();
    EndedBytes = BytesDone = 0;
    EndedFiles = 0;
    AllBytes = bytes;
    AllFiles = files;
}

void TFtpOperatorShared::FileEnded()
{
    EndedBytes += BytesTotal;
    ++EndedFiles;
    BytesDone = BytesTotal = 0;
    Overall.Update(OverallClock.elapsed(), EndedBytes, AllBytes, EndedFiles, AllFiles);
}

QString TFtpOperatorShared::OverallText() const
{
    return Overall.StatusText(Work.Kind == fakUpload ? QStringLiteral("uploaded")
                                                     : QStringLiteral("downloaded"))
           + QStringLiteral(" - ") + TransferText;
}

void TFtpOperatorShared::OnProgress(qint64 bytes)
{
    if (!LastEventWasStatus || (Work.Kind != fakDownload && Work.Kind != fakUpload))
        return;
    BytesDone += bytes;
    Overall.Update(OverallClock.elapsed(), EndedBytes + qMin(BytesDone, BytesTotal), AllBytes,
                   EndedFiles, AllFiles);
    const int percent = Overall.Percent();
    // Re-delivering unchanged figures would only cost the window repaints.
    if (percent == Percent && SinceShown.elapsed() < 500)
        return;
    SinceShown.start();
    Percent = percent;
    const QString text = OverallText();
    if (!Deliver([text, percent](TFtpOperator *owner) {
            if (owner->OnStatus)
                owner->OnStatus(owner, text, percent);
        }))
        Ftp.Abort(); // the transfer fails at once and the worker ends on its next event
}

void TFtpOperatorShared::ThreadMain()
{
    for (;;) {
        {
            std::unique_lock lock(Mutex);
            Wake.wait(lock, [this] { return HasWork || Quit || Discarded; });
            if (Quit || Discarded)
                return;
            HasWork = false;
        }
        try {
            RunOne();
        } catch (const TDiscarded &) {
            return;
        }
    }
}

QString TransferSummary(const TFtpAction &action)
{
    const int files = action.TransferredFiles;
    return QStringLiteral("%1 %2 %3, %4")
        .arg(action.Kind == fakUpload ? QStringLiteral("Uploaded") : QStringLiteral("Downloaded"))
        .arg(files)
        .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"),
             FormatSize(action.TransferredBytes));
}

void TFtpOperatorShared::RunOne()
{
    SkippedNames.clear();
    Work.TransferredFiles = 0;
    Work.TransferredBytes = 0;
    try {
        EnsureConnection();
        switch (Work.Kind) {
        case fakList:
            List();
            break;
        case fakMakeFolder:
            MakeFolder();
            break;
        case fakDownload:
            Download();
            break;
        case fakUpload:
            Upload();
            break;
        case fakDelete:
            Delete();
            break;
        case fakRename:
            Rename();
            break;
        default:
            break; // any other kind only checks the connection
        }
        Status(QStringLiteral("Done"), 0);
    } catch (const TDiscarded &) {
        throw;
    } catch (const EFtpCertificateError &error) {
        if (error.Changed) {
            Error(error.Message());
        } else {
            const TCertificateInfo certificate = error.Certificate;
            LastEventWasStatus = false;
            Post([certificate](TFtpOperator *owner) {
                owner->m_failed = true;
                if (owner->OnUntrustedCertificate)
                    owner->OnUntrustedCertificate(owner, certificate);
            });
        }
    } catch (const EFtpError &error) {
        Error(error.Message());
    } catch (const std::exception &error) {
        Error(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        Error(QStringLiteral("Unknown error"));
    }
    LastEventWasStatus = false;
    Post([](TFtpOperator *owner) {
        owner->m_busy = false;
        if (owner->OnEnd)
            owner->OnEnd(owner);
    });
}

void TFtpOperatorShared::EnsureConnection()
{
    if (DropConnection.exchange(false))
        Ftp.Disconnect();
    if (Ftp.Connected()) {
        Status(QStringLiteral("Checking the connection"), 0);
        try {
            Ftp.GetCurrentDir();
            return;
        } catch (const EFtpError &) {
            CheckDiscarded(); // an aborted session must not be replaced behind the window
            Ftp.Disconnect();
        }
    }
    Status(QStringLiteral("Connect to ") + Ftp.ServerName, 0);
    Ftp.Connect();
    Status(Ftp.SecurityText(), 0);
    if (!Work.Path.isEmpty()) {
        Status(QStringLiteral("Change folder to ") + Work.Path, 0);
        try {
            Ftp.SetCurrentDir(Work.Path);
        } catch (const EFtpError &error) {
            CheckDiscarded();
            Error(error.Message()); // the action goes on in the server's starting folder
        }
    }
    Work.Path = Ftp.GetCurrentDir();
}

void TFtpOperatorShared::List()
{
    if (!Work.Items.isEmpty()) {
        Status(QStringLiteral("Change folder to ") + Work.Items[0], 0);
        Ftp.SetCurrentDir(Work.Items[0]);
        Work.Path = Ftp.GetCurrentDir();
    }
    Post([](TFtpOperator *owner) {
        if (owner->OnClearList)
            owner->OnClearList(owner);
    });
    Status(QStringLiteral("Get the file list"), 0);
    Listing.Clear();
    Unread = {};
    Ftp.FindFiles(QString(), Listing);
    const QString note = Unread.Count > 0 ? UnreadLinesText(Work.Path, Unread) : QString();
    Post([note](TFtpOperator *owner) { owner->m_listingNote = note; });
    // One hand-over for the whole listing: the handler still runs once per entry, in order.
    auto entries = std::make_shared<std::vector<std::unique_ptr<TFtpFileData>>>();
    entries->reserve(size_t(Listing.Count()));
    for (int i = 0; i < Listing.Count(); ++i) {
        const TFtpFile *file = Listing.Items(i);
        auto data = std::make_unique<TFtpFileData>();
        data->Name = file->Name;
        data->IsFolder = file->IsFolder;
        data->Date = file->Date;
        data->Size = file->Size;
        entries->push_back(std::move(data));
    }
    Listing.Clear();
    Post([entries](TFtpOperator *owner) {
        for (auto &data : *entries) {
            if (owner->OnAddFile)
                owner->OnAddFile(owner, std::move(data));
        }
    });
}

void TFtpOperatorShared::MakeFolder()
{
    Status(QStringLiteral("Make the folder ") + Work.Items.value(0), 0);
    Ftp.CreateDir(Work.Items.value(0));
    Work.ClearItems();
    List();
}

void TFtpOperatorShared::ExpandRemoteTree()
{
    WorkList.clear();
    for (const QString &name : std::as_const(Work.Folders))
        WorkList.append(IncludeTrailingSlash(Work.Path) + name);
    while (!WorkList.isEmpty()) {
        const QString folder = WorkList.takeFirst();
        Status(QStringLiteral("search the files in sub folder ") + folder, 0);
        Listing.Clear();
        Unread = {};
        Ftp.FindFiles(folder, Listing);
        if (Unread.Count > 0)
            Status(UnreadLinesText(folder, Unread), 0);
        // Depth first: a discovered folder goes in front of everything found so far, so every
        // folder of Folders comes before its parent.
        for (int i = 0; i < Listing.Count(); ++i) {
            const TFtpFile *entry = Listing.Items(i);
            const QString path = IncludeTrailingSlash(folder) + entry->Name;
            if (entry->IsFolder) {
                WorkList.prepend(path);
                Work.Folders.prepend(path);
            } else {
                Work.AddItem(path, entry->Size, entry->Date);
            }
        }
        Listing.Clear();
    }
    Ftp.SetCurrentDir(Work.Path);
}

// The local place of a remote entry below the target folder, or "" when the name would lead
// anywhere else. Listings are already cleaned of such names; this holds whatever the lists say.
static QString DownloadTarget(const QString &localFolder, const QString &remotePath,
                              const QString &entry)
{
    QString name = entry;
    if (name.contains(QLatin1Char('/'))) {
        const QString prefix = IncludeTrailingSlash(remotePath);
        if (!name.startsWith(prefix))
            return {};
        name = name.mid(prefix.size());
    }
    const QStringList parts = name.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")
            || part.contains(QChar(0)))
            return {};
    }
    return IncludeTrailingSlash(localFolder) + name;
}

TReplaceAnswer TFtpOperatorShared::AskReplace(const TFtpReplaceQuestion &question)
{
    // The answer outlives a discarded worker: the box may close after the operator is gone.
    auto answer = std::make_shared<TReplaceAnswer>(TReplaceAnswer::No);
    // The status of the file asked about stays: a Yes goes on with its progress.
    Post([question, answer](TFtpOperator *owner) {
        if (!owner->OnAskReplace)
            return;
        try {
            *answer = owner->OnAskReplace(owner, question);
        } catch (...) {
            *answer = TReplaceAnswer::Cancel; // nothing is replaced on a failed question
        }
    });
    return *answer;
}

bool TFtpOperatorShared::AskPassphrase(const QString &keyFile, int attempt, QString &passphrase)
{
    // Asked once a session: a new connection tries the answer first.
    if (attempt == 0 && Passphrases.contains(keyFile)) {
        passphrase = Passphrases.value(keyFile);
        return true;
    }
    auto answer = std::make_shared<std::optional<QString>>();
    // Called from inside libssh: nothing may be thrown, a discarded worker gets no answer.
    const bool delivered = Deliver([keyFile, answer](TFtpOperator *owner) {
        QString typed;
        try {
            if (owner->OnAskPassphrase && owner->OnAskPassphrase(owner, keyFile, typed))
                *answer = typed;
        } catch (...) {
        }
    });
    if (!delivered || !answer->has_value())
        return false;
    passphrase = **answer;
    Passphrases.insert(keyFile, passphrase);
    return true;
}

// Listings give their dates as UTC fields (MLSD by definition, LIST on vsftpd and pyftpdlib by
// default); the question shows and compares them as local moments.
static QDateTime ListedMoment(const QDateTime &listed)
{
    if (!listed.isValid())
        return {};
    return QDateTime(listed.date(), listed.time(), Qt::UTC).toLocalTime();
}

void TFtpOperatorShared::Download()
{
    ExpandRemoteTree();

    // The standing answers: a Yes to All never covers a local file newer than the server's.
    bool replaceAll = false;
    bool keepAll = false;
    bool cancelled = false;
    StartOverall(std::accumulate(Work.ItemSizes.begin(), Work.ItemSizes.end(), qint64(0)),
                 qint32(Work.Items.size()));
    for (int i = 0; i < Work.Items.size() && !cancelled; ++i, FileEnded()) {
        const QString entry = Work.Items[i];
        TransferStatus(QStringLiteral("Download the file ") + entry);
        BytesDone = 0;
        BytesTotal = Work.ItemSize(i);
        const QString local = DownloadTarget(Work.LocalFolder, Work.Path, entry);
        if (local.isEmpty()) {
            SkippedNames.append(entry);
            continue;
        }
        const QFileInfo existing(local);
        if (Work.ConfirmReplace && (existing.exists() || existing.isSymLink())
            && !existing.isDir()) {
            TFtpReplaceQuestion question;
            question.LocalPath = local;
            question.LocalSize = existing.size();
            question.LocalDate = existing.lastModified();
            question.RemotePath = entry.contains(QLatin1Char('/'))
                                      ? entry
                                      : IncludeTrailingSlash(Work.Path) + entry;
            question.RemoteSize = Work.ItemSize(i);
            question.RemoteDate = ListedMoment(Work.ItemDate(i));
            // Compared to the second: a listing may give no more.
            question.LocalNewer
                = !question.RemoteDate.isValid() || !question.LocalDate.isValid()
                  || question.LocalDate.toSecsSinceEpoch() > question.RemoteDate.toSecsSinceEpoch();
            bool replace = false;
            if (keepAll) {
                replace = false;
            } else if (replaceAll && !question.LocalNewer) {
                replace = true;
            } else {
                switch (AskReplace(question)) {
                case TReplaceAnswer::Yes:
                    replace = true;
                    break;
                case TReplaceAnswer::YesToAll:
                    replace = true;
                    replaceAll = true;
                    break;
                case TReplaceAnswer::NoToAll:
                    keepAll = true;
                    break;
                case TReplaceAnswer::No:
                    break;
                case TReplaceAnswer::Cancel:
                    cancelled = true; // what is downloaded so far stays
                    break;
                }
            }
            if (!replace)
                continue;
        }
        QDir().mkpath(QFileInfo(local).path());
        Ftp.GetFile(entry, local, false, BytesTotal);
        CheckDiscarded();
        ++Work.TransferredFiles;
        Work.TransferredBytes += QFileInfo(local).size();
    }
    if (!SkippedNames.isEmpty())
        Error(QStringLiteral("These server entries were not downloaded, their names are not safe "
                             "for a local file: ")
              + SkippedNames.join(QStringLiteral(", ")));
}

void TFtpOperatorShared::Upload()
{
    // Every uploaded entry keeps its place relative to the folder it was picked or dropped from
    // (the action's LocalFolder for all of them when they came from one folder).
    struct TLocalEntry
    {
        QString Path;
        QString Relative;
    };
    const QString base = IncludeTrailingSlash(Work.LocalFolder);
    auto relativeOf = [&base](const QString &path) {
        return path.startsWith(base) ? path.mid(base.size()) : QFileInfo(path).fileName();
    };
    std::vector<TLocalEntry> files, folders;
    for (const QString &item : std::as_const(Work.Items))
        files.push_back({item, relativeOf(item)});
    for (const QString &folder : std::as_const(Work.Folders))
        folders.push_back({folder, relativeOf(folder)});

    Status(QStringLiteral("search the files for uploading"), 0);
    // Breadth first, so every folder comes after its parent. A linked folder met twice is
    // searched once: a link loop would never end.
    QSet<QString> seen;
    for (size_t next = 0; next < folders.size(); ++next) {
        CheckDiscarded();
        const TLocalEntry folder = folders[next];
        const QString canonical = QFileInfo(folder.Path).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        for (const QString &file : TFileFolder(folder.Path, ffFiles | ffHidden)) {
            Work.AddItem(file);
            files.push_back(
                {file, folder.Relative + QLatin1Char('/') + QFileInfo(file).fileName()});
        }
        for (const QString &sub : TFileFolder(folder.Path, ffFolders | ffHidden)) {
            Work.Folders.append(sub);
            folders.push_back(
                {sub, folder.Relative + QLatin1Char('/') + QFileInfo(sub).fileName()});
        }
    }

    const QString remoteBase = IncludeTrailingSlash(Work.Path);
    for (const TLocalEntry &folder : folders) {
        CheckDiscarded();
        try {
            Ftp.CreateDir(remoteBase + folder.Relative);
        } catch (const EFtpError &) {
            // An existing folder is no error; a real failure shows at its files.
        }
    }
    qint64 allBytes = 0;
    for (const TLocalEntry &file : files)
        allBytes += GetFileSize(file.Path);
    StartOverall(allBytes, qint32(files.size()));
    for (const TLocalEntry &file : files) {
        TransferStatus(QStringLiteral("Upload the file ") + file.Path);
        BytesDone = 0;
        BytesTotal = GetFileSize(file.Path);
        Ftp.PutFile(remoteBase + file.Relative, file.Path, false);
        CheckDiscarded();
        ++Work.TransferredFiles;
        Work.TransferredBytes += BytesTotal;
        FileEnded();
    }
    Work.ClearItems();
    List();
}

void TFtpOperatorShared::Delete()
{
    ExpandRemoteTree();
    const int fileCount = int(Work.Items.size());
    for (int i = 0; i < fileCount; ++i) {
        Status(QStringLiteral("Remove the file ") + Work.Items[i], i * 100 / fileCount);
        Ftp.DeleteFile(Work.Items[i]);
    }
    const int folderCount = int(Work.Folders.size());
    for (int j = 0; j < folderCount; ++j) {
        Status(QStringLiteral("Remove the folder ") + Work.Folders[j], j * 100 / folderCount);
        Ftp.RemoveDir(Work.Folders[j]);
    }
    Work.ClearItems();
    List();
}

void TFtpOperatorShared::Rename()
{
    const QString oldName = Work.Items.value(0);
    const QString newName = Work.Items.value(1);
    Status(QStringLiteral("Rename ") + oldName + QStringLiteral(" to ") + newName, 0);
    Ftp.RenameFile(oldName, newName);
}

TFtpOperator::TFtpOperator(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<TFtpOperatorShared>())
{
    m_shared->Owner = this;
    TFtpOperatorShared *shared = m_shared.get();
    m_shared->Ftp.OnProgress = [shared](TFtp *, qint64 bytes) { shared->OnProgress(bytes); };
    // Only downloads report them: a listing simply leaves such entries out.
    m_shared->Ftp.OnSkippedEntry
        = [shared](const QString &name) { shared->SkippedNames.append(name); };
    m_shared->Ftp.OnPassphrase = [shared](const QString &file, int attempt, QString &passphrase) {
        return shared->AskPassphrase(file, attempt, passphrase);
    };
    m_shared->Ftp.OnUnreadLines = [shared](int count, const QString &first) {
        shared->Unread = {count, first};
    };
    std::thread([keep = m_shared] { keep->ThreadMain(); }).detach();
}

TFtpOperator::~TFtpOperator()
{
    {
        std::lock_guard lock(m_shared->Mutex);
        if (m_busy) {
            m_shared->Discarded = true;
        } else {
            m_shared->Quit = true;
        }
        m_shared->Owner = nullptr;
        m_shared->Wake.notify_all();
    }
    // Shuts the session's sockets at once; the worker's blocked call fails and it ends.
    if (m_busy)
        m_shared->Ftp.Abort();
}

TFtp &TFtpOperator::Ftp()
{
    return m_shared->Ftp;
}

void TFtpOperator::DropConnection()
{
    m_shared->DropConnection = true;
}

void TFtpOperator::RunAction(TFtpAction *action)
{
    if (m_busy || !action)
        return;
    m_action = action;
    m_failed = false;
    m_busy = true;
    m_shared->Work = *action;
    if (OnBegin)
        OnBegin(this);
    std::lock_guard lock(m_shared->Mutex);
    m_shared->HasWork = true;
    m_shared->Wake.notify_all();
}
