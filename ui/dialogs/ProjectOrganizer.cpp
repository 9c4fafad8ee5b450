#include "ui/dialogs/ProjectOrganizer.h"

#include "store/PrjCls.h"
#include "store/ShellLib.h"
#include "store/StringLib.h"
#include "store/XMLStore.h"
#include "ui/dialogs/EditLib.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>

namespace {
const QString ShortcutExtension = QStringLiteral(".desktop");

// Rows sort by their caption with case ignored.
class TProjectRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int folded = text(0).compare(other.text(0), Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : text(0) < other.text(0);
    }
};

// Hands a confirmed caption to `Edited` after the editor has closed, instead of writing it:
// the row keeps its caption until the rename has succeeded.
class TCaptionDelegate : public TEditTrackingDelegate
{
public:
    using TEditTrackingDelegate::TEditTrackingDelegate;
    std::function<void(const QModelIndex &, const QString &)> Edited;

    void setModelData(QWidget *editor, QAbstractItemModel *,
                      const QModelIndex &index) const override
    {
        const auto *line = qobject_cast<QLineEdit *>(editor);
        if (!line || !Edited)
            return;
        const QPersistentModelIndex row(index);
        const QString text = line->text();
        QMetaObject::invokeMethod(
            parent(),
            [edited = Edited, row, text] {
                if (row.isValid())
                    edited(row, text);
            },
            Qt::QueuedConnection);
    }
};

// What tells a project file's row apart from the others: the site as host:port, the login,
// the local folder and the remote folder; empty when the file cannot be read.
QStringList DetailsOf(const QString &fileName)
{
    TProject project;
    try {
        project.Load(fileName);
    } catch (const EStoreError &) {
        return {QString(), QString(), QString(), QString()};
    }
    const auto value
        = [&](const char *key) { return project.Nodes(QLatin1String(key))->AsString().trimmed(); };
    const QString host = value("Host");
    const QString site = host.isEmpty()        ? QString()
                         : host.contains(u':') ? QStringLiteral("[%1]:%2").arg(host, value("Port"))
                                               : host + u':' + value("Port");
    return {site, value("User"), QDir::toNativeSeparators(value("Path")), value("RemotePath")};
}

// The save dialog of a launcher: the extension rule and the replace question come before it
// closes, so a refused name leaves it open.
class TShortcutDialog : public QFileDialog
{
public:
    explicit TShortcutDialog(QWidget *parent)
        : QFileDialog(parent, QStringLiteral("Create shortcut"), QString(),
                      QStringLiteral("ShortCuts (*.desktop);;All Files (*)"))
    {
        setObjectName(QStringLiteral("sdgShortCut"));
        setAcceptMode(QFileDialog::AcceptSave);
        setOption(QFileDialog::DontConfirmOverwrite);
        setOption(QFileDialog::DontResolveSymlinks);
    }
    QString FileName() const { return WithShortcutExtension(selectedFiles().value(0)); }

    void accept() override
    {
        const QString chosen = selectedFiles().value(0);
        if (!chosen.isEmpty() && !QFileInfo(chosen).isDir()) {
            const QString name = WithShortcutExtension(chosen);
            if (QFileInfo::exists(name)
                && QMessageBox::warning(
                       this, windowTitle(),
                       name + QStringLiteral(" already exists. Do you want to replace it?"),
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                       != QMessageBox::Yes)
                return;
        }
        QFileDialog::accept();
    }
};
} // namespace

QString WithShortcutExtension(const QString &fileName)
{
    if (fileName.endsWith(ShortcutExtension, Qt::CaseInsensitive))
        return fileName;
    return fileName + ShortcutExtension;
}

