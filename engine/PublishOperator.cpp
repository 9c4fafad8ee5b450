#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"

#include <QFileInfo>
#include <QTimer>

#include <exception>
#include <limits>

#include <unistd.h>

namespace {

// How long Abort lets the worker end on its own before abandoning it: the end handler must
// run within half a second of Abort, delivery included.
constexpr int AbortWaitMs = 450;
// Progress reports closer together than this are dropped.
constexpr qint64 ProgressIntervalMs = 200;

int Percent(qint64 done, qint64 total)
{
    if (total <= 0)
        total = 1;
    if (done <= std::numeric_limits<qint64>::max() / 100)
        return int(done * 100 / total);
    return int(done / qMax<qint64>(total / 100, 1));
}

} // namespace

TPublishOperator::TPublishOperator(TFileList *fileList, quint8 kind, TProject *project,
                                   IPublishFrontEnd *frontEnd, QObject *parent)
    : QThread(parent)
    , Kind(kind)
    , FileList(fileList)
    , Project(project)
    , m_frontEnd(frontEnd)
{
    if (auto *object = dynamic_cast<QObject *>(frontEnd)) {
        m_frontEndObject = object;
        m_frontEndIsObject = true;
    }
    ReadLogSettings();
    // A job that fails because the server mishandles that runs again (TSessionPool).
    Ftp.Pipelining = true;
    connect(this, &QThread::finished, this, &TPublishOperator::OnFinished, Qt::QueuedConnection);
}

TPublishOperator::~TPublishOperator()
{
    wait();
    if (Kind != pkRefresh && !DryRun)
        WriteLog();
}

// Every error type of the program keeps its message as UTF-8 in what().
QString TPublishOperator::ErrorText(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

// ---- front end's thread ----

void TPublishOperator::Abort()
{
    Aborted = true;
    requestInterruption();
    if (m_abortPending || m_ended || !isRunning())
        return;
    m_abortPending = true;
    QTimer::singleShot(AbortWaitMs, this, [this] {
        if (!m_ended && !isFinished())
            Abandon();
    });
}

void TPublishOperator::Abandon()
{
    {
        QMutexLocker locker(&m_lock);
        // A worker past its last step ends on its own; its finished signal is on the way.
        if (Completed)
            return;
        m_abandoned = true;
    }
    // Makes the blocked server calls fail at once; the worker then unwinds quietly.
    Ftp.Abort();
    {
        std::lock_guard pool(m_poolMutex);
        if (m_pool)
            m_pool->Abort();
    }
    EndOnce();
}

void TPublishOperator::EndOnce()
{
    if (m_ended)
        return;
    m_ended = true;
    m_frontEnd->OperationEnd(this);
}

void TPublishOperator::OnFinished()
{
    // Pairs with the worker's release of the lock at the end of run(): the front end gets
    // the file list and the project back with everything the worker wrote visible.
    {
        QMutexLocker locker(&m_lock);
    }
    EndOnce();
    deleteLater();
}

void TPublishOperator::Post(std::function<void()> call)
{
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            if (!m_abandoned && !m_ended)
                call();
        },
        Qt::QueuedConnection);
}

void IPublishFrontEnd::PlayAlert(const QString &soundFile)
{
    Q_UNUSED(soundFile);
    if (::isatty(STDERR_FILENO)) {
        const ssize_t written = ::write(STDERR_FILENO, "\a", 1);
        (void)written;
    }
}

// ---- worker: reporting ----

void TPublishOperator::LogLine(int level, const QString &text)
{
    Post([this, level, text] { m_frontEnd->LogLine(level, text); });
}

void TPublishOperator::SetProgress(int percent)
{
    Post([this, percent] { m_frontEnd->SetProgress(percent); });
}

void TPublishOperator::SetStatusText(const QString &text)
{
    Post([this, text] { m_frontEnd->SetStatusText(text); });
}

void TPublishOperator::AppendLogText(const QString &text)
{
    Post([this, text] { m_frontEnd->AppendLogText(text); });
}

void TPublishOperator::AddLog(int level, const QString &text)
{
    Post([this, level, text] {
        m_frontEnd->LogLine(level, text);
        if (level == 1 && Settings.SoundEnabled)
            m_frontEnd->PlayAlert(Settings.ErrorSound);
    });
    LogLines.append(text);
}

void TPublishOperator::AddError(const QString &text)
{
    AddLog(1, text);
    HadErrors = true;
}

