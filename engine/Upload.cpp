// The upload: folders first, then every file whose last-write time differs from its record.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "engine/ResumeRecords.h"
#include "ftp/FtpLineEnds.h"
#include "store/PrjCls.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <queue>

#include <sys/stat.h>

namespace {

// MKD first: a new folder is the common case. Only a refused one is looked at with CWD,
// which leaves the session there; harmless, every later path is absolute. True when the
// folder was created; raises the refusal when it is not there either.
bool EnsureRemoteFolder(TFtp &ftp, const QString &remote)
{
    try {
        ftp.CreateDir(remote);
        return true;
    } catch (const std::exception &) {
        std::exception_ptr refusal = std::current_exception();
        try {
            ftp.SetCurrentDir(remote);
        } catch (const std::exception &) {
            std::rethrow_exception(refusal);
        }
        return false;
    }
}

// The live file of a safe upload may go only when its replacement is whole on the server under
// the temporary name: empty when it is, else what is wrong; `present` tells whether the copy
// is there at all. A server in ASCII mode may turn CR LF into LF or LF into CR LF, so a text
// file's size may move by its line ends.
QString CheckTemporary(TFtp &ftp, const QString &folder, const QString &name, const QString &local,
                       bool asAscii, bool &present)
{
    present = false;
    TLineEnds file;
    QFile source(local);
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be checked: the local file cannot be read");
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(1 << 16);
        if (chunk.isEmpty())
            return QStringLiteral("cannot be checked: the local file cannot be read");
        file.Add(chunk.constData(), chunk.size(), asAscii);
    }
    TFtpFileList listing;
    ftp.FindFiles(folder, listing);
    const TFtpFile *entry = listing.FindByName(name);
    if (!entry || entry->IsFolder)
        return QStringLiteral("is missing");
    present = true;
    if (entry->Size < file.Least(asAscii) || entry->Size > file.Most(asAscii))
        return QStringLiteral("holds %1 of %2 bytes").arg(entry->Size).arg(file.Bytes);
    return {};
}

// A temporary copy that cannot become the live file is of no use; a lost connection leaves it
// to the next operation.
void DropTemporary(TFtp &ftp, const QString &temporary)
{
    if (ftp.Lost())
        return;
    try {
        ftp.DeleteFile(temporary);
    } catch (const std::exception &) {
        // Never stored, or the server refuses: nothing more to do here.
    }
}

// A large binary file's safe upload that may go on from where an earlier one was cut off.
struct TResume
{
    TResumeRecords *Records = nullptr; // null: the file starts over whatever the server holds
    TResumeRecords::TEntry Entry;      // the file as it is sent
    qint64 From = 0;                   // out: the bytes of it the server held
};

// Sends the file to its temporary name, going on from what the server holds of it when the
// entry says those bytes are this file's. After a failure the copy stays on the server only
// while an entry speaks for it.
void PutTemporary(TFtp &ftp, const QString &temporary, const QString &remote, const QString &local,
                  bool asAscii, TResume *resume)
{
    TResumeRecords *records = resume && ftp.CanResume() ? resume->Records : nullptr;
    if (!records) {
        try {
            ftp.PutFile(temporary, local, asAscii);
        } catch (const std::exception &) {
            DropTemporary(ftp, temporary);
            throw;
        }
        return;
    }
    const qint64 size = resume->Entry.Size;
    resume->Entry.Temporary = temporary.mid(temporary.lastIndexOf(QLatin1Char('/')) + 1);
    // The entry is written once the server has opened the copy for this file (and so cut what
    // it held): until then the copy may hold another version's bytes.
    bool kept = records->Matches(remote, resume->Entry);
    try {
        if (kept) {
            const qint64 held = ftp.StoredSize(temporary);
            if (held > 0 && held <= size)
                resume->From = held;
        }
        // A copy already whole (cut off before its rename) needs only the check.
        if (resume->From < size || size == 0)
            ftp.PutFile(temporary, local, asAscii, resume->From,
                        [&] { kept = kept || records->Put(remote, resume->Entry); });
        if (resume->From > 0) {
            const qint64 stored = ftp.StoredSize(temporary);
            if (stored != size) {
                records->Remove(remote);
                kept = false;
                throw EFtpIncompleteError(
                    QStringLiteral("%1 did not reach the server whole: going on from byte %2, its "
                                   "temporary copy %3 holds %4 of %5 bytes")
                        .arg(local)
                        .arg(resume->From)
                        .arg(temporary)
                        .arg(stored)
                        .arg(size));
            }
        }
    } catch (const std::exception &) {
        if (!kept)
            DropTemporary(ftp, temporary);
        throw;
    }
}

