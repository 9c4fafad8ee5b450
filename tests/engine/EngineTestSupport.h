#pragma once

// A front end for publishing tests: records everything the operator reports, answers its
// questions from a script and runs the event loop until the operator has ended and gone.

#include "engine/PublishOperator.h"
#include "engine/PublishVersions.h"
#include "store/PrjCls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <utime.h>

class TTestFrontEnd : public QObject, public IPublishFrontEnd
{
public:
    struct TLine
    {
        int Level;
        QString Text;
    };

    std::vector<TLine> Lines;
    QStringList StatusTexts;
    QList<int> Progress;
    QStringList Appended;
    QStringList Questions;
    QList<int> Answers; // scripted answers, in order; Cancel when they run out
    int ClearViews = 0;
    int FillViews = 0;
    QList<TFileListItem *> ChangedItems;
    int Ends = 0;
    int ReportsAfterEnd = 0; // anything that arrived after OperationEnd
    bool Aborted = false;    // the operator's flags as OperationEnd saw them
    bool HadErrors = false;
    qint32 FoldersCount = 0;
    qint32 FilesCount = 0;
    TFtp::TStats FtpStats;
    std::function<void(const QString &text)> OnLogLine; // test hooks (abort, stop a server)
    std::function<void()> OnEnd;
    std::function<void()> OnAsk;
    TPublishOperator *Current = nullptr;
    QElapsedTimer EndClock; // started when OperationEnd arrives

    void LogLine(int level, const QString &text) override
    {
        Note();
        Lines.push_back({level, text});
        if (OnLogLine)
            OnLogLine(text);
    }
    void SetProgress(int percent) override
    {
        Note();
        Progress.append(percent);
    }
    void SetStatusText(const QString &text) override
    {
        Note();
        StatusTexts.append(text);
    }
    void AppendLogText(const QString &text) override
    {
        Note();
        Appended.append(text);
    }
    void ClearView(TPublishOperator *) override
    {
        Note();
        ++ClearViews;
    }
    void FillView(TPublishOperator *) override
    {
        Note();
        ++FillViews;
    }
    void ItemChanged(TFileListItem *item) override
    {
        Note();
        ChangedItems.append(item);
    }
    int Ask(const QString &text) override
    {
        Note();
        Questions.append(text);
        if (OnAsk)
            OnAsk();
        return Answers.isEmpty() ? int(mrCancel) : Answers.takeFirst();
    }
    void OperationEnd(TPublishOperator *sender) override
    {
        ++Ends;
        EndClock.start();
        Aborted = sender->Aborted;
        HadErrors = sender->HadErrors;
        FoldersCount = sender->FoldersCount;
        FilesCount = sender->FilesCount;
        FtpStats = sender->FtpStats;
        Current = nullptr;
        if (OnEnd)
            OnEnd();
    }

    // Starts one operation and waits until OperationEnd has run and the operator is gone.
    // `started` runs right after start() (to abort, for example).
    bool Run(TFileList &list, quint8 kind, TProject &project, int timeoutMs = 120000,
             const std::function<void(TPublishOperator *)> &started = {})
    {
        Reset();
        auto *op = new TPublishOperator(&list, kind, &project, this);
        bool destroyed = false;
        QEventLoop loop;
        QObject::connect(op, &QObject::destroyed, &loop, [&] {
            destroyed = true;
            loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        Current = op;
        op->start();
        if (started)
            started(op);
        if (!destroyed)
            loop.exec();
        return Ends == 1 && destroyed;
    }

    // Keeps the event loop running for a while (late reports would show up here).
    static void Idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QStringList Texts(int level = -1) const
    {
        QStringList texts;
        for (const TLine &line : Lines) {
            if (level < 0 || line.Level == level)
                texts.append(line.Text);
        }
        return texts;
    }
    QStringList TextsStartingWith(const QString &prefix) const
    {
        QStringList texts;
        for (const TLine &line : Lines) {
            if (line.Text.startsWith(prefix))
                texts.append(line.Text);
        }
        return texts;
    }
    QString LastLine() const { return Lines.empty() ? QString() : Lines.back().Text; }

private:
    void Note()
    {
        if (Ends > 0)
            ++ReportsAfterEnd;
    }
    void Reset()
    {
        Lines.clear();
        StatusTexts.clear();
        Progress.clear();
        Appended.clear();
        Questions.clear();
        ClearViews = FillViews = Ends = ReportsAfterEnd = 0;
        ChangedItems.clear();
        Aborted = HadErrors = false;
        FoldersCount = FilesCount = 0;
    }
};

// A new project as the options dialog leaves it, for `local` (and `server` when given).
inline std::unique_ptr<TProject> MakeTestProject(const QString &local,
                                                 const TFtpTestServer *server = nullptr,
                                                 const QString &remotePath = QString())
{
    auto project = std::make_unique<TProject>();
    project->Clear();
    project->InitDefaults();
    project->Nodes(QStringLiteral("Path"))->SetAsString(local);
    project->Nodes(QStringLiteral("Timeout"))->SetAsString(QStringLiteral("20"));
    if (server) {
        project->Nodes(QStringLiteral("Host"))->SetAsString(server->Host);
        project->Nodes(QStringLiteral("Port"))->SetAsString(QString::number(server->Port));
        project->Nodes(QStringLiteral("User"))->SetAsString(server->User);
        project->Nodes(QStringLiteral("RemotePath"))
            ->SetAsString(remotePath.isEmpty() ? server->RemoteBase : remotePath);
        project->SetPassword(server->Password);
    }
    return project;
}

inline void SetBool(TProject &project, const char *key, bool value)
{
    project.Nodes(QString::fromLatin1(key))->SetAsBoolean(value);
}

inline void SetText(TProject &project, const char *key, const QString &value)
{
    project.Nodes(QString::fromLatin1(key))->SetAsString(value);
}

// Sets a file's last-write time to `secondsAgo` seconds before now.
inline void SetFileAge(const QString &path, qint64 secondsAgo)
{
    const qint64 when = QDateTime::currentSecsSinceEpoch() - secondsAgo;
    struct utimbuf times;
    times.actime = time_t(when);
    times.modtime = time_t(when);
    ::utime(QFile::encodeName(path).constData(), &times);
}

// Relative path -> content of every file below `root`, plus "path/" for every folder.
inline QMap<QString, QByteArray> TreeOf(const QString &root,
                                        const QStringList &leaveOut = QStringList())
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = QDir(root).relativeFilePath(path);
        if (leaveOut.contains(relative))
            continue;
        if (it.fileInfo().isDir())
            tree.insert(relative + QLatin1Char('/'), QByteArray());
        else
            tree.insert(relative, ReadWholeFile(path));
    }
    return tree;
}

inline const TFileListItem *FindItem(const TFileList &list, const QString &relativeName)
{
    for (int i = 0; i < list.Count(); ++i) {
        if (list.Items(i)->RelativeName == relativeName)
            return list.Items(i);
    }
    return nullptr;
}
