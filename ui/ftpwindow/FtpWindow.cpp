#include "ui/ftpwindow/FtpWindow.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/RegistryLib.h"
#include "store/Settings.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/ftpwindow/FtpWinOptions.h"
#include "ui/ftpwindow/FtpWinReplace.h"

#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

bool BrowseMode = false;

namespace {

const char *const FtpWindowCaption = "FTP Window";
const char *const BrowseCaption = "Browse for FTP folders";

} // namespace

// ---- window -----------------------------------------------------------------------------

TfrmFtpWindow::TfrmFtpWindow(QWidget *parent, const QStringList &arguments)
    : QDialog(parent)
    , m_browseMode(BrowseMode)
{
    setObjectName(QStringLiteral("frmFtpWindow"));
    CreateControls();

    FormKeeper = new TFormKeeper(this);
    FormKeeper->RegistryAddress.Root = hkeyCurrentUser;
    FormKeeper->RegistryAddress.Path = QStringLiteral("\\Software\\morvate\\Zandrel");
    FormKeeper->FormName = QStringLiteral("frmFtpWindow");
    FormKeeper->OnLoad = [this](TFormKeeper *, TRegistryKey &key) {
        if (key.ValueExists(QStringLiteral("Details")))
            SetDetails(key.ReadBool(QStringLiteral("Details")));
    };
    FormKeeper->OnSave = [this](TFormKeeper *, TRegistryKey &key) {
        key.WriteBool(QStringLiteral("Details"), DetailsView());
    };

    if (!m_browseMode) {
        // The window stands for the program here: its icon is the program's.
        QApplication::setWindowIcon(windowIcon());
        setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
        setWindowTitle(QString::fromLatin1(FtpWindowCaption));
    } else {
        FormKeeper->FormName = QStringLiteral("FTPDialog");
        pnlStatus->hide();
        tbnConnectAction->setVisible(false);
        tbnConnectBreak->setVisible(false);
        tbnDownloadAction->setVisible(false);
        tbnUploadAction->setVisible(false);
        pnlDialog->show();
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setWindowTitle(QString::fromLatin1(BrowseCaption));
        lvwFiles->setSelectionMode(QAbstractItemView::SingleSelection);
        lvwFilesList->setSelectionMode(QAbstractItemView::SingleSelection);
        miSelectAll->setVisible(false);
        miSelectAll->setEnabled(false);
    }
    try {
        FormKeeper->Load();
    } catch (const std::exception &) {
        // Unreadable placement keeps the design size; it is written anew on close.
    }

    FAction = std::make_unique<TFtpAction>(fakList);
    CreateOperator();
    UpdateControls();
    FOpenFileName.clear();

    if (!m_browseMode && arguments.size() >= 2 && arguments[1] == QLatin1String("FTPWindow")
        && QFileInfo(arguments[0]).isFile()) {
        tbnConnectAction->setVisible(false);
        tbnConnectBreak->setVisible(false);
        // The main window that opened it hands down its lock; anyone else holding the project
        // (another window, a zandrel-cli run) keeps this window from working on its server.
        QString refusal;
        if (!m_projectLock.Adopt(arguments[0]) && !m_projectLock.Lock(arguments[0], refusal)) {
            QMessageBox::warning(this, windowTitle(), refusal);
            QTimer::singleShot(0, this, &QWidget::close);
            return;
        }
        TProject project;
        try {
            project.Load(arguments[0]);
            // Without a password argument the one stored in the project is the sensible one.
            const QString password
                = arguments.size() >= 3 ? arguments[2] : project.StoredPassword();
            ConfigureFromProject(project, password);
            SetLocalFolder(project.GetLocalPath());
            Refresh();
        } catch (const std::exception &error) {
            QMessageBox::warning(this, windowTitle(), QString::fromLocal8Bit(error.what()));
        }
    }
}

