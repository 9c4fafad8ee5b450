// Removal and download of what exists only on the server, asking about every entry.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

// A name from a server listing may only name something inside the local folder.
bool SafeRelativeName(const QString &relative)
{
    if (relative.isEmpty() || relative.contains(QLatin1Char('\\')) || relative.contains(QChar(0)))
        return false;
    for (const QStringView part : QStringView(relative).split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    }
    return true;
}

// Adds every folder `name` lies in ("/a/b/c" gives "/a/b" and "/a") down to `root`.
void AddParents(QSet<QString> &folders, const QString &name, const QString &root)
{
    for (QString folder = name.left(name.lastIndexOf(QLatin1Char('/')));
         folder.size() > root.size() && !folders.contains(folder);
         folder.truncate(folder.lastIndexOf(QLatin1Char('/'))))
        folders.insert(folder);
}

} // namespace

void TPublishOperator::RemoveOperation()
{
    AddLog(0, QStringLiteral("Remove the server files which do not exist in local system"));
    ServerScan();
    MarkServerOnly();
    QuestionPass(false);
    // Counted before anything goes: a limit stops the removal before its first command.
    const QStringList plan = Aborted ? QStringList() : PlannedRemovals();
    if (MaxDelete >= 0 && plan.size() > MaxDelete) {
        AddError(QStringLiteral("%1 entries would be removed from the server, more than the limit "
                                "of %2: nothing has been removed")
                     .arg(plan.size())
                     .arg(MaxDelete));
        return;
    }
    if (DryRun) {
        if (!Aborted)
            LogPlan(plan);
        return;
    }
    // The questions may have taken long enough for the server to drop the connection.
    EnsureConnected();
    RemovalPass();
    AddLog(0, QStringLiteral("%1 folder(s) and %2 file(s) have been removed")
                  .arg(FoldersCount)
                  .arg(FilesCount));
}

void TPublishOperator::DownloadOperation()
{
    AddLog(0, QStringLiteral("Download the server files which do not exist in local system"));
    ServerScan();
    MarkServerOnly();
    QuestionPass(true);
    if (DryRun) {
        if (!Aborted)
            LogPlan(PlannedDownloads());
        return;
    }
    EnsureConnected();
    DownloadPass();
    AddLog(0, QStringLiteral("%1 file(s) have been downloaded").arg(FilesCount));
    if (FilesCount > 0)
        Refresh();
}

void TPublishOperator::QuestionPass(bool download)
{
    AskResult = 0;
    // Folders that keep an entry the user chose to keep: they stay, unasked. Contents come
    // before their folder here.
    QSet<QString> holding;
    const QString root = ExcludeTrailingSlash(FileList->RemoteRoot);
    for (int i = ServerList.Count() - 1; i >= 0; --i) {
        if (Terminated() || Aborted)
            break;
        TFtpFile *entry = ServerList.Items(i);
        if (!download && entry->IsFolder && holding.contains(entry->Name)) {
            entry->ServerOnly = false;
            AddParents(holding, entry->Name, root);
            continue;
        }
        if (!entry->ServerOnly) {
            AddParents(holding, entry->Name, root);
            continue;
        }
        QString question
            = (entry->IsFolder ? QStringLiteral("The folder ") : QStringLiteral("The file "))
              + QLatin1Char('"') + entry->Name + QLatin1Char('"')
              + QStringLiteral(" exists on the server")
              + QStringLiteral(" but does not exist in the local system.");
        if (!download)
            question += QStringLiteral(" Do you want to remove it from server?");
        else if (entry->IsFolder)
            question += QStringLiteral(" Do you want to create it in local system?");
        else
            question += QStringLiteral(" Do you want to download it from server?");
        if (AskResult != mrNoToAll && AskResult != mrYesToAll)
            Ask(question);
        switch (AskResult) {
        case mrCancel:
            Aborted = true;
            break;
        case mrYes:
        case mrYesToAll:
            break;
        default:
            entry->ServerOnly = false;
            AddParents(holding, entry->Name, root);
            break;
        }
    }
}

void TPublishOperator::RemovalPass()
{
    const TServerCounts counts = CountServer();
    const qint64 total = counts.OnlyFiles + counts.OnlyFolders;
    qint64 done = 0;
    QStringList running; // names being removed now
    // Folders that still hold an entry which was not removed: RMD would only fail.
    QSet<QString> holding;
    const QString root = ExcludeTrailingSlash(FileList->RemoteRoot);
    // Last to first: a folder's contents go before the folder, and the folder waits until
    // every removal inside it has ended.
    int i = ServerList.Count() - 1;
    RunParallel(
        [&]() -> TStep {
            for (; i >= 0; --i) {
                if (Terminated() || Aborted)
                    return {};
                const TFtpFile *entry = ServerList.Items(i);
                if (!entry->ServerOnly)
                    continue;
                const QString name = entry->Name;
                const bool isFolder = entry->IsFolder;
                // Such a name stands for another path once it is a relative name: what it
                // means on the local side is not what would be removed.
                if (!SafeRelativeName(ServerRelativeName(entry))) {
                    AddError((isFolder ? QStringLiteral("folder ") : QStringLiteral("file ")) + name
                             + QStringLiteral(" has been skipped: unsafe name"));
                    AddParents(holding, name, root);
                    ++done;
                    continue;
                }
                if (isFolder) {
                    const QString inside = IncludeTrailingSlash(name);
                    for (const QString &other : std::as_const(running)) {
                        if (other.startsWith(inside))
                            return {TStep::Wait, {}, {}, {}};
                    }
                    if (holding.contains(name)) {
                        AddLog(0, QStringLiteral("the folder ") + name
                                      + QStringLiteral(" stays: it still holds entries"));
                        AddParents(holding, name, root);
                        ++done;
                        continue;
                    }
                }
                --i;
                SetStatusText(QStringLiteral("%1 of %2 items removed").arg(done).arg(total));
                AddLog(0, isFolder ? QStringLiteral("remove of the folder ") + name
                                   : QStringLiteral("remove ") + name);
                running.append(name);
                TStep step;
                step.What = TStep::Job;
                step.Subject = name;
                step.Body = [name, isFolder](TFtp &ftp) {
                    if (isFolder)
                        ftp.RemoveDir(name);
                    else
                        ftp.DeleteFile(name);
                };
                step.Done = [&, name, isFolder](const QString &failure) {
                    running.removeOne(name);
                    ++done;
                    if (!failure.isEmpty()) {
                        AddError(failure);
                        AddParents(holding, name, root);
                    } else if (isFolder)
                        ++FoldersCount;
                    else
                        ++FilesCount;
                };
                return step;
            }
            return {};
        },
        false);
}

