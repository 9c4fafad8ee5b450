#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TFileList;

// One local file or folder of the project with its publishing status.
class TFileListItem
{
public:
    QString RelativeName; // 'sub\page.html', folders 'sub\', the root ''
    bool IsFolder = false;
    bool IsAscii = false;
    bool SetExecPermission = false;
    qint32 Index = 0;
    qint64 Size = 0;
    qint32 FileAge = 0;
    bool UseSafeUpload = false;
    bool Synchronous = false;
    TFileListItem *Parent = nullptr;
    void *TreeNode = nullptr; // the window's; the engine never touches it
    TFileList *Owner = nullptr;
    std::vector<TFileListItem *> Children; // folders only, not owning

    // The last part of the relative name ('page.html', 'sub'); the root's is its folder's name.
    // Made when asked: 100,000 names kept beside the relative names would cost megabytes.
    QString Name() const;
    QString GetLocalPath() const;  // folders keep a trailing "/"
    QString GetRemotePath() const; // folders keep a trailing "/"
    bool IsAncestorOf(const TFileListItem *item) const;
    bool HasOutdatedChildren() const;
    // Over every descendant (any depth); file sizes are read again from the disk.
    void GetStatistics(qint64 &folders, qint64 &files, qint64 &totalSize, qint64 &outdatedFolders,
                       qint64 &outdatedFiles, qint64 &outdatedSize) const;
};

// The local source folder in scan order; index 0 is the root item once a scan has run.
class TFileList
{
public:
    QString LocalRoot;  // ends in "/"
    QString RemoteRoot; // ends in "/" when not empty
    qint32 IgnoredCount = 0;
    // Folders and folder links the last scan could not read ('sub\', 'link\', the root ''):
    // what they hold is unknown, so nothing below them on the server is removed or downloaded.
    QStringList Unreadable;

    void Clear();
    int Count() const { return m_count; }
    TFileListItem *Items(int index) const
    {
        return &m_chunks[size_t(index) >> ChunkBits][size_t(index) & (ChunkSize - 1)];
    }
    TFileListItem *Add(); // the item's address stays valid until Clear
    QString LocalPath(const QString &relativeName) const;  // "\" turned into "/"
    QString RemotePath(const QString &relativeName) const; // "\" turned into "/"
    int CountOutdated(bool filesOnly) const;
    int CountFiles() const;
    qint64 OutdatedSize() const;

private:
    // Items live in fixed blocks: a site of 100,000 files costs no allocation per item.
    static constexpr size_t ChunkBits = 10;
    static constexpr size_t ChunkSize = size_t(1) << ChunkBits;
    std::vector<std::unique_ptr<TFileListItem[]>> m_chunks;
    int m_count = 0;
};

// The main window's statistics line, without its leading blank:
// "3 of 120 files (1.5 KB) need uploading (2 items are ignored)".
QString FormatStatistics(const TFileList &list);