TfrmFtpWindow::~TfrmFtpWindow()
{
    try {
        FormKeeper->Save();
    } catch (const std::exception &error) {
        // Losing the placement must not stop the window from closing; the window is gone, so
        // the reason goes to standard error.
        qWarning("%s", error.what());
    }
    m_model.OnRename = nullptr;
    FOperator.reset();
    if (m_cursorSet)
        QApplication::restoreOverrideCursor();
    CleanTempFolder();
}

void TfrmFtpWindow::CreateControls()
{
    setMinimumSize(400, 300);
    resize(560, 420);
    setWindowIcon(ThemeIcon(QStringLiteral("folder-remote"), QStyle::SP_DriveNetIcon));

    auto makeAction = [this](const char *name, const QString &text, const QIcon &icon) {
        auto *action = new QAction(icon, text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
        return action;
    };
    acnRefresh = makeAction("acnRefresh", QStringLiteral("Refresh"),
                            ThemeIcon(QStringLiteral("view-refresh"), QStyle::SP_BrowserReload));
    acnRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    acnAbort = makeAction("acnAbort", QStringLiteral("Abort"),
                          ThemeIcon(QStringLiteral("process-stop"), QStyle::SP_BrowserStop));
    acnDownload = makeAction("acnDownload", QStringLiteral("Download"),
                             ThemeIcon(QStringLiteral("document-save"), QStyle::SP_ArrowDown));
    acnUpload = makeAction("acnUpload", QStringLiteral("Upload"),
                           ThemeIcon(QStringLiteral("document-send"), QStyle::SP_ArrowUp));
    acnDelete = makeAction("acnDelete", QStringLiteral("Delete"),
                           ThemeIcon(QStringLiteral("edit-delete"), QStyle::SP_TrashIcon));
    acnRename = makeAction("acnRename", QStringLiteral("Rename"), QIcon());
    acnRename->setShortcut(QKeySequence(Qt::Key_F2));
    acnNewFolder
        = makeAction("acnNewFolder", QStringLiteral("New Folder"),
                     ThemeIcon(QStringLiteral("folder-new"), QStyle::SP_FileDialogNewFolder));
    acnUpper = makeAction("acnUpper", QStringLiteral("Up"),
                          ThemeIcon(QStringLiteral("go-up"), QStyle::SP_FileDialogToParent));
    acnUpper->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    connect(acnRefresh, &QAction::triggered, this, &TfrmFtpWindow::acnRefreshExecute);
    connect(acnAbort, &QAction::triggered, this, &TfrmFtpWindow::acnAbortExecute);
    connect(acnDownload, &QAction::triggered, this, &TfrmFtpWindow::acnDownloadExecute);
    connect(acnUpload, &QAction::triggered, this, &TfrmFtpWindow::acnUploadExecute);
    connect(acnDelete, &QAction::triggered, this, &TfrmFtpWindow::acnDeleteExecute);
    connect(acnRename, &QAction::triggered, this, &TfrmFtpWindow::acnRenameExecute);
    connect(acnNewFolder, &QAction::triggered, this, &TfrmFtpWindow::acnNewFolderExecute);
    connect(acnUpper, &QAction::triggered, this, &TfrmFtpWindow::tbnUpperClick);

    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setIconSize(QSize(22, 22));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto addButton = [this](const char *name, QAction *action) {
        auto *button = new QToolButton(ToolBar);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoRaise(true);
        if (action)
            button->setDefaultAction(action);
        return std::make_pair(button, ToolBar->addWidget(button));
    };
    QAction *connectAction
        = new QAction(ThemeIcon(QStringLiteral("network-connect"), QStyle::SP_DriveNetIcon),
                      QStringLiteral("Connect"), this);
    connect(connectAction, &QAction::triggered, this, &TfrmFtpWindow::tbnConnectClick);
    std::tie(tbnConnect, tbnConnectAction) = addButton("tbnConnect", connectAction);
    tbnConnectBreak = ToolBar->addSeparator();
    tbnUpper = addButton("tbnUpper", acnUpper).first;
    tbnUpper->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbnUpper->setToolTip(QStringLiteral("Up"));
    tbnRefresh = addButton("tbnRefresh", acnRefresh).first;
    tbnRefresh->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar->addSeparator();
    tbnAbort = addButton("tbnAbort", acnAbort).first;
    ToolBar->addSeparator();
    tbnNewFolder = addButton("tbnNewFolder", acnNewFolder).first;
    tbnNewFolder->setToolButtonStyle(Qt::ToolButtonIconOnly);
    std::tie(tbnDownload, tbnDownloadAction) = addButton("tbnDownload", acnDownload);
    std::tie(tbnUpload, tbnUploadAction) = addButton("tbnUpload", acnUpload);
    for (QToolButton *button : {tbnConnect, tbnAbort, tbnDownload, tbnUpload})
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->addSeparator();
    View = addButton("View", nullptr).first;
    View->setText(QStringLiteral("View"));
    View->setIcon(
        ThemeIcon(QStringLiteral("view-list-details"), QStyle::SP_FileDialogDetailedView));
    View->setPopupMode(QToolButton::MenuButtonPopup);
    View->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(View, &QToolButton::clicked, this, [this] { SetDetails(!DetailsView()); });

    // Both views show the same rows with one selection.
    lvwFiles = new QTreeView(this);
    lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    lvwFiles->setRootIsDecorated(false);
    lvwFiles->setItemsExpandable(false);
    lvwFiles->setUniformRowHeights(true);
    lvwFiles->setAllColumnsShowFocus(true);
    lvwFiles->setModel(&m_model);
    lvwFiles->header()->setSectionsClickable(true);
    lvwFiles->header()->setSortIndicatorShown(true);
    lvwFiles->header()->setSortIndicator(0, Qt::AscendingOrder);
    lvwFiles->header()->setStretchLastSection(false);
    lvwFiles->setColumnWidth(0, 150);
    for (int column = 1; column < TFtpFileModel::ColumnCount; ++column)
        lvwFiles->setColumnWidth(column, 100);
    connect(lvwFiles->header(), &QHeaderView::sectionClicked, this,
            &TfrmFtpWindow::lvwFilesColumnClick);
    lvwFilesList = new QListView(this);
    lvwFilesList->setObjectName(QStringLiteral("lvwFilesList"));
    lvwFilesList->setModel(&m_model);
    lvwFilesList->setSelectionModel(lvwFiles->selectionModel());
    lvwFilesList->setFlow(QListView::TopToBottom);
    lvwFilesList->setWrapping(true);
    lvwFilesList->setResizeMode(QListView::Adjust);
    lvwFilesList->setUniformItemSizes(true);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(lvwFiles),
                                    static_cast<QAbstractItemView *>(lvwFilesList)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        view->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, [this] { miOpenClick(); });
        view->setItemDelegate(new TEditTrackingDelegate(view));
        connect(view, &QWidget::customContextMenuRequested, this, &TfrmFtpWindow::ShowPopupMenu);
    }
    connect(lvwFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!FOperator || !FOperator->Busy()) {
            UpdateStatusLine();
            UpdateControls();
        }
    });
    m_views = new QStackedWidget(this);
    m_views->addWidget(lvwFiles);
    m_views->addWidget(lvwFilesList);
    m_model.OnRename = [this](int row, const QString &oldName, const QString &newName) {
        return RenameRow(row, oldName, newName);
    };

    pnlStatus = new QWidget(this);
    pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    auto *statusLayout = new QHBoxLayout(pnlStatus);
    statusLayout->setContentsMargins(4, 2, 4, 2);
    lblStatus = new QLabel(QStringLiteral("No connection"), pnlStatus);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setMinimumWidth(1);
    ProgressBar = new QProgressBar(pnlStatus);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setFixedWidth(100);
    ProgressBar->setTextVisible(false);
    statusLayout->addWidget(lblStatus, 1);
    statusLayout->addWidget(ProgressBar);

    pnlDialog = new QWidget(this);
    pnlDialog->setObjectName(QStringLiteral("pnlDialog"));
    auto *dialogLayout = new QHBoxLayout(pnlDialog);
    pnlDialogStatus = new QLabel(pnlDialog);
    pnlDialogStatus->setObjectName(QStringLiteral("pnlDialogStatus"));
    pnlDialogStatus->setTextFormat(Qt::PlainText);
    btnOK = new QPushButton(QStringLiteral("OK"), pnlDialog);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), pnlDialog);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    dialogLayout->addWidget(pnlDialogStatus, 1);
    dialogLayout->addStretch(); // keeps the buttons at their size while the status is hidden
    dialogLayout->addWidget(btnOK);
    dialogLayout->addWidget(btnCancel);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    pnlDialog->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar);
    layout->addWidget(m_views, 1);
    layout->addWidget(pnlStatus);
    layout->addWidget(pnlDialog);

    pdgDownload = new TPathDialog(this);
    pdgDownload->setObjectName(QStringLiteral("pdgDownload"));
    pdgDownload->SetTitle(QStringLiteral("Download to"));
    AskDownloadFolder = [this]() -> QString {
        return pdgDownload->Execute() ? pdgDownload->Directory() : QString();
    };
    AskUploadFiles = [this]() {
        return QFileDialog::getOpenFileNames(this, QStringLiteral("Select the files for uploading"),
                                             m_localFolder, QStringLiteral("All Files (*)"));
    };
    AskSaveFile = [this](const QString &suggested) {
        return QFileDialog::getSaveFileName(this, QString(), suggested,
                                            QStringLiteral("All Files (*)"));
    };

    // Pop-up menu of the list, shared with the View button.
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    miOpen = PopupMenu->addAction(QStringLiteral("Open"), this, &TfrmFtpWindow::miOpenClick);
    miOpen->setObjectName(QStringLiteral("miOpen"));
    PopupMenu->setDefaultAction(miOpen);
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnNewFolder);
    miDownload = acnDownload;
    miUpload = acnUpload;
    PopupMenu->addAction(acnDownload);
    PopupMenu->addAction(acnUpload);
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnDelete);
    PopupMenu->addAction(acnRename);
    PopupMenu->addSeparator();
    miView = PopupMenu->addMenu(QStringLiteral("View"));
    miView->setObjectName(QStringLiteral("miView"));
    auto *viewGroup = new QActionGroup(this);
    miViewList = miView->addAction(QStringLiteral("List"), this, [this] { SetDetails(false); });
    miViewList->setObjectName(QStringLiteral("miViewList"));
    miViewDetail = miView->addAction(QStringLiteral("Detail"), this, [this] { SetDetails(true); });
    miViewDetail->setObjectName(QStringLiteral("miViewDetail"));
    for (QAction *item : {miViewList, miViewDetail}) {
        item->setCheckable(true);
        viewGroup->addAction(item);
    }
    connect(miView, &QMenu::aboutToShow, this, [this] {
        miViewDetail->setChecked(DetailsView());
        miViewList->setChecked(!DetailsView());
    });
    View->setMenu(miView);
    miArrange = PopupMenu->addMenu(QStringLiteral("Arrange by"));
    miArrange->setObjectName(QStringLiteral("miArrange"));
    static const char *const arrangeNames[]
        = {"miArrangeName", "miArrangeSize", "miArrangeType", "miArrangeDate"};
    static const char *const arrangeTexts[] = {"Name", "Size", "Type", "Date"};
    for (int key = 0; key < 4; ++key) {
        QAction *item
            = miArrange->addAction(QString::fromLatin1(arrangeTexts[key]), this, [this, key] {
                  FSortColumn = key;
                  SortList();
              });
        item->setObjectName(QString::fromLatin1(arrangeNames[key]));
    }
    miArrange->addSeparator();
    miArrangeInvert = miArrange->addAction(QStringLiteral("Invert Order"), this, [this] {
        FSortInverted = !FSortInverted;
        SortList();
    });
    miArrangeInvert->setObjectName(QStringLiteral("miArrangeInvert"));
    PopupMenu->addSeparator();
    PopupMenu->addAction(acnRefresh);
    miSelectAll = PopupMenu->addAction(QStringLiteral("Select All"), this,
                                       [this] { CurrentView()->selectAll(); });
    miSelectAll->setObjectName(QStringLiteral("miSelectAll"));
    miSelectAll->setShortcut(QKeySequence::SelectAll);
    miSelectAll->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(miSelectAll);

    setAcceptDrops(true);
}

