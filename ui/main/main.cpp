#include "ui/main/main.h"

#include "engine/PublishFilter.h"
#include "store/ShellLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/Icons.h"
#include "ui/dialogs/PassDlg.h"
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
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <utility>

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
        TProject::PasswordPrompt = [](TProject &project, QString &password) {
            return AskForPassword(password, QApplication::activeWindow(), &project);
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
    // Until a placement is saved: two thirds of the screen, centred.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize first = QSize(screen.width() * 2 / 3, screen.height() * 2 / 3)
                            .expandedTo(minimumSize())
                            .boundedTo(screen.size());
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, first, screen));

    m_treeModel = new TFolderTreeModel(this);
    m_listModel = new TFileListModel(this);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreatePages();
    splFiles->setSizes({width() / 4, width() - width() / 4});

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
    miUploadOnSave = NewAction("miUploadOnSave", QStringLiteral("Upload on &save"),
                               [this] { miUploadOnSaveClick(miUploadOnSave->isChecked()); });
    miUploadOnSave->setCheckable(true);
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

    // The menu items that do what a toolbar button does wear its icon.
    for (const auto &[action, icon] : std::initializer_list<std::pair<QAction *, const char *>>{
             {miNew, "document-new"},
             {miExit, "application-exit"},
             {miSelectAll, "edit-select-all"},
             {miSelectAllRows, "edit-select-all"},
             {miRefresh, "view-refresh"},
             {miRefreshList, "view-refresh"},
             {miUpload, "cloud-upload"},
             {miUploadOnSave, "folder-sync"},
             {miDownload, "cloud-download"},
             {miRemove, "edit-delete"},
             {miProjectOptions, "document-properties"},
             {miFolderProperties, "document-properties"},
             {miBrowseFolder, "folder-open"},
             {miHelpTopics, "help-contents"},
             {miAbout, "help-about"}})
        action->setIcon(ThemeIcon(QString::fromLatin1(icon)));
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
    miTools->addActions({miUpload, miUploadOnSave});
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
    auto button = [this, layout](const char *name, const QString &hint, const QString &icon) {
        auto *b = new QToolButton(pnlTools);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setAccessibleName(hint);
        b->setIcon(ThemeIcon(icon));
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
    sbNew = button("sbNew", QStringLiteral("New project"), QStringLiteral("document-new"));
    sbOptions = button("sbOptions", QStringLiteral("Edit project options"),
                       QStringLiteral("document-properties"));
    separator();
    sbUpload = button("sbUpload", QStringLiteral("Upload"), QStringLiteral("cloud-upload"));
    sbUploadOnSave
        = button("sbUploadOnSave", QStringLiteral("Upload on save"), QStringLiteral("folder-sync"));
    sbUploadOnSave->setDefaultAction(miUploadOnSave); // pressed while checked
    sbAbort = button("sbAbort", QStringLiteral("Abort"), QStringLiteral("process-stop"));
    sbRefresh = button("sbRefresh", QStringLiteral("Refresh"), QStringLiteral("view-refresh"));
    separator();
    sbOpenInExplorer = button("sbOpenInExplorer", QStringLiteral("Browse the local folder"),
                              QStringLiteral("folder-open"));
    sbBrowseServer = button("sbBrowseServer", QStringLiteral("Browse the server folder"),
                            QStringLiteral("folder-remote"));
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
    // The launcher's "Upload" action started without a file: only the mode came through.
    if (m_arguments.size() == 1 && QStringLiteral("1:2").split(u':').contains(m_arguments[0])
        && !QFileInfo::exists(m_arguments[0])) {
        QMessageBox::information(this, QStringLiteral("Zandrel"),
                                 QStringLiteral("Upload needs a project: choose Upload on a "
                                                "project file (*.zdx) in the file manager, or "
                                                "open the project here and click Upload."));
        m_arguments.clear();
        TProject::CommandLineArguments.clear();
    }
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
        StopUploadOnSave();
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
    // A port of its own goes into the address, so two projects on one host are told apart.
    QString url = FProject->GetUrl();
    const QString port = FProject->Nodes(QStringLiteral("Port"))->AsString().trimmed();
    const bool sftp = url.startsWith(QLatin1String("sftp://"));
    if (!port.isEmpty() && port != QLatin1String(sftp ? "22" : "21"))
        url.insert(int(url.indexOf(QLatin1String("://"))) + 3
                       + FProject->Nodes(QStringLiteral("Host"))->Value.size(),
                   u':' + port);
    caption += QStringLiteral(" - ") + FProject->GetLocalPath() + QStringLiteral(" --> ") + url;
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
    miUploadOnSave->setEnabled(opened && (!running || miUploadOnSave->isChecked()));
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
    StopUploadOnSave();
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
