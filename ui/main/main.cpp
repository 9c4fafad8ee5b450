#include "ui/main/main.h"

#include "engine/AlertSound.h"
#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "store/ShellLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/dialogs/ProjectOrganizer.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/dialogs/Sounds.h"
#include "ui/main/About.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/FolderProp.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

namespace {

constexpr int NameStatusIconFrom = 3; // the status icon's span right of the Name column
constexpr int NameStatusIconTo = 16;

// Runs `call`, turning a failure into an error box: nothing may unwind into the event loop.
template <class Call> void Guarded(QWidget *parent, Call call)
{
    try {
        call();
    } catch (const std::exception &error) {
        QMessageBox::critical(parent, QStringLiteral("Zandrel"), QString::fromUtf8(error.what()));
    }
}

QColor LogColour(int kind)
{
    switch (kind) {
    case 1:
        return QColor(255, 0, 0);
    case 2:
        return QColor(0, 0, 255);
    default:
        return QColor(0, 0, 0);
    }
}

} // namespace

// ---- file list view -----------------------------------------------------------------------

void TFileListView::mousePressEvent(QMouseEvent *event)
{
    QTreeView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton
        || (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    const int x = event->position().toPoint().x() + horizontalOffset();
    const int statusLeft = header()->sectionPosition(TFileListModel::colStatus);
    if (x > statusLeft + NameStatusIconFrom && x < statusLeft + NameStatusIconTo)
        emit StatusIconClicked(index);
}

// ---- creation -----------------------------------------------------------------------------

TfrmMain::TfrmMain(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , ProgramFile(QCoreApplication::applicationFilePath())
    , m_arguments(arguments)
{
    setObjectName(QStringLiteral("frmMain"));
    // The default project and the run's password are read from this command line.
    TProject::CommandLineArguments = arguments;
    if (!TProject::PasswordPrompt) {
        TProject::PasswordPrompt = [](QString &password) {
            return AskForPassword(password, QApplication::activeWindow());
        };
    }
    // Where a saved password went (the keyring, or the project file without one) goes to the log.
    m_previousNotice = std::exchange(TProject::Notice, [this](const QString &line) {
        QMetaObject::invokeMethod(this, [this, line] { AddLogLine(0, line); });
    });
    setWindowTitle(QStringLiteral("Zandrel"));
    setWindowIcon(
        QIcon::fromTheme(QStringLiteral("zandrel"), QIcon(QStringLiteral(":/zandrel.png"))));
    setMinimumSize(500, 300);
    resize(760, 520);

    m_treeModel = new TFolderTreeModel(this);
    m_listModel = new TFileListModel(this);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreatePages();

    m_formKeeper = new TFormKeeper(this);
    m_formKeeper->FormName = QStringLiteral("frmMain");
    m_formKeeper->ComponentsStore = false;
    m_formKeeper->OnLoad = [this](TFormKeeper *, TRegistryKey &key) {
        if (key.ValueExists(QStringLiteral("FoldersWidth"))) {
            const int width = std::max(100, key.ReadInteger(QStringLiteral("FoldersWidth")));
            splFiles->setSizes({width, std::max(100, splFiles->width() - width)});
        }
    };
    m_formKeeper->OnSave = [this](TFormKeeper *, TRegistryKey &key) {
        key.WriteInteger(QStringLiteral("FoldersWidth"), tvwFolders->width());
    };
    try {
        m_formKeeper->Load();
    } catch (const std::exception &) {
        // A damaged placement only costs the default placement.
    }

    MakePrivatePath(ProjectsFolder());
    RegisterFileAssociation(QCoreApplication::applicationFilePath());
    ApplyResizeRule();

    FProject = std::make_unique<TProject>();
    FFileList = std::make_unique<TFileList>();
    RebuildProjectMenu();
    UpdateCommands();
    FSortColumn = 2;
    FUploadAtOnce = m_arguments.size() >= 2 && !m_arguments[1].isEmpty()
                    && QStringLiteral("1:2").contains(m_arguments[1]);
}

TfrmMain::~TfrmMain()
{
    TProject::Notice = std::move(m_previousNotice);
    try {
        m_formKeeper->Save();
    } catch (const std::exception &error) {
        // Losing the placement must not stop the window from closing; the window is gone, so
        // the reason goes to standard error.
        qWarning("%s", error.what());
    }
    // A running operation must hand back the file list and the project before they go, and
    // its worker may be waiting on this thread: abort it and serve the event loop meanwhile.
    QElapsedTimer waited;
    waited.start();
    if (FOperator)
        FOperator->Abort();
    while ((FOperator || findChild<TPublishOperator *>(QString(), Qt::FindDirectChildrenOnly))
           && waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    m_listModel->Clear();
    m_treeModel->Clear();
}

QAction *TfrmMain::NewAction(const char *name, const QString &text, std::function<void()> handler)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this,
            [this, handler = std::move(handler)] { Guarded(this, handler); });
    return action;
}

QAction *TfrmMain::NewAction(const char *name, const QString &text, void (TfrmMain::*handler)())
{
    return NewAction(name, text, [this, handler] { (this->*handler)(); });
}

void TfrmMain::CreateActions()
{
    miNew = NewAction("miNew", QStringLiteral("&New"), &TfrmMain::miNewClick);
    miOrganize
        = NewAction("miOrganize", QStringLiteral("&Organize Projects"), &TfrmMain::miOrganizeClick);
    miExit = NewAction("miExit", QStringLiteral("E&xit"), [this] { close(); });

    mimSetAsNeedUpload = NewAction("mimSetAsNeedUpload", QStringLiteral("Mark for &Upload"),
                                   &TfrmMain::miSetAsNeedUpdateClick);
    mimSetAsSynchronous = NewAction("mimSetAsSynchronous", QStringLiteral("Mark as &Synchronous"),
                                    &TfrmMain::miSetAsSynchronousClick);
    miSelectAll
        = NewAction("miSelectAll", QStringLiteral("Select &All"), &TfrmMain::miSelectAllClick);
    miSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    miInvertSelection = NewAction("miInvertSelection", QStringLiteral("&Invert Selection"),
                                  &TfrmMain::miInvertSelectionClick);

    miViewSyncFiles = NewAction("miViewSyncFiles", QStringLiteral("&Synchronous Files"),
                                &TfrmMain::miViewSyncFilesClick);
    miViewSyncFiles->setCheckable(true);
    miRefresh = NewAction("miRefresh", QStringLiteral("&Refresh"), &TfrmMain::sbRefreshClick);
    miRefresh->setShortcut(QKeySequence(Qt::Key_F5));

    struct TArrange
    {
        QAction *&Action;
        const char *Name;
        const char *Text;
        int Tag;
    };
    for (const TArrange &arrange :
         {TArrange{miArrangeByName, "miArrangeByName", "&Name", 1},
          TArrange{miArrangeByLocalDate, "miArrangeByLocalDate", "&Status", 2},
          TArrange{miArrangeByRemoteDate, "miArrangeByRemoteDate", "Si&ze", 3},
          TArrange{miArrangeByAction, "miArrangeByAction", "&Date", 4}}) {
        const int tag = arrange.Tag;
        arrange.Action = NewAction(arrange.Name, QString::fromLatin1(arrange.Text),
                                   [this, tag] { miArrangeClick(tag); });
        arrange.Action->setData(tag);
    }

    miUpload = NewAction("miUpload", QStringLiteral("&Upload"), &TfrmMain::miUploadClick);
    miUpload->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    miDownload = NewAction("miDownload", QStringLiteral("&Download Server Files..."),
                           &TfrmMain::miDownloadClick);
    miRemove = NewAction("miRemove", QStringLiteral("&Remove Server Files..."),
                         &TfrmMain::miRemoveClick);
    miCompare
        = NewAction("miCompare", QStringLiteral("&Compare"), &TfrmMain::miRefreshWithoutCacheClick);
    miProjectOptions = NewAction("miProjectOptions", QStringLiteral("Project Options..."),
                                 &TfrmMain::miProjectOptionsClick);
    miAsciiFiles
        = NewAction("miAsciiFiles", QStringLiteral("ASCII Files..."), &TfrmMain::miAsciiFilesClick);
    miExecFiles = NewAction("miExecFiles", QStringLiteral("Executable Files..."),
                            &TfrmMain::miExecFilesClick);
    miSounds
        = NewAction("miSounds", QStringLiteral("Sounds..."), [this] { EditAlertSounds(this); });
    miFirewall = NewAction("miFirewall", QStringLiteral("Firewall Settings..."),
                           [this] { EditFirewallSettings(this); });
    miHelpTopics
        = NewAction("miHelpTopics", QStringLiteral("&Help Topics"), &TfrmMain::miHelpTopicsClick);
    miHelpTopics->setShortcut(QKeySequence::HelpContents);
    miAbout = NewAction("miAbout", QStringLiteral("&About"), [this] { ShowAbout(this); });

    miSetAsNeedUpdate = NewAction("miSetAsNeedUpdate", QStringLiteral("Mark for &Upload"),
                                  &TfrmMain::miSetAsNeedUpdateClick);
    miSetAsSynchronous = NewAction("miSetAsSynchronous", QStringLiteral("Mark as &Synchronous"),
                                   &TfrmMain::miSetAsSynchronousClick);
    miSelectAllRows
        = NewAction("miSelectAllRows", QStringLiteral("Select &All"), &TfrmMain::miSelectAllClick);
    miRefreshList
        = NewAction("miRefreshList", QStringLiteral("&Refresh"), &TfrmMain::sbRefreshClick);

    miFolderUpload = NewAction("miFolderUpload", QStringLiteral("Mark for &Upload"),
                               [this] { MarkFolder(FPopupFolder, false); });
    miFolderSync = NewAction("miFolderSync", QStringLiteral("Mark as &Synchronous"),
                             [this] { MarkFolder(FPopupFolder, true); });
    miBrowseFolder = NewAction("miBrowseFolder", QStringLiteral("Browse Folder"), [this] {
        if (FPopupFolder)
            QDesktopServices::openUrl(QUrl::fromLocalFile(FPopupFolder->GetLocalPath()));
    });
    miFolderProperties = NewAction("miFolderProperties", QStringLiteral("Properties"), [this] {
        if (FPopupFolder)
            ShowFolderProperties(*FPopupFolder, this);
    });
}

void TfrmMain::CreateMenus()
{
    miProject = menuBar()->addMenu(QStringLiteral("&Project"));
    miProject->setObjectName(QStringLiteral("miProject"));
    miProject->addAction(miNew);
    miProject->addSeparator();
    miProject->addAction(miOrganize);
    miProjectListEnd = miProject->addSeparator();
    miProject->addAction(miExit);
    connect(miProject, &QMenu::aboutToShow, this, &TfrmMain::RebuildProjectMenu);

    miEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    miEdit->setObjectName(QStringLiteral("miEdit"));
    miEdit->addActions({mimSetAsNeedUpload, mimSetAsSynchronous});
    miEdit->addSeparator();
    miEdit->addActions({miSelectAll, miInvertSelection});

    miView = menuBar()->addMenu(QStringLiteral("&View"));
    miView->setObjectName(QStringLiteral("miView"));
    miView->addAction(miViewSyncFiles);
    miView->addSeparator();
    miArrangeMain = miView->addMenu(QStringLiteral("Arra&nge by"));
    miArrangeMain->setObjectName(QStringLiteral("miArrangeMain"));
    miArrangeMain->addActions(
        {miArrangeByName, miArrangeByLocalDate, miArrangeByRemoteDate, miArrangeByAction});
    miView->addSeparator();
    miView->addAction(miRefresh);

    miTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    miTools->setObjectName(QStringLiteral("miTools"));
    miTools->addAction(miUpload);
    miTools->addSeparator();
    miTools->addActions({miDownload, miRemove});
    miTools->addSeparator();
    miTools->addAction(miCompare);
    miTools->addSeparator();
    miTools->addAction(miProjectOptions);
    QMenu *options = miTools->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("miOptions"));
    options->addActions({miAsciiFiles, miExecFiles, miSounds, miFirewall});

    miHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    miHelp->setObjectName(QStringLiteral("miHelp"));
    miHelp->addAction(miHelpTopics);
    miHelp->addSeparator();
    miHelp->addAction(miAbout);

    ppmFileList = new QMenu(this);
    ppmFileList->setObjectName(QStringLiteral("ppmFileList"));
    ppmFileList->addActions({miSetAsNeedUpdate, miSetAsSynchronous});
    ppmFileList->addSeparator();
    ppmFileList->addAction(miSelectAllRows);
    ppmFileList->addSeparator();
    miArrange = ppmFileList->addMenu(QStringLiteral("Arra&nge by"));
    miArrange->setObjectName(QStringLiteral("miArrange"));
    ppmFileList->addSeparator();
    ppmFileList->addAction(miRefreshList);
    connect(ppmFileList, &QMenu::aboutToShow, this, [this] {
        miArrange->clear();
        miArrange->addActions(miArrangeMain->actions());
        const bool selected = lvwFiles->selectionModel()->hasSelection();
        miSetAsNeedUpdate->setVisible(selected);
        miSetAsSynchronous->setVisible(selected);
    });

    ppmFolders = new QMenu(this);
    ppmFolders->setObjectName(QStringLiteral("ppmFolders"));
    ppmFolders->addActions({miFolderUpload, miFolderSync});
    ppmFolders->addSeparator();
    ppmFolders->addAction(miBrowseFolder);
    ppmFolders->addSeparator();
    ppmFolders->addAction(miFolderProperties);
}