void TfrmFtpWindow::CreateOperator()
{
    FOperator = std::make_unique<TFtpOperator>();
    FOperator->OnBegin = [this](TFtpOperator *sender) { FtpBegin(sender); };
    FOperator->OnEnd = [this](TFtpOperator *sender) { FtpEnd(sender); };
    FOperator->OnClearList = [this](TFtpOperator *sender) { FtpClearList(sender); };
    FOperator->OnAddFile = [this](TFtpOperator *sender, std::unique_ptr<TFtpFileData> data) {
        FtpAddFile(sender, std::move(data));
    };
    FOperator->OnError
        = [this](TFtpOperator *sender, const QString &text) { FtpError(sender, text); };
    FOperator->OnUntrustedCertificate
        = [this](TFtpOperator *, const TCertificateInfo &info) { m_untrustedCertificate = info; };
    FOperator->OnStatus = [this](TFtpOperator *sender, const QString &text, int percent) {
        FtpStatus(sender, text, percent);
    };
    FOperator->OnAskReplace = [this](TFtpOperator *, const TFtpReplaceQuestion &question) {
        return AskReplaceFile(question, this);
    };
}

void TfrmFtpWindow::ConfigureFromProject(TProject &project, const QString &password)
{
    // A port that is no number is refused, not read as 21.
    quint16 port = 0;
    if (!ParsePort(project.Nodes(QStringLiteral("Port"))->AsString(), port))
        throw EStoreError(StoredPortRefusal(project.Nodes(QStringLiteral("Port"))->AsString()));
    FConnection.Items(QStringLiteral("ServerName"))
        ->SetAsString(project.Nodes(QStringLiteral("Host"))->AsString().trimmed());
    FConnection.Items(QStringLiteral("ServerPort"))
        ->SetAsString(project.Nodes(QStringLiteral("Port"))->AsString().trimmed());
    FConnection.Items(QStringLiteral("UserName"))
        ->SetAsString(project.Nodes(QStringLiteral("User"))->AsString());
    FConnection.Items(QStringLiteral("Password"))->SetAsString(password);
    FConnection.Items(QStringLiteral("InitialPath"))->SetAsString(project.GetRemotePath());
    FConnection.Items(QStringLiteral("UsePassive"))
        ->SetAsBoolean(project.Nodes(QStringLiteral("Passive"))->AsBoolean());
    FConnection.Items(QStringLiteral("UseFirewall"))
        ->SetAsBoolean(project.Nodes(QStringLiteral("Proxy"))->AsBoolean());
    FConnection.Items(QStringLiteral("Encryption"))->SetAsString(ProjectEncryption(project));
    FConnection.Items(QStringLiteral("TrustedCertificate"))
        ->SetAsString(project.Nodes(QStringLiteral("TrustedCertificate"))->AsString());
    // A server that offered TLS to the project and offers none now is refused, as there.
    FConnection.Items(QStringLiteral("ExpectTls"))->SetAsBoolean(ProjectExpectsTls(project));
    ApplyConnection();
}

