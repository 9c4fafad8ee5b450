#pragma once

#include <QString>

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
    QString Name;
    TFileList *Owner = nullptr;
    std::vector<TFileListItem *> Children; // folders only, not owning

    QString GetLocalPath() const;  // folders keep a trailing "/"
    QString GetRemotePath() const; // folders keep a trailing "/"
    bool IsAncestorOf(const TFileListItem *item) const;
    bool HasOutdatedChildren() const;
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

    void Clear();
    int Count() const { return int(m_items.size()); }
    TFileListItem *Items(int index) const { return m_items[size_t(index)].get(); }
    TFileListItem *Add();
    QString LocalPath(const QString &relativeName) const;  // "\" turned into "/"
    QString RemotePath(const QString &relativeName) const; // "\" turned into "/"
    int CountOutdated(bool filesOnly) const;
    int CountFiles() const;
    qint64 OutdatedSize() const;

private:
    std::vector<std::unique_ptr<TFileListItem>> m_items;
};
