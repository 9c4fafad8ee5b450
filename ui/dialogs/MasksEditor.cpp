#include "ui/dialogs/MasksEditor.h"

#include "ui/dialogs/EditLib.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TfrmMasksEditor::TfrmMasksEditor(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmMasksEditor"));
    resize(340, 320);

    lvwMasks = new QListWidget(this);
    lvwMasks->setObjectName(QStringLiteral("lvwMasks"));
    lvwMasks->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwMasks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwMasks->setItemDelegate(new TEditTrackingDelegate(lvwMasks));
    lvwMasks->setSortingEnabled(true);
    lvwMasks->installEventFilter(this);

    auto makeButton
        = [this](const char *name, const QString &text) { return NewSideButton(this, name, text); };
    btnAdd = makeButton("btnAdd", QStringLiteral("&Append"));
    btnEdit = makeButton("btnEdit", QStringLiteral("&Edit"));
    btnDelete = makeButton("btnDelete", QStringLiteral("&Delete"));
    btnSelectAll = makeButton("btnSelectAll", QStringLiteral("&Select All"));
    QDialogButtonBox *okCancel = NewOkCancelButtons(this, btnOk, btnCancel, "btnOk");
    okCancel->setOrientation(Qt::Vertical);
    btnOk->setDefault(false); // Enter is handled by the form, also on the list
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    // Tab moves between the list and the editing buttons only.
    btnOk->setFocusPolicy(Qt::ClickFocus);
    btnCancel->setFocusPolicy(Qt::ClickFocus);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {btnAdd, btnEdit, btnDelete, btnSelectAll})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(okCancel);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(lvwMasks, 1);
    layout->addLayout(buttons);

    connect(btnAdd, &QPushButton::clicked, this, &TfrmMasksEditor::btnAddClick);
    connect(btnEdit, &QPushButton::clicked, this, &TfrmMasksEditor::btnEditClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmMasksEditor::btnDeleteClick);
    connect(btnSelectAll, &QPushButton::clicked, lvwMasks, &QListWidget::selectAll);
    connect(okCancel, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(okCancel, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvwMasks, &QListWidget::itemSelectionChanged, this, &TfrmMasksEditor::UpdateButtons);
    UpdateButtons();
}

void TfrmMasksEditor::Fill(const QStringList &masks)
{
    lvwMasks->clear();
    for (const QString &mask : masks)
        lvwMasks->addItem(new TSortedTextItem(mask));
    if (lvwMasks->count() > 0) {
        lvwMasks->clearSelection();
        lvwMasks->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    }
    UpdateButtons();
}

QStringList TfrmMasksEditor::Masks() const
{
    QStringList masks;
    for (int row = 0; row < lvwMasks->count(); ++row) {
        const QString text = lvwMasks->item(row)->text();
        if (!text.trimmed().isEmpty())
            masks.append(text);
    }
    return masks;
}

void TfrmMasksEditor::UpdateButtons()
{
    const bool selected = !lvwMasks->selectedItems().isEmpty();
    btnEdit->setEnabled(selected);
    btnDelete->setEnabled(selected);
}

bool TfrmMasksEditor::Editing() const
{
    return static_cast<TEditTrackingDelegate *>(lvwMasks->itemDelegate())->Editing();
}

void TfrmMasksEditor::btnAddClick()
{
    lvwMasks->clearSelection();
    auto *item = new TSortedTextItem(QStringLiteral("*."));
    lvwMasks->addItem(item);
    lvwMasks->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    lvwMasks->setFocus();
    lvwMasks->editItem(item);
}

void TfrmMasksEditor::btnEditClick()
{
    EditFirstSelectedRow(lvwMasks);
}

void TfrmMasksEditor::btnDeleteClick()
{
    if (DeleteSelectedRows(lvwMasks, this))
        UpdateButtons();
}

bool TfrmMasksEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvwMasks && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // An open editor hands Enter and Escape on after taking them: they end the edit only.
        if (Editing())
            return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
        switch (key) {
        case Qt::Key_F2:
            btnEditClick();
            return true;
        case Qt::Key_Delete:
            btnDeleteClick();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmMasksEditor::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();
        return;
    case Qt::Key_Escape:
        reject();
        return;
    case Qt::Key_F2:
        btnEditClick();
        return;
    case Qt::Key_Delete:
        btnDeleteClick();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool EditMasks(QStringList &masks, QWidget *owner, const QString &title)
{
    TfrmMasksEditor dialog(owner);
    dialog.setWindowTitle(title);
    dialog.Fill(masks);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    masks = dialog.Masks();
    return true;
}