void TfrmFtpWindow::ApplyConnection()
{
    TFtp &ftp = FOperator->Ftp();
    ftp.ServerName = FConnection.Items(QStringLiteral("ServerName"))->AsString();
    bool isNumber = false;
    const int port = FConnection.Items(QStringLiteral("ServerPort"))->AsString().toInt(&isNumber);
    ftp.ServerPort = isNumber && port > 0 && port <= 65535 ? quint16(port) : quint16(21);
    ftp.UserName = FConnection.Items(QStringLiteral("UserName"))->AsString();
    ftp.Password = FConnection.Items(QStringLiteral("Password"))->AsString();
    ftp.Passive = FConnection.Items(QStringLiteral("UsePassive"))->AsBoolean();
    ftp.Proxy = FConnection.Items(QStringLiteral("UseFirewall"))->AsBoolean() ? GetProxyString()
                                                                              : QString();
    ftp.Encryption = FConnection.Items(QStringLiteral("Encryption"))->AsString();
    ftp.TrustedFingerprint = FConnection.Items(QStringLiteral("TrustedCertificate"))->AsString();
    ftp.ExpectTls = FConnection.Items(QStringLiteral("ExpectTls"))->AsBoolean();
    FAction->Path = FConnection.Items(QStringLiteral("InitialPath"))->AsString();
    UpdateControls();
}

