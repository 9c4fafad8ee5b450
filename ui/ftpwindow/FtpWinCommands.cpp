// The FTP window's commands and the handlers of its worker's events.
#include "ui/ftpwindow/FtpWindow.h"

#include "engine/FileLib.h"
#include "store/ProjectOptions.h"
#include "ui/dialogs/EditLib.h"
#include "ui/ftpwindow/FtpWinOptions.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QTreeView>

#include <utility>

// ---- commands ---------------------------------------------------------------------------

void TfrmFtpWindow::acnRefreshExecute()
{
    if (FOperator->Busy())
        return;
    FAction->Kind = fakList;
    FAction->ClearItems();
    Run();
}

void TfrmFtpWindow::tbnUpperClick()
{
    if (FOperator->Busy() || FAction->Path.size() < 2)
        return;
    QString path = FAction->Path;
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    m_folderLeft = path.section(QLatin1Char('/'), -1);
    FAction->Kind = fakList;
    FAction->ClearItems();
    FAction->AddItem(QStringLiteral(".."));
    Run();
}

void TfrmFtpWindow::GoToPath()
{
    const QString path = edtPath->text().trimmed();
    if (FOperator->Busy() || path.isEmpty() || !edtPath->isEnabled())
        return;
    FAction->Kind = fakList;
    FAction->ClearItems();
    FAction->AddItem(path);
    Run();
}

void TfrmFtpWindow::miOpenClick()
{
    if (FOperator->Busy())
        return;
    const QModelIndex current = lvwFiles->selectionModel()->currentIndex();
    const QList<int> rows = SelectedRows();
    const int row
        = current.isValid() && rows.contains(current.row()) ? current.row() : rows.value(0, -1);
    if (row < 0)
        return;
    const TFtpFileData *data = m_model.Data(row);
    FAction->ClearItems();
    FAction->Folders.clear();
    if (data->IsFolder) {
        FAction->Kind = fakList;
        FAction->AddItem(data->Name);
        Run();
        return;
    }
    if (m_browseMode)
        return;
    const QString folder = TempFolder();
    if (folder.isEmpty()) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Cannot create a temporary folder in %1 to open %2")
                                 .arg(GetTempDir(), data->Name));
        return;
    }
    FAction->Kind = fakDownload;
    FAction->AddItem(data->Name, data->Size, data->Date);
    FAction->LocalFolder = folder;
    FAction->ConfirmReplace = false; // the window's own copy of an earlier opening
    FOpenFileName = FAction->LocalFolder + QLatin1Char('/') + data->Name;
    Run();
}

void TfrmFtpWindow::acnNewFolderExecute()
{
    if (FOperator->Busy() || !acnNewFolder->isEnabled())
        return;
    QInputDialog box(this);
    box.setObjectName(QStringLiteral("MakeFolderBox"));
    box.setWindowTitle(QStringLiteral("Make Folder"));
    box.setLabelText(QStringLiteral("Enter the name for new folder"));
    box.setTextValue(QString()); // makes its edit
    // Room for a usual folder name; the box alone would fit only a few letters.
    if (auto *edit = box.findChild<QLineEdit *>())
        edit->setMinimumWidth(box.fontMetrics().averageCharWidth() * 40);
    const bool ok = box.exec() == QDialog::Accepted;
    const QString name = box.textValue().trimmed();
    if (!ok || name.isEmpty() || FOperator->Busy())
        return;
    FAction->Kind = fakMakeFolder;
    FAction->ClearItems();
    FAction->AddItem(name);
    Run();
}

void TfrmFtpWindow::acnDownloadExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.isEmpty())
        return;
    const QString folder = AskDownloadFolder();
    if (folder.isEmpty() || FOperator->Busy())
        return;
    FAction->LocalFolder = folder;
    FAction->ConfirmReplace = true;
    RunOnRows(fakDownload, rows);
}

void TfrmFtpWindow::acnUploadExecute()
{
    if (FOperator->Busy() || !acnUpload->isEnabled())
        return;
    const QStringList files = AskUploadFiles();
    if (files.isEmpty() || FOperator->Busy())
        return;
    FAction->Kind = fakUpload;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (const QString &file : files)
        FAction->AddItem(file);
    FAction->LocalFolder = QFileInfo(files.first()).absolutePath();
    Run();
}

void TfrmFtpWindow::UploadDropped(const QStringList &paths)
{
    if (FOperator->Busy() || !acnUpload->isEnabled() || paths.isEmpty())
        return;
    FAction->Kind = fakUpload;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            FAction->Folders.append(QDir::cleanPath(info.absoluteFilePath()));
        else if (info.isFile())
            FAction->AddItem(QDir::cleanPath(info.absoluteFilePath()));
    }
    FAction->LocalFolder = QFileInfo(QDir::cleanPath(paths.last())).absolutePath();
    activateWindow();
    raise();
    Run();
}

void TfrmFtpWindow::acnDeleteExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.isEmpty())
        return;
    const QString question
        = rows.size() == 1
              ? QStringLiteral("Are you sure you want to delete \"%1\"?")
                    .arg(m_model.Data(rows[0])->Name)
              : QStringLiteral("Are you sure you want to delete these %1 items?").arg(rows.size());
    if (QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes
        || FOperator->Busy())
        return;
    RunOnRows(fakDelete, rows);
}

void TfrmFtpWindow::acnRenameExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.size() != 1)
        return;
    QAbstractItemView *view = CurrentView();
    const QModelIndex index = m_model.index(rows[0], TFtpFileModel::colName);
    view->setCurrentIndex(index);
    view->edit(index);
}

