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
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
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

// ---- rows -------------------------------------------------------------------------------

int TFtpFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TFtpFileModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TFtpFileModel::Text(int row, int column) const
{
    const TRow &r = m_rows[size_t(row)];
    switch (column) {
    case colName:
        return r.Data->Name;
    case colSize:
        return r.SizeText;
    case colType:
        return r.TypeText;
    case colModified:
        return r.DateText;
    default:
        return {};
    }
}

QVariant TFtpFileModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return Text(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == colName)
            return m_rows[size_t(index.row())].Icon;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == colSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant TFtpFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == colSize)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"Name", "Size", "Type", "Modified"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QString();
}

Qt::ItemFlags TFtpFileModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == colName)
        result |= Qt::ItemIsEditable;
    return result;
}

bool TFtpFileModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != colName)
        return false;
    TRow &row = m_rows[size_t(index.row())];
    const QString oldName = row.Data->Name;
    const QString newName = value.toString();
    if (newName == oldName)
        return false;
    if (!OnRename || !OnRename(index.row(), oldName, newName))
        return false;
    row.Data->Name = newName;
    emit dataChanged(index, index);
    return true;
}

void TFtpFileModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

TFtpFileModel::TRow TFtpFileModel::MakeRow(std::unique_ptr<TFtpFileData> data)
{
    TRow row;
    row.DateText = DateTimeText(data->Date);
    if (data->IsFolder) {
        if (m_folderIcon.isNull())
            m_folderIcon = ThemeIcon(QStringLiteral("folder"), QStyle::SP_DirIcon);
        row.TypeText = QStringLiteral("Folder");
        row.Icon = m_folderIcon;
    } else {
        row.SizeText = FormatSize(data->Size);
        const QString suffix = QFileInfo(data->Name).suffix().toLower();
        auto found = m_types.constFind(suffix);
        if (found == m_types.constEnd()) {
            static const QMimeDatabase database;
            const QMimeType type
                = database.mimeTypeForFile(data->Name, QMimeDatabase::MatchExtension);
            TTypeInfo info;
            info.Name = type.isDefault() || type.comment().isEmpty() ? QStringLiteral("File")
                                                                     : type.comment();
            info.Icon = QIcon::fromTheme(
                type.iconName(),
                QIcon::fromTheme(type.genericIconName(),
                                 QApplication::style()->standardIcon(QStyle::SP_FileIcon)));
            found = m_types.insert(suffix, info);
        }
        row.TypeText = found->Name;
        row.Icon = found->Icon;
    }
    row.Data = std::move(data);
    return row;
}

void TFtpFileModel::AppendAll(std::vector<std::unique_ptr<TFtpFileData>> batch)
{
    if (batch.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(batch.size()) - 1);
    m_rows.reserve(m_rows.size() + batch.size());
    for (auto &data : batch)
        m_rows.push_back(MakeRow(std::move(data)));
    endInsertRows();
}

