#pragma once

#include "engine/PublishFilter.h"
#include "engine/PublishList.h"
#include "engine/ResumeRecords.h"
#include "engine/SessionPool.h"
#include "engine/TransferProgress.h"
#include "ftp/FtpWininet.h"
#include "store/Settings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TProject;
class TPublishOperator;
class TFtpFile;

enum TPublishKind : quint8 {
    pkRefresh = 0,
    pkCompare = 1,
    pkRemove = 2,
    pkDownload = 3,
    pkUpload = 4
};

// What a file's status said before it was sent: its record must match it afterwards.
struct TWriteStamp
{
    qint64 Modified = 0, Changed = 0, Size = -1, Node = 0; // nanoseconds; -1 unreadable
    bool operator==(const TWriteStamp &) const = default;
};

// Answers of the operator's question box.
enum TAskResult : int { mrCancel = 2, mrYes = 6, mrNo = 7, mrNoToAll = 9, mrYesToAll = 10 };

// What a front end (the main window, the command line) implements to run operations.
// Every call arrives on the thread that created the operator, in the order sent.
// The front end must outlive the operator object (QObject::destroyed): its destructor may
// still report a failure to write the publish log.
class IPublishFrontEnd
{
public:
    virtual ~IPublishFrontEnd() = default;

    // Notifications: the worker goes on without waiting.
    virtual void LogLine(int level, const QString &text) = 0; // 0 normal, 1 error, 2 notice
    virtual void SetProgress(int percent) = 0;
    virtual void SetStatusText(const QString &text) = 0;
    virtual void AppendLogText(const QString &text) = 0; // replaces the last line's tail
    // An error was logged and the project wants its alert: `soundFile` is the wave file it
    // names. The engine plays nothing itself (it links no multimedia); this default rings the
    // terminal's bell when standard error is one.
    virtual void PlayAlert(const QString &soundFile);

    // Hand-over calls: the worker waits until they return, so the front end may read the
    // file list and the project inside them.
    virtual void ClearView(TPublishOperator *sender) = 0; // the file list is about to be emptied
    virtual void FillView(TPublishOperator *sender) = 0;  // a local scan has rebuilt it
    virtual void ItemChanged(TFileListItem *item) = 0;    // an item's Synchronous changed
    virtual int Ask(const QString &text) = 0;             // a TAskResult
    // The server's certificate does not verify: true to trust it for this project from now
    // on. A front end that cannot ask refuses.
    virtual bool TrustCertificate(const TCertificateInfo &certificate)
    {
        Q_UNUSED(certificate);
        return false;
    }
    // The server offered TLS before and offers none now (`text` says so): true to send the
    // login in clear this once. A front end that cannot ask refuses.
    virtual bool AllowPlainLogin(const QString &text)
    {
        Q_UNUSED(text);
        return false;
    }
    // SFTP: the key file in ~/.ssh is encrypted and the project's password does not open it:
    // true with its passphrase. A front end that cannot ask refuses and the key is passed by.
    virtual bool AskPassphrase(const QString &keyFile, QString &passphrase)
    {
        Q_UNUSED(keyFile);
        Q_UNUSED(passphrase);
        return false;
    }

    // Exactly once per operator, also when it was abandoned after Abort. The file list and
    // the project belong to the front end again from this call on.
    virtual void OperationEnd(TPublishOperator *sender) = 0;
};

// One publishing operation on a worker thread. Construct it on the front end's thread,
// then start(); it deletes itself after OperationEnd, writing the publish log first.
class TPublishOperator : public QThread
{
    Q_OBJECT
public:
    TPublishOperator(TFileList *fileList, quint8 kind, TProject *project,
                     IPublishFrontEnd *frontEnd, QObject *parent = nullptr);
    ~TPublishOperator() override;

    // Front end's thread: stop the operation; OperationEnd follows within about 500 ms.
    void Abort();

