#include "ui/ftpwindow/FtpWinOptions.h"

#include "store/DataLib.h"
#include "store/PasswordKeyring.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/RegistryLib.h"
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
#include <QSignalBlocker>
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

const char *const LastConnectionKey = "\\Software\\morvate\\Zandrel\\FtpConnection";
// The keyring entry of the last connection's password (one for the window, not per server).
const char *const LastPasswordId = "ftp-window-last-connection";
const char *const RememberedTexts[]
    = {"ServerName", "ServerPort", "UserName", "InitialPath", "Encryption", "Protocol"};
const char *const RememberedSwitches[] = {"UsePassive", "UseFirewall"};

TPasswordKeyring *AvailableKeyring()
{
    QString why;
    return TProject::Keyring && TProject::Keyring->Available(why) ? TProject::Keyring : nullptr;
}
} // namespace

TfrmSettings::TfrmSettings(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Connection settings"));

    auto *general = Named(new QGroupBox(QStringLiteral(" General settings "), this),
                          QStringLiteral("gbxGeneral"));
    edtServerName = Named(new QLineEdit(general), QStringLiteral("edtServerName"));
    cbxProtocol = Named(new QComboBox(general), QStringLiteral("cbxProtocol"));
    cbxProtocol->addItem(QStringLiteral("FTP"), QStringLiteral("ftp"));
    cbxProtocol->addItem(QStringLiteral("SFTP"), QStringLiteral("sftp"));
    edtServerPort = Named(new TNaturalEdit(general), QStringLiteral("edtServerPort"));
    edtUserName = Named(new QLineEdit(general), QStringLiteral("edtUserName"));
    edtPassword = Named(new QLineEdit(general), QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    auto *additional = Named(new QGroupBox(QStringLiteral(" Additinal settings "), this),
                             QStringLiteral("gbxAdditional"));
    edtInitinalPath = Named(new QLineEdit(additional), QStringLiteral("edtInitinalPath"));
    cbxUsePassive = Named(new QCheckBox(QStringLiteral("Use &passive mode"), additional),
                          QStringLiteral("cbxUsePassive"));
    cbxUseFirewall = Named(new QCheckBox(QStringLiteral("Use &firewall settings"), additional),
                           QStringLiteral("cbxUseFirewall"));
    btnProxy = Named(new QPushButton(QStringLiteral("Firewall se&ttings"), additional),
                     QStringLiteral("btnProxy"));
    cbxEncryption = NewEncryptionBox(additional, "cbxEncryption");
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, Cancel, "btnOK", "Cancel");

    // The fixed client area is small: labels over their edits in pairs, tight spacing.
    auto *generalGrid = new QGridLayout(general);
    generalGrid->setVerticalSpacing(2);
    generalGrid->addWidget(NewLabel(QStringLiteral("lblServerName"), QStringLiteral("&Server name"),
                                    edtServerName, general),
                           0, 0);
    generalGrid->addWidget(
        NewLabel(QStringLiteral("lblProtocol"), QStringLiteral("Proto&col"), cbxProtocol, general),
        0, 1);
    generalGrid->addWidget(NewLabel(QStringLiteral("lblServerPort"), QStringLiteral("Server p&ort"),
                                    edtServerPort, general),
                           0, 2);
    generalGrid->addWidget(edtServerName, 1, 0);
    generalGrid->addWidget(cbxProtocol, 1, 1);
    generalGrid->addWidget(edtServerPort, 1, 2);
    generalGrid->setRowMinimumHeight(2, 4);
    generalGrid->addWidget(
        NewLabel(QStringLiteral("lblUserName"), QStringLiteral("&User name"), edtUserName, general),
        3, 0);
    generalGrid->addWidget(
        NewLabel(QStringLiteral("lblPassword"), QStringLiteral("Pass&word"), edtPassword, general),
        3, 1, 1, 2);
    generalGrid->addWidget(edtUserName, 4, 0);
    generalGrid->addWidget(edtPassword, 4, 1, 1, 2);
    generalGrid->setColumnStretch(0, 3);
    generalGrid->setColumnStretch(2, 2);

    auto *additionalGrid = new QGridLayout(additional);
    additionalGrid->setVerticalSpacing(4);
    additionalGrid->addWidget(NewLabel(QStringLiteral("lblInitialPath"),
                                       QStringLiteral("&Initial path"), edtInitinalPath,
                                       additional),
                              0, 0);
    additionalGrid->addWidget(edtInitinalPath, 0, 1, 1, 2);
    additionalGrid->addWidget(cbxUsePassive, 1, 0, 1, 2);
    additionalGrid->addWidget(cbxUseFirewall, 2, 0, 1, 2);
    additionalGrid->addWidget(btnProxy, 2, 2);
    additionalGrid->addWidget(NewLabel(QStringLiteral("lblEncryption"),
                                       QStringLiteral("&Encryption"), cbxEncryption, additional),
                              3, 0);
    additionalGrid->addWidget(cbxEncryption, 3, 1, 1, 2);
    additionalGrid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(general);
    layout->addWidget(additional);
    layout->addWidget(buttons);
    // As tall as its rows, wide enough for a long host name.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(fontMetrics().averageCharWidth() * 52);

    connect(btnProxy, &QPushButton::clicked, this, [this] { EditFirewallSettings(this, Sftp()); });
    connect(cbxProtocol, &QComboBox::currentIndexChanged, this, [this] {
        // A port that holds the other protocol's default moves to this one's; any other stays.
        const quint16 now = DefaultPort(cbxProtocol->currentData().toString());
        if (edtServerPort->text().trimmed() == QString::number(now == 22 ? 21 : 22))
            edtServerPort->SetText(QString::number(now));
        UpdateControls();
    });
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

bool TfrmSettings::Sftp() const
{
    return cbxProtocol->currentData().toString() == QLatin1String("sftp");
}

void TfrmSettings::UpdateControls()
{
    cbxUsePassive->setEnabled(!Sftp());
    cbxEncryption->setEnabled(!Sftp());
}

bool EditConnection(TProperties &connection, QWidget *parent)
{
    TfrmSettings dialog(parent);
    dialog.edtServerName->setText(TextOf(connection, QStringLiteral("ServerName")));
    dialog.edtServerPort->SetText(TextOf(connection, QStringLiteral("ServerPort")));
    dialog.edtUserName->setText(TextOf(connection, QStringLiteral("UserName")));
    dialog.edtPassword->setText(TextOf(connection, QStringLiteral("Password")));
    dialog.edtInitinalPath->setText(TextOf(connection, QStringLiteral("InitialPath")));
    dialog.cbxUsePassive->setChecked(BooleanOf(connection, QStringLiteral("UsePassive")));
    dialog.cbxUseFirewall->setChecked(BooleanOf(connection, QStringLiteral("UseFirewall")));
    SetEncryption(dialog.cbxEncryption, TextOf(connection, QStringLiteral("Encryption")));
    {
        // Loading is no switch: the port stays as it is.
        const QSignalBlocker quiet(dialog.cbxProtocol);
        dialog.cbxProtocol->setCurrentIndex(
            qMax(0, dialog.cbxProtocol->findData(TextOf(connection, QStringLiteral("Protocol")))));
    }
    dialog.UpdateControls();
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
    connection.Items(QStringLiteral("Protocol"))
        ->SetAsString(dialog.cbxProtocol->currentData().toString());
    return true;
}

void LoadLastConnection(TProperties &connection)
{
    const auto key = TRegistryAddress().OpenKey(QString::fromLatin1(LastConnectionKey));
    for (const char *name : RememberedTexts) {
        if (key->ValueExists(QString::fromLatin1(name)))
            connection.Items(QString::fromLatin1(name))
                ->SetAsString(key->ReadString(QString::fromLatin1(name)));
    }
    for (const char *name : RememberedSwitches) {
        if (key->ValueExists(QString::fromLatin1(name)))
            connection.Items(QString::fromLatin1(name))
                ->SetAsBoolean(key->ReadBool(QString::fromLatin1(name)));
    }
    QString password, error;
    if (TPasswordKeyring *keyring = AvailableKeyring();
        keyring
        && keyring->Lookup(QString::fromLatin1(LastPasswordId), password, error)
               == TPasswordKeyring::klFound)
        connection.Items(QStringLiteral("Password"))->SetAsString(password);
}

void SaveLastConnection(const TProperties &connection)
{
    const auto key = TRegistryAddress().OpenKey(QString::fromLatin1(LastConnectionKey));
    for (const char *name : RememberedTexts)
        key->WriteString(QString::fromLatin1(name), TextOf(connection, QString::fromLatin1(name)));
    for (const char *name : RememberedSwitches)
        key->WriteBool(QString::fromLatin1(name), BooleanOf(connection, QString::fromLatin1(name)));
    key->Commit();
    // Without a keyring the password is typed again: it never goes into the settings file. A
    // keyring that refuses it only means the same.
    TPasswordKeyring *keyring = AvailableKeyring();
    if (!keyring)
        return;
    const QString password = TextOf(connection, QStringLiteral("Password"));
    const QString id = QString::fromLatin1(LastPasswordId);
    QString error;
    if (password.isEmpty())
        keyring->Remove(id, error);
    else
        keyring->Store(id,
                       QStringLiteral("Zandrel FTP window password for %1@%2")
                           .arg(TextOf(connection, QStringLiteral("UserName")),
                                TextOf(connection, QStringLiteral("ServerName"))),
                       password, error);
}