TfrmProjectOrganizer::TfrmProjectOrganizer(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProjectOrganizer"));
    setWindowTitle(QStringLiteral("Projects"));

    lvwProjects = new QTreeWidget(this);
    lvwProjects->setObjectName(QStringLiteral("lvwProjects"));
    lvwProjects->setColumnCount(5);
    lvwProjects->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Site"),
                                  QStringLiteral("Login"), QStringLiteral("Local Folder"),
                                  QStringLiteral("Remote Folder")});
    lvwProjects->setRootIsDecorated(false);
    lvwProjects->setUniformRowHeights(true);
    lvwProjects->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwProjects->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwProjects->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwProjects->setSortingEnabled(true);
    lvwProjects->sortByColumn(0, Qt::AscendingOrder);
    lvwProjects->header()->setSectionsClickable(false);
    lvwProjects->header()->setSortIndicatorShown(false);
    lvwProjects->header()->setStretchLastSection(true);
    auto *delegate = new TCaptionDelegate(lvwProjects);
    delegate->Edited = [this](const QModelIndex &index, const QString &text) {
        lvwProjectsEdited(lvwProjects->topLevelItem(index.row()), text);
    };
    lvwProjects->setItemDelegateForColumn(0, delegate);

    const auto newButton
        = [this](const char *name, const QString &text) { return NewSideButton(this, name, text); };
    btnDelete = newButton("btnDelete", QStringLiteral("&Delete"));
    btnRename = newButton("btnRename", QStringLiteral("&Rename"));
    btnCreateShortcut = newButton("btnCreateShortcut", QStringLiteral("Create &Shortcut"));
    btnOpenProjectsFolder = newButton("btnOpenProjectsFolder", QStringLiteral("&Projects Folder"));
    btnClose = newButton("btnClose", QStringLiteral("Close"));

    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {btnDelete, btnRename, btnCreateShortcut, btnOpenProjectsFolder})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(lvwProjects, 1);
    layout->addLayout(buttons);
    resize(900, 320);

    connect(btnDelete, &QPushButton::clicked, this, &TfrmProjectOrganizer::btnDeleteClick);
    connect(btnRename, &QPushButton::clicked, this, &TfrmProjectOrganizer::btnRenameClick);
    connect(btnCreateShortcut, &QPushButton::clicked, this,
            &TfrmProjectOrganizer::btnCreateShortcutClick);
    connect(btnOpenProjectsFolder, &QPushButton::clicked, this,
            &TfrmProjectOrganizer::btnOpenProjectsFolderClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvwProjects, &QTreeWidget::itemSelectionChanged, this,
            &TfrmProjectOrganizer::UpdateButtons);
    PreviewKeys(this);
    UpdateButtons();
}

