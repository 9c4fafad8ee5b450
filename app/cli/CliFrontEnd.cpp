#include "app/cli/CliFrontEnd.h"

#include "app/cli/CliTerminal.h"
#include "engine/PublishList.h"
#include "store/PrjCls.h"
#include "store/XMLStore.h"

#include <QEventLoop>
#include <QJsonDocument>

namespace {

// How long an abandoned worker may take to end after the end lines were shown; its
// connection has been shut down, so this only guards against a hang.
constexpr int StuckWorkerMs = 10000;
// Plain progress lines: not more often than this, and only in runs that last longer.
constexpr qint64 PlainProgressMs = 2000;

// The steps of a run, by the start of their log lines ("remove of the folder " before "remove ").
const std::pair<const char *, const char *> Actions[] = {{"uploading ", "upload"},
                                                         {"creating of the folder ", "mkdir"},
                                                         {"remove of the folder ", "rmdir"},
                                                         {"remove ", "remove"},
                                                         {"downloading ", "download"}};

} // namespace

void WriteJson(const QJsonObject &object)
{
    CliTerminal::WriteOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))
                          + QLatin1Char('\n'));
}

TCliFrontEnd::TCliFrontEnd(QObject *parent)
    : QObject(parent)
{
    m_stuckTimer.setSingleShot(true);
    m_stuckTimer.setInterval(StuckWorkerMs);
    connect(&m_stuckTimer, &QTimer::timeout, this, [this] {
        m_outcome.Stuck = true;
        if (m_loop)
            m_loop->quit();
    });
}

TCliFrontEnd::~TCliFrontEnd() = default;

TCliFrontEnd::TOutcome TCliFrontEnd::Run(TFileList *fileList, quint8 kind, TProject *project,
                                         bool report, bool listOutdated)
{
    m_outcome = {};
    if (TCliInterrupts::Requested()) {
        m_outcome.Aborted = true;
        return m_outcome;
    }
    m_fileList = fileList;
    m_project = project;
    m_report = report;
    m_listOutdated = listOutdated;
    m_percent = 0;
    m_status.clear();
    m_tail.clear();
    m_abortSent = false;
    m_ended = false;

    QEventLoop loop;
    m_loop = &loop;
    m_sinceStart.start();
    m_sincePlain.start();
    auto *op = new TPublishOperator(fileList, kind, project, this);
    // A killed run or a closed terminal loses at most the last few seconds of records.
    op->SaveRecordsAsItGoes = !DryRun;
    op->DryRun = DryRun;
    op->MaxDelete = MaxDelete;
    op->RememberHostKey = RememberHostKey;
    // From the sessions' threads: on a terminal each line first wipes the live line, which the
    // next report draws again.
    if (Debug) {
        const auto show = [live = Progress == TCliProgress::Live](const char *arrow) {
            return [live, arrow](const QString &line) {
                CliTerminal::WriteErr((live ? QStringLiteral("\r\x1b[K") : QString())
                                      + QLatin1String(arrow) + line + QLatin1Char('\n'));
            };
        };
        op->OnCommand = show("---> ");
        op->OnReply = show("<--- ");
    }
    m_operator = op;
    connect(op, &QObject::destroyed, &loop, &QEventLoop::quit);
    // The worker must never take the signals: its blocking socket calls would fail with EINTR.
    TCliInterrupts::WithSignalsBlocked([op] { op->start(); });
    loop.exec();
    m_loop = nullptr;
    m_stuckTimer.stop();
    ClearLive();
    return m_outcome;
}

void TCliFrontEnd::Interrupt()
{
    if (!m_operator || m_ended || m_abortSent)
        return;
    m_abortSent = true;
    m_operator->Abort();
}

void TCliFrontEnd::LogLine(int level, const QString &text)
{
    // A new line ends the progress tail of the previous one, as in the log pane.
    m_tail.clear();
    PrintLine(level, text);
    // After the end only the publish log's writer reports: its failure is a failed save.
    if (m_ended && level == 1)
        m_outcome.SaveFailed = true;
}

void TCliFrontEnd::SetProgress(int percent)
{
    m_percent = percent;
    DrawLive();
    PlainProgress();
}

void TCliFrontEnd::SetStatusText(const QString &text)
{
    m_status = text;
    DrawLive();
    PlainProgress();
}

void TCliFrontEnd::PlainProgress()
{
    if (Progress != TCliProgress::Plain || m_ended || m_status.isEmpty()
        || m_sincePlain.elapsed() < PlainProgressMs)
        return;
    m_sincePlain.start();
    if (Json)
        WriteJson({{QStringLiteral("event"), QStringLiteral("progress")},
                   {QStringLiteral("percent"), m_percent},
                   {QStringLiteral("status"), m_status.trimmed()}});
    else
        CliTerminal::WriteErr(QStringLiteral("%1% %2\n").arg(m_percent).arg(m_status.trimmed()));
}

void TCliFrontEnd::AppendLogText(const QString &text)
{
    m_tail = text;
    DrawLive();
}

