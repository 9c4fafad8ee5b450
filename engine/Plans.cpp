// What a run would do without doing it (dry runs), the lists of a compare, and the project's
// remote folder made on the server when an upload finds it missing.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"

const char *const DryRunMark = "[dry run] ";

namespace {

QString SlashName(const TFileListItem *item)
{
    return QString(item->RelativeName).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

} // namespace

void TPublishOperator::LogPlan(const QStringList &lines)
{
    for (const QString &line : lines)
        AddLog(0, QLatin1String(DryRunMark) + line);
    AddLog(0, QStringLiteral("Dry run: %1 step(s) would be taken; nothing has been changed")
                  .arg(lines.size()));
}

// The steps of Upload and FilePass, in list order: the folders the records do not hold as
// made, and the files that need upload.
void TPublishOperator::PlanUpload()
{
    if (!StartUpload() || !GuardServerChanges())
        return;
    QStringList plan;
    for (int i = 1; i < FileList->Count(); ++i) {
        TFileListItem *item = FileList->Items(i);
        if (item->Synchronous || m_keptOnServer.contains(item))
            continue;
        if (!item->IsFolder)
            plan.append(QStringLiteral("uploading ") + item->GetLocalPath());
        else if (Project->Versions.FindOrAdd(item->RelativeName)->Date != 1)
            plan.append(QStringLiteral("creating of the folder ") + item->GetRemotePath());
    }
    LogPlan(plan);
}

void TPublishOperator::FillCompareLists()
{
    CompareMissing.clear();
    CompareChanged.clear();
    CompareServerOnly.clear();
    for (int i = 1; i < FileList->Count(); ++i) {
        const TFileListItem *item = FileList->Items(i);
        const TFtpFile *entry = ServerList.FindByName(ExcludeTrailingSlash(item->GetRemotePath()));
        if (!entry)
            CompareMissing.append(SlashName(item));
        else if (!item->IsFolder && !item->Synchronous)
            CompareChanged.append(SlashName(item));
    }
    for (int i = 0; i < ServerList.Count(); ++i) {
        const TFtpFile *entry = ServerList.Items(i);
        if (entry->ServerOnly)
            CompareServerOnly.append(ServerRelativeName(entry)
                                     + (entry->IsFolder ? QStringLiteral("/") : QString()));
    }
}

void TPublishOperator::EnterRemoteRoot(const QString &folder)
{
    try {
        Remote([this, &folder] { Ftp.SetCurrentDir(folder); });
        return;
    } catch (const std::exception &) {
        // Only an upload makes the folder: the other operations would find nothing there.
        if (Kind != pkUpload || Terminated() || Ftp.Lost())
            throw;
    }
    // A failed CWD leaves the session where it logged in, which a relative path starts from.
    QString absolute = folder;
    if (!absolute.startsWith(QLatin1Char('/'))) {
        QString home;
        Remote([this, &home] { home = Ftp.GetCurrentDir(); });
        absolute = IncludeTrailingSlash(home) + folder;
    }
    QString path;
    bool missing = false; // below a missing folder nothing is there either
    for (const QString &part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        if (!missing) {
            try {
                Remote([this, &path] { Ftp.SetCurrentDir(path); });
                continue;
            } catch (const std::exception &) {
                if (Ftp.Lost())
                    throw;
                missing = true;
            }
        }
        const QString line = QStringLiteral("creating of the folder ") + path + QLatin1Char('/');
        if (DryRun) {
            AddLog(0, QLatin1String(DryRunMark) + line);
            continue;
        }
        AddLog(0, line);
        Remote([this, &path] { Ftp.CreateDir(path); });
    }
    // A dry run stays where it is: the plan names the folder as the upload would find it.
    if (DryRun)
        m_plannedRoot = IncludeTrailingSlash(path);
    else
        Remote([this, &path] { Ftp.SetCurrentDir(path); });
}