void TfrmMain::CreateToolBar()
{
    pnlTools = new QWidget(this);
    pnlTools->setObjectName(QStringLiteral("pnlTools"));
    auto *layout = new QHBoxLayout(pnlTools);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    auto button = [this, layout](const char *name, const QString &hint, const QString &icon,
                                 QStyle::StandardPixmap fallback) {
        auto *b = new QToolButton(pnlTools);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setAccessibleName(hint);
        b->setIcon(ThemeIcon(icon, fallback));
        b->setIconSize(QSize(22, 22));
        b->setFixedSize(32, 30);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
        return b;
    };
    auto separator = [this, layout] {
        auto *line = new QFrame(pnlTools);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        layout->addSpacing(3);
        layout->addWidget(line);
        layout->addSpacing(3);
    };
    sbNew = button("sbNew", QStringLiteral("New project"), QStringLiteral("document-new"),
                   QStyle::SP_FileIcon);
    sbOptions = button("sbOptions", QStringLiteral("Edit project options"),
                       QStringLiteral("document-properties"), QStyle::SP_FileDialogDetailedView);
    separator();
    sbUpload
        = button("sbUpload", QStringLiteral("Upload"), QStringLiteral("go-up"), QStyle::SP_ArrowUp);
    sbAbort = button("sbAbort", QStringLiteral("Abort"), QStringLiteral("process-stop"),
                     QStyle::SP_BrowserStop);
    sbRefresh = button("sbRefresh", QStringLiteral("Refresh"), QStringLiteral("view-refresh"),
                       QStyle::SP_BrowserReload);
    separator();
    sbOpenInExplorer = button("sbOpenInExplorer", QStringLiteral("Browse the local folder"),
                              QStringLiteral("folder-open"), QStyle::SP_DirOpenIcon);
    sbBrowseServer = button("sbBrowseServer", QStringLiteral("Browse the server folder"),
                            QStringLiteral("folder-remote"), QStyle::SP_DriveNetIcon);
    cbxFilter = new QComboBox(pnlTools);
    cbxFilter->setObjectName(QStringLiteral("cbxFilter"));
    cbxFilter->setToolTip(QStringLiteral("View filter"));
    cbxFilter->setEditable(true);
    cbxFilter->setFixedWidth(200);
    cbxFilter->setEditText(QStringLiteral("*"));
    cbxFilter->hide();
    layout->addWidget(cbxFilter);
    layout->addStretch(1);
    pnlTools->setFixedHeight(36);

    connect(sbNew, &QToolButton::clicked, miNew, &QAction::trigger);
    connect(sbOptions, &QToolButton::clicked, miProjectOptions, &QAction::trigger);
    connect(sbUpload, &QToolButton::clicked, miUpload, &QAction::trigger);
    connect(sbAbort, &QToolButton::clicked, this, &TfrmMain::sbAbortClick);
    connect(sbRefresh, &QToolButton::clicked, miRefresh, &QAction::trigger);
    connect(sbOpenInExplorer, &QToolButton::clicked, this, &TfrmMain::sbOpenInExplorerClick);
    connect(sbBrowseServer, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { sbBrowseServerClick(); }); });
    connect(cbxFilter, &QComboBox::editTextChanged, this, [this] {
        if (!Running() && FProject->Opened)
            RebuildViews();
    });
}