void TFtpFileModel::Sort(int column, bool inverted)
{
    auto compare = [column](const TRow &a, const TRow &b) -> int {
        if (a.Data->IsFolder != b.Data->IsFolder)
            return a.Data->IsFolder ? -1 : 1;
        switch (column) {
        case 1:
            return a.Data->Size < b.Data->Size ? -1 : (a.Data->Size > b.Data->Size ? 1 : 0);
        case 2:
            return a.TypeText.compare(b.TypeText, Qt::CaseInsensitive);
        case 3:
            return a.Data->Date < b.Data->Date ? -1 : (a.Data->Date > b.Data->Date ? 1 : 0);
        default:
            return a.Data->Name.compare(b.Data->Name, Qt::CaseInsensitive);
        }
    };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<const TFtpFileData *> keys;
    keys.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        keys.push_back(m_rows[size_t(index.row())].Data.get());
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const TRow &a, const TRow &b) {
        const int result = compare(a, b);
        return inverted ? result > 0 : result < 0;
    });
    QHash<const TFtpFileData *, int> rowOf;
    for (size_t i = 0; i < m_rows.size(); ++i)
        rowOf.insert(m_rows[i].Data.get(), int(i));
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(index(rowOf.value(keys[size_t(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

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
        TProject project;
        try {
            project.Load(arguments[0]);
            // Without a password argument the one stored in the project is the sensible one.
            const QString password = arguments.size() >= 3
                                         ? arguments[2]
                                         : project.Nodes(QStringLiteral("Pass"))->AsPassword();
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
    } catch (const std::exception &) {
        // Losing the placement is no reason to fail closing.
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
}

void TfrmFtpWindow::ConfigureFromProject(TProject &project, const QString &password)
{
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
    return IncludeTrailingSlash(GetTempDir()) + QStringLiteral("FTPWinTemp");
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
            FAction->AddItem(data->Name, data->Size);
    }
    Run();
}

void TfrmFtpWindow::Refresh()
{
    acnRefreshExecute();
}

// ---- commands ---------------------------------------------------------------------------

void TfrmFtpWindow::acnRefreshExecute()
{
    if (FOperator->Busy())
        return;
    FAction->Kind = fakList;
    FAction->ClearItems();
    Run();
}

void TfrmFtpWindow::tbnUpperClick()
{
    if (FOperator->Busy() || FAction->Path.size() < 2)
        return;
    FAction->Kind = fakList;
    FAction->ClearItems();
    FAction->AddItem(QStringLiteral(".."));
    Run();
}

void TfrmFtpWindow::miOpenClick()
{
    if (FOperator->Busy())
        return;
    const QModelIndex current = lvwFiles->selectionModel()->currentIndex();
    const QList<int> rows = SelectedRows();
    const int row
        = current.isValid() && rows.contains(current.row()) ? current.row() : rows.value(0, -1);
    if (row < 0)
        return;
    const TFtpFileData *data = m_model.Data(row);
    FAction->ClearItems();
    FAction->Folders.clear();
    if (data->IsFolder) {
        FAction->Kind = fakList;
        FAction->AddItem(data->Name);
        Run();
        return;
    }
    if (m_browseMode)
        return;
    FAction->Kind = fakDownload;
    FAction->AddItem(data->Name, data->Size);
    FAction->LocalFolder = TempFolder();
    FOpenFileName = FAction->LocalFolder + QLatin1Char('/') + data->Name;
    Run();
}

void TfrmFtpWindow::acnNewFolderExecute()
{
    if (FOperator->Busy() || !acnNewFolder->isEnabled())
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("Make Folder"),
                                               QStringLiteral("Enter the name for new folder"),
                                               QLineEdit::Normal, QString(), &ok)
                             .trimmed();
    if (!ok || name.isEmpty() || FOperator->Busy())
        return;
    FAction->Kind = fakMakeFolder;
    FAction->ClearItems();
    FAction->AddItem(name);
    Run();
}

void TfrmFtpWindow::acnDownloadExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.isEmpty())
        return;
    const QString folder = AskDownloadFolder();
    if (folder.isEmpty() || FOperator->Busy())
        return;
    FAction->LocalFolder = folder;
    RunOnRows(fakDownload, rows);
}

void TfrmFtpWindow::acnUploadExecute()
{
    if (FOperator->Busy() || !acnUpload->isEnabled())
        return;
    const QStringList files = AskUploadFiles();
    if (files.isEmpty() || FOperator->Busy())
        return;
    FAction->Kind = fakUpload;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (const QString &file : files)
        FAction->AddItem(file);
    FAction->LocalFolder = QFileInfo(files.first()).absolutePath();
    Run();
}

void TfrmFtpWindow::UploadDropped(const QStringList &paths)
{
    if (FOperator->Busy() || !acnUpload->isEnabled() || paths.isEmpty())
        return;
    FAction->Kind = fakUpload;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            FAction->Folders.append(QDir::cleanPath(info.absoluteFilePath()));
        else if (info.isFile())
            FAction->AddItem(QDir::cleanPath(info.absoluteFilePath()));
    }
    FAction->LocalFolder = QFileInfo(QDir::cleanPath(paths.last())).absolutePath();
    activateWindow();
    raise();
    Run();
}

void TfrmFtpWindow::acnDeleteExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.isEmpty())
        return;
    const QString question
        = rows.size() == 1
              ? QStringLiteral("Are you sure you want to delete \"%1\"?")
                    .arg(m_model.Data(rows[0])->Name)
              : QStringLiteral("Are you sure you want to delete these %1 items?").arg(rows.size());
    if (QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes
        || FOperator->Busy())
        return;
    RunOnRows(fakDelete, rows);
}

void TfrmFtpWindow::acnRenameExecute()
{
    const QList<int> rows = SelectedRows();
    if (FOperator->Busy() || rows.size() != 1)
        return;
    QAbstractItemView *view = CurrentView();
    const QModelIndex index = m_model.index(rows[0], TFtpFileModel::colName);
    view->setCurrentIndex(index);
    view->edit(index);
}

bool TfrmFtpWindow::RenameRow(int, const QString &oldName, const QString &newName)
{
    if (newName.trimmed().isEmpty() || FOperator->Busy())
        return false;
    // Started once the editor has closed: the action disables the list, which would pull the
    // editor away while it is still committing.
    QMetaObject::invokeMethod(
        this,
        [this, oldName, newName] {
            if (FOperator->Busy())
                return;
            FAction->Kind = fakRename;
            FAction->ClearItems();
            FAction->AddItem(oldName);
            FAction->AddItem(newName);
            Run();
        },
        Qt::QueuedConnection);
    return true;
}

