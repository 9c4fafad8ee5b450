#include "ui/dialogs/ProxyDlg.h"

#include "store/Settings.h"
#include "ui/dialogs/EditLib.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QLineEdit *NewEdit(const QString &name, int maxLength, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    ShowButtonFaceWhenDisabled(edit); // the unused proxy reads as off
    return edit;
}

QRadioButton *NewRadio(const QString &name, const QString &text, QWidget *parent)
{
    auto *radio = new QRadioButton(text, parent);
    radio->setObjectName(name);
    return radio;
}

// The frame under a proxy's radio button: "Host" and "Port" with their edits.
QFrame *NewProxyFrame(QLineEdit *host, QLineEdit *port, QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    auto *grid = new QGridLayout(frame);
    auto *hostLabel = new QLabel(QStringLiteral("Host"), frame);
    hostLabel->setBuddy(host);
    auto *portLabel = new QLabel(QStringLiteral("Port"), frame);
    portLabel->setBuddy(port);
    port->setFixedWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    host->setMinimumWidth(host->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 28);
    grid->addWidget(hostLabel, 0, 0);
    grid->addWidget(portLabel, 0, 1);
    grid->addWidget(host, 1, 0);
    grid->addWidget(port, 1, 1);
    grid->setColumnStretch(0, 1);
    return frame;
}

int PortOf(const QLineEdit *edit, int fallback)
{
    bool ok = false;
    const int port = edit->text().toInt(&ok, 10);
    return ok ? port : fallback;
}
} // namespace

TfrmProxy::TfrmProxy(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProxy"));
    setWindowTitle(QStringLiteral("Firewall Settings "));

    rbnFtpProxy = NewRadio(QStringLiteral("rbnFtpProxy"), QStringLiteral("FTP Proxy"), this);
    edtFtpProxyHost = NewEdit(QStringLiteral("edtFtpProxyHost"), 200, this);
    edtFtpProxyPort = NewEdit(QStringLiteral("edtFtpProxyPort"), 6, this);
    rbnSocksProxy = NewRadio(QStringLiteral("rbnSocksProxy"), QStringLiteral("Socks Proxy"), this);
    edtSocksProxyHost = NewEdit(QStringLiteral("edtSocksProxyHost"), 200, this);
    edtSocksProxyPort = NewEdit(QStringLiteral("edtSocksProxyPort"), 6, this);
    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(rbnFtpProxy);
    layout->addWidget(NewProxyFrame(edtFtpProxyHost, edtFtpProxyPort, this));
    layout->addWidget(rbnSocksProxy);
    layout->addWidget(NewProxyFrame(edtSocksProxyHost, edtSocksProxyPort, this));
    layout->addSpacing(4);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The tab order follows the layout, which the creation order does not.
    setTabOrder(rbnFtpProxy, edtFtpProxyHost);
    setTabOrder(edtFtpProxyHost, edtFtpProxyPort);
    setTabOrder(edtFtpProxyPort, rbnSocksProxy);
    setTabOrder(rbnSocksProxy, edtSocksProxyHost);
    setTabOrder(edtSocksProxyHost, edtSocksProxyPort);
    setTabOrder(edtSocksProxyPort, buttons);

    edtFtpProxyPort->installEventFilter(this);
    edtSocksProxyPort->installEventFilter(this);
    connect(rbnFtpProxy, &QRadioButton::clicked, this, &TfrmProxy::UpdateControls);
    connect(rbnSocksProxy, &QRadioButton::clicked, this, &TfrmProxy::UpdateControls);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    rbnFtpProxy->setChecked(true);
    UpdateControls();
}

void TfrmProxy::UpdateControls()
{
    const bool ftp = rbnFtpProxy->isChecked();
    const bool socks = rbnSocksProxy->isChecked();
    edtFtpProxyHost->setEnabled(ftp);
    edtFtpProxyPort->setEnabled(ftp);
    edtSocksProxyHost->setEnabled(socks);
    edtSocksProxyPort->setEnabled(socks);
}

bool TfrmProxy::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == edtFtpProxyPort || watched == edtSocksProxyPort)
        && event->type() == QEvent::KeyPress
        && IsDroppedByDigitFilter(*static_cast<QKeyEvent *>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void EditFirewallSettings(QWidget *parent, bool sftp)
{
    TfrmProxy dialog(parent);
    TSettings settings;
    if (settings.ProxyType == ptSocks)
        dialog.rbnSocksProxy->setChecked(true);
    else
        dialog.rbnFtpProxy->setChecked(true);
    dialog.edtFtpProxyHost->setText(settings.FtpProxyHost);
    dialog.edtFtpProxyPort->setText(QString::number(settings.FtpProxyPort));
    dialog.edtSocksProxyHost->setText(settings.SocksHost);
    dialog.edtSocksProxyPort->setText(QString::number(settings.SocksPort));
    dialog.UpdateControls();
    if (sftp) {
        dialog.rbnFtpProxy->setEnabled(false);
        dialog.rbnFtpProxy->setToolTip(QStringLiteral("An FTP proxy cannot carry SFTP"));
        dialog.edtFtpProxyHost->setEnabled(false);
        dialog.edtFtpProxyPort->setEnabled(false);
    }
    if (dialog.exec() != QDialog::Accepted)
        return;

    settings.ProxyType = dialog.rbnFtpProxy->isChecked() ? ptFTP : ptSocks;
    settings.FtpProxyHost = dialog.edtFtpProxyHost->text();
    settings.FtpProxyPort = PortOf(dialog.edtFtpProxyPort, 21);
    settings.SocksHost = dialog.edtSocksProxyHost->text();
    settings.SocksPort = PortOf(dialog.edtSocksProxyPort, 1080);
    SaveSettingsOrSay(settings, parent);
}
