#include "ui/main/main.h"

#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "ui/dialogs/AlertSound.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/FolderProp.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <utility>

// ---- operations ---------------------------------------------------------------------------

void TfrmMain::ResetFilter()
{
    const QSignalBlocker blocker(cbxFilter);
    cbxFilter->clear();
    cbxFilter->addItem(QStringLiteral("*"));
    cbxFilter->setEditText(QStringLiteral("*"));
}

void TfrmMain::AddFolderFilters()
{
    const QSignalBlocker blocker(cbxFilter);
    for (int i = 0; i < FFileList->Count(); ++i) {
        const TFileListItem *item = FFileList->Items(i);
        if (item->IsFolder)
            cbxFilter->addItem(IncludeTrailingBackslash(item->RelativeName) + u'*');
    }
}

void TfrmMain::StartOperation(quint8 kind)
{
    // Nothing new starts while the window waits for an aborted operation to close.
    if (FOperator || !FProject->Opened || m_closeWhenEnded)
        return;
    if (kind >= pkCompare && !FProject->AskPassword())
        return;
    if (kind == pkRefresh || kind == pkCompare)
        ResetFilter();
    if (kind == pkRefresh || kind == pkCompare || kind == pkUpload)
        FSortColumn = 2;
    if (kind >= pkRemove) {
        retLog->clear();
        m_logEmpty = true;
        FLogTailLength = -1;
    }
    FOperator = new TPublishOperator(FFileList.get(), kind, FProject.get(), this, this);
    // Records reach the project file as the run goes (a project with a file only); the end
    // of the operation saves it as well.
    FOperator->SaveRecordsAsItGoes = true;
    FLastThread = nullptr;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    UpdateCommands();
    if (kind != pkRefresh && PageControl->currentWidget() != tstLog)
        PageControl->setCurrentWidget(tstLog);
    FOperator->start();
}

void TfrmMain::LogLine(int level, const QString &text)
{
    AddLogLine(level, text);
}

void TfrmMain::SetProgress(int percent)
{
    pgbUpload->setValue(percent);
}

void TfrmMain::SetStatusText(const QString &text)
{
    pnlStat->setText(u' ' + text);
}

void TfrmMain::AppendLogText(const QString &text)
{
    AppendLogTextToLog(text);
}

void TfrmMain::PlayAlert(const QString &soundFile)
{
    PlayAlertSound(soundFile);
}

void TfrmMain::ClearView(TPublishOperator *)
{
    ClearViews();
}

void TfrmMain::FillView(TPublishOperator *)
{
    RebuildViews();
}

void TfrmMain::ItemChanged(TFileListItem *item)
{
    UpdateItemView(item);
}

bool TfrmMain::TrustCertificate(const TCertificateInfo &certificate)
{
    return AskTrustCertificate(certificate, QStringLiteral("this project"), this);
}

bool TfrmMain::AllowPlainLogin(const QString &text)
{
    return AskPlainLogin(text, this);
}

bool TfrmMain::AskPassphrase(const QString &keyFile, QString &passphrase)
{
    return AskForPassphrase(keyFile, passphrase, this);
}

int TfrmMain::Ask(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Zandrel"), text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::YesToAll
                        | QMessageBox::NoToAll,
                    this);
    box.setDefaultButton(QMessageBox::No); // Enter must never delete or overwrite
    switch (box.exec()) {
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    case QMessageBox::YesToAll:
        return mrYesToAll;
    case QMessageBox::NoToAll:
        return mrNoToAll;
    default:
        return mrCancel;
    }
}

void TfrmMain::OperationEnd(TPublishOperator *sender)
{
    try {
        switch (sender->Kind) {
        case pkRefresh:
        case pkCompare:
            RefreshEnded(sender);
            break;
        case pkUpload:
            UploadEnded(sender);
            break;
        case pkRemove:
            EndOperation(sender, true);
            break;
        case pkDownload:
            EndOperation(sender, true);
            StartOperation(pkRefresh);
            break;
        default:
            EndOperation(sender, true);
        }
    } catch (const std::exception &error) {
        AddLogLine(1, QString::fromUtf8(error.what()));
    }
    emit OperationFinished(sender->Kind);
    if (m_closeWhenEnded && !FOperator)
        QTimer::singleShot(0, this, &QWidget::close);
    else if (m_savedWhileRunning)
        QTimer::singleShot(0, this, &TfrmMain::UploadSaved);
}

void TfrmMain::EndOperation(TPublishOperator *sender, bool reportErrors)
{
    // Notifications sent before the end were queued before it, so they are shown already.
    const quint8 kind = sender->Kind;
    const bool aborted = sender->Aborted;
    const bool hadErrors = sender->HadErrors;
    if (kind != pkRefresh && !aborted && sender->Settings.SoundEnabled)
        PlayAlertSound(sender->Settings.CompleteSound);
    // The records are saved before the end lines: an operation whose records are lost has
    // not completed successfully.
    m_saveFailed = !SaveProject(false, true);
    if (aborted)
        AddLogLine(1, QStringLiteral("Operation was aborted by user"));
    if (kind != pkRefresh && !aborted && !hadErrors && !m_saveFailed)
        AddLogLine(2, QStringLiteral("Operation was successfully completed"));
    if (reportErrors && (hadErrors || m_saveFailed) && !aborted)
        AddLogLine(1, QStringLiteral("Operation was completed with errors"));
    FLastThread = sender;
    FOperator = nullptr;
    UpdateCommands();
    UpdateStatistics();
    pgbUpload->setValue(0);
    QApplication::restoreOverrideCursor();
    if (!FUploadAtOnce && !QApplication::activeWindow())
        QApplication::alert(this);
}

void TfrmMain::RefreshEnded(TPublishOperator *sender)
{
    EndOperation(sender, false);
    AddFolderFilters();
}

void TfrmMain::UploadEnded(TPublishOperator *sender)
{
    const bool aborted = sender->Aborted;
    const bool hadErrors = sender->HadErrors;
    EndOperation(sender, true);
    if (FUploadAtOnce && !aborted && m_arguments.size() >= 2
        && m_arguments[1] == QLatin1String("2")) {
        m_exitCode = hadErrors || m_saveFailed ? 1 : 0;
        QMetaObject::invokeMethod(this, &TfrmMain::QuitAfterUpload, Qt::QueuedConnection);
        return;
    }
    if (aborted)
        StartOperation(pkRefresh);
    SortFileList();
    FUploadAtOnce = false;
}

void TfrmMain::QuitAfterUpload()
{
    if (FLastThread)
        FLastThread->wait(QDeadlineTimer(5000));
    QCoreApplication::exit(m_exitCode);
}
