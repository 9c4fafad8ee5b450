// The upload: folders first, then every file whose last-write time differs from its record.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"

#include <QFileInfo>

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

void PutSiteFile(TFtp &ftp, const QString &remote, const QString &local, bool asAscii, bool safe)
{
    if (!safe) {
        ftp.PutFile(remote, local, asAscii);
        return;
    }
    // The live file is replaced only by a complete copy, under a name that no file of the site
    // has: the site's own "x_safeupload" would be overwritten and renamed away.
    QString suffix = QStringLiteral("_safeupload");
    for (int n = 1; QFileInfo::exists(local + suffix); ++n)
        suffix = QStringLiteral("_safeupload%1").arg(n);
    const QString temporary = remote + suffix;
    ftp.PutFile(temporary, local, asAscii);
    // Unix servers rename over the live file at once, so it is never missing; a server that
    // refuses to replace a file gets it deleted first.
    try {
        ftp.RenameFile(temporary, remote);
        return;
    } catch (const std::exception &) {
    }
    try {
        ftp.DeleteFile(remote);
    } catch (const std::exception &) {
        // The file may not exist: then the rename below reports the real fault.
    }
    ftp.RenameFile(temporary, remote);
}

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
    if (FileList->CountOutdated(false) == 0) {
        AddLog(0, QStringLiteral("No files for uploading"));
        return;
    }
    ConnectStep();
    BytesDone = 1;
    TotalBytes = FileList->OutdatedSize();
    StartTime = QDateTime::currentDateTime();
    m_sinceStart.start();
    m_sinceUpdate.start();
    FilesTotal = FileList->CountOutdated(true);
    if (TotalBytes == 0)
        TotalBytes = 1;
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
                AddError(ErrorText(error));
                continue;
            }
        }
        if (!item->HasOutdatedChildren()) {
            item->Synchronous = true;
            NotifyItem(item);
        }
        record->Date = 1;
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
