#include "ui/main/FolderProp.h"

#include "engine/FileLib.h"
#include "engine/PublishList.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmFolderProp::TfrmFolderProp(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFolderProp"));
    setWindowTitle(QStringLiteral("Folder Properties"));
    auto *form = new QFormLayout;
    auto value = [this, form](const char *name, const QString &caption) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(caption, label);
        return label;
    };
    lblName = value("lblName", QStringLiteral("Name:"));
    lblLocation = value("lblLocation", QStringLiteral("Location:"));
    lblSize = value("lblSize", QStringLiteral("Size:"));
    lblContains = value("lblContains", QStringLiteral("Contains:"));
    lblNeedUpload = value("lblNeedUpload", QStringLiteral("Need upload:"));
    auto *buttons = new QDialogButtonBox(this);
    btnClose = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setFocusPolicy(Qt::NoFocus);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void TfrmFolderProp::Fill(const TFileListItem &folder)
{
    qint64 folders = 0, files = 0, totalSize = 0, outdatedFolders = 0, outdatedFiles = 0,
           outdatedSize = 0;
    folder.GetStatistics(folders, files, totalSize, outdatedFolders, outdatedFiles, outdatedSize);
    lblName->setText(folder.Name());
    lblLocation->setText(ExcludeTrailingSlash(folder.GetLocalPath()));
    lblSize->setText(FormatSize(totalSize));
    lblContains->setText(QStringLiteral("%1 files, %2 folders").arg(files).arg(folders));
    lblNeedUpload->setText(
        QStringLiteral("%1 files (%2)").arg(outdatedFiles).arg(FormatSize(outdatedSize)));
}

void ShowFolderProperties(const TFileListItem &folder, QWidget *parent)
{
    TfrmFolderProp dialog(parent);
    dialog.Fill(folder);
    dialog.exec();
}