void TCliFrontEnd::ClearView(TPublishOperator *) {}

void TCliFrontEnd::FillView(TPublishOperator *) {}

void TCliFrontEnd::ItemChanged(TFileListItem *) {}

bool TCliFrontEnd::TrustCertificate(const TCertificateInfo &certificate)
{
    if (certificate.Fingerprint.startsWith(QLatin1String("SHA256:")))
        return TrustHostKey(certificate);
    ClearLive();
    CliTerminal::WriteErr(
        QStringLiteral("The server's certificate does not verify:\n") + certificate.Details()
        + QStringLiteral("\nIf this is your server's certificate, trust it for the project with\n"
                         "  zandrel-cli set ")
        + CliTerminal::Quoted(m_project->FileName) + QStringLiteral(" trusted-certificate ")
        + certificate.Fingerprint
        + QStringLiteral("\n(a new project takes zandrel-cli new ... --trust-certificate ")
        + certificate.Fingerprint + QStringLiteral(").\n"));
    return false;
}

bool TCliFrontEnd::TrustHostKey(const TCertificateInfo &key)
{
    if (key.Fingerprint == HostKey)
        return true;
    ClearLive();
    if (!HostKey.isEmpty()) {
        CliTerminal::WriteErr(QStringLiteral("The server's host key has the SHA-256 fingerprint "
                                             "%1, not %2 as --%3 says.\n")
                                  .arg(key.Fingerprint, HostKey,
                                       RememberHostKey ? QStringLiteral("trust-host-key")
                                                       : QStringLiteral("accept-host-key")));
        return false;
    }
    const auto run = [&](const char *option) {
        return QStringLiteral("  zandrel-cli ") + Command + QStringLiteral(" --")
               + QLatin1String(option) + QLatin1Char(' ') + key.Fingerprint + QLatin1Char(' ')
               + CliTerminal::Quoted(m_project->FileName) + QLatin1Char('\n');
    };
    CliTerminal::WriteErr(
        QStringLiteral("The server's host key is not in known_hosts:\nServer: ") + key.Subject
        + QStringLiteral("\nKey type: ") + key.Issuer + QStringLiteral("\nSHA-256 fingerprint: ")
        + key.Fingerprint
        + QStringLiteral("\nIf it is your server's key (on the server, ssh-keygen -l -f on its "
                         "public host key\nprints the fingerprint), trust it from now on, in "
                         "~/.ssh/known_hosts, with\n")
        + run("trust-host-key") + QStringLiteral("or accept it for this run only with\n")
        + run("accept-host-key")
        + QStringLiteral("(a new project takes zandrel-cli new ... --trust-host-key ")
        + key.Fingerprint + QStringLiteral(").\n"));
    return false;
}

bool TCliFrontEnd::AllowPlainLogin(const QString &text)
{
    if (AllowPlain)
        return true;
    ClearLive();
    m_outcome.PlainRefused = true;
    CliTerminal::WriteErr(
        text
        + QStringLiteral(".\nIf you know the server no longer offers TLS, allow the login in clear "
                         "for one run with\n  zandrel-cli COMMAND --allow-plain PROJECT\n"
                         "or make a project for plain FTP with zandrel-cli new ... --encryption "
                         "off.\n"));
    return false;
}

int TCliFrontEnd::Ask(const QString &text)
{
    switch (Answers) {
    case TCliAnswers::YesToAll:
        return mrYesToAll;
    case TCliAnswers::NoToAll:
        return mrNoToAll;
    case TCliAnswers::Terminal:
        break;
    }
    ClearLive();
    CliTerminal::WriteErr(text + QLatin1Char('\n'));
    for (;;) {
        CliTerminal::WriteErr(
            QStringLiteral("[y] Yes, [n] No, [a] Yes to All, [N/o] No to All, [c] Cancel: "));
        QString line;
        if (CliTerminal::ReadLine(line) != CliTerminal::rrLine) {
            // End of input or Ctrl+C: the box's Cancel (the operator then stops).
            CliTerminal::WriteErr(QStringLiteral("\n"));
            return mrCancel;
        }
        line = line.trimmed();
        if (line == QLatin1String("y"))
            return mrYes;
        if (line == QLatin1String("n"))
            return mrNo;
        if (line == QLatin1String("a"))
            return mrYesToAll;
        if (line == QLatin1String("N") || line == QLatin1String("o"))
            return mrNoToAll;
        if (line == QLatin1String("c"))
            return mrCancel;
    }
}

