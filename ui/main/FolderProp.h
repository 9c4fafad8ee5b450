#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TFileListItem;

// "Folder Properties": a read-only summary of one folder of the project's local tree.
class TfrmFolderProp : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmFolderProp(QWidget *parent = nullptr);
    void Fill(const TFileListItem &folder);

    QLabel *lblName;
    QLabel *lblLocation;
    QLabel *lblSize;
    QLabel *lblContains;
    QLabel *lblNeedUpload;
    QPushButton *btnClose;
};

void ShowFolderProperties(const TFileListItem &folder, QWidget *parent = nullptr);