void TPublishOperator::CheckAbandoned()
{
    if (m_abandoned)
        throw TAbandoned();
}

void TPublishOperator::Remote(const std::function<void()> &call)
{
    m_lock.unlock();
    std::exception_ptr failure;
    try {
        call();
    } catch (...) {
        failure = std::current_exception();
    }
    m_lock.lock();
    CheckAbandoned();
    if (failure)
        std::rethrow_exception(failure);
}

void TPublishOperator::HandOver(const std::function<void()> &call)
{
    m_lock.unlock();
    QMetaObject::invokeMethod(
        this,
        [this, &call] {
            if (m_abandoned || m_ended)
                return;
            try {
                call();
            } catch (...) {
                // A front end's fault must not unwind through the event loop.
            }
        },
        Qt::BlockingQueuedConnection);
    m_lock.lock();
    CheckAbandoned();
}

int TPublishOperator::Ask(const QString &text)
{
    AskText = text;
    int answer = mrCancel; // also the answer when the front end is gone
    HandOver([this, &answer] { answer = m_frontEnd->Ask(AskText); });
    AskResult = answer;
    return AskResult;
}

void TPublishOperator::NotifyItem(TFileListItem *item)
{
    CurrentItem = item;
    HandOver([this] { m_frontEnd->ItemChanged(CurrentItem); });
}

void TPublishOperator::RunClearView()
{
    HandOver([this] { m_frontEnd->ClearView(this); });
}

void TPublishOperator::RunFillView()
{
    HandOver([this] { m_frontEnd->FillView(this); });
}

// ---- worker: the operation ----

void TPublishOperator::run()
{
    QMutexLocker locker(&m_lock);
    m_sinceSave.start(); // the project file holds what the operation starts from
    try {
        Execute();
    } catch (...) {
        // TAbandoned: abandoned (the front end has been told) or aborted; nothing more to say.
    }
    m_lock.unlock();
    ClosePool();
    Ftp.Disconnect(); // never raises
    m_lock.lock();
    // Still under the lock: an abandoning front end reads nothing more of this object.
    if (!m_abandoned) {
        FtpStats = Ftp.Stats();
        FtpStats.Commands += m_extraStats.Commands;
        FtpStats.RoundTrips += m_extraStats.RoundTrips;
        FtpStats.Connections += m_extraStats.Connections;
    }
    Completed = true;
}

void TPublishOperator::Execute()
{
    try {
        // A blank folder would be taken as "/" and a moved or unmounted one would scan as
        // empty (its records purged, removal taking every file off the server); a port that is
        // not a number must not quietly become 21.
        const QString refusal = ProjectRefusal(*Project, Kind != pkRefresh);
        if (!refusal.isEmpty()) {
            AddError(refusal);
            return;
        }
        FileList->LocalRoot = Project->GetLocalPath();
        FileList->RemoteRoot = Project->GetRemotePath();
        IncSubDirs = Project->Nodes(QStringLiteral("IncSubDirs"))->AsBoolean();
        Project->Filter.LoadLocal(FileList->LocalRoot, Project->Nodes(QStringLiteral("Filters")));
        StartTime = QDateTime::currentDateTime();
        m_sinceStart.start();
        FoldersCount = 0;
        FilesCount = 0;
        m_textFiles.emplace(Settings.TextFiles);
        m_execFiles.emplace(Settings.ExecFiles);
        m_connections = ProjectConnections(*Project);
        switch (Kind) {
        case pkRefresh:
        case pkCompare:
            Refresh();
            break;
        case pkRemove:
            RemoveOperation();
            break;
        case pkDownload:
            DownloadOperation();
            break;
        case pkUpload:
            DryRun ? PlanUpload() : Upload();
            break;
        default:
            break;
        }
    } catch (const TAbandoned &) {
        throw;
    } catch (const std::exception &error) {
        AddError(ErrorText(error));
    } catch (...) {
        AddError(QStringLiteral("Unknown error"));
    }
}

