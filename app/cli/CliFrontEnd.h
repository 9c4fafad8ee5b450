#pragma once

#include "engine/PublishOperator.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QEventLoop;

enum TCliExitStatus : int { esSuccess = 0, esErrors = 1, esUsage = 2, esAborted = 3 };

// How progress is shown: not at all, as a line redrawn on the terminal, or as a plain line (a
// JSON object with --json) every few seconds.
enum class TCliProgress { None, Live, Plain };

// One JSON object on a line of stdout.
void WriteJson(const QJsonObject &object);

// How the questions of remove and download are answered.
enum class TCliAnswers { Terminal, YesToAll, NoToAll };

// The command line's view of a running operation: log lines on stdout (errors on stderr),
// a live progress line on a terminal, answers to the operator's questions, and the end lines
// and statistics line the main window shows when an operation ends.
class TCliFrontEnd : public QObject, public IPublishFrontEnd
{
    Q_OBJECT
public:
    explicit TCliFrontEnd(QObject *parent = nullptr);
    ~TCliFrontEnd() override;

    TCliAnswers Answers = TCliAnswers::Terminal;
    TCliProgress Progress = TCliProgress::None;
    bool AllowPlain = false; // --allow-plain: a server that stopped offering TLS gets the login
    bool Quiet = false;      // only errors and what was listed
    bool Verbose = false;    // the run's figures at the end
    bool Json = false;       // every line a JSON object
    bool Debug = false;      // the FTP commands on stderr
    bool DryRun = false;     // nothing written: no records saved
    qint64 MaxDelete = -1;
    QString Command;             // for the hints: "upload", ...
    QString HostKey;             // an SFTP host key accepted by its "SHA256:..." fingerprint
    bool RememberHostKey = true; // HostKey goes into known_hosts; else for this run only

    struct TOutcome
    {
        bool Aborted = false;
        bool HadErrors = false;
        bool SaveFailed = false;
        bool Stuck = false;            // the abandoned worker did not end in time
        bool PlainRefused = false;     // the server stopped offering TLS and the login was not sent
        qint32 Folders = 0, Files = 0; // made, sent, removed or downloaded
        QString Statistics;            // the statistics line, when reported
    };

    // Runs one operation and returns once its operator object is gone (its destructor has
    // written the publish log). With `report` the statistics line follows the end lines, and
    // with `listOutdated` the relative names of the files that need upload.
    TOutcome Run(TFileList *fileList, quint8 kind, TProject *project, bool report,
                 bool listOutdated);

    // Ctrl+C: abort the running operation (nothing when none runs).
    void Interrupt();

    // IPublishFrontEnd
    void LogLine(int level, const QString &text) override;
    void SetProgress(int percent) override;
    void SetStatusText(const QString &text) override;
    void AppendLogText(const QString &text) override;
    void ClearView(TPublishOperator *sender) override;
    void FillView(TPublishOperator *sender) override;
    void ItemChanged(TFileListItem *item) override;
    int Ask(const QString &text) override;
    // Refuses, with what the certificate says and how to trust it. An SFTP host key is
    // accepted when it is HostKey.
    bool TrustCertificate(const TCertificateInfo &certificate) override;
    // AllowPlain, else refuses and says how to allow it.
    bool AllowPlainLogin(const QString &text) override;
    void OperationEnd(TPublishOperator *sender) override;

private:
    bool TrustHostKey(const TCertificateInfo &key);
    void PrintLine(int level, const QString &text);
    void PrintEntry(const QString &state, const QString &path);
    void PlainProgress();
    void DrawLive();
    void ClearLive();

    QPointer<TPublishOperator> m_operator;
    bool m_abortSent = false;
    bool m_ended = false;
    QEventLoop *m_loop = nullptr;
    TOutcome m_outcome;
    TFileList *m_fileList = nullptr;
    TProject *m_project = nullptr;
    bool m_report = false;
    bool m_listOutdated = false;

    int m_percent = 0;
    QString m_status;
    QString m_tail;
    bool m_liveShown = false;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sincePlain;
    QTimer m_stuckTimer;
};