    const quint8 Kind;
    std::atomic<bool> Aborted{false};
    std::atomic<bool> HadErrors{false};
    std::atomic<bool> Completed{false};
    TSettings Settings;
    qint32 FoldersCount = 0;
    qint32 FilesCount = 0;
    // The FTP sessions' wire figures at the end of the operation (for benchmarks); zeros
    // when the operation was abandoned.
    TFtp::TStats FtpStats;
    // Set before start(): the worker also saves the project (TProject::Save) while the
    // records change, at most every few seconds, so a run that is killed keeps what it sent.
    // Only a project whose file exists is saved; the front end still saves at the end.
    bool SaveRecordsAsItGoes = false;
    qint32 RecordSaves = 0; // the saves made so far (worker; front end after OperationEnd)
    // Set before start(). A dry run of upload, remove or download logs each step the real run
    // would take (the same line, after DryRunMark) and changes nothing: it may log in, list and
    // read, but sends nothing that writes, writes no local file, no publish log and no record.
    bool DryRun = false;
    // Remove: more entries to remove than this ends the operation with an error before any of
    // them is removed; -1 for no limit.
    qint64 MaxDelete = -1;
    // Set before start(): an SFTP host key the front end accepts goes into known_hosts; when
    // false it is accepted for this operation only.
    bool RememberHostKey = true;
    // Every command line any session sends (the password masked) and every reply line it
    // receives, on the session's thread.
    std::function<void(const QString &line)> OnCommand, OnReply;
    // After a compare, relative names ("/" between parts, folders ending in "/"): what the
    // server lacks, files it holds in another version, entries only it has.
    QStringList CompareMissing, CompareChanged, CompareServerOnly;

protected:
    void run() override;

private:
    // Thrown on the worker when it finds itself abandoned, or aborted where it would connect;
    // unwinds to run(). Deliberately not a std::exception, so no per-element guard swallows it.
    struct TAbandoned
    {
    };

    // Read on the front end's thread by the constructor: the destructor must not touch
    // the project, which may be gone or in use by then.
    struct TLogSettings
    {
        bool SaveLog = false;
        QString FileName;
        bool CheckLogSize = false;
        qint64 MaxBytes = 0;
        QString Error; // a setting that could not be read
    };

    // Operation fields, worker-owned while it runs.
    bool IncSubDirs = false;
    TFileList *FileList;
    TFtpFileList ServerList;
    TFtp Ftp;
    qint32 ItemCounter = 0;
    QString AskText;
    int AskResult = 0;
    TFileListItem *CurrentItem = nullptr;
    qint64 TotalBytes = 0;
    qint64 BytesDone = 0;
    qint32 FilesDone = 0;
    qint32 FilesTotal = 0;
    qint64 FileBytesDone = 0;
    qint64 FileSize = 0;
    QDateTime StartTime;
    QElapsedTimer m_sinceStart;   // StartTime, for elapsed times
    QElapsedTimer m_sinceUpdate;  // LastUpdate
    QElapsedTimer m_sinceFile;    // FileStart
    TTransferProgress m_progress; // of the running upload or download, from the counts above
    TProject *Project;
    QStringList LogLines;

    IPublishFrontEnd *m_frontEnd;
    QPointer<QObject> m_frontEndObject; // set when the front end is a QObject
    bool m_frontEndIsObject = false;
    TLogSettings m_log;

    // Held by the worker while it runs, released only around blocking FTP calls and
    // hand-over calls; Abort takes it to mark the operator abandoned.
    QMutex m_lock;
    std::atomic<bool> m_abandoned{false};
    bool m_ended = false;        // front end's thread: OperationEnd has been called
    bool m_abortPending = false; // front end's thread: the abandon timer runs

    // The sessions that share the passes' work: the project's "Connections", opened when a
    // pass first needs them. Abandon reaches them through the mutex.
    int m_connections = 1;
    std::mutex m_poolMutex;
    std::unique_ptr<TSessionPool> m_pool;
    TFtp::TStats m_extraStats;
    QHash<QString, QString> m_passphrases; // worker: by key file, what opened it