void TPublishOperator::Refresh()
{
    bool purge = false;
    try {
        if (Kind == pkCompare) {
            AddLog(0, QStringLiteral("Compare of the local and server files"));
            ServerScan();
            CheckAgainstServer();
            MarkServerOnly();
        }
        purge = true;
    } catch (const std::exception &error) {
        AddError(ErrorText(error));
    }
    RunClearView();
    FileList->Clear();
    for (int i = 0; i < Project->Versions.Count(); ++i)
        Project->Versions.Items(i)->Seen = false;
    LocalScan();
    // After the scan: what it met is there, so only the records it did not meet are looked up.
    if (purge) {
        try {
            PurgeVersions();
        } catch (const std::exception &error) {
            AddError(ErrorText(error));
        }
    }
    if (Kind == pkCompare && purge)
        FillCompareLists();
    if (Kind == pkCompare && !HadErrors)
        StatisticsReport();
    RunFillView();
}

void TPublishOperator::ConnectStep()
{
    // After Abort nothing connects (a reconnection included): the operation ends quietly.
    if (Terminated())
        throw TAbandoned();
    TProject &project = *Project;
    Ftp.Protocol = project.Nodes(QStringLiteral("Protocol"))->AsString(); // "" is ftp
    Ftp.ServerName = project.Nodes(QStringLiteral("Host"))->AsString().trimmed();
    quint16 port = 21; // checked before the operation started
    ParsePort(project.Nodes(QStringLiteral("Port"))->AsString(), port,
              DefaultPort(ProjectProtocol(project)));
    Ftp.ServerPort = port;
    bool ok = false;
    qint64 timeout = project.Nodes(QStringLiteral("Timeout"))->AsString().trimmed().toLongLong(&ok);
    if (!ok)
        timeout = 60;
    Ftp.Timeout
        = int(qBound(qint64(0), timeout, qint64(std::numeric_limits<int>::max() / 1000)) * 1000);
    Ftp.Passive = project.Nodes(QStringLiteral("Passive"))->AsBoolean();
    Ftp.UserName = project.Nodes(QStringLiteral("User"))->AsString();
    Ftp.Password = project.Password;
    Ftp.Proxy = project.Nodes(QStringLiteral("Proxy"))->AsBoolean() ? GetProxyString() : QString();
    Ftp.Encryption = ProjectEncryption(project);
    Ftp.TrustedFingerprint = project.Nodes(QStringLiteral("TrustedCertificate"))->AsString();
    Ftp.RememberHostKey = RememberHostKey;
    Ftp.ExpectTls = ProjectExpectsTls(project);
    // A file the server holds short after its upload stays in need of upload.
    Ftp.VerifyStoredSize = project.Nodes(QStringLiteral("CheckSize"))->AsBoolean();
    Ftp.OnCommand = OnCommand;
    Ftp.OnReply = OnReply;
    Ftp.OnPassphrase = [this](const QString &keyFile, int attempt, QString &passphrase) {
        return Passphrase(keyFile, attempt, passphrase);
    };

    const QString text = QStringLiteral("connecting to ") + Ftp.ServerName
                         + QStringLiteral(" port ") + QString::number(Ftp.ServerPort);
    SetStatusText(text);
    AddLog(0, text);
    try {
        LogIn();
    } catch (const EFtpCertificateError &) {
        throw; // the password never left
    } catch (const EFtpDowngradeError &) {
        throw;
    } catch (const std::exception &) {
        // Ask for the password again next time: it may be the reason.
        project.Password.clear();
        project.PasswordKnown = false;
        throw;
    }
    AddLog(Ftp.FellBackToPlain() ? 2 : 0, Ftp.SecurityText());
    if (!FileList->RemoteRoot.isEmpty()) {
        AddLog(0, QStringLiteral("changing of the folder to ") + FileList->RemoteRoot);
        EnterRemoteRoot(FileList->RemoteRoot);
    }
    QString current = m_plannedRoot;
    if (current.isEmpty())
        Remote([this, &current] { current = Ftp.GetCurrentDir(); });
    FileList->RemoteRoot = IncludeTrailingSlash(current);
    project.Filter.LoadRemote(FileList->RemoteRoot, project.Nodes(QStringLiteral("Filters")));
}

