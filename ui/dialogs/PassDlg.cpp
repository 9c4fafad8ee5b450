#include "ui/dialogs/PassDlg.h"

#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
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
    // "user at host", and the port when one is given.
    QString server = host.trimmed();
    if (port > 0)
        server += QStringLiteral(":%1").arg(port);
    lblServer->setText(QStringLiteral("%1 at %2").arg(user, server));
    lblServer->show();
    setWindowTitle(QStringLiteral("Login to %1").arg(server));
}

bool AskForPassphrase(const QString &keyFile, QString &passphrase, QWidget *parent)
{
    TfrmPasswordDlg dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Key passphrase"));
    dialog.lblText->setText(QStringLiteral("Enter the passphrase of the SSH key"));
    dialog.lblServer->setText(keyFile);
    dialog.lblServer->show();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    passphrase = dialog.edtPassword->text();
    return true;
}

bool AskForPassword(QString &password, QWidget *parent, TProject *project)
{
    TfrmPasswordDlg dialog(parent);
    if (project && ProjectProtocol(*project) == QLatin1String("sftp")) {
        dialog.lblText->setText(QStringLiteral("Enter password for connecting to SFTP server\n"
                                               "(none for a login with your SSH keys)"));
    }
    if (project) {
        // Its protocol's own port is not shown.
        const int port = project->Nodes(QStringLiteral("Port"))->AsString().trimmed().toInt();
        dialog.SetServer(project->Nodes(QStringLiteral("User"))->AsString(),
                         project->Nodes(QStringLiteral("Host"))->AsString(),
                         port == DefaultPort(ProjectProtocol(*project)) ? 0 : port);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.edtPassword->text();
    return true;
}