void TPublishOperator::DownloadPass()
{
    const TServerCounts counts = CountServer();
    BytesDone = 0;
    m_progress = {};
    TotalBytes = counts.OnlySize;
    FilesDone = 0;
    FilesTotal = qint32(counts.OnlyFiles);
    StartTime = QDateTime::currentDateTime();
    m_sinceStart.start();
    m_sinceUpdate.start();
    // First to last: parents before their contents.
    int i = 0;
    RunParallel(
        [&]() -> TStep {
            for (; i < ServerList.Count(); ++i) {
                if (Terminated() || Aborted)
                    return {};
                const TFtpFile *entry = ServerList.Items(i);
                if (!entry->ServerOnly)
                    continue;
                const QString serverRelative = ServerRelativeName(entry);
                if (!SafeRelativeName(serverRelative)) {
                    AddError((entry->IsFolder ? QStringLiteral("folder ") : QStringLiteral("file "))
                             + entry->Name + QStringLiteral(" has been skipped: unsafe name"));
                    continue;
                }
                const QString local = FileList->LocalRoot + serverRelative;
                QString relative = serverRelative;
                relative.replace(QLatin1Char('/'), QLatin1Char('\\'));
                if (entry->IsFolder) {
                    if (!QFileInfo(local).isDir())
                        AddLog(0, QStringLiteral("creating of the folder ") + local
                                      + QLatin1Char('/'));
                    QDir().mkpath(local); // a failure shows when its files arrive
                    Project->Versions.FindOrAdd(relative + QLatin1Char('\\'))->Date = 1;
                    continue;
                }
                ++i;
                const QString name = entry->Name;
                const qint64 size = entry->Size;
                AddLog(0, QStringLiteral("downloading ") + name);
                m_sinceFile.start();
                FileSize = size;
                FileBytesDone = 0;
                QDir().mkpath(QFileInfo(local).absolutePath());
                TStep step;
                step.What = TStep::Job;
                step.Subject = name;
                step.Body
                    = [name, local, size](TFtp &ftp) { ftp.GetFile(name, local, false, size); };
                step.Done = [this, local, relative](const QString &failure) {
                    if (failure.isEmpty()) {
                        Project->Versions.FindOrAdd(relative)->Date = GetFileAge(local);
                        ++FilesCount;
                    } else {
                        AddError(failure);
                    }
                    ++FilesDone;
                };
                return step;
            }
            return {};
        },
        true);
}

// RemovalPass's steps when every removal succeeds: contents before their folder, a folder that
// keeps an entry (a kept answer, an unsafe name) left standing.
QStringList TPublishOperator::PlannedRemovals() const
{
    QStringList plan;
    QSet<QString> holding;
    const QString root = ExcludeTrailingSlash(FileList->RemoteRoot);
    for (int i = ServerList.Count() - 1; i >= 0; --i) {
        const TFtpFile *entry = ServerList.Items(i);
        if (!entry->ServerOnly)
            continue;
        if (!SafeRelativeName(ServerRelativeName(entry))
            || (entry->IsFolder && holding.contains(entry->Name))) {
            AddParents(holding, entry->Name, root);
            continue;
        }
        plan.append(entry->IsFolder ? QStringLiteral("remove of the folder ") + entry->Name
                                    : QStringLiteral("remove ") + entry->Name);
    }
    return plan;
}

// DownloadPass's steps: the local folders it makes and the files it fetches, parents first.
QStringList TPublishOperator::PlannedDownloads() const
{
    QStringList plan;
    for (int i = 0; i < ServerList.Count(); ++i) {
        const TFtpFile *entry = ServerList.Items(i);
        const QString relative = ServerRelativeName(entry);
        if (!entry->ServerOnly || !SafeRelativeName(relative))
            continue;
        const QString local = FileList->LocalRoot + relative;
        if (!entry->IsFolder)
            plan.append(QStringLiteral("downloading ") + entry->Name);
        else if (!QFileInfo(local).isDir())
            plan.append(QStringLiteral("creating of the folder ") + local + QLatin1Char('/'));
    }
    return plan;
}
