#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TProject;

// Asks for the FTP password of a project that stores none.
class TfrmPasswordDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPasswordDlg(QWidget *parent = nullptr);

    // Names the login asked for; `port` 0 for none.
    void SetServer(const QString &user, const QString &host, int port);

    QLabel *lblText;
    QLabel *lblServer;
    QLineEdit *edtPassword;
    QPushButton *btnOK;
    QPushButton *btnCancel;
};

// True and the typed text in `password` on OK; false and `password` unchanged on Cancel. With
// `project`, the dialog names its user, server and port.
bool AskForPassword(QString &password, QWidget *parent = nullptr, TProject *project = nullptr);
// The same for the passphrase of an SSH key file.
bool AskForPassphrase(const QString &keyFile, QString &passphrase, QWidget *parent = nullptr);
