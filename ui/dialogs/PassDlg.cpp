#include "ui/dialogs/PassDlg.h"

#include "store/PrjCls.h"
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
    lblServer = new QLabel(this);
    lblServer->setObjectName(QStringLiteral("lblServer"));
    lblServer->setTextFormat(Qt::PlainText);
    lblServer->hide();
    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    lblText->setBuddy(edtPassword);
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, btnCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblText);
    layout->addWidget(lblServer);
    layout->addWidget(edtPassword);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    edtPassword->setFocus();
}

void TfrmPasswordDlg::SetServer(const QString &user, const QString &host, int port)
{
    // "user at host", the port only when it is not FTP's own.
    QString server = host.trimmed();
    if (port > 0 && port != 21)
        server += QStringLiteral(":%1").arg(port);
    lblServer->setText(QStringLiteral("%1 at %2").arg(user, server));
    lblServer->show();
    setWindowTitle(QStringLiteral("Login to %1").arg(server));
}

bool AskForPassword(QString &password, QWidget *parent, TProject *project)
{
    TfrmPasswordDlg dialog(parent);
    if (project)
        dialog.SetServer(project->Nodes(QStringLiteral("User"))->AsString(),
                         project->Nodes(QStringLiteral("Host"))->AsString(),
                         project->Nodes(QStringLiteral("Port"))->AsString().trimmed().toInt());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.edtPassword->text();
    return true;
}