void PutSiteFile(TFtp &ftp, const QString &remote, const QString &local, bool asAscii, bool safe,
                 TResume *resume = nullptr)
{
    if (!safe) {
        ftp.PutFile(remote, local, asAscii);
        return;
    }
    // The live file is replaced only by a complete copy, sent under a name of ours beside it.
    const qsizetype slash = remote.lastIndexOf(QLatin1Char('/'));
    const QString folder = remote.left(slash + 1);
    const QString name = SafeUploadTemporaryName(
        remote.mid(slash + 1), QFileInfo(local).absolutePath() + QLatin1Char('/'));
    const QString temporary = folder + name;
    PutTemporary(ftp, temporary, remote, local, asAscii, resume);
    const auto placed = [&] {
        if (resume && resume->Records)
            resume->Records->Remove(remote);
    };
    // Unix servers rename over the live file at once, so it is never missing.
    QString refusal;
    try {
        ftp.RenameFile(temporary, remote);
        placed();
        return;
    } catch (const std::exception &error) {
        refusal = QString::fromUtf8(error.what());
    }
    // A server that refuses to replace a file gets the live one deleted first, but only when
    // the copy is whole under its name: another run may have renamed it away, or the server
    // may have kept only part of it.
    bool present = false;
    const QString problem = CheckTemporary(ftp, folder, name, local, asAscii, present);
    if (!problem.isEmpty()) {
        if (present)
            DropTemporary(ftp, temporary);
        throw EFtpError(QStringLiteral("the file %1 has been left as it was on the server: the "
                                       "rename refused (%2) and its temporary copy %3 %4")
                            .arg(remote, refusal, temporary, problem));
    }
    try {
        ftp.DeleteFile(remote);
    } catch (const std::exception &) {
        // The file may not exist: then the rename below reports the real fault.
    }
    ftp.RenameFile(temporary, remote);
    placed();
}

} // namespace

QString SafeUploadTemporaryName(const QString &name, const QString &localFolder)
{
    // Short and of one length, so it fits wherever the live name fits; derived from the name,
    // so a run cut off leaves at most one per file, which the next upload of it overwrites.
    for (int n = 0;; ++n) {
        QByteArray seed = name.toUtf8();
        if (n > 0)
            seed += '\0' + QByteArray::number(n);
        const QString temporary
            = QStringLiteral("zandrel-upload-")
              + QString::fromLatin1(
                  QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex().left(16))
              + QStringLiteral(".tmp");
        // Never a name of the site's: that file would be overwritten and renamed away.
        if (!QFileInfo::exists(localFolder + temporary))
            return temporary;
    }
}

