// The upload: folders first, then every file whose last-write time differs from its record.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "ftp/FtpLineEnds.h"
#include "store/PrjCls.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

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

void PutSiteFile(TFtp &ftp, const QString &remote, const QString &local, bool asAscii, bool safe)
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
    try {
        ftp.PutFile(temporary, local, asAscii);
    } catch (const std::exception &) {
        DropTemporary(ftp, temporary);
        throw;
    }
    // Unix servers rename over the live file at once, so it is never missing.
    QString refusal;
    try {
        ftp.RenameFile(temporary, remote);
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

// What a session did for one file besides the transfer, for the log.
struct TUploadOutcome
{
    bool Repaired = false;      // the folder chain was made sure of after a failure
    QStringList CreatedFolders; // by the repair
    QString MissingFolder;      // the repair could neither create nor find it
    bool PermissionSet = false; // CHMOD was sent
};

} // namespace

void TPublishOperator::Upload()
{
    AddLog(0, QStringLiteral("Upload from ") + FileList->LocalRoot + QStringLiteral(" to ")
                  + Project->GetUrl());
    Refresh();
    // Aborted during the scan: the list is incomplete, and nothing connects.
    if (Terminated())
        return;
    if (FileList->CountOutdated(false) == 0) {
        AddLog(0, QStringLiteral("No files for uploading"));
        return;
    }
    ConnectStep();
    BytesDone = 0;
    m_progress = {};
    TotalBytes = FileList->OutdatedSize();
    StartTime = QDateTime::currentDateTime();
    m_sinceStart.start();
    m_sinceUpdate.start();
    FilesTotal = FileList->CountOutdated(true);
    FolderPass();
    FilePass();
    AddLog(0, QStringLiteral("%1 folder(s) have been created and %2 file(s) have been uploaded")
                  .arg(FoldersCount)
                  .arg(FilesCount));
}

void TPublishOperator::FolderPass()
{
    SetStatusText(QStringLiteral("checking of the folders "));
    for (int i = 1; i < FileList->Count(); ++i) {
        if (Terminated())
            break;
        TFileListItem *item = FileList->Items(i);
        if (!item->IsFolder || item->Synchronous)
            continue;
        TVersionItem *record = Project->Versions.FindOrAdd(item->RelativeName);
        // A folder recorded as on the server costs nothing here; should it be gone after all,
        // the first transfer into it fails and creates it (UploadFile).
        if (record->Date != 1) {
            try {
                CreateRemoteFolder(item->GetRemotePath());
                m_foldersEnsured.insert(item);
            } catch (const std::exception &error) {
                // Not on the server: the folder keeps needing upload.
                AddError(item->GetRemotePath() + QStringLiteral(": ") + ErrorText(error));
                continue;
            }
        }
        if (!item->HasOutdatedChildren()) {
            item->Synchronous = true;
            NotifyItem(item);
        }
        record->Date = 1;
        RecordsChanged();
        SaveRecordsIfDue();
    }
}

void TPublishOperator::CreateRemoteFolder(const QString &remote)
{
    bool created = false;
    try {
        Remote([&] { created = EnsureRemoteFolder(Ftp, remote); });
    } catch (const std::exception &) {
        AddLog(0, QStringLiteral("creating of the folder ") + remote);
        throw;
    }
    if (created) {
        AddLog(0, QStringLiteral("creating of the folder ") + remote);
        ++FoldersCount;
    }
}

void TPublishOperator::FilePass()
{
    // Within a folder the files of one transfer mode go together, so a session changes its
    // mode at most twice per folder; a folder's files are consecutive in the list.
    std::vector<TFileListItem *> order;
    int i = 0;
    while (i < FileList->Count()) {
        const TFileListItem *parent = FileList->Items(i)->Parent;
        int end = i;
        while (end < FileList->Count() && !FileList->Items(end)->IsFolder
               && FileList->Items(end)->Parent == parent)
            ++end;
        if (end == i) {
            ++i;
            continue;
        }
        int first = -1;
        for (int j = i; j < end && first < 0; ++j) {
            if (!FileList->Items(j)->Synchronous)
                first = j;
        }
        if (first >= 0) {
            const bool firstMode = FileList->Items(first)->IsAscii;
            for (const bool sameMode : {true, false}) {
                for (int j = first; j < end; ++j) {
                    TFileListItem *item = FileList->Items(j);
                    if (!item->Synchronous && (item->IsAscii == firstMode) == sameMode)
                        order.push_back(item);
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
    size_t next = 0;
    RunParallel([&] { return next < order.size() ? UploadStep(order[next++]) : TStep{}; }, true);
}

TPublishOperator::TStep TPublishOperator::UploadStep(TFileListItem *item)
{
    const QString remote = item->GetRemotePath();
    const QString local = item->GetLocalPath();
    WaitForTwoSecondSlot(local);
    AddLog(0, QStringLiteral("uploading ") + local);
    m_sinceFile.start();
    FileSize = item->Size;
    FileBytesDone = 0;
    // The time of the bytes about to be sent; a write during the transfer shows as a
    // different time afterwards, and the server then holds a mix of both versions.
    const qint32 sentAge = GetFileAge(local);

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
    auto outcome = std::make_shared<TUploadOutcome>();

    TStep step;
    step.What = TStep::Job;
    step.Subject = local;
    step.Body = [=](TFtp &ftp) {
        *outcome = TUploadOutcome();
        try {
            PutSiteFile(ftp, remote, local, ascii, safe);
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
            PutSiteFile(ftp, remote, local, ascii, safe);
        }
        if (setPermission) {
            outcome->PermissionSet = true;
            ftp.Chmod(remote, QStringLiteral("755"));
        }
    };
    step.Done = [this, item, folder, local, sentAge, outcome](const QString &failure) {
        if (outcome->Repaired)
            m_foldersEnsured.insert(folder);
        for (const QString &path : std::as_const(outcome->CreatedFolders)) {
            AddLog(0, QStringLiteral("creating of the folder ") + path);
            ++FoldersCount;
        }
        if (!outcome->MissingFolder.isEmpty())
            AddLog(0, QStringLiteral("creating of the folder ") + outcome->MissingFolder);
        if (outcome->PermissionSet)
            AddLog(0, QStringLiteral("set permission to 755"));
        if (!failure.isEmpty()) {
            AddError(failure);
        } else if (sentAge == -1 || GetFileAge(local) != sentAge) {
            AddError(QStringLiteral("the file ") + local
                     + QStringLiteral(" was changed during its upload and still needs upload"));
        } else {
            Project->Versions.FindOrAdd(item->RelativeName)->Date = sentAge;
            ++FilesCount;
            item->Synchronous = true;
            NotifyItem(item);
        }
        ++FilesDone;
    };
    return step;
}

void TPublishOperator::WaitForTwoSecondSlot(const QString &local)
{
    // Records keep DOS times, two seconds apart: a file read in the slot it was written in
    // could be written again within that slot, and the record could not tell. Such a file is
    // sent once its slot has passed (at most two seconds), so every later write shows.
    while (!Terminated() && GetFileAge(local) == DateTimeToFileDate(QDateTime::currentDateTime()))
        Remote([] { QThread::msleep(50); });
}