void TfrmFtpWindow::SetLocalFolder(const QString &folder)
{
    m_localFolder = folder;
    pdgDownload->SetDirectory(folder);
}

QString TfrmFtpWindow::TempFolder()
{
    if (!m_tempFolder) {
        // A fresh name that nobody can have made first, readable by this user only: a fixed
        // shared name let another user make it first, or read what was opened.
        auto folder = std::make_unique<QTemporaryDir>(IncludeTrailingSlash(GetTempDir())
                                                      + QStringLiteral("zandrel-open-XXXXXX"));
        if (!folder->isValid()
            || !QFile::setPermissions(folder->path(), QFileDevice::ReadOwner
                                                          | QFileDevice::WriteOwner
                                                          | QFileDevice::ExeOwner))
            return {};
        m_tempFolder = std::move(folder);
    }
    return m_tempFolder->path();
}

QString TfrmFtpWindow::ChosenFolder() const
{
    if (!FOperator || !FAction || !FOperator->Ftp().Connected() || FAction->Path.isEmpty())
        return {};
    const QList<int> rows = SelectedRows();
    if (rows.size() == 1 && m_model.Data(rows[0])->IsFolder)
        return IncludeTrailingSlash(FAction->Path) + m_model.Data(rows[0])->Name;
    return FAction->Path;
}

