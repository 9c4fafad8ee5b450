// The upload: folders first, then every file whose last-write time differs from its record.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"

#include <QFileInfo>

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
    try {
        Ftp.OnProgress = [this](TFtp *, qint64 bytes) { ProgressReport(bytes); };
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
    } catch (...) {
        Ftp.OnProgress = nullptr;
        throw;
    }
    Ftp.OnProgress = nullptr;
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
    // MKD first: a new folder is the common case. Only a refused one is looked at with CWD,
    // which leaves the server there; harmless, every later path is absolute.
    try {
        Remote([this, &remote] { Ftp.CreateDir(remote); });
    } catch (const std::exception &) {
        bool exists = true;
        try {
            Remote([this, &remote] { Ftp.SetCurrentDir(remote); });
        } catch (const std::exception &) {
            exists = false;
        }
        if (exists)
            return;
        AddLog(0, QStringLiteral("creating of the folder ") + remote);
        throw;
    }
    AddLog(0, QStringLiteral("creating of the folder ") + remote);
    ++FoldersCount;
}

void TPublishOperator::FilePass()
{
    // Within a folder the files of one transfer mode go together, so the session changes its
    // mode at most twice per folder; a folder's files are consecutive in the list.
    int i = 0;
    while (i < FileList->Count() && !Terminated()) {
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
                for (int j = first; j < end && !Terminated(); ++j) {
                    TFileListItem *item = FileList->Items(j);
                    if (!item->Synchronous && (item->IsAscii == firstMode) == sameMode)
                        UploadFile(item);
                }
            }
        }
        i = end;
    }
}

void TPublishOperator::UploadFile(TFileListItem *item)
{
    TVersionItem *record = Project->Versions.FindOrAdd(item->RelativeName);
    m_sinceFile.start();
    FileSize = item->Size;
    FileBytesDone = 0;
    try {
        const QString remote = item->GetRemotePath();
        const QString local = item->GetLocalPath();
        WaitForTwoSecondSlot(local);
        AddLog(0, QStringLiteral("uploading ") + local);
        // The time of the bytes about to be sent; a write during the transfer shows as a
        // different time afterwards, and the server then holds a mix of both versions.
        const qint32 sentAge = GetFileAge(local);
        try {
            PutFile(remote, local, item->IsAscii, item->UseSafeUpload);
        } catch (const std::exception &) {
            // Its folder was taken for being on the server without a look: make sure it is
            // there, once per folder, and try again.
            TFileListItem *folder = item->Parent;
            if (!folder || !folder->Parent || m_foldersEnsured.contains(folder))
                throw;
            m_foldersEnsured.insert(folder);
            std::vector<TFileListItem *> chain;
            for (TFileListItem *f = folder; f && f->Parent; f = f->Parent)
                chain.push_back(f);
            for (auto f = chain.rbegin(); f != chain.rend(); ++f)
                CreateRemoteFolder((*f)->GetRemotePath());
            FileBytesDone = 0;
            PutFile(remote, local, item->IsAscii, item->UseSafeUpload);
        }
        if (item->SetExecPermission) {
            AddLog(0, QStringLiteral("set permission to 755"));
            Remote([this, &remote] { Ftp.Chmod(remote, QStringLiteral("755")); });
        }
        if (sentAge == -1 || GetFileAge(local) != sentAge) {
            AddError(QStringLiteral("the file ") + local
                     + QStringLiteral(" was changed during its upload and still needs upload"));
        } else {
            record->Date = sentAge;
            ++FilesCount;
            item->Synchronous = true;
            NotifyItem(item);
        }
    } catch (const std::exception &error) {
        AddError(ErrorText(error));
    }
    ++FilesDone;
    ProgressReport(0);
}

void TPublishOperator::WaitForTwoSecondSlot(const QString &local)
{
    // Records keep DOS times, two seconds apart: a file read in the slot it was written in
    // could be written again within that slot, and the record could not tell. Such a file is
    // sent once its slot has passed (at most two seconds), so every later write shows.
    while (!Terminated() && GetFileAge(local) == DateTimeToFileDate(QDateTime::currentDateTime()))
        Remote([] { QThread::msleep(50); });
}

void TPublishOperator::PutFile(const QString &remote, const QString &local, bool asAscii, bool safe)
{
    if (!safe) {
        Remote([&] { Ftp.PutFile(remote, local, asAscii); });
        return;
    }
    // The live file is replaced only by a complete copy, under a name that no file of the site
    // has: the site's own "x_safeupload" would be overwritten and renamed away.
    QString suffix = QStringLiteral("_safeupload");
    for (int n = 1; QFileInfo::exists(local + suffix); ++n)
        suffix = QStringLiteral("_safeupload%1").arg(n);
    const QString temporary = remote + suffix;
    Remote([&] { Ftp.PutFile(temporary, local, asAscii); });
    // Unix servers rename over the live file at once, so it is never missing; a server that
    // refuses to replace a file gets it deleted first.
    try {
        Remote([&] { Ftp.RenameFile(temporary, remote); });
        return;
    } catch (const std::exception &) {
    }
    try {
        Remote([&] { Ftp.DeleteFile(remote); });
    } catch (const std::exception &) {
        // The file may not exist: then the rename below reports the real fault.
    }
    Remote([&] { Ftp.RenameFile(temporary, remote); });
}