void TPublishOperator::LogIn()
{
    // At most one question of each kind, then the answer stands.
    for (bool askedTrust = false, askedPlain = false;;) {
        try {
            Remote([this] { Ftp.Connect(); });
            break;
        } catch (const EFtpCertificateError &error) {
            // A changed certificate is refused outright: the user trusted another one.
            if (error.Changed || askedTrust)
                throw;
            askedTrust = true;
            const TCertificateInfo certificate = error.Certificate;
            bool trusted = false;
            HandOver([&] { trusted = m_frontEnd->TrustCertificate(certificate); });
            if (!trusted)
                throw;
            Ftp.TrustedFingerprint = certificate.Fingerprint;
            // A host key is kept in known_hosts by the session (or only for this run), never
            // in the project: a trust kept there would accept the key again after the user
            // removed it from known_hosts.
            if (dynamic_cast<const EFtpHostKeyError *>(&error)) {
                AddLog(2, QStringLiteral("the host key with the SHA-256 fingerprint ")
                              + certificate.Fingerprint
                              + (Ftp.RememberHostKey
                                     ? QStringLiteral(" is trusted and added to known_hosts")
                                     : QStringLiteral(" is accepted for this run")));
                continue;
            }
            Project->Nodes(QStringLiteral("TrustedCertificate"))
                ->SetAsString(certificate.Fingerprint);
            AddLog(2, QStringLiteral("the certificate with the SHA-256 fingerprint ")
                          + certificate.Fingerprint
                          + QStringLiteral(" is trusted for this project"));
        } catch (const EFtpDowngradeError &error) {
            if (askedPlain)
                throw;
            askedPlain = true;
            const QString text = error.Message();
            bool allowed = false;
            HandOver([&] { allowed = m_frontEnd->AllowPlainLogin(text); });
            if (!allowed)
                throw;
            Ftp.ExpectTls = false;
            AddLog(2, QStringLiteral("the server offers no TLS; the login goes in clear this "
                                     "time, as the user allowed"));
        }
    }
    // From now on "auto" insists on TLS with this server, in every session of the operation.
    if (Ftp.Encrypted()) {
        Ftp.ExpectTls = true;
        SetProjectTlsOffered(*Project);
    }
}

bool TPublishOperator::Passphrase(const QString &keyFile, int attempt, QString &passphrase)
{
    // Only the worker's own session asks; the extra sessions open the key with the passphrase it
    // was given (TFtp::KeyPassphrase, copied by the pool).
    if (QThread::currentThread() != this || m_abandoned)
        return false;
    if (attempt == 0 && m_passphrases.contains(keyFile)) {
        passphrase = m_passphrases.value(keyFile);
        return true;
    }
    // Called inside a blocking connect (Remote): the worker holds no lock the front end needs.
    bool given = false;
    QMetaObject::invokeMethod(
        this,
        [&] {
            if (m_abandoned || m_ended)
                return;
            try {
                given = m_frontEnd->AskPassphrase(keyFile, passphrase);
            } catch (...) {
                // A front end's fault must not unwind through the event loop.
            }
        },
        Qt::BlockingQueuedConnection);
    if (given) {
        m_passphrases.insert(keyFile, passphrase);
        Ftp.KeyPassphrase = passphrase;
    }
    return given;
}

void TPublishOperator::EnsureConnected()
{
    try {
        Remote([this] { Ftp.GetCurrentDir(); });
    } catch (const std::exception &) {
        Remote([this] { Ftp.Disconnect(); });
        ConnectStep();
    }
}

void TPublishOperator::ProgressReport(qint64 bytes, qint64 fileBytes)
{
    BytesDone += bytes;
    FileBytesDone = qMin(fileBytes, FileSize);
    m_progress.Update(m_sinceStart.isValid() ? m_sinceStart.elapsed() : 0, BytesDone, TotalBytes,
                      FilesDone, FilesTotal);
    if (m_sinceUpdate.isValid() && m_sinceUpdate.elapsed() < ProgressIntervalMs)
        return;
    m_sinceUpdate.start();

    SetProgress(m_progress.Percent());
    SetStatusText(m_progress.StatusText(Kind == pkUpload ? QStringLiteral("uploaded")
                                                         : QStringLiteral("downloaded")));
    if (fileBytes >= 0 && m_sinceFile.isValid() && m_sinceFile.elapsed() > 1000 && FileSize > 0)
        AppendLogText(QStringLiteral(" - ") + QString::number(Percent(FileBytesDone, FileSize))
                      + QStringLiteral("% completed..."));
}

