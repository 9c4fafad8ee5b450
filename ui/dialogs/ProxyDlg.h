#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;

// The firewall settings: an FTP proxy or a SOCKS proxy, each with host and port.
class TfrmProxy : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmProxy(QWidget *parent = nullptr);

    // Enables the edits of the selected proxy only.
    void UpdateControls();

    QRadioButton *rbnFtpProxy;
    QLineEdit *edtFtpProxyHost;
    QLineEdit *edtFtpProxyPort;
    QRadioButton *rbnSocksProxy;
    QLineEdit *edtSocksProxyHost;
    QLineEdit *edtSocksProxyPort;
    QPushButton *btnOK;
    QPushButton *btnCancel;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Shows the firewall dialog for the current settings and saves them on OK. Both proxies'
// values are kept; a port that is not a number becomes 21 (FTP) or 1080 (SOCKS). `sftp`: asked
// for an SFTP connection, which an FTP proxy cannot carry, so only the SOCKS proxy can be chosen.
void EditFirewallSettings(QWidget *parent = nullptr, bool sftp = false);