void TfrmMain::CreatePages()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(pnlTools);

    PageControl = new QTabWidget(central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true);
    tstFiles = new QWidget;
    tstFiles->setObjectName(QStringLiteral("tstFiles"));
    tstLog = new QWidget;
    tstLog->setObjectName(QStringLiteral("tstLog"));
    PageControl->addTab(tstFiles, QStringLiteral("File View"));
    PageControl->addTab(tstLog, QStringLiteral("Log View"));
    layout->addWidget(PageControl, 1);

    splFiles = new QSplitter(Qt::Horizontal, tstFiles);
    splFiles->setObjectName(QStringLiteral("splFiles"));
    splFiles->setHandleWidth(3);
    splFiles->setChildrenCollapsible(false);
    tvwFolders = new QTreeView(splFiles);
    tvwFolders->setObjectName(QStringLiteral("tvwFolders"));
    tvwFolders->setModel(m_treeModel);
    tvwFolders->setHeaderHidden(true);
    tvwFolders->setIndentation(19);
    tvwFolders->setRootIsDecorated(true);
    tvwFolders->setUniformRowHeights(true);
    tvwFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvwFolders->setContextMenuPolicy(Qt::CustomContextMenu);
    tvwFolders->setMinimumWidth(100);
    lvwFiles = new TFileListView(splFiles);
    lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    lvwFiles->setModel(m_listModel);
    lvwFiles->setRootIsDecorated(false);
    lvwFiles->setItemsExpandable(false);
    lvwFiles->setUniformRowHeights(true);
    lvwFiles->setAllColumnsShowFocus(true);
    lvwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    lvwFiles->setMinimumWidth(100);
    QHeaderView *header = lvwFiles->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSectionsMovable(false);
    header->setMinimumSectionSize(50);
    header->resizeSection(TFileListModel::colName, 100);
    // Wide enough for the icon and "Need Upload" in the desktop's font; it keeps this width.
    header->resizeSection(
        TFileListModel::colStatus,
        std::max(90, lvwFiles->fontMetrics().horizontalAdvance(QStringLiteral("Need Upload")) + 16
                         + 3 + 16));
    header->resizeSection(TFileListModel::colSize, 70);
    header->resizeSection(TFileListModel::colModified, 100);
    splFiles->addWidget(tvwFolders);
    splFiles->addWidget(lvwFiles);
    splFiles->setStretchFactor(0, 0);
    splFiles->setStretchFactor(1, 1);
    splFiles->setSizes({191, 560});
    auto *filesLayout = new QVBoxLayout(tstFiles);
    filesLayout->setContentsMargins(0, 0, 0, 0);
    filesLayout->addWidget(splFiles);

    retLog = new QPlainTextEdit(tstLog);
    retLog->setObjectName(QStringLiteral("retLog"));
    retLog->setReadOnly(true);
    retLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    retLog->setContextMenuPolicy(Qt::CustomContextMenu);
    retLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto *logLayout = new QVBoxLayout(tstLog);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(retLog);

    ppmLog = new QMenu(this);
    ppmLog->setObjectName(QStringLiteral("ppmLog"));
    miClearLog = ppmLog->addAction(QStringLiteral("Clear"));
    miClearLog->setObjectName(QStringLiteral("miClearLog"));
    ppmLog->addSeparator();
    miCopyLog = ppmLog->addAction(QStringLiteral("Copy"));
    miCopyLog->setObjectName(QStringLiteral("miCopyLog"));
    miCopyLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    miCopyLog->setShortcutContext(Qt::WidgetShortcut);
    ppmLog->addSeparator();
    miSelectAllLog = ppmLog->addAction(QStringLiteral("Select All"));
    miSelectAllLog->setObjectName(QStringLiteral("miSelectAllLog"));
    miSelectAllLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    miSelectAllLog->setShortcutContext(Qt::WidgetShortcut);
    connect(miClearLog, &QAction::triggered, this, [this] {
        retLog->clear();
        m_logEmpty = true;
        FLogTailLength = -1;
    });
    connect(miCopyLog, &QAction::triggered, retLog, &QPlainTextEdit::copy);
    connect(miSelectAllLog, &QAction::triggered, retLog, &QPlainTextEdit::selectAll);
    connect(retLog, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        ppmLog->popup(retLog->viewport()->mapToGlobal(position));
    });

    auto *status = new QWidget(central);
    status->setObjectName(QStringLiteral("pnlStatus"));
    auto *statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    pnlStat = new QLabel(status);
    pnlStat->setObjectName(QStringLiteral("pnlStat"));
    pnlStat->setFrameShape(QFrame::StyledPanel);
    pnlStat->setFrameShadow(QFrame::Sunken);
    pnlStat->setMinimumWidth(1);
    pnlStat->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pgbUpload = new QProgressBar(status);
    pgbUpload->setObjectName(QStringLiteral("pgbUpload"));
    pgbUpload->setRange(0, 100);
    pgbUpload->setValue(0);
    pgbUpload->setTextVisible(false);
    pgbUpload->setFixedWidth(100);
    statusLayout->addWidget(pnlStat, 1);
    statusLayout->addWidget(pgbUpload);
    layout->addWidget(status);
    setCentralWidget(central);

    connect(tvwFolders->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!FTreeUpdating)
            tvwFoldersChange();
    });
    connect(header, &QHeaderView::sectionClicked, this, &TfrmMain::lvwFilesColumnClick);
    connect(lvwFiles, &TFileListView::StatusIconClicked, this, [this](const QModelIndex &index) {
        if (Running())
            return;
        Guarded(this, [&] { MarkRows(!m_listModel->Item(index.row())->Synchronous); });
    });
    connect(lvwFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::ShowFileListMenu);
    connect(tvwFolders, &QWidget::customContextMenuRequested, this, &TfrmMain::ShowFolderMenu);
}