void TfrmFtpWindow::acnAbortExecute()
{
    if (!FOperator->Busy())
        return;
    // The old worker is cut off where it stands; a fresh one connects on the next action.
    FOperator.reset();
    m_pendingRows.clear();
    CreateOperator();
    ApplyConnection();
    FtpEnd(nullptr);
}

void TfrmFtpWindow::tbnConnectClick()
{
    if (FOperator->Busy())
        return;
    FConnection.Items(QStringLiteral("ServerName"))->SetAsString(QStringLiteral("localhost"));
    FConnection.Items(QStringLiteral("UserName"))->SetAsString(QStringLiteral("admin"));
    FConnection.Items(QStringLiteral("ServerPort"))->SetAsString(QStringLiteral("21"));
    FConnection.Items(QStringLiteral("Password"))->SetAsString(QStringLiteral("vrund"));
    FConnection.Items(QStringLiteral("InitialPath"))->SetAsString(QStringLiteral("ftptest"));
    if (!EditConnection(FConnection, FConnectionName, this) || FOperator->Busy())
        return;
    m_model.Clear();
    FOperator->DropConnection();
    ApplyConnection();
    Refresh();
}

// ---- worker events ----------------------------------------------------------------------

void TfrmFtpWindow::FtpBegin(TFtpOperator *)
{
    if (!m_cursorSet) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        m_cursorSet = true;
    }
    m_pendingRows.clear();
    lvwFiles->setEnabled(false);
    lvwFilesList->setEnabled(false);
    UpdateControls();
}

void TfrmFtpWindow::FtpClearList(TFtpOperator *)
{
    m_pendingRows.clear();
    m_model.Clear();
}

void TfrmFtpWindow::FtpAddFile(TFtpOperator *, std::unique_ptr<TFtpFileData> data)
{
    m_pendingRows.push_back(std::move(data));
}

void TfrmFtpWindow::FtpStatus(TFtpOperator *, const QString &text, int percent)
{
    ShowStatusText(text);
    ProgressBar->setValue(percent);
}

void TfrmFtpWindow::FtpError(TFtpOperator *, const QString &text)
{
    QMessageBox::warning(this, windowTitle(), text);
}

void TfrmFtpWindow::FtpEnd(TFtpOperator *sender)
{
    m_model.AppendAll(std::move(m_pendingRows));
    m_pendingRows.clear();
    FitColumns();
    SortList();
    lvwFiles->setEnabled(true);
    lvwFilesList->setEnabled(true);
    ProgressBar->setValue(0);
    UpdateStatusLine();
    UpdateCaption();
    QAbstractItemView *view = CurrentView();
    view->setFocus();
    if (m_model.rowCount() > 0) {
        QItemSelectionModel *selection = lvwFiles->selectionModel();
        if (!selection->currentIndex().isValid())
            selection->setCurrentIndex(m_model.index(0, 0), QItemSelectionModel::NoUpdate);
        if (!selection->hasSelection())
            selection->select(m_model.index(0, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (sender && !sender->Failed() && !FOpenFileName.isEmpty())
        OpenDownloadedFile();
    FOpenFileName.clear();
    UpdateControls();
    if (m_cursorSet) {
        QApplication::restoreOverrideCursor();
        m_cursorSet = false;
    }
    // Asked once the action has ended, so a Yes can run it again at once.
    if (const std::optional<TCertificateInfo> certificate
        = std::exchange(m_untrustedCertificate, {}))
        TrustAndRetry(*certificate);
}

void TfrmFtpWindow::TrustAndRetry(const TCertificateInfo &certificate)
{
    if (!AskTrustCertificate(certificate, QStringLiteral("this connection"), this))
        return;
    FConnection.Items(QStringLiteral("TrustedCertificate"))->SetAsString(certificate.Fingerprint);
    ApplyConnection();
    Run();
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
    btnOK->setEnabled(rows.size() == 1 && m_model.Data(rows[0])->IsFolder);
    pnlDialogStatus->setVisible(!idle);
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
    const QString folder = TempFolder();
    QDir dir(folder);
    if (!dir.exists())
        return;
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);
    QDir().rmdir(folder); // only when nothing is left in it
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
            const QModelIndexList rows = window.findChild<QTreeView *>(QStringLiteral("lvwFiles"))
                                             ->selectionModel()
                                             ->selectedRows();
            if (rows.size() == 1 && window.Model().Data(rows[0].row())->IsFolder) {
                path = IncludeTrailingSlash(window.Action().Path)
                       + window.Model().Data(rows[0].row())->Name;
                chosen = true;
            }
        }
    }
    BrowseMode = false;
    return chosen;
}
