#include "ui/ftpwindow/FtpWindow.h"

#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/Icons.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/ftpwindow/FtpWinOptions.h"
#include "ui/ftpwindow/FtpWinReplace.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

// ---- controls ---------------------------------------------------------------------------

void TfrmFtpWindow::CreateControls()
{
    setMinimumSize(400, 300);
    setWindowIcon(ThemeIcon(QStringLiteral("folder-remote")));

    auto makeAction = [this](const char *name, const QString &text, const QIcon &icon) {
        auto *action = new QAction(icon, text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
        return action;
    };
    acnRefresh = makeAction("acnRefresh", QStringLiteral("Refresh"),
                            ThemeIcon(QStringLiteral("view-refresh")));
    acnRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    acnAbort = makeAction("acnAbort", QStringLiteral("Abort"),
                          ThemeIcon(QStringLiteral("process-stop")));
    acnDownload = makeAction("acnDownload", QStringLiteral("Download"),
                             ThemeIcon(QStringLiteral("cloud-download")));
    acnUpload = makeAction("acnUpload", QStringLiteral("Upload"),
                           ThemeIcon(QStringLiteral("cloud-upload")));
    acnDelete = makeAction("acnDelete", QStringLiteral("Delete"),
                           ThemeIcon(QStringLiteral("edit-delete")));
    acnRename = makeAction("acnRename", QStringLiteral("Rename"),
                           ThemeIcon(QStringLiteral("edit-rename")));
    acnRename->setShortcut(QKeySequence(Qt::Key_F2));
    acnNewFolder = makeAction("acnNewFolder", QStringLiteral("New Folder"),
                              ThemeIcon(QStringLiteral("folder-new")));
    acnUpper = makeAction("acnUpper", QStringLiteral("Up"), ThemeIcon(QStringLiteral("go-up")));
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
    QAction *connectAction = new QAction(ThemeIcon(QStringLiteral("network-connect")),
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
    View->setIcon(ThemeIcon(QStringLiteral("view-list-details")));
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
    // The name takes what the other columns leave, so the date never hides behind a scroll bar.
    lvwFiles->header()->setSectionResizeMode(TFtpFileModel::colName, QHeaderView::Stretch);
    {
        const QFontMetrics metrics(lvwFiles->font());
        const int padding = 2 * metrics.averageCharWidth() + 8;
        lvwFiles->setColumnWidth(TFtpFileModel::colSize,
                                 metrics.horizontalAdvance(QStringLiteral("999.99 MB")) + padding);
        lvwFiles->setColumnWidth(TFtpFileModel::colType,
                                 metrics.horizontalAdvance(QStringLiteral("plain text document"))
                                     + padding);
        lvwFiles->setColumnWidth(
            TFtpFileModel::colModified,
            metrics.horizontalAdvance(DateTimeText(QDateTime(QDate(2026, 12, 28), QTime(23, 59))))
                + padding);
    }
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
    const int smallIcon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, lvwFilesList);
    lvwFilesList->setIconSize(QSize(smallIcon, smallIcon));
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
    // The folder shown, and where Enter goes.
    pnlPath = new QWidget(this);
    pnlPath->setObjectName(QStringLiteral("pnlPath"));
    auto *pathLayout = new QHBoxLayout(pnlPath);
    pathLayout->setContentsMargins(4, 2, 4, 2);
    edtPath = new QLineEdit(pnlPath);
    edtPath->setObjectName(QStringLiteral("edtPath"));
    edtPath->installEventFilter(this);
    auto *pathLabel = new QLabel(QStringLiteral("&Folder:"), pnlPath);
    pathLabel->setBuddy(edtPath);
    pathLayout->addWidget(pathLabel);
    pathLayout->addWidget(edtPath, 1);

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
    layout->addWidget(pnlPath);
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

QSize TfrmFtpWindow::DesignSize() const
{
    // The whole toolbar and every column of a usual listing; on a large screen a little more.
    const QHeaderView *header = lvwFiles->header();
    int columns = 32 * fontMetrics().averageCharWidth(); // the name
    for (int column = 1; column < TFtpFileModel::ColumnCount; ++column)
        columns += header->sectionSize(column);
    columns += 2 * lvwFiles->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize screenSize = screen() ? screen()->availableSize() : QSize(1024, 768);
    QSize size(std::max({ToolBar->sizeHint().width(), columns, screenSize.width() * 9 / 20}), 0);
    size.setHeight(std::max(size.width() * 2 / 3, 360));
    return size.boundedTo(screenSize);
}