// ---- start-up, projects, title ------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    // After the window has painted once.
    QTimer::singleShot(0, this, [this] { Guarded(this, [this] { FormActivate(); }); });
}

void TfrmMain::FormActivate()
{
    const QString path = GetDefaultProject();
    if (!path.isEmpty() && QFileInfo(path).isFile())
        OpenProject(path);
    else
        miNewClick();
}

void TfrmMain::OpenProject(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("File \"%1\" not found").arg(path));
        return;
    }
    // Another window or a zandrel-cli run on the project would undo this window's uploads and
    // records: the project stays closed here, and the one open before stays open.
    TProjectLock lock;
    QString refusal;
    if (!m_projectLock.Holds(path) && !lock.Lock(path, refusal)) {
        if (FUploadAtOnce && m_arguments.value(1) == QLatin1String("2")) {
            std::fputs(qPrintable(refusal + QLatin1Char('\n')), stderr);
            m_exitCode = 1;
            QMetaObject::invokeMethod(this, &TfrmMain::QuitAfterUpload, Qt::QueuedConnection);
            return;
        }
        QMessageBox::warning(this, QStringLiteral("Zandrel"), refusal);
        return;
    }
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct TRestore
        {
            ~TRestore() { QApplication::restoreOverrideCursor(); }
        } restore;
        FProject->Load(path);
        FProject->Opened = true;
        if (lock.Locked())
            m_projectLock = std::move(lock);
        UpdateCommands();
        UpdateTitle();
    }
    PageControl->setCurrentWidget(FUploadAtOnce ? tstLog : tstFiles);
    StartOperation(FUploadAtOnce ? pkUpload : pkRefresh);
}

bool TfrmMain::SaveProject(bool onlyIfExists, bool inLog)
{
    bool saved = true;
    try {
        FProject->Save(onlyIfExists);
    } catch (const std::exception &error) {
        saved = false;
        if (inLog)
            AddLogLine(1, QString::fromUtf8(error.what()));
        else
            QMessageBox::critical(this, QStringLiteral("Zandrel"), QString::fromUtf8(error.what()));
    }
    RebuildProjectMenu();
    UpdateTitle();
    return saved;
}

