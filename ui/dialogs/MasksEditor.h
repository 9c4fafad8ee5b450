#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

// Edits a list of file masks in place: rows kept sorted, each editable in its place.
class TfrmMasksEditor : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmMasksEditor(QWidget *parent = nullptr);

    void Fill(const QStringList &masks);
    // The rows in their order, blank ones left out, texts as shown.
    QStringList Masks() const;

    QListWidget *lvwMasks;
    QPushButton *btnAdd;
    QPushButton *btnEdit;
    QPushButton *btnDelete;
    QPushButton *btnSelectAll;
    QPushButton *btnOk;
    QPushButton *btnCancel;

    void btnAddClick();
    void btnEditClick();
    void btnDeleteClick();
    void UpdateButtons();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool Editing() const;
    void Resort();
    bool m_editing = false;
};

// Shows the editor for `masks` with the caption `title`; on OK writes the rows back.
bool EditMasks(QStringList &masks, QWidget *owner, const QString &title);
