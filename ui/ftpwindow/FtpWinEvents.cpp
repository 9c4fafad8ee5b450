#include "ui/ftpwindow/FtpWindow.h"

#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/PathDialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

// ---- keys, drops, closing ---------------------------------------------------------------

bool TfrmFtpWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in the folder bar goes there; it never reaches the picker's OK.
    if (watched == edtPath && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            GoToPath();
            return true;
        }
    }
    if ((watched == lvwFiles || watched == lvwFilesList) && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // An open caption editor passes Enter on to the view after it has taken it.
        if (Editing())
            return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (key->modifiers() == Qt::NoModifier) {
            switch (key->key()) {
            case Qt::Key_Backspace:
                tbnUpperClick();
                return true;
            case Qt::Key_Delete:
                acnDeleteExecute();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                miOpenClick();
                return true;
            // Also here, not only as shortcuts: those need the window to be the active one.
            case Qt::Key_F2:
                acnRenameExecute();
                return true;
            case Qt::Key_F5:
                acnRefreshExecute();
                return true;
            default:
                break;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmFtpWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        // Escape closes only the picker, like its Cancel button.
        if (m_browseMode && !Editing())
            reject();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (m_browseMode && btnOK->isEnabled())
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmFtpWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (acnUpload->isEnabled() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmFtpWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (acnUpload->isEnabled() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmFtpWindow::dropEvent(QDropEvent *event)
{
    if (!acnUpload->isEnabled() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    UploadDropped(paths);
}

bool TfrmFtpWindow::ConfirmAbort()
{
    if (!FOperator->Busy())
        return true;
    if (QMessageBox::question(this, windowTitle(),
                              QStringLiteral("Operation is not complete. Abort?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return false;
    acnAbortExecute();
    return true;
}

void TfrmFtpWindow::AbortAndClose()
{
    acnAbortExecute();
    reject();
}

void TfrmFtpWindow::done(int result)
{
    if (!ConfirmAbort())
        return;
    QDialog::done(result);
}