    // The settings' transfer masks, compiled at the start of the operation.
    std::optional<TMaskList> m_textFiles;
    std::optional<TMaskList> m_execFiles;

    // Front end's thread.
    void OnFinished();
    void Abandon();
    void EndOnce();
    void ReadLogSettings();
    void WriteLog();
    void Post(std::function<void()> call);

    // Reporting (worker).
    void LogLine(int level, const QString &text);
    void SetProgress(int percent);
    void SetStatusText(const QString &text);
    void AppendLogText(const QString &text);
    void AddLog(int level, const QString &text);
    void AddError(const QString &text); // AddLog(1) and HadErrors
    int Ask(const QString &text);
    void NotifyItem(TFileListItem *item);
    void RunClearView();
    void RunFillView();

    // The worker leaves the shared data alone while `call` runs: blocking server calls and
    // hand-overs. Throws TAbandoned when the operator was abandoned meanwhile.
    void Remote(const std::function<void()> &call);
    void HandOver(const std::function<void()> &call);
    void CheckAbandoned();
    bool Terminated() const { return isInterruptionRequested(); }
    static QString ErrorText(const std::exception &error);

    // Steps.
    void Execute();
    void Refresh();
    void ConnectStep();
    void LogIn(); // Connect, asking about a certificate that does not verify or a lost TLS
    // TFtp::OnPassphrase of the worker's session: asks the front end once a key file, then
    // gives the answer again when the session connects anew.
    bool Passphrase(const QString &keyFile, int attempt, QString &passphrase);
    void EnsureConnected();
    // fileBytes: what the file of the last log line has moved; -1 when it is not moving.
    void ProgressReport(qint64 bytes, qint64 fileBytes);
    void StatisticsReport();

    // Parallel passes: `next` gives the pass's jobs one by one, in order; the "done" part of a
    // job runs here on the worker once its body has ended on a session, with the failure text
    // (empty on success), which names the job's Subject whatever session it ran on. Jobs ended
    // by Abort are dropped without a word.
    struct TStep
    {
        enum TWhat { Job, Wait, End };
        TWhat What = End; // Wait: nothing until a running job ends
        TSessionPool::TBody Body;
        std::function<void(const QString &failure)> Done;
        QString Subject; // the path the job is about
    };
    TSessionPool &Pool();
    void ClosePool();
    // `transfers`: report the bytes of uploads or downloads as progress.
    void RunParallel(const std::function<TStep()> &next, bool transfers);

    // Saving the records as the run goes (PublishRecords.cpp). The worker calls these between
    // jobs, holding the project; no transfer waits for a save.
    QElapsedTimer m_sinceSave;
    qint64 m_saveCostMs = 0;
    bool m_recordsChanged = false;
    bool m_saveFailed = false;
    void RecordsChanged() { m_recordsChanged = true; }
    void SaveRecordsIfDue();

    // Local scan and records (LocalScan.cpp).
    void PurgeVersions();
    void LocalScan();
    struct TScanState;
    TFileListItem *CreateItem(const QString &path, const QString &relativeName, bool isFolder,
                              TFileListItem *parent, qint64 size, qint32 fileAge, qint64 modified,
                              const TScanState &state);
    // Files the last scan found in step by their content though their time moved, with their
    // exact time: an upload gives their records the new time (BringUpToDate).
    struct TUpToDate
    {
        TFileListItem *Item = nullptr;
        qint64 Modified = 0;
    };
    std::vector<TUpToDate> m_upToDate;
    void BringUpToDate();
    bool TreeScan(const QString &path, TFileListItem *folder, TScanState &state);
    // An error line for a folder (or a folder link) the scan could not read; the file list
    // marks it so no pass touches what the server holds below it.
    void ScanFailed(const QString &what, const QString &path, const QString &relativeName,
                    int error);