bool TfrmFtpWindow::DetailsView() const
{
    return m_views->currentWidget() == lvwFiles;
}

void TfrmFtpWindow::SetDetails(bool details)
{
    QWidget *view = details ? static_cast<QWidget *>(lvwFiles) : lvwFilesList;
    const bool hadFocus = m_views->currentWidget()->hasFocus();
    m_views->setCurrentWidget(view);
    if (hadFocus)
        view->setFocus();
}

bool TfrmFtpWindow::Editing() const
{
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(lvwFiles),
                                    static_cast<QAbstractItemView *>(lvwFilesList)}) {
        if (static_cast<TEditTrackingDelegate *>(view->itemDelegate())->Editing())
            return true;
    }
    return false;
}

QAbstractItemView *TfrmFtpWindow::CurrentView() const
{
    return static_cast<QAbstractItemView *>(m_views->currentWidget());
}

QList<int> TfrmFtpWindow::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : lvwFiles->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmFtpWindow::Run()
{
    FOperator->RunAction(FAction.get());
}

// Folder rows go to Folders, file rows to Items with their sizes.
void TfrmFtpWindow::RunOnRows(quint8 kind, const QList<int> &rows)
{
    FAction->Kind = kind;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (int row : rows) {
        const TFtpFileData *data = m_model.Data(row);
        if (data->IsFolder)
            FAction->Folders.append(data->Name);
        else
            FAction->AddItem(data->Name, data->Size, data->Date);
    }
    Run();
}

