#pragma once

#include "engine/PublishList.h"
#include "ftp/FtpWininet.h"
#include "store/Settings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QStringList>
#include <QThread>

#include <atomic>

class TProject;
class TPublishOperator;

enum TPublishKind : quint8 { pkRefresh = 0, pkCompare = 1, pkRemove = 2, pkDownload = 3, pkUpload = 4 };

// Answers of the operator's question box.
enum TAskResult : int { mrCancel = 2, mrYes = 6, mrNo = 7, mrNoToAll = 9, mrYesToAll = 10 };

// What a front end (the main window, the command line) implements to run operations.
// Every call arrives on the thread that created the operator, in the order sent.
class IPublishFrontEnd
{
public:
    virtual ~IPublishFrontEnd() = default;

    // Notifications: the worker goes on without waiting.
    virtual void LogLine(int level, const QString &text) = 0; // 0 normal, 1 error, 2 notice
    virtual void SetProgress(int percent) = 0;
    virtual void SetStatusText(const QString &text) = 0;
    virtual void AppendLogText(const QString &text) = 0; // replaces the last line's tail

    // Hand-over calls: the worker waits until they return, so the front end may read the
    // file list and the project inside them.
    virtual void ClearView(TPublishOperator *sender) = 0; // the file list is about to be emptied
    virtual void FillView(TPublishOperator *sender) = 0;  // a local scan has rebuilt it
    virtual void ItemChanged(TFileListItem *item) = 0;    // an item's Synchronous changed
    virtual int Ask(const QString &text) = 0;             // a TAskResult

    // Exactly once per operator, also when it was abandoned after Abort. The file list and
    // the project belong to the front end again from this call on.
    virtual void OperationEnd(TPublishOperator *sender) = 0;
};

// One publishing operation on a worker thread. Construct it on the front end's thread,
// then start(); it deletes itself after OperationEnd, writing the publish log first.
class TPublishOperator : public QThread
{
    Q_OBJECT
public:
    TPublishOperator(TFileList *fileList, quint8 kind, TProject *project,
                     IPublishFrontEnd *frontEnd, QObject *parent = nullptr);
    ~TPublishOperator() override;

    // Front end's thread: stop the operation; OperationEnd follows within about 500 ms.
    void Abort();

    const quint8 Kind;
    std::atomic<bool> Aborted{false};
    std::atomic<bool> HadErrors{false};
    std::atomic<bool> Completed{false};
    TSettings Settings;
    qint32 FoldersCount = 0;
    qint32 FilesCount = 0;

protected:
    void run() override;

private:
    friend class TPublishOperatorAccess; // tests

    // ... the implementation's fields and steps (see PublishOperator.cpp and friends)
};
