#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);

    QLabel *ProductImage;
    QLabel *lblProduct;
    QPushButton *btnClose;
};

// "Zandrel" and the major and minor version.
QString ProductText();
void ShowAbout(QWidget *parent = nullptr);
