#include "engine/PublishList.h"

#include "engine/FileLib.h"

namespace {

QString JoinRelative(const QString &root, const QString &relativeName)
{
    QString path = relativeName;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return root + path;
}

} // namespace

QString TFileListItem::Name() const
{
    const bool root = RelativeName.isEmpty();
    const QChar separator = root ? u'/' : u'\\';
    QStringView path = root ? QStringView(Owner->LocalRoot) : QStringView(RelativeName);
    if (path.endsWith(separator))
        path.chop(1);
    return path.sliced(path.lastIndexOf(separator) + 1).toString();
}

QString TFileListItem::GetLocalPath() const
{
    return Owner->LocalPath(RelativeName);
}

QString TFileListItem::GetRemotePath() const
{
    return Owner->RemotePath(RelativeName);
}

bool TFileListItem::IsAncestorOf(const TFileListItem *item) const
{
    for (const TFileListItem *p = item ? item->Parent : nullptr; p; p = p->Parent) {
        if (p == this)
            return true;
    }
    return false;
}

bool TFileListItem::HasOutdatedChildren() const
{
    for (const TFileListItem *child : Children) {
        if (!child->Synchronous)
            return true;
    }
    return false;
}

void TFileListItem::GetStatistics(qint64 &folders, qint64 &files, qint64 &totalSize,
                                  qint64 &outdatedFolders, qint64 &outdatedFiles,
                                  qint64 &outdatedSize) const
{
    folders = files = totalSize = outdatedFolders = outdatedFiles = outdatedSize = 0;
    // Walk the subtree through the children lists: the descendants of the root are the
    // whole list, and testing every item for ancestry would be quadratic.
    std::vector<const TFileListItem *> pending(Children.begin(), Children.end());
    while (!pending.empty()) {
        const TFileListItem *item = pending.back();
        pending.pop_back();
        if (item->IsFolder) {
            ++folders;
            if (!item->Synchronous)
                ++outdatedFolders;
            pending.insert(pending.end(), item->Children.begin(), item->Children.end());
        } else {
            const qint64 size = GetFileSize(item->GetLocalPath());
            ++files;
            totalSize += size;
            if (!item->Synchronous) {
                ++outdatedFiles;
                outdatedSize += size;
            }
        }
    }
}

void TFileList::Clear()
{
    m_chunks.clear();
    m_count = 0;
    Unreadable.clear();
}

TFileListItem *TFileList::Add()
{
    if (size_t(m_count) % ChunkSize == 0)
        m_chunks.push_back(std::make_unique<TFileListItem[]>(ChunkSize));
    TFileListItem *item = Items(m_count++);
    item->Owner = this;
    return item;
}

QString TFileList::LocalPath(const QString &relativeName) const
{
    return JoinRelative(LocalRoot, relativeName);
}

QString TFileList::RemotePath(const QString &relativeName) const
{
    return JoinRelative(RemoteRoot, relativeName);
}

int TFileList::CountOutdated(bool filesOnly) const
{
    int count = 0;
    for (int i = 0; i < m_count; ++i) {
        const TFileListItem *item = Items(i);
        if (!item->Synchronous && !(filesOnly && item->IsFolder))
            ++count;
    }
    return count;
}

int TFileList::CountFiles() const
{
    int count = 0;
    for (int i = 0; i < m_count; ++i) {
        if (!Items(i)->IsFolder)
            ++count;
    }
    return count;
}

qint64 TFileList::OutdatedSize() const
{
    qint64 size = 0;
    for (int i = 0; i < m_count; ++i) {
        const TFileListItem *item = Items(i);
        if (!item->IsFolder && !item->Synchronous)
            size += item->Size;
    }
    return size;
}

QString FormatStatistics(const TFileList &list)
{
    QString text = QString::number(list.CountOutdated(true)) + QStringLiteral(" of ")
                   + QString::number(list.CountFiles()) + QStringLiteral(" files");
    const qint64 outdatedSize = list.OutdatedSize();
    if (outdatedSize > 0)
        text += QStringLiteral(" (") + FormatSize(outdatedSize) + QLatin1Char(')');
    text += QStringLiteral(" need uploading");
    if (list.IgnoredCount > 0)
        text += QStringLiteral(" (") + QString::number(list.IgnoredCount)
                + QStringLiteral(" items are ignored)");
    return text;
}
