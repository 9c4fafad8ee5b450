#include "ui/ftpwindow/FtpWinOptions.h"

#include "store/DataLib.h"
#include "store/ProjectOptions.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/ProxyDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
template <class W> W *Named(W *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

// Reading never adds a key to the list: a cancelled dialog leaves it exactly as it was.
QString TextOf(const TProperties &connection, const QString &key)
{
    const int index = connection.IndexOf(key);
    return index < 0 ? QString() : connection.At(index)->AsString();
}

bool BooleanOf(const TProperties &connection, const QString &key)
{
    const int index = connection.IndexOf(key);
    return index >= 0 && connection.At(index)->AsBoolean();
}

QLabel *NewLabel(const QString &name, const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = Named(new QLabel(text, parent), name);
    label->setBuddy(buddy);
    return label;
}
} // namespace

TfrmSettings::TfrmSettings(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Connection settings"));

    cbxConnectionName = Named(new QComboBox(this), QStringLiteral("cbxConnectionName"));
    cbxConnectionName->setEditable(true);
    auto *connectionLabel = NewLabel(QStringLiteral("lblConnectionName"),
                                     QStringLiteral("Connection name"), cbxConnectionName, this);
    auto *general = Named(new QGroupBox(QStringLiteral(" General settings "), this),
                          QStringLiteral("gbxGeneral"));
    edtServerName = Named(new QLineEdit(general), QStringLiteral("edtServerName"));
    edtServerPort = Named(new TNaturalEdit(general), QStringLiteral("edtServerPort"));
    edtUserName = Named(new QLineEdit(general), QStringLiteral("edtUserName"));
    edtPassword = Named(new QLineEdit(general), QStringLiteral("edtPassword"));
    auto *additional = Named(new QGroupBox(QStringLiteral(" Additinal settings "), this),
                             QStringLiteral("gbxAdditional"));
    edtInitinalPath = Named(new QLineEdit(additional), QStringLiteral("edtInitinalPath"));
    cbxUsePassive = Named(new QCheckBox(QStringLiteral("Use passive mode"), additional),
                          QStringLiteral("cbxUsePassive"));
    cbxUseFirewall = Named(new QCheckBox(QStringLiteral("Use firewall settings"), additional),
                           QStringLiteral("cbxUseFirewall"));
    btnProxy = Named(new QPushButton(QStringLiteral("Firewall settings"), additional),
                     QStringLiteral("btnProxy"));
    cbxEncryption = NewEncryptionBox(additional, "cbxEncryption");
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, Cancel, "btnOK", "Cancel");

    // The fixed client area is small: labels over their edits in pairs, tight spacing.
    auto *generalGrid = new QGridLayout(general);
    generalGrid->setVerticalSpacing(2);
    generalGrid->addWidget(NewLabel(QStringLiteral("lblServerName"), QStringLiteral("Server name"),
                                    edtServerName, general),
                           0, 0);
    generalGrid->addWidget(NewLabel(QStringLiteral("lblServerPort"), QStringLiteral("Server port"),
                                    edtServerPort, general),
                           0, 1);
    generalGrid->addWidget(edtServerName, 1, 0);
    generalGrid->addWidget(edtServerPort, 1, 1);
    generalGrid->setRowMinimumHeight(2, 4);
    generalGrid->addWidget(
        NewLabel(QStringLiteral("lblUserName"), QStringLiteral("User name"), edtUserName, general),
        3, 0);
    generalGrid->addWidget(
        NewLabel(QStringLiteral("lblPassword"), QStringLiteral("Password"), edtPassword, general),
        3, 1);
    generalGrid->addWidget(edtUserName, 4, 0);
    generalGrid->addWidget(edtPassword, 4, 1);
    generalGrid->setColumnStretch(0, 3);
    generalGrid->setColumnStretch(1, 2);

    auto *additionalGrid = new QGridLayout(additional);
    additionalGrid->setVerticalSpacing(4);
    additionalGrid->addWidget(NewLabel(QStringLiteral("lblInitialPath"),
                                       QStringLiteral("Initial path"), edtInitinalPath, additional),
                              0, 0);
    additionalGrid->addWidget(edtInitinalPath, 0, 1, 1, 2);
    additionalGrid->addWidget(cbxUsePassive, 1, 0, 1, 2);
    additionalGrid->addWidget(cbxUseFirewall, 2, 0, 1, 2);
    additionalGrid->addWidget(btnProxy, 2, 2);
    additionalGrid->addWidget(NewLabel(QStringLiteral("lblEncryption"),
                                       QStringLiteral("Encryption"), cbxEncryption, additional),
                              3, 0);
    additionalGrid->addWidget(cbxEncryption, 3, 1, 1, 2);
    additionalGrid->setColumnStretch(1, 1);

    auto *connectionName = new QVBoxLayout;
    connectionName->setSpacing(2);
    connectionName->addWidget(connectionLabel);
    connectionName->addWidget(cbxConnectionName);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(connectionName);
    layout->addWidget(general);
    layout->addWidget(additional);
    layout->addStretch();
    layout->addWidget(buttons);
    setFixedSize(332, 403);

    connect(btnProxy, &QPushButton::clicked, this, [this] { EditFirewallSettings(this); });
    // A port that is not a number is refused here, not read as 21 later.
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        quint16 port = 0;
        if (ParsePort(edtServerPort->text(), port)) {
            accept();
            return;
        }
        QMessageBox::warning(this, windowTitle(), QString::fromLatin1(PortRefusal));
        edtServerPort->setFocus();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool EditConnection(TProperties &connection, QString &connectionName, QWidget *parent)
{
    TfrmSettings dialog(parent);
    dialog.cbxConnectionName->setEditText(connectionName);
    dialog.edtServerName->setText(TextOf(connection, QStringLiteral("ServerName")));
    dialog.edtServerPort->SetText(TextOf(connection, QStringLiteral("ServerPort")));
    dialog.edtUserName->setText(TextOf(connection, QStringLiteral("UserName")));
    dialog.edtPassword->setText(TextOf(connection, QStringLiteral("Password")));
    dialog.edtInitinalPath->setText(TextOf(connection, QStringLiteral("InitialPath")));
    dialog.cbxUsePassive->setChecked(BooleanOf(connection, QStringLiteral("UsePassive")));
    dialog.cbxUseFirewall->setChecked(BooleanOf(connection, QStringLiteral("UseFirewall")));
    SetEncryption(dialog.cbxEncryption, TextOf(connection, QStringLiteral("Encryption")));
    if (dialog.exec() != QDialog::Accepted)
        return false;

    // What the project's server offered says nothing about another one.
    if (connection.IndexOf(QStringLiteral("ExpectTls")) >= 0
        && (dialog.edtServerName->text() != TextOf(connection, QStringLiteral("ServerName"))
            || dialog.edtServerPort->text() != TextOf(connection, QStringLiteral("ServerPort"))))
        connection.Items(QStringLiteral("ExpectTls"))->SetAsBoolean(false);
    connection.Items(QStringLiteral("ServerName"))->SetAsString(dialog.edtServerName->text());
    connection.Items(QStringLiteral("ServerPort"))->SetAsString(dialog.edtServerPort->text());
    connection.Items(QStringLiteral("UserName"))->SetAsString(dialog.edtUserName->text());
    connection.Items(QStringLiteral("Password"))->SetAsString(dialog.edtPassword->text());
    connection.Items(QStringLiteral("InitialPath"))->SetAsString(dialog.edtInitinalPath->text());
    connection.Items(QStringLiteral("UsePassive"))->SetAsBoolean(dialog.cbxUsePassive->isChecked());
    connection.Items(QStringLiteral("UseFirewall"))
        ->SetAsBoolean(dialog.cbxUseFirewall->isChecked());
    connection.Items(QStringLiteral("Encryption"))->SetAsString(Encryption(dialog.cbxEncryption));
    return true;
}
