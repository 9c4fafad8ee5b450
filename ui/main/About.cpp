#include "ui/main/About.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVersionNumber>

QString ProductText()
{
    const QVersionNumber version = QVersionNumber::fromString(QStringLiteral(ZANDREL_VERSION));
    return QStringLiteral("Zandrel %1.%2").arg(version.majorVersion()).arg(version.minorVersion());
}

TAboutForm::TAboutForm(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    ProductImage = new QLabel(this);
    ProductImage->setObjectName(QStringLiteral("ProductImage"));
    ProductImage->setFixedSize(32, 32);
    lblProduct = new QLabel(this);
    lblProduct->setObjectName(QStringLiteral("lblProduct"));
    QFont font = lblProduct->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    lblProduct->setFont(font);
    auto *description = new QLabel(
        QStringLiteral("Keeps a web site on an FTP server in step with its local folder."), this);
    description->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(this);
    btnClose = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *top = new QHBoxLayout;
    top->addWidget(ProductImage, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->addWidget(lblProduct);
    texts->addWidget(description);
    top->addLayout(texts, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void ShowAbout(QWidget *parent)
{
    TAboutForm box(parent);
    // The application has no icon of its own; the main window has the program's.
    QIcon icon = parent ? parent->window()->windowIcon() : QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("zandrel"), QIcon(QStringLiteral(":/zandrel.png")));
    box.ProductImage->setPixmap(icon.pixmap(QSize(32, 32), box.devicePixelRatioF()));
    box.lblProduct->setText(ProductText());
    box.exec();
}