void TfrmFtpWindow::Refresh()
{
    acnRefreshExecute();
}

void TfrmFtpWindow::FitColumns()
{
    const QFontMetrics metrics(lvwFiles->font());
    const int rows = m_model.rowCount();
    for (int column = 0; column < TFtpFileModel::ColumnCount; ++column) {
        int widest = 0;
        for (int row = 0; row < rows; ++row)
            widest = std::max(widest, metrics.horizontalAdvance(m_model.Text(row, column)));
        const int width = rows == 0 ? 50 : std::max(50, widest + (column == 0 ? 40 : 20));
        lvwFiles->setColumnWidth(column, width);
    }
}

void TfrmFtpWindow::SortList()
{
    m_model.Sort(FSortColumn, FSortInverted);
    lvwFiles->header()->setSortIndicator(FSortColumn,
                                         FSortInverted ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TfrmFtpWindow::lvwFilesColumnClick(int section)
{
    if (section == FSortColumn) {
        FSortInverted = !FSortInverted;
    } else {
        FSortColumn = section;
        FSortInverted = false;
    }
    SortList();
}

void TfrmFtpWindow::ShowStatusText(const QString &text)
{
    lblStatus->setText(text);
    pnlDialogStatus->setText(QLatin1Char(' ') + text);
}

void TfrmFtpWindow::UpdateStatusLine()
{
    if (!FOperator->Ftp().Connected()) {
        ShowStatusText(QStringLiteral("No connection"));
        return;
    }
    const QList<int> selected = SelectedRows();
    qint64 sum = 0;
    QString text;
    if (selected.isEmpty()) {
        for (int row = 0; row < m_model.rowCount(); ++row) {
            if (!m_model.Data(row)->IsFolder)
                sum += m_model.Data(row)->Size;
        }
        text = QString::number(m_model.rowCount()) + QStringLiteral(" object(s)");
    } else {
        for (int row : selected) {
            if (!m_model.Data(row)->IsFolder)
                sum += m_model.Data(row)->Size;
        }
        text = QString::number(selected.size()) + QStringLiteral(" object(s) selected");
    }
    if (sum > 0)
        text += QStringLiteral("   ") + FormatSize(sum);
    // A folder that looks empty, or short, says which lines of its listing were not read.
    if (selected.isEmpty() && !FOperator->ListingNote().isEmpty())
        text += QStringLiteral("   ") + FOperator->ListingNote();
    ShowStatusText(text);
}

void TfrmFtpWindow::UpdateCaption()
{
    QString caption = QString::fromLatin1(m_browseMode ? BrowseCaption : FtpWindowCaption);
    if (FOperator->Ftp().Connected())
        caption += QStringLiteral(" - ftp://") + FOperator->Ftp().ServerName + FAction->Path;
    setWindowTitle(caption);
}

void TfrmFtpWindow::UpdateControls()
{
    const bool idle = !FOperator || !FOperator->Busy();
    const bool configured = !FConnection.Items(QStringLiteral("ServerName"))->AsString().isEmpty()
                            && !FConnection.Items(QStringLiteral("UserName"))->AsString().isEmpty();
    const QList<int> rows = SelectedRows();
    tbnConnect->setEnabled(idle);
    acnUpper->setEnabled(idle && FAction && FAction->Path.size() > 1);
    acnRefresh->setEnabled(idle && configured);
    acnNewFolder->setEnabled(idle && configured);
    acnUpload->setEnabled(idle && configured);
    acnAbort->setEnabled(!idle);
    acnDownload->setEnabled(idle && !rows.isEmpty());
    acnDelete->setEnabled(idle && !rows.isEmpty());
    acnRename->setEnabled(idle && rows.size() == 1);
    pnlDialogStatus->setVisible(!idle);
    if (m_browseMode) {
        const QString chosen = idle ? ChosenFolder() : QString();
        btnOK->setEnabled(!chosen.isEmpty());
        btnOK->setToolTip(chosen.isEmpty() ? QString() : QStringLiteral("Choose ") + chosen);
        // Long paths keep their ends; the tip has the whole path.
        btnOK->setText(chosen.isEmpty()
                           ? QStringLiteral("OK")
                           : QStringLiteral("Choose ")
                                 + btnOK->fontMetrics().elidedText(chosen, Qt::ElideMiddle, 280));
    }
}

void TfrmFtpWindow::ShowPopupMenu(const QPoint &position)
{
    const QList<int> rows = SelectedRows();
    const bool folderSelected = rows.size() == 1 && m_model.Data(rows[0])->IsFolder;
    miOpen->setVisible(!rows.isEmpty() && (!m_browseMode || folderSelected));
    miDownload->setVisible(!m_browseMode);
    miUpload->setVisible(!m_browseMode);
    miSelectAll->setVisible(!m_browseMode);
    miSelectAll->setEnabled(!m_browseMode);
    PopupMenu->popup(CurrentView()->viewport()->mapToGlobal(position));
}

// ---- opening files ----------------------------------------------------------------------

void TfrmFtpWindow::OpenDownloadedFile()
{
    const QString fileName = FOpenFileName;
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(fileName)))
        return;
    if (QMessageBox::question(
            this, windowTitle(),
            QStringLiteral("Not to manage automatically to open file. Do you want save file?"),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    const QString target = AskSaveFile(QFileInfo(fileName).fileName());
    if (target.isEmpty())
        return;
    QFile::remove(target);
    if (!QFile::copy(fileName, target))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The file could not be saved as ") + target);
}

void TfrmFtpWindow::CleanTempFolder()
{
    m_tempFolder.reset(); // removes the folder with everything in it
}

// ---- keys, drops, closing ---------------------------------------------------------------

bool TfrmFtpWindow::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == lvwFiles || watched == lvwFilesList) && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // An open caption editor passes Enter on to the view after it has taken it.
        if (Editing())
            return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (key->modifiers() == Qt::NoModifier) {
            switch (key->key()) {
            case Qt::Key_Backspace:
                tbnUpperClick();
                return true;
            case Qt::Key_Delete:
                acnDeleteExecute();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                miOpenClick();
                return true;
            // Also here, not only as shortcuts: those need the window to be the active one.
            case Qt::Key_F2:
                acnRenameExecute();
                return true;
            case Qt::Key_F5:
                acnRefreshExecute();
                return true;
            default:
                break;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmFtpWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        // Escape closes only the picker, like its Cancel button.
        if (m_browseMode && !Editing())
            reject();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (m_browseMode && btnOK->isEnabled())
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmFtpWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (acnUpload->isEnabled() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmFtpWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (acnUpload->isEnabled() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmFtpWindow::dropEvent(QDropEvent *event)
{
    if (!acnUpload->isEnabled() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    UploadDropped(paths);
}

bool TfrmFtpWindow::ConfirmAbort()
{
    if (!FOperator->Busy())
        return true;
    if (QMessageBox::question(this, windowTitle(),
                              QStringLiteral("Operation is not complete. Abort?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return false;
    acnAbortExecute();
    return true;
}

void TfrmFtpWindow::AbortAndClose()
{
    acnAbortExecute();
    reject();
}

void TfrmFtpWindow::done(int result)
{
    if (!ConfirmAbort())
        return;
    QDialog::done(result);
}

// ---- picker -----------------------------------------------------------------------------

bool BrowseFtpFolder(TProject &project, QString &path, QWidget *parent)
{
    BrowseMode = true;
    bool chosen = false;
    {
        TfrmFtpWindow window(parent);
        window.ConfigureFromProject(project, project.GetPassword());
        window.Refresh();
        if (window.exec() == QDialog::Accepted) {
            const QString folder = window.ChosenFolder();
            if (!folder.isEmpty()) {
                path = folder;
                chosen = true;
            }
        }
    }
    BrowseMode = false;
    return chosen;
}
