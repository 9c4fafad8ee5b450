#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTabWidget;
class QWidget;
class TNaturalEdit;
class TProject;
struct TProjectOptions;

// "Project Options": edits one project document's keys in place. It neither loads nor saves
// project files; the caller decides whether the document is saved.
class TfrmOptions : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget *parent = nullptr);

    // Fills the controls from `project` and shows the dialog; on OK writes them back and
    // returns true. A stored size that is not a number throws EStoreError before showing.
    bool Execute(TProject &project);

    void LoadFromProject();
    void SaveToProject();
    void UpdateControls();
    // Selects the row with `text` (ASCII case ignored), appending it when there is none.
    void AddIgnoreItem(const QString &text);

    void btnBrowseClick();
    void btnFtpBrowseClick();
    void btnBrowseLogFileClick();
    void btnAddIgnoreFileClick();
    void btnAddIgnoreDirClick();
    void btnAddIgnoreMaskClick();
    void btnEditIgnoreClick();
    void btnDeleteIgnoreClick();
    void btnOKClick();

    QTabWidget *PageControl;
    QWidget *tshMain;
    QWidget *tshIgnoreList;
    QWidget *tshSettings;

    QLineEdit *edtPath;
    QPushButton *btnBrowse;
    QCheckBox *cbxIncludeSubDirs;
    QComboBox *cbxProtocol;
    QLineEdit *edtHost;
    QLineEdit *edtPort;
    QLineEdit *edtUser;
    QLineEdit *edtPass;
    QLineEdit *edtInitDir;
    QPushButton *btnFtpBrowse;
    QCheckBox *cbxPassive;
    QComboBox *cbxEncryption;
    QCheckBox *cbxProxy;
    QPushButton *btnFirewallSettings;

    QListWidget *lvwIgnore;
    QPushButton *btnAddIgnoreFile;
    QPushButton *btnAddIgnoreMask;
    QPushButton *btnAddIgnoreDir;
    QPushButton *btnDeleteIgnore;
    QPushButton *btnEditIgnore;
    QMenu *pmnIgnore;

    TNaturalEdit *edtTimeout;
    QSpinBox *edtConnections;
    QCheckBox *cbxSafeUpload;
    QCheckBox *cbxProtectServerChanges;
    TNaturalEdit *edtSafeUploadSize;
    QCheckBox *cbxSetPermission;
    QCheckBox *cbxCheckSize;
    QCheckBox *cbxIgnoreHiddenFiles;
    QCheckBox *cbxSaveLog;
    QLineEdit *edtLogFile;
    QPushButton *btnBrowseLogFile;
    QCheckBox *cbxMaxLogSize;
    TNaturalEdit *edtMaxLogSize;
    QLabel *lblMaxLogSizeKB;

    QPushButton *btnOK;
    QPushButton *btnCancel;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *NewMainPage();
    QWidget *NewIgnorePage();
    QWidget *NewSettingsPage();
    TProjectOptions ControlsToOptions() const;
    bool EditingIgnoreRow() const;
    bool Sftp() const;
    void ProtocolChanged();

    TProject *m_project = nullptr;
};