void TPublishOperator::StatisticsReport()
{
    auto sizeText = [](qint64 size) {
        return size > 0 ? QStringLiteral(" (") + FormatSize(size) + QLatin1Char(')') : QString();
    };
    const TServerCounts counts = CountServer();
    AddLog(0, QStringLiteral("Server statistics"));
    AddLog(0, QStringLiteral("    Folders: ") + QString::number(counts.Folders));
    AddLog(0,
           QStringLiteral("    Files: ") + QString::number(counts.Files) + sizeText(counts.Size));
    const QString serverOnly
        = QStringLiteral(" exists on the server but does not exist in the local system");
    if (counts.OnlyFolders > 0)
        AddLog(0, QStringLiteral("    ") + QString::number(counts.OnlyFolders)
                      + QStringLiteral(" folders") + serverOnly);
    if (counts.OnlyFiles > 0)
        AddLog(0, QStringLiteral("    ") + QString::number(counts.OnlyFiles)
                      + QStringLiteral(" files") + sizeText(counts.OnlySize) + serverOnly);
    if (FileList->Count() == 0)
        return;
    qint64 folders, files, totalSize, outdatedFolders, outdatedFiles, outdatedSize;
    FileList->Items(0)->GetStatistics(folders, files, totalSize, outdatedFolders, outdatedFiles,
                                      outdatedSize);
    AddLog(0, QStringLiteral("Local statistics"));
    AddLog(0, QStringLiteral("    Folders: ") + QString::number(folders));
    AddLog(0, QStringLiteral("    Files: ") + QString::number(files) + sizeText(totalSize));
    if (outdatedFiles > 0)
        AddLog(0, QStringLiteral("    ") + QString::number(outdatedFiles) + QStringLiteral(" files")
                      + sizeText(outdatedSize) + QStringLiteral(" need uploading"));
    else
        AddLog(0, QStringLiteral("    All files are uploaded"));
}

// ---- worker: parallel passes ----

TSessionPool &TPublishOperator::Pool()
{
    std::lock_guard pool(m_poolMutex);
    if (!m_pool)
        m_pool = std::make_unique<TSessionPool>(Ftp, m_connections);
    // Abandoned between two passes: the new pool must not start work.
    if (m_abandoned)
        m_pool->Abort();
    return *m_pool;
}

void TPublishOperator::ClosePool()
{
    std::unique_ptr<TSessionPool> pool;
    {
        std::lock_guard lock(m_poolMutex);
        pool = std::move(m_pool);
    }
    if (pool)
        m_extraStats = pool->ExtraStats();
}

void TPublishOperator::RunParallel(const std::function<TStep()> &next, bool transfers)
{
    TSessionPool &pool = Pool();
    struct TRunning
    {
        QString Subject;
        std::function<void(const QString &)> Done;
    };
    QHash<quint64, TRunning> running;
    quint64 lastJob = 0;
    qint64 bytesSeen = pool.BytesMoved();
    bool exhausted = false;
    bool stopping = false;
    for (;;) {
        while (!exhausted && !stopping && !Terminated()
               && running.size() < qMax(1, pool.Capacity())) {
            TStep step = next();
            if (step.What == TStep::End)
                exhausted = true;
            if (step.What != TStep::Job)
                break;
            lastJob = pool.Submit(std::move(step.Body));
            running.insert(lastJob, {std::move(step.Subject), std::move(step.Done)});
        }
        if (running.isEmpty())
            break;
        // Abort ends every session's call at once; what has already arrived still counts.
        if (Terminated() && !stopping) {
            stopping = true;
            pool.Abort();
        }
        TSessionPool::TEvent event;
        bool got = false;
        Remote([&] { got = pool.NextEvent(event, 100); });
        if (got && event.Kind == TSessionPool::TEvent::Notice) {
            AddLog(2, event.Text);
        } else if (got) {
            const TRunning job = running.take(event.Job);
            // Several sessions report side by side: a failure line says what it is about.
            QString failure = event.Text;
            if (!failure.isEmpty() && !job.Subject.isEmpty() && !failure.contains(job.Subject))
                failure = job.Subject + QStringLiteral(": ") + failure;
            if (!event.Aborted && job.Done)
                job.Done(failure);
            // Uploads and downloads record what they moved; listings and removals do not.
            if (transfers)
                RecordsChanged();
        }
        if (transfers) {
            const qint64 moved = pool.BytesMoved();
            ProgressReport(moved - bytesSeen,
                           running.contains(lastJob) ? pool.JobBytes(lastJob) : -1);
            bytesSeen = moved;
        }
        SaveRecordsIfDue();
    }
    // A notice that came after the last job (a refusal that took its time) still belongs here.
    TSessionPool::TEvent event;
    while (pool.NextEvent(event, 0)) {
        if (event.Kind == TSessionPool::TEvent::Notice)
            AddLog(2, event.Text);
    }
}
