#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class TNaturalEdit;
class TProperties;

// The FTP window's connection: server, login, start folder and the two switches. It edits
// the window's in-memory connection list only; the password shows as dots.
class TfrmSettings : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget *parent = nullptr);

    QLineEdit *edtServerName;
    QComboBox *cbxProtocol;
    TNaturalEdit *edtServerPort;
    QLineEdit *edtUserName;
    QLineEdit *edtPassword;
    QLineEdit *edtInitinalPath;
    QCheckBox *cbxUsePassive;
    QCheckBox *cbxUseFirewall;
    QComboBox *cbxEncryption;
    QPushButton *btnProxy;
    QPushButton *btnOK;
    QPushButton *Cancel;

    bool Sftp() const;
    // Passive mode and TLS are FTP's own: off for SFTP.
    void UpdateControls();
};

// Edits "Protocol" ("ftp" or "sftp"; missing means ftp), "ServerName", "ServerPort", "UserName",
// "Password", "InitialPath" (texts, written as typed), "UsePassive", "UseFirewall" (booleans) and
// "Encryption" ("auto", "require", "implicit" or "off"; missing means off) of `connection`; writes
// them on OK only. Another server or port clears "ExpectTls" (a server known to offer TLS). True
// exactly when OK was chosen.
bool EditConnection(TProperties &connection, QWidget *parent = nullptr);

// The connection the window's Connect button last went to: every setting above but the password
// from the settings file; the password from the desktop's keyring, and nowhere when there is
// none. Reading fills only keys the settings file holds.
void LoadLastConnection(TProperties &connection);
// Throws EStoreError when the settings file cannot be written.
void SaveLastConnection(const TProperties &connection);
