// The server scan, the check of the previous file list against it, and the marking of
// entries that exist only on the server.
#include "engine/PublishOperator.h"

#include "engine/FileLib.h"
#include "ftp/FtpListParser.h"
#include "store/PrjCls.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>

#include <sys/stat.h>

void TPublishOperator::ServerScan()
{
    try {
        ConnectStep();
        const QString text = QStringLiteral("scaning of the server folders");
        SetStatusText(text);
        AddLog(0, text);
        // A site with subfolders keeps every session busy: they log in while the root is listed.
        bool folders = false;
        for (int i = 1; i < FileList->Count() && !folders; ++i)
            folders = FileList->Items(i)->IsFolder;
        if (folders)
            Pool().Open(m_connections);
        ScanServerFolders(FileList->RemoteRoot);
        const TServerCounts counts = CountServer();
        const QString size = counts.Size > 0
                                 ? QStringLiteral("(") + FormatSize(counts.Size) + QLatin1Char(')')
                                 : QString();
        AddLog(0, QStringLiteral("%1 folder(s) and %2 file(s) %3 have been found on server")
                      .arg(counts.Folders)
                      .arg(counts.Files)
                      .arg(size));
    } catch (...) {
        SetStatusText(QString());
        throw;
    }
    SetStatusText(QString());
}

void TPublishOperator::ScanServerFolders(const QString &root)
{
    // Folders are listed side by side; the list is put together afterwards in the order a
    // depth-first walk gives (each folder's entries, then its subfolders), which the removal
    // (contents before their folder) and the download (folders before their contents) rely on.
    struct TListed
    {
        std::vector<TFtpFile> Entries;
        QStringList Subfolders;
    };
    QHash<QString, TListed> listed;
    QStringList waiting{root}; // a stack: one session walks depth first
    QString failure;
    QStringList temporaries; // left by safe uploads that were cut off

    RunParallel(
        [&]() -> TStep {
            if (!failure.isEmpty())
                return {};
            if (waiting.isEmpty())
                return {TStep::Wait, {}, {}, {}};
            const QString folder = waiting.takeLast();
            AddLog(0, QStringLiteral("    checking ") + folder);
            auto listing = std::make_shared<TFtpFileList>();
            auto skipped = std::make_shared<QStringList>();
            auto unread = std::make_shared<QString>();
            TStep step;
            step.What = TStep::Job;
            step.Subject = folder;
            step.Body = [folder, listing, skipped, unread](TFtp &ftp) {
                listing->Clear();
                skipped->clear();
                unread->clear();
                ftp.OnSkippedEntry
                    = [skipped](const QString &rawName) { skipped->append(rawName); };
                ftp.OnUnreadLines = [folder, unread](int count, const QString &first) {
                    *unread = UnreadLinesText(folder, {count, first});
                };
                auto detach = [&ftp] {
                    ftp.OnSkippedEntry = nullptr;
                    ftp.OnUnreadLines = nullptr;
                };
                try {
                    ftp.FindFiles(folder, *listing);
                } catch (...) {
                    detach();
                    throw;
                }
                detach();
            };
            step.Done = [&, folder, listing, skipped, unread](const QString &error) {
                // Names the client refused: they would lead out of their folder.
                for (const QString &rawName : std::as_const(*skipped))
                    AddError(QStringLiteral("entry with an unsafe name has been skipped ")
                             + rawName);
                // Lines no listing form explains: a folder that looks empty says why.
                if (!unread->isEmpty())
                    AddLog(2, *unread);
                if (!error.isEmpty()) {
                    if (failure.isEmpty())
                        failure = error;
                    return;
                }
                const QString base = IncludeTrailingSlash(folder);
                TListed &result = listed[folder];
                for (int i = 0; i < listing->Count(); ++i) {
                    TFtpFile entry = *listing->Items(i);
                    // A name that cannot go back on the wire as it came: a command naming it
                    // would name something else.
                    if (!IsWireName(entry.Name)) {
                        AddLog(2, QStringLiteral("the server's entry ")
                                      + EscapedName(base + entry.Name)
                                      + QStringLiteral(" has been skipped: its name cannot be "
                                                       "sent back to the server"));
                        continue;
                    }
                    entry.Name = base + entry.Name;
                    // Ours, unless the site has a file of that name: never listed, downloaded or
                    // asked about, only removed.
                    if (!entry.IsFolder && IsSafeUploadTemporary(listing->Items(i)->Name)
                        && !QFileInfo::exists(FileList->LocalRoot
                                              + entry.Name.mid(FileList->RemoteRoot.size()))) {
                        temporaries.append(entry.Name);
                        continue;
                    }
                    const QString testPath
                        = entry.IsFolder ? entry.Name + QLatin1Char('/') : entry.Name;
                    if (Project->Filter.IsIgnored(testPath, fsRemote)) {
                        AddLog(2, (entry.IsFolder ? QStringLiteral("folder ")
                                                  : QStringLiteral("file "))
                                      + QStringLiteral("has been ignored ") + entry.Name);
                        continue;
                    }
                    if (entry.IsFolder)
                        result.Subfolders.append(entry.Name);
                    result.Entries.push_back(std::move(entry));
                }
                for (auto sub = result.Subfolders.crbegin(); sub != result.Subfolders.crend();
                     ++sub)
                    waiting.append(*sub);
            };
            return step;
        },
        false);
    if (!failure.isEmpty())
        throw EFtpError(failure);
    RemoveTemporaries(temporaries);

    // Folders left unlisted by Abort add nothing.
    std::vector<QString> walk{root};
    while (!walk.empty()) {
        const QString folder = walk.back();
        walk.pop_back();
        const auto found = listed.constFind(folder);
        if (found == listed.constEnd())
            continue;
        for (const TFtpFile &entry : found->Entries)
            ServerList.AddCopy(entry);
        for (auto sub = found->Subfolders.crbegin(); sub != found->Subfolders.crend(); ++sub)
            walk.push_back(*sub);
    }
}