bool IsSafeUploadTemporary(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^zandrel-upload-[0-9a-f]{16}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

namespace {

// Clearly longer than the file system's clock step: a status older than this shows any later
// write.
constexpr qint64 FreshStampMs = 50;

// What a session did for one file besides the transfer, for the log.
struct TUploadOutcome
{
    bool Repaired = false;      // the folder chain was made sure of after a failure
    QStringList CreatedFolders; // by the repair
    QString MissingFolder;      // the repair could neither create nor find it
    bool PermissionSet = false; // CHMOD was sent
    TWriteStamp Stamp;          // the file's status as it was sent
    qint32 Age = -1;            // its time as the record keeps it
    bool InSlot = false;        // written in the current two-second slot
    bool StampTells = false;    // a later write would change the status
    quint64 Hash = 0;           // of the file as read just before the transfer
    bool Hashed = false;
    qint64 ResumedFrom = 0; // the bytes an earlier upload had left on the server
};

} // namespace

bool TPublishOperator::StartUpload()
{
    AddLog(0, QStringLiteral("Upload from ") + FileList->LocalRoot + QStringLiteral(" to ")
                  + Project->GetUrl());
    Refresh();
    // Aborted during the scan: the list is incomplete, and nothing connects.
    if (Terminated())
        return false;
    BringUpToDate();
    if (FileList->CountOutdated(false) == 0) {
        AddLog(0, QStringLiteral("No files for uploading"));
        return false;
    }
    ConnectStep();
    return true;
}

void TPublishOperator::Upload()
{
    if (!StartUpload() || !GuardServerChanges())
        return;
    BytesDone = 0;
    m_progress = {};
    TotalBytes = FileList->OutdatedSize();
    StartTime = QDateTime::currentDateTime();
    m_sinceStart.start();
    m_sinceUpdate.start();
    FilesTotal = FileList->CountOutdated(true) - int(m_keptOnServer.size());
    for (const TFileListItem *kept : std::as_const(m_keptOnServer))
        TotalBytes -= kept->Size;
    m_resume.Open(Project->FileName.isEmpty() ? QString() : ResumeFileOf(Project->FileName));
    // The other sessions log in while the first makes the folders.
    Pool().Open(qMin(m_connections, FilesTotal));
    FilePass();
    StampServerFiles();
    AddLog(0, QStringLiteral("%1 folder(s) have been created and %2 file(s) have been uploaded")
                  .arg(FoldersCount)
                  .arg(FilesCount));
}

TPublishOperator::TStep TPublishOperator::FoldersStep(std::vector<TFileListItem *> items,
                                                      std::function<void(TFileListItem *)> settled)
{
    QStringList remotes;
    for (const TFileListItem *item : items)
        remotes.append(item->GetRemotePath());
    // Per folder: its failure (empty when it is there) and whether this run made it.
    auto failures = std::make_shared<QStringList>();
    auto created = std::make_shared<QList<bool>>();
    TStep step;
    step.What = TStep::Job;
    step.Body = [remotes, failures, created](TFtp &ftp) {
        // MKD first: a new folder is the common case, and a run of them goes in one write. A
        // refused one is looked at with CWD, which leaves the session there; harmless, every
        // later path is absolute.
        ftp.CreateDirs(remotes, *failures);
        created->clear();
        for (qsizetype i = 0; i < remotes.size(); ++i) {
            created->append((*failures)[i].isEmpty());
            if (created->constLast())
                continue;
            try {
                ftp.SetCurrentDir(remotes[i]);
                (*failures)[i].clear();
            } catch (const std::exception &) {
                if (ftp.Lost())
                    throw;
            }
        }
    };
    step.Done = [this, items, remotes, failures, created, settled](const QString &failure) {
        for (size_t i = 0; i < items.size(); ++i) {
            const QString problem = failure.isEmpty() ? failures->value(qsizetype(i)) : failure;
            const bool made = failure.isEmpty() && created->value(qsizetype(i));
            const QString &remote = remotes[qsizetype(i)];
            if (!problem.isEmpty() || made)
                AddLog(0, QStringLiteral("creating of the folder ") + remote);
            if (!problem.isEmpty()) {
                // Not on the server: the folder keeps needing upload.
                AddError(remote + QStringLiteral(": ") + problem);
            } else {
                m_foldersEnsured.insert(items[i]);
                if (made)
                    ++FoldersCount;
                FolderThere(items[i]);
            }
            settled(items[i]);
        }
    };
    return step;
}

void TPublishOperator::FolderThere(TFileListItem *item)
{
    if (!item->HasOutdatedChildren()) {
        item->Synchronous = true;
        NotifyItem(item);
    }
    Project->Versions.FindOrAdd(item->RelativeName)->Date = 1;
    RecordsChanged();
    SaveRecordsIfDue();
}

void TPublishOperator::FilePass()
{
    SetStatusText(QStringLiteral("checking of the folders "));
    // Within a folder the files of one transfer mode go together, so a session changes its
    // mode at most twice per folder; a folder's files are consecutive in the list.
    std::vector<TFileListItem *> folders, order;
    QSet<const TFileListItem *> waiting; // folders not settled yet
    int i = 1;
    while (i < FileList->Count()) {
        TFileListItem *item = FileList->Items(i);
        if (item->IsFolder) {
            if (!item->Synchronous) {
                folders.push_back(item);
                waiting.insert(item);
            }
            ++i;
            continue;
        }
        const TFileListItem *parent = item->Parent;
        int end = i;
        while (end < FileList->Count() && !FileList->Items(end)->IsFolder
               && FileList->Items(end)->Parent == parent)
            ++end;
        int first = -1;
        for (int j = i; j < end && first < 0; ++j) {
            if (!FileList->Items(j)->Synchronous)
                first = j;
        }
        if (first >= 0) {
            const bool firstMode = FileList->Items(first)->IsAscii;
            for (const bool sameMode : {true, false}) {
                for (int j = first; j < end; ++j) {
                    TFileListItem *file = FileList->Items(j);
                    if (!file->Synchronous && (file->IsAscii == firstMode) == sameMode
                        && !m_keptOnServer.contains(file))
                        order.push_back(file);
                }
            }
        }
        i = end;
    }
    // Several sessions take the files in turn, each keeping its own mode: one mode for the
    // whole pass first, then the other, so a session changes its mode at most once.
    if (m_connections > 1 && !order.empty()) {
        const bool firstMode = order.front()->IsAscii;
        std::stable_partition(order.begin(), order.end(), [firstMode](const TFileListItem *item) {
            return item->IsAscii == firstMode;
        });
    }

    // Folders go first, in list order as their parents allow: a run of them goes to one session
    // in one job, a folder's subfolders with it, made exactly as listed; a file goes as soon as
    // its own folder is settled, whatever the rest do.
    using TReady = std::priority_queue<size_t, std::vector<size_t>, std::greater<>>;
    TReady readyFolders, readyFiles;
    QHash<const TFileListItem *, std::vector<size_t>> foldersBelow, filesBelow;
    QSet<const TFileListItem *> sent; // folders handed to a session
    for (size_t j = 0; j < folders.size(); ++j) {
        if (waiting.contains(folders[j]->Parent))
            foldersBelow[folders[j]->Parent].push_back(j);
        else
            readyFolders.push(j);
    }
    for (size_t j = 0; j < order.size(); ++j) {
        if (waiting.contains(order[j]->Parent))
            filesBelow[order[j]->Parent].push_back(j);
        else
            readyFiles.push(j);
    }
    // A folder that failed settles too: what is below it tries, and fails, as before.
    const auto settled = [&](const TFileListItem *folder) {
        waiting.remove(folder);
        for (const size_t j : foldersBelow.take(folder)) {
            if (!sent.contains(folders[j]))
                readyFolders.push(j);
        }
        for (const size_t j : filesBelow.take(folder))
            readyFiles.push(j);
    };
    const auto next = [&]() -> TStep {
        std::vector<size_t> batch;
        QSet<const TFileListItem *> inBatch;
        const auto send = [&](size_t j) {
            batch.push_back(j);
            inBatch.insert(folders[j]);
            sent.insert(folders[j]);
        };
        while (!readyFolders.empty()) {
            const size_t j = readyFolders.top();
            readyFolders.pop();
            // A folder recorded as on the server costs nothing here; should it be gone after
            // all, the first transfer into it fails and creates it (UploadStep).
            if (Project->Versions.FindOrAdd(folders[j]->RelativeName)->Date != 1) {
                send(j);
            } else {
                FolderThere(folders[j]);
                settled(folders[j]);
            }
        }
        if (!batch.empty()) {
            for (size_t j = 0; j < folders.size(); ++j) {
                if (!sent.contains(folders[j]) && inBatch.contains(folders[j]->Parent)
                    && Project->Versions.FindOrAdd(folders[j]->RelativeName)->Date != 1)
                    send(j);
            }
            std::sort(batch.begin(), batch.end()); // list order: a parent before its subfolders
            std::vector<TFileListItem *> items;
            for (const size_t j : batch)
                items.push_back(folders[j]);
            return FoldersStep(std::move(items), [&settled](TFileListItem *f) { settled(f); });
        }
        if (!readyFiles.empty()) {
            TFileListItem *file = order[readyFiles.top()];
            readyFiles.pop();
            return UploadStep(file, false);
        }
        SettleRecords();
        const qint32 slot = DateTimeToFileDate(QDateTime::currentDateTime());
        for (auto again = m_sendAgain.begin(); again != m_sendAgain.end(); ++again) {
            if (GetFileAge((*again)->GetLocalPath()) != slot) {
                TFileListItem *file = *again;
                m_sendAgain.erase(again);
                return UploadStep(file, true);
            }
        }
        TStep wait;
        wait.What = waiting.isEmpty() && m_sendAgain.empty() ? TStep::End : TStep::Wait;
        return wait;
    };
    RunParallel(next, true);
    // The upload ends only once the records of files sent in their slot have settled and
    // the files written meanwhile have gone again; aborted, they keep needing upload.
    while (!Terminated() && (!m_settling.empty() || !m_sendAgain.empty())) {
        Remote([] { QThread::msleep(50); });
        RunParallel(next, true);
        SaveRecordsIfDue();
    }
}

TWriteStamp TPublishOperator::WriteStampOf(const QString &local)
{
    struct stat status;
    if (::stat(QFile::encodeName(local).constData(), &status) != 0)
        return {};
    return {qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec,
            qint64(status.st_size), qint64(status.st_ino)};
}

void TPublishOperator::BringUpToDate()
{
    if (m_upToDate.empty())
        return;
    const int count = int(m_upToDate.size());
    if (DryRun) {
        AddLog(0, QLatin1String(DryRunMark)
                      + QStringLiteral("%1 file(s) would be brought up to date without upload")
                            .arg(count));
        return;
    }
    for (const TUpToDate &file : std::as_const(m_upToDate)) {
        TVersionItem *record = Project->Versions.Find(file.Item->RelativeName);
        if (!record)
            continue;
        record->Date = file.Item->FileAge;
        record->SetContent(record->ContentSize, file.Modified, record->ContentHash);
    }
    m_upToDate.clear();
    AddLog(0, QStringLiteral("%1 file(s) have been brought up to date without upload").arg(count));
    RecordsChanged();
    SaveRecordsIfDue();
}

void TPublishOperator::RecordUploaded(TFileListItem *item, qint32 age, const TWriteStamp &stamp,
                                      quint64 hash, bool hashed)
{
    TVersionItem *record = Project->Versions.FindOrAdd(item->RelativeName);
    record->Date = age;
    if (hashed)
        record->SetContent(stamp.Size, stamp.Modified, hash);
    else
        record->ContentSize = -1;
    // What the server lists now is taken after the file pass.
    record->ServerSize = -1;
    if (m_protectServerChanges)
        m_stampDue.push_back(item);
    ++FilesCount;
    item->Synchronous = true;
    NotifyItem(item);
}

void TPublishOperator::SendAgain(TFileListItem *item, bool again)
{
    if (again) {
        AddError(QStringLiteral("the file ") + item->GetLocalPath()
                 + QStringLiteral(" was changed during its upload and still needs upload"));
        return;
    }
    m_sendAgain.push_back(item);
    ++FilesTotal;
    TotalBytes += item->Size;
}

void TPublishOperator::SettleRecords()
{
    // Records keep DOS times, two seconds apart: a write in the slot of the sent one would
    // leave the time as recorded. Once the slot is over every later write shows in the time,
    // and the exact status tells whether one came before.
    const qint32 slot = DateTimeToFileDate(QDateTime::currentDateTime());
    const auto settled
        = std::remove_if(m_settling.begin(), m_settling.end(), [&](const TSettling &file) {
              if (file.Age == slot)
                  return false;
              const QString local = file.Item->GetLocalPath();
              if (WriteStampOf(local) == file.Stamp && GetFileAge(local) == file.Age) {
                  RecordUploaded(file.Item, file.Age, file.Stamp, file.Hash, file.Hashed);
                  RecordsChanged();
              } else {
                  SendAgain(file.Item, file.Again);
              }
              return true;
          });
    m_settling.erase(settled, m_settling.end());
}

TPublishOperator::TStep TPublishOperator::UploadStep(TFileListItem *item, bool again)
{
    const QString remote = item->GetRemotePath();
    const QString local = item->GetLocalPath();
    AddLog(0, QStringLiteral("uploading ") + local);
    m_sinceFile.start();
    FileSize = item->Size;
    FileBytesDone = 0;
    // Its folder was taken for being on the server without a look: should the transfer fail,
    // the session makes sure of the folders, once per folder, and tries again.
    QStringList chain;
    TFileListItem *folder = item->Parent;
    if (folder && folder->Parent && !m_foldersEnsured.contains(folder)) {
        for (TFileListItem *f = folder; f && f->Parent; f = f->Parent)
            chain.prepend(f->GetRemotePath());
    }
    const bool ascii = item->IsAscii;
    const bool safe = item->UseSafeUpload;
    const bool setPermission = item->SetExecPermission;
    const bool resumable = safe && !ascii && item->Size >= TResumeRecords::FromBytes;
    TResumeRecords *const resumeRecords = &m_resume;
    auto outcome = std::make_shared<TUploadOutcome>();

    TStep step;
    step.What = TStep::Job;
    step.Subject = local;
    step.Body = [=](TFtp &ftp) {
        *outcome = TUploadOutcome();
        // The status of the bytes about to be sent; a write during the transfer shows as a
        // different one afterwards, and the server then holds a mix of both versions. A file
        // written in the current slot goes at once; its record waits for the slot to pass
        // (SettleRecords). A write within the file system's clock step of the last one may
        // leave even the exact status as it was: such a file waits that long first.
        for (int look = 0;; ++look) {
            outcome->Stamp = WriteStampOf(local);
            outcome->Age = GetFileAge(local);
            const QDateTime now = QDateTime::currentDateTime();
            outcome->InSlot = outcome->Age != -1 && outcome->Age == DateTimeToFileDate(now);
            const qint64 since = now.toMSecsSinceEpoch()
                                 - qMax(outcome->Stamp.Modified, outcome->Stamp.Changed) / 1000000;
            outcome->StampTells = outcome->Stamp.Size >= 0 && since >= FreshStampMs;
            if (!outcome->InSlot || outcome->StampTells || since < 0 || look > 0)
                break;
            QThread::msleep(FreshStampMs - since);
        }
        // Read again by the transfer, from the cache: a write meanwhile changes the status,
        // and the hash is then not kept.
        outcome->Hashed = outcome->Stamp.Size >= 0 && HashFile(local, outcome->Hash);
        TResume resume;
        if (resumable && outcome->Hashed) {
            resume.Records = resumeRecords;
            resume.Entry = {outcome->Stamp.Size, outcome->Stamp.Modified, outcome->Hash, {}};
        }
        const auto put = [&] {
            PutSiteFile(ftp, remote, local, ascii, safe, &resume);
            outcome->ResumedFrom = resume.From;
        };
        try {
            put();
        } catch (const EFtpIncompleteError &) {
            throw; // the server answered for the file itself: no folder to mend
        } catch (const std::exception &) {
            if (chain.isEmpty())
                throw;
            outcome->Repaired = true;
            for (const QString &path : chain) {
                try {
                    if (EnsureRemoteFolder(ftp, path))
                        outcome->CreatedFolders.append(path);
                } catch (const std::exception &) {
                    outcome->MissingFolder = path;
                    throw;
                }
            }
            put();
        }
        if (setPermission) {
            outcome->PermissionSet = true;
            ftp.Chmod(remote, QStringLiteral("755"));
        }
    };
    step.Done = [=, this](const QString &failure) {
        if (outcome->Repaired)
            m_foldersEnsured.insert(folder);
        for (const QString &path : std::as_const(outcome->CreatedFolders)) {
            AddLog(0, QStringLiteral("creating of the folder ") + path);
            ++FoldersCount;
        }
        if (!outcome->MissingFolder.isEmpty())
            AddLog(0, QStringLiteral("creating of the folder ") + outcome->MissingFolder);
        if (outcome->ResumedFrom > 0)
            AddLog(0, QStringLiteral("resumed at byte %1 of %2: the server held the first part "
                                     "from an earlier upload")
                          .arg(outcome->ResumedFrom)
                          .arg(outcome->Stamp.Size));
        if (outcome->PermissionSet)
            AddLog(0, QStringLiteral("set permission to 755"));
        if (!failure.isEmpty()) {
            AddError(failure);
        } else if (outcome->InSlot) {
            if (outcome->StampTells && WriteStampOf(local) == outcome->Stamp)
                m_settling.push_back(
                    {item, outcome->Age, outcome->Stamp, again, outcome->Hash, outcome->Hashed});
            else
                SendAgain(item, again);
        } else if (outcome->Age == -1 || GetFileAge(local) != outcome->Age) {
            AddError(QStringLiteral("the file ") + local
                     + QStringLiteral(" was changed during its upload and still needs upload"));
        } else {
            RecordUploaded(item, outcome->Age, outcome->Stamp, outcome->Hash,
                           outcome->Hashed && WriteStampOf(local) == outcome->Stamp);
        }
        ++FilesDone;
    };
    return step;
}
