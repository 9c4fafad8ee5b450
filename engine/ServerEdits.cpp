// The guard for edits made on the server: each file's size and time as the server listed them
// just after its upload are kept, and a file listed otherwise before it would be replaced is
// someone else's work, replaced only when the user says so.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"

#include <map>

namespace {

QString FolderOf(const TFileListItem *item)
{
    const QString remote = item->GetRemotePath();
    return remote.left(remote.lastIndexOf(QLatin1Char('/')) + 1);
}

QString NameOf(const TFileListItem *item)
{
    const QString remote = item->GetRemotePath();
    return remote.mid(remote.lastIndexOf(QLatin1Char('/')) + 1);
}

// LIST shows a file of the last six months to the minute with a year the client guesses, and an
// older one by its day: the same file read later may differ by that much only.
bool SameListedTime(qint64 kept, qint64 listed)
{
    if (kept == listed)
        return true;
    const QDateTime a = QDateTime::fromSecsSinceEpoch(kept, Qt::UTC);
    const QDateTime b = QDateTime::fromSecsSinceEpoch(listed, Qt::UTC);
    return a.date().month() == b.date().month() && a.date().day() == b.date().day()
           && (a.time() == b.time() || b.time() == QTime(0, 0));
}

// Files grouped by their server folder, the folders in the order first met.
struct TByFolder
{
    QStringList Folders;
    std::map<QString, std::vector<TFileListItem *>> Items;
    void Add(TFileListItem *item)
    {
        const QString folder = FolderOf(item);
        if (!Items.count(folder))
            Folders.append(folder);
        Items[folder].push_back(item);
    }
};

QString ShownTime(qint64 time)
{
    return QDateTime::fromSecsSinceEpoch(time, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

QHash<QString, TPublishOperator::TFolderListing>
TPublishOperator::ListFolders(const QStringList &folders)
{
    // An FTP listing gives the server's wall clock: read as UTC, the number stays the same in
    // any time zone here. SFTP gives the time itself.
    const bool wallClock = ProjectProtocol(*Project) != QLatin1String("sftp");
    QHash<QString, TFolderListing> result;
    qsizetype next = 0;
    RunParallel(
        [&]() -> TStep {
            if (next >= folders.size())
                return {};
            const QString folder = folders[next++];
            auto listing = std::make_shared<TFtpFileList>();
            TStep step;
            step.What = TStep::Job;
            step.Subject = folder;
            step.Body = [folder, listing](TFtp &ftp) {
                listing->Clear();
                ftp.FindFiles(folder, *listing);
            };
            step.Done = [&result, folder, listing, wallClock](const QString &failure) {
                TFolderListing &entry = result[folder];
                entry.Failure = failure;
                for (int i = 0; failure.isEmpty() && i < listing->Count(); ++i) {
                    const TFtpFile *file = listing->Items(i);
                    if (file->IsFolder)
                        continue;
                    qint64 time = 0;
                    if (file->Date.isValid())
                        time = wallClock ? QDateTime(file->Date.date(), file->Date.time(), Qt::UTC)
                                               .toSecsSinceEpoch()
                                         : file->Date.toSecsSinceEpoch();
                    entry.Files.insert(file->Name, {file->Size, time});
                }
            };
            return step;
        },
        false);
    return result;
}

bool TPublishOperator::GuardServerChanges()
{
    m_protectServerChanges = ProjectProtectsServerChanges(*Project);
    if (!m_protectServerChanges)
        return true;
    // The files about to be replaced whose last upload left a stamp, by folder in list order.
    TByFolder due;
    for (int i = 1; i < FileList->Count(); ++i) {
        TFileListItem *item = FileList->Items(i);
        const TVersionItem *record = Project->Versions.Find(item->RelativeName);
        if (!item->IsFolder && !item->Synchronous && record && record->HasServerStamp())
            due.Add(item);
    }
    if (due.Folders.isEmpty())
        return true;
    SetStatusText(QStringLiteral("looking for changes made on the server "));
    const QHash<QString, TFolderListing> listed = ListFolders(due.Folders);
    AskResult = 0;
    for (const QString &folder : std::as_const(due.Folders)) {
        for (TFileListItem *item : due.Items[folder]) {
            if (Terminated())
                return false;
            const QString remote = item->GetRemotePath();
            QString question, change;
            const auto listing = listed.constFind(folder);
            if (listing == listed.cend() || !listing->Failure.isEmpty()) {
                // A folder that cannot be listed may be gone, or only unreadable: the user says.
                const QString failure
                    = listing == listed.cend() ? QStringLiteral("not listed") : listing->Failure;
                change = QStringLiteral("whether it has been changed on the server cannot be told: "
                                        "the listing of its folder failed (%1)")
                             .arg(failure);
                question = QStringLiteral("Whether the file \"%1\" has been changed on the server "
                                          "since its last upload cannot be told: the listing of "
                                          "its folder failed (%2). Replacing it may lose what was "
                                          "changed there. Do you want to replace it?")
                               .arg(remote, failure);
            } else {
                // Missing on the server: nothing there to lose.
                const auto file = listing->Files.constFind(NameOf(item));
                if (file == listing->Files.cend())
                    continue;
                const TVersionItem *record = Project->Versions.Find(item->RelativeName);
                QStringList changes;
                if (file->Size != record->ServerSize)
                    changes.append(QStringLiteral("its size is %1 bytes, was %2")
                                       .arg(file->Size)
                                       .arg(record->ServerSize));
                if (!SameListedTime(record->ServerTime, file->Time))
                    changes.append(QStringLiteral("its time is %1, was %2")
                                       .arg(ShownTime(file->Time), ShownTime(record->ServerTime)));
                if (changes.isEmpty())
                    continue;
                change = QStringLiteral("it has been changed on the server since its last "
                                        "upload: ")
                         + changes.join(QStringLiteral("; "));
                question = QStringLiteral("The file \"%1\" has been changed on the server since "
                                          "its last upload (%2). Replacing it loses what was "
                                          "changed there. Do you want to replace it?")
                               .arg(remote, changes.join(QStringLiteral("; ")));
            }
            // A dry run asks as the run would and logs the run's line.
            if (AskResult != mrYesToAll && AskResult != mrNoToAll)
                Ask(question);
            switch (AskResult) {
            case mrCancel:
                Aborted = true;
                return false;
            case mrYes:
            case mrYesToAll:
                break;
            default: {
                m_keptOnServer.insert(item);
                const QString line
                    = QStringLiteral("the file %1 has not been replaced: %2; it still needs upload")
                          .arg(remote, change);
                if (DryRun)
                    AddLog(0, QLatin1String(DryRunMark) + line);
                else
                    AddError(line);
                break;
            }
            }
        }
    }
    return true;
}

void TPublishOperator::StampServerFiles()
{
    if (!m_protectServerChanges || m_stampDue.empty() || Terminated())
        return;
    TByFolder sent;
    for (TFileListItem *item : m_stampDue)
        sent.Add(item);
    const QHash<QString, TFolderListing> listed = ListFolders(sent.Folders);
    for (const QString &folder : std::as_const(sent.Folders)) {
        const TFolderListing listing = listed.value(folder);
        if (!listing.Failure.isEmpty())
            AddLog(2, QStringLiteral("the listing of %1 failed (%2): a later change made on the "
                                     "server to the files just sent there will not be noticed")
                          .arg(folder, listing.Failure));
        for (TFileListItem *item : sent.Items[folder]) {
            TVersionItem *record = Project->Versions.Find(item->RelativeName);
            const auto file = listing.Files.constFind(NameOf(item));
            if (!record || !record->HasContent() || file == listing.Files.cend())
                continue;
            record->ServerSize = file->Size;
            record->ServerTime = file->Time;
            RecordsChanged();
        }
    }
    SaveRecordsIfDue();
}