    // Server scan and comparison (ServerScan.cpp).
    void ServerScan();
    void ScanServerFolders(const QString &root);
    void RemoveTemporaries(const QStringList &names); // stale ones of safe uploads
    void CheckAgainstServer();
    void MarkServerOnly();
    struct TServerCounts
    {
        qint64 Folders = 0, Files = 0, Size = 0;
        qint64 OnlyFolders = 0, OnlyFiles = 0, OnlySize = 0;
    };
    TServerCounts CountServer() const;
    QString ServerRelativeName(const TFtpFile *entry) const;

    // Upload (Upload.cpp).
    // The log's first line, the refresh and the login; false when there is nothing to send.
    bool StartUpload();
    void Upload();
    // Folders and files in one pass: a folder goes once its parent is on the server, a file
    // once its folder is.
    void FilePass();
    TStep FoldersStep(std::vector<TFileListItem *> items,
                      std::function<void(TFileListItem *)> settled);
    void FolderThere(TFileListItem *item);
    TStep UploadStep(TFileListItem *item, bool again);
    // The content fields are kept only when `hashed`: the hash is of the bytes sent.
    void RecordUploaded(TFileListItem *item, qint32 age, const TWriteStamp &stamp, quint64 hash,
                        bool hashed);
    QSet<const TFileListItem *> m_foldersEnsured; // created again after a failed transfer
    TResumeRecords m_resume;                      // shared by the sessions
    // Files sent in the two-second slot of their last write: their records wait for the slot
    // to pass, so a later write in the same slot cannot hide behind the record's time.
    struct TSettling
    {
        TFileListItem *Item = nullptr;
        qint32 Age = 0;
        TWriteStamp Stamp;
        bool Again = false; // sent for the second time
        quint64 Hash = 0;
        bool Hashed = false;
    };
    std::vector<TSettling> m_settling;
    std::vector<TFileListItem *> m_sendAgain; // written meanwhile: sent once their slot is over
    static TWriteStamp WriteStampOf(const QString &local);
    void SettleRecords();
    // Once; a file written again after that keeps needing upload.
    void SendAgain(TFileListItem *item, bool again);

    // Edits made on the server (ServerEdits.cpp), with "ProtectServerChanges" on. Before the
    // file pass: a file listed otherwise than after its last upload is replaced only when the
    // user says so; false when the user cancels. After it: the sent files' stamps.
    bool GuardServerChanges();
    void StampServerFiles();
    struct TListedFile
    {
        qint64 Size = 0;
        qint64 Time = 0;
    };
    struct TFolderListing
    {
        QHash<QString, TListedFile> Files;
        QString Failure;
    };
    // One listing per folder (remote paths ending in "/"), side by side on the sessions.
    QHash<QString, TFolderListing> ListFolders(const QStringList &folders);
    bool m_protectServerChanges = false;
    QSet<const TFileListItem *> m_keptOnServer; // not replaced: changed on the server
    std::vector<TFileListItem *> m_stampDue;    // sent by this run

    // Server-only files (ServerOnly.cpp).
    void RemoveOperation();
    void DownloadOperation();
    void QuestionPass(bool download);
    void RemovalPass();
    void DownloadPass();

    // What a run would do (Plans.cpp): the lines its steps log, in its order.
    void PlanUpload();
    QStringList PlannedRemovals() const;
    QStringList PlannedDownloads() const;
    void LogPlan(const QStringList &lines);
    void FillCompareLists();
    // Changes to the project's remote folder, made on the server first when it is not there.
    void EnterRemoteRoot(const QString &folder);
    QString m_plannedRoot; // a dry run's remote folder that the upload would make
};

// What starts each line of a dry run's plan.
extern const char *const DryRunMark; // "[dry run] "

// The name a safe upload sends `name` under, in the same server folder: one that no file of
// the local folder (ending in "/") has.
QString SafeUploadTemporaryName(const QString &name, const QString &localFolder);
// Whether a server entry's name is one that SafeUploadTemporaryName gives.
bool IsSafeUploadTemporary(const QString &name);

// Cuts the oldest blocks of a publish log so that it ends near three quarters of MaxBytes.
void TrimLog(const QString &fileName, qint64 maxBytes);
