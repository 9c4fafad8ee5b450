// Upload on save: the main window's toggle that uploads the project as its files are saved.
#include "ui/main/main.h"

#include "engine/FolderWatch.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

void TfrmMain::miUploadOnSaveClick(bool checked)
{
    // On only while nothing runs (the project is read here), off at any time.
    struct TUpdate
    {
        TfrmMain *Window;
        ~TUpdate() { Window->UpdateCommands(); }
    } update{this};
    if (!checked) {
        StopUploadOnSave();
        return;
    }
    // The password is settled now, not by a box popping up at some later save.
    if (!FProject->Opened || Running() || !FProject->AskPassword()) {
        miUploadOnSave->setChecked(false);
        return;
    }
    if (!m_folderWatch) {
        m_folderWatch = new TFolderWatch(this);
        connect(m_folderWatch, &TFolderWatch::Changed, this, &TfrmMain::UploadSaved);
        connect(m_folderWatch, &TFolderWatch::Problem, this,
                [this](const QString &text) { AddLogLine(1, text); });
    }
    QString error;
    if (!m_folderWatch->Start(*FProject, error)) {
        miUploadOnSave->setChecked(false);
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("Upload on save cannot start: ") + error);
        return;
    }
    SetStatusText(QStringLiteral("Upload on save: watching %1").arg(FProject->GetLocalPath()));
}

void TfrmMain::StopUploadOnSave()
{
    m_savedWhileRunning = false;
    if (m_folderWatch)
        m_folderWatch->Stop();
    if (miUploadOnSave->isChecked()) {
        miUploadOnSave->setChecked(false);
        SetStatusText(QString());
    }
}

void TfrmMain::UploadSaved()
{
    if (!m_folderWatch || !m_folderWatch->Active() || !FProject->Opened)
        return;
    // A running operation, or a dialog that may be changing the project, goes first.
    m_savedWhileRunning = Running() || m_closeWhenEnded || QApplication::activeModalWidget();
    if (m_savedWhileRunning) {
        if (!Running())
            QTimer::singleShot(1000, this, &TfrmMain::UploadSaved);
        return;
    }
    // The folder watched is the one the options name now.
    if (m_folderWatch->Root() != FProject->GetLocalPath()) {
        QString error;
        if (!m_folderWatch->Start(*FProject, error)) {
            StopUploadOnSave();
            UpdateCommands();
            AddLogLine(1, QStringLiteral("Upload on save has stopped: ") + error);
            return;
        }
    }
    StartOperation(pkUpload);
}
