#include "ui/dialogs/PathDialog.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QUrl>

TPathDialog::TPathDialog(QObject *owner)
    : QObject(owner)
{
}

TPathDialog::~TPathDialog() = default;

void TPathDialog::SetTitle(const QString &title)
{
    m_title = title;
    if (m_dialog)
        m_dialog->setWindowTitle(title);
}

void TPathDialog::SetDirectory(const QString &directory)
{
    if (directory.isEmpty())
        m_directory = QDir::currentPath();
    else if (directory.endsWith(u'/') && directory != QStringLiteral("/"))
        m_directory = directory.chopped(1);
    else
        m_directory = directory;
    if (m_dialog && !m_directory.isEmpty())
        ApplyDirectory();
}

void TPathDialog::SetStatusText(const QString &text)
{
    m_statusText = text;
    ApplyStatusText();
}

QFileDialog *TPathDialog::Dialog() const
{
    return m_dialog.data();
}

QString TPathDialog::RootFolder() const
{
    if (m_rootItem == riDesktop)
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QDir::rootPath();
}

void TPathDialog::ApplyDirectory()
{
    // Selecting the folder itself, as in a folder tree: its parent is shown.
    const QFileInfo info(m_directory);
    if (info.isDir() && !info.isRoot()) {
        // The dialog leaves a focused file name edit alone, which would keep the old choice.
        QWidget *focused = m_dialog->focusWidget();
        const bool editFocused = qobject_cast<QLineEdit *>(focused) && focused->hasFocus();
        if (editFocused)
            focused->clearFocus();
        m_dialog->selectFile(info.absoluteFilePath());
        if (editFocused)
            focused->setFocus();
    } else if (info.isDir())
        m_dialog->setDirectory(info.absoluteFilePath());
    Selected(info.isDir() ? info.absoluteFilePath() : QString());
}

void TPathDialog::ApplyStatusText()
{
    if (m_status)
        m_status->setText(m_statusText);
}

void TPathDialog::Selected(const QString &path)
{
    const QString folder = !path.isEmpty() && QFileInfo(path).isDir() ? path : QString();
    if (folder == m_lastSelected)
        return;
    m_lastSelected = folder;
    emit OnSelect(folder);
}

bool TPathDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_dialog && event->type() == QEvent::Show && !m_shown) {
        m_shown = true;
        emit OnShow();
    }
    return QObject::eventFilter(watched, event);
}

bool TPathDialog::Execute()
{
    const QString root = RootFolder();
    if (root.isEmpty() || !QFileInfo(root).isDir())
        return false;

    QWidget *ownerWidget = qobject_cast<QWidget *>(parent());
    QFileDialog dialog(ownerWidget ? ownerWidget->window() : nullptr, m_title);
    dialog.setObjectName(QStringLiteral("PathDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setDirectory(root);
    if (m_rootItem == riDesktop)
        dialog.setSidebarUrls({QUrl::fromLocalFile(root)});
    if (m_showStatus) {
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
            auto *status = new QLabel(&dialog);
            status->setObjectName(QStringLiteral("StatusText"));
            status->setWordWrap(true);
            grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
            m_status = status;
        }
    }

    m_dialog = &dialog;
    m_shown = false;
    m_lastSelected.clear();
    connect(&dialog, &QFileDialog::currentChanged, this, &TPathDialog::Selected);
    connect(&dialog, &QFileDialog::directoryEntered, this, &TPathDialog::Selected);
    dialog.installEventFilter(this);
    if (!m_directory.isEmpty())
        ApplyDirectory();
    ApplyStatusText();

    const bool accepted = dialog.exec() == QDialog::Accepted;
    m_dialog = nullptr;
    m_status = nullptr;

    const QString chosen = accepted ? dialog.selectedFiles().value(0) : QString();
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return false;
    SetDirectory(chosen);
    return true;
}