void TfrmProjectOrganizer::FillList()
{
    lvwProjects->clear();
    ProjectPaths = SortedProjectFiles();
    QTreeWidgetItem *selected = nullptr;
    for (int i = 0; i < ProjectPaths.size(); ++i) {
        const QString &path = ProjectPaths.at(i);
        auto *row = new TProjectRow(QStringList{ProjectTitle(path)} + DetailsOf(path));
        row->setData(0, Qt::UserRole, i);
        row->setFlags(row->flags() | Qt::ItemIsEditable);
        lvwProjects->addTopLevelItem(row);
        if (!selected && SameTextAscii(path, CurrentProject))
            selected = row;
    }
    if (!selected && lvwProjects->topLevelItemCount() > 0)
        selected = lvwProjects->topLevelItem(0);
    if (selected)
        lvwProjects->setCurrentItem(
            selected, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    const int minimum[] = {150, 50, 50, 80, 80};
    for (int column = 0; column < lvwProjects->columnCount(); ++column) {
        lvwProjects->resizeColumnToContents(column);
        if (lvwProjects->columnWidth(column) < minimum[column])
            lvwProjects->setColumnWidth(column, minimum[column]);
    }
    UpdateButtons();
}

void TfrmProjectOrganizer::UpdateButtons()
{
    const bool selected = SelectedRow() != nullptr;
    btnDelete->setEnabled(selected);
    btnRename->setEnabled(selected);
    btnCreateShortcut->setEnabled(selected);
}

QTreeWidgetItem *TfrmProjectOrganizer::SelectedRow() const
{
    const QList<QTreeWidgetItem *> selected = lvwProjects->selectedItems();
    return selected.isEmpty() ? nullptr : selected.constFirst();
}

QString TfrmProjectOrganizer::PathOf(const QTreeWidgetItem *item) const
{
    return ProjectPaths.value(item->data(0, Qt::UserRole).toInt());
}

bool TfrmProjectOrganizer::IsCurrentProject(const QTreeWidgetItem *item) const
{
    return !CurrentProject.isEmpty() && SameTextAscii(PathOf(item), CurrentProject);
}

void TfrmProjectOrganizer::SelectRow(int position)
{
    const int count = lvwProjects->topLevelItemCount();
    if (count == 0)
        return;
    lvwProjects->setCurrentItem(lvwProjects->topLevelItem(std::min(position, count - 1)), 0,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool TfrmProjectOrganizer::Editing() const
{
    const auto *delegate
        = static_cast<TEditTrackingDelegate *>(lvwProjects->itemDelegateForColumn(0));
    return delegate->Editing();
}

void TfrmProjectOrganizer::btnDeleteClick()
{
    lvwProjects->setFocus();
    QTreeWidgetItem *row = SelectedRow();
    if (!row)
        return;
    // The main window would write the file back at its next save, or lose track of it.
    if (IsCurrentProject(row)) {
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("The project \"%1\" is open and can not be deleted").arg(row->text(0)));
        return;
    }
    if (QMessageBox::question(
            this, windowTitle(),
            QStringLiteral("Do you want to delete \"%1\" project?").arg(row->text(0)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    if (!QFile::remove(PathOf(row))) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("The project can not be deleted"));
        return;
    }
    for (const auto &companion : {ContentFileOf, ResumeFileOf})
        QFile::remove(companion(PathOf(row)));
    const int position = lvwProjects->indexOfTopLevelItem(row);
    delete row;
    SelectRow(position);
    UpdateButtons();
}

void TfrmProjectOrganizer::btnRenameClick()
{
    QTreeWidgetItem *row = SelectedRow();
    if (!row)
        return;
    lvwProjects->setFocus();
    lvwProjects->editItem(row, 0);
}

void TfrmProjectOrganizer::lvwProjectsEdited(QTreeWidgetItem *item, const QString &text)
{
    if (!item || text == item->text(0))
        return;
    const auto refuse
        = [this](const QString &message) { QMessageBox::critical(this, windowTitle(), message); };
    if (TrimBlanks(text).isEmpty())
        return refuse(QStringLiteral("The project name must be defined"));
    // A "/" would move the file out of the projects folder.
    if (text.contains(u'/'))
        return refuse(QStringLiteral("The project name can not contain \"/\""));
    if (IsCurrentProject(item))
        return refuse(
            QStringLiteral("The project \"%1\" is open and can not be renamed").arg(item->text(0)));
    const QString newPath = ProjectsFolder() + text + QStringLiteral(".zdx");
    if (QFileInfo::exists(newPath))
        return refuse(QStringLiteral("The project \"%1\" already exists").arg(text));
    const QString oldPath = PathOf(item);
    if (!QFile::rename(oldPath, newPath))
        return refuse(QStringLiteral("The project can not be renamed"));
    // Without its companions the project still works; ones left behind would only mislead.
    for (const auto &companion : {ContentFileOf, ResumeFileOf}) {
        QFile::remove(companion(newPath));
        QFile::rename(companion(oldPath), companion(newPath));
    }
    ProjectPaths[item->data(0, Qt::UserRole).toInt()] = newPath;
    item->setText(0, text);
    lvwProjects->scrollToItem(item);
}

void TfrmProjectOrganizer::btnCreateShortcutClick()
{
    lvwProjects->setFocus();
    QTreeWidgetItem *row = SelectedRow();
    if (!row)
        return;
    const QString project = PathOf(row);
    TShortcutDialog dialog(this);
    // A desktop without a Desktop folder: the home folder rather than wherever we run.
    const QString desktop = GetCommonDesktopFolder();
    dialog.setDirectory(QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
    dialog.selectFile(ProjectTitle(project));
    if (dialog.exec() != QDialog::Accepted)
        return;
    CreateShortcut(dialog.FileName(), QCoreApplication::applicationFilePath(), project);
}

void TfrmProjectOrganizer::btnOpenProjectsFolderClick()
{
    lvwProjects->setFocus();
    QDesktopServices::openUrl(QUrl::fromLocalFile(ProjectsFolder()));
}

bool TfrmProjectOrganizer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || Editing())
        return QDialog::eventFilter(watched, event);
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Delete:
        btnDeleteClick();
        return true;
    case Qt::Key_F2:
        btnRenameClick();
        return true;
    case Qt::Key_Escape:
        reject();
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void OrganizeProjects(const QString &currentProject, QWidget *parent)
{
    TfrmProjectOrganizer dialog(parent);
    dialog.CurrentProject = currentProject;
    dialog.FillList();
    dialog.exec();
}