void TCliFrontEnd::OperationEnd(TPublishOperator *sender)
{
    m_ended = true;
    ClearLive();
    m_status.clear();
    m_tail.clear();
    m_percent = 0;

    const quint8 kind = sender->Kind;
    const bool aborted = sender->Aborted;
    const bool hadErrors = sender->HadErrors;
    m_outcome.Aborted = aborted;
    m_outcome.HadErrors = hadErrors;

    // An abandoned worker may still be counting.
    if (!aborted) {
        m_outcome.Folders = sender->FoldersCount;
        m_outcome.Files = sender->FilesCount;
    }

    // The version records reach the project file here, as after every operation in the window,
    // before the end lines: an operation whose records are lost has not completed. A dry run
    // keeps the file as it was.
    try {
        if (!DryRun)
            m_project->Save(false);
    } catch (const EStoreError &error) {
        PrintLine(1, error.Message());
        m_outcome.SaveFailed = true;
    } catch (const std::exception &error) {
        PrintLine(1, QString::fromUtf8(error.what()));
        m_outcome.SaveFailed = true;
    }
    const bool failed = hadErrors || m_outcome.SaveFailed;
    if (aborted)
        PrintLine(1, QStringLiteral("Operation was aborted by user"));
    if (kind != pkRefresh && !aborted && !failed)
        PrintLine(2, QStringLiteral("Operation was successfully completed"));
    // Refresh and compare keep their error lines but end without this one.
    const bool reportErrors = kind == pkRemove || kind == pkDownload || kind == pkUpload;
    if (reportErrors && failed && !aborted)
        PrintLine(1, QStringLiteral("Operation was completed with errors"));

    if (m_report) {
        m_outcome.Statistics = FormatStatistics(*m_fileList);
        PrintLine(0, m_outcome.Statistics);
        if (m_listOutdated && kind == pkCompare && !aborted) {
            for (const QString &name : std::as_const(sender->CompareMissing))
                PrintEntry(QStringLiteral("missing"), name);
            for (const QString &name : std::as_const(sender->CompareChanged))
                PrintEntry(QStringLiteral("changed"), name);
            for (const QString &name : std::as_const(sender->CompareServerOnly))
                PrintEntry(QStringLiteral("server-only"), name);
        } else if (m_listOutdated) {
            for (int i = 0; i < m_fileList->Count(); ++i) {
                const TFileListItem *item = m_fileList->Items(i);
                if (!item->IsFolder && !item->Synchronous)
                    PrintEntry(
                        QStringLiteral("outdated"),
                        QString(item->RelativeName).replace(QLatin1Char('\\'), QLatin1Char('/')));
            }
        }
        if (Verbose) {
            const TFtp::TStats &stats = sender->FtpStats;
            PrintLine(0, QStringLiteral("%1 s, %2 FTP command(s), %3 connection(s)")
                             .arg(double(m_sinceStart.elapsed()) / 1000.0, 0, 'f', 1)
                             .arg(stats.Commands)
                             .arg(stats.Connections));
        }
    }

    m_stuckTimer.start();
}

void TCliFrontEnd::PrintEntry(const QString &state, const QString &path)
{
    ClearLive();
    if (Json)
        WriteJson({{QStringLiteral("event"), QStringLiteral("entry")},
                   {QStringLiteral("state"), state},
                   {QStringLiteral("path"), path}});
    else if (state == QLatin1String("outdated"))
        CliTerminal::WriteOut(path + QLatin1Char('\n'));
    else
        CliTerminal::WriteOut(state + QLatin1Char(' ') + path + QLatin1Char('\n'));
    DrawLive();
}

void TCliFrontEnd::PrintLine(int level, const QString &text)
{
    const bool planned = text.startsWith(QLatin1String(DryRunMark));
    if (Quiet && level != 1 && !planned)
        return;
    ClearLive();
    if (Json) {
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("log")},
                          {QStringLiteral("level"), level == 1   ? QStringLiteral("error")
                                                    : level == 2 ? QStringLiteral("notice")
                                                                 : QStringLiteral("info")},
                          {QStringLiteral("text"), text}};
        const QString step = planned ? text.mid(qstrlen(DryRunMark)) : text;
        for (const auto &[start, action] : Actions) {
            if (level == 0 && step.startsWith(QLatin1String(start))) {
                event.insert(QStringLiteral("action"), QString::fromLatin1(action));
                event.insert(QStringLiteral("path"), step.mid(qstrlen(start)));
                if (planned)
                    event.insert(QStringLiteral("dry_run"), true);
                break;
            }
        }
        WriteJson(event);
    } else if (level == 1)
        CliTerminal::WriteErr(text + QLatin1Char('\n'));
    else
        CliTerminal::WriteOut(text + QLatin1Char('\n'));
    DrawLive();
}

void TCliFrontEnd::DrawLive()
{
    if (Progress != TCliProgress::Live || m_ended)
        return;
    if (m_status.isEmpty() && m_tail.isEmpty()) {
        ClearLive();
        return;
    }
    QString line = QStringLiteral("%1% ").arg(m_percent, 3) + m_status + m_tail;
    // A wrapped line could not be redrawn in place.
    const int width = CliTerminal::StderrColumns() - 1;
    if (line.size() > width)
        line.truncate(qMax(0, width));
    CliTerminal::WriteErr(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
    m_liveShown = true;
}

void TCliFrontEnd::ClearLive()
{
    if (!m_liveShown)
        return;
    CliTerminal::WriteErr(QStringLiteral("\r\x1b[K"));
    m_liveShown = false;
}
