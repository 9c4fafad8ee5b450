#pragma once

// A plain FTP browser for one connection: stand-alone, or as the modal remote-folder picker.
// Every server call runs on the window's TFtpOperator; the window only shows what it reports.

#include "store/DataLib.h"
#include "store/ProjectLock.h"
#include "ui/ftpwindow/FtpFileModel.h"
#include "ui/ftpwindow/FtpWinActions.h"

#include <QDialog>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

class QAbstractItemView;
class QAction;
class QActionGroup;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeView;
class QWidget;
class TFormKeeper;
class TPathDialog;
class TProject;

// True while a folder-browse dialog exists.
extern bool BrowseMode;

class TfrmFtpWindow : public QDialog
{
    Q_OBJECT
public:
    // `arguments`: the command line after the program name, read when not in browse mode.
    explicit TfrmFtpWindow(QWidget *parent = nullptr, const QStringList &arguments = {});
    ~TfrmFtpWindow() override;

    void ConfigureFromProject(TProject &project, const QString &password);
    void ApplyConnection();
    void Refresh();

    TProperties &Connection() { return FConnection; }
    TFtpAction &Action() { return *FAction; }
    TFtpOperator &Operator() { return *FOperator; }
    TFtpFileModel &Model() { return m_model; }
    bool DetailsView() const;
    // The local folder of downloads, and the start folder of the upload dialog.
    void SetLocalFolder(const QString &folder);
    // The folder "Open" downloads into: this window's own (mode 0700, made on first use,
    // removed with what is in it when the window closes); empty when it cannot be made.
    QString TempFolder();
    // The picker's answer: the selected folder, else the folder shown; "" while nothing is
    // listed.
    QString ChosenFolder() const;

    // Test seams for the desktop's file dialogs: they return the chosen paths ("" or empty on
    // cancel). By default they show pdgDownload, odgUpload and sdgDownload.
    std::function<QString()> AskDownloadFolder;
    std::function<QStringList()> AskUploadFiles;
    std::function<QString(const QString &suggested)> AskSaveFile;

    void tbnUpperClick();
    void acnRefreshExecute();
    void miOpenClick();
    void acnNewFolderExecute();
    void acnDownloadExecute();
    void acnUploadExecute();
    void acnDeleteExecute();
    void acnRenameExecute();
    void acnAbortExecute();
    void tbnConnectClick();
    void UploadDropped(const QStringList &paths);
    // Closes without the question: a running action is aborted.
    void AbortAndClose();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void done(int result) override;

private:
    void CreateControls();
    void CreateOperator();
    void FtpBegin(TFtpOperator *sender);
    void FtpEnd(TFtpOperator *sender);
    void FtpClearList(TFtpOperator *sender);
    void FtpAddFile(TFtpOperator *sender, std::unique_ptr<TFtpFileData> data);
    void FtpError(TFtpOperator *sender, const QString &text);
    void TrustAndRetry(const TCertificateInfo &certificate);
    std::optional<TCertificateInfo> m_untrustedCertificate;
    void FtpStatus(TFtpOperator *sender, const QString &text, int percent);
    void Run();
    void RunOnRows(quint8 kind, const QList<int> &rows);
    void UpdateControls();
    void UpdateStatusLine();
    void UpdateCaption();
    void ShowStatusText(const QString &text);
    void FitColumns();
    QSize DesignSize() const;
    void GoToPath();
    void SortList();
    void SetDetails(bool details);
    void OpenDownloadedFile();
    void CleanTempFolder();
    QAbstractItemView *CurrentView() const;
    bool Editing() const; // a caption is being edited in place
    QList<int> SelectedRows() const;
    void lvwFilesColumnClick(int section);
    void ShowPopupMenu(const QPoint &position);
    bool ConfirmAbort();
    bool RenameRow(int row, const QString &oldName, const QString &newName);

    TProperties FConnection;
    std::unique_ptr<TFtpAction> FAction;
    std::unique_ptr<TFtpOperator> FOperator;
    QString FOpenFileName;
    std::unique_ptr<QTemporaryDir> m_tempFolder;
    int FSortColumn = 0;
    bool FSortInverted = false;
    bool m_browseMode = false;
    // Project mode: held (or shared with the main window that opened this one) while open.
    TProjectLock m_projectLock;
    bool m_cursorSet = false;
    QString m_localFolder;
    TFtpFileModel m_model;
    // Rows arrive in batches; the views are told once per batch.
    std::vector<std::unique_ptr<TFtpFileData>> m_pendingRows;

    TFormKeeper *FormKeeper = nullptr;
    TPathDialog *pdgDownload = nullptr;
    QToolBar *ToolBar = nullptr;
    QToolButton *tbnConnect = nullptr, *tbnUpper = nullptr, *tbnRefresh = nullptr,
                *tbnAbort = nullptr, *tbnNewFolder = nullptr, *tbnDownload = nullptr,
                *tbnUpload = nullptr, *View = nullptr;
    QAction *tbnConnectAction = nullptr, *tbnConnectBreak = nullptr, *tbnDownloadAction = nullptr,
            *tbnUploadAction = nullptr;
    QStackedWidget *m_views = nullptr;
    QTreeView *lvwFiles = nullptr;     // report style
    QListView *lvwFilesList = nullptr; // list style, same rows and selection
    QWidget *pnlStatus = nullptr, *pnlDialog = nullptr, *pnlPath = nullptr;
    QLineEdit *edtPath = nullptr;
    // The folder that going up leaves: selected in the listing of its parent.
    QString m_folderLeft;
    QLabel *lblStatus = nullptr, *pnlDialogStatus = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QPushButton *btnOK = nullptr, *btnCancel = nullptr;
    QAction *acnRefresh = nullptr, *acnAbort = nullptr, *acnDownload = nullptr,
            *acnUpload = nullptr, *acnDelete = nullptr, *acnRename = nullptr,
            *acnNewFolder = nullptr, *acnUpper = nullptr;
    QMenu *PopupMenu = nullptr, *miView = nullptr, *miArrange = nullptr;
    QAction *miOpen = nullptr, *miDownload = nullptr, *miUpload = nullptr, *miSelectAll = nullptr,
            *miViewList = nullptr, *miViewDetail = nullptr, *miArrangeInvert = nullptr;
};

// The modal picker of a remote folder for a project's server: on OK `path` becomes the selected
// folder, or the folder shown when none is selected. Its OK button names that path.
bool BrowseFtpFolder(TProject &project, QString &path, QWidget *parent = nullptr);
