#pragma once

// The main window: the open project's files with their publishing status, the publish log,
// and the commands that run one publishing operation at a time on a TPublishOperator.

#include "engine/PublishList.h"
#include "engine/PublishOperator.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"

#include <QHash>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTreeView>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QPlainTextEdit;
class QToolButton;
class TFileListModel;
class TFolderTreeModel;
class TFolderWatch;
class TFormKeeper;

// The file list: reports a plain left click on a row's status icon.
class TFileListView : public QTreeView
{
    Q_OBJECT
public:
    using QTreeView::QTreeView;

signals:
    void StatusIconClicked(const QModelIndex &index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class TfrmMain : public QMainWindow, public IPublishFrontEnd
{
    Q_OBJECT
public:
    // `arguments`: the command line after the program name.
    explicit TfrmMain(const QStringList &arguments, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The program "Browse the server folder" starts in its FTP-window form.
    QString ProgramFile;

    // Closes the window without asking, aborting a running operation first.
    void AbortAndClose();

    // Exit status for the program: 1 when the upload that ended it had errors.
    int ExitCode() const { return m_exitCode; }

    TProject &Project() { return *FProject; }
    TFileList &FileList() { return *FFileList; }
    bool Running() const { return FOperator != nullptr; }
    int SortColumn() const { return FSortColumn; }

    void OpenProject(const QString &path);
    // False when the file could not be written; `inLog` reports that as an error line instead
    // of a message box.
    bool SaveProject(bool onlyIfExists, bool inLog = false);
    void UpdateTitle();
    void StartOperation(quint8 kind);

    // File view.
    void ClearViews();
    void RebuildViews();
    void BuildFolderTree();
    void FillFileList();
    void UpdateItemView(TFileListItem *item);
    void UpdateStatistics(bool fitColumns = true);
    void FitColumns();
    void StretchNameColumn();
    void FitFolderColumn();
    void SortFileList();
    void MarkRows(bool synchronous);
    void MarkFolder(TFileListItem *folder, bool synchronous);
    // With synchronous files hidden, hides what marking made synchronous and shows what it
    // marked for upload, without a refresh.
    void ApplyViewFilter();

    // Log.
    void AddLogLine(int kind, const QString &text);
    void AppendLogTextToLog(const QString &text);

    // IPublishFrontEnd
    void LogLine(int level, const QString &text) override;
    void SetProgress(int percent) override;
    void SetStatusText(const QString &text) override;
    void AppendLogText(const QString &text) override;
    void PlayAlert(const QString &soundFile) override;
    void ClearView(TPublishOperator *sender) override;
    void FillView(TPublishOperator *sender) override;
    void ItemChanged(TFileListItem *item) override;
    int Ask(const QString &text) override;
    bool TrustCertificate(const TCertificateInfo &certificate) override;
    bool AllowPlainLogin(const QString &text) override;
    bool AskPassphrase(const QString &keyFile, QString &passphrase) override;
    void OperationEnd(TPublishOperator *sender) override;

    // Elements, named for the commands they serve.
    QWidget *pnlTools;
    QToolButton *sbNew, *sbOptions, *sbUpload, *sbUploadOnSave, *sbAbort, *sbRefresh,
        *sbOpenInExplorer, *sbBrowseServer;
    QComboBox *cbxFilter;
    QTabWidget *PageControl;
    QWidget *tstFiles, *tstLog;
    QSplitter *splFiles;
    QTreeView *tvwFolders;
    TFileListView *lvwFiles;
    QPlainTextEdit *retLog;
    QLabel *pnlStat;
    QProgressBar *pgbUpload;
    QMenu *miProject, *miEdit, *miView, *miTools, *miHelp;
    QAction *miNew, *miOrganize, *miExit, *miProjectListEnd;
    QAction *mimSetAsNeedUpload, *mimSetAsSynchronous, *miSelectAll, *miInvertSelection;
    QAction *miViewSyncFiles, *miRefresh;
    QMenu *miArrangeMain;
    QAction *miArrangeByName, *miArrangeByLocalDate, *miArrangeByRemoteDate, *miArrangeByAction;
    QAction *miUploadOnSave; // publish on save: checked while the local folder is watched
    QAction *miUpload, *miDownload, *miRemove, *miCompare, *miProjectOptions;
    QAction *miAsciiFiles, *miExecFiles, *miSounds, *miFirewall;
    QAction *miHelpTopics, *miAbout;
    QMenu *ppmFileList, *miArrange, *ppmFolders, *ppmLog;
    QAction *miSetAsNeedUpdate, *miSetAsSynchronous, *miSelectAllRows, *miRefreshList;
    QAction *miFolderUpload, *miFolderSync, *miBrowseFolder, *miFolderProperties;
    QAction *miClearLog, *miCopyLog, *miSelectAllLog;

    // Handlers.
    void miNewClick();
    void miOrganizeClick();
    void miProjectOptionsClick();
    void miAsciiFilesClick();
    void miExecFilesClick();
    void miUploadClick();
    void miUploadOnSaveClick(bool checked);
    void sbRefreshClick();
    void miRefreshWithoutCacheClick();
    void miDownloadClick();
    void miRemoveClick();
    void sbAbortClick();
    void sbOpenInExplorerClick();
    void sbBrowseServerClick();
    void miHelpTopicsClick();
    void miSetAsNeedUpdateClick();
    void miSetAsSynchronousClick();
    void miSelectAllClick();
    void miInvertSelectionClick();
    void miViewSyncFilesClick();
    void miArrangeClick(int tag);
    void lvwFilesColumnClick(int column);
    void tvwFoldersChange();

    // The path of the manual: installed beside the program, else the source tree's.
    static QString ManualPath();

signals:
    // After every operation's end handling (tests and benchmarks wait on it).
    void OperationFinished(quint8 kind);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreatePages();
    // Every command's failure ends in an error box, never in the event loop.
    QAction *NewAction(const char *name, const QString &text, std::function<void()> handler);
    QAction *NewAction(const char *name, const QString &text, void (TfrmMain::*handler)());
    void FormActivate();
    void UpdateCommands();
    void RebuildProjectMenu();
    void ResetFilter();
    void AddFolderFilters();
    void RefreshEnded(TPublishOperator *sender);
    void UploadEnded(TPublishOperator *sender);
    void EndOperation(TPublishOperator *sender, bool reportErrors);
    void QuitAfterUpload();
    // Upload on save: stops watching (the project closes, or the toggle is turned off).
    void StopUploadOnSave();
    // A save was seen, or an operation ended with one waiting: uploads when nothing runs.
    void UploadSaved();
    void PropagateUpward(TFileListItem *folder);
    bool AllChildrenSynchronous(TFileListItem *folder);
    void ShowFileListMenu(const QPoint &position);
    void ShowFolderMenu(const QPoint &position);
    bool PopupsAllowed() const;
    void ApplyResizeRule();

    QStringList m_arguments;
    std::unique_ptr<TProject> FProject;
    int FSortColumn = 2;
    std::unique_ptr<TFileList> FFileList;
    // Held while the project is open: no other window or zandrel-cli works on it meanwhile.
    TProjectLock m_projectLock;
    TPublishOperator *FOperator = nullptr;
    bool FUploadAtOnce = false;
    int FLogTailLength = -1;
    TFileListItem *FPopupFolder = nullptr;
    QString FSelectedFolder;
    bool FTreeUpdating = false;
    int FNameWidth = 0; // the Name column's width for its longest name
    QPointer<TPublishOperator> FLastThread;

    TFolderTreeModel *m_treeModel;
    TFileListModel *m_listModel;
    TFormKeeper *m_formKeeper;
    QList<QAction *> m_projectItems;
    bool m_activated = false;
    bool m_closeWhenEnded = false;
    int m_exitCode = 0;
    bool m_saveFailed = false; // the last operation's records could not be saved
    bool m_logEmpty = true;
    std::function<void(const QString &)> m_previousNotice;
    QHash<const TFileListItem *, size_t> m_syncChildrenFrom; // children known synchronous
    TFolderWatch *m_folderWatch = nullptr;
    bool m_savedWhileRunning = false; // a save seen while an operation ran: upload after it
};

// Runs `call`, turning a failure into an error box: nothing may unwind into the event loop.
template <class Call> void Guarded(QWidget *parent, Call call)
{
    try {
        call();
    } catch (const std::exception &error) {
        QMessageBox::critical(parent, QStringLiteral("Zandrel"), QString::fromUtf8(error.what()));
    }
}
