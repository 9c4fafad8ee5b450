#pragma once

#include <QDialog>
#include <QStringList>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "Projects": lists the project files of the projects folder and deletes, renames and makes
// launchers for them. It works on files only, never on the main window's open document.
class TfrmProjectOrganizer : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmProjectOrganizer(QWidget *parent = nullptr);

    // The open project's file: its row starts selected, and it is neither deleted nor renamed
    // while the main window holds it.
    QString CurrentProject;
    // Full paths of the listed files; each row's data is its index here.
    QStringList ProjectPaths;

    void FillList();
    void UpdateButtons();
    void btnDeleteClick();
    void btnRenameClick();
    void btnCreateShortcutClick();
    void btnOpenProjectsFolderClick();
    // The in-place edit of a caption was confirmed with `text`.
    void lvwProjectsEdited(QTreeWidgetItem *item, const QString &text);

    QTreeWidget *lvwProjects;
    QPushButton *btnDelete;
    QPushButton *btnRename;
    QPushButton *btnCreateShortcut;
    QPushButton *btnOpenProjectsFolder;
    QPushButton *btnClose;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeWidgetItem *SelectedRow() const;
    QString PathOf(const QTreeWidgetItem *item) const;
    bool IsCurrentProject(const QTreeWidgetItem *item) const;
    void SelectRow(int position);
    bool Editing() const;
};

// Shows the organizer modally; `currentProject` is the main window's open project file.
void OrganizeProjects(const QString &currentProject, QWidget *parent = nullptr);

// The launcher name rule of the shortcut dialog: ".desktop" appended unless the name already
// ends in it (letter case ignored).
QString WithShortcutExtension(const QString &fileName);