void TfrmMain::UpdateTitle()
{
    if (!FProject->Opened)
        return;
    QString caption = FProject->FileName.isEmpty()
                          ? QStringLiteral("Zandrel")
                          : QStringLiteral("Zandrel - ") + ProjectTitle(FProject->FileName);
    caption += QStringLiteral(" - ") + FProject->GetLocalPath() + QStringLiteral(" --> ")
               + FProject->GetUrl();
    setWindowTitle(caption);
    miViewSyncFiles->setChecked(FProject->Nodes(QStringLiteral("ViewSyncFiles"))->AsBoolean());
}

void TfrmMain::RebuildProjectMenu()
{
    for (QAction *item : std::as_const(m_projectItems)) {
        miProject->removeAction(item);
        item->deleteLater();
    }
    m_projectItems.clear();
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    miProject->insertAction(miProjectListEnd, separator);
    m_projectItems.append(separator);
    int number = 0;
    for (const QString &file : SortedProjectFiles()) {
        auto *item
            = new QAction(QStringLiteral("&%1 %2").arg(++number).arg(ProjectTitle(file)), this);
        item->setObjectName(QStringLiteral("miProjectFile%1").arg(number));
        item->setData(file);
        item->setCheckable(true);
        item->setChecked(
            file.compare(FProject ? FProject->FileName : QString(), Qt::CaseInsensitive) == 0);
        connect(item, &QAction::triggered, this, [this, file] {
            Guarded(this, [&] {
                SaveProject(true);
                OpenProject(file);
            });
        });
        miProject->insertAction(miProjectListEnd, item);
        m_projectItems.append(item);
    }
}

void TfrmMain::UpdateCommands()
{
    const bool opened = FProject && FProject->Opened;
    const bool running = Running();
    sbNew->setEnabled(!running);
    miProject->setEnabled(!running);
    miProject->menuAction()->setEnabled(!running);
    for (QWidget *w : {static_cast<QWidget *>(sbUpload), static_cast<QWidget *>(sbRefresh),
                       static_cast<QWidget *>(sbOptions)})
        w->setEnabled(opened && !running);
    for (QAction *a :
         {miUpload, miRefreshList, miRefresh, miDownload, miRemove, miCompare, miProjectOptions})
        a->setEnabled(opened && !running);
    for (QMenu *menu : {miEdit, miView, miTools}) {
        menu->menuAction()->setEnabled(opened && !running);
        menu->menuAction()->setVisible(opened);
    }
    sbAbort->setEnabled(running);
    sbOpenInExplorer->setEnabled(opened);
    sbBrowseServer->setEnabled(opened);
    cbxFilter->setEnabled(!running);
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (FOperator) {
        if (!m_closeWhenEnded
            && QMessageBox::question(this, QStringLiteral("Zandrel"),
                                     QStringLiteral("Operation is not completed. Abort ?"),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        // The window closes once the operation has handed back the file list and project.
        m_closeWhenEnded = true;
        FOperator->Abort();
        event->ignore();
        return;
    }
    SaveProject(true);
    try {
        SetDefaultProject(FProject->FileName);
    } catch (const std::exception &) {
        // The next start then opens the previous default; nothing is lost.
    }
    event->accept();
}

void TfrmMain::AbortAndClose()
{
    if (FOperator) {
        m_closeWhenEnded = true;
        FOperator->Abort();
        return;
    }
    close();
}

void TfrmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    ApplyResizeRule();
}

void TfrmMain::ApplyResizeRule()
{
    const int available = tstFiles->width() - 100;
    if (available > 0 && available < tvwFolders->width())
        splFiles->setSizes({available, tstFiles->width() - available});
}

// ---- commands -----------------------------------------------------------------------------

void TfrmMain::miNewClick()
{
    SaveProject(true);
    auto project = std::make_unique<TProject>();
    project->Clear();
    project->InitDefaults();
    TfrmOptions dialog(this);
    if (dialog.Execute(*project)) {
        m_listModel->Clear();
        m_treeModel->Clear();
        FProject = std::move(project);
        FProject->Opened = true;
        SaveProject(false);
        QString refusal;
        if (!FProject->FileName.isEmpty() && !m_projectLock.Lock(FProject->FileName, refusal)) {
            // Saved, but not to be published from here without the lock.
            QMessageBox::warning(this, QStringLiteral("Zandrel"), refusal);
            FProject->Opened = false;
            UpdateCommands();
            return;
        }
        UpdateTitle();
        UpdateCommands();
        StartOperation(pkRefresh);
        return;
    }
    UpdateCommands();
}

void TfrmMain::miOrganizeClick()
{
    OrganizeProjects(FProject->FileName, this);
    RebuildProjectMenu();
}

void TfrmMain::miProjectOptionsClick()
{
    TfrmOptions dialog(this);
    if (dialog.Execute(*FProject)) {
        UpdateTitle();
        StartOperation(pkRefresh);
    }
}

void TfrmMain::miAsciiFilesClick()
{
    TSettings settings;
    if (EditMasks(settings.TextFiles, this, QStringLiteral("ASCII Files")))
        SaveSettingsOrSay(settings, this);
}

void TfrmMain::miExecFilesClick()
{
    TSettings settings;
    if (EditMasks(settings.ExecFiles, this, QStringLiteral("Executable Files")))
        SaveSettingsOrSay(settings, this);
}

void TfrmMain::miUploadClick()
{
    StartOperation(pkUpload);
}

void TfrmMain::sbRefreshClick()
{
    StartOperation(pkRefresh);
}

void TfrmMain::miRefreshWithoutCacheClick()
{
    retLog->clear();
    m_logEmpty = true;
    FLogTailLength = -1;
    StartOperation(pkCompare);
}

void TfrmMain::miDownloadClick()
{
    StartOperation(pkDownload);
}

void TfrmMain::miRemoveClick()
{
    StartOperation(pkRemove);
}

void TfrmMain::sbAbortClick()
{
    sbAbort->setEnabled(false);
    FUploadAtOnce = false;
    if (FOperator)
        FOperator->Abort();
}

void TfrmMain::sbOpenInExplorerClick()
{
    const QString path = FProject->Nodes(QStringLiteral("Path"))->Value;
    if (!path.isEmpty() && QFileInfo(path).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    else
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("Invalid source path"));
}

void TfrmMain::sbBrowseServerClick()
{
    SaveProject(false);
    if (!FProject->AskPassword())
        return;
    // The password goes to the child on its standard input: a command line is public.
    const bool started
        = StartWithSecretOnStdin(ProgramFile, {FProject->FileName, QStringLiteral("FTPWindow")},
                                 FProject->GetPassword(), m_projectLock.Descriptor());
    if (!started)
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("The FTP window could not be started"));
}

