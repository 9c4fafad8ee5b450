#pragma once

#include "engine/PublishFilter.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class TProject;

// Publish on save: watches a project's local folder and its subfolders with inotify and
// reports a change once nothing has changed for a quiet period, so a generator's rebuild of
// many files is one change. inotify directly rather than QFileSystemWatcher: its events name
// the file (the ignore list and hidden files can be left out), IN_CLOSE_WRITE and IN_MOVED_TO
// report a file once it is written whole rather than every write, and a failed watch says why
// (ENOSPC: the limit of watches), where QFileSystemWatcher only returns the path.
class TFolderWatch : public QObject
{
    Q_OBJECT
public:
    explicit TFolderWatch(QObject *parent = nullptr);
    ~TFolderWatch() override;

    int QuietMs = 1500;

    // Watches the project's local folder as the upload scans it (subfolders when included,
    // neither ignored nor hidden entries when so set). False with `error` set when the folder
    // cannot be watched at all; folders that could not be watched are reported by Problem.
    bool Start(TProject &project, QString &error);
    void Stop();
    bool Active() const { return m_fd >= 0; }
    const QString &Root() const { return m_root; }
    // The folders watched now (the root included).
    int WatchedCount() const { return int(m_folders.size()); }

    // The text of a failed inotify_add_watch or inotify_init1 for `path`.
    static QString WatchError(int error, const QString &path);

signals:
    // A quiet period has passed since the last change of a file that the upload would send.
    void Changed();
    // A folder could not be watched (a clear text: which folder and why).
    void Problem(const QString &text);

private:
    void Readable();
    // Watches `path` (ending in "/") and the folders below it; false when the limit was hit.
    bool AddTree(const QString &path);
    bool Ignored(const QString &folder, const QString &name, bool isDir) const;
    void Touch();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QHash<int, QString> m_folders; // watch descriptor -> folder path ending in "/"
    QTimer m_quiet;
    QString m_root;
    bool m_subfolders = true;
    bool m_ignoreHidden = false;
    TFilter m_filter;
    QSet<QString> m_ownFiles; // the project file and its log: written by the upload itself
    bool m_limitReported = false;
    bool m_starting = false;
    QString m_problem; // the last folder that could not be watched, and why
};
