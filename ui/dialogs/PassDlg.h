#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the FTP password of a project that stores none.
class TfrmPasswordDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPasswordDlg(QWidget *parent = nullptr);

    QLabel *lblText;
    QLineEdit *edtPassword;
    QPushButton *btnOK;
    QPushButton *btnCancel;
};

// True and the typed text in `password` on OK; false and `password` unchanged on Cancel.
bool AskForPassword(QString &password, QWidget *parent = nullptr);
