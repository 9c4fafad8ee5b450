#include "ui/dialogs/PassDlg.h"

#include "ui/dialogs/EditLib.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmPasswordDlg::TfrmPasswordDlg(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmPasswordDlg"));
    setWindowTitle(QStringLiteral("Login"));
    lblText = new QLabel(QStringLiteral("Enter password for connecting to FTP server"), this);
    lblText->setObjectName(QStringLiteral("lblText"));
    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    lblText->setBuddy(edtPassword);
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, btnCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblText);
    layout->addWidget(edtPassword);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    edtPassword->setFocus();
}

bool AskForPassword(QString &password, QWidget *parent)
{
    TfrmPasswordDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.edtPassword->text();
    return true;
}