bool TfrmFtpWindow::RenameRow(int, const QString &oldName, const QString &newName)
{
    if (newName.trimmed().isEmpty() || FOperator->Busy())
        return false;
    // Started once the editor has closed: the action disables the list, which would pull the
    // editor away while it is still committing.
    QMetaObject::invokeMethod(
        this,
        [this, oldName, newName] {
            if (FOperator->Busy())
                return;
            FAction->Kind = fakRename;
            FAction->ClearItems();
            FAction->AddItem(oldName);
            FAction->AddItem(newName);
            Run();
        },
        Qt::QueuedConnection);
    return true;
}

void TfrmFtpWindow::acnAbortExecute()
{
    if (!FOperator->Busy())
        return;
    // The old worker is cut off where it stands; a fresh one connects on the next action.
    FOperator.reset();
    m_pendingRows.clear();
    CreateOperator();
    ApplyConnection();
    FtpEnd(nullptr);
}

void TfrmFtpWindow::tbnConnectClick()
{
    if (FOperator->Busy())
        return;
    // A window not yet connected starts from where the last one went.
    if (FConnection.Items(QStringLiteral("ServerName"))->AsString().isEmpty()) {
        try {
            LoadLastConnection(FConnection);
        } catch (const std::exception &) {
            // An unreadable settings file only means the fields start empty.
        }
        if (FConnection.Items(QStringLiteral("ServerPort"))->AsString().isEmpty())
            FConnection.Items(QStringLiteral("ServerPort"))
                ->SetAsString(QString::number(
                    DefaultPort(FConnection.Items(QStringLiteral("Protocol"))->AsString())));
    }
    if (!EditConnection(FConnection, this) || FOperator->Busy())
        return;
    try {
        SaveLastConnection(FConnection);
    } catch (const std::exception &error) {
        QMessageBox::warning(this, windowTitle(), QString::fromLocal8Bit(error.what()));
    }
    m_model.Clear();
    FOperator->DropConnection();
    ApplyConnection();
    Refresh();
}

// ---- worker events ----------------------------------------------------------------------

void TfrmFtpWindow::FtpBegin(TFtpOperator *)
{
    if (!m_cursorSet) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        m_cursorSet = true;
    }
    m_pendingRows.clear();
    lvwFiles->setEnabled(false);
    lvwFilesList->setEnabled(false);
    UpdateControls();
}

void TfrmFtpWindow::FtpClearList(TFtpOperator *)
{
    m_pendingRows.clear();
    m_model.Clear();
}

void TfrmFtpWindow::FtpAddFile(TFtpOperator *, std::unique_ptr<TFtpFileData> data)
{
    m_pendingRows.push_back(std::move(data));
}

void TfrmFtpWindow::FtpStatus(TFtpOperator *, const QString &text, int percent)
{
    ShowStatusText(text);
    ProgressBar->setValue(percent);
}

void TfrmFtpWindow::FtpError(TFtpOperator *, const QString &text)
{
    QMessageBox::warning(this, windowTitle(), text);
}

void TfrmFtpWindow::FtpEnd(TFtpOperator *sender)
{
    m_model.AppendAll(std::move(m_pendingRows));
    m_pendingRows.clear();
    FitColumns();
    SortList();
    lvwFiles->setEnabled(true);
    lvwFilesList->setEnabled(true);
    ProgressBar->setValue(0);
    UpdateStatusLine();
    UpdateCaption();
    edtPath->setText(FAction->Path);
    QAbstractItemView *view = CurrentView();
    view->setFocus();
    QItemSelectionModel *selection = lvwFiles->selectionModel();
    // After going up, the folder left is where the user stands; in the picker it is only the
    // current row, as a selected one is what its OK returns.
    const QString left = std::exchange(m_folderLeft, QString());
    int leftRow = -1;
    for (int row = 0; !left.isEmpty() && row < m_model.rowCount() && leftRow < 0; ++row) {
        if (m_model.Data(row)->IsFolder && m_model.Data(row)->Name == left)
            leftRow = row;
    }
    if (leftRow >= 0) {
        const QModelIndex index = m_model.index(leftRow, 0);
        selection->setCurrentIndex(index, m_browseMode ? QItemSelectionModel::NoUpdate
                                                       : QItemSelectionModel::ClearAndSelect
                                                             | QItemSelectionModel::Rows);
        lvwFiles->scrollTo(index);
        lvwFilesList->scrollTo(index);
    } else if (m_model.rowCount() > 0 && !m_browseMode) {
        // The picker selects nothing by itself: a selected row is what its OK returns.
        if (!selection->currentIndex().isValid())
            selection->setCurrentIndex(m_model.index(0, 0), QItemSelectionModel::NoUpdate);
        if (!selection->hasSelection())
            selection->select(m_model.index(0, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (sender && !sender->Failed() && !FOpenFileName.isEmpty())
        OpenDownloadedFile();
    FOpenFileName.clear();
    UpdateControls();
    // What a transfer moved stays in the status line until the user acts again.
    if (FAction->Kind == fakDownload || FAction->Kind == fakUpload)
        ShowStatusText(TransferSummary(*FAction));
    if (m_cursorSet) {
        QApplication::restoreOverrideCursor();
        m_cursorSet = false;
    }
    // Asked once the action has ended, so a Yes can run it again at once.
    if (m_untrustedCertificate) {
        const TCertificateInfo certificate = *m_untrustedCertificate;
        m_untrustedCertificate.reset();
        TrustAndRetry(certificate);
    }
}

void TfrmFtpWindow::TrustAndRetry(const TCertificateInfo &certificate)
{
    if (!AskTrustCertificate(certificate, QStringLiteral("this connection"), this))
        return;
    FConnection.Items(QStringLiteral("TrustedCertificate"))->SetAsString(certificate.Fingerprint);
    ApplyConnection();
    Run();
}
