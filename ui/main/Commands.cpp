// The menu and toolbar commands of the main window that open a dialog or start an operation.
#include "ui/main/main.h"

#include "store/ShellLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/ProjectOrganizer.h"
#include "ui/main/FileViewModels.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QToolButton>
#include <QUrl>

void TfrmMain::miNewClick()
{
    SaveProject(true);
    auto project = std::make_unique<TProject>();
    project->Clear();
    project->InitDefaults();
    TfrmOptions dialog(this);
    // Over this window even when it is not yet placed (the first start asks at once).
    dialog.move(frameGeometry().center() - dialog.rect().center());
    if (dialog.Execute(*project)) {
        StopUploadOnSave();
        m_listModel->Clear();
        m_treeModel->Clear();
        FProject = std::move(project);
        FProject->Opened = true;
        SaveProject(false);
        QString refusal;
        if (!FProject->FileName.isEmpty() && !m_projectLock.Lock(FProject->FileName, refusal)) {
            // Saved, but not to be published from here without the lock.
            QMessageBox::warning(this, QStringLiteral("Zandrel"), refusal);
            FProject->Opened = false;
            UpdateCommands();
            return;
        }
        UpdateTitle();
        UpdateCommands();
        StartOperation(pkRefresh);
        return;
    }
    UpdateCommands();
}

void TfrmMain::miOrganizeClick()
{
    OrganizeProjects(FProject->FileName, this);
    RebuildProjectMenu();
}

void TfrmMain::miProjectOptionsClick()
{
    TfrmOptions dialog(this);
    if (dialog.Execute(*FProject)) {
        UpdateTitle();
        StartOperation(pkRefresh);
    }
}

void TfrmMain::miAsciiFilesClick()
{
    TSettings settings;
    if (EditMasks(settings.TextFiles, this, QStringLiteral("ASCII Files")))
        SaveSettingsOrSay(settings, this);
}

void TfrmMain::miExecFilesClick()
{
    TSettings settings;
    if (EditMasks(settings.ExecFiles, this, QStringLiteral("Executable Files")))
        SaveSettingsOrSay(settings, this);
}

void TfrmMain::miUploadClick()
{
    StartOperation(pkUpload);
}

void TfrmMain::sbRefreshClick()
{
    StartOperation(pkRefresh);
}

void TfrmMain::miRefreshWithoutCacheClick()
{
    retLog->clear();
    m_logEmpty = true;
    FLogTailLength = -1;
    StartOperation(pkCompare);
}

void TfrmMain::miDownloadClick()
{
    StartOperation(pkDownload);
}

void TfrmMain::miRemoveClick()
{
    StartOperation(pkRemove);
}

void TfrmMain::sbAbortClick()
{
    sbAbort->setEnabled(false);
    FUploadAtOnce = false;
    if (FOperator)
        FOperator->Abort();
}

void TfrmMain::sbOpenInExplorerClick()
{
    const QString path = FProject->Nodes(QStringLiteral("Path"))->Value;
    if (!path.isEmpty() && QFileInfo(path).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    else
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("Invalid source path"));
}

void TfrmMain::sbBrowseServerClick()
{
    SaveProject(false);
    if (!FProject->AskPassword())
        return;
    // The password goes to the child on its standard input: a command line is public.
    const bool started
        = StartWithSecretOnStdin(ProgramFile, {FProject->FileName, QStringLiteral("FTPWindow")},
                                 FProject->GetPassword(), m_projectLock.Descriptor());
    if (!started)
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("The FTP window could not be started"));
}

QString TfrmMain::ManualPath()
{
    const QString installed = QCoreApplication::applicationDirPath()
                              + QStringLiteral("/../share/doc/zandrel/manual/index.html");
    if (QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
#ifdef ZANDREL_MANUAL_SOURCE
    if (QFileInfo::exists(QStringLiteral(ZANDREL_MANUAL_SOURCE)))
        return QStringLiteral(ZANDREL_MANUAL_SOURCE);
#endif
    return {};
}

void TfrmMain::miHelpTopicsClick()
{
    const QString manual = ManualPath();
    const auto fail = [this, manual](const QString &cause) {
        QMessageBox::warning(
            this, QStringLiteral("Zandrel"),
            manual.isEmpty()
                ? QStringLiteral("The manual could not be found: %1").arg(cause)
                : QStringLiteral("The manual %1 could not be opened: %2").arg(manual, cause));
    };
    if (manual.isEmpty())
        return fail(QStringLiteral("it is not installed beside the program"));
    // QDesktopServices reports success once the opener has started, whatever becomes of it;
    // xdg-open's own exit status says whether a browser took the page.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(manual)))
            fail(QStringLiteral("no program to open it was found (xdg-open is not installed)"));
        return;
    }
    auto *process = new QProcess(this);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    connect(process, &QProcess::errorOccurred, this, [process, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        fail(QStringLiteral("%1 could not be started: %2")
                 .arg(process->program(), process->errorString()));
        process->deleteLater();
    });
    connect(
        process, &QProcess::finished, this, [process, fail](int code, QProcess::ExitStatus status) {
            process->deleteLater();
            if (status == QProcess::NormalExit && code == 0)
                return;
            const QString said = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
            QString cause = status == QProcess::NormalExit
                                ? QStringLiteral("xdg-open ended with status %1").arg(code)
                                : QStringLiteral("xdg-open crashed");
            if (!said.isEmpty())
                cause += QStringLiteral(" (%1)").arg(said.section(u'\n', -1));
            fail(cause);
        });
    process->start(opener, {QUrl::fromLocalFile(manual).toString()});
}