QString TfrmMain::ManualPath()
{
    const QString installed = QCoreApplication::applicationDirPath()
                              + QStringLiteral("/../share/doc/zandrel/manual/index.html");
    if (QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
#ifdef ZANDREL_MANUAL_SOURCE
    if (QFileInfo::exists(QStringLiteral(ZANDREL_MANUAL_SOURCE)))
        return QStringLiteral(ZANDREL_MANUAL_SOURCE);
#endif
    return {};
}

void TfrmMain::miHelpTopicsClick()
{
    const QString manual = ManualPath();
    if (manual.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(manual)))
        QMessageBox::warning(this, QStringLiteral("Zandrel"),
                             QStringLiteral("The manual could not be opened"));
}

// ---- operations ---------------------------------------------------------------------------

void TfrmMain::ResetFilter()
{
    const QSignalBlocker blocker(cbxFilter);
    cbxFilter->clear();
    cbxFilter->addItem(QStringLiteral("*"));
    cbxFilter->setEditText(QStringLiteral("*"));
}

void TfrmMain::AddFolderFilters()
{
    const QSignalBlocker blocker(cbxFilter);
    for (int i = 0; i < FFileList->Count(); ++i) {
        const TFileListItem *item = FFileList->Items(i);
        if (item->IsFolder)
            cbxFilter->addItem(IncludeTrailingBackslash(item->RelativeName) + u'*');
    }
}

void TfrmMain::StartOperation(quint8 kind)
{
    // Nothing new starts while the window waits for an aborted operation to close.
    if (FOperator || !FProject->Opened || m_closeWhenEnded)
        return;
    if (kind >= pkCompare && !FProject->AskPassword())
        return;
    if (kind == pkRefresh || kind == pkCompare)
        ResetFilter();
    if (kind == pkRefresh || kind == pkCompare || kind == pkUpload)
        FSortColumn = 2;
    if (kind >= pkRemove) {
        retLog->clear();
        m_logEmpty = true;
        FLogTailLength = -1;
    }
    FOperator = new TPublishOperator(FFileList.get(), kind, FProject.get(), this, this);
    // Records reach the project file as the run goes (a project with a file only); the end
    // of the operation saves it as well.
    FOperator->SaveRecordsAsItGoes = true;
    FLastThread = nullptr;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    UpdateCommands();
    if (kind != pkRefresh && PageControl->currentWidget() != tstLog)
        PageControl->setCurrentWidget(tstLog);
    FOperator->start();
}

void TfrmMain::LogLine(int level, const QString &text)
{
    AddLogLine(level, text);
}

void TfrmMain::SetProgress(int percent)
{
    pgbUpload->setValue(percent);
}

void TfrmMain::SetStatusText(const QString &text)
{
    pnlStat->setText(u' ' + text);
}

void TfrmMain::AppendLogText(const QString &text)
{
    AppendLogTextToLog(text);
}

void TfrmMain::ClearView(TPublishOperator *)
{
    ClearViews();
}

void TfrmMain::FillView(TPublishOperator *)
{
    RebuildViews();
}

void TfrmMain::ItemChanged(TFileListItem *item)
{
    UpdateItemView(item);
}

bool TfrmMain::TrustCertificate(const TCertificateInfo &certificate)
{
    return AskTrustCertificate(certificate, QStringLiteral("this project"), this);
}

bool TfrmMain::AllowPlainLogin(const QString &text)
{
    return AskPlainLogin(text, this);
}

int TfrmMain::Ask(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Zandrel"), text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::YesToAll
                        | QMessageBox::NoToAll,
                    this);
    box.setDefaultButton(QMessageBox::No); // Enter must never delete or overwrite
    switch (box.exec()) {
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    case QMessageBox::YesToAll:
        return mrYesToAll;
    case QMessageBox::NoToAll:
        return mrNoToAll;
    default:
        return mrCancel;
    }
}

void TfrmMain::OperationEnd(TPublishOperator *sender)
{
    try {
        switch (sender->Kind) {
        case pkRefresh:
        case pkCompare:
            RefreshEnded(sender);
            break;
        case pkUpload:
            UploadEnded(sender);
            break;
        case pkRemove:
            EndOperation(sender, true);
            break;
        case pkDownload:
            EndOperation(sender, true);
            StartOperation(pkRefresh);
            break;
        default:
            EndOperation(sender, true);
        }
    } catch (const std::exception &error) {
        AddLogLine(1, QString::fromUtf8(error.what()));
    }
    emit OperationFinished(sender->Kind);
    if (m_closeWhenEnded && !FOperator)
        QTimer::singleShot(0, this, &QWidget::close);
}

void TfrmMain::EndOperation(TPublishOperator *sender, bool reportErrors)
{
    // Notifications sent before the end were queued before it, so they are shown already.
    const quint8 kind = sender->Kind;
    const bool aborted = sender->Aborted;
    const bool hadErrors = sender->HadErrors;
    if (kind != pkRefresh && !aborted && sender->Settings.SoundEnabled)
        PlayAlertSound(sender->Settings.CompleteSound);
    // The records are saved before the end lines: an operation whose records are lost has
    // not completed successfully.
    m_saveFailed = !SaveProject(false, true);
    if (aborted)
        AddLogLine(1, QStringLiteral("Operation was aborted by user"));
    if (kind != pkRefresh && !aborted && !hadErrors && !m_saveFailed)
        AddLogLine(2, QStringLiteral("Operation was successfully completed"));
    if (reportErrors && (hadErrors || m_saveFailed) && !aborted)
        AddLogLine(1, QStringLiteral("Operation was completed with errors"));
    FLastThread = sender;
    FOperator = nullptr;
    UpdateCommands();
    UpdateStatistics();
    pgbUpload->setValue(0);
    QApplication::restoreOverrideCursor();
    if (!FUploadAtOnce && !QApplication::activeWindow())
        QApplication::alert(this);
}