void TPublishOperator::RemoveTemporaries(const QStringList &names)
{
    // The project is locked while a run works on it, so no run of it is sending these now.
    if (names.isEmpty() || DryRun)
        return;
    m_resume.Open(Project->FileName.isEmpty() ? QString() : ResumeFileOf(Project->FileName));
    QStringList stale;
    for (const QString &name : names) {
        if (!m_resume.HoldsTemporary(name))
            stale.append(name);
        else
            AddLog(2, QStringLiteral("the temporary file ") + name
                          + QStringLiteral(" of an upload that was cut off is kept: the next "
                                           "upload goes on from it"));
    }
    qsizetype next = 0;
    RunParallel(
        [&]() -> TStep {
            if (next >= stale.size())
                return {};
            const QString name = stale.at(next++);
            TStep step;
            step.What = TStep::Job;
            step.Body = [name](TFtp &ftp) { ftp.DeleteFile(name); };
            step.Done = [this, name](const QString &failure) {
                if (failure.isEmpty())
                    AddLog(2,
                           QStringLiteral("the temporary file ") + name
                               + QStringLiteral(" of an upload that was cut off has been removed"));
                else
                    AddLog(2, QStringLiteral("the temporary file ") + name
                                  + QStringLiteral(
                                      " of an upload that was cut off cannot be removed: ")
                                  + failure);
            };
            return step;
        },
        false);
}

void TPublishOperator::CheckAgainstServer()
{
    const bool checkSize = Project->Nodes(QStringLiteral("CheckSize"))->AsBoolean();
    for (int i = 1; i < FileList->Count(); ++i) {
        if (Terminated())
            break;
        TFileListItem *item = FileList->Items(i);
        TVersionItem *record = Project->Versions.FindOrAdd(item->RelativeName);
        const QString local = ExcludeTrailingSlash(item->GetLocalPath());
        const QString remote = ExcludeTrailingSlash(item->GetRemotePath());
        const TFtpFile *entry = ServerList.FindByName(remote);
        if (!entry) {
            AddLog(0, (item->IsFolder ? QStringLiteral("folder ") : QStringLiteral("file ")) + local
                          + QStringLiteral(" is not exists on server"));
            record->Date = 0;
        } else if (!item->IsFolder && checkSize && !m_textFiles->Matches(local)) {
            // Text files change size in ASCII transfers, so only binary ones are compared.
            if (GetFileSize(local) != entry->Size) {
                record->Date = 0;
                AddLog(0, QStringLiteral("files \"") + local + QStringLiteral("\" and \"") + remote
                              + QStringLiteral("\" have different size"));
            }
        }
    }
}

QString TPublishOperator::ServerRelativeName(const TFtpFile *entry) const
{
    return entry->Name.mid(FileList->RemoteRoot.size());
}

void TPublishOperator::MarkServerOnly()
{
    // The folders the last scan could not read, in the server's terms: "sub/", "" for all.
    QStringList unreadable = FileList->Unreadable;
    for (QString &folder : unreadable)
        folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QSet<QString> reported;
    for (int i = 0; i < ServerList.Count(); ++i) {
        if (Terminated())
            break;
        TFtpFile *entry = ServerList.Items(i);
        const QString relative = ServerRelativeName(entry);
        QString blocked;
        for (const QString &folder : std::as_const(unreadable)) {
            if (relative.startsWith(folder) || relative == QStringView(folder).chopped(1)) {
                blocked = FileList->LocalRoot + folder;
                break;
            }
        }
        const TLocalState state = blocked.isEmpty()
                                      ? LocalPathState(FileList->LocalRoot, relative, blocked)
                                      : lsUnknown;
        if (state == lsUnknown) {
            // What the folder holds is unknown here: its server copies are neither server-only
            // files to remove nor missing ones to download.
            entry->ServerOnly = false;
            blocked = ExcludeTrailingSlash(blocked);
            if (!reported.contains(blocked)) {
                reported.insert(blocked);
                AddLog(2, QStringLiteral("the server's entries below ")
                              + FileList->RemotePath(blocked.mid(FileList->LocalRoot.size()))
                              + QStringLiteral(" are left alone: ") + blocked
                              + QStringLiteral(" cannot be read"));
            }
            continue;
        }
        entry->ServerOnly = entry->IsFolder ? state != lsFolder : state != lsFile;
    }
}

TPublishOperator::TServerCounts TPublishOperator::CountServer() const
{
    TServerCounts counts;
    for (int i = 0; i < ServerList.Count(); ++i) {
        if (Terminated())
            break;
        const TFtpFile *entry = ServerList.Items(i);
        if (entry->IsFolder) {
            ++counts.Folders;
            if (entry->ServerOnly)
                ++counts.OnlyFolders;
        } else {
            ++counts.Files;
            counts.Size += entry->Size;
            if (entry->ServerOnly) {
                ++counts.OnlyFiles;
                counts.OnlySize += entry->Size;
            }
        }
    }
    return counts;
}