void TfrmMain::RefreshEnded(TPublishOperator *sender)
{
    EndOperation(sender, false);
    AddFolderFilters();
}

void TfrmMain::UploadEnded(TPublishOperator *sender)
{
    const bool aborted = sender->Aborted;
    const bool hadErrors = sender->HadErrors;
    EndOperation(sender, true);
    if (FUploadAtOnce && !aborted && m_arguments.size() >= 2
        && m_arguments[1] == QLatin1String("2")) {
        m_exitCode = hadErrors || m_saveFailed ? 1 : 0;
        QMetaObject::invokeMethod(this, &TfrmMain::QuitAfterUpload, Qt::QueuedConnection);
        return;
    }
    if (aborted)
        StartOperation(pkRefresh);
    SortFileList();
    FUploadAtOnce = false;
}

void TfrmMain::QuitAfterUpload()
{
    if (FLastThread)
        FLastThread->wait(QDeadlineTimer(5000));
    QCoreApplication::exit(m_exitCode);
}

// ---- log ----------------------------------------------------------------------------------

namespace {

// Cuts the document's last line back to its first `length` characters.
void CutLastLine(QTextDocument *document, int length)
{
    const QTextBlock last = document->lastBlock();
    if (last.length() - 1 <= length)
        return;
    QTextCursor cursor(document);
    cursor.setPosition(last.position() + length);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

} // namespace

void TfrmMain::AddLogLine(int kind, const QString &text)
{
    QTextDocument *document = retLog->document();
    if (FLogTailLength > 0)
        CutLastLine(document, FLogTailLength);
    FLogTailLength = -1;
    QScrollBar *scroll = retLog->verticalScrollBar();
    const bool atEnd = scroll->value() >= scroll->maximum();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(LogColour(kind));
    if (!m_logEmpty)
        cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(text, format);
    m_logEmpty = false;
    if (atEnd)
        scroll->setValue(scroll->maximum());
}

void TfrmMain::AppendLogTextToLog(const QString &text)
{
    QTextDocument *document = retLog->document();
    if (FLogTailLength >= 0)
        CutLastLine(document, FLogTailLength);
    else
        FLogTailLength = document->lastBlock().length() - 1;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    m_logEmpty = false;
}

// ---- file view ----------------------------------------------------------------------------

void TfrmMain::ClearViews()
{
    FPopupFolder = nullptr; // points into the file list, which is about to change
    m_syncChildrenFrom.clear();
    m_listModel->Clear();
    if (const TFileListItem *selected = m_treeModel->Item(tvwFolders->currentIndex()))
        FSelectedFolder = selected->RelativeName;
    FTreeUpdating = true;
    m_treeModel->Clear();
    FTreeUpdating = false;
}

void TfrmMain::RebuildViews()
{
    if (cbxFilter->currentText().isEmpty()) {
        const QSignalBlocker blocker(cbxFilter);
        cbxFilter->setEditText(QStringLiteral("*"));
    }
    ClearViews();
    BuildFolderTree();
    FillFileList();
}

void TfrmMain::BuildFolderTree()
{
    const bool showSync = miViewSyncFiles->isChecked();
    // Selecting the folder below would fill the list once more; RebuildViews fills it next.
    FTreeUpdating = true;
    m_treeModel->Build(*FFileList, showSync);
    const QModelIndex root = m_treeModel->index(0, 0);
    tvwFolders->expand(root);
    QModelIndex selected;
    if (!FSelectedFolder.isEmpty())
        selected = m_treeModel->Find(FSelectedFolder);
    if (!selected.isValid())
        selected = root;
    if (selected.isValid()) {
        tvwFolders->setCurrentIndex(selected);
        tvwFolders->scrollTo(selected);
    }
    FTreeUpdating = false;
}

void TfrmMain::FillFileList()
{
    QString filter = cbxFilter->currentText();
    filter.replace(u'\\', u'/');
    std::optional<TMask> mask;
    try {
        mask.emplace(FFileList->LocalRoot + filter);
    } catch (const EMaskError &) {
        mask.emplace(FFileList->LocalRoot + u'*');
    }
    const TFileListItem *folder = m_treeModel->Item(tvwFolders->currentIndex());
    m_listModel->Fill(*FFileList, folder, miViewSyncFiles->isChecked(), *mask);
    FitColumns();
    SortFileList();
}

void TfrmMain::tvwFoldersChange()
{
    FillFileList();
}

void TfrmMain::SortFileList()
{
    m_listModel->Sort(FSortColumn);
    const int column = std::abs(FSortColumn) - 1;
    lvwFiles->header()->setSortIndicator(column, FSortColumn > 0 ? Qt::AscendingOrder
                                                                 : Qt::DescendingOrder);
}

void TfrmMain::lvwFilesColumnClick(int column)
{
    FSortColumn = column + 1 == FSortColumn ? -FSortColumn : column + 1;
    SortFileList();
}

void TfrmMain::miArrangeClick(int tag)
{
    FSortColumn = tag;
    SortFileList();
}

void TfrmMain::FitColumns()
{
    QHeaderView *header = lvwFiles->header();
    const QFontMetrics metrics(lvwFiles->font());
    const QFontMetrics headerMetrics(header->font());
    // Shaping every text of a large folder costs far more than the list's own drawing; the sum
    // of cached character advances is the same width but for kerning, a pixel or two.
    std::array<int, 256> latin{};
    QHash<char16_t, int> other;
    auto advance = [&](QChar c) {
        const char16_t code = c.unicode();
        if (code < 256) {
            int &width = latin[code];
            if (width == 0)
                width = metrics.horizontalAdvance(c) + 1; // +1: a measured 0 is not re-measured
            return width - 1;
        }
        auto found = other.constFind(code);
        if (found == other.constEnd())
            found = other.insert(code, metrics.horizontalAdvance(c));
        return *found;
    };
    auto textWidth = [&](int column) {
        int widest = -1;
        const int rows = m_listModel->rowCount();
        for (int row = 0; row < rows; ++row) {
            const QString text = m_listModel->Text(row, column);
            if (text.isEmpty())
                continue;
            int width = 0;
            for (const QChar c : text)
                width += advance(c);
            widest = std::max(widest, width);
        }
        if (widest < 0)
            widest = headerMetrics.horizontalAdvance(
                m_listModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        return widest + 20;
    };
    const int name = textWidth(TFileListModel::colName) + 32;
    const int current = header->sectionSize(TFileListModel::colName);
    if (current < name || current > 2 * name)
        header->resizeSection(TFileListModel::colName, name);
    header->resizeSection(TFileListModel::colSize,
                          std::max(70, textWidth(TFileListModel::colSize)));
    header->resizeSection(TFileListModel::colModified, textWidth(TFileListModel::colModified));
}

void TfrmMain::UpdateItemView(TFileListItem *item)
{
    if (item->IsFolder) {
        m_treeModel->ItemChanged(item);
    } else {
        const int row = m_listModel->RowOf(item);
        if (row >= 0)
            m_listModel->RowChanged(row);
    }
    if (item->Parent) {
        if (!item->Synchronous)
            m_syncChildrenFrom.remove(item->Parent);
        PropagateUpward(item->Parent);
    }
}

bool TfrmMain::AllChildrenSynchronous(TFileListItem *folder)
{
    // An upload reports its files in order, so each folder's scan goes on where it stopped:
    // a folder of n files costs n steps over the whole upload, not n * n. A child that turns
    // outdated makes its folder forget its position (and a new scan forgets them all).
    size_t &from = m_syncChildrenFrom[folder];
    while (from < folder->Children.size() && folder->Children[from]->Synchronous)
        ++from;
    return from == folder->Children.size();
}

void TfrmMain::PropagateUpward(TFileListItem *folder)
{
    for (; folder; folder = folder->Parent) {
        const bool synchronous = AllChildrenSynchronous(folder);
        if (synchronous == folder->Synchronous)
            return;
        folder->Synchronous = synchronous;
        if (!synchronous)
            m_syncChildrenFrom.remove(folder->Parent);
        m_treeModel->ItemChanged(folder);
    }
}

void TfrmMain::UpdateStatistics()
{
    pnlStat->setText(u' ' + FormatStatistics(*FFileList));
    FitColumns();
}

void TfrmMain::MarkRows(bool synchronous)
{
    const QModelIndexList rows = lvwFiles->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::vector<int> ordered;
    for (const QModelIndex &index : rows)
        ordered.push_back(index.row());
    std::sort(ordered.begin(), ordered.end());
    if (!synchronous)
        m_syncChildrenFrom.clear();
    TFileListItem *parent = nullptr;
    for (int row : ordered) {
        TFileListItem *item = m_listModel->Item(row);
        FProject->Versions.FindOrAdd(item->RelativeName)->Date
            = synchronous ? GetFileAge(item->GetLocalPath()) : 0;
        item->Synchronous = synchronous;
        m_listModel->RowChanged(row);
        parent = item->Parent;
    }
    PropagateUpward(parent);
    SaveProject(false);
    UpdateStatistics();
}

void TfrmMain::MarkFolder(TFileListItem *folder, bool synchronous)
{
    if (!folder)
        return;
    if (!synchronous)
        m_syncChildrenFrom.clear();
    for (int i = 0; i < FFileList->Count(); ++i) {
        TFileListItem *item = FFileList->Items(i);
        if (item != folder && !folder->IsAncestorOf(item))
            continue;
        item->Synchronous = synchronous;
        if (!synchronous) {
            if (!item->IsFolder || item->Children.empty())
                FProject->Versions.FindOrAdd(item->RelativeName)->Date = 0;
        } else {
            FProject->Versions.FindOrAdd(item->RelativeName)->Date
                = item->IsFolder ? 1 : GetFileAge(item->GetLocalPath());
        }
        if (item->IsFolder)
            m_treeModel->ItemChanged(item);
    }
    m_listModel->AllRowsChanged();
    if (folder->Parent)
        PropagateUpward(folder->Parent);
    SaveProject(false);
    UpdateStatistics();
}

void TfrmMain::miSetAsNeedUpdateClick()
{
    if (tvwFolders->hasFocus() && tvwFolders->currentIndex().isValid())
        MarkFolder(m_treeModel->Item(tvwFolders->currentIndex()), false);
    else
        MarkRows(false);
}

void TfrmMain::miSetAsSynchronousClick()
{
    if (tvwFolders->hasFocus() && tvwFolders->currentIndex().isValid())
        MarkFolder(m_treeModel->Item(tvwFolders->currentIndex()), true);
    else
        MarkRows(true);
}

void TfrmMain::miSelectAllClick()
{
    lvwFiles->selectAll();
}

void TfrmMain::miInvertSelectionClick()
{
    const int rows = m_listModel->rowCount();
    if (rows == 0)
        return;
    const QItemSelection all(m_listModel->index(0, 0),
                             m_listModel->index(rows - 1, TFileListModel::ColumnCount - 1));
    lvwFiles->selectionModel()->select(all, QItemSelectionModel::Toggle);
}

void TfrmMain::miViewSyncFilesClick()
{
    FProject->Nodes(QStringLiteral("ViewSyncFiles"))->SetAsBoolean(miViewSyncFiles->isChecked());
    RebuildViews();
}

bool TfrmMain::PopupsAllowed() const
{
    return FProject->Opened && !Running();
}

void TfrmMain::ShowFileListMenu(const QPoint &position)
{
    if (PopupsAllowed())
        ppmFileList->popup(lvwFiles->viewport()->mapToGlobal(position));
}

void TfrmMain::ShowFolderMenu(const QPoint &position)
{
    if (!PopupsAllowed())
        return;
    const QModelIndex index = tvwFolders->indexAt(position);
    if (index.isValid())
        tvwFolders->setCurrentIndex(index);
    FPopupFolder = m_treeModel->Item(tvwFolders->currentIndex());
    ppmFolders->popup(tvwFolders->viewport()->mapToGlobal(position));
}
